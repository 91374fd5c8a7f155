# VPD pages through the real sg_vpd: supported pages, unit serial number,
# the NAA designator (the LUN's WWID without its leading 3), a vendor page
# read whole, and a page the device does not have.
need sg_vpd od

sim "$TOPOLOGIES/demo.json" -- sg_vpd /dev/sdb
expect_status 0
expect_stdout <<'END'
Supported VPD pages VPD page:
  Supported VPD pages [sv]
  Unit serial number [sn]
  Device identification [di]
  0xc0
  0xc4
  0xc8
  0xc9
END

sim "$TOPOLOGIES/demo.json" -- sg_vpd -p sn /dev/sdb
expect_status 0
expect_stdout <<'END'
Unit serial number VPD page:
  Unit serial number: 2102351234ABCDEF0001
END

sim "$TOPOLOGIES/demo.json" -- sg_vpd -p di /dev/sdb
expect_status 0
expect_stdout <<'END'
Device Identification VPD page:
  Addressed logical unit:
    designator type: NAA,  code set: Binary
      0x6e0fc123456000000000000000000011
END

# Every path of a LUN and its map carry the LUN's designator.
for node in sdi sdq dm-3; do
    sim "$TOPOLOGIES/demo.json" -- sg_vpd -p di "/dev/$node"
    expect_status 0
    expect_line "      0x6e0fc123456000000000000000000014"
done
sim "$TOPOLOGIES/demo.json" -- sg_vpd -p di /dev/sdt
expect_line "      0x6f4e9d45678000000000000000000005"
sim "$TOPOLOGIES/iscsi.json" -- sg_vpd -p di /dev/dm-2
expect_line "      0x6e0fc12345601010000000000000002b"
sim "$TOPOLOGIES/iscsi.json" -- sg_vpd -p sn /dev/sdl
expect_line "  Unit serial number: 2102351234ABCDEF0101"

# Page 0xC0 read whole (700 bytes) from an iSCSI path: port type 3, the
# target port and initiator identifiers.
sim "$TOPOLOGIES/iscsi.json" -- sg_vpd -p 0xc0 -m 700 -r /dev/sdg
expect_status 0
checks=$((checks + 1))
size=$(wc -c <"$OUT")
[ "$size" = 700 ] || fail "page 0xC0 is $size bytes, expected 700"
checks=$((checks + 1))
port_type=$(od -An -tu1 -j191 -N1 "$OUT" | tr -d ' ')
[ "$port_type" = 3 ] || fail "page 0xC0 port type $port_type, expected 3"
checks=$((checks + 1))
target=$(od -An -c -j192 -N241 -w241 "$OUT" | tr -d ' ' | sed 's/\\0//g')
[ "$target" = "iqn.2006-08.com.qelmar:vsa1000.2102351234abcdef0101.b0,t,0x0101" ] ||
    fail "page 0xC0 target port '$target'"
checks=$((checks + 1))
initiator=$(od -An -c -j433 -N241 -w241 "$OUT" | tr -d ' ' | sed 's/\\0//g')
[ "$initiator" = "iqn.1993-08.org.debian:01:5e2f8a9c0d41" ] ||
    fail "page 0xC0 initiator port '$initiator'"

# A missing page is not in the supported list; sg_vpd refuses to ask for it,
# and when forced the device answers ILLEGAL REQUEST.
sim "$HOSTS/faults.json" -- sg_vpd -p 0x00 /dev/sde
expect_status 0
expect_no_line "  Unit serial number [sn]"
sim "$HOSTS/faults.json" -- sg_vpd -v -p sn /dev/sde
expect_status 83
expect_stderr "Given VPD page not in supported list"
sim "$HOSTS/faults.json" -- sg_vpd --force -p sn /dev/sde
expect_status 5
expect_stderr "fetching VPD page failed: Illegal request"
