#!/bin/sh
# Runs one end-to-end scenario: a shell file of commands run on simulated
# hosts, each followed by what its output and exit status must be.
#
#   run_scenario.sh SANSIM SOURCE_DIR WORK_DIR PROBE_DIR SCENARIO [FLAVOUR]
#
# SANSIM is the runner, WORK_DIR a scratch directory in the build tree
# (emptied first), PROBE_DIR where the probe programs are. FLAVOUR "static"
# makes PROBE and SGIO the statically linked probes (default "dynamic": the
# sanitized ones); STATIC_SGIO is always the static one, SGIO32 the static
# 32-bit one (absent when the compiler could not link it). Exit 0 when every
# check holds, 1 otherwise, 77 (skipped) when the host cannot run it.
set -u

SANSIM=$1
SRC=$2
WORK=$3
SCENARIO=$5
FLAVOUR=${6:-dynamic}
if [ "$FLAVOUR" = static ]; then
    PROBE=$4/sansim_popen_probe_static
    SGIO=$4/sansim_sgio_probe_static
else
    PROBE=$4/sansim_popen_probe
    SGIO=$4/sansim_sgio_probe
fi
STATIC_SGIO=$4/sansim_sgio_probe_static
SGIO32=$4/sansim_sgio_probe32
TOPOLOGIES=$SRC/sim/topologies
HOSTS=$SRC/tests/sim/e2e/hosts

if [ "$(id -u)" != 0 ]; then
    echo "SKIP: simulated hosts need root here (a private mount namespace per run)"
    exit 77
fi

rm -rf "$WORK"
mkdir -p "$WORK"
OUT=$WORK/stdout
ERR=$WORK/stderr
STATUS=
LAST=
checks=0
failures=0

# need PROGRAM...: skips the scenario when a program it runs is missing.
need() {
    for program in "$@"; do
        if ! command -v "$program" >/dev/null 2>&1; then
            echo "SKIP: $program is not installed"
            exit 77
        fi
    done
}

fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
    echo "  command: $LAST (exit $STATUS)"
    sed 's/^/  stdout| /' "$OUT"
    sed 's/^/  stderr| /' "$ERR"
}

# sim TOPOLOGY [--audit FILE] [--uid N] -- COMMAND [ARG...]
sim() {
    LAST="sansim run $*"
    "$SANSIM" run "$@" >"$OUT" 2>"$ERR"
    STATUS=$?
}

# bounded TOPOLOGY [--audit FILE] -- COMMAND...: sim, ended after 120 s at
# most, for commands that a fault may keep from ending.
bounded() {
    LAST="sansim run $* (bounded)"
    timeout -k 10 120 "$SANSIM" run "$@" >"$OUT" 2>"$ERR"
    STATUS=$?
}

# run COMMAND [ARG...]: a command outside the simulated host.
run() {
    LAST="$*"
    "$@" >"$OUT" 2>"$ERR"
    STATUS=$?
}

expect_status() {
    checks=$((checks + 1))
    [ "$STATUS" = "$1" ] || fail "exit status $STATUS, expected $1"
}

# expect_line TEXT: some line of standard output is exactly TEXT.
expect_line() {
    checks=$((checks + 1))
    grep -Fxq -- "$1" "$OUT" || fail "no output line '$1'"
}

expect_no_line() {
    checks=$((checks + 1))
    ! grep -Fxq -- "$1" "$OUT" || fail "unexpected output line '$1'"
}

# expect_match REGEX: some line of standard output matches (grep -E).
expect_match() {
    checks=$((checks + 1))
    grep -Eq -- "$1" "$OUT" || fail "no output line matching '$1'"
}

# expect_stderr TEXT: standard error contains TEXT.
expect_stderr() {
    checks=$((checks + 1))
    grep -Fq -- "$1" "$ERR" || fail "standard error lacks '$1'"
}

# expect_stdout: standard output is exactly what stdin holds.
expect_stdout() {
    checks=$((checks + 1))
    cat >"$WORK/expected"
    cmp -s "$WORK/expected" "$OUT" || {
        fail "standard output differs from the expected"
        diff -u "$WORK/expected" "$OUT" | sed 's/^/  diff| /'
    }
}

# expect_file_line FILE TEXT: some line of FILE is exactly TEXT.
expect_file_line() {
    checks=$((checks + 1))
    grep -Fxq -- "$2" "$1" || {
        fail "$1 has no line '$2'"
        sed 's/^/  file| /' "$1"
    }
}

# expect_same FILE1 FILE2
expect_same() {
    checks=$((checks + 1))
    cmp -s "$1" "$2" || {
        fail "$1 and $2 differ"
        diff -u "$1" "$2" | sed 's/^/  diff| /'
    }
}

. "$SCENARIO"

if [ "$checks" = 0 ]; then
    echo "FAIL: the scenario checked nothing"
    exit 1
fi
if [ "$failures" != 0 ]; then
    echo "$failures of $checks checks failed"
    exit 1
fi
echo "all $checks checks passed"
exit 0
