# The SG_IO header as a simulated node fills it, field by field, against
# what the kernel's SCSI ioctl path does: status and masked status, host and
# driver status, info (SG_INFO_CHECK on any error), sense clipped to
# mx_sb_len, data clipped to dxfer_len and the allocation length, resid,
# scatter lists, and the errors of the ioctl itself. The probe fills every
# buffer with 0xee first; "| ee" shows the byte after the data untouched.

# TEST UNIT READY: all clear.
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "00 00 00 00 00 00"
expect_stdout <<'END'
ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0
data[0]=
sense[0]= | ee
END

# INQUIRY for 96 bytes into a 200-byte buffer: 96 arrive, resid 104.
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "12 00 00 00 60 00" --len 200
expect_stdout <<'END'
ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=104
data[96]=00 00 06 02 5b 00 00 00 51 45 4c 4d 41 52 20 20 | ee
sense[0]= | ee
END
cp "$OUT" "$WORK/contiguous"
# The same through a scatter list of three parts.
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "12 00 00 00 60 00" --len 200 --iov 3
expect_same "$WORK/contiguous" "$OUT"

# An allocation length beyond the buffer: the buffer bounds the transfer.
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "12 00 00 00 c8 00" --len 36
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"
expect_line "data[36]=00 00 06 02 5b 00 00 00 51 45 4c 4d 41 52 20 20"

# CHECK CONDITION: ILLEGAL REQUEST, INVALID FIELD IN CDB for a missing page,
# with its sense whole and clipped to 8 bytes.
sim "$HOSTS/faults.json" -- "$SGIO" /dev/sde "12 01 80 00 fc 00" --len 252
expect_stdout <<'END'
ret=0 status=0x02 masked=0x01 msg=0x00 host=0x0000 driver=0x0008 info=0x1 sb_len_wr=18 resid=252
data[0]= | ee
sense[18]=70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 | ee
END
sim "$HOSTS/faults.json" -- "$SGIO" /dev/sde "12 01 80 00 fc 00" --len 252 --sb 8
expect_line "ret=0 status=0x02 masked=0x01 msg=0x00 host=0x0000 driver=0x0008 info=0x1 sb_len_wr=8 resid=252"
expect_line "sense[8]=70 00 05 00 00 00 00 0a | ee"

# UNIT ATTENTION in descriptor format.
sim "$HOSTS/faults.json" -- "$SGIO" /dev/sdj "00 00 00 00 00 00"
expect_line "ret=0 status=0x02 masked=0x01 msg=0x00 host=0x0000 driver=0x0008 info=0x1 sb_len_wr=18 resid=0"
expect_match '^sense\[18\]=72 06 29 00 '

# A dead path: DID_NO_CONNECT, nothing transferred.
sim "$TOPOLOGIES/degraded.json" -- "$SGIO" /dev/sdb "12 00 00 00 24 00" --len 36
expect_stdout <<'END'
ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0001 driver=0x0000 info=0x1 sb_len_wr=0 resid=36
data[0]= | ee
sense[0]= | ee
END

# The ioctl itself fails: the fault's errno, a malformed header, a transfer
# without a direction, a device that knows no SG_IO.
sim "$HOSTS/faults.json" -- "$SGIO" /dev/sdd "00 00 00 00 00 00"
expect_stdout <<'END'
ret=-1 errno=Input/output error
END
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "00 00 00 00 00 00" --interface Q
expect_stdout <<'END'
ret=-1 errno=Invalid argument
END
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "12 00 00 00 60 00" --len 96 --dir none
expect_stdout <<'END'
ret=-1 errno=Invalid argument
END
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/loop0 "00 00 00 00 00 00"
expect_stdout <<'END'
ret=-1 errno=Inappropriate ioctl for device
END

# Everything else reaches the kernel: other requests on a node, SG_IO on a
# file that is not a node.
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/sdb "00" --ioctl blkgetsize64
expect_stdout <<'END'
ret=-1 errno=Inappropriate ioctl for device
END
sim "$TOPOLOGIES/demo.json" -- "$SGIO" /dev/null "00 00 00 00 00 00"
expect_stdout <<'END'
ret=-1 errno=Inappropriate ioctl for device
END
