#!/usr/bin/env python3
"""Checks tsexTool --prometheus --textfile FILE check status on the demo host:
the file node_exporter's textfile collector reads is replaced whole or not
at all.

    check_textfile.py --sansim SANSIM --program TSEXTOOL --host TOPOLOGY --work WORK

- a run writes FILE (mode 0644, nothing on standard output, no other file
  left in its directory) with the metrics the standard output form prints;
- an old FILE of another mode is replaced;
- a write that fails (the file size limit, with SIGXFSZ ignored), a
  directory that does not exist and a FILE that is a directory: exit 1, one
  "Error: cannot write the textfile ..." line, the old FILE untouched, no
  temporary file left;
- FILE not a regular file (/dev/null, /dev/stdout, a FIFO, a link to
  /dev/null): exit 1, "Error: cannot write the textfile FILE: Operation not
  supported.", nothing created, the name as it was; a link to a regular
  file is replaced itself, its target kept; a name of 255 bytes is written;
- interrupted: writers are killed (SIGKILL, SIGTERM, SIGINT, SIGHUP) at
  random moments of their run, every fourth one left to finish, while a
  reader reads FILE over and over; every read is a whole old or new text, a
  writer ended by a signal has that status, and only SIGKILL may leave a
  hidden temporary file.

Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
"""

import argparse
import os
import random
import re
import shutil
import signal
import stat
import subprocess
import sys
import threading
import time

SKIP = 77
SIGNALS = (signal.SIGKILL, signal.SIGTERM, signal.SIGINT, signal.SIGHUP, signal.SIGKILL,
           signal.SIGTERM, signal.SIGINT)
DURATION = re.compile(r"^tsextool_scan_duration_seconds [0-9.]+$", re.M)


def stable(text):
    """The metrics without the one value that changes from run to run."""
    return DURATION.sub("tsextool_scan_duration_seconds X", text)


class Checks:
    def __init__(self, args):
        self.args = args
        self.failures = []

    def fail(self, text):
        self.failures.append(text)

    def run(self, target, limit=False, pidfile=None):
        """tsexTool --prometheus --textfile target check status on the host;
        with pidfile, through a shell that writes the program's pid first;
        with limit, through a shell that limits the files it writes to 512
        bytes, SIGXFSZ ignored (a write beyond then fails with EFBIG)."""
        program = [self.args.program, "--prometheus", "--textfile", target, "check", "status"]
        if pidfile is not None:
            program = ["/bin/sh", "-c", 'echo $$ > "$0"; exec "$@"', pidfile] + program
        if limit:
            program = ["/bin/sh", "-c", "trap '' XFSZ; ulimit -f 1; exec \"$@\"", "sh"] + program
        command = [self.args.sansim, "run", self.args.host, "--"] + program
        return subprocess.Popen(command, stdout=subprocess.PIPE, stderr=subprocess.PIPE)

    def finish(self, process):
        out, err = process.communicate()
        if err:
            self.fail("standard error is not empty: %r" % err)
        return process.returncode, out.decode("latin-1")


def fresh_dir(work, name):
    path = os.path.join(work, name)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def check_writes(checks, reference):
    folder = fresh_dir(checks.args.work, "write")
    target = os.path.join(folder, "tsextool.prom")
    with open(target, "w") as f:
        f.write("old\n")
    os.chmod(target, 0o600)
    status, out = checks.finish(checks.run(target))
    mode = stat.S_IMODE(os.stat(target).st_mode)
    with open(target) as f:
        text = f.read()
    if status != 0 or out != "":
        checks.fail("a write: exit %d, standard output %r" % (status, out))
    if mode != 0o644:
        checks.fail("the textfile has mode %o, not 644" % mode)
    if stable(text) != stable(reference):
        checks.fail("the textfile is not what --prometheus prints:\n%s" % text)
    if os.listdir(folder) != ["tsextool.prom"]:
        checks.fail("the directory holds %r after a write" % os.listdir(folder))


def check_failures(checks):
    folder = fresh_dir(checks.args.work, "fail")
    target = os.path.join(folder, "tsextool.prom")
    old = "tsextool_scan_success 1\n"
    cases = [
        ("the file size limit", target, True),
        ("a missing directory", os.path.join(folder, "missing", "tsextool.prom"), False),
        ("a directory in its place", os.path.join(folder, "adir"), False),
    ]
    os.makedirs(os.path.join(folder, "adir"))
    for what, path, limit in cases:
        with open(target, "w") as f:
            f.write(old)
        status, out = checks.finish(checks.run(path, limit=limit))
        if status != 1 or not re.match(r"^Error: cannot write the textfile %s: [^\n]+\.\n$" %
                                       re.escape(path), out):
            checks.fail("%s: exit %d, standard output %r" % (what, status, out))
        with open(target) as f:
            if f.read() != old:
                checks.fail("%s: the old textfile changed" % what)
        left = sorted(os.listdir(folder))
        if left != ["adir", "tsextool.prom"] or os.listdir(os.path.join(folder, "adir")):
            checks.fail("%s: left %r" % (what, left))


def check_special(checks, reference):
    folder = fresh_dir(checks.args.work, "special")
    fifo = os.path.join(folder, "fifo.prom")
    to_null = os.path.join(folder, "null.prom")
    os.mkfifo(fifo)
    os.symlink("/dev/null", to_null)
    for path in ("/dev/null", "/dev/stdout", fifo, to_null):
        status, out = checks.finish(checks.run(path))
        expected = "Error: cannot write the textfile %s: Operation not supported.\n" % path
        if status != 1 or out != expected:
            checks.fail("%s: exit %d, standard output %r" % (path, status, out))
    if not stat.S_ISFIFO(os.lstat(fifo).st_mode) or os.readlink(to_null) != "/dev/null":
        checks.fail("a refused name was replaced")
    if sorted(os.listdir(folder)) != ["fifo.prom", "null.prom"]:
        checks.fail("refusals left %r" % sorted(os.listdir(folder)))
    target = os.path.join(folder, "target")
    link = os.path.join(folder, "link.prom")
    long_name = os.path.join(folder, "n" * 250 + ".prom")
    with open(target, "w") as f:
        f.write("old\n")
    os.symlink("target", link)
    for path in (link, long_name):
        status, out = checks.finish(checks.run(path))
        if status != 0 or out != "" or os.path.islink(path):
            checks.fail("%s: exit %d, standard output %r" % (path[:60], status, out))
        elif stable(open(path).read()) != stable(reference):
            checks.fail("%s: not the metrics" % path[:60])
    with open(target) as f:
        if f.read() != "old\n":
            checks.fail("the link's target was written")


def check_interrupted(checks, reference, rounds, run_time):
    folder = fresh_dir(checks.args.work, "interrupt")
    target = os.path.join(folder, "tsextool.prom")
    with open(target, "w") as f:
        f.write(reference)
    whole = stable(reference)
    stop = threading.Event()
    reads = {"count": 0, "torn": []}

    def reader():
        while not stop.is_set():
            with open(target) as f:
                text = f.read()
            reads["count"] += 1
            if stable(text) != whole:
                reads["torn"].append(text)

    thread = threading.Thread(target=reader)
    thread.start()
    killed = finished = 0
    pidfile = os.path.join(checks.args.work, "writer.pid")
    random.seed(19)
    for round_number in range(rounds):
        if os.path.exists(pidfile):
            os.unlink(pidfile)
        process = checks.run(target, pidfile=pidfile)
        deadline = time.monotonic() + 5
        while not os.path.exists(pidfile) and time.monotonic() < deadline:
            time.sleep(0.001)
        # Every fourth writer runs to its end, so that the file is replaced
        # while it is read; the others are killed somewhere in their run,
        # with SIGKILL or a signal that must remove the temporary file.
        sig = SIGNALS[round_number % len(SIGNALS)]
        before = set(os.listdir(folder))
        if round_number % 4 != 3:
            time.sleep(random.uniform(0, run_time))
            try:
                with open(pidfile) as f:
                    os.kill(int(f.read()), sig)
            except (OSError, ValueError):
                pass
        process.communicate()
        if process.returncode not in (0, -sig):
            checks.fail("a writer sent %s: status %d" % (sig.name, process.returncode))
        if sig != signal.SIGKILL and set(os.listdir(folder)) - before:
            checks.fail("%s left %r" % (sig.name, set(os.listdir(folder)) - before))
        killed += 1 if process.returncode == -sig else 0
        finished += 1 if process.returncode == 0 else 0
    stop.set()
    thread.join()
    if reads["torn"]:
        checks.fail("a reader saw %d partial or other texts, the first:\n%r" %
                    (len(reads["torn"]), reads["torn"][0]))
    strays = [n for n in os.listdir(folder)
              if n != "tsextool.prom" and not re.match(r"^\.tsext\.[A-Za-z0-9]{6}$", n)]
    if strays:
        checks.fail("files other than the textfile and its temporary ones: %r" % strays)
    if killed == 0 or finished == 0:
        checks.fail("%d of %d writers killed and %d finished: the rounds prove nothing" %
                    (killed, rounds, finished))
    print("%d rounds, %d writers killed, %d finished, %d reads, none partial" %
          (rounds, killed, finished, reads["count"]))


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "host", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--rounds", type=int, default=40)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    os.makedirs(args.work, exist_ok=True)
    checks = Checks(args)
    started = time.monotonic()
    reference = subprocess.run(
        [args.sansim, "run", args.host, "--", args.program, "--prometheus", "check", "status"],
        stdout=subprocess.PIPE, check=True).stdout.decode("latin-1")
    run_time = time.monotonic() - started
    check_writes(checks, reference)
    check_failures(checks)
    check_special(checks, reference)
    check_interrupted(checks, reference, args.rounds, run_time)
    for failure in checks.failures:
        print("FAIL: " + failure)
    if checks.failures:
        return 1
    print("the textfile was always whole")
    return 0


if __name__ == "__main__":
    sys.exit(main())
