# READ CAPACITY through the real sg_readcap: (10) and, with -l or when the
# last block does not fit 32 bits, (16); block sizes of 512 and 4096.
need sg_readcap

sim "$TOPOLOGIES/demo.json" -- sg_readcap /dev/sdb
expect_status 0
expect_stdout <<'END'
Read Capacity results:
   Last LBA=20971519 (0x13fffff), Number of logical blocks=20971520
   Logical block length=512 bytes
Hence:
   Device size: 10737418240 bytes, 10240.0 MiB, 10.74 GB
END

sim "$TOPOLOGIES/demo.json" -- sg_readcap -l /dev/dm-0
expect_status 0
expect_stdout <<'END'
Read Capacity results:
   Protection: prot_en=0, p_type=0, p_i_exponent=0
   Logical block provisioning: lbpme=0, lbprz=0
   Last LBA=20971519 (0x13fffff), Number of logical blocks=20971520
   Logical block length=512 bytes
   Logical blocks per physical block exponent=0
   Lowest aligned LBA=0
Hence:
   Device size: 10737418240 bytes, 10240.0 MiB, 10.74 GB
END

# 3 TiB: READ CAPACITY(10) reports 0xFFFFFFFF and sg_readcap moves on to (16).
sim "$TOPOLOGIES/demo.json" -- sg_readcap /dev/sdd
expect_status 0
expect_line "READ CAPACITY (10) indicates device capacity too large"
expect_line "   Last LBA=6442450943 (0x17fffffff), Number of logical blocks=6442450944"
expect_line "   Device size: 3298534883328 bytes, 3145728.0 MiB, 3298.53 GB, 3.30 TB"
sim "$TOPOLOGIES/demo.json" -- sg_readcap -l /dev/dm-2
expect_status 0
expect_no_line "READ CAPACITY (10) indicates device capacity too large"
expect_line "   Last LBA=6442450943 (0x17fffffff), Number of logical blocks=6442450944"

# 4096-byte blocks, by both commands.
for long in "" -l; do
    sim "$TOPOLOGIES/demo.json" -- sg_readcap $long /dev/sdm
    expect_status 0
    expect_line "   Last LBA=26214399 (0x18fffff), Number of logical blocks=26214400"
    expect_line "   Logical block length=4096 bytes"
    expect_line "   Device size: 107374182400 bytes, 102400.0 MiB, 107.37 GB"
done

sim "$TOPOLOGIES/demo.json" -- sg_readcap /dev/sda
expect_status 0
expect_line "   Last LBA=41943039 (0x27fffff), Number of logical blocks=41943040"

sim "$TOPOLOGIES/iscsi.json" -- sg_readcap -l /dev/sdm
expect_line "   Device size: 214748364800 bytes, 204800.0 MiB, 214.75 GB"

# READ CAPACITY(10) refused as an invalid opcode: sg_readcap says so (with
# -v) and falls back to (16).
sim "$HOSTS/faults.json" -- sg_readcap -v /dev/sdf
expect_status 0
expect_stderr "Additional sense: Invalid command operation code"
expect_stderr "READ CAPACITY (10) not supported, trying READ CAPACITY (16)"
expect_line "   Last LBA=2097151 (0x1fffff), Number of logical blocks=2097152"
