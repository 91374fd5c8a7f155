#!/usr/bin/env python3
"""Capture then replay: tskit-capture records a simulated host, and every
command of both programs prints on the replayed capture, byte for byte and
with the same exit status, what it printed on the host itself. The capture's
own audit log holds only TEST UNIT READY, INQUIRY and READ CAPACITY(10)/(16)
on nodes opened read-only.

    check_round_trip.py --sansim S --capture C [--tsextool T] --showdisk D
                        --work DIR [--commands quick] (--host FILE | --generate ARGS) ...

Without --tsextool the hosts are ESXi hosts: C and D are the ESXi builds.
"""
import argparse
import os
import shlex
import subprocess
import sys

ALLOWED_OPS = {"0x00", "0x12", "0x25", "0x9e"}

TSEXTOOL = [["show", "vlun"], ["show", "path"], ["show", "phypath"], ["show", "device"],
            ["show", "path", "verbose"], ["check", "status"], ["check", "status", "verbose"]]
SHOWDISK = [[], ["-l"]]
# The quick set: one table of each program, each with and without --json.
QUICK_TSEXTOOL = [["show", "path"], ["check", "status", "verbose"]]
QUICK_SHOWDISK = [[]]


def commands(args):
    quick = args.commands == "quick"
    for words in (QUICK_TSEXTOOL if quick else TSEXTOOL) if args.tsextool else []:
        yield [args.tsextool] + words
        yield [args.tsextool, "--json"] + words
    for words in QUICK_SHOWDISK if quick else SHOWDISK:
        yield [args.showdisk] + words
        yield [args.showdisk, "--json"] + words


def run(sansim, host, command, audit=None):
    argv = [sansim, "run", host] + (["--audit", audit] if audit else []) + ["--"] + command
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600)
    return done.returncode, done.stdout


def audit_faults(audit):
    """Lines of the capture's audit log that break the rule."""
    bad = []
    with open(audit) as log:
        for line in log:
            words = line.split()
            fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
            if not words or words[0] not in ("open", "scsi"):
                continue
            if fields.get("access") != "ro" or (words[0] == "scsi" and
                                                 fields.get("op") not in ALLOWED_OPS):
                bad.append(line.rstrip())
    return bad


def check_host(args, host, name):
    failures = []
    capture = os.path.join(args.work, name + ".capture.json")
    audit = os.path.join(args.work, name + ".audit.log")
    status, out = run(args.sansim, host, [args.capture, capture], audit)
    if status != 0 or out:
        return [f"{name}: the capture exited {status} and wrote {out[:200]!r}"]
    failures += [f"{name}: capture audit: {line}" for line in audit_faults(audit)]
    for command in commands(args):
        want = run(args.sansim, host, command)
        got = run(args.sansim, capture, command)
        if want != got:
            words = " ".join(os.path.basename(w) if i == 0 else w for i, w in enumerate(command))
            failures.append(f"{name}: {words}: exit {want[0]} and {len(want[1])} bytes on the "
                            f"host, exit {got[0]} and {len(got[1])} bytes replayed")
    return failures


def cli_failures(args, host):
    """The capture's refusals: one line on standard output, exit status 1."""
    cases = [
        ([args.capture], "Usage: tskit-capture FILE", []),
        ([args.capture, "--anything"], "Usage: tskit-capture FILE", []),
        ([args.capture, os.path.join(args.work, "x.json")], "Error: tskit-capture must be run "
         "as root.", ["--uid", "1000"]),
        ([args.capture, "/nonexistent/x.json"], "Error: cannot write the capture "
         "/nonexistent/x.json: No such file or directory.", []),
    ]
    failures = []
    for command, first_line, options in cases:
        argv = [args.sansim, "run", host] + options + ["--"] + command
        done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        lines = done.stdout.decode(errors="replace").splitlines()
        if done.returncode != 1 or not lines or lines[0] != first_line or done.stderr:
            failures.append(f"{' '.join(command[1:])}: exit {done.returncode}, {lines[:1]}")
    return failures


def host_name(path):
    """A scenario's topology.json is named after its folder."""
    name = os.path.splitext(os.path.basename(path))[0]
    return os.path.basename(os.path.dirname(path)) if name == "topology" else name


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--sansim", "--capture", "--showdisk", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--tsextool")
    parser.add_argument("--host", action="append", default=[])
    parser.add_argument("--generate", action="append", default=[],
                        help="arguments of generate_host.py for one generated host")
    parser.add_argument("--generator")
    parser.add_argument("--commands", choices=("full", "quick"), default="full")
    args = parser.parse_args(argv)
    os.makedirs(args.work, exist_ok=True)
    hosts = [(h, host_name(h)) for h in args.host]
    for i, spec in enumerate(args.generate):
        path = os.path.join(args.work, f"generated{i}.json")
        with open(path, "wb") as out:
            subprocess.run([sys.executable, args.generator] + shlex.split(spec), stdout=out,
                           check=True)
        hosts.append((path, f"generated{i}"))
    failures = cli_failures(args, hosts[0][0]) if hosts else []
    for host, name in hosts:
        failures += check_host(args, host, name)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(hosts)} hosts, {len(failures)} failures")
    return 1 if failures or not hosts else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
