# A map without a usable path, as dm-multipath treats SG_IO on its node:
# while the map queues I/O (features='1 queue_if_no_path') the ioctl never
# returns, a caught signal does not end the wait and only a fatal one does;
# a map that does not queue (features='0') fails the ioctl with EIO at once.
# The audit log writes a held command when it arrives, marked held=1. With
# and without timing alike. Every wait is bounded.
need timeout
HOST=$HOSTS/no_path.json
LOG=$WORK/audit.log
INQ="12 00 00 00 60 00"
cat >"$WORK/timed.json" <<END
{ "base": "$HOST", "timing": { "service_us": 200, "scale": 0.001 } }
END

# poll FILE TEXT: true once some line of FILE holds TEXT, false after 300
# looks a tenth of a second apart.
poll() {
    n=0
    while ! grep -Fq -- "$2" "$1" 2>/dev/null; do
        [ "$n" -lt 300 ] || return 1
        n=$((n + 1))
        sleep 0.1
    done
}

# hold_check HOST: INQUIRY on dm-0 from a second thread of the probe. Once
# the supervisor has it (its audit line), the probe takes a SIGUSR1 and
# sends one to that thread, which sleeps on with the signal pending; the run
# goes on until the probe is killed, and nothing ever answers the ioctl.
hold_check() {
    rm -f "$LOG" "$WORK/held.out"
    LAST="sansim run $1 -- sgio_probe /dev/dm-0 --catch usr1, killed"
    timeout -k 10 120 "$SANSIM" run "$1" --audit "$LOG" -- "$SGIO" /dev/dm-0 "$INQ" --len 96 \
        --catch usr1 >"$WORK/held.out" 2>"$ERR" &
    runner=$!
    pid=
    if poll "$WORK/held.out" "pid=" && poll "$LOG" " held=1"; then
        pid=$(sed -n 's/^pid=//p' "$WORK/held.out")
        kill -USR1 "$pid"
        poll "$WORK/held.out" "ioctl thread:"
    fi
    checks=$((checks + 1))
    kill -0 "$runner" 2>/dev/null || fail "the run ended before the probe was killed"
    if [ -n "$pid" ]; then kill -KILL "$pid"; else kill -TERM "$runner"; fi
    wait "$runner"
    STATUS=$?
    expect_status 137
    sed '/^pid=/d' "$WORK/held.out" >"$OUT"
    expect_stdout <<'END'
caught SIGUSR1
ioctl thread: state D, SIGUSR1 pending
END
    cp "$LOG" "$OUT"
    expect_stdout <<'END'
open /dev/dm-0 access=ro flags=0x800
scsi /dev/dm-0 op=0x12 evpd=0 page=0x00 alloc=96 timeout=5000 access=ro held=1
END
}

hold_check "$HOST"
hold_check "$WORK/timed.json"

# The map that has paths answers on the same host.
bounded "$HOST" -- "$SGIO" /dev/dm-1 "00 00 00 00 00 00"
expect_line "ret=0 status=0x00 masked=0x00 msg=0x00 host=0x0000 driver=0x0000 info=0x0 sb_len_wr=0 resid=0"

# The same map not queueing: its listing says so, and the ioctl fails.
for host in "$HOST" "$WORK/timed.json"; do
    cat >"$WORK/no_queue.json" <<END
{ "base": "$host", "luns": { "db01": { "queue_if_no_path": false } } }
END
    bounded "$WORK/no_queue.json" --audit "$LOG" -- "$SGIO" /dev/dm-0 "$INQ" --len 96
    expect_stdout <<'END'
ret=-1 errno=Input/output error
END
    expect_file_line "$LOG" "scsi /dev/dm-0 op=0x12 evpd=0 page=0x00 alloc=96 timeout=5000 access=ro"
done
# Only db01's map changed: db02's still queues.
bounded "$WORK/no_queue.json" -- sh -c 'multipath -ll'
sed -n '2p;8p' "$OUT" >"$WORK/features"
cp "$WORK/features" "$OUT"
expect_stdout <<'END'
size=10G features='0' hwhandler='1 alua' wp=rw
size=10G features='1 queue_if_no_path' hwhandler='1 alua' wp=rw
END
