#!/usr/bin/env python3
"""Deadline benchmark: how soon a run given a deadline answers while a
command or a listing is still in flight.

    bench/deadline.py BUILD_DIR [--hosts a,b,c,d,e] [--only TEXT] [--work DIR]
                      [--json FILE]

The hosts are outage.py's, in real time (scale 1), and two more:

  a  16 LUNs over 4 paths, the first LUN's first path hung (7 s a command);
  b  1,024 paths, 8 a LUN, every 100th path hung;
  c  16 LUNs over 4 paths, the first LUN's map queueing without a path:
     its dm node keeps every SG_IO until the process is killed (Linux);
  d  host a without the hung path, but the listing never ends
     (multipath -ll, on ESXi esxcfg-mpath -l): its path checkers wait;
  e  host a without the hung path, but the first LUN's map lost its paths
     after the listing was printed: the listing shows them, the dm node
     keeps every SG_IO (Linux).

Each program runs with a deadline of 5 s (tsexTool --nagios also with its
default of 8 s) and the default --jobs. The figure is the program's own
time from its start to its exit, from the simulator's process log (the
process record its exit writes), and the real time of the whole run; the
target is the deadline plus one second. The audit log's `exit` line, where
the host deferred a command, gives the exit's host time as well.
"""
import argparse
import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import outage  # noqa: E402  (the outage hosts)
import scale  # noqa: E402  (the process log)

DEADLINE_S = 5
NAGIOS_DEFAULT_S = 8
HOSTS = {
    "a": ("one hung path of 64", ("linux", "esxi")),
    "b": ("1% of 1,024 paths hung", ("linux", "esxi")),
    "c": ("queueing map, 64 paths", ("linux",)),
    "d": ("listing never ends, 64 paths", ("linux", "esxi")),
    "e": ("map lost its paths after the listing", ("linux",)),
}


def host_file(work, platform, key):
    """The host file of KEY: outage.py's for a to c, a changed clean host
    a for d and e."""
    if key in ("a", "b", "c"):
        return outage.host_file(work, platform, key, 1, True)
    name = os.path.join(work, f"deadline-{platform}-{key}.json")
    with open(outage.host_file(work, platform, "a", 1, False)) as f:
        host = json.load(f)
    if key == "d" and platform == "linux":
        host.setdefault("multipath", {})["hang"] = True
    elif key == "d":
        host.setdefault("esxi", {})["hang"] = ["esxcfg-mpath"]
    else:
        host["luns"][0].setdefault("dm_faults", {})["paths_lost"] = True
    with open(name, "w") as out:
        json.dump(host, out)
    return name


def programs(build):
    tool = os.path.join(build, "tool", "tsexTool")
    showdisk = os.path.join(build, "showdisk", "ts_showdisk")
    esxi = os.path.join(build, "showdisk", "ts_showdisk-esxi")
    t = str(DEADLINE_S)
    return [
        # name, platform, command, its deadline
        ("tsexTool --timeout 5 check status", "linux", [tool, "--timeout", t, "check", "status"],
         DEADLINE_S),
        ("tsexTool --nagios -t 5 check status", "linux",
         [tool, "--nagios", "-t", t, "check", "status"], DEADLINE_S),
        ("tsexTool --nagios check status (8 s)", "linux", [tool, "--nagios", "check", "status"],
         NAGIOS_DEFAULT_S),
        ("tsexTool --timeout 5 --prometheus", "linux",
         [tool, "--timeout", t, "--prometheus", "check", "status"], DEADLINE_S),
        ("ts_showdisk --timeout 5 (Linux)", "linux", [showdisk, "--timeout", t], DEADLINE_S),
        ("ts_showdisk --timeout 5 (ESXi)", "esxi", [esxi, "--timeout", t], DEADLINE_S),
    ]


def run(build, work, tag, host, command):
    """One run: the program's own time (proclog), the run's real time, the
    audit's exit host time, the first line of its output."""
    audit = os.path.join(work, f"deadline-{tag}.audit")
    proclog = os.path.join(work, f"deadline-{tag}.proc")
    for log in (audit, proclog):
        if os.path.exists(log):
            os.remove(log)
    start = time.monotonic()
    try:
        done = subprocess.run([os.path.join(build, "sim", "sansim"), "run", host, "--audit", audit,
                               "--proclog", proclog, "--"] + command, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, text=True, timeout=120)
    except subprocess.TimeoutExpired:
        return {"ended": False, "real_s": time.monotonic() - start}
    real_s = time.monotonic() - start
    # The program's own record (the kernel's comm: at most 15 characters).
    comm = os.path.basename(command[0])[:15]
    own = [r for r in scale.read_records(proclog) if r.get("comm") == comm]
    own_us = int(own[-1]["wall_us"]) if own else None
    exit_us = None
    if os.path.exists(audit):
        with open(audit) as log:
            for line in log:
                match = re.match(r"^exit pid=\d+ status=\d+ at_us=(\d+)$", line)
                if match:
                    exit_us = int(match.group(1))
    return {"ended": True, "status": done.returncode, "real_s": real_s,
            "own_s": own_us / 1e6 if own_us is not None else None,
            "exit_host_s": exit_us / 1e6 if exit_us is not None else None,
            "first_line": (done.stdout.splitlines() or [""])[-1][:100]}


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--hosts", default="a,b,c,d,e")
    parser.add_argument("--work", help="the directory of hosts and logs (BUILD/deadline)")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", help="the programs whose name holds this text")
    args = parser.parse_args(argv)
    keys = [k for k in args.hosts.split(",") if k]
    if not keys or any(k not in HOSTS for k in keys):
        parser.error("--hosts takes a, b, c, d and e")
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "deadline")
    os.makedirs(work, exist_ok=True)
    began = time.monotonic()
    results, targets = {}, []
    for name, platform, command, deadline in programs(build):
        if args.only and args.only not in name:
            continue
        print(f"\n{name}")
        print(f"  {'host':<40} {'own s':>7} {'real s':>7} {'exit host s':>11} {'status':>6}  "
              "last line")
        for key in keys:
            if platform not in HOSTS[key][1]:
                continue
            tag = re.sub(r"[^a-z0-9]+", "-", name.lower()) + "-" + key
            row = run(build, work, tag, host_file(work, platform, key), command)
            results.setdefault(name, {})[key] = row
            own = row.get("own_s")
            ok = row["ended"] and own is not None and own <= deadline + 1
            print(f"  {key + ' ' + HOSTS[key][0]:<40} "
                  f"{own if own is not None else float('nan'):>7.2f} {row['real_s']:>7.2f} "
                  f"{row.get('exit_host_s') or float('nan'):>11.2f} {row.get('status', '-'):>6}  "
                  f"{row.get('first_line', 'never ended')}")
            targets.append((ok, f"{name}, host {key}: answered in "
                                f"{own if own is not None else 'never'} s <= {deadline + 1} s"))
    print("\nTargets")
    for ok, text in targets:
        print(f"  {outage.verdict(ok):<4}  {text}")
    print(f"\nreal time of the benchmark: {time.monotonic() - began:.1f} s")
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"results": results, "targets": targets}, out, indent=1)
    return 0 if all(ok for ok, _ in targets) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
