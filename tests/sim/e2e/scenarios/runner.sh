# The runner's own errors: usage, topology problems (exit 2 with the
# loader's reason), a command that cannot be found (127).

run "$SANSIM"
expect_status 2
expect_stderr "usage: sansim run TOPOLOGY"
run "$SANSIM" run "$TOPOLOGIES/demo.json" sg_inq /dev/sdb
expect_status 2
expect_stderr "usage:"
run "$SANSIM" run "$TOPOLOGIES/demo.json" --
expect_status 2
run "$SANSIM" run "$TOPOLOGIES/demo.json" --verbose -- true
expect_status 2
expect_stderr "unknown option --verbose"

run "$SANSIM" run "$WORK/missing.json" -- true
expect_status 2
expect_stderr "$WORK/missing.json: cannot read the topology file"
echo '{ "luns": [ ' >"$WORK/broken.json"
run "$SANSIM" run "$WORK/broken.json" -- true
expect_status 2
expect_stderr "not valid JSON"
echo '{ "luns": [ { "wwid": "3600", "array": "a1" } ] }' >"$WORK/bad-wwid.json"
run "$SANSIM" run "$WORK/bad-wwid.json" -- true
expect_status 2
expect_stderr "luns[0]"

run "$SANSIM" run "$TOPOLOGIES/demo.json" -- sansim-no-such-command
expect_status 127
expect_stderr "sansim-no-such-command: command not found"
run "$SANSIM" run "$TOPOLOGIES/demo.json" -- "$WORK/broken.json"
expect_status 127

# A relative topology and a command given by path.
(cd "$SRC" && "$SANSIM" run sim/topologies/demo.json -- /bin/sh -c 'cat /sys/block/sdb/size') \
    >"$OUT" 2>"$ERR"
STATUS=$?
expect_status 0
expect_stdout <<'END'
20971520
END

# The fake commands know their names only.
run "$SANSIM" -ll
expect_status 2
