#!/bin/sh
# Installs a build tree under a scratch DESTDIR and checks that exactly the
# shipped files land where an administrator looks for them:
#
#   check_install.sh BUILD_DIR SOURCE_DIR WORK_DIR
set -u
BUILD=$1
SRC=$2
WORK=$3
rm -rf "$WORK"
mkdir -p "$WORK"
if ! DESTDIR="$WORK/root" cmake --install "$BUILD" --prefix /usr >"$WORK/install.log" 2>&1; then
    echo "FAIL: cmake --install failed"; cat "$WORK/install.log"; exit 1
fi
(cd "$WORK/root" && find . -type f | sed 's/^\.//' | sort) >"$WORK/files"
cp "$SRC/packaging/installed_files" "$WORK/expected"
failures=0
if ! cmp -s "$WORK/expected" "$WORK/files"; then
    echo "FAIL: installed files differ from the expected"; diff "$WORK/expected" "$WORK/files"
    failures=1
fi
for page in tsexTool ts_showdisk tskit-capture; do
    if ! gzip -dc "$WORK/root/usr/share/man/man8/$page.8.gz" | cmp -s - "$SRC/docs/$page.8"; then
        echo "FAIL: the installed $page.8 is not docs/$page.8"; failures=1
    fi
    if [ ! -x "$WORK/root/usr/sbin/$page" ]; then
        echo "FAIL: /usr/sbin/$page is not executable"; failures=1
    fi
done
# The examples as the tree has them; the fact script runs where it is copied.
examples="$WORK/root/usr/share/tskit/examples"
for example in $(cd "$SRC/packaging/examples" && find . -type f | sed 's|^\./||'); do
    if ! cmp -s "$examples/$example" "$SRC/packaging/examples/$example"; then
        echo "FAIL: the installed example $example is not packaging/examples/$example"; failures=1
    fi
done
if [ ! -x "$examples/ansible/tsextool.fact" ]; then
    echo "FAIL: the installed tsextool.fact is not executable"; failures=1
fi
# Nothing outside DESTDIR: the log names only paths below it.
if grep -E '^-- (Installing|Up-to-date): ' "$WORK/install.log" | grep -v -- "$WORK/root/" >/dev/null; then
    echo "FAIL: a file was installed outside DESTDIR"; failures=1
fi
[ "$failures" = 0 ] && echo "installed: $(wc -l <"$WORK/files") files under DESTDIR"
exit "$failures"
