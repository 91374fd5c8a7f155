#!/bin/sh
# Runs a ts_showdisk build on a simulated host whose standard output cannot
# be written, and checks that the run says so.
#
#   write_errors.sh SANSIM PROGRAM TOPOLOGY WORK_DIR NODES [ARG...]
#
# NODES: the host's device nodes as a shell pattern (e.g. '/dev/sd* /dev/dm-*').
# Checked, with the ARGs:
#   - with standard output writable the run succeeds (status 0) and prints,
#     so that the failures below come from the writes alone;
#   - with standard output closed, and with it on /dev/full: status 1 and
#     nothing on standard error;
#   - with standard output closed inside the host, no device node receives
#     a byte (a node opened in place of descriptor 1 must not get the table).
# Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
set -u

SANSIM=$1
PROGRAM=$2
TOPOLOGY=$3
WORK=$4
NODES=$5
shift 5

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi
if [ ! -c /dev/full ]; then
    echo "FAIL: this machine has no /dev/full"
    exit 1
fi

rm -rf "$WORK"
mkdir -p "$WORK"

failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}

# check_run NAME EXPECTED_STATUS STATUS: the status, and an empty stderr.
check_run() {
    [ "$3" = "$2" ] || fail "$1: exit status $3, expected $2"
    if [ -s "$WORK/$1.stderr" ]; then
        fail "$1: standard error is not empty"
        sed 's/^/  stderr| /' "$WORK/$1.stderr"
    fi
}

echo "$(basename "$PROGRAM") $*"

"$SANSIM" run "$TOPOLOGY" -- "$PROGRAM" "$@" >"$WORK/writable.stdout" 2>"$WORK/writable.stderr"
check_run writable 0 $?
[ -s "$WORK/writable.stdout" ] || fail "writable: nothing printed"

"$SANSIM" run "$TOPOLOGY" -- "$PROGRAM" "$@" >&- 2>"$WORK/closed.stderr"
check_run closed 1 $?

"$SANSIM" run "$TOPOLOGY" -- "$PROGRAM" "$@" >/dev/full 2>"$WORK/full.stderr"
check_run full 1 $?

# The program's status, then every node's content, on the host's own
# standard output.
"$SANSIM" run "$TOPOLOGY" -- sh -c \
    '"$0" "$@" >&-; status=$?; cat '"$NODES"'; exit $status' "$PROGRAM" "$@" \
    >"$WORK/nodes.stdout" 2>"$WORK/nodes.stderr"
check_run nodes 1 $?
if [ -s "$WORK/nodes.stdout" ]; then
    fail "nodes: the device nodes received output"
    head -c 600 "$WORK/nodes.stdout" | sed 's/^/  node| /'
fi

if [ "$failures" != 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "closed and full standard output: status 1, nothing on standard error, no node written"
exit 0
