# The host is hermetic and leaves nothing behind: PATH holds only the host's
# commands, the environment carries the interposer, and after a run the
# caller's /tmp, /dev and mount table are as before, whatever the command
# did inside.
need unshare mount sg_inq

sim "$TOPOLOGIES/demo.json" -- sh -c '
    echo "$PATH"
    for tool in sh cat readlink xargs basename awk grep which; do
        command -v "$tool" >/dev/null || echo "missing $tool"
    done
    ls /dev'
expect_status 127
expect_stdout <<'END'
/dev/.sansim/bin
END
expect_stderr "ls: not found"

REAL_TOPOLOGY=$(readlink -f "$TOPOLOGIES/demo.json")
run env ASAN_OPTIONS=detect_leaks=1 LD_PRELOAD= SANSIM_TOPOLOGY=/elsewhere \
    "$SANSIM" run "$TOPOLOGIES/demo.json" -- sh -c '
    echo "$SANSIM_TOPOLOGY"
    echo "$ASAN_OPTIONS"
    basename "$LD_PRELOAD"
    test -r "$LD_PRELOAD" && echo readable'
expect_stdout <<END
$REAL_TOPOLOGY
detect_leaks=1:verify_asan_link_order=0
libsansim_preload.so
readable
END

# Standard output and exit status pass through.
sim "$TOPOLOGIES/demo.json" -- sh -c 'echo out; echo err >&2; exit 7'
expect_status 7
expect_stdout <<'END'
out
END
expect_stderr "err"

# In a mount namespace of this test, /tmp a fresh tmpfs (the build tree bound
# back in when it lives under /tmp), run hosts whose commands write to /dev
# and /sys, then compare.
mkdir -p "$WORK/fresh"
cat >"$WORK/isolated.sh" <<'END'
set -e
mount --make-rprivate /
mount -t tmpfs sansim-e2e "$WORK/fresh"
for dir in "$SANSIM" "$WORK"; do
    case $dir in
    /tmp/*)
        top=${dir#/tmp/}
        top=${top%%/*}
        if [ ! -d "$WORK/fresh/$top" ]; then
            mkdir "$WORK/fresh/$top"
            mount --bind "/tmp/$top" "$WORK/fresh/$top"
        fi
        ;;
    esac
done
mount --move "$WORK/fresh" /tmp
# Shared again (in peer groups of this namespace only): a host that forgot to
# make its mounts private would show them here.
mount --make-rshared /
snapshot() {
    ls -A /tmp
    ls -A /dev /sys/block
    cut -d' ' -f5,9,10 /proc/self/mountinfo
}
snapshot >"$WORK/before"
"$SANSIM" run "$TOPOLOGIES/demo.json" --audit "$WORK/audit.log" -- sh -c '
    echo x >/dev/sansim-e2e; mkdir /sys/block/sansim-e2e; : >/dev/sdb' >/dev/null
"$SANSIM" run "$HOSTS/faults.json" --uid 1000 -- "$(command -v sg_inq)" /dev/sdg \
    >/dev/null 2>&1 || true
"$SANSIM" run "$TOPOLOGIES/iscsi.json" -- "$(command -v sg_inq)" /dev/sdb >/dev/null
snapshot >"$WORK/after"
END
run env WORK="$WORK" SANSIM="$SANSIM" TOPOLOGIES="$TOPOLOGIES" HOSTS="$HOSTS" \
    unshare -m sh "$WORK/isolated.sh"
expect_status 0
expect_same "$WORK/before" "$WORK/after"
checks=$((checks + 1))
[ ! -e /dev/sansim-e2e ] && [ ! -e /sys/block/sansim-e2e ] || fail "a write inside escaped"
