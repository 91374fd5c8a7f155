# --uid N: the command runs as that user after the set-up, with the nodes
# still root's (so the SCSI clients are refused, as on a real host) and the
# audit log handed over. A caller that is not root gets a user namespace
# where the kernel allows one, and says so where it does not.
need sg_inq setpriv

sim "$TOPOLOGIES/demo.json" --uid 1000 -- id -u
expect_status 0
expect_stdout <<'END'
1000
END
sim "$TOPOLOGIES/demo.json" --uid 1000 -- id -G
expect_stdout <<'END'
1000
END

LOG=$WORK/audit.log
sim "$TOPOLOGIES/demo.json" --uid 1000 --audit "$LOG" -- sg_inq /dev/sdb
expect_status 63
expect_stderr "error opening file: /dev/sdb: Permission denied"
checks=$((checks + 1))
owner=$(stat -c %u "$LOG")
[ "$owner" = 1000 ] || fail "the audit log belongs to uid $owner, expected 1000"
expect_file_line "$LOG" "open /dev/sdb access=ro flags=0x800"

# What a user can read works as before: /sys, the listing.
sim "$TOPOLOGIES/demo.json" --uid 1000 -- sh -c 'cat /sys/block/sdb/size; multipath -ll | grep -c "^size="'
expect_stdout <<'END'
20971520
5
END

sim "$TOPOLOGIES/demo.json" --uid nobody -- id -u
expect_status 2
expect_stderr "--uid wants a user id"

# A caller that is not root. Its files must be reachable for that user;
# skipped otherwise (a build tree under /root, for instance).
if setpriv --reuid 1000 --regid 1000 --clear-groups sh -c \
    "test -x '$SANSIM' && test -r '$TOPOLOGIES/demo.json'" 2>/dev/null; then
    as_user="setpriv --reuid 1000 --regid 1000 --clear-groups"
    run $as_user "$SANSIM" run "$TOPOLOGIES/demo.json" -- id -u
    if [ "$STATUS" = 0 ]; then
        # Root of a user namespace: the nodes are its own.
        expect_stdout <<'END'
0
END
        run $as_user "$SANSIM" run "$TOPOLOGIES/demo.json" -- sg_inq /dev/sdb
        expect_status 0
        expect_line " Unit serial number: 2102351234ABCDEF0001"
        run $as_user "$SANSIM" run "$TOPOLOGIES/demo.json" --uid 1000 -- id -u
        expect_stdout <<'END'
1000
END
        run $as_user "$SANSIM" run "$TOPOLOGIES/demo.json" --uid 0 -- id -u
        expect_status 2
        expect_stderr "--uid 0 needs root"
    else
        expect_status 2
        expect_stderr "the kernel does not allow this user a user namespace"
    fi
else
    echo "note: uid 1000 cannot reach $SANSIM; not-root runs not checked"
fi
