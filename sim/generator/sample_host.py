#!/usr/bin/env python3
"""Turns a real `multipath -ll` listing into a simulated host:

    sample_host.py LISTING OUT_DIR NAME

writes OUT_DIR/NAME.listing, the listing with the vendor word of each map
header made QELMAR (so that the maps are the vendor's), and
OUT_DIR/NAME.json, a topology whose canned listing it is and whose LUNs are
the listing's maps: their WWIDs, dm and sd names, H:C:T:L addresses, sizes
and path states, answered with pages synthesised as for any topology.

A map carries enough when its header has a dm-N word and a WWID of "3" and
32 hex digits (an NAA designator of 16 bytes) and it has a path with an
address and an sd name; other maps stay in the listing, with nodes that
answer nothing. Path group k of a map goes to controller A (k even) or B,
its first group's controller owning the LUN. A path whose checker says
its device does not answer (faulty, shaky, ...) is dead; its listed dm
state is kept. A map queues I/O without a usable path unless its features
leave out queue_if_no_path. Exit 1 when no map carries enough.
"""
import json
import os
import re
import sys

HEADER = re.compile(r"^(?:(?P<alias>\S+) \((?P<wwid>[^)]+)\)|(?P<bare>\S+)) (?P<dm>dm-\d+) "
                    r"(?P<vendor>[^,]*),(?P<product>.*?)\s*$")
PATH = re.compile(r"(?P<h>\d+):(?P<c>\d+):(?P<t>\d+):(?P<l>\d+) +(?P<sd>sd[a-z]+) +\d+:\d+ +"
                  r"\[?(?P<dm_state>active|failed)\]?\s*\[?(?P<checker>[a-z]+)")
GROUP = re.compile(r"policy=|\\_ \S+ \d+ \[prio=|^\s*\\_ round-robin")
SIZE = re.compile(r"size=\s*(?P<n>[\d.]+)\s*(?P<unit>[KMGTP]?)")
FEATURES = re.compile(r"features=['\"]?(?P<words>[^'\"\]]*)")
# Checker states of a path whose device still answers: ready, a standby
# path (ghost), and a checker that has not run (undef).
ANSWERING = ("ready", "ghost", "undef")
UNITS = {"": 1, "K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40, "P": 1 << 50}


def rewrite(line):
    """The header's vendor word made QELMAR."""
    m = HEADER.match(line)
    if not m:
        return line
    return line[:m.start("vendor")] + "QELMAR" + line[m.end("vendor"):]


def parse(lines):
    maps, current = [], None
    for line in lines:
        m = HEADER.match(line)
        if m:
            current = {"alias": m.group("alias"), "wwid": m.group("wwid") or m.group("bare"),
                       "dm": m.group("dm"), "product": m.group("product").strip() or "LUN",
                       "size": 1 << 30, "queue": True, "groups": -1, "paths": []}
            maps.append(current)
            continue
        if current is None:
            continue
        size = SIZE.search(line)
        if size and not current["paths"]:
            current["size"] = int(float(size.group("n")) * UNITS[size.group("unit")])
        features = FEATURES.search(line)
        if features and not current["paths"]:
            current["queue"] = "queue_if_no_path" in features.group("words").split()
        if GROUP.search(line):
            current["groups"] += 1
        p = PATH.search(line)
        if p:
            current["paths"].append(dict(p.groupdict(), group=max(current["groups"], 0)))
    return [m for m in maps if re.fullmatch(r"3[0-9a-fA-F]{32}", m["wwid"]) and m["paths"]]


def topology(maps, listing_name):
    hosts = sorted({int(p["h"]) for m in maps for p in m["paths"]})
    ports = {}  # (controller, target) -> target port id
    luns = []
    for i, m in enumerate(maps):
        paths = []
        for p in m["paths"]:
            controller = "AB"[p["group"] % 2]
            port = ports.setdefault((controller, int(p["t"])),
                                    f"a1-{controller.lower()}{p['t']}")
            path = {"sd": p["sd"], "hctl": f"{p['h']}:{p['c']}:{p['t']}:{p['l']}",
                    "target_port": port, "dm_state": p["dm_state"]}
            if p["checker"] not in ANSWERING:
                path["faults"] = {"dead": True}
            paths.append(path)
        lun = {"wwid": m["wwid"].lower(), "array": "a1", "name": f"lun{i:02d}",
               "size_bytes": m["size"], "host_lun_id": int(m["paths"][0]["l"]),
               "array_lun_id": i + 1, "owner": "A", "worker": "A", "dm": m["dm"],
               "paths": paths}
        if m["alias"]:
            lun["alias"] = m["alias"]
        if not m["queue"]:
            lun["queue_if_no_path"] = False
        luns.append(lun)
    target_ports = [{"id": pid, "identifier": f"21{k:02x}e0fc12345601", "controller": c}
                    for k, ((c, _), pid) in enumerate(sorted(ports.items()))]
    return {
        "comment": "A real multipath -ll listing as the canned listing; its maps as LUNs.",
        "platform": "linux",
        "multipath": {"canned_listing": listing_name},
        "scsi_hosts": [{"number": h, "driver": "qla2xxx",
                        "initiator_port": f"21000024ff4a{h:04x}"} for h in hosts],
        "arrays": [{"id": "a1", "vendor": "QELMAR", "product": maps[0]["product"][:16],
                    "revision": "0100", "name": "Array-01", "serial": "2102351234ABCDEF0001",
                    "interface_version": 516, "port_type": 1, "controllers": ["A", "B"],
                    "target_ports": target_ports}],
        "luns": luns,
    }


def main(argv):
    if len(argv) != 3:
        print(__doc__.strip().splitlines()[2].strip())
        return 1
    source, out_dir, name = argv
    with open(source, encoding="latin-1") as f:
        lines = f.read().split("\n")
    maps = parse(lines)
    if not maps:
        print(f"{source}: no map with a dm-N word, an NAA WWID and a path")
        return 1
    os.makedirs(out_dir, exist_ok=True)
    with open(os.path.join(out_dir, name + ".listing"), "w", encoding="latin-1") as f:
        f.write("\n".join(rewrite(line) for line in lines))
    with open(os.path.join(out_dir, name + ".json"), "w", encoding="utf-8") as f:
        json.dump(topology(maps, name + ".listing"), f, indent=2)
        f.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
