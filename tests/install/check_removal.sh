#!/bin/sh
# The package's removal scripts (packaging/systemd/prerm, postrm) as dpkg and
# rpm call them, each run in a private mount namespace with tmpfs over
# /var/lib and /run, so that the host's own files are never touched, and a
# systemctl first in PATH that only logs its words:
#
#   check_removal.sh SOURCE_DIR WORK_DIR
#
# - prerm on a removal (Debian "remove", RPM 0 installations left) stops the
#   timer and the service where systemd runs and disables the timer, with
#   or without a running systemd; on an upgrade (Debian "upgrade", RPM 1) it
#   calls nothing;
# - postrm on a removal ("remove", "purge", RPM 0) deletes tsextool.prom from
#   both textfile directories and nothing else: not the other files there,
#   not a link of that name nor its target, not a directory of that name;
#   on an upgrade it deletes nothing.
# Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
set -u
SRC=$1
WORK=$2
if [ "$(id -u)" != 0 ]; then
    echo "SKIP: a private mount namespace needs root here"; exit 77
fi
rm -rf "$WORK"
mkdir -p "$WORK/bin"
cat >"$WORK/bin/systemctl" <<'EOF'
#!/bin/sh
echo "systemctl $*" >>"$SYSTEMCTL_LOG"
EOF
chmod 0755 "$WORK/bin/systemctl"
failures=0

# run NAME SCRIPT ARG SYSTEMD LAYOUT: SCRIPT ARG in the namespace, on the
# textfile directories that LAYOUT makes (plain, odd); SYSTEMD is "running"
# or "offline". What is left under /var/lib and what systemctl was told go
# into $WORK/NAME.files and $WORK/NAME.calls, the exit status into
# $WORK/NAME.status.
run() {
    name=$1 script=$2 arg=$3 systemd=$4 layout=$5
    : >"$WORK/$name.calls"
    SYSTEMCTL_LOG=$WORK/$name.calls PATH=$WORK/bin:/usr/sbin:/usr/bin:/sbin:/bin \
        unshare --mount --propagation private sh -c '
        set -e
        mount -t tmpfs tmpfs /var/lib
        mount -t tmpfs tmpfs /run
        [ "$3" = running ] && mkdir -p /run/systemd/system
        deb=/var/lib/prometheus/node-exporter rpm=/var/lib/node_exporter/textfile_collector
        mkdir -p "$deb" "$rpm"
        echo "node_other 1" >"$deb/other.prom"
        echo "node_other 1" >"$rpm/tsextool.prom.keep"
        if [ "$4" = plain ]; then
            echo "tsextool_scan_success 1" >"$deb/tsextool.prom"
            echo "tsextool_scan_success 1" >"$rpm/tsextool.prom"
        else
            echo "theirs 1" >"$deb/theirs.prom"
            ln -s theirs.prom "$deb/tsextool.prom"
            mkdir "$rpm/tsextool.prom"
        fi
        set +e
        sh "$1" "$2"
        echo $? >"$5.status"
        (cd /var/lib && find . | LC_ALL=C sort) >"$5.files"
        ' run "$SRC/packaging/systemd/$script" "$arg" "$systemd" "$layout" "$WORK/$name"
}
expect() {  # expect NAME STATUS CALLS FILES: CALLS and FILES one a line
    name=$1
    printf '%s\n' "$2" >"$WORK/$name.want-status"
    printf '%s' "$3" >"$WORK/$name.want-calls"
    printf '%s\n' "$4" >"$WORK/$name.want-files"
    for part in status calls files; do
        if ! cmp -s "$WORK/$name.want-$part" "$WORK/$name.$part"; then
            echo "FAIL: $name: $part differ (- wanted, + found)"
            diff -u "$WORK/$name.want-$part" "$WORK/$name.$part" | tail -n +3 | sed 's/^/    /'
            failures=$((failures + 1))
        fi
    done
}

# What the set-up leaves before any script ran.
ALL='.
./node_exporter
./node_exporter/textfile_collector
./node_exporter/textfile_collector/tsextool.prom
./node_exporter/textfile_collector/tsextool.prom.keep
./prometheus
./prometheus/node-exporter
./prometheus/node-exporter/other.prom
./prometheus/node-exporter/tsextool.prom'
KEPT='.
./node_exporter
./node_exporter/textfile_collector
./node_exporter/textfile_collector/tsextool.prom.keep
./prometheus
./prometheus/node-exporter
./prometheus/node-exporter/other.prom'
ODD='.
./node_exporter
./node_exporter/textfile_collector
./node_exporter/textfile_collector/tsextool.prom
./node_exporter/textfile_collector/tsextool.prom.keep
./prometheus
./prometheus/node-exporter
./prometheus/node-exporter/other.prom
./prometheus/node-exporter/theirs.prom
./prometheus/node-exporter/tsextool.prom'
STOPPED='systemctl stop tsextool-textfile.timer tsextool-textfile.service
systemctl --no-reload disable tsextool-textfile.timer
'
DISABLED='systemctl --no-reload disable tsextool-textfile.timer
'
RELOADED='systemctl daemon-reload
'

for arg in remove 0; do
    run "prerm-$arg" prerm "$arg" running plain
    expect "prerm-$arg" 0 "$STOPPED" "$ALL"
    run "prerm-$arg-offline" prerm "$arg" offline plain
    expect "prerm-$arg-offline" 0 "$DISABLED" "$ALL"
done
for arg in upgrade 1; do
    run "prerm-$arg" prerm "$arg" running plain
    expect "prerm-$arg" 0 "" "$ALL"
done
for arg in remove purge 0; do
    run "postrm-$arg" postrm "$arg" running plain
    expect "postrm-$arg" 0 "$RELOADED" "$KEPT"
done
run postrm-offline postrm remove offline plain
expect postrm-offline 0 "" "$KEPT"
run postrm-odd postrm remove running odd
expect postrm-odd 0 "$RELOADED" "$ODD"
for arg in upgrade 1; do
    run "postrm-$arg" postrm "$arg" running plain
    expect "postrm-$arg" 0 "" "$ALL"
done

[ "$failures" = 0 ] || { echo "$failures check(s) failed"; exit 1; }
echo "the removal scripts stop, disable and delete as they must: every check holds"
