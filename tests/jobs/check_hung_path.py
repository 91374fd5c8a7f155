#!/usr/bin/env python3
"""A hung path delays only itself when the devices are queried side by side.

    check_hung_path.py --sansim SANSIM --program PROGRAM --base TOPOLOGY
        --work WORK [--lun N --path K] [--jobs 8] -- WORDS...

The base host gets time (200 us a command, the listings 50 ms, at scale
0.01: a host second is 10 real milliseconds) and path K of LUN N hangs: its
commands, and those of the LUN's dm node when that path is its current one,
answer only when they time out (at least 7 s of host time). The program runs
the words with --jobs 1 and with --jobs N, and from the audit log's host
times (start_us, end_us), never from the wall clock:

- both runs print the same, with the same status;
- a node is hung when one of its commands took at least 7 s; there is one
  at least (else the host proves nothing);
- with --jobs N, the commands span at most 1.25 times the hung node's own
  time (the sum of its commands' times) plus the span of the same run on
  the host without the hang: the hung device adds its own command sequence
  (one timeout, since a device that lets a command time out gets no more)
  and nothing else waits for it;
- with --jobs 1, some command of another node starts after a hung command
  has ended: one after another, the hung path holds the devices after it,
  which is what the first check would catch.

Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

SKIP = 77
HUNG_US = 7_000_000


def commands(audit):
    """(node, start_us, end_us) of every SCSI command of the audit log."""
    found = []
    with open(audit) as log:
        for line in log:
            words = line.split()
            if not words or words[0] != "scsi":
                continue
            fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
            found.append((words[1], int(fields["start_us"]), int(fields["end_us"])))
    return found


def hung_nodes(found):
    return {node for node, start, end in found if end - start >= HUNG_US}


def run(args, topology, jobs):
    audit = os.path.join(args.work, "audit-jobs%d.log" % jobs)
    result = subprocess.run([args.sansim, "run", topology, "--audit", audit, "--",
                             args.program, "--jobs", str(jobs)] + args.words,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    return result, commands(audit)


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "base", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--lun", type=int, default=0)
    parser.add_argument("--path", type=int, default=1)
    parser.add_argument("--jobs", type=int, default=8)
    parser.add_argument("words", nargs="*")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    with open(args.base) as f:
        host = json.load(f)
    host["timing"] = {"service_us": 200, "listing_ms": 50, "scale": 0.01}
    path = host["luns"][args.lun]["paths"][args.path]
    path.setdefault("faults", {})["hung"] = True
    topology = os.path.join(args.work, "hung.json")
    with open(topology, "w") as f:
        json.dump(host, f)

    failures = []
    path["faults"]["hung"] = False
    healthy_topology = os.path.join(args.work, "healthy.json")
    with open(healthy_topology, "w") as f:
        json.dump(host, f)
    _, healthy = run(args, healthy_topology, args.jobs)
    healthy_span = (max(end for _, _, end in healthy) - min(start for _, start, _ in healthy)
                    if healthy else 0)
    one, serial = run(args, topology, 1)
    many, side_by_side = run(args, topology, args.jobs)
    for label, result in (("--jobs 1", one), ("--jobs %d" % args.jobs, many)):
        if result.stderr:
            failures.append("%s: standard error is not empty: %r" % (label, result.stderr))
    if (one.stdout, one.returncode) != (many.stdout, many.returncode):
        failures.append("--jobs 1 and --jobs %d print differently (status %d, %d)" %
                        (args.jobs, one.returncode, many.returncode))
    hung = hung_nodes(side_by_side)
    if not hung or hung != hung_nodes(serial):
        failures.append("hung nodes %r with --jobs %d, %r with --jobs 1" %
                        (sorted(hung), args.jobs, sorted(hung_nodes(serial))))
    if hung:
        own = max(sum(end - start for node, start, end in side_by_side if node == hung_node)
                  for hung_node in hung)
        span = (max(end for _, _, end in side_by_side) -
                min(start for _, start, _ in side_by_side))
        if span > 1.25 * (own + healthy_span):
            failures.append("with --jobs %d the commands span %d us, more than 1.25 times the "
                            "hung node's own %d us and the healthy host's %d us" %
                            (args.jobs, span, own, healthy_span))
        first_serial_end = min(end for node, _, end in serial if node in hung)
        if not any(node not in hung and start > first_serial_end for node, start, _ in serial):
            failures.append("with --jobs 1 no command of another node waited for the hung one: "
                            "the host proves nothing")
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    print("hung %s: its own %.1f s of host time; the run with --jobs %d spans %.1f s, with "
          "--jobs 1 %.1f s" % (", ".join(sorted(hung)), own / 1e6, args.jobs, span / 1e6,
                               (max(e for _, _, e in serial) - min(s for _, s, _ in serial)) / 1e6))
    return 0


if __name__ == "__main__":
    sys.exit(main())
