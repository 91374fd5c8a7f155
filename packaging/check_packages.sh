#!/bin/sh
# Checks what `make package` made:
#
#   check_packages.sh PACKAGE_BUILD_DIR DIST_DIR SOURCE_DIR [SANSIM]
#
# - the Debian package and the RPM hold exactly the programs, the manual
#   pages (the pages of docs/, compressed), the bash completion, the
#   textfile service and timer and the package's copyright and changelog;
# - each package's service writes into its node exporter's textfile
#   directory (Debian's, the RPM distributions'), systemd-analyze verify
#   takes its units, and its removal scripts are packaging/systemd's;
# - lintian reports no error on the Debian package;
# - the static programs of the tarballs are static and answer as the
#   command-line scenarios of the tests say they must;
# - with SANSIM (the simulated host's runner) and as root, the static programs
#   on the bundled hosts (sim/topologies): every end-to-end scenario there
#   passes with them, and each command `make demo` runs prints what the
#   package build's dynamic program prints, with the same status, standard
#   error and audit log.
# Exit 0 when every check holds, 1 otherwise.
set -u
BUILD=$1
DIST=$2
SRC=$3
SANSIM=${4:-}
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

# units TREE FORMAT DIRECTORY: the unpacked package's textfile service names
# DIRECTORY in its condition, its writable paths and ExecStart's variable,
# runs the package's program, and systemd takes both units as they are.
units() {
    tree=$1 format=$2 dir=$3
    unit=$tree/usr/lib/systemd/system/tsextool-textfile.service
    names=$(sed -n -e 's/^ConditionPathIsDirectory=//p' -e 's/^ReadWritePaths=-\{0,1\}//p' \
        -e 's/^Environment=TSKIT_TEXTFILE_DIR=//p' "$unit" 2>/dev/null | sort -u)
    if [ "$names" = "$dir" ] &&
        grep -q '^ExecStart=/usr/sbin/tsexTool .*--textfile ${TSKIT_TEXTFILE_DIR}/tsextool.prom ' "$unit"; then
        pass "the $format's textfile service writes $dir/tsextool.prom"
    else
        fail "the $format's textfile service names $(echo $names) (expected $dir)"
    fi
    if cmp -s "$tree/usr/lib/systemd/system/tsextool-textfile.timer" \
        "$SRC/packaging/systemd/tsextool-textfile.timer"; then
        pass "the $format's timer is packaging/systemd/tsextool-textfile.timer"
    else
        fail "the $format's timer differs from packaging/systemd/tsextool-textfile.timer"
    fi
    said=$(MANPATH=$tree/usr/share/man systemd-analyze verify --recursive-errors=no \
        --root="$tree" tsextool-textfile.service tsextool-textfile.timer 2>&1)
    if [ $? = 0 ] && [ -z "$said" ]; then
        pass "systemd-analyze verify takes the $format's units"
    else
        fail "systemd-analyze verify on the $format's units: $said"
    fi
}

work=$(mktemp -d)
chmod 0755 "$work"  # the scenarios run as another user need to reach the programs
trap 'rm -rf "$work"' EXIT

# --- the Debian package
# The packages of this release: an older build's beside them is not read.
RELEASE=$(sed -n 's/^project(tskit VERSION \([0-9.]*\) .*/\1/p' "$SRC/CMakeLists.txt")
deb=$(ls "$BUILD"/tskit_"$RELEASE"_*.deb 2>/dev/null | head -n 1)
if [ -z "$deb" ]; then
    fail "no Debian package in $BUILD"
else
    dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { sub(/^\./, "", $6); print $6 }' | sort >"$work/deb.files"
    if [ "$(cat "$work/deb.files")" = "$EXPECTED_FILES" ]; then
        pass "the Debian package holds the $(echo "$EXPECTED_FILES" | wc -l) files"
    else
        fail "the Debian package holds:"; sed 's/^/    /' "$work/deb.files"
    fi
    mkdir -p "$work/deb"
    dpkg-deb -x "$deb" "$work/deb"
    for page in tsexTool ts_showdisk tskit-capture; do
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
    for program in tsexTool ts_showdisk tskit-capture; do
        [ -x "$work/deb/usr/sbin/$program" ] || fail "/usr/sbin/$program is not executable"
    done
    units "$work/deb" "Debian package" /var/lib/prometheus/node-exporter
    mkdir -p "$work/deb.control"
    dpkg-deb -e "$deb" "$work/deb.control"
    for script in prerm postrm; do
        if cmp -s "$work/deb.control/$script" "$SRC/packaging/systemd/$script" &&
            [ -x "$work/deb.control/$script" ]; then
            pass "the Debian package's $script is packaging/systemd/$script"
        else
            fail "the Debian package's $script is not packaging/systemd/$script, executable"
        fi
    done
    lintian -I "$deb" >"$work/lintian" 2>&1
    if grep -q '^E:' "$work/lintian"; then
        fail "lintian reports errors:"; grep '^E:' "$work/lintian" | sed 's/^/    /'
    else
        pass "lintian reports no error ($(grep -c '^W:' "$work/lintian") warnings)"
    fi
    # The programs run as root: each is built with the hardening a
    # distribution's own builds carry (checked functions, BIND_NOW).
    if grep -q ' hardening-' "$work/lintian"; then
        fail "lintian reports missing hardening:"; grep ' hardening-' "$work/lintian" | sed 's/^/    /'
    else
        pass "lintian reports no missing hardening"
    fi
fi

# --- the RPM
rpm=$(ls "$BUILD"/tskit-"$RELEASE"-*.rpm 2>/dev/null | head -n 1)
if [ -z "$rpm" ]; then
    fail "no RPM in $BUILD"
else
    # Directories the package owns (/usr/share/tskit and its folders) are
    # listed too; keep the entries whose mode is not a directory's.
    rpm -qp --qf '[%{FILEMODES:perms} %{FILENAMES}\n]' "$rpm" 2>/dev/null |
        awk '$1 !~ /^d/ && $2 !~ /^\/usr\/lib\/\.build-id/ { print $2 }' | sort >"$work/rpm.files"
    if [ "$(cat "$work/rpm.files")" = "$EXPECTED_FILES" ]; then
        pass "the RPM holds the $(echo "$EXPECTED_FILES" | wc -l) files"
    else
        fail "the RPM holds:"; sed 's/^/    /' "$work/rpm.files"
    fi
    mkdir -p "$work/rpm"
    rpm2cpio "$rpm" | (cd "$work/rpm" && cpio -idm --quiet)
    units "$work/rpm" RPM /var/lib/node_exporter/textfile_collector
    for pair in PREUN:prerm POSTUN:postrm; do
        rpm -qp --queryformat "%{${pair%%:*}}\n" "$rpm" 2>/dev/null >"$work/rpm.${pair#*:}"
        if cmp -s "$work/rpm.${pair#*:}" "$SRC/packaging/systemd/${pair#*:}"; then
            pass "the RPM's %$(echo "${pair%%:*}" | tr A-Z a-z) is packaging/systemd/${pair#*:}"
        else
            fail "the RPM's ${pair%%:*} scriptlet differs from packaging/systemd/${pair#*:}"
            diff "$SRC/packaging/systemd/${pair#*:}" "$work/rpm.${pair#*:}" | sed 's/^/    /'
        fi
    done
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
# row TABLE NAME: a command-line table's row (tests/harness/README.md): its
# expected standard output into $work/expected, its exit status printed.
row() {
    : >"$work/expected"
    awk -v name="$2" -v out="$work/expected" '
        /^## / { inrow = ($0 == "## " name); next }
        !inrow { next }
        /^status / { status = $2 }
        /^\| / { print substr($0, 3) > out }
        /^\|$/ { print "" > out }
        END { print status + 0 }' "$1"
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
# The release version, as the top-level CMakeLists.txt defines it.
VERSION=$(sed -n 's/^project(tskit VERSION \([0-9.]*\) .*/\1/p' "$SRC/CMakeLists.txt")
[ -n "$VERSION" ] || fail "no release version in $SRC/CMakeLists.txt"
if unpack "tsexTool-$VERSION-linux-$ARCH-static" tsexTool; then
    tool=$(cat "$work/path")
    # --version answers any user, as --help does.
    printf 'tsexTool %s\n' "$VERSION" >"$work/release"
    run_case "static tsexTool --version" "$tool" "$work/release" 0 --version
    if [ "$(id -u)" != 0 ]; then
        echo "skipped: tsexTool answers only root"
    else
        static_tool=$tool
        status=$(row "$E2E/command_line.table" cli_show_version)
        run_case "static tsexTool show version" "$tool" "$work/expected" "$status" show version
        status=$(row "$E2E/command_line.table" cli_question_mark)
        run_case "static tsexTool help" "$tool" "$work/expected" "$status" help
    fi
fi
printf 'ts_showdisk version 1.0.0\n' >"$work/version"
if unpack "ts_showdisk-$VERSION-linux-$ARCH-static" ts_showdisk; then
    static_showdisk=$(cat "$work/path")
    run_case "static ts_showdisk -v" "$(cat "$work/path")" "$work/version" 0 -v
fi
if unpack "ts_showdisk-$VERSION-esxi-$ARCH-static" ts_showdisk; then
    esxi=$(cat "$work/path")
    static_esxi=$esxi
    run_case "static ESXi ts_showdisk -v" "$esxi" "$work/version" 0 -v
    status=$(row "$SRC/tests/e2e_esxi/command_line.table" cli_invalid)
    run_case "static ESXi ts_showdisk -x" "$esxi" "$work/expected" "$status" -x
fi
# The capture programs: their usage texts as the package build's programs
# print them.
for platform in linux esxi; do
    dynamic=$BUILD/capture/tskit-capture
    [ "$platform" = esxi ] && dynamic=$dynamic-esxi
    if unpack "tskit-capture-$VERSION-$platform-$ARCH-static" tskit-capture; then
        "$dynamic" --help >"$work/capture-help"
        run_case "static $platform tskit-capture --help" "$(cat "$work/path")" \
            "$work/capture-help" 0 --help
        run_case "static $platform tskit-capture with no file" "$(cat "$work/path")" \
            "$work/capture-help" 1
        [ "$platform" = linux ] && static_capture=$(cat "$work/path")
    fi
done

# --- the static programs on the bundled hosts
# scenarios FOLDER SUITE PROGRAM: the suite's scenarios on a bundled host (no
# allocation refusal: that is a test build's), their words as they are,
# run by the suites' harness with PROGRAM under the suite's rules.
scenarios() {
    folder=$1 suite=$2 program=$3
    set --
    for topology in "$SRC/$folder"/*/topology; do
        dir=${topology%/topology}
        case $(head -n 1 "$topology") in sim/topologies/*) ;; *) continue ;; esac
        [ -f "$dir/refuse" ] && continue
        set -- "$@" "$dir"
    done
    [ $# -gt 0 ] || return 0
    if python3 -B "$SRC/tests/harness/scenarios.py" --suite "$suite" --plain \
        --sansim "$SANSIM" --program "$program" --source-root "$SRC" \
        --work "$work/scenarios" "$@" >"$work/scenario.log" 2>&1; then
        pass "$folder: $# scenarios on the bundled hosts with the static program"
    else
        fail "$folder with the static $(basename "$program"):"
        grep -v '^ok: ' "$work/scenario.log" | sed 's/^/    /'
    fi
}
# same_as_dynamic HOST STATIC DYNAMIC ARGS...
same_as_dynamic() {
    host=$1 static=$2 dynamic=$3
    shift 3
    for build in static dynamic; do
        eval "program=\$$build"
        "$SANSIM" run "$SRC/sim/topologies/$host.json" --audit "$work/$build.audit.log" -- \
            "$program" "$@" >"$work/$build.out" 2>"$work/$build.err"
        echo $? >"$work/$build.status"
        # Devices are queried side by side: the same commands, in any order.
        LC_ALL=C sort "$work/$build.audit.log" >"$work/$build.audit"
    done
    what="static $(basename "$static")${*:+ $*} on $host"
    if [ -s "$work/static.out" ] && cmp -s "$work/static.out" "$work/dynamic.out" &&
        cmp -s "$work/static.status" "$work/dynamic.status" &&
        cmp -s "$work/static.err" "$work/dynamic.err" &&
        cmp -s "$work/static.audit" "$work/dynamic.audit"; then
        pass "$what prints what the dynamic build prints"
    else
        fail "$what differs from the dynamic build (- dynamic, + static)"
        for part in status out err audit; do
            diff -u "$work/dynamic.$part" "$work/static.$part" | sed 's/^/    /'
        done
    fi
}
if [ -z "$SANSIM" ]; then
    echo "skipped: the bundled hosts (no simulator given)"
elif [ "$(id -u)" != 0 ]; then
    echo "skipped: the bundled hosts (a simulated host needs root here)"
else
    if [ -n "${static_tool:-}" ]; then
        scenarios tests/e2e tsextool "$static_tool"
        for host in demo degraded; do
            for words in "show vlun" "show path" "show phypath" "show device"; do
                # $words unquoted: each word is one argument
                same_as_dynamic $host "$static_tool" "$BUILD/tool/tsexTool" $words
            done
        done
        same_as_dynamic degraded "$static_tool" "$BUILD/tool/tsexTool" check status
        same_as_dynamic degraded_fc "$static_tool" "$BUILD/tool/tsexTool" show phypath
        same_as_dynamic degraded_fc "$static_tool" "$BUILD/tool/tsexTool" check status
    fi
    if [ -n "${static_showdisk:-}" ]; then
        scenarios tests/e2e_showdisk showdisk "$static_showdisk"
        same_as_dynamic demo "$static_showdisk" "$BUILD/showdisk/ts_showdisk"
    fi
    if [ -n "${static_capture:-}" ]; then
        # A capture of the demo host by the static program, replayed.
        "$SANSIM" run "$SRC/sim/topologies/demo.json" -- "$static_capture" "$work/demo.capture.json"
        for host in "$SRC/sim/topologies/demo.json" "$work/demo.capture.json"; do
            "$SANSIM" run "$host" -- "$BUILD/tool/tsexTool" show path >"$work/${host##*/}.out"
        done
        if [ -s "$work/demo.json.out" ] && cmp -s "$work/demo.json.out" "$work/demo.capture.json.out"; then
            pass "the static tskit-capture's capture of demo replays tsexTool show path"
        else
            fail "the static tskit-capture's capture of demo does not replay tsexTool show path"
        fi
    fi
    if [ -n "${static_esxi:-}" ]; then
        scenarios tests/e2e_esxi esxi "$static_esxi"
        same_as_dynamic esxi_demo "$static_esxi" "$BUILD/showdisk/ts_showdisk-esxi"
    fi
fi

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "every package check holds"
