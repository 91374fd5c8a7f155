# The sysfs transport classes of Linux hosts that ask for them: fc_host and
# fc_remote_ports for FC and FCoE HBAs, iscsi_host and iscsi_session for
# iSCSI ones, their values typed from the topologies, their links resolving;
# attributes a topology leaves out are absent; hosts that do not ask have no
# class but scsi_host. Expected values come from the topology files:
# degraded_fc.json, iscsi_degraded.json and hosts/transport_classes.json.
CLASSES=$HOSTS/transport_classes.json

# Hosts without "transport_classes" lay out what they always did.
for topology in demo.json degraded.json iscsi.json; do
    sim "$TOPOLOGIES/$topology" -- sh -c 'test -e /sys/class/fc_host; echo $?; cd /sys/class && echo *
        cd /sys/devices/platform && for entry in */*; do
            case $entry in */rport-* | */session* | */fc_host | */iscsi_host) echo "$entry";; esac
        done'
    expect_status 0
    expect_stdout <<'END'
1
scsi_host
END
done

# ---- FC: the degraded demo host -------------------------------------------

sim "$TOPOLOGIES/degraded_fc.json" -- sh -c 'cd /sys/class && echo *; echo fc_host/* fc_remote_ports/*'
expect_stdout <<'END'
fc_host fc_remote_ports scsi_host
fc_host/host3 fc_host/host4 fc_remote_ports/rport-3:0-0 fc_remote_ports/rport-3:0-1 fc_remote_ports/rport-3:0-2 fc_remote_ports/rport-3:0-3 fc_remote_ports/rport-4:0-0 fc_remote_ports/rport-4:0-1 fc_remote_ports/rport-4:0-2 fc_remote_ports/rport-4:0-3
END

# The HBA ports: WWPN, node name (20 and the port's last 14 digits), fabric
# name (10000005 and the port's last 8 digits), state and speed.
sim "$TOPOLOGIES/degraded_fc.json" -- sh -c '
    for host in host3 host4; do
        cd /sys/class/fc_host/$host || exit 1
        echo "$host $(cat port_name) $(cat node_name) $(cat fabric_name) $(cat port_state) $(cat speed)"
    done
    readlink /sys/class/fc_host/host4 /sys/class/fc_host/host4/device
    readlink -f /sys/class/fc_host/host4/device'
expect_status 0
expect_stdout <<'END'
host3 0x21000024ff4a5b01 0x20000024ff4a5b01 0x10000005ff4a5b01 Online 16 Gbit
host4 0x21000024ff4a5b02 0x20000024ff4a5b02 0x10000005ff4a5b02 Online 16 Gbit
../../devices/platform/host4/fc_host/host4
../../../host4
/sys/devices/platform/host4
END

# One rport per host, channel and target, numbered per host in the order the
# LUNs' paths meet them; the target ports' WWPNs, host 4's rport to a1-b1
# Blocked, the fabric address a domain per array and an area per port.
sim "$TOPOLOGIES/degraded_fc.json" -- sh -c '
    for rport in /sys/class/fc_remote_ports/*; do
        cd "$rport" || exit 1
        echo "$(basename "$rport") $(cat port_name) $(cat port_id) $(cat scsi_target_id) $(cat port_state) $(cat roles)"
    done'
expect_status 0
expect_stdout <<'END'
rport-3:0-0 0x2100e0fc12345601 0x010000 0 Online FCP Target
rport-3:0-1 0x2110e0fc12345601 0x010100 1 Online FCP Target
rport-3:0-2 0x2200f4e9d4567801 0x020000 2 Online FCP Target
rport-3:0-3 0x2210f4e9d4567801 0x020100 3 Online FCP Target
rport-4:0-0 0x2101e0fc12345601 0x010200 0 Online FCP Target
rport-4:0-1 0x2111e0fc12345601 0x010300 1 Blocked FCP Target
rport-4:0-2 0x2201f4e9d4567801 0x020200 2 Online FCP Target
rport-4:0-3 0x2211f4e9d4567801 0x020300 3 Online FCP Target
END

# The rport's device is a child of its SCSI host and holds the target, whose
# LUNs are the paths through it; the disks' device links are as before.
sim "$TOPOLOGIES/degraded_fc.json" -- sh -c '
    readlink /sys/class/fc_remote_ports/rport-4:0-1 /sys/class/fc_remote_ports/rport-4:0-1/device
    readlink -f /sys/class/fc_remote_ports/rport-4:0-1/device
    cd /sys/class/fc_remote_ports/rport-4:0-1/device/target4:0:1 && echo * && readlink -f .
    readlink /sys/block/sdn/device'
expect_status 0
expect_stdout <<'END'
../../devices/platform/host4/rport-4:0-1/fc_remote_ports/rport-4:0-1
../../../rport-4:0-1
/sys/devices/platform/host4/rport-4:0-1
4:0:1:1 4:0:1:2 4:0:1:3 4:0:1:4
/sys/devices/platform/host4/target4:0:1
../../devices/platform/host4/target4:0:1/4:0:1:1
END

# ---- iSCSI: a failed session ----------------------------------------------

sim "$TOPOLOGIES/iscsi_degraded.json" -- sh -c 'cd /sys/class && echo * && echo iscsi_host/* iscsi_session/*
    cat iscsi_host/host5/initiatorname iscsi_host/host8/initiatorname'
expect_stdout <<'END'
iscsi_host iscsi_session scsi_host
iscsi_host/host5 iscsi_host/host6 iscsi_host/host7 iscsi_host/host8 iscsi_session/session1 iscsi_session/session2 iscsi_session/session3 iscsi_session/session4
iqn.1993-08.org.debian:01:5e2f8a9c0d41
iqn.1993-08.org.debian:01:5e2f8a9c0d41
END

# A session per host and target, numbered from 1 across the machine: the
# target name without its ",t,0x" suffix, the portal group tag in decimal,
# host 6's session to a1-b0 FAILED; the target and its LUNs below the session.
sim "$TOPOLOGIES/iscsi_degraded.json" -- sh -c '
    for session in /sys/class/iscsi_session/*; do
        cd "$session" || exit 1
        echo "$(basename "$session") $(cat targetname) $(cat tpgt) $(cat state)"
        cd device && echo "  $(readlink -f .): $(echo target*) $(cd target* && echo *)"
    done'
expect_status 0
expect_stdout <<'END'
session1 iqn.2006-08.com.qelmar:vsa1000.2102351234abcdef0101.a0 1 LOGGED_IN
  /sys/devices/platform/host5/session1: target5:0:0 5:0:0:1 5:0:0:2 5:0:0:3
session2 iqn.2006-08.com.qelmar:vsa1000.2102351234abcdef0101.b0 257 FAILED
  /sys/devices/platform/host6/session2: target6:0:0 6:0:0:1 6:0:0:2 6:0:0:3
session3 iqn.2006-08.com.qelmar:vsa1000.2102351234abcdef0101.a1 2 LOGGED_IN
  /sys/devices/platform/host7/session3: target7:0:0 7:0:0:1 7:0:0:2 7:0:0:3
session4 iqn.2006-08.com.qelmar:vsa1000.2102351234abcdef0101.b1 258 LOGGED_IN
  /sys/devices/platform/host8/session4: target8:0:0 8:0:0:1 8:0:0:2 8:0:0:3
END

sim "$TOPOLOGIES/iscsi_degraded.json" -- sh -c '
    readlink /sys/class/iscsi_session/session2 /sys/class/iscsi_session/session2/device
    readlink /sys/block/sde/device
    multipath -ll | grep -E " (sde|sdf|sdg|sdh) "'
expect_status 0
expect_line "../../devices/platform/host6/session2/iscsi_session/session2"
expect_line "../../../session2"
expect_line "../../devices/platform/host6/target6:0:0/6:0:0:1"
expect_match '6:0:0:1 sde .* failed faulty'
expect_match '6:0:0:2 sdf .* failed faulty'
expect_match '6:0:0:3 sdg .* failed faulty'
expect_match '7:0:0:1 sdh .* active ready'

# The failed session's paths are dead to every command; the others answer.
need sg_turs
for node in sde sdf sdg; do
    sim "$TOPOLOGIES/iscsi_degraded.json" -- sg_turs "/dev/$node"
    expect_stderr "transport: Host_status=0x01 [DID_NO_CONNECT]"
done
for node in sdb sdh sdk dm-0 dm-1 dm-2; do
    sim "$TOPOLOGIES/iscsi_degraded.json" -- sg_turs "/dev/$node"
    expect_status 0
done

# ---- Attributes left out, FCoE, transports from the field ------------------

# host0 (ahci) has no class; host4 (bnx2fc) is FC; host6 (be2iscsi) is
# iSCSI by its transport field.
sim "$CLASSES" -- sh -c 'cd /sys/class && echo fc_host/* iscsi_host/*'
expect_stdout <<'END'
fc_host/host3 fc_host/host4 iscsi_host/host5 iscsi_host/host6
END

# host 3 lacks its port name and state and its rports' port names, states
# and target ids; what it keeps is there.
sim "$CLASSES" -- sh -c '
    cd /sys/class/fc_host/host3 && echo * && cat node_name
    cd /sys/class/fc_remote_ports/rport-3:0-0 && echo * && cat port_id'
expect_stdout <<'END'
device fabric_name node_name speed
0x20000000c9a1b2c3
device node_name port_id roles
0x010000
END

# host 4's own values; its rports numbered as met (target 7, then 2).
sim "$CLASSES" -- sh -c '
    cd /sys/class/fc_host/host4 && echo $(cat port_name node_name port_state fabric_name speed)
    for rport in rport-4:0-0 rport-4:0-1; do
        cd /sys/class/fc_remote_ports/$rport || exit 1
        echo "$rport $(cat scsi_target_id) $(cat port_name) $(cat port_state) $(cd device && echo target*)"
    done'
expect_stdout <<'END'
0x2000000e1e0a0b0c 0x1000000e1e0a0b0c Linkdown 0x100000051e99aa01 10 Gbit
rport-4:0-0 7 0x2110e0fc00000301 Not Present target4:0:7
rport-4:0-1 2 0x2100e0fc00000301 Online target4:0:2
END
sim "$CLASSES" -- sh -c '
    readlink -f /sys/class/fc_remote_ports/rport-4:0-0/device/target4:0:7
    readlink -f /sys/class/fc_remote_ports/rport-4:0-1/device/target4:0:2'
expect_stdout <<'END'
/sys/devices/platform/host4/target4:0:7
/sys/devices/platform/host4/target4:0:2
END

# host 5 lacks its initiator name (its portal address stays) and its session's target name, state,
# portal group and the target below the session; host 6 has them all.
sim "$CLASSES" -- sh -c '
    cd /sys/class/iscsi_host/host5 && echo *
    cd /sys/class/iscsi_session/session1 && echo *
    test -e device/target5:0:0; echo "target link $?"; cd device && echo *
    cat /sys/class/iscsi_host/host6/initiatorname
    cd /sys/class/iscsi_session/session2 && echo $(cat targetname tpgt state) && echo device/target*'
expect_stdout <<'END'
device ipaddress
device
target link 1
iscsi_session
iqn.1993-08.org.debian:01:0123456789ab
iqn.2006-08.com.qelmar:vsa1000.0302.b0 1 LOGGED_IN
device/target6:0:0
END
