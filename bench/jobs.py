#!/usr/bin/env python3
"""Jobs benchmark: the release programs with --jobs 1 and the default, side
by side, on generated hosts with time and hung paths.

    bench/jobs.py BUILD_DIR [--sizes 1024,16384] [--scales 1,0.1]
                  [--serial-scales 1,0.001] [--only TEXT] [--work DIR]
                  [--json FILE]

Each host has 8 paths a LUN over 2 HBAs and 4 target ports, 200 us a SCSI
command, 50 ms a listing command, and 1% of its paths hung (every 100th path,
from the first): a hung command answers when it times out, 7 s of host time.
Every 25th LUN has its first path hung, so that its dm node (or its ESXi
node, which the ESXi build queries) hangs as well. SIZES, SCALES (the
default runs) and SERIAL-SCALES (the --jobs 1 runs) pair up: a host of 1,024
paths runs in real time, one of 16,384 at a smaller scale.

Every figure is host time. In real time that is the wall clock. At a smaller
scale the run is accounted: its real time, plus for each command its own
host time by the model (the audit log's own_us) less its real wait, summed
along one thread and, for the workers of one pool, taken from the thread
that waited longest; plus each listing command's time less its real run.
The simulator's own handling of a command keeps its real time instead of
weighing a thousandfold. A --jobs 1 run waits for one command at a time, so
its account holds at any scale; side by side, the pool shares devices out
in real time, so its account holds only where the real waits dwarf the
simulator's handling (0.1 at 16,384 paths; at 0.001 the hung devices fall
to the workers as if they took a few real milliseconds, not 63 host
seconds). The sched column is the check: the devices' own sequences laid
on 32 workers in the order the run took them.

For each program: the run's host time with --jobs 1 and with the default,
their ratio, the floor (the listing commands' time plus the longest single
device's own command sequence, from the default run's audit log), the
default run's real and accounted time, the schedule, its peak memory (its
own, less what the simulator's topology load added) and its bound (today's
bound of its records plus 16 MiB, as bench/scale.py, plus 8 MiB for the
queries side by side). Then the targets, each PASS or FAIL: default within
1.25x the floor plus 50 ms; --jobs 1 at least 20 times the default; peak
memory within the bound.
"""
import argparse
import collections
import heapq
import json
import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import scale  # noqa: E402  (the generator, the process log and the record bounds)

SERVICE_US = 200
LISTING_MS = 50
HUNG_EVERY = 100
DEFAULT_JOBS = 32
LISTINGS = ("multipath", "esxcfg-mpath", "esxcfg-scsidevs")


def generated_host(platform, luns, per_lun, host_scale):
    """A host of LUNS LUNs over PER_LUN paths each (2 HBAs, 4 target ports)
    with the benchmark's time at HOST_SCALE and no fault, as a JSON value."""
    text = subprocess.run([sys.executable, scale.GENERATOR, "--platform", platform, "--luns",
                           str(luns), "--paths", str(per_lun), "--hbas", str(scale.HBAS),
                           "--ports", str(scale.PORTS)], stdout=subprocess.PIPE,
                          check=True).stdout
    host = json.loads(text)
    host["timing"] = {"service_us": SERVICE_US, "listing_ms": LISTING_MS, "scale": host_scale}
    return host


def hang_every(host, every):
    """Hangs every EVERY-th path of HOST, counted over its LUNs from the first."""
    n = 0
    for lun in host["luns"]:
        for path in lun["paths"]:
            if n % every == 0:
                path.setdefault("faults", {})["hung"] = True
            n += 1


def generate(work, platform, paths, host_scale):
    luns, per_lun = scale.host_shape(paths)
    name = os.path.join(work, f"jobs-{platform}-{paths}-{host_scale}-hung{HUNG_EVERY}.json")
    if os.path.exists(name):
        return name
    host = generated_host(platform, luns, per_lun, host_scale)
    hang_every(host, HUNG_EVERY)
    with open(name, "w") as out:
        json.dump(host, out)
    return name


def commands(audit, host_scale):
    """Every SCSI command of the audit log: node, thread, real start and end
    (microseconds), and its own host time by the model."""
    found = []
    with open(audit) as log:
        for line in log:
            words = line.split()
            if words and words[0] == "scsi":
                f = dict(w.split("=", 1) for w in words[2:] if "=" in w)
                found.append((words[1], int(f["tid"]), int(f["start_us"]) * host_scale,
                              int(f["end_us"]) * host_scale, int(f["own_us"])))
    return found


def own_sequences_us(found):
    """Per device node, the host time of its own commands."""
    own = collections.Counter()
    for node, _, _, _, own_us in found:
        own[node] += own_us
    return own


def phases(found, main_tid):
    """The worker threads' commands grouped into the pools that ran them:
    threads whose real spans overlap ran side by side. Returns a list of
    (real start, real end, {tid: spans of lag})."""
    spans = {}
    for _, tid, start, end, _ in found:
        if tid != main_tid:
            first, last = spans.get(tid, (start, end))
            spans[tid] = (min(first, start), max(last, end))
    merged = []
    for tid, (first, last) in sorted(spans.items(), key=lambda item: item[1]):
        if merged and first <= merged[-1][1]:
            merged[-1][1] = max(merged[-1][1], last)
            merged[-1][2].add(tid)
        else:
            merged.append([first, last, {tid}])
    return merged


def accounted_lag_us(found, main_tid):
    """How much longer than its real run the program would have taken on a
    host whose commands take their own time (model) while everything else,
    the program and the simulator's own handling, keeps its real time: each
    command adds its own time less its real wait; side by side the longest
    thread of a pool counts, one after another the sum."""
    pools = phases(found, main_tid)
    lag = collections.Counter()       # per pool (index) and thread
    outside = 0.0
    for _, tid, start, end, own_us in found:
        delta = own_us - (end - start)
        pool = next((i for i, p in enumerate(pools) if p[0] <= start <= p[1]), None)
        if pool is None:
            outside += delta
        else:
            lag[(pool, tid)] += delta
    within = sum(max((v for (i, _), v in lag.items() if i == pool), default=0)
                 for pool in range(len(pools)))
    return outside + within


def pool_schedule_us(found, jobs):
    """The host time of the devices' own sequences when a pool of JOBS
    workers takes them in the order the run claimed them (each worker takes
    the next device when it is free): the schedule the program would make
    on a host whose only costs are its commands."""
    first, own = {}, collections.Counter()
    for node, _, start, _, own_us in found:
        first[node] = min(first.get(node, start), start)
        own[node] += own_us
    free = [0] * jobs
    for node in sorted(first, key=first.get):
        heapq.heapreplace(free, free[0] + own[node])
    return max(free)


def run(build, work, host, command, host_scale, jobs):
    audit = os.path.join(work, "jobs-audit.log")
    proclog = os.path.join(work, "jobs-proc.log")
    sansim = os.path.join(build, "sim", "sansim")
    proc = subprocess.Popen([sansim, "run", host, "--audit", audit, "--proclog", proclog, "--"] +
                            command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    proc.wait()
    return account(audit, proclog, command, host_scale, jobs)


def account(audit, proclog, command, host_scale, jobs):
    """The figures of a run of COMMAND that ended, from its audit and process
    logs: host time (real or accounted), the schedule, peak memory, the
    listing commands' time and the longest device's own sequence."""
    records = scale.read_records(proclog)
    # The program's own record (the kernel's comm: at most 15 characters).
    comm = os.path.basename(command[0])[:15]
    own = next(r for r in records if r["comm"] == comm)
    listings = sum(1 for r in records if r["comm"] in LISTINGS)
    found = commands(audit, host_scale)
    real_ms = int(own["wall_us"]) / 1000
    # At a smaller scale the waits are accounted by the model and the rest
    # counts as it ran; in real time the account must match the wall clock.
    accounted_ms = (real_ms + accounted_lag_us(found, int(own["pid"])) / 1000 +
                    listings * LISTING_MS * (1 - host_scale))
    return {
        "host_ms": real_ms if host_scale == 1 else accounted_ms,
        "real_ms": real_ms,
        "accounted_ms": accounted_ms,
        "schedule_ms": listings * LISTING_MS + pool_schedule_us(found, jobs) / 1000,
        "own_kib": int(own["hwm_kib"]) - max(0, int(own["sim_kib"])),
        "listing_ms": listings * LISTING_MS,
        "longest_device_ms": max(own_sequences_us(found).values(), default=0) / 1000,
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
    parser.add_argument("--scales", default="1,0.1")
    parser.add_argument("--serial-scales", default="1,0.001",
                        help="the scales of the --jobs 1 runs, one for each size")
    parser.add_argument("--work", help="the directory of hosts and logs (BUILD/scale)")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", help="the commands whose name holds this text")
    args = parser.parse_args(argv)
    build = os.path.abspath(args.build)
    sizes = [int(s) for s in args.sizes.split(",")]
    scales = [float(s) for s in args.scales.split(",")]
    serial_scales = [float(s) for s in args.serial_scales.split(",")]
    if len(scales) != len(sizes) or len(serial_scales) != len(sizes):
        parser.error("--scales and --serial-scales need one scale for each size")
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "scale")
    os.makedirs(work, exist_ok=True)
    record = scale.record_sizes(build)
    results, targets = {}, []
    for name, platform, command, kind in programs(build):
        if args.only and args.only not in name:
            continue
        print(f"\n{name}")
        print(f"{'paths':>7} {'scales':>11} {'jobs 1 s':>10} {'default s':>10} {'ratio':>7} "
              f"{'floor s':>9} {'/floor':>7} {'real s':>8} {'acct s':>8} {'sched s':>8} "
              f"{'own MiB':>8} "
              f"{'bound MiB':>9}")
        rows = results.setdefault(name, {})
        for paths, host_scale, serial_scale in zip(sizes, scales, serial_scales):
            serial_host = generate(work, platform, paths, serial_scale)
            serial = run(build, work, serial_host, [command[0], "--jobs", "1"] + command[1:],
                         serial_scale, 1)
            host = generate(work, platform, paths, host_scale)
            default = run(build, work, host, command, host_scale, DEFAULT_JOBS)
            floor_ms = default["listing_ms"] + default["longest_device_ms"]
            ratio = serial["host_ms"] / default["host_ms"]
            bound = scale.bound_kib(record, kind, paths) + 8 * 1024
            print(f"{paths:>7} {f'{serial_scale:g}/{host_scale:g}':>11} {serial['host_ms'] / 1000:>10.2f} "
                  f"{default['host_ms'] / 1000:>10.2f} {ratio:>7.1f} {floor_ms / 1000:>9.2f} "
                  f"{default['host_ms'] / floor_ms:>7.2f} {default['real_ms'] / 1000:>8.2f} "
                  f"{default['accounted_ms'] / 1000:>8.2f} {default['schedule_ms'] / 1000:>8.2f} "
                  f"{default['own_kib'] / 1024:>8.1f} "
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
