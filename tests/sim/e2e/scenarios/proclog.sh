# The process log: one line per process that ends normally, with its own
# costs and what loading the topology added: only a process that started a
# command line loads it (to know whether the host can start it); a process
# that talks to the devices pays nothing for them, the supervisor answers.
need sg_turs

LOG=$WORK/proc.log
sg_turs=$(command -v sg_turs)
sim "$TOPOLOGIES/demo.json" --proclog "$LOG" -- sh -c \
    "cat /dev/null; $sg_turs /dev/sdb; $PROBE popen 'cat /dev/null'; :"
expect_status 0
cp "$LOG" "$OUT"
expect_match "^proc pid=[0-9]+ ppid=[0-9]+ comm=cat wall_us=[0-9]+ user_us=[0-9]+ sys_us=[0-9]+ hwm_kib=[1-9][0-9]* sim_kib=0 sim_us=0$"
expect_match "^proc pid=[0-9]+ ppid=[0-9]+ comm=sg_turs wall_us=[0-9]+ user_us=[0-9]+ sys_us=[0-9]+ hwm_kib=[1-9][0-9]* sim_kib=0 sim_us=0$"
expect_match "^proc pid=[0-9]+ ppid=[0-9]+ comm=sansim_popen_pr wall_us=[0-9]+ user_us=[0-9]+ sys_us=[0-9]+ hwm_kib=[1-9][0-9]* sim_kib=-?[0-9]+ sim_us=[1-9][0-9]*$"
checks=$((checks + 1))
[ "$(wc -l <"$LOG")" -ge 3 ] || fail "fewer than three processes logged"

# Written afresh for every run (the command itself is a process of the
# host); nothing without --proclog.
sim "$TOPOLOGIES/demo.json" --proclog "$LOG" -- true
cp "$LOG" "$OUT"
checks=$((checks + 1))
[ "$(wc -l <"$LOG")" = 1 ] || fail "the log holds more than the one process"
expect_match "^proc pid=[0-9]+ ppid=[0-9]+ comm=true "
rm -f "$LOG"
sim "$TOPOLOGIES/demo.json" -- sh -c 'cat /dev/null'
checks=$((checks + 1))
[ ! -e "$LOG" ] || fail "a log was written without --proclog"
