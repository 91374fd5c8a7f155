#!/bin/sh
# Wraps the statically linked programs of a build tree into one tarball each:
#
#   make_tarballs.sh STATIC_BUILD_DIR SOURCE_DIR OUT_DIR
#
# tsexTool, ts_showdisk and tskit-capture for any x86_64 Linux host; the
# ESXi builds of ts_showdisk and tskit-capture, named ts_showdisk and
# tskit-capture inside their tarballs as the ESXi shell calls them. Each holds its program, its manual page and the README.
set -eu
BUILD=$1
SRC=$2
OUT=$3
# The release version, as the top-level CMakeLists.txt defines it.
VERSION=$(sed -n 's/^project(tskit VERSION \([0-9.]*\) .*/\1/p' "$SRC/CMakeLists.txt")
[ -n "$VERSION" ] || { echo "no release version in $SRC/CMakeLists.txt"; exit 1; }
ARCH=$(uname -m)

mkdir -p "$OUT"
pack() {  # pack TARBALL_NAME PROGRAM_FILE NAME_INSIDE PAGE
    dir=$(mktemp -d)
    top="$dir/$1"
    mkdir -p "$top"
    cp "$2" "$top/$3"
    strip "$top/$3"
    chmod 0755 "$top/$3"
    cp "$SRC/docs/$4.8" "$top/$4.8"
    cp "$SRC/README.md" "$top/README.md"
    tar -C "$dir" --owner=0 --group=0 --numeric-owner -czf "$OUT/$1.tar.gz" "$1"
    rm -rf "$dir"
    echo "$OUT/$1.tar.gz"
}
pack "tsexTool-$VERSION-linux-$ARCH-static" "$BUILD/tool/tsexTool" tsexTool tsexTool
pack "ts_showdisk-$VERSION-linux-$ARCH-static" "$BUILD/showdisk/ts_showdisk" ts_showdisk ts_showdisk
pack "ts_showdisk-$VERSION-esxi-$ARCH-static" "$BUILD/showdisk/ts_showdisk-esxi" ts_showdisk ts_showdisk
pack "tskit-capture-$VERSION-linux-$ARCH-static" "$BUILD/capture/tskit-capture" tskit-capture tskit-capture
pack "tskit-capture-$VERSION-esxi-$ARCH-static" "$BUILD/capture/tskit-capture-esxi" tskit-capture tskit-capture
