# Faults of the host around the devices: a listed path without a /dev node,
# /sys/block entries that are a file or hold a size that is empty or no
# number, listings padded with filler lines and a long line, and ESXi
# commands that are missing or fail.
HOST=$HOSTS/listing_faults.json
ESXI=$HOSTS/esxi_command_faults.json

sim "$HOST" -- sh -c 'test -e /dev/sdb; echo $?; test -e /dev/sdc; echo $?; multipath -ll | grep -c " sdc "'
expect_stdout <<'END'
0
1
1
END

sim "$HOST" -- sh -c 'test -f /sys/block/sdd; echo $?; test -d /sys/block/sdd; echo $?
    cat /sys/block/sde/size; echo "[$(cat /sys/block/sde/size)]"; cat /sys/block/sdf/size'
expect_stdout <<'END'
0
1
[]
abc
END

# The rendered listing (header, size, path group, two paths), three filler
# lines, then a line of 300 characters.
sim "$HOST" -- sh -c 'multipath -ll | awk "NR > 5 { print NR \": \" length(\$0) }"'
expect_stdout <<'END'
6: 13
7: 13
8: 13
9: 300
END
sim "$HOST" -- sh -c 'multipath -ll | grep filler'
expect_stdout <<'END'
filler line 0
filler line 1
filler line 2
END

sim "$ESXI" -- sh -c 'command -v esxcli >/dev/null; echo $?; esxcfg-mpath -l; echo $?'
expect_stdout <<'END'
127
1
END
sim "$ESXI" -- sh -c 'esxcfg-scsidevs -l | awk "END { print NR, length(\$0) }"'
expect_stdout <<'END'
18 1000
END
