#!/usr/bin/env python3
"""Scale benchmark: the release programs on generated hosts of 1 to 16,384 paths.

    bench/scale.py BUILD_DIR [--sizes 1,64,1024,16384] [--repeat 3] [--only TEXT]

BUILD_DIR holds the release programs and the simulator (build/bench). For
every command and host size it runs the program on a simulated host with the
audit and process logs on and prints, from the program's own process record:
wall and CPU time, time per path, the growth from the previous size (time per
path over time per path: 1.00 is linear), the peak resident memory less what
the simulator's topology load added (the program's own), the bound of its
records plus 16 MiB, SCSI commands per device (from the audit log) and the
processes it started (from the process log). The fake listing commands are
timed alone as the floor. Then the targets, each PASS or FAIL.
"""
import argparse
import collections
import json
import os
import statistics
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
GENERATOR = os.path.join(ROOT, "sim", "generator", "generate_host.py")
PATHS_PER_LUN = 8
HBAS = 2
PORTS = 4
MIB = 1024 * 1024
# check redundancy and check failover: a path's record of the analysis (its
# five component names, each on the heap past 15 characters) and its two
# pointers, rounded up.
ANALYSIS_PER_PATH = 512


def host_shape(paths):
    per_lun = min(PATHS_PER_LUN, paths)
    return paths // per_lun, per_lun


def generate(work, platform, paths, failed):
    luns, per_lun = host_shape(paths)
    name = os.path.join(work, f"{platform}-{paths}-{int(failed * 100)}.json")
    if not os.path.exists(name):
        with open(name, "w") as out:
            subprocess.run([sys.executable, GENERATOR, "--platform", platform, "--luns",
                            str(luns), "--paths", str(per_lun), "--hbas", str(HBAS), "--ports",
                            str(PORTS), "--failed", str(failed)], stdout=out, check=True)
    return name


def read_records(proclog):
    records = []
    with open(proclog) as log:
        for line in log:
            fields = dict(f.split("=", 1) for f in line.split()[1:])
            records.append(fields)
    return records


def scsi_per_device(audit):
    per_device = collections.Counter()
    with open(audit) as log:
        for line in log:
            words = line.split()
            if words and words[0] == "scsi":
                per_device[words[1]] += 1
    return per_device


def run_once(build, work, host, command):
    audit = os.path.join(work, "audit.log")
    proclog = os.path.join(work, "proc.log")
    sansim = os.path.join(build, "sim", "sansim")
    proc = subprocess.Popen([sansim, "run", host, "--audit", audit, "--proclog", proclog, "--"] +
                            command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.wait()
    records = read_records(proclog)
    # The program is not sansim's own child (the simulator starts it under a
    # process of its own): it is the record of its name (the kernel's comm,
    # at most 15 characters), the others its children.
    comm = os.path.basename(command[0])[:15]
    own = [r for r in records if r["comm"] == comm][:1]
    children = [r for r in records if r not in own]
    return (own[0] if own else None), children, scsi_per_device(audit)


def measure(build, work, host, command, repeat):
    runs = [run_once(build, work, host, command) for _ in range(repeat)]
    if any(run[0] is None for run in runs):
        raise RuntimeError(f"no process record of {' '.join(command)} on {host}")
    runs.sort(key=lambda run: int(run[0]["wall_us"]))
    own, children, scsi = runs[len(runs) // 2]
    commands = sorted(scsi.values())
    return {
        "wall_ms": int(own["wall_us"]) / 1000,
        "cpu_ms": (int(own["user_us"]) + int(own["sys_us"])) / 1000,
        "child_cpu_ms": sum(int(c["user_us"]) + int(c["sys_us"]) for c in children) / 1000,
        "own_kib": int(own["hwm_kib"]) - max(0, int(own["sim_kib"])),
        "sim_ms": int(own["sim_us"]) / 1000,
        "scsi": (commands[0], commands[-1]) if commands else (0, 0),
        "processes": len(children),
    }


def record_sizes(build):
    out = subprocess.run([os.path.join(build, "bench", "record_sizes")], capture_output=True,
                         text=True, check=True).stdout
    return {name: int(size) for name, size in (line.split() for line in out.splitlines())}


def bound_kib(sizes, kind, paths):
    luns, _ = host_shape(paths)
    phypaths = HBAS * PORTS
    tables = {
        "vlun": sizes["VlunInfo"] * luns + sizes["PathInfo"] * paths,
        "phypath": sizes["VlunInfo"] * luns + sizes["PathInfo"] * paths +
        sizes["PhypathInfo"] * phypaths,
        "device": (sizes["VlunInfo"] + sizes["DevInfo"]) * luns +
        (sizes["PathInfo"] + sizes["DevInfo"]) * paths,
        "redundancy": sizes["VlunInfo"] * luns + sizes["PathInfo"] * paths +
        sizes["PhypathInfo"] * phypaths + ANALYSIS_PER_PATH * paths,
        "alarm": sizes["VlunInfo"] * luns + sizes["PathInfo"] * paths +
        sizes["PhypathInfo"] * phypaths + sizes["AlarmInfo"] * (luns + paths + phypaths),
        "lun": sizes["LunInfo"] * (luns + paths),
        "esxi": sizes["LunInfo"] * (luns + paths) + sizes["PathListEntry"] * paths,
        "solaris": sizes["DevIdNode"] * (luns + 1),
    }
    return (tables[kind] + 16 * MIB) // 1024


def programs(build):
    tool = os.path.join(build, "tool", "tsexTool")
    return [
        # name, platform, failed share, command, record kind
        ("tsexTool show vlun", "linux", 0, [tool, "show", "vlun"], "vlun"),
        ("tsexTool show path", "linux", 0, [tool, "show", "path"], "vlun"),
        ("tsexTool show phypath", "linux", 0, [tool, "show", "phypath"], "phypath"),
        ("tsexTool show device", "linux", 0, [tool, "show", "device"], "device"),
        ("tsexTool check status", "linux", 0, [tool, "check", "status"], "alarm"),
        ("tsexTool check status, 25% failed", "linux", 0.25, [tool, "check", "status"], "alarm"),
        ("tsexTool check redundancy", "linux", 0, [tool, "check", "redundancy"], "redundancy"),
        ("tsexTool check failover host3", "linux", 0, [tool, "check", "failover", "host3"],
         "redundancy"),
        ("ts_showdisk (Linux)", "linux", 0, [os.path.join(build, "showdisk", "ts_showdisk")],
         "lun"),
        ("ts_showdisk (ESXi)", "esxi", 0,
         [os.path.join(build, "showdisk", "ts_showdisk-esxi")], "esxi"),
        ("ts_showdisk (Solaris)", "solaris", 0,
         [os.path.join(build, "showdisk_solaris", "ts_showdisk")], "solaris"),
        ("floor: multipath -ll", "linux", 0, ["sh", "-c", "multipath -ll >/dev/null"], None),
        ("floor: esxcfg-mpath -l, esxcfg-scsidevs -l", "esxi", 0,
         ["sh", "-c", "esxcfg-mpath -l >/dev/null; esxcfg-scsidevs -l >/dev/null"], None),
    ]


def floor_time(build, work, host, command, repeat):
    """The listing commands' own wall time (a shell that forks them is not counted)."""
    best = None
    for _ in range(repeat):
        own, children, _ = run_once(build, work, host, command)
        listed = children + ([own] if own is not None and own["comm"] != "sh" else [])
        total = sum(int(c["wall_us"]) for c in listed) / 1000
        best = total if best is None else min(best, total)
    return best


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--sizes", default="1,64,1024,16384")
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", help="the commands whose name holds this text")
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)
    sizes = [int(s) for s in args.sizes.split(",")]
    work = os.path.join(build, "scale")
    os.makedirs(work, exist_ok=True)
    record = record_sizes(build)
    results = {}
    targets = []
    for name, platform, failed, command, kind in programs(build):
        if args.only and args.only not in name:
            continue
        print(f"\n{name}")
        if kind is None:
            print(f"{'paths':>7} {'wall ms':>9} {'us/path':>9} {'growth':>7}")
        else:
            print(f"{'paths':>7} {'wall ms':>9} {'cpu ms':>8} {'child ms':>9} {'us/path':>9} "
                  f"{'growth':>7} {'own MiB':>8} {'bound MiB':>9} {'sim ms':>7} "
                  f"{'scsi/dev':>9} {'procs':>6}")
        previous = None
        rows = results.setdefault(name, {})
        for paths in sizes:
            host = generate(work, platform, paths, failed)
            if kind is None:
                wall = floor_time(build, work, host, command, args.repeat)
                per_path = wall * 1000 / paths
                growth = "" if previous is None else f"{per_path / previous:7.2f}"
                print(f"{paths:>7} {wall:>9.1f} {per_path:>9.1f} {growth:>7}")
                rows[paths] = {"wall_ms": wall}
                previous = per_path
                continue
            m = measure(build, work, host, command, args.repeat)
            per_path = m["wall_ms"] * 1000 / paths
            growth = None if previous is None else per_path / previous
            bound = bound_kib(record, kind, paths)
            scsi = f"{m['scsi'][0]}" if m["scsi"][0] == m["scsi"][1] else \
                f"{m['scsi'][0]}-{m['scsi'][1]}"
            print(f"{paths:>7} {m['wall_ms']:>9.1f} {m['cpu_ms']:>8.1f} {m['child_cpu_ms']:>9.1f} "
                  f"{per_path:>9.1f} {'' if growth is None else f'{growth:.2f}':>7} "
                  f"{m['own_kib'] / 1024:>8.1f} {bound / 1024:>9.1f} {m['sim_ms']:>7.1f} "
                  f"{scsi:>9} {m['processes']:>6}")
            m.update({"us_per_path": per_path, "growth": growth, "bound_kib": bound})
            rows[paths] = m
            previous = per_path
            if paths == sizes[-1] and growth is not None:
                targets.append((f"{name}: growth per path {sizes[-2]} -> {paths} paths "
                                f"{growth:.2f} <= 1.15", growth <= 1.15))
            targets.append((f"{name}, {paths} paths: own peak {m['own_kib'] / 1024:.1f} MiB "
                            f"<= bound {bound / 1024:.1f} MiB", m["own_kib"] <= bound))
    healthy = results.get("tsexTool check status", {}).get(sizes[-1])
    degraded = results.get("tsexTool check status, 25% failed", {}).get(sizes[-1])
    if healthy and degraded:
        ratio = degraded["wall_ms"] / healthy["wall_ms"]
        targets.append((f"check status at {sizes[-1]} paths: 25% failed / healthy {ratio:.2f} <= 2",
                        ratio <= 2))
    print("\nTargets")
    for text, ok in targets:
        print(f"  {'PASS' if ok else 'FAIL'}  {text}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"results": results, "targets": targets}, out, indent=1)
    return 0 if all(ok for _, ok in targets) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
