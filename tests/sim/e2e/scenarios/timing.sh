# Time on the host (its "timing"): a hung path answers nothing until the
# request's effective timeout has passed (the requested one, 60 s for none,
# raised to 7 s), then completes as the kernel completes a timed-out SG_IO:
# the ioctl succeeds with host status DID_TIME_OUT, no SCSI status, no data,
# no sense. A dm node whose current path is hung times out the same way;
# the paths that answer keep their answers. The audit log gains each
# command's start and end in host time. The host runs at scale 0.001, so a
# host second is a real millisecond.
need sg_turs
HOST=$HOSTS/timing.json
LOG=$WORK/audit.log

# INQUIRY on the hung path with the 10 ms the tools ask for: raised to 7 s.
sim "$HOST" --audit "$LOG" -- "$SGIO" /dev/sdb "12 00 00 00 60 00" --len 96 --timeout 10 \
    --duration at-least
expect_stdout <<'END'
ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0003 driver=0x0000 info=0x1 sb_len_wr=0 resid=96
data[0]= | ee
sense[0]= | ee
duration at least 7000 ms
END
# Its audit line: the start and the end at least the timeout apart, its own
# host time exactly the timeout, and the thread that asked.
awk '/^scsi/ { for (i = 1; i <= NF; i++) { split($i, f, "="); v[f[1]] = f[2] }
               print (v["end_us"] - v["start_us"] >= 7000000) ? "held 7 s" : "answered early"
               print "own_us=" v["own_us"], (v["tid"] > 0) ? "tid given" : "no tid" }' \
    "$LOG" >"$OUT"
expect_stdout <<'END'
held 7 s
own_us=7000000 tid given
END

# No timeout given: 60 s. Through the dm node, whose current path is sdb.
sim "$HOST" -- "$SGIO" /dev/dm-0 "00 00 00 00 00 00" --timeout 0 --duration at-least
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0003 driver=0x0000 info=0x1 sb_len_wr=0 resid=0"
expect_line "duration at least 60000 ms"

# The other path of that LUN, and the other LUN, answer as on any host.
sim "$HOST" -- "$SGIO" /dev/sdc "00 00 00 00 00 00"
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"
sim "$HOST" -- "$SGIO" /dev/dm-1 "12 00 00 00 60 00" --len 96
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"

# A real client sees a transport timeout.
sim "$HOST" -- sg_turs -v /dev/sdb
expect_stderr "Host_status=0x03 [DID_TIME_OUT]"

# Commands on different nodes overlap: while sdb holds its INQUIRY, the
# commands of sdc start and end (two clients at once on the host). At scale
# 0.1 the hold is 0.7 s of real time, far more than a probe takes to start.
sed 's/"scale": 0.001/"scale": 0.1/' "$HOST" >"$WORK/slower.json"
sim "$WORK/slower.json" --audit "$LOG" -- sh -c "$SGIO /dev/sdb '12 00 00 00 60 00' --len 96 --timeout 10 >/dev/null &
    $SGIO /dev/sdc '00 00 00 00 00 00' >/dev/null; wait"
awk '/^scsi/ { for (i = 1; i <= NF; i++) { split($i, f, "="); v[f[1]] = f[2] }
               s[$2] = v["start_us"]; e[$2] = v["end_us"] }
     END { print (e["/dev/sdc"] < e["/dev/sdb"]) ? "sdc answered while sdb hung" : "sdc waited" }' \
    "$LOG" >"$OUT"
expect_stdout <<'END'
sdc answered while sdb hung
END

# A host without timing writes the audit lines as before.
sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sg_turs /dev/sdc
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdc access=ro flags=0x800
scsi /dev/sdc op=0x00 evpd=0 page=0x00 alloc=0 timeout=60000 access=ro
END

# A timing that cannot be: refused when the host is loaded.
printf '{"timing": {"scale": 0}, "luns": []}' >"$WORK/bad.json"
sim "$WORK/bad.json" -- true
expect_status 2
expect_stderr "timing.scale: expected a number above 0, at most 1000"
