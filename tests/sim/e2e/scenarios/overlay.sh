# A host written as a base host and what differs from it: elements changed,
# removed and appended by name, the whole expanded by `sansim expand`.
need sg_turs
PY=/usr/bin/python3

mkdir -p "$WORK/base"
cp "$TOPOLOGIES/demo.json" "$WORK/base/demo.json"
cat >"$WORK/overlay.json" <<END
{ "base": "base/demo.json",
  "comment": "demo, db02 gone, sdb dead, a disk more",
  "luns": { "db02": null,
            "db01": { "paths": { "sdb": { "faults": { "dead": true } } } } },
  "others": { "+": [ { "name": "sdz", "scsi": true, "vendor": "ATA",
                       "product": "SPARE", "hctl": "0:0:1:0", "size_bytes": 4096 } ] },
  "arrays": { "a1": { "name": "Array-Renamed" } } }
END
sim "$WORK/overlay.json" -- true
expect_status 0
run "$SANSIM" expand "$WORK/overlay.json"
expect_status 0
"$PY" -c 'import json, sys
host = json.load(open(sys.argv[1]))
base = json.load(open(sys.argv[2]))
print(host["comment"])
print([l["name"] for l in host["luns"]])
print([o["name"] for o in host["others"]])
print(host["arrays"][0]["name"], host["arrays"][1]["name"])
print(json.dumps(host["luns"][0]["paths"][0], sort_keys=True))
print("base" in host, host["luns"][0]["paths"][1] == base["luns"][0]["paths"][1])' \
    "$OUT" "$TOPOLOGIES/demo.json" >"$WORK/facts"
cat >"$WORK/facts.want" <<'END'
demo, db02 gone, sdb dead, a disk more
['db01', 'oradata01', 'backup01', 'share01']
['sda', 'loop0', 'sdz']
Array-Renamed Array-02
{"faults": {"dead": true}, "hctl": "3:0:0:1", "sd": "sdb", "target_port": "a1-a0"}
False True
END
expect_same "$WORK/facts.want" "$WORK/facts"

# The changes reach the host: sdb is dead, sdc (db02's) is gone, sdz is new.
sim "$WORK/overlay.json" -- sg_turs /dev/sdb
expect_stderr "DID_NO_CONNECT"
sim "$WORK/overlay.json" -- sh -c 'for n in /dev/sdb /dev/sdc /dev/sdz; do [ -e $n ] && echo $n; done'
expect_stdout <<'END'
/dev/sdb
/dev/sdz
END

# A base's own files stay its own: a canned listing named relative to the
# base is found from an overlay in another folder.
mkdir -p "$WORK/canned"
printf 'canned listing\n' >"$WORK/canned/listing.txt"
"$PY" -c 'import json, sys
host = json.load(open(sys.argv[1]))
host["multipath"]["canned_listing"] = "listing.txt"
json.dump(host, open(sys.argv[2], "w"))' "$TOPOLOGIES/demo.json" "$WORK/canned/host.json"
printf '{"base": "canned/host.json", "luns": {"db01": {"name": "db01x"}}}\n' >"$WORK/on_canned.json"
sim "$WORK/on_canned.json" -- sh -c 'multipath -ll'
expect_stdout <<'END'
canned listing
END

# What cannot be laid over is refused with where it is.
printf '{"base": "base/demo.json", "luns": {"db99": {"name": "x"}}}\n' >"$WORK/bad.json"
sim "$WORK/bad.json" -- true
expect_status 2
expect_stderr "bad.json: luns.db99: names no element"
printf '{"base": "base/demo.json", "scsi_hosts": {"0": {"driver": "x"}}, "luns": {"+": {}}}\n' \
    >"$WORK/bad.json"
run "$SANSIM" expand "$WORK/bad.json"
expect_status 2
expect_stderr "bad.json: luns.+: expected a list of elements to append"
printf '{"base": "loop.json"}\n' >"$WORK/loop.json"
sim "$WORK/loop.json" -- true
expect_status 2
expect_stderr "base: more than 8 bases deep"
printf '{"base": "absent.json"}\n' >"$WORK/orphan.json"
sim "$WORK/orphan.json" -- true
expect_status 2
expect_stderr "absent.json: cannot read the topology file"
