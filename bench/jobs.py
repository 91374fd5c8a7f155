#!/usr/bin/env python3
"""Jobs benchmark: the release programs with --jobs 1 and the default, side
by side, on generated hosts with time and hung paths.

    bench/jobs.py BUILD_DIR [--sizes 1024,16384] [--scales 1,0.001] [--only TEXT]
                  [--json FILE]

Each host has 8 paths a LUN over 2 HBAs and 4 target ports, 200 us a SCSI
command, 50 ms a listing command, and 1% of its paths hung (every 100th path,
from the first): a hung command answers when it times out, 7 s of host time.
Every 25th LUN has its first path hung, so that its dm node (or its ESXi
node, which the ESXi build queries) hangs as well. SIZES and SCALES pair up: a host of 1,024 paths runs in real
time (scale 1), one of 16,384 at scale 0.001; every figure is host time (the
real time divided by the scale).

For each program: the run's host time with --jobs 1 and with the default,
their ratio, the floor (the listing commands' time plus the longest single
device's own command sequence, from the default run's audit log), the
default run's peak memory (its own, less what the simulator's topology load
added) and its bound (today's bound of its records plus 16 MiB, as
bench/scale.py, plus 8 MiB for the queries side by side). Then the targets,
each PASS or FAIL: default within 1.25x the floor plus 50 ms; --jobs 1 at
least 20 times the default; peak memory within the bound.
"""
import argparse
import collections
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scale  # noqa: E402  (the generator, the process log and the record bounds)

SERVICE_US = 200
LISTING_MS = 50
HUNG_EVERY = 100
LISTINGS = ("multipath", "esxcfg-mpath", "esxcfg-scsidevs")


def generate(work, platform, paths, host_scale):
    luns, per_lun = scale.host_shape(paths)
    name = os.path.join(work, f"jobs-{platform}-{paths}-{host_scale}-hung{HUNG_EVERY}.json")
    if os.path.exists(name):
        return name
    text = subprocess.run([sys.executable, scale.GENERATOR, "--platform", platform, "--luns",
                           str(luns), "--paths", str(per_lun), "--hbas", str(scale.HBAS),
                           "--ports", str(scale.PORTS)], stdout=subprocess.PIPE,
                          check=True).stdout
    host = json.loads(text)
    host["timing"] = {"service_us": SERVICE_US, "listing_ms": LISTING_MS, "scale": host_scale}
    n = 0
    for lun in host["luns"]:
        for path in lun["paths"]:
            if n % HUNG_EVERY == 0:
                path.setdefault("faults", {})["hung"] = True
            n += 1
    with open(name, "w") as out:
        json.dump(host, out)
    return name


def own_sequences_us(audit):
    """Per device node, the host time of its own commands."""
    own = collections.Counter()
    with open(audit) as log:
        for line in log:
            words = line.split()
            if words and words[0] == "scsi":
                fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
                own[words[1]] += int(fields["end_us"]) - int(fields["start_us"])
    return own


def run(build, work, host, command, host_scale):
    audit = os.path.join(work, "jobs-audit.log")
    proclog = os.path.join(work, "jobs-proc.log")
    sansim = os.path.join(build, "sim", "sansim")
    proc = subprocess.Popen([sansim, "run", host, "--audit", audit, "--proclog", proclog, "--"] +
                            command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.wait()
    records = scale.read_records(proclog)
    # The program's own record (the kernel's comm: at most 15 characters).
    comm = os.path.basename(command[0])[:15]
    own = next(r for r in records if r["comm"] == comm)
    listings = sum(1 for r in records if r["comm"] in LISTINGS)
    return {
        "host_ms": int(own["wall_us"]) / 1000 / host_scale,
        "own_kib": int(own["hwm_kib"]) - max(0, int(own["sim_kib"])),
        "listing_ms": listings * LISTING_MS,
        "longest_device_ms": max(own_sequences_us(audit).values(), default=0) / 1000,
    }


def programs(build):
    tool = os.path.join(build, "tool", "tsexTool")
    return [
        ("tsexTool show path", "linux", [tool, "show", "path"], "vlun"),
        ("tsexTool check status", "linux", [tool, "check", "status"], "alarm"),
        ("ts_showdisk (Linux)", "linux", [os.path.join(build, "showdisk", "ts_showdisk")], "lun"),
        ("ts_showdisk (ESXi)", "esxi", [os.path.join(build, "showdisk", "ts_showdisk-esxi")],
         "esxi"),
    ]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--sizes", default="1024,16384")
    parser.add_argument("--scales", default="1,0.001")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", help="the commands whose name holds this text")
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)
    sizes = [int(s) for s in args.sizes.split(",")]
    scales = [float(s) for s in args.scales.split(",")]
    if len(scales) != len(sizes):
        parser.error("--scales needs one scale for each size")
    work = os.path.join(build, "scale")
    os.makedirs(work, exist_ok=True)
    record = scale.record_sizes(build)
    results, targets = {}, []
    for name, platform, command, kind in programs(build):
        if args.only and args.only not in name:
            continue
        print(f"\n{name}")
        print(f"{'paths':>7} {'scale':>6} {'jobs 1 s':>10} {'default s':>10} {'ratio':>7} "
              f"{'floor s':>9} {'/floor':>7} {'own MiB':>8} {'bound MiB':>9}")
        rows = results.setdefault(name, {})
        for paths, host_scale in zip(sizes, scales):
            host = generate(work, platform, paths, host_scale)
            serial = run(build, work, host, [command[0], "--jobs", "1"] + command[1:], host_scale)
            default = run(build, work, host, command, host_scale)
            floor_ms = default["listing_ms"] + default["longest_device_ms"]
            ratio = serial["host_ms"] / default["host_ms"]
            bound = scale.bound_kib(record, kind, paths) + 8 * 1024
            print(f"{paths:>7} {host_scale:>6g} {serial['host_ms'] / 1000:>10.2f} "
                  f"{default['host_ms'] / 1000:>10.2f} {ratio:>7.1f} {floor_ms / 1000:>9.2f} "
                  f"{default['host_ms'] / floor_ms:>7.2f} {default['own_kib'] / 1024:>8.1f} "
                  f"{bound / 1024:>9.1f}")
            rows[paths] = {"scale": host_scale, "jobs1": serial, "default": default,
                           "floor_ms": floor_ms, "ratio": ratio, "bound_kib": bound}
            targets += [
                (f"{name}, {paths} paths: default {default['host_ms'] / 1000:.2f} s <= 1.25 x "
                 f"floor {floor_ms / 1000:.2f} s + 0.05 s",
                 default["host_ms"] <= 1.25 * floor_ms + 50),
                (f"{name}, {paths} paths: --jobs 1 / default {ratio:.1f} >= 20", ratio >= 20),
                (f"{name}, {paths} paths: own peak {default['own_kib'] / 1024:.1f} MiB <= "
                 f"{bound / 1024:.1f} MiB", default["own_kib"] <= bound),
            ]
    print("\nTargets")
    for text, ok in targets:
        print(f"  {'PASS' if ok else 'FAIL'}  {text}")
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"results": results, "targets": targets}, out, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
