#!/usr/bin/env python3
"""Writes the topology of a large simulated host to standard output.

    generate_host.py --platform linux --luns 2048 --paths 8 [options]

N LUNs over P paths each, on A arrays of two controllers with F target ports
each, behind H HBAs. A chosen share of the paths is failed (listed failed,
dead to every command) and a chosen share of the physical paths (HBA and
target port pairs) is dead with every path through it. The same arguments
give the same host.

Path k of a LUN goes through HBA k mod H and target port (k div H) mod F of
the LUN's array, at target a x P + k for array a (so that LUNs of two arrays
that share a number never share an address): its HCTL is HBA:0:T:L, with L
the LUN's number on its array. Up to H x F paths of a LUN each take their own physical path.
"""
import argparse
import json
import random
import sys

HBA_BASE = 3  # host numbers of the HBAs start here
SD_LETTERS = "abcdefghijklmnopqrstuvwxyz"


def sd_name(n):
    """sda, ..., sdz, sdaa, ... for n = 0, 1, ... (sda is the local disk's)."""
    n += 1
    s = ""
    while True:
        s = SD_LETTERS[n % 26] + s
        n = n // 26 - 1
        if n < 0:
            return "sd" + s


def parse_args(argv):
    p = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    p.add_argument("--platform", choices=["linux", "esxi", "solaris"], default="linux")
    p.add_argument("--luns", type=int, required=True)
    p.add_argument("--paths", type=int, required=True, help="paths of each LUN")
    p.add_argument("--arrays", type=int, default=1)
    p.add_argument("--ports", type=int, default=4, help="target ports of each array")
    p.add_argument("--hbas", type=int, default=2)
    p.add_argument("--failed", type=float, default=0.0, help="share of failed paths")
    p.add_argument("--dead-phypaths", type=float, default=0.0,
                   help="share of dead physical paths (HBA and target port)")
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--transport", choices=["fc", "iscsi"], default="fc")
    p.add_argument("--transport-classes", action="store_true",
                   help="the FC or iSCSI transport classes in sysfs (Linux)")
    p.add_argument("--one-fabric", action="store_true",
                   help="every HBA on one fabric (FC fabric name, iSCSI network portal)")
    p.add_argument("--one-target-port", action="store_true",
                   help="all paths of a LUN over one target port of its array")
    args = p.parse_args(argv)
    if min(args.luns, args.paths, args.arrays, args.ports, args.hbas) < 1:
        p.error("every count must be at least 1")
    if args.one_fabric and not args.transport_classes:
        p.error("--one-fabric shows in the transport classes: add --transport-classes")
    if args.ports < 2:
        p.error("an array has two controllers: at least two target ports")
    if args.platform == "solaris" and args.paths > args.hbas * args.ports:
        p.error("a Solaris path is named by its HBA and target port: at most hbas x ports paths")
    return args


def port_identifier(args, a, f):
    if args.transport == "iscsi":
        return f"iqn.2006-08.com.qelmar:vsa1000.2102351234abcd{a:06d}.p{f},t,0x{f + 1:04x}"
    return f"21{f:02x}e0fc12{a:04x}01"


def make_hosts(args, driver):
    hosts = []
    for h in range(args.hbas):
        host = {"number": HBA_BASE + h, "driver": driver,
                "initiator_port": f"iqn.1993-08.org.debian:01:host{h:04x}"
                if args.transport == "iscsi" else f"21000024ff4a{h:04x}"}
        if args.one_fabric:
            host["ip_address" if args.transport == "iscsi" else "fabric_name"] = (
                "10.0.0.1" if args.transport == "iscsi" else "1000000500000001")
        hosts.append(host)
    return hosts


def make_arrays(args):
    arrays = []
    for a in range(args.arrays):
        ports = [{"id": f"a{a}-p{f}",
                  "identifier": port_identifier(args, a, f),
                  "controller": "A" if f % 2 == 0 else "B"} for f in range(args.ports)]
        arrays.append({"id": f"a{a}", "vendor": "QELMAR", "product": "VSA1000",
                       "revision": "0100", "name": f"Array-{a:02d}",
                       "serial": f"2102351234ABCD{a:06d}", "interface_version": 516,
                       "port_type": 3 if args.transport == "iscsi" else 1,
                       "controllers": ["A", "B"], "target_ports": ports})
    return arrays


def dead_pairs(args, rng):
    pairs = [(h, a, f) for h in range(args.hbas) for a in range(args.arrays)
             for f in range(args.ports)]
    count = round(len(pairs) * args.dead_phypaths)
    return set(rng.sample(pairs, count))


def make_luns(args, rng):
    dead = dead_pairs(args, rng)
    total = args.luns * args.paths
    failed = set(rng.sample(range(total), round(total * args.failed)))
    luns, n = [], 0
    for i in range(args.luns):
        a, number = i % args.arrays, i // args.arrays
        paths = []
        for k in range(args.paths):
            h, f = k % args.hbas, (k // args.hbas) % args.ports
            if args.one_target_port:
                f = i % args.ports
            path = {"hctl": f"{HBA_BASE + h}:0:{a * args.paths + k}:{number}", "target_port": f"a{a}-p{f}"}
            if args.platform != "esxi":
                path["sd"] = sd_name(n)
            if n in failed or (h, a, f) in dead:
                path.update({"dm_state": "failed", "checker_state": "faulty",
                             "faults": {"dead": True}})
            paths.append(path)
            n += 1
        lun = {"wwid": f"36e0fc1234560000{i:017x}", "array": f"a{a}",
               "name": f"lun-{i:05d}", "size_bytes": (i % 64 + 1) * 1073741824,
               "host_lun_id": number, "array_lun_id": number,
               "owner": "A" if i % 2 == 0 else "B", "worker": "A" if i % 2 == 0 else "B",
               "paths": paths}
        if args.platform == "linux":
            lun["dm"] = f"dm-{i}"
        luns.append(lun)
    return luns


def solaris_tree(topo):
    """One ssd node per path, its device id that of the LUN (so the first
    node of a LUN lists every path), a block and a raw minor each."""
    ports = {p["id"]: p["identifier"] for a in topo["arrays"] for p in a["target_ports"]}
    nodes = []
    for lun in topo["luns"]:
        devid = "696400010003001073736400" + lun["wwid"][1:]
        for path in lun["paths"]:
            host, _, _, number = path["hctl"].split(":")
            link = f"c{host}t{ports[path['target_port']].upper()}d{number}s0"
            nodes.append({"driver": "ssd", "devid": devid, "device": path["sd"],
                          "minors": [{"name": "a", "type": "block", "link": link},
                                     {"name": "a,raw", "type": "raw", "link": link}]})
    return {"snapshot": True, "nodes": nodes}


def main(argv):
    args = parse_args(argv)
    rng = random.Random(args.seed)
    driver = {"linux": "qla2xxx", "esxi": "qlnativefc", "solaris": "qlc"}[args.platform]
    if args.transport == "iscsi":
        driver = "iscsi_tcp"
    topo = {
        "comment": f"Generated: {args.luns} LUNs over {args.paths} paths each, "
                   f"{args.arrays} arrays, {args.ports} target ports each, {args.hbas} HBAs, "
                   f"{args.failed:g} of the paths failed, "
                   f"{args.dead_phypaths:g} of the physical paths dead.",
        "platform": args.platform,
        "scsi_hosts": make_hosts(args, driver),
        "arrays": make_arrays(args),
        "luns": make_luns(args, rng),
    }
    if args.transport_classes:
        topo["transport_classes"] = True
    if args.platform == "solaris":
        topo["multipath"] = {"installed": False}
        topo["solaris"] = solaris_tree(topo)
    json.dump(topo, sys.stdout, separators=(",", ":"))
    sys.stdout.write("\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
