# Command lines that cannot be started: popen returns NULL and system -1,
# both with EAGAIN, without running anything. Other command lines, and the
# same command on a host without the fault, start normally. The dynamic
# probe is a sanitized program, like the tools, and meets the interposer.
# The static probe's C library starts "/bin/sh -c LINE", whose exec the
# supervisor fails: its popen then returns NULL with ENOMEM (what it says of
# any start that failed) and its system reports a shell that exited with 127.
if [ "$FLAVOUR" = static ]; then
    refused_popen="popen: NULL errno=Cannot allocate memory"
    refused_system="system: exit 127"
else
    refused_popen="popen: NULL errno=EAGAIN"
    refused_system="system: -1 errno=EAGAIN"
fi

sim "$HOSTS/faults.json" -- "$PROBE" popen "multipath -ll"
expect_status 0
expect_stdout <<END
$refused_popen
END
sim "$HOSTS/faults.json" -- "$PROBE" system "multipath -ll"
expect_stdout <<END
$refused_system
END

# Only that exact line: another one starts, and meets the failing listing.
sim "$HOSTS/faults.json" -- "$PROBE" popen "multipath -ll 2>/dev/null"
expect_stdout <<'END'
popen: 0 lines, exit 1
END

# The demo host can start it: 40 lines of listing.
sim "$TOPOLOGIES/demo.json" -- "$PROBE" popen "multipath -ll"
expect_status 0
expect_stdout <<'END'
popen: 40 lines, exit 0
END
sim "$TOPOLOGIES/demo.json" -- "$PROBE" system "multipath -ll >/dev/null"
expect_stdout <<'END'
system: exit 0
END

# Missing from PATH is another failure: the shell starts and reports 127.
sim "$HOSTS/bare.json" -- "$PROBE" popen "multipath -ll 2>/dev/null"
expect_stdout <<'END'
popen: 0 lines, exit 127
END
