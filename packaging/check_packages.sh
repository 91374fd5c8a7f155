#!/bin/sh
# Checks what `make package` made:
#
#   check_packages.sh PACKAGE_BUILD_DIR DIST_DIR SOURCE_DIR
#
# - the Debian package and the RPM hold exactly the programs, the manual
#   pages (the pages of docs/, compressed), the bash completion and the
#   package's copyright and changelog;
# - lintian reports no error on the Debian package;
# - the static programs of the tarballs are static and answer as the
#   command-line scenarios of the tests say they must.
# Exit 0 when every check holds, 1 otherwise.
set -u
BUILD=$1
DIST=$2
SRC=$3
failures=0
fail() {
    failures=$((failures + 1))
    printf 'FAIL: %s\n' "$*"
}
pass() {
    printf 'ok: %s\n' "$*"
}

# The files every installation holds, in sorted order.
EXPECTED_FILES=$(cat "$SRC/packaging/installed_files")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# --- the Debian package
deb=$(ls "$BUILD"/tskit_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    fail "no Debian package in $BUILD"
else
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/deb.files"
    if [ "$(cat "$work/deb.files")" = "$EXPECTED_FILES" ]; then
        pass "the Debian package holds the eight files"
    else
        fail "the Debian package holds:"; sed 's/^/    /' "$work/deb.files"
    fi
    mkdir -p "$work/deb"
    dpkg-deb -x "$deb" "$work/deb"
    for page in tsexTool ts_showdisk; do
        if gzip -dc "$work/deb/usr/share/man/man8/$page.8.gz" | cmp -s - "$SRC/docs/$page.8"; then
            pass "$page.8 in the package is docs/$page.8"
        else
            fail "$page.8 in the package differs from docs/$page.8"
        fi
        if cmp -s "$work/deb/usr/share/bash-completion/completions/$page" "$SRC/completion/$page"; then
            pass "the completion of $page is completion/$page"
        else
            fail "the completion of $page differs from completion/$page"
        fi
    done
    for program in tsexTool ts_showdisk; do
        [ -x "$work/deb/usr/sbin/$program" ] || fail "/usr/sbin/$program is not executable"
    done
    lintian "$deb" >"$work/lintian" 2>&1
    if grep -q '^E:' "$work/lintian"; then
        fail "lintian reports errors:"; grep '^E:' "$work/lintian" | sed 's/^/    /'
    else
        pass "lintian reports no error ($(grep -c '^W:' "$work/lintian") warnings)"
    fi
fi

# --- the RPM
rpm=$(ls "$BUILD"/tskit-*.rpm 2>/dev/null | head -n 1)
if [ -z "$rpm" ]; then
    fail "no RPM in $BUILD"
else
    rpm -qlp "$rpm" 2>/dev/null | grep -v '^/usr/lib/.build-id' | while read -r f; do
        # Directories the package owns are listed too; keep the files.
        case "$f" in */tskit) ;; *) echo "$f" ;; esac
    done | sort >"$work/rpm.files"
    if [ "$(cat "$work/rpm.files")" = "$EXPECTED_FILES" ]; then
        pass "the RPM holds the eight files"
    else
        fail "the RPM holds:"; sed 's/^/    /' "$work/rpm.files"
    fi
fi

# --- the static programs
# run_case NAME PROGRAM EXPECTED_STDOUT_FILE EXPECTED_STATUS ARGS...
run_case() {
    name=$1 program=$2 expected=$3 status=$4
    shift 4
    "$program" "$@" >"$work/out" 2>"$work/err"
    got=$?
    if [ "$got" = "$status" ] && cmp -s "$work/out" "$expected" && [ ! -s "$work/err" ]; then
        pass "$name"
    else
        fail "$name: status $got (expected $status)"; diff "$expected" "$work/out" | sed 's/^/    /'
    fi
}
unpack() {  # unpack TARBALL_STEM PROGRAM: the program's path into $work/path
    rm -f "$work/path"
    tarball="$DIST/$1.tar.gz"
    [ -f "$tarball" ] || { fail "no $tarball"; return 1; }
    tar -C "$work" -xzf "$tarball"
    path="$work/$1/$2"
    if file "$path" | grep -q 'statically linked'; then
        pass "$1: $2 is statically linked"
    else
        fail "$1: $2 is not statically linked: $(file "$path")"
    fi
    echo "$path" >"$work/path"
}
ARCH=$(uname -m)
E2E=$SRC/tests/e2e
if unpack "tsexTool-1.0.0-linux-$ARCH-static" tsexTool && [ "$(id -u)" != 0 ]; then
    echo "skipped: tsexTool answers only root"
elif [ -f "$work/path" ]; then
    tool=$(cat "$work/path")
    run_case "static tsexTool show version" "$tool" "$E2E/cli_show_version/stdout" \
        "$(cat "$E2E/cli_show_version/status")" show version
    run_case "static tsexTool help" "$tool" "$E2E/cli_question_mark/stdout" \
        "$(cat "$E2E/cli_question_mark/status")" help
fi
printf 'ts_showdisk version 1.0.0\n' >"$work/version"
if unpack "ts_showdisk-1.0.0-linux-$ARCH-static" ts_showdisk; then
    run_case "static ts_showdisk -v" "$(cat "$work/path")" "$work/version" 0 -v
fi
if unpack "ts_showdisk-1.0.0-esxi-$ARCH-static" ts_showdisk; then
    esxi=$(cat "$work/path")
    run_case "static ESXi ts_showdisk -v" "$esxi" "$work/version" 0 -v
    run_case "static ESXi ts_showdisk -x" "$esxi" "$SRC/tests/e2e_esxi/cli_invalid/stdout" \
        "$(cat "$SRC/tests/e2e_esxi/cli_invalid/status")" -x
fi

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "every package check holds"
