#!/usr/bin/env python3
"""The ThreadSanitizer build of a program on generated hosts with many
devices and hung paths: no race reported, and the same output at --jobs 8
as at --jobs 1.

    check_tsan.py --sansim SANSIM --program PROGRAM --generator GENERATOR
        --platform linux|esxi --work WORK -- WORDS...

Each host (64 LUNs over 4 paths, and 200 LUNs over 2) gets time at scale
0.001 (a hung command holds 7 real milliseconds) and every 50th path hung.
The program runs the words, then the words after --json, with --jobs 8 and
with --jobs 1 (verbose words exercise the kept reports). The runs go
through setarch -R: without address randomisation ThreadSanitizer finds
its memory layout on any kernel. Exit 0 when every check holds, 1
otherwise, 77 (skipped) without root.
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

SKIP = 77
SHAPES = ((64, 4), (200, 2))


def make_host(args, luns, paths):
    text = subprocess.run([sys.executable, "-B", args.generator, "--platform", args.platform,
                           "--luns", str(luns), "--paths", str(paths), "--failed", "0.05",
                           "--seed", str(luns)], stdout=subprocess.PIPE, check=True).stdout
    host = json.loads(text)
    host["timing"] = {"service_us": 200, "jitter_us": 100, "seed": luns, "listing_ms": 50,
                      "scale": 0.001}
    n = 0
    for lun in host["luns"]:
        for path in lun["paths"]:
            if n % 50 == 7:
                path.setdefault("faults", {})["hung"] = True
            n += 1
    name = os.path.join(args.work, "host-%d-%d.json" % (luns, paths))
    with open(name, "w") as f:
        json.dump(host, f)
    return name


def run(args, host, words):
    env = dict(os.environ, TSAN_OPTIONS="halt_on_error=1 exitcode=66 report_signal_unsafe=0")
    return subprocess.run(["setarch", os.uname().machine, "-R", args.sansim, "run", host, "--",
                           args.program] + words, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, env=env)


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "generator", "platform", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("words", nargs="*")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failures = []
    runs = 0
    for luns, paths in SHAPES:
        host = make_host(args, luns, paths)
        for words in (args.words, ["--json"] + args.words):
            many = run(args, host, ["--jobs", "8"] + words)
            one = run(args, host, ["--jobs", "1"] + words)
            runs += 2
            what = "%d LUNs x %d paths, %s" % (luns, paths, " ".join(words) or "(no words)")
            for jobs, result in (("8", many), ("1", one)):
                if result.stderr:
                    failures.append("%s, --jobs %s: standard error (a race?):\n%s" %
                                    (what, jobs, result.stderr.decode("latin-1")[:4000]))
            if (many.stdout, many.returncode) != (one.stdout, one.returncode):
                failures.append("%s: --jobs 8 and --jobs 1 differ (status %d, %d)" %
                                (what, many.returncode, one.returncode))
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    print("%d runs under ThreadSanitizer: no report, the same output at --jobs 8 and 1" % runs)
    return 0


if __name__ == "__main__":
    sys.exit(main())
