"""The slow-device scenario of the real-kernel stage, run by guest.py inside
the guest after the iSCSI scenarios: the scsi_debug maps again, every
command taking half a second (scsi_debug's `delay`, in jiffies, set once the
devices are attached and the maps made), and the programs with `--jobs 1`
against their default.

What it measures, for the closing figures and the check below:
- the listing alone (`multipath -ll`, whose path checkers send TEST UNIT
  READY too);
- each program's run with --jobs 1 and with its default;
- the commands each device node got in one default run (strace's SG_IO
  calls by node), so that the floor is the listing plus the longest single
  device's own sequence, as bench/jobs.py defines it.
The checks: the default run within 1.25 times that floor plus the run's
own time without the delay (the program's start and work under TCG), and
faster than --jobs 1.
"""

import collections
import json
import os
import re
import subprocess
import time

DELAY_JIFFIES = 125
FLOOR_FACTOR = 1.25
DELAY_ATTR = "/sys/bus/pseudo/drivers/scsi_debug/delay"


def hz(g):
    """The kernel's tick rate: jiffies advance HZ a second."""
    def jiffies():
        with open("/proc/timer_list") as f:
            return int(re.search(r"^jiffies: (\d+)", f.read(), re.M).group(1))
    try:
        jiffies()
    except (OSError, AttributeError):
        return 250.0  # Debian's CONFIG_HZ
    j0, t0 = jiffies(), time.monotonic()
    time.sleep(1.0)
    return (jiffies() - j0) / (time.monotonic() - t0)


def timed(args):
    start = time.monotonic()
    proc = subprocess.run(args, capture_output=True, timeout=120)
    return time.monotonic() - start, proc.returncode


def unhex(text):
    """A string strace -xx wrote: every byte as \\xNN."""
    return bytes.fromhex(text.replace("\\x", "")).decode() if "\\x" in text else text


def commands_by_node(program, words):
    """The SG_IO calls of one run by the node they went to: the program's
    own, and the listing's (multipath's checkers and prioritizers) by node
    and operation code."""
    log = "/tmp/slow.strace"
    subprocess.run(["strace", "-f", "-y", "-xx", "-e", "trace=ioctl,execve,clone,clone3,fork,vfork", "-o", log, program]
                   + words, capture_output=True, timeout=300)
    own, listing = collections.Counter(), collections.Counter()
    listing_pids = set()
    with open(log) as f:
        for line in f:
            pid = line.split(None, 1)[0]
            m = re.search(r'execve\("([^"]*)"', line)
            if m and unhex(m.group(1)).endswith("/multipath"):
                listing_pids.add(pid)
            # the listing's threads and children are the listing's too
            m = re.search(r"^\d+ +(?:clone3?|v?fork)\(.*= (\d+)$", line.rstrip())
            if m and pid in listing_pids:
                listing_pids.add(m.group(1))
            # -xx writes every string in hex, the node's path too
            m = re.search(r'ioctl\(\d+<([^>]+)>, SG_IO, .*?cmdp="\\x([0-9a-f]{2})', line)
            if not m:
                continue
            node = os.path.basename(unhex(m.group(1)))
            if pid in listing_pids:
                listing[f"{node} 0x{m.group(2)}"] += 1
            else:
                own[node] += 1
    return own, listing


def scenario(g, progs, out):
    name = "slow_device"
    print(f"=== {name}", flush=True)
    g.sh("modprobe " + " ".join(f"'{w}'" for w in g.SCSI_DEBUG))
    g.settle()
    g.sh("multipath -v0")
    g.settle()
    view = g.kernel_view()
    if not g.check(f"{name}/setup/two maps of two paths",
                   len(view) == 2 and all(len(m["paths"]) == 2 for m in view.values()),
                   f"the kernel has {view}"):
        return
    fast = {p: timed([progs.bin[p]] + w)[0] for p, w in (("tsexTool", ["show", "path"]),
                                                          ("ts_showdisk", []))}
    g.write(DELAY_ATTR, f"{DELAY_JIFFIES}\n")
    per_command = DELAY_JIFFIES / hz(g)
    listing, _ = timed(["multipath", "-ll"])
    figures = {"seconds a command": round(per_command, 3), "listing": round(listing, 2)}
    for program, words in (("tsexTool", ["show", "path"]), ("ts_showdisk", [])):
        label = f"{name}/{program} {' '.join(words)}".strip()
        serial, st1 = timed([progs.bin[program], "--jobs", "1"] + words)
        default, st = timed([progs.bin[program]] + words)
        counts, listed = commands_by_node(progs.bin[program], words)
        longest = max(counts.values()) if counts else 0
        floor = listing + longest * per_command
        figures[program] = {"jobs 1": round(serial, 2), "default": round(default, 2),
                            "fast default": round(fast[program], 2),
                            "commands by node": dict(sorted(counts.items())),
                            "listing's commands": dict(sorted(listed.items())),
                            "floor": round(floor, 2)}
        g.timings.append(f"{label}: --jobs 1 {serial:.1f} s, default {default:.1f} s, "
                         f"floor {floor:.1f} s (listing {listing:.1f} s + {longest} commands "
                         f"of {per_command:.2f} s), {fast[program]:.1f} s without the delay")
        g.check(f"{label}/exit status", st == 0 and st1 == 0, f"exit {st1} and {st}")
        g.check(f"{label}/default within the floor",
                default <= FLOOR_FACTOR * floor + fast[program],
                f"{default:.1f} s; the floor is {floor:.1f} s (listing {listing:.1f} s, "
                f"longest node {longest} commands), {fast[program]:.1f} s without the delay")
        g.check(f"{label}/default faster than --jobs 1", default < serial,
                f"default {default:.1f} s, --jobs 1 {serial:.1f} s")
    print(f"slow: {json.dumps(figures, sort_keys=True)}", flush=True)
    with open(f"{out}/slow_device.json", "w") as f:
        json.dump(figures, f, indent=1, sort_keys=True)
    g.write(DELAY_ATTR, "1\n")
