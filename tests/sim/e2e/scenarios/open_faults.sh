# Nodes that exist but cannot be opened: `unreadable` (EACCES, also for
# access(R_OK)) and `vanished` (ENOENT, yet listed and present).
need sg_inq

sim "$HOSTS/faults.json" -- sg_inq /dev/sdg
expect_status 63
expect_stderr "sg_inq: error opening file: /dev/sdg: Permission denied"

sim "$HOSTS/faults.json" -- sg_inq /dev/sdh
expect_status 52
expect_stderr "sg_inq: error opening file: /dev/sdh: No such file or directory"

sim "$HOSTS/faults.json" -- sh -c '
    test -e /dev/sdg && echo "sdg exists"
    test -r /dev/sdg || echo "sdg not readable"
    test -e /dev/sdh && echo "sdh exists"
    test -r /dev/sdh && echo "sdh readable"
    cat /dev/sdh
    cd /dev && cat sdg'
expect_stdout <<'END'
sdg exists
sdg not readable
sdh exists
sdh readable
END
expect_stderr "cat: /dev/sdh: No such file or directory"
expect_stderr "cat: sdg: Permission denied"

# Healthy nodes of the same host open normally.
sim "$HOSTS/faults.json" -- sh -c 'test -r /dev/sdf && cat /dev/sdf && echo "sdf readable"'
expect_status 0
expect_stdout <<'END'
sdf readable
END
