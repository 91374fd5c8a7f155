# The audit log: every open of a simulated node and every SCSI command sent,
# from every process of the host. sg_inq, sg_vpd and sg_turs open nodes
# read-only; sg_readcap opens read-write unless given -R.
need sg_inq sg_vpd sg_turs sg_readcap

LOG=$WORK/audit.log

sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sg_turs /dev/sdc
expect_status 0
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdc access=ro flags=0x800
scsi /dev/sdc op=0x00 evpd=0 page=0x00 alloc=0 timeout=60000 access=ro
END

# The log is emptied for each run; a relative path is made absolute.
(cd "$WORK" && "$SANSIM" run "$TOPOLOGIES/demo.json" --audit audit.log -- sg_vpd -p di /dev/dm-1 \
    >/dev/null)
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/dm-1 access=ro flags=0x800
scsi /dev/dm-1 op=0x12 evpd=1 page=0x00 alloc=252 timeout=60000 access=ro
scsi /dev/dm-1 op=0x12 evpd=1 page=0x83 alloc=252 timeout=60000 access=ro
END

sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sg_inq /dev/sdb
cp "$LOG" "$OUT"
expect_line "open /dev/sdb access=ro flags=0x800"
expect_line "scsi /dev/sdb op=0x12 evpd=0 page=0x00 alloc=36 timeout=60000 access=ro"
expect_line "scsi /dev/sdb op=0x12 evpd=1 page=0x80 alloc=252 timeout=60000 access=ro"

sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sg_readcap -l /dev/sdd
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdd access=rw flags=0x802
scsi /dev/sdd op=0x9e evpd=0 page=0x00 alloc=32 timeout=60000 access=rw
END
sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sg_readcap -R /dev/sdd
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdd access=ro flags=0x800
scsi /dev/sdd op=0x25 evpd=0 page=0x00 alloc=8 timeout=60000 access=ro
scsi /dev/sdd op=0x9e evpd=0 page=0x00 alloc=32 timeout=60000 access=ro
END

# Several processes of one host append to one log: the clients through a
# shell, faults included. Commands that fail are logged as sent; opens that
# a fault refuses are logged as tried.
sg_inq=$(command -v sg_inq)
sg_turs=$(command -v sg_turs)
sim "$HOSTS/faults.json" --audit "$LOG" -- sh -c "
    $sg_turs /dev/sdd; $sg_turs /dev/sdc; $sg_inq /dev/sdg; $sg_turs /dev/sdh; cat /dev/sdf
    $sg_turs /dev/nonexistent; cat /dev/null"
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdd access=ro flags=0x800
scsi /dev/sdd op=0x00 evpd=0 page=0x00 alloc=0 timeout=60000 access=ro
open /dev/sdc access=ro flags=0x800
scsi /dev/sdc op=0x00 evpd=0 page=0x00 alloc=0 timeout=60000 access=ro
open /dev/sdg access=ro flags=0x800
open /dev/sdh access=ro flags=0x800
open /dev/sdf access=ro flags=0x0
END

# Every client open of this file was read-only but sg_readcap's default.
sim "$TOPOLOGIES/iscsi.json" --audit "$LOG" -- sh -c "
    for node in /dev/sd? /dev/dm-?; do
        $sg_inq \$node; $(command -v sg_vpd) -p di \$node; $sg_turs \$node
        $(command -v sg_readcap) -R \$node
    done >/dev/null"
checks=$((checks + 1))
opens=$(grep -c '^open ' "$LOG")
[ "$opens" = $((16 * 4)) ] || fail "$opens opens logged, expected 64"
checks=$((checks + 1))
! grep -v 'access=ro' "$LOG" || fail "a node was opened or used for writing"

# Without --audit nothing is logged, and SANSIM_AUDIT is not passed on.
rm -f "$LOG"
run env SANSIM_AUDIT="$LOG" "$SANSIM" run "$TOPOLOGIES/demo.json" -- sh -c \
    'echo "${SANSIM_AUDIT-unset}"; '"$sg_turs"' /dev/sdb'
expect_status 0
expect_stdout <<'END'
unset
END
checks=$((checks + 1))
[ ! -e "$LOG" ] || fail "a log was written without --audit"
