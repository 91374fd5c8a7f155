# Processes killed while their SG_IO waits, as the kernel treats them: a
# thread in SG_IO on a block node sleeps uninterruptibly until the command
# completes or times out, so a killed process cannot finish exiting before
# then: it keeps its descriptors open (a pipe's reader sees no end of file)
# and its exit is not reported. Only the process's own descriptors are kept:
# a child that closed its caller's lets the caller go at once. A command a
# queueing map holds is different: the retry loop ends on the fatal signal.
# A hanging listing prints nothing and lasts until a signal ends it.
#
# Orders are read from the audit log's host time: `release pid=N at_us=T`
# when a killed process's descriptors are let go, `exit pid=N status=S
# at_us=T` when the runner reports the command's exit. The host runs at
# scale 0.1: the 7 s a hung path takes are 0.7 s of real time, far more
# than a probe takes to see that the supervisor has its request.
need timeout
HOST=$WORK/slow.json
LOG=$WORK/audit.log
INQ="12 00 00 00 60 00"
HUNG_US=7000000
cat >"$HOST" <<END
{ "base": "$HOSTS/timing.json", "timing": { "scale": 0.1 },
  "luns": { "db02": { "paths": { "sdd": { "dm_state": "failed" },
                                 "sde": { "dm_state": "failed" } } } } }
END

# value START KEY: the KEY= value of the first audit line that starts with
# START; empty when there is none.
value() {
    awk -v start="$1" -v key="$2" 'index($0, start) == 1 {
        for (i = 1; i <= NF; i++) if (index($i, key "=") == 1) {
            print substr($i, length(key) + 2); exit } }' "$LOG"
}

# before A B WHAT: host time A comes before host time B (or with it).
before() {
    checks=$((checks + 1))
    [ -n "$1" ] && [ -n "$2" ] && [ "$1" -le "$2" ] || {
        fail "$3 (host times '$1', '$2')"
        sed 's/^/  audit| /' "$LOG"
    }
}

# lines START: how many audit lines start with START.
lines() {
    awk -v start="$1" 'index($0, start) == 1 { n++ } END { print n + 0 }' "$LOG"
}

# (a) The command itself is killed while its INQUIRY waits on the hung
# path: the command is never answered, its descriptors are let go when its
# timeout has passed, and only then is its exit reported.
bounded "$HOST" --audit "$LOG" -- "$SGIO" /dev/sdb "$INQ" --len 96 --timeout 10 --kill self
expect_status 137
expect_stdout <<'END'
killing myself
END
release=$(value "release pid=" at_us)
exited=$(value "exit pid=" at_us)
before "$HUNG_US" "$release" "the descriptors were let go before the timeout could pass"
before "$release" "$exited" "the exit was reported before the descriptors were let go"
cp "$LOG" "$OUT"
expect_match "^exit pid=[0-9]+ status=137 at_us=[0-9]+$"
checks=$((checks + 1))
[ "$(lines "scsi /dev/sdb")" = 0 ] || fail "the killed command was answered"
checks=$((checks + 1))
[ "$(value "release pid=" pid)" = "$(value "exit pid=" pid)" ] || fail "another process was held"

# A child keeps its caller's standard output, a pipe, and is killed in its
# request: the pipe's reader sees its end only when the child's descriptors
# are let go.
bounded "$HOST" --audit "$LOG" -- sh -c "$SGIO /dev/sdb '$INQ' --len 96 --timeout 10 \
    --kill child-keep | { cat; $SGIO /dev/sdc '00 00 00 00 00 00' >/dev/null; }"
expect_status 0
expect_stdout <<'END'
killed the child
END
before "$(value "release pid=" at_us)" "$(value "scsi /dev/sdc" start_us)" \
    "the reader saw the end of the pipe before the child was let go"
before "$HUNG_US" "$(value "release pid=" at_us)" "the child was let go before its timeout"

# (b) A child that closed its caller's descriptors holds only its own: the
# caller's output reaches the reader at once, before the child is let go
# (a second hung INQUIRY keeps the run going past the child's timeout).
bounded "$HOST" --audit "$LOG" -- sh -c "$SGIO /dev/sdb '$INQ' --len 96 --timeout 10 \
    --kill child-close | { cat; $SGIO /dev/sdc '00 00 00 00 00 00' >/dev/null; }
    $SGIO /dev/sdb '$INQ' --len 96 --timeout 10 >/dev/null"
expect_status 0
expect_stdout <<'END'
killed the child
END
before "$(value "scsi /dev/sdc" start_us)" "$(value "release pid=" at_us)" \
    "the reader waited for the child's descriptors"
before "$HUNG_US" "$(value "release pid=" at_us)" "the child was let go before its timeout"

# The same caller as the command: its exit is reported before the child's
# request could have timed out, and the run does not wait for the child.
bounded "$HOST" --audit "$LOG" -- "$SGIO" /dev/sdb "$INQ" --len 96 --timeout 10 \
    --kill child-close
expect_status 0
expect_stdout <<'END'
killed the child
END
before "$(value "exit pid=" at_us)" "$HUNG_US" "the caller's exit waited for its child"
checks=$((checks + 1))
[ "$(lines "exit pid=")" = 1 ] && [ "$(lines "release pid=")" = 0 ] ||
    fail "the caller was held for its child"

# A caller that waits for its killed child learns of its exit only once the
# child's command is done, as from the kernel: not yet when it asks
# without waiting, and its wait lasts past the command's timeout.
bounded "$HOST" --audit "$LOG" -- sh -c "$SGIO /dev/sdb '$INQ' --len 96 --timeout 10 \
    --kill child-reaped; $SGIO /dev/sdc '00 00 00 00 00 00' >/dev/null"
expect_status 0
expect_stdout <<'END'
killed the child
not waiting: nothing yet
reaped the child: killed
END
before "$HUNG_US" "$(value "scsi /dev/sdc" start_us)" "the wait ended before the child's timeout"

# (c) A child killed while a queueing map holds its request keeps nothing:
# the reader sees the end of the pipe at once, and nothing is let go later.
bounded "$HOST" --audit "$LOG" -- sh -c "$SGIO /dev/dm-1 '$INQ' --len 96 \
    --kill child-held | { cat; $SGIO /dev/sdc '00 00 00 00 00 00' >/dev/null; }"
expect_status 0
expect_stdout <<'END'
killed the child
END
before "$(value "scsi /dev/sdc" start_us)" "$HUNG_US" "the reader waited"
checks=$((checks + 1))
[ "$(lines "scsi /dev/dm-1 op=0x12 evpd=0 page=0x00 alloc=96 timeout=5000 access=ro held=1")" = 1 ] &&
    [ "$(lines "release pid=")" = 0 ] || fail "the held request's caller was kept"

# (d) A listing that hangs: nothing printed, the run goes on until the
# listing is killed, then its caller sees the signal's status.
# find_listing NAME HOSTFILE: the pid of the listing command NAME running
# on the host of HOSTFILE, once there is one (at most 300 looks).
find_listing() {
    n=0
    while [ "$n" -lt 300 ]; do
        for dir in /proc/[0-9]*; do
            if [ "$(cat "$dir/comm" 2>/dev/null)" = "$1" ] &&
                tr '\0' '\n' <"$dir/environ" 2>/dev/null | grep -Fxq "SANSIM_TOPOLOGY=$2"; then
                echo "${dir#/proc/}"
                return 0
            fi
        done
        n=$((n + 1))
        sleep 0.1
    done
    return 1
}

# hang_check HOSTFILE NAME WORDS SIGNAL STATUS
hang_check() {
    LAST="sansim run $1 -- $3 (killed with $4)"
    rm -f "$WORK/listing.out"
    timeout -k 10 120 "$SANSIM" run "$1" -- sh -c "$3 >$WORK/listing.out; echo \"ended \$?\"" \
        >"$OUT" 2>"$ERR" &
    runner=$!
    listing=$(find_listing "$2" "$(realpath "$1")")
    checks=$((checks + 1))
    [ -n "$listing" ] && kill -0 "$runner" 2>/dev/null || fail "no hanging $2 while the run went on"
    [ -z "$listing" ] || kill "-$4" "$listing"
    wait "$runner"
    STATUS=$?
    expect_status 0
    expect_stdout <<END
ended $5
END
    checks=$((checks + 1))
    [ -e "$WORK/listing.out" ] && [ ! -s "$WORK/listing.out" ] || fail "the listing printed"
}

cat >"$WORK/hang.json" <<END
{ "base": "$TOPOLOGIES/demo.json", "multipath": { "hang": true } }
END
hang_check "$WORK/hang.json" multipath "multipath -ll" TERM 143
hang_check "$WORK/hang.json" multipath "multipath -ll" KILL 137
cat >"$WORK/esxi_hang.json" <<END
{ "base": "$TOPOLOGIES/esxi_demo.json", "esxi": { "hang": ["esxcfg-mpath"] } }
END
hang_check "$WORK/esxi_hang.json" esxcfg-mpath "esxcfg-scsidevs -l >/dev/null && esxcfg-mpath -l" \
    KILL 137

# A name that is no ESXi listing is refused.
printf '{"platform": "esxi", "esxi": {"hang": ["multipath"]}, "luns": []}' >"$WORK/bad.json"
sim "$WORK/bad.json" -- true
expect_status 2
expect_stderr "\"multipath\" is not esxcfg-mpath, esxcfg-scsidevs or esxcli"
