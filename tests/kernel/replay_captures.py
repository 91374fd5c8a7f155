#!/usr/bin/env python3
"""Replays the captures the real-kernel stage kept (tests/kernel/captures):
each program call that the guest recorded (NAME.recorded.json: program,
words, status, standard output) runs again under sansim on NAME.capture.json
and must print the same bytes and exit with the same status. A difference
is the simulator (or the capture) telling a kernel's host differently.

The calls were recorded by the programs as they were when the captures were
taken; a change to what a program prints means taking them again
(run_stage.py --keep tests/kernel/captures)."""

import argparse
import json
import os
import subprocess
import sys


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--sansim", required=True)
    parser.add_argument("--tsextool", required=True)
    parser.add_argument("--showdisk", required=True)
    parser.add_argument("captures")
    args = parser.parse_args()
    programs = {"tsexTool": args.tsextool, "ts_showdisk": args.showdisk}
    passed = failed = 0
    names = sorted(f[:-len(".capture.json")] for f in os.listdir(args.captures)
                   if f.endswith(".capture.json"))
    if not names:
        print(f"no captures in {args.captures}")
        return 1
    for name in names:
        with open(os.path.join(args.captures, name + ".recorded.json")) as f:
            calls = json.load(f)
        if not calls:
            print(f"FAIL {name}: no recorded call")
            failed += 1
        for call in calls:
            label = f"{name}: {call['program']} {' '.join(call['words'])}"
            proc = subprocess.run(
                [args.sansim, "run", os.path.join(args.captures, name + ".capture.json"), "--",
                 programs[call["program"]]] + call["words"],
                capture_output=True, timeout=120)
            want = call["stdout"].encode("latin-1")
            if proc.returncode == call["status"] and proc.stdout == want:
                passed += 1
                print(f"ok   {label}")
                continue
            failed += 1
            print(f"FAIL {label}: status {proc.returncode} (guest {call['status']})")
            got, exp = proc.stdout.splitlines(), want.splitlines()
            for i in range(max(len(got), len(exp))):
                g = got[i] if i < len(got) else b"<none>"
                e = exp[i] if i < len(exp) else b"<none>"
                if g != e:
                    print(f"  first difference, line {i + 1}:\n    guest:  {e!r}\n    replay: {g!r}")
                    break
            if proc.stderr:
                print(f"  standard error: {proc.stderr[:400]!r}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
