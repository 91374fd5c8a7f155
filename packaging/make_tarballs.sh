#!/bin/sh
# Wraps the statically linked programs of a build tree into one tarball each:
#
#   make_tarballs.sh STATIC_BUILD_DIR SOURCE_DIR OUT_DIR
#
# tsexTool and ts_showdisk for any x86_64 Linux host; the ESXi build of
# ts_showdisk, named ts_showdisk inside its tarball as the ESXi shell calls
# it. Each holds its program, its manual page and the README.
set -eu
BUILD=$1
SRC=$2
OUT=$3
VERSION=1.0.0
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
