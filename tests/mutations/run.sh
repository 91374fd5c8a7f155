#!/bin/sh
# Mutation checks: each patch here plants one fault of a class the suite must
# catch; applied one at a time to the source tree, the build tree is brought
# up to date and the suite must fail.
#
#   tests/mutations/run.sh [-L LABEL_REGEX] [BUILD_DIR [NAME...]]
#
# BUILD_DIR defaults to build/test (configured as make test configures it);
# NAMEs are patch names without .patch (default: every patch). -L runs only
# the ctest cases of those labels (default: the whole suite). For each patch
# it prints the ctest cases that failed; a patch that leaves the suite
# passing is reported and makes the exit status 1. The source tree must have
# no changes to the patched files; each patch is taken back afterwards (also
# when the script is interrupted), and the tree rebuilt.
set -u

cd "$(dirname "$0")/../.." || exit 1
labels=
if [ "${1:-}" = -L ]; then
    labels=$2
    shift 2
fi
build=${1:-build/test}
[ $# -gt 0 ] && shift
if [ $# -eq 0 ]; then
    set -- $(ls tests/mutations/*.patch | sed 's|.*/||; s|\.patch$||')
fi
jobs=$(nproc)

applied=
restore() {
    if [ -n "$applied" ]; then
        git apply -R "tests/mutations/$applied.patch"
        applied=
    fi
}
trap 'restore; exit 130' INT TERM

survivors=0
for name in "$@"; do
    patch=tests/mutations/$name.patch
    if ! git apply --check "$patch" 2>/dev/null; then
        echo "$name: the patch does not apply to this tree"
        survivors=$((survivors + 1))
        continue
    fi
    git apply "$patch" && applied=$name
    if ! cmake --build "$build" -j "$jobs" >"$build/mutation-$name.build.log" 2>&1; then
        echo "$name: caught by the build (warnings are errors): $build/mutation-$name.build.log"
        restore
        continue
    fi
    log=$(cd "$build" && pwd)/mutation-$name.ctest.log
    (cd "$build" && ctest -j "$jobs" ${labels:+-L "$labels"} >"$log" 2>&1)
    # The summary's "NNN - NAME (Failed)" lines (or Timeout, SEGFAULT, ...).
    failed=$(sed -n '/^The following tests FAILED:/,$s/^[[:space:]]*[0-9]* - \([^ ]*\) (.*)$/\1/p' \
        "$log" | tr '\n' ' ')
    restore
    if [ -n "$failed" ]; then
        echo "$name: caught by $failed"
    else
        echo "$name: NOT CAUGHT (the suite passed; $log)"
        survivors=$((survivors + 1))
    fi
done
cmake --build "$build" -j "$jobs" >/dev/null 2>&1
exit $((survivors > 0))
