# The fake multipath on the host's PATH: `multipath -ll` prints the listing
# rendered from the topology, other arguments print nothing; installed: false
# leaves it off PATH; list_fails makes the listing exit 1. Product CLIs are
# on PATH as the topology installs them and do nothing. (The command of
# `sansim run` itself is found on the caller's PATH, so these run through the
# host's shell.)

sim "$TOPOLOGIES/demo.json" -- sh -c "multipath -ll"
expect_status 0
expect_line "mpatha (36e0fc123456000000000000000000011) dm-0 QELMAR,VSA1000"
expect_line "36e0fc123456000000000000000000012 dm-1 QELMAR,VSA1000"
expect_line "oradata (36e0fc123456000000000000000000013) dm-2 QELMAR,VSA1000"
expect_line "36e0fc123456000000000000000000014 dm-3 QELMAR,VSA1000"
expect_line "share (36f4e9d45678000000000000000000005) dm-4 ZUNTA,ZX200"
checks=$((checks + 1))
paths=$(grep -Ec '^[ |`]*[-|`]- [0-9]+:0:[0-9]+:[0-9]+ sd[a-z]+ ' "$OUT")
[ "$paths" = 20 ] || fail "$paths path lines, expected 20"
cp "$OUT" "$WORK/inside"

# The same listing as the fake command prints outside any namespace: the
# host passes it through unchanged.
ln -sf "$SANSIM" "$WORK/multipath"
run env SANSIM_TOPOLOGY="$TOPOLOGIES/demo.json" "$WORK/multipath" -ll
expect_status 0
expect_same "$WORK/inside" "$OUT"

# Through the shell and a pipe, as the tools start it.
sim "$TOPOLOGIES/demo.json" -- sh -c 'multipath -ll | grep -c "^size="'
expect_stdout <<'END'
5
END

sim "$TOPOLOGIES/degraded.json" -- sh -c "multipath -ll"
expect_status 0
expect_match '^[ |`]*[-|`]- 3:0:0:1 sdb [0-9]+:[0-9]+ +failed faulty running$'
expect_match '^[ |`]*[-|`]- 4:0:1:2 sdo [0-9]+:[0-9]+ +failed faulty running$'
expect_match '^[ |`]*[-|`]- 4:0:1:4 sdq [0-9]+:[0-9]+ +failed faulty running$'
expect_match '^[ |`]*[-|`]- 4:0:0:1 sdj [0-9]+:[0-9]+ +active ready running$'
expect_line "single (36e0fc123456000000000000000000015) dm-5 QELMAR,VSA1000"

sim "$TOPOLOGIES/demo.json" -- sh -c "multipath -F"
expect_status 0
expect_stdout </dev/null
sim "$TOPOLOGIES/demo.json" -- sh -c multipath
expect_status 0
expect_stdout </dev/null

sim "$TOPOLOGIES/demo.json" -- which multipath
expect_status 0
expect_stdout <<'END'
/dev/.sansim/bin/multipath
END

# Not installed: nothing on PATH, the shell cannot find it.
sim "$HOSTS/bare.json" -- which multipath
expect_status 1
expect_stdout </dev/null
sim "$HOSTS/bare.json" -- sh -c 'multipath -ll'
expect_status 127
expect_stdout </dev/null

# The listing fails.
sim "$HOSTS/faults.json" -- sh -c "multipath -ll"
expect_status 1
expect_stdout </dev/null

# Product CLIs.
sim "$HOSTS/faults.json" -- sh -c 'which tsadm; which tsadmin; which tsTools; tsTools -v; echo $?'
expect_stdout <<'END'
/dev/.sansim/bin/tsTools
0
END
sim "$HOSTS/faults.json" -- sh -c "tsTools show lun"
expect_status 0
expect_stdout </dev/null
sim "$HOSTS/bare.json" -- sh -c 'which tsadm tsadmin tsTools'
expect_status 1
expect_stdout </dev/null

# What a real kernel shows (tests/e2e/hosts/kernel_view.json): multipath's
# warnings go to standard error on every run, before the listing, and never
# into it; a path that dm failed is listed failed while its device answers
# TEST UNIT READY, and the map that does not queue fails the ioctl at once.
KV=$SRC/tests/e2e/hosts/kernel_view.json
sim "$KV" -- sh -c 'multipath -ll'
expect_status 0
expect_stderr "multipath: the path checker daemon is not running; states may be stale"
expect_stderr "multipath: configuration file not found, using built-in defaults"
expect_line "| \`- 4:0:0:2 sde 8:64 failed ready running"
expect_no_line "multipath: configuration file not found, using built-in defaults"
sim "$KV" -- sh -c 'multipath -ll 2>/dev/null'
[ -s "$ERR" ] && fail "warnings past 2>/dev/null"
sim "$KV" -- sg_turs /dev/sde
expect_status 0
# sg3-utils exits 50 + errno for an error of the pass-through: EIO is 55.
sim "$KV" -- sg_turs /dev/dm-1
expect_status 55
# A T10 vendor ID designator first (type 1, ASCII), the NAA one second.
sim "$KV" -- sg_vpd -p di /dev/sdb
expect_stdout <<'END'
Device Identification VPD page:
  Addressed logical unit:
    designator type: T10 vendor identification,  code set: ASCII
      vendor id: QELMAR  
      vendor specific: VSA1000         
    designator type: NAA,  code set: Binary
      0x6e0fc123456000000000000000000001
END
