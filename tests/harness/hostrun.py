"""Many commands on one start of a simulated host (`sansim batch`).

    host = HostRun(sansim, topology, work)
    a = host.add(["/path/tsexTool", "show", "vlun"])
    b = host.add(["/path/tsexTool", "--json", "show", "vlun"], uid="1000")
    host.run()
    a.status, a.stdout, a.stderr, a.audit

A command added twice (the same words, user, environment and output) runs
once: checks that need the same run share it. Each command sees the host as a
fresh start would (sansim resets the devices' state and the listings' run
counters between commands).
"""

import json
import os
import shutil
import subprocess

SKIP = 77


class Command:
    """One command of a batch and, once it ran, what it did."""

    def __init__(self, argv, uid, env, stdout, number, work):
        self.argv = list(argv)
        self.uid = uid
        self.env = dict(env or {})
        self.stdout_target = stdout  # None: a file; "closed" or a device name
        base = os.path.join(work, "%03d" % number)
        self.files = {"stdout": base + ".out", "stderr": base + ".err",
                      "status": base + ".status", "audit": base + ".audit",
                      "proclog": base + ".proclog"}
        self.status = None
        self.stdout = b""
        self.stderr = b""
        self.audit = []
        self.processes = []  # the kernel's names (comm) of the processes it started

    def key(self):
        return (tuple(self.argv), self.uid, tuple(sorted(self.env.items())), self.stdout_target)

    def plan(self):
        item = {"argv": self.argv, "stderr": self.files["stderr"],
                "status": self.files["status"], "audit": self.files["audit"],
                "proclog": self.files["proclog"],
                "stdout": self.stdout_target or self.files["stdout"]}
        if self.uid is not None:
            item["uid"] = int(self.uid)
        if self.env:
            item["env"] = ["%s=%s" % pair for pair in sorted(self.env.items())]
        return item

    def collect(self):
        def read(name):
            try:
                with open(self.files[name], "rb") as f:
                    return f.read()
            except FileNotFoundError:
                return b""
        self.stdout = b"" if self.stdout_target else read("stdout")
        self.stderr = read("stderr")
        status = read("status").strip()
        self.status = int(status) if status else None
        self.audit = read("audit").decode("latin-1").splitlines()
        self.processes = [field[len("comm="):] for line in
                          read("proclog").decode("latin-1").splitlines()
                          for field in line.split() if field.startswith("comm=")]

    def words(self):
        """The command as a line for a report: the program's name and its words."""
        return " ".join([os.path.basename(self.argv[0])] + self.argv[1:])


class HostRun:
    def __init__(self, sansim, topology, work):
        self.sansim = sansim
        self.topology = topology
        self.work = work
        self.pending = []
        self.known = {}
        self.count = 0
        self.batches = 0
        shutil.rmtree(work, ignore_errors=True)
        os.makedirs(work)

    def add(self, argv, uid=None, env=None, stdout=None):
        """The command's record: a run already planned or done with the same
        words, user, environment and output, else a new one."""
        command = Command(argv, uid, env, stdout, self.count, self.work)
        found = self.known.get(command.key())
        if found is not None:
            return found
        self.count += 1
        self.known[command.key()] = command
        self.pending.append(command)
        return command

    def run(self):
        """Runs every command added since the last run, on one start of the
        host; raises RuntimeError when sansim itself fails."""
        if not self.pending:
            return
        self.batches += 1
        plan = os.path.join(self.work, "plan%d.json" % self.batches)
        with open(plan, "w", encoding="utf-8") as f:
            json.dump([c.plan() for c in self.pending], f)
        done = subprocess.run([self.sansim, "batch", self.topology, plan],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        if done.returncode != 0:
            raise RuntimeError("sansim batch %s exited %d: %s" % (
                self.topology, done.returncode, done.stderr.decode("latin-1").strip()))
        for command in self.pending:
            command.collect()
        self.pending = []


def expand(sansim, topology):
    """The host a file describes, with its base and overlays laid out."""
    done = subprocess.run([sansim, "expand", topology], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, check=False)
    if done.returncode != 0:
        raise RuntimeError(done.stderr.decode("latin-1").strip())
    return json.loads(done.stdout)
