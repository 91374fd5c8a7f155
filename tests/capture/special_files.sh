#!/bin/sh
# tskit-capture FILE where FILE is not a regular file: refused with one line
# and status 1, nothing created, the name left as it was; a link to a
# regular file is replaced itself, its target kept.
#
#   special_files.sh SANSIM CAPTURE TOPOLOGY WORK_DIR
#
# Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
set -u
SANSIM=$1
CAPTURE=$2
TOPOLOGY=$3
WORK=$4

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi
rm -rf "$WORK"
mkdir -p "$WORK/dir"
mkfifo "$WORK/dir/fifo"
ln -s /dev/null "$WORK/dir/to-null"
echo old >"$WORK/dir/old"
ln -s old "$WORK/dir/link"

# Every run inside one host: its /dev listed before and after.
"$SANSIM" run "$TOPOLOGY" -- sh -c '
    ls -a /dev >"$1/dev.before"
    for name in /dev/stdout /dev/null "$1/dir/fifo" "$1/dir/to-null" "$1/dir/link"; do
        "$0" "$name" >>"$1/out" 2>>"$1/err"
        echo "status $?" >>"$1/out"
    done
    ls -a /dev >"$1/dev.after"' "$CAPTURE" "$WORK" >/dev/null 2>&1

failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}
cat >"$WORK/expected" <<END
Error: cannot write the capture /dev/stdout: Operation not supported.
status 1
Error: cannot write the capture /dev/null: Operation not supported.
status 1
Error: cannot write the capture $WORK/dir/fifo: Operation not supported.
status 1
Error: cannot write the capture $WORK/dir/to-null: Operation not supported.
status 1
status 0
END
cmp -s "$WORK/expected" "$WORK/out" || { fail "the lines and statuses:"; diff "$WORK/expected" "$WORK/out"; }
[ -s "$WORK/err" ] && fail "standard error is not empty"
cmp -s "$WORK/dev.before" "$WORK/dev.after" || fail "/dev changed: $(diff "$WORK/dev.before" "$WORK/dev.after")"
[ -p "$WORK/dir/fifo" ] || fail "the FIFO was replaced"
[ "$(readlink "$WORK/dir/to-null")" = /dev/null ] || fail "the link to /dev/null was replaced"
[ -f "$WORK/dir/link" ] && [ ! -L "$WORK/dir/link" ] || fail "the link to a regular file is still a link"
[ "$(cat "$WORK/dir/old")" = old ] || fail "the link's target was written"
left=$(ls -A "$WORK/dir" | tr '\n' ' ')
[ "$left" = "fifo link old to-null " ] || fail "the directory holds: $left"
if [ "$failures" != 0 ]; then
    exit 1
fi
echo "special files refused, nothing created; a link replaced, its target kept"
exit 0
