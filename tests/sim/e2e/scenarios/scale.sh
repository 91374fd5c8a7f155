# A host of 16,384 paths (4,096 LUNs over four paths each): every node and
# /sys entry is there and the last ones answer. (How long the set-up takes is
# the scale benchmark's business, not a test's.)
need awk sg_turs sg_vpd

awk 'function sd(n,   s) {
         s = ""; n++
         while (1) { s = substr("abcdefghijklmnopqrstuvwxyz", n % 26 + 1, 1) s
                     n = int(n / 26) - 1; if (n < 0) break }
         return "sd" s
     }
     BEGIN {
         printf "{ \"scsi_hosts\": [ { \"number\": 3, \"driver\": \"qla2xxx\" },"
         printf " { \"number\": 4, \"driver\": \"qla2xxx\" } ],\n"
         printf "  \"arrays\": [ { \"id\": \"a1\", \"serial\": \"2102351234ABCDEF9999\","
         printf " \"target_ports\": [ { \"id\": \"p0\", \"controller\": \"A\" },"
         printf " { \"id\": \"p1\", \"controller\": \"B\" }, { \"id\": \"p2\", \"controller\": \"A\" },"
         printf " { \"id\": \"p3\", \"controller\": \"B\" } ] } ],\n  \"luns\": [\n"
         n = 0
         for (lun = 0; lun < 4096; lun++) {
             printf "    { \"wwid\": \"36e0fc1234560000%017x\", \"array\": \"a1\",", lun
             printf " \"size_bytes\": %.0f, \"dm\": \"dm-%d\", \"paths\": [", (lun + 1) * 1048576, lun
             for (p = 0; p < 4; p++) {
                 printf "%s { \"sd\": \"%s\", \"hctl\": \"%d:0:%d:%d\", \"target_port\": \"p%d\" }",
                        p ? "," : "", sd(n++), 3 + int(p / 2), p % 2, lun, p
             }
             printf " ] }%s\n", lun < 4095 ? "," : ""
         }
         printf "  ] }\n"
     }' >"$WORK/scale.json"

sim "$WORK/scale.json" -- sh -c '
    cd /dev && set -- sd* && echo "$# sd nodes" && set -- dm-* && echo "$# dm nodes"
    cd /sys/block && set -- * && echo "$# block entries"
    cat /sys/block/sdxfe/size /sys/block/dm-4095/size
    readlink /sys/block/sdxfe/device'
expect_status 0
expect_stdout <<'END'
16384 sd nodes
4096 dm nodes
20480 block entries
8388608
8388608
../../devices/platform/host4/target4:0:1/4:0:1:4095
END
checks=$((checks + 1))

sim "$WORK/scale.json" -- sg_turs /dev/sdxfe
expect_status 0
sim "$WORK/scale.json" -- sg_vpd -p di /dev/dm-4095
expect_line "      0x6e0fc123456000000000000000000fff"
