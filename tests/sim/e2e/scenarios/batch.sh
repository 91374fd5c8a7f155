# Many commands on one start of a host (sansim batch): each sees the host
# as a fresh start would, and starts only when the one before it is gone.
need sg_turs

# batch HOST PLAN_LINES...: runs the plan (JSON list of the given items)
# on HOST; the status of sansim itself in STATUS.
batch() {
    host=$1
    shift
    printf '[%s]\n' "$(printf '%s,' "$@" | sed 's/,$//')" >"$WORK/plan.json"
    LAST="sansim batch $host $WORK/plan.json"
    "$SANSIM" batch "$host" "$WORK/plan.json" >"$OUT" 2>"$ERR"
    STATUS=$?
}
item() {
    printf '{"argv": %s, "stdout": "%s/%s.out", "stderr": "%s/%s.err", "status": "%s/%s.status", "audit": "%s/%s.audit"}' \
        "$2" "$WORK" "$1" "$WORK" "$1" "$WORK" "$1" "$WORK" "$1"
}

# A captured host's listing runs start from the first run for every
# command, as on a fresh start; within one command they go on.
CAPTURE=$HOSTS/capture.json
batch "$CAPTURE" "$(item a '["sh", "-c", "multipath -ll; multipath -ll; echo $?"]')" \
    "$(item b '["sh", "-c", "multipath -ll"]')"
expect_status 0
printf 'first run \351\nsecond run\n1\n' >"$WORK/a.want"
expect_same "$WORK/a.want" "$WORK/a.out"
printf 'first run \351\n' >"$WORK/b.want"
expect_same "$WORK/b.want" "$WORK/b.out"

# A unit's pending unit attention, for each command anew; each command's
# own audit log, and its status.
FAULTS=$HOSTS/faults.json
batch "$FAULTS" "$(item c '["sg_turs", "/dev/sdb"]')" "$(item d '["sg_turs", "/dev/sdb"]')" \
    "$(item e '["sh", "-c", "exit 3"]')"
expect_status 0
expect_same "$WORK/c.status" "$WORK/d.status"
expect_file_line "$WORK/c.status" "6"
expect_same "$WORK/c.err" "$WORK/d.err"
expect_file_line "$WORK/c.audit" "scsi /dev/sdb op=0x00 evpd=0 page=0x00 alloc=0 timeout=60000 access=ro"
expect_same "$WORK/c.audit" "$WORK/d.audit"
expect_file_line "$WORK/e.status" "3"

# A process the first command leaves behind ends before the next starts;
# host time starts at zero for each command (at this host's scale the
# first command's 0.3 s are 300 host seconds: the second command's first
# SCSI command comes a few host seconds into its own run, not after them).
TIMED=$HOSTS/timing.json
TURS=$(command -v sg_turs)
batch "$TIMED" \
    "$(item f "[\"sh\", \"-c\", \"(sleep 0.3; echo late >$WORK/late) & $TURS /dev/sdc\"]")" \
    "$(item g "[\"sh\", \"-c\", \"cat $WORK/late; $TURS /dev/sdc\"]")"
expect_status 0
expect_file_line "$WORK/g.out" "late"
for run in f g; do
    checks=$((checks + 1))
    start=$(sed -n 's/.* start_us=\([0-9]*\) .*/\1/p' "$WORK/$run.audit")
    [ -n "$start" ] && [ "$start" -lt 100000000 ] ||
        fail "$run: the command's host time does not start from zero: start_us=$start"
done

# Standard output closed, and on the caller's /dev/full; a command ended by
# a signal gives 128 + its number, and the batch goes on.
printf '[{"argv": ["sh", "-c", "echo x; echo $? >%s/h.rc"], "stdout": "closed"},
  {"argv": ["sh", "-c", "echo x"], "stdout": "/dev/full", "status": "%s/i.status", "stderr": "%s/i.err"},
  {"argv": ["sh", "-c", "kill -TERM $$"], "status": "%s/j.status"},
  {"argv": ["true"], "status": "%s/k.status"}]\n' "$WORK" "$WORK" "$WORK" "$WORK" "$WORK" \
    >"$WORK/plan.json"
run "$SANSIM" batch "$FAULTS" "$WORK/plan.json"
expect_status 0
expect_file_line "$WORK/h.rc" "1"
expect_file_line "$WORK/i.status" "1"
expect_file_line "$WORK/j.status" "143"
expect_file_line "$WORK/k.status" "0"

# A plan at fault is refused before anything runs.
printf '[{"argv": ["true"], "colour": "red"}]\n' >"$WORK/plan.json"
run "$SANSIM" batch "$FAULTS" "$WORK/plan.json"
expect_status 2
expect_stderr "[0].colour: unknown key"
printf '[{"argv": ["no-such-program-here"]}]\n' >"$WORK/plan.json"
run "$SANSIM" batch "$FAULTS" "$WORK/plan.json"
expect_status 2
expect_stderr "no-such-program-here: command not found"
printf '[{"argv": ["true"], "stdout": "/sys/out"}]\n' >"$WORK/plan.json"
run "$SANSIM" batch "$FAULTS" "$WORK/plan.json"
expect_status 2
expect_stderr "/sys/out would be hidden by the simulated /dev and /sys"
