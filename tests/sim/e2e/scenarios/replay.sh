# A captured host served back: the recorded /sys entries in their recorded
# order, the nodes in their recorded states, each listing run in turn and
# each command's replies in turn; a command that was not recorded is an
# ILLEGAL REQUEST.
need sg_turs
HOST=$HOSTS/capture.json
PY=/usr/bin/python3

sim "$HOST" -- "$PY" -c 'import os; print(os.listdir("/sys/block"))
print(open("/sys/block/sdb/size").read(), end="")
print(os.readlink("/sys/block/sdb/device"), os.path.isdir("/sys/block/sdc"))
print(open("/sys/class/scsi_host/host3/proc_name").read(), end="")
print(sorted(n for n in os.listdir("/dev") if n.startswith("sd")))'
expect_status 0
expect_stdout <<'END'
['sdc', 'sdb']
2048
../../../3:0:0:1 True
qla2xxx
['sdb', 'sdc', 'sde']
END

# Each run of the listing prints its run, byte for byte (the recorded U+00E9
# is the byte 0xE9); a run recorded as not started has nothing to print.
sim "$HOST" -- sh -c 'multipath -ll; echo "status $?"; multipath -ll; echo "status $?";
    multipath -ll; echo "status $?"; multipath -ll; echo "status $?"'
printf 'first run \351\nstatus 0\nsecond run\nstatus 1\nstatus 127\nstatus 127\n' >"$WORK/runs"
expect_same "$WORK/runs" "$OUT"

# The commands the capture found on PATH, and no others.
sim "$HOST" -- sh -c 'which tsadm; which tsTools; which esxcli; echo done'
expect_stdout <<'END'
/dev/.sansim/bin/tsadm
done
END

# A unit attention, then GOOD from then on, within one process; a fresh
# process meets the unit attention again.
sim "$HOST" -- sg_turs -n 3 /dev/sdb
expect_stdout <<'END'
Completed 3 Test Unit Ready commands with 1 errors
END
sim "$HOST" -- "$SGIO" /dev/sdb "00 00 00 00 00 00"
expect_line "ret=0 status=0x02 masked=0x01 msg=0x00 host=0x0000 driver=0x0008 info=0x1 sb_len_wr=18 resid=0"

# The recorded bytes of a command, and a recorded transport timeout at once.
sim "$HOST" -- "$SGIO" /dev/sdb "12 00 00 00 24 00" --len 36
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"
expect_line "data[36]=00 00 06 02 1f 00 00 00 51 45 4c 4d 41 52 20 20"
sim "$HOST" -- "$SGIO" /dev/sdb "12 01 83 00 40 00" --len 64
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0003 driver=0x0000 info=0x1 sb_len_wr=0 resid=64"

# Not recorded: CHECK CONDITION, ILLEGAL REQUEST, INVALID FIELD IN CDB.
sim "$HOST" -- "$SGIO" /dev/sdb "12 01 80 00 40 00" --len 64
expect_line "ret=0 status=0x02 masked=0x01 msg=0x00 host=0x0000 driver=0x0008 info=0x1 sb_len_wr=18 resid=64"
expect_line "sense[18]=70 00 05 00 00 00 00 0a 00 00 00 00 24 00 00 00 | ee"

# A recorded ioctl failure, an unreadable node, a missing one.
sim "$HOST" -- "$SGIO" /dev/sde "00 00 00 00 00 00"
expect_line "ret=-1 errno=Input/output error"
sim "$HOST" -- sg_turs /dev/sdc
expect_stderr "Permission denied"
sim "$HOST" -- sg_turs /dev/sdd
expect_stderr "No such file or directory"

# A capture that this simulator cannot serve is refused with its place.
sed 's/"version": 1/"version": 2/' "$HOST" >"$WORK/v2.json"
sim "$WORK/v2.json" -- true
expect_status 2
expect_stderr "version: this simulator replays captures of version 1"
sed 's#"devices/platform/host3/target3:0:0/3:0:0:1/block/sdb/size"#"block/../sdb"#' "$HOST" \
    >"$WORK/dotdot.json"
sim "$WORK/dotdot.json" -- true
expect_status 2
expect_stderr "sysfs[3].path: expected a path below /sys without . or .."
sed 's#qla2xxx#qla\\u0100#' "$HOST" >"$WORK/wide.json"
sim "$WORK/wide.json" -- true
expect_status 2
expect_stderr "sysfs[6].text: a character above U+00FF"
