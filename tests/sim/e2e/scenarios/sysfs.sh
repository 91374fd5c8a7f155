# /dev and /sys of a simulated host: a node per device, sizes in 512-byte
# sectors, device links ending in H:C:T:L that resolve, the SCSI hosts'
# drivers, and the real null, zero and tty.

sim "$TOPOLOGIES/demo.json" -- sh -c '
    cd /dev && echo sd* dm-* loop*
    cd /sys/block && echo *'
expect_stdout <<'END'
sda sdb sdc sdd sde sdf sdg sdh sdi sdj sdk sdl sdm sdn sdo sdp sdq sdr sds sdt sdu dm-0 dm-1 dm-2 dm-3 dm-4 loop0
dm-0 dm-1 dm-2 dm-3 dm-4 loop0 sda sdb sdc sdd sde sdf sdg sdh sdi sdj sdk sdl sdm sdn sdo sdp sdq sdr sds sdt sdu
END

sim "$TOPOLOGIES/demo.json" -- sh -c '
    for node in sdb sdd sdm dm-2 dm-3 sda loop0; do
        echo "$node $(cat /sys/block/$node/size)"
    done'
expect_stdout <<'END'
sdb 20971520
sdd 6442450944
sdm 209715200
dm-2 6442450944
dm-3 209715200
sda 41943040
loop0 0
END

sim "$TOPOLOGIES/demo.json" -- sh -c '
    for node in sdb sdq sdu sda; do
        link=$(readlink /sys/block/$node/device)
        echo "$node $link $(basename "$link")"
        cd "/sys/block/$node/device" && echo "resolves to $(readlink -f .)"
    done
    for node in dm-0 loop0; do
        test -e "/sys/block/$node/device" || echo "$node has no SCSI device"
    done'
expect_stdout <<'END'
sdb ../../devices/platform/host3/target3:0:0/3:0:0:1 3:0:0:1
resolves to /sys/devices/platform/host3/target3:0:0/3:0:0:1
sdq ../../devices/platform/host4/target4:0:1/4:0:1:4 4:0:1:4
resolves to /sys/devices/platform/host4/target4:0:1/4:0:1:4
sdu ../../devices/platform/host4/target4:0:3/4:0:3:0 4:0:3:0
resolves to /sys/devices/platform/host4/target4:0:3/4:0:3:0
sda ../../devices/platform/host0/target0:0:0/0:0:0:0 0:0:0:0
resolves to /sys/devices/platform/host0/target0:0:0/0:0:0:0
dm-0 has no SCSI device
loop0 has no SCSI device
END

sim "$TOPOLOGIES/demo.json" -- sh -c '
    for host in /sys/class/scsi_host/host*; do
        echo "$(basename "$host") $(cat "$host/proc_name")"
    done'
expect_stdout <<'END'
host0 ahci
host3 qla2xxx
host4 qla2xxx
END
sim "$TOPOLOGIES/iscsi.json" -- sh -c 'echo $(cat /sys/class/scsi_host/host*/proc_name)'
expect_stdout <<'END'
ahci iscsi_tcp iscsi_tcp iscsi_tcp iscsi_tcp
END

# Nodes are root's empty regular files; the real devices are bound in.
sim "$TOPOLOGIES/demo.json" -- stat -c '%n %F %a %U' /dev/sdb /dev/dm-0 /dev/loop0
expect_stdout <<'END'
/dev/sdb regular empty file 600 root
/dev/dm-0 regular empty file 600 root
/dev/loop0 regular empty file 600 root
END
sim "$TOPOLOGIES/demo.json" -- sh -c '
    test -c /dev/null && test -c /dev/zero && test -c /dev/tty && echo "character devices"
    echo discarded >/dev/null && cat /dev/null && echo "null writable"
    readlink /dev/stdin /dev/fd'
expect_status 0
expect_stdout <<'END'
character devices
null writable
/proc/self/fd/0
/proc/self/fd
END

# The nodes of a canned listing's maps and paths exist too.
mkdir -p "$WORK/canned"
cat >"$WORK/canned/listing.txt" <<'END'
mpathz (36e0fc12345600000000000000000abcd) dm-7 QELMAR,VSA1000
size=1.0G features='0' hwhandler='0' wp=rw
`-+- policy='service-time 0' prio=1 status=active
  `- 9:0:0:1 sdx 65:112 active ready running
END
cat >"$WORK/canned/host.json" <<'END'
{ "multipath": { "canned_listing": "listing.txt" } }
END
sim "$WORK/canned/host.json" -- sh -c 'test -f /dev/sdx && test -f /dev/dm-7 && echo nodes; multipath -ll'
expect_status 0
expect_line "nodes"
expect_line "mpathz (36e0fc12345600000000000000000abcd) dm-7 QELMAR,VSA1000"
sim "$TOPOLOGIES/demo.json" -- od -An -tx1 -N4 /dev/zero
expect_stdout <<'END'
 00 00 00 00
END

# /sys/block lists its entries in name order on every run (programs that walk
# it print in that order).
sim "$TOPOLOGIES/iscsi.json" -- ls -f /sys/block
expect_status 0
expect_stdout <<'END'
.
..
dm-0
dm-1
dm-2
sda
sdb
sdc
sdd
sde
sdf
sdg
sdh
sdi
sdj
sdk
sdl
sdm
END
