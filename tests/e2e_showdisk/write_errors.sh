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
#     a byte (a node opened in place of descriptor 1 must not get the table);
#   - with standard output a pipe whose reader is gone: status 1, not the
#     death by SIGPIPE (141);
#   - started with standard input and error closed: the writable run's
#     output and status, and no byte on a device node (a node opened read-
#     write as descriptor 2 would get whatever goes to standard error).
# FAILED_STATUS in the environment replaces 1 as the status of a failed
# write (3 for tsexTool --nagios); STDERR_LINE (an extended regular
# expression) is the one line a failed run may write on standard error
# (tskit-capture -, whose standard output is the capture itself); lines
# that match VARYING_LINES (an
# extended regular expression: times) are left out of the comparison.
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

FAILED=${FAILED_STATUS:-1}

rm -rf "$WORK"
mkdir -p "$WORK"

failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}

# check_run NAME EXPECTED_STATUS STATUS: the status, and an empty stderr
# (or, with STDERR_LINE set, one line that matches it).
check_run() {
    [ "$3" = "$2" ] || fail "$1: exit status $3, expected $2"
    if [ -n "${STDERR_LINE:-}" ] && [ "$3" != 0 ] && [ "$(wc -l <"$WORK/$1.stderr")" = 1 ] &&
        grep -q -E "$STDERR_LINE" "$WORK/$1.stderr"; then
        return
    fi
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
check_run closed "$FAILED" $?

"$SANSIM" run "$TOPOLOGY" -- "$PROGRAM" "$@" >/dev/full 2>"$WORK/full.stderr"
check_run full "$FAILED" $?

# The program's status, then every node's content, on the host's own
# standard output.
"$SANSIM" run "$TOPOLOGY" -- sh -c \
    '"$0" "$@" >&-; status=$?; cat '"$NODES"'; exit $status' "$PROGRAM" "$@" \
    >"$WORK/nodes.stdout" 2>"$WORK/nodes.stderr"
check_run nodes "$FAILED" $?
if [ -s "$WORK/nodes.stdout" ]; then
    fail "nodes: the device nodes received output"
    head -c 600 "$WORK/nodes.stdout" | sed 's/^/  node| /'
fi

# A pipe with no reader left: the FIFO is opened for reading and writing,
# then for writing, and the reading end closed before the program starts.
mkfifo "$WORK/pipe"
exec 5<>"$WORK/pipe" 6>"$WORK/pipe" 5<&-
"$SANSIM" run "$TOPOLOGY" -- "$PROGRAM" "$@" >&6 2>"$WORK/pipe.stderr"
check_run pipe "$FAILED" $?
exec 6>&-

# Standard input and error closed at start, standard output a file; then
# every node's content.
"$SANSIM" run "$TOPOLOGY" -- sh -c \
    '"$0" "$@" <&- 2>&-; status=$?; cat '"$NODES"'; exit $status' "$PROGRAM" "$@" \
    >"$WORK/held.stdout" 2>"$WORK/held.stderr"
check_run held 0 $?
for run in writable held; do
    grep -v -E "${VARYING_LINES:-^\$^}" "$WORK/$run.stdout" >"$WORK/$run.compared"
done
if ! cmp -s "$WORK/writable.compared" "$WORK/held.compared"; then
    fail "held: the output (and the nodes) differ from the writable run's"
    diff "$WORK/writable.compared" "$WORK/held.compared" | head -20 | sed 's/^/  | /'
fi

if [ "$failures" != 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "closed, full and broken-pipe standard output: status $FAILED, nothing on standard error," \
    "no node written; closed input and error: the same output"
exit 0
