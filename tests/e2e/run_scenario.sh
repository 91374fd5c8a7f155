#!/bin/sh
# Runs one scenario of a program (tsexTool or ts_showdisk) on its simulated
# host and checks it.
#
#   run_scenario.sh SANSIM PROGRAM SOURCE_DIR WORK_DIR SCENARIO_DIR OPCODES STDERR [ACCESS [FLAGS]]
#
# OPCODES: the SCSI operation codes the program may send, as an alternation
# (00|12|25|9e for tsexTool, 00|12 for ts_showdisk). STDERR: "empty" when the
# program and everything it starts must write nothing there; "sanitizer" when
# only a sanitizer report fails (the shell commands a program starts may
# complain there, as on a real host). ACCESS: how every open and command must
# reach the devices, "ro" (the default) or "rw" (a program whose pass-through
# needs a descriptor open for writing); FLAGS, when given: the open flags
# every open must carry, as the audit log writes them (e.g. 0x802).
#
# A scenario folder holds:
#   topology.json  the host, or
#   topology       one line: the host file, relative to SOURCE_DIR
#   args           the words after the program name, one per line (may be empty)
#   uid            optional: the user to run as (sansim --uid)
#   refuse         optional: "SIZE" or "SIZE:NTH", the allocation that the
#                  program's refusing test build refuses (TSKIT_REFUSE_ALLOC)
#   stdout         the whole expected standard output, byte for byte
#   status         the expected exit status
#   audit          optional: the whole expected audit log: byte for byte when
#                  the devices are queried one after another (--jobs 1), else
#                  each device's own lines in their order (devices queried
#                  side by side interleave their lines)
#
# SCENARIO_LEADING, when set in the environment, holds words put before the
# scenario's own (such as "--jobs 8"): the expected output is the same.
#
# Checked: standard output, exit status, standard error as STDERR says, and
# the audit log: only the OPCODES, every open and command as ACCESS says.
# Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
set -u

SANSIM=$1
PROGRAM=$2
SRC=$3
WORK=$4
SCENARIO=$5
OPCODES=$6
STDERR_RULE=$7
ACCESS=${8:-ro}
OPEN_FLAGS=${9:-}

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi

if [ -f "$SCENARIO/topology.json" ]; then
    TOPOLOGY=$SCENARIO/topology.json
elif [ -f "$SCENARIO/topology" ]; then
    TOPOLOGY=$SRC/$(head -n 1 "$SCENARIO/topology")
else
    echo "FAIL: $SCENARIO names no topology"
    exit 1
fi
for file in args stdout status; do
    if [ ! -f "$SCENARIO/$file" ]; then
        echo "FAIL: $SCENARIO has no $file file"
        exit 1
    fi
done

rm -rf "$WORK"
mkdir -p "$WORK"
AUDIT=$WORK/audit.log

# The words, one per line, become the positional parameters, after the
# leading words of the environment.
set --
for word in ${SCENARIO_LEADING:-}; do
    set -- "$@" "$word"
done
while IFS= read -r word || [ -n "$word" ]; do
    set -- "$@" "$word"
done <"$SCENARIO/args"

if [ -f "$SCENARIO/refuse" ]; then
    TSKIT_REFUSE_ALLOC=$(head -n 1 "$SCENARIO/refuse")
    export TSKIT_REFUSE_ALLOC
fi
if [ -f "$SCENARIO/uid" ]; then
    "$SANSIM" run "$TOPOLOGY" --audit "$AUDIT" --uid "$(head -n 1 "$SCENARIO/uid")" -- \
        "$PROGRAM" "$@" >"$WORK/stdout" 2>"$WORK/stderr"
else
    "$SANSIM" run "$TOPOLOGY" --audit "$AUDIT" -- \
        "$PROGRAM" "$@" >"$WORK/stdout" 2>"$WORK/stderr"
fi
STATUS=$?

failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}

echo "$(basename "$PROGRAM") $*"
expected_status=$(head -n 1 "$SCENARIO/status")
[ "$STATUS" = "$expected_status" ] || fail "exit status $STATUS, expected $expected_status"

if ! cmp -s "$SCENARIO/stdout" "$WORK/stdout"; then
    fail "standard output differs from the expected (- expected, + actual)"
    diff -u "$SCENARIO/stdout" "$WORK/stdout" | sed 's/^/  diff| /'
fi

if [ "$STDERR_RULE" = empty ] && [ -s "$WORK/stderr" ]; then
    fail "standard error is not empty"
    sed 's/^/  stderr| /' "$WORK/stderr"
elif grep -Eq 'Sanitizer|runtime error:' "$WORK/stderr"; then
    fail "a sanitizer reported on standard error"
    sed 's/^/  stderr| /' "$WORK/stderr"
fi

# Every line of the audit log: an open with the ACCESS (and FLAGS), or an
# allowed command sent through such a descriptor.
if [ -n "$OPEN_FLAGS" ]; then
    open_rule="open [^ ]+ access=$ACCESS flags=$OPEN_FLAGS"
else
    open_rule="open [^ ]+ access=$ACCESS( .*)?"
fi
if [ -f "$AUDIT" ]; then
    bad=$(grep -Ev "^($open_rule|scsi [^ ]+ op=0x($OPCODES) .*access=$ACCESS( .*)?)\$" \
        "$AUDIT")
    if [ -n "$bad" ]; then
        fail "the audit log holds another access or another command"
        printf '%s\n' "$bad" | sed 's/^/  audit| /'
    fi
else
    fail "no audit log was written"
fi
# Each device's lines in their order: a stable sort on the node field.
by_device() {
    sort -s -k 2,2 "$1"
}
if [ -f "$SCENARIO/audit" ]; then
    case " ${SCENARIO_LEADING:-} " in
        *" --jobs 1 "*) same=$(cmp -s "$SCENARIO/audit" "$AUDIT" && echo yes) ;;
        *) same=$([ "$(by_device "$SCENARIO/audit")" = "$(by_device "$AUDIT")" ] && echo yes) ;;
    esac
    if [ "$same" != yes ]; then
        fail "the audit log differs from the expected (- expected, + actual)"
        diff -u "$SCENARIO/audit" "$AUDIT" | sed 's/^/  diff| /'
    fi
fi

if [ "$failures" != 0 ]; then
    echo "$failures checks failed"
    exit 1
fi
echo "stdout, status $STATUS, stderr and audit as expected"
exit 0
