#!/usr/bin/env python3
"""End-to-end scenarios of a program, every host set up once.

    scenarios.py --suite SUITE --sansim SANSIM --program PROGRAM
                 [--refusing PROGRAM] --source-root SRC --work WORK
                 [--static | --plain] [--only REGEX] (SCENARIO_DIR | TABLE)...

A scenario folder holds:

  topology.json  the host (a host file, or a base and an overlay), or
  topology       one line: the host file, relative to SRC
  args           the words after the program name, one per line (may be empty)
  uid            optional: the user to run as
  refuse         optional: "SIZE" or "SIZE:NTH", the allocation that the
                 program's refusing test build (--refusing) refuses
  stdout         the whole expected standard output, byte for byte
  status         the expected exit status
  audit          optional: the whole expected audit log: byte for byte when
                 the devices are queried one after another (--jobs 1), else
                 each device's own lines in their order

A TABLE (a file whose name ends in .table) holds command-line scenarios, one
row each, on one host: see tests/harness/README.md.

The scenarios are grouped by host, and each host is set up once for all the
runs its scenarios need (sansim batch):

- the words as they are: the exit status, standard output byte for byte,
  standard error as the suite's rule says, the audit log with only the
  suite's operation codes and every open and command with its access mode,
  and the expected audit where the scenario has one;
- with --json before the words (a suite with a JSON kind, words that do not
  start with an option): the document rebuilds the expected output
  (tests/json/json_forms.py);
- with --jobs 1 and with --jobs 8 before the words (a suite whose program
  queries devices side by side), for a scenario whose run reached two
  device nodes or more: the same output, status and audit;
- on a check status scenario of tsexTool: --nagios and --prometheus agree
  with the --json documents (tests/monitor/monitor_forms.py).

--static runs the words alone, of one scenario for each command word (the
static build differs in linking, not in logic); --plain the words alone of
every scenario given. Exit 0 when every check
holds, 1 otherwise, 77 (skipped) without root.
"""

import argparse
import os
import re
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "json"))
sys.path.insert(0, os.path.join(HERE, "..", "monitor"))
import json_forms  # noqa: E402
import monitor_forms  # noqa: E402
from hostrun import SKIP, HostRun  # noqa: E402


class Suite:
    def __init__(self, opcodes, stderr, json_kind, jobs, access="ro", flags="", monitor=False,
                 short_options=()):
        self.opcodes = opcodes
        self.stderr = stderr  # "empty", or "sanitizer": only a sanitizer report fails
        self.json_kind = json_kind
        self.jobs = jobs
        self.access = access
        self.flags = flags
        self.monitor = monitor
        # The program's leading options of one dash, which a --json before
        # them would change as the ones of two dashes (-V, the version).
        self.short_options = short_options

    def audit_rule(self):
        if self.flags:
            open_rule = "open [^ ]+ access=%s flags=%s" % (self.access, self.flags)
        else:
            open_rule = "open [^ ]+ access=%s( .*)?" % self.access
        return re.compile(r"^(%s|scsi [^ ]+ op=0x(%s) .*access=%s( .*)?)$" %
                          (open_rule, self.opcodes, self.access))


SUITES = {
    "tsextool": Suite("00|12|25|9e", "empty", "tsextool", jobs=True, monitor=True,
                      short_options=("-t", "-V")),
    "showdisk": Suite("00|12", "empty", "showdisk-linux", jobs=True),
    "esxi": Suite("00|12", "sanitizer", "showdisk-esxi", jobs=True),
    "solaris": Suite("12", "empty", "showdisk-solaris", jobs=False, access="rw", flags="0x802"),
}
# The words that make tsexTool's check status: its monitoring forms are
# checked on the hosts of such scenarios.
# The host's listing commands, as the kernel names their processes.
LISTINGS = ("multipath", "esxcfg-mpath", "esxcfg-scsidevs", "esxcli")
MONITORED_WORDS = (["check", "status"], ["check", "status", "verbose"])


class Scenario:
    def __init__(self, name, host, words, stdout, status, uid=None, refuse=None, audit=None,
                 row=False):
        self.row = row  # a row of a command-line table: no --jobs, no static run
        self.name = name
        self.host = host
        self.words = words
        self.stdout = stdout
        self.status = status
        self.uid = uid
        self.refuse = refuse
        self.audit = audit

    def command_word(self):
        """What the static build runs once: the options and the first two
        other words (names and numbers after them left out)."""
        options = [w for w in self.words if w.startswith("-")]
        return tuple(options + [w for w in self.words if not w.startswith("-")][:2])


def read_file(path, mode="rb"):
    with open(path, mode) as f:
        return f.read()


def first_line(path):
    return read_file(path, "r").split("\n", 1)[0].strip()


def read_words(path):
    data = read_file(path).decode("latin-1")
    if data == "":
        return []
    if data.endswith("\n"):
        data = data[:-1]
    return data.split("\n")


def read_scenario(folder, source_root):
    def optional(name):
        path = os.path.join(folder, name)
        return first_line(path) if os.path.isfile(path) else None
    if os.path.isfile(os.path.join(folder, "topology.json")):
        host = os.path.join(folder, "topology.json")
    else:
        host = os.path.join(source_root, first_line(os.path.join(folder, "topology")))
    audit_file = os.path.join(folder, "audit")
    return Scenario(os.path.basename(os.path.normpath(folder)), host,
                    read_words(os.path.join(folder, "args")),
                    read_file(os.path.join(folder, "stdout")),
                    int(first_line(os.path.join(folder, "status"))),
                    uid=optional("uid"), refuse=optional("refuse"),
                    audit=read_file(audit_file) if os.path.isfile(audit_file) else None)


def read_table(path, source_root):
    """The rows of a command-line table (tests/harness/README.md)."""
    host = None
    rows = []
    for number, line in enumerate(read_file(path).decode("latin-1").split("\n"), 1):
        if line.startswith("host "):
            host = os.path.join(source_root, line[5:])
        elif line.startswith("## "):
            rows.append(Scenario(line[3:], host, None, b"", 0, row=True))
        elif rows and rows[-1].words is None and (line.startswith("$ ") or line == "$"):
            rows[-1].words = line[2:].split(" ") if line != "$" else []
        elif not rows or line.startswith("#") or line == "":
            continue
        elif line.startswith("| ") or line == "|":
            rows[-1].stdout += (line[2:] + "\n").encode("latin-1")
        elif line == "\\ no newline at end":
            rows[-1].stdout = rows[-1].stdout[:-1]
        elif line.startswith("status "):
            rows[-1].status = int(line[7:])
        elif line.startswith("uid "):
            rows[-1].uid = line[4:]
        else:
            raise ValueError("%s:%d: not a line of a table: %r" % (path, number, line))
    if host is None:
        raise ValueError("%s: names no host" % path)
    for row in rows:
        if row.words is None:
            raise ValueError("%s: row %s has no $ line" % (path, row.name))
    return rows


# ---- the checks of one run ----

def by_device(audit):
    """Each device's lines in their order: a stable sort on the node field."""
    lines = audit.decode("latin-1").splitlines()
    return sorted(lines, key=lambda line: line.split(" ")[1] if " " in line else "")


def run_failures(suite, command, expected_status):
    failures = []
    if command.status != expected_status:
        failures.append("exit status %s, expected %d" % (command.status, expected_status))
    stderr = command.stderr.decode("latin-1")
    if suite.stderr == "empty" and stderr:
        failures.append("standard error is not empty:\n" + indent(stderr, "stderr| "))
    elif re.search(r"Sanitizer|runtime error:", stderr):
        failures.append("a sanitizer reported on standard error:\n" + indent(stderr, "stderr| "))
    # A listing runs once a run: on a real host each run checks every path.
    again = sorted({name for name in command.processes
                    if name in LISTINGS and command.processes.count(name) > 1})
    if again:
        failures.append("a listing ran more than once: " + ", ".join(again))
    rule = suite.audit_rule()
    bad = [line for line in command.audit if not rule.match(line)]
    if bad:
        failures.append("the audit log holds another access or another command:\n" +
                        indent("\n".join(bad), "audit| "))
    return failures


def indent(text, prefix):
    return "\n".join("  " + prefix + line for line in text.rstrip("\n").split("\n"))


def diff_text(expected, got):
    import difflib
    lines = difflib.unified_diff(expected.decode("latin-1").splitlines(),
                                 got.decode("latin-1").splitlines(), "expected", "actual",
                                 lineterm="")
    return indent("\n".join(lines), "diff| ")


def table_failures(suite, scenario, command, sequential):
    failures = run_failures(suite, command, scenario.status)
    if command.stdout != scenario.stdout:
        failures.append("standard output differs from the expected:\n" +
                        diff_text(scenario.stdout, command.stdout))
    if scenario.audit is not None:
        got = "\n".join(command.audit).encode("latin-1") + (b"\n" if command.audit else b"")
        same = got == scenario.audit if sequential else \
            by_device(got) == by_device(scenario.audit)
        if not same:
            failures.append("the audit log differs from the expected:\n" +
                            diff_text(scenario.audit, got))
    return failures


def devices_reached(command):
    """The device nodes the run opened or sent commands to."""
    return len({line.split(" ")[1] for line in command.audit if " " in line})


# ---- one host ----

class HostChecks:
    """The scenarios of one host and the runs they need."""

    def __init__(self, args, suite, host, scenarios, work):
        self.args = args
        self.suite = suite
        self.scenarios = scenarios
        self.run = HostRun(args.sansim, host, work)
        self.results = []  # (scenario name, variant, failures)

    def argv(self, scenario, leading=()):
        program = self.args.refusing if scenario.refuse else self.args.program
        return [program] + list(leading) + scenario.words

    def add(self, scenario, leading=()):
        env = {"TSKIT_REFUSE_ALLOC": scenario.refuse} if scenario.refuse else None
        return self.run.add(self.argv(scenario, leading), uid=scenario.uid, env=env)

    def json_wanted(self, scenario):
        """A scenario that starts with a leading option (--json, --help) is
        its own check of it: another --json before it would change what its
        words mean."""
        first = scenario.words[0] if scenario.words else ""
        return (self.suite.json_kind is not None and self.args.variants and
                not first.startswith("--") and first not in self.suite.short_options)

    def monitored(self, scenario):
        return (self.suite.monitor and self.args.variants and not scenario.refuse and
                scenario.words in MONITORED_WORDS)

    def check(self):
        """Runs what the scenarios need, then judges every run."""
        plain, monitors = self.plan()
        self.run.run()
        jobs = self.plan_jobs(plain)
        self.run.run()
        for scenario in self.scenarios:
            self.report(scenario, "", table_failures(self.suite, scenario,
                                                     plain[scenario.name], False))
            if self.json_wanted(scenario):
                self.report(scenario, "--json", self.json_failures(scenario))
            if scenario.name in monitors:
                self.report(scenario, "--nagios/--prometheus",
                            monitor_forms.check_host(monitors[scenario.name]))
        for scenario, n, command in jobs:
            self.report(scenario, "--jobs " + n,
                        table_failures(self.suite, scenario, command, n == "1"))

    def plan(self):
        """The words of every scenario, their --json form and the monitoring
        forms' runs: one start of the host."""
        plain = {}
        monitors = {}
        for scenario in self.scenarios:
            plain[scenario.name] = self.add(scenario)
            if self.json_wanted(scenario):
                self.add(scenario, ["--json"])
            if self.monitored(scenario):
                monitors[scenario.name] = monitor_forms.Host(self.run, self.args.program,
                                                             scenario.uid)
                monitors[scenario.name].plan()
        return plain, monitors

    def plan_jobs(self, plain):
        """--jobs 1 and 8 for the scenarios whose plain run reached two
        device nodes or more: another start of the host."""
        jobs = []
        if self.suite.jobs and self.args.variants:
            for scenario in self.scenarios:
                if not scenario.row and devices_reached(plain[scenario.name]) >= 2:
                    for n in ("1", "8"):
                        jobs.append((scenario, n, self.add(scenario, ["--jobs", n])))
        return jobs

    def json_failures(self, scenario):
        command = self.add(scenario, ["--json"])
        failures = run_failures(self.suite, command, scenario.status)
        schema_dir = os.path.join(self.args.source_root, "docs", "schema")
        return failures + json_forms.check_document(self.suite.json_kind, scenario.words,
                                                    scenario.stdout, command.stdout,
                                                    command.status, schema_dir)

    def report(self, scenario, variant, failures):
        self.results.append((scenario.name, variant, failures))


def static_selection(scenarios):
    """One scenario of each command word, the first in name order."""
    chosen = {}
    for scenario in sorted(scenarios, key=lambda s: s.name):
        if scenario.refuse or scenario.row:
            continue
        chosen.setdefault(scenario.command_word(), scenario)
    return list(chosen.values())


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--suite", required=True, choices=sorted(SUITES))
    for option in ("--sansim", "--program", "--source-root", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--refusing")
    parser.add_argument("--static", action="store_true")
    parser.add_argument("--plain", action="store_true")
    parser.add_argument("--only", help="run the scenarios whose name matches")
    parser.add_argument("scenarios", nargs="+")
    args = parser.parse_args(argv)
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    suite = SUITES[args.suite]
    scenarios = []
    for path in args.scenarios:
        if path.endswith(".table"):
            scenarios += read_table(path, args.source_root)
        else:
            scenarios.append(read_scenario(path, args.source_root))
    if args.only:
        scenarios = [s for s in scenarios if re.search(args.only, s.name)]
    if args.static:
        scenarios = static_selection(scenarios)
    args.variants = not (args.static or args.plain)
    hosts = {}
    for scenario in scenarios:
        hosts.setdefault(scenario.host, []).append(scenario)
    failed = 0
    runs = 0
    for index, (host, group) in enumerate(sorted(hosts.items())):
        checks = HostChecks(args, suite, host, group, os.path.join(args.work, "host%d" % index))
        try:
            checks.check()
        except RuntimeError as error:
            print("FAIL: %s" % error)
            return 1
        runs += checks.run.count
        for name, variant, failures in checks.results:
            label = "%s%s" % (name, " (%s)" % variant if variant else "")
            if failures:
                failed += 1
                print("FAIL: %s" % label)
                for failure in failures:
                    print("  " + failure.replace("\n", "\n  "))
            else:
                print("ok: %s" % label)
    print("%d hosts, %d runs, %d checks failed" % (len(hosts), runs, failed))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
