# An ESXi host: the three listings in the ESXi shell's layouts, the LUN nodes
# under /dev/disks answered by the target, no multipath and no /sys/block.
need sg_inq sg_vpd

ESXI=$SRC/tests/e2e_esxi/hosts/basic.json
A1=naa.6e0fc1234560000000000000000000a1

sim "$ESXI" -- sg_inq /dev/disks/$A1
expect_status 0
expect_match "^ Vendor identification: QELMAR +$"
expect_match "^ Product identification: VSA1000 +$"
sim "$ESXI" -- sg_vpd -p di /dev/disks/$A1
expect_status 0
expect_match "0x6e0fc1234560000000000000000000a1"

# The first path block, typed from the topology: vmhba2, target port
# 2100e0fc12345601, HCTL 2:0:0:1.
sim "$ESXI" -- sh -c 'esxcfg-mpath -l'
expect_status 0
head -n 11 "$OUT" >"$WORK/first_block"
cp "$WORK/first_block" "$OUT"
expect_stdout <<END
fc.21000024ff4a5b01:21000024ff4a5b01-fc.2100e0fc12345601:2100e0fc12345601-$A1
   Runtime Name: vmhba2:C0:T0:L1
   Device: $A1
   Device Display Name: QELMAR Fibre Channel Disk ($A1)
   Adapter: vmhba2 Channel: 0 Target: 0 LUN: 1
   Adapter Identifier: fc.21000024ff4a5b01:21000024ff4a5b01
   Target Identifier: fc.2100e0fc12345601:2100e0fc12345601
   Plugin: NMP
   State: active
   Transport: fc

END

# The other paths: esx_state as given, the iSCSI adapter's transport and
# names; the ACME LUN's path listed too, and the local disk's.
sim "$ESXI" -- sh -c 'esxcfg-mpath -l | grep -E "Runtime Name:|Device:|State:|Transport:"'
expect_status 0
expect_stdout <<END
   Runtime Name: vmhba2:C0:T0:L1
   Device: $A1
   State: active
   Transport: fc
   Runtime Name: vmhba3:C0:T1:L1
   Device: $A1
   State: unavailable
   Transport: fc
   Runtime Name: vmhba2:C0:T2:L5
   Device: naa.600a0b8000000000000000000000a001
   State: active
   Transport: fc
   Runtime Name: vmhba64:C0:T3:L12
   Device: naa.6e0fc1234560000000000000000000a2
   State: active
   Transport: iscsi
   Runtime Name: vmhba0:C0:T0:L0
   Device: mpx.vmhba0:C0:T0:L0
   State: active
   Transport: sata
END

# Device blocks: the vendor line is the seventh after the name, so the
# seven lines before it reach back to the name; sizes in MB; only QELMAR.
sim "$ESXI" -- sh -c 'esxcfg-scsidevs -l | grep -B7 "Vendor: QELMAR" | grep -E "^naa|Size:"'
expect_status 0
expect_stdout <<END
$A1
   Size: 10240 MB
naa.6e0fc1234560000000000000000000a2
   Size: 102400 MB
naa.6e0fc1234560000000000000000000a3
   Size: 5120 MB
END
sim "$ESXI" -- sh -c 'esxcfg-scsidevs -l'
expect_line "   Vendor: QELMAR    Model: VSA1000           Revis: 0100"
expect_line "   Vendor: ATA       Model: VIRTUAL-DISK      Revis: 1.0 "

# Packages: the base list, and a listed package when the host has one.
sim "$ESXI" -- sh -c 'esxcli software vib list | grep -c VMwareCertified; esxcli software vib list | grep tessaro'
expect_status 1
expect_line "5"
sim "$SRC/tests/e2e_esxi/package_listed/topology.json" -- sh -c 'esxcli software vib list | grep tessaro'
expect_status 0
expect_match "^tessaro-mpio +1.0.0-1 "

# No multipath, no /sys/block, and a path has no node of its own.
sim "$ESXI" -- sh -c 'command -v multipath; test -e /sys/block; echo $?; test -e /dev/sdb; echo $?'
expect_stdout <<'END'
1
1
END

# A canned listing is printed as it is.
sim "$SRC/tests/e2e_esxi/colon_last/topology.json" -- sh -c 'esxcfg-mpath -l'
expect_status 0
expect_same "$OUT" "$SRC/tests/e2e_esxi/colon_last/paths.txt"
