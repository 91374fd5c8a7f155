# The supervisor: a static program, into which nothing can be preloaded,
# meets the same host as a dynamic one (its opens and SG_IO answered, logged
# alike); a program of another ABI is refused; the host lasts as long as
# its last process, and the command's status and signals pass through.
LOG=$WORK/audit.log
TUR="00 00 00 00 00 00"

# The same requests from the sanitized dynamic probe and the static one: the
# same replies, the same audit log, through a node, a dm node and a path
# relative to /dev.
for probe in "$SGIO" "$STATIC_SGIO"; do
    sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- sh -c "
        $probe /dev/sdb '12 01 83 00 fc 00' --len 252
        $probe /dev/dm-1 '25 00 00 00 00 00 00 00 00 00' --len 8
        cd /dev && $probe ./../dev/sdc '$TUR'"
    expect_status 0
    cp "$OUT" "$WORK/replies.${probe##*_}"
    cp "$LOG" "$WORK/audit.${probe##*_}"
done
expect_same "$WORK/replies.probe" "$WORK/replies.static"
expect_same "$WORK/audit.probe" "$WORK/audit.static"
cp "$WORK/audit.static" "$OUT"
expect_stdout <<'END'
open /dev/sdb access=ro flags=0x800
scsi /dev/sdb op=0x12 evpd=1 page=0x83 alloc=252 timeout=5000 access=ro
open /dev/dm-1 access=ro flags=0x800
scsi /dev/dm-1 op=0x25 evpd=0 page=0x00 alloc=8 timeout=5000 access=ro
open /dev/sdc access=ro flags=0x800
scsi /dev/sdc op=0x00 evpd=0 page=0x00 alloc=0 timeout=5000 access=ro
END

# Open faults of a static program: unreadable (EACCES) and vanished (ENOENT)
# nodes, each open logged as tried; a node the host has not is no node.
sim "$HOSTS/faults.json" --audit "$LOG" -- sh -c "
    $STATIC_SGIO /dev/sdg '$TUR'; $STATIC_SGIO /dev/sdh '$TUR'; $STATIC_SGIO /dev/sdz '$TUR'"
expect_stdout <<'END'
open: Permission denied
open: No such file or directory
open: No such file or directory
END
cp "$LOG" "$OUT"
expect_stdout <<'END'
open /dev/sdg access=ro flags=0x800
open /dev/sdh access=ro flags=0x800
END

# The counters a fault consumes are each process's own: two static probes
# in one host both meet the UNIT ATTENTION of the first TEST UNIT READY.
sim "$HOSTS/faults.json" -- sh -c "$STATIC_SGIO /dev/sdb '$TUR'; $STATIC_SGIO /dev/sdb '$TUR'"
checks=$((checks + 1))
count=$(grep -c '^ret=0 status=0x02 ' "$OUT")
[ "$count" = 2 ] || fail "$count UNIT ATTENTIONs, expected one per process"

# As another user: the node is root's, the kernel refuses the open, the log
# has it.
sim "$TOPOLOGIES/demo.json" --uid 1000 --audit "$LOG" -- "$STATIC_SGIO" /dev/sdb "$TUR"
expect_stdout <<'END'
open: Permission denied
END
expect_file_line "$LOG" "open /dev/sdb access=ro flags=0x800"

# A 32-bit program: refused before it runs, with the reason; nothing of it
# reaches a node.
if [ -x "$SGIO32" ]; then
    sim "$TOPOLOGIES/demo.json" --audit "$LOG" -- "$SGIO32" /dev/sdb "$TUR"
    expect_status 126
    expect_stderr "is not an x86-64 program: the simulated host runs 64-bit x86 programs only"
    checks=$((checks + 1))
    [ ! -s "$LOG" ] || fail "the refused 32-bit program left an audit log"
    # Started from a shell of the host, the shell meets the same refusal.
    sim "$TOPOLOGIES/demo.json" -- sh -c "$SGIO32 /dev/sdb '$TUR' || echo \"refused \$?\""
    expect_stdout <<'END'
refused 126
END
else
    echo "note: no static 32-bit probe (the compiler cannot link one); its refusal is not checked"
fi

# A process the command leaves behind is still simulated after the command
# ended, and the run ends with it, with the command's status.
sim "$TOPOLOGIES/demo.json" -- sh -c "
    (/bin/sleep 0.3; $STATIC_SGIO /dev/sdb '12 00 00 00 24 00' --len 36 >$WORK/late) & exit 3"
expect_status 3
expect_file_line "$WORK/late" "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"

# A command killed by a signal: sansim ends by the same signal. A signal
# sent to sansim alone reaches the command.
sim "$TOPOLOGIES/demo.json" -- sh -c 'kill -TERM $$'
expect_status 143
"$SANSIM" run "$TOPOLOGIES/demo.json" -- /bin/sleep 30 >"$OUT" 2>"$ERR" &
runner=$!
/bin/sleep 0.5
kill -TERM "$runner"
wait "$runner"
STATUS=$?
LAST="kill -TERM sansim running sleep 30"
expect_status 143
