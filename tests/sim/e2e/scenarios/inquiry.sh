# Standard INQUIRY through the real sg_inq: vendor, product and revision
# (blank padded to their field widths) and the unit serial number, as the
# topologies give them.
need sg_inq

# A path of a QELMAR LUN, the whole decode.
sim "$TOPOLOGIES/demo.json" -- sg_inq /dev/sdb
expect_status 0
expect_stdout <<'END'
standard INQUIRY:
  PQual=0  PDT=0  RMB=0  LU_CONG=0  hot_pluggable=0  version=0x06  [SPC-4]
  [AERC=0]  [TrmTsk=0]  NormACA=0  HiSUP=0  Resp_data_format=2
  SCCS=0  ACC=0  TPGS=0  3PC=0  Protect=0  [BQue=0]
  EncServ=0  MultiP=0  [MChngr=0]  [ACKREQQ=0]  Addr16=0
  [RelAdr=0]  WBus16=0  Sync=0  [Linked=0]  [TranDis=0]  CmdQue=0
  [SPI: Clocking=0x0  QAS=0  IUS=0]
    length=96 (0x60)   Peripheral device type: disk
 Vendor identification: QELMAR  
 Product identification: VSA1000         
 Product revision level: 0100
 Unit serial number: 2102351234ABCDEF0001
END

# The multipath node answers as one of its paths.
sim "$TOPOLOGIES/demo.json" -- sg_inq /dev/dm-2
expect_status 0
expect_line " Vendor identification: QELMAR  "
expect_line " Unit serial number: 2102351234ABCDEF0001"

# The second array is another vendor's.
sim "$TOPOLOGIES/demo.json" -- sg_inq /dev/sdu
expect_status 0
expect_line " Vendor identification: ZUNTA   "
expect_line " Product identification: ZX200           "
expect_line " Product revision level: 0207"
expect_line " Unit serial number: 3309871234FEDCBA0002"

# The local disk has no unit serial number page.
sim "$TOPOLOGIES/demo.json" -- sg_inq /dev/sda
expect_status 0
expect_line " Vendor identification: ATA     "
expect_line " Product identification: VIRTUAL-DISK    "
expect_line " Product revision level: 1.0 "
expect_match '^    length=96 \(0x60\)   Peripheral device type: disk$'
checks=$((checks + 1))
! grep -q 'Unit serial number' "$OUT" || fail "sda reports a unit serial number"

# iSCSI host: same array model, its own serial.
sim "$TOPOLOGIES/iscsi.json" -- sg_inq /dev/sdc
expect_status 0
expect_line " Vendor identification: QELMAR  "
expect_line " Unit serial number: 2102351234ABCDEF0101"

# Degraded host: the map of db01 still answers through its live paths.
sim "$TOPOLOGIES/degraded.json" -- sg_inq /dev/dm-0
expect_status 0
expect_line " Product identification: VSA1000         "

# A dead path transfers nothing: sg_inq sees the transport error and an
# empty response.
sim "$TOPOLOGIES/degraded.json" -- sg_inq /dev/sdb
expect_stderr "inquiry: transport: Host_status=0x01 [DID_NO_CONNECT]"
expect_line " Inquiry response length=0, no vendor, product or revision data"
