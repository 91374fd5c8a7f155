# TEST UNIT READY through the real sg_turs: a ready unit, a pending UNIT
# ATTENTION (in both sense formats), a dead path, a transport error that
# clears, an ioctl that fails, and a device that knows no SG_IO.
need sg_turs

sim "$TOPOLOGIES/demo.json" -- sg_turs /dev/sdb
expect_status 0
expect_stdout </dev/null

# UNIT ATTENTION on the first TEST UNIT READY of the process only.
sim "$HOSTS/faults.json" -- sg_turs /dev/sdb
expect_status 6
expect_stderr "Fixed format, current; Sense key: Unit Attention"
expect_stderr "Additional sense: Power on, reset, or bus device reset occurred"
sim "$HOSTS/faults.json" -- sg_turs -n 3 /dev/sdb
expect_line "Completed 3 Test Unit Ready commands with 1 errors"
sim "$HOSTS/faults.json" -- sg_turs /dev/sdj
expect_status 6
expect_stderr "Descriptor format, current; Sense key: Unit Attention"

# A dead path: no connection at the transport.
sim "$HOSTS/faults.json" -- sg_turs /dev/sdc
expect_stderr "test unit ready: transport: Host_status=0x01 [DID_NO_CONNECT]"

# DID_ERROR for the first request only.
sim "$HOSTS/faults.json" -- sg_turs -v -n 2 /dev/sdi
checks=$((checks + 1))
count=$(grep -c 'Host_status=0x07 \[DID_ERROR\]' "$ERR")
[ "$count" = 1 ] || fail "DID_ERROR reported $count times, expected once"

# The SG_IO ioctl itself fails with EIO.
sim "$HOSTS/faults.json" -- sg_turs /dev/sdd
expect_status 55
expect_stderr "test unit ready: pass-through os error: Input/output error"

# A loop device answers SG_IO with ENOTTY.
sim "$TOPOLOGIES/demo.json" -- sg_turs /dev/loop0
expect_status 75
expect_stderr "pass-through os error: Inappropriate ioctl for device"

# Degraded host: the dead path, every path through the failed port of host 4,
# and the maps that still have live paths.
for node in sdb sdn sdo sdp sdq; do
    sim "$TOPOLOGIES/degraded.json" -- sg_turs "/dev/$node"
    expect_stderr "transport: Host_status=0x01 [DID_NO_CONNECT]"
done
for node in sdf sdj sdk sdm sdr sdv dm-0 dm-1 dm-5; do
    sim "$TOPOLOGIES/degraded.json" -- sg_turs "/dev/$node"
    expect_status 0
    expect_stdout </dev/null
done
