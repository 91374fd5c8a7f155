#!/usr/bin/env python3
"""check status as a Nagios plugin and as Prometheus metrics, checked
against what the --json forms say of the same host.

    monitor_forms.py --sansim SANSIM --program TSEXTOOL
        --source-root SRC --work WORK --generated COUNT

The end-to-end harness (tests/harness/scenarios.py) runs these checks on the
host of every check status scenario, as the scenario's user; with
--generated they run on COUNT generated hosts. On the host the program runs

- --json check status, --json show vlun and --json show phypath: what is
  expected, from the alarms, the vluns with their paths and the physical
  paths;
- --nagios check status: the state is the worst over the alarms (CRITICAL
  for 14 and 17, WARNING for 11, 12, 13, 15, 16 and 18, UNKNOWN for 10, OK
  for none), also the exit status; the status line names the counts and the
  worst alarm with no ';' before its '|', its performance data follow the
  plugin guidelines' grammar and hold the counts with min 0 and the max of
  the failed counts (a listing that was not read: the alarms alone), and one
  line per alarm follows, CRITICAL, then WARNING, then UNKNOWN, each in the
  document's order; where the whole would pass 8192 bytes, as many lines as
  fit with "and N more alarms" last. A scan that could not run has no
  performance data; it, and a run by another user, are UNKNOWN (3);
- --prometheus check status: parsed by prometheus_client's parser; every
  family has HELP and TYPE; the scan's success, the alarms by type, the
  vluns, their paths by state and their capacity, and an up gauge per path
  and per physical path with its labels, all as the documents say.

Every run keeps standard error empty and the audit log to read-only opens
and the allowed commands. Exit 0 when every check holds, 1 otherwise, 77
(skipped) without root; a missing prometheus_client is a failure.

With --generated COUNT the same checks run on COUNT hosts that
sim/generator/generate_host.py makes, each with its own seed, size, share of
failed paths and of dead physical paths, and on one host of more alarms
than the plugin output holds, whose output must be cut; each host's runs
share one start.
"""

import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from hostrun import HostRun  # noqa: E402

SKIP = 77
CRITICAL_TYPES = {14, 17}
WARNING_TYPES = {11, 12, 13, 15, 16, 18}
STATES = {"OK": 0, "WARNING": 1, "CRITICAL": 2, "UNKNOWN": 3}
# How states override one another when alarms of several kinds are raised.
RANK = {"OK": 0, "UNKNOWN": 1, "WARNING": 2, "CRITICAL": 3}
AUDIT_LINE = re.compile(r"^(open [^ ]+ access=ro( .*)?|scsi [^ ]+ op=0x(00|12|25|9e) .*access=ro( .*)?)$")
# What the checks run: the documents they expect from, and the two forms.
MONITOR_RUNS = (("--json", "check", "status"), ("--json", "show", "vlun"),
                ("--json", "show", "phypath"), ("--nagios", "check", "status"),
                ("--prometheus", "check", "status"))
FAMILIES = ("tsextool_scan_success", "tsextool_scan_duration_seconds", "tsextool_alarms",
            "tsextool_vluns", "tsextool_vlun_paths", "tsextool_vlun_capacity_bytes",
            "tsextool_path_up", "tsextool_phypath_up")
UNITS = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30, "T": 1 << 40, "P": 1 << 50}


def alarm_state(alarm_type):
    if alarm_type in CRITICAL_TYPES:
        return "CRITICAL"
    if alarm_type in WARNING_TYPES:
        return "WARNING"
    return "UNKNOWN"


def safe(text, extra=""):
    """A text as the monitoring forms print it: '?' for every character
    outside printable ASCII and for every character of extra."""
    return "".join(c if 0x20 <= ord(c) <= 0x7E and c not in extra else "?" for c in text)


def label(value):
    """A document's cell as a label value: null ("--") is empty."""
    return "" if value is None else safe(value)


# A host of more alarms than the plugin output holds (some 120 of them,
# a third CRITICAL, spread among the others).
MANY_ALARMS = ["--luns", "120", "--paths", "2", "--hbas", "2", "--failed", "0.3",
               "--dead-phypaths", "0.25", "--seed", "281"]


def generated_topologies(args):
    """Hosts of every size class the generator makes, one seed each, and
    the host of many alarms; each with whether its plugin output is cut."""
    generator = os.path.join(args.source_root, "sim", "generator", "generate_host.py")
    hosts = []
    for seed in range(1, args.generated + 1):
        rng = random.Random(seed)
        hosts.append(["--luns", str(rng.randint(1, 24)), "--paths", str(rng.choice([1, 2, 4])),
                      "--arrays", str(rng.randint(1, 2)), "--hbas", str(rng.randint(1, 2)),
                      "--failed", str(rng.choice([0, 0.1, 0.3])),
                      "--dead-phypaths", str(rng.choice([0, 0, 0.25])), "--seed", str(seed)])
    hosts.append(MANY_ALARMS)
    for index, words in enumerate(hosts):
        path = os.path.join(args.work, "host%d.json" % index)
        with open(path, "w") as f:
            subprocess.run([sys.executable, "-B", generator] + words, stdout=f, check=True)
        yield path, " ".join(words), words is MANY_ALARMS


class Host:
    """The program's runs on one host, served from a batch of that host
    (tests/harness/hostrun.py): a run the batch has not made yet runs on
    demand."""

    def __init__(self, hostrun, program, uid=None):
        self.hostrun = hostrun
        self.program = program
        self.uid = uid
        self.failures = []
        self.checked = set()

    def plan(self):
        """Adds the runs the checks make, so that they share one start."""
        for words in MONITOR_RUNS:
            self.hostrun.add([self.program] + list(words), uid=self.uid)

    def run(self, *words):
        command = self.hostrun.add([self.program] + list(words), uid=self.uid)
        self.hostrun.run()
        what = " ".join(words)
        if what not in self.checked:
            self.checked.add(what)
            if command.stderr:
                self.failures.append("%s: standard error is not empty:\n%s" %
                                     (what, command.stderr.decode("latin-1")))
            bad = [line for line in command.audit if not AUDIT_LINE.match(line)]
            if bad:
                self.failures.append("%s: the audit log holds another access or command:\n  %s"
                                     % (what, "\n  ".join(bad)))
        return command.status, command.stdout.decode("latin-1")

    def document(self, *words):
        status, text = self.run("--json", *words)
        try:
            return json.loads(text)
        except ValueError:
            self.failures.append("--json %s: not a JSON document:\n%s" % (" ".join(words), text))
            return None


class Expected:
    """What the monitoring forms must say, from the JSON documents."""

    def __init__(self, host):
        self.alarms = []
        self.scan_ran = False
        self.listing_read = False
        self.vluns = []
        self.phypaths = []
        check = host.document("check", "status") if host.uid is None else None
        if check is None:
            return
        self.scan_ran = check["exit_status"] == 0
        self.alarms = check.get("alarms") or []
        self.listing_read = self.scan_ran and all(a["type"] != 10 for a in self.alarms)
        if not self.listing_read:
            return
        vluns = host.document("show", "vlun")
        phypaths = host.document("show", "phypath")
        self.vluns = (vluns or {}).get("vluns") or []
        self.phypaths = (phypaths or {}).get("phypaths") or []

    def paths(self):
        return [(vlun, path) for vlun in self.vluns for path in vlun["paths"]]

    def counts(self):
        paths = self.paths()
        return {
            "vluns": len(self.vluns),
            "paths": len(paths),
            "paths_failed": sum(1 for _, p in paths if p["status"] != "active"),
            "phypaths": len(self.phypaths),
            "phypaths_failed": sum(1 for p in self.phypaths if p["status"] != "active"),
            "alarms": len(self.alarms),
        }


def plural(count, word):
    return "%d %s%s" % (count, word, "" if count == 1 else "s")


# Nagios core keeps this many bytes of a plugin's output (status line and
# long output together).
OUTPUT_LIMIT = 8192
# The order of the long output's alarm lines; ties keep the alarms' order.
LINE_ORDER = {"CRITICAL": 0, "WARNING": 1, "UNKNOWN": 2}
# One performance datum as the plugin guidelines define it:
# 'label'=value[UOM];[warn];[crit];[min];[max], value, min and max of
# [-0-9.], the UOM one of s, ms, us, %, B, KB, MB, TB, c or none, trailing
# unfilled semicolons dropped.
NUMBER = r"-?[0-9]+(?:\.[0-9]+)?"
PERFDATUM = re.compile(r"^(?P<label>[^'= ]+|'[^'=]+')=(?P<value>%s)(?P<uom>s|ms|us|%%|B|KB|MB|TB|c)?"
                       r"(?:;(?P<warn>[^; ]*)(?:;(?P<crit>[^; ]*)(?:;(?P<min>(?:%s)?)"
                       r"(?:;(?P<max>(?:%s)?))?)?)?)?$" % (NUMBER, NUMBER, NUMBER))


def parse_perfdata(perfdata):
    """The data by label as (value, min, max) texts; a list of what breaks
    the grammar."""
    data, broken = {}, []
    for item in perfdata.split(" "):
        match = PERFDATUM.match(item)
        if match is None:
            broken.append(item)
            continue
        data[match.group("label")] = (match.group("value"), match.group("min") or "",
                                      match.group("max") or "")
    return data, broken


def expected_perfdata(expected):
    """label: (value, min, max): min 0 for every count, the whole as the
    max of a failed count, the counts of a listing that was not read left
    out."""
    alarms = {"alarms": (str(len(expected.alarms)), "0", "")}
    if not expected.listing_read:
        return alarms
    counts = expected.counts()
    want = {name: (str(counts[name]), "0", "") for name in ("vluns", "paths", "phypaths")}
    want["paths_failed"] = (str(counts["paths_failed"]), "0", str(counts["paths"]))
    want["phypaths_failed"] = (str(counts["phypaths_failed"]), "0", str(counts["phypaths"]))
    order = ("vluns", "paths", "paths_failed", "phypaths", "phypaths_failed")
    return dict([(name, want[name]) for name in order] + list(alarms.items()))


def left_out_line(count):
    return "and %s" % plural(count, "more alarm")


def check_long_output(text, lines, want_lines):
    """The alarm lines in severity order, cut only where the whole output
    would pass OUTPUT_LIMIT bytes, and then as late as the last line allows."""
    failures = []
    if len(text) > OUTPUT_LIMIT:
        failures.append("the plugin output has %d bytes, more than %d" %
                        (len(text), OUTPUT_LIMIT))
    got = lines[1:]
    if got == want_lines:
        return failures, False
    kept = len(got) - 1
    if kept < 0 or got[:kept] != want_lines[:kept] or kept >= len(want_lines):
        failures.append("alarm lines\n  %s\nexpected (a prefix of)\n  %s" %
                        ("\n  ".join(got), "\n  ".join(want_lines)))
        return failures, False
    if got[-1] != left_out_line(len(want_lines) - kept):
        failures.append("last line %r, expected %r" %
                        (got[-1], left_out_line(len(want_lines) - kept)))
    whole = len(lines[0]) + 1 + sum(len(line) + 1 for line in want_lines)
    if whole <= OUTPUT_LIMIT:
        failures.append("cut although the whole output (%d bytes) fits" % whole)
    left = len(want_lines) - kept - 1
    one_more = (len(text) - len(got[-1]) - 1 + len(want_lines[kept]) + 1 +
                (len(left_out_line(left)) + 1 if left else 0))
    if one_more <= OUTPUT_LIMIT:
        failures.append("cut after %d lines although one more (%d bytes in all) fits" %
                        (kept, one_more))
    return failures, True


def check_nagios(host, expected, must_cut=False):
    failures = []
    status, text = host.run("--nagios", "check", "status")
    if host.uid is not None:
        if status != 3 or text != "SAN UNKNOWN - Please run as root!\n":
            failures.append("another user: exit %d, %r" % (status, text))
        return failures
    lines = text.split("\n")
    if lines[-1] != "":
        failures.append("the plugin output does not end with a newline")
    lines = lines[:-1]
    match = re.match(r"^SAN (OK|WARNING|CRITICAL|UNKNOWN) - ([^|;]*?)(?: \| ([^|]*))?$",
                     lines[0] if lines else "")
    if match is None:
        return ["status line %r is not 'SAN STATE - text | perfdata' without a ';' before "
                "the '|'" % (lines[:1],)]
    state, summary, perfdata = match.groups()
    if not expected.scan_ran:
        want_state = "UNKNOWN"
    else:
        want_state = "OK"
        for alarm in expected.alarms:
            if RANK[alarm_state(alarm["type"])] > RANK[want_state]:
                want_state = alarm_state(alarm["type"])
    if state != want_state or status != STATES[want_state]:
        failures.append("state %s, exit %d; expected %s, exit %d" %
                        (state, status, want_state, STATES[want_state]))
    if not expected.scan_ran:
        if perfdata is not None:
            failures.append("a scan that did not run has performance data %r" % perfdata)
        if len(lines) != 1:
            failures.append("a scan that did not run has one line, not %d" % len(lines))
        return failures
    values, broken = parse_perfdata(perfdata or "")
    if broken:
        failures.append("perfdata items %r break the guidelines' grammar" % broken)
    want = expected_perfdata(expected)
    if list(values.items()) != list(want.items()):
        failures.append("perfdata (value, min, max) %r, expected %r" % (values, want))
    counts = expected.counts()
    if expected.listing_read:
        head = "%s, %s (%d failed), %s (%d failed) - " % (
            plural(counts["vluns"], "vlun"), plural(counts["paths"], "path"),
            counts["paths_failed"], plural(counts["phypaths"], "phypath"),
            counts["phypaths_failed"])
    else:
        head = "multipath listing unavailable - "
    if expected.alarms:
        worst = next(a for a in expected.alarms if alarm_state(a["type"]) == want_state)
        head += "%s (%d critical, %d warning), worst: %s" % (
            plural(len(expected.alarms), "alarm"),
            sum(1 for a in expected.alarms if alarm_state(a["type"]) == "CRITICAL"),
            sum(1 for a in expected.alarms if alarm_state(a["type"]) == "WARNING"),
            safe(worst["description"], "|;"))
    else:
        head += "no alarm"
    if summary != head:
        failures.append("status text\n  %r\nexpected\n  %r" % (summary, head))
    ordered = sorted(expected.alarms, key=lambda a: LINE_ORDER[alarm_state(a["type"])])
    want_lines = ["%s: alarm %d: %s" % (alarm_state(a["type"]), a["type"],
                                        safe(a["description"], "|"))
                  for a in ordered]
    long_failures, cut = check_long_output(text, lines, want_lines)
    failures += long_failures
    if must_cut and not cut:
        failures.append("the host's %d alarms were meant to pass %d bytes, and did not" %
                        (len(want_lines), OUTPUT_LIMIT))
    return failures


def capacity_bytes(text):
    match = re.match(r"^([0-9.]+)([KMGTP])$", text or "")
    return float(match.group(1)) * UNITS[match.group(2)] if match else None


def check_prometheus(host, expected):
    from prometheus_client.parser import text_string_to_metric_families
    failures = []
    status, text = host.run("--prometheus", "check", "status")
    if host.uid is not None:
        if status != 1 or text != "Error: Please run as root!\n":
            failures.append("another user: exit %d, %r" % (status, text))
        return failures
    try:
        families = {f.name: f for f in text_string_to_metric_families(text)}
    except ValueError as error:
        return ["the metrics do not parse: %s\n%s" % (error, text)]
    want_status = 0 if expected.scan_ran else 1
    if status != want_status:
        failures.append("exit %d, expected %d" % (status, want_status))
    if expected.listing_read:
        names = FAMILIES
    elif expected.scan_ran:
        names = FAMILIES[:3]
    else:
        names = FAMILIES[:2]
    if tuple(families) != names:
        failures.append("families %r, expected %r" % (tuple(families), names))
    for family in families.values():
        if not family.documentation or family.type != "gauge":
            failures.append("%s: HELP %r, TYPE %r" % (family.name, family.documentation,
                                                       family.type))

    def samples(name):
        return [(s.labels, s.value) for s in families[name].samples] if name in families else []

    def compare(name, got, want):
        if sorted(map(repr, got)) != sorted(map(repr, want)):
            failures.append("%s:\n  got      %s\n  expected %s" % (name, got, want))

    compare("tsextool_scan_success", samples("tsextool_scan_success"),
            [({}, 1.0 if expected.scan_ran else 0.0)])
    duration = samples("tsextool_scan_duration_seconds")
    if len(duration) != 1 or not duration[0][1] >= 0:
        failures.append("scan duration %r" % duration)
    if expected.scan_ran:
        compare("tsextool_alarms", samples("tsextool_alarms"),
                [({"type": str(t)}, float(sum(1 for a in expected.alarms if a["type"] == t)))
                 for t in range(10, 19)])
    if not expected.listing_read:
        return failures
    compare("tsextool_vluns", samples("tsextool_vluns"), [({}, float(len(expected.vluns)))])
    by_state = []
    for vlun in expected.vluns:
        ids = {"vlun": label(vlun["vlun"]), "wwn": label(vlun["wwn"])}
        states = [p["status"] if p["status"] in ("active", "failed") else "unknown"
                  for p in vlun["paths"]]
        by_state += [(dict(ids, state=s), float(states.count(s)))
                     for s in ("active", "failed", "unknown")]
    compare("tsextool_vlun_paths", samples("tsextool_vlun_paths"), by_state)
    for labels, value in samples("tsextool_vlun_capacity_bytes"):
        vlun = next((v for v in expected.vluns if label(v["vlun"]) == labels["vlun"]), None)
        size = capacity_bytes(vlun["capacity"]) if vlun else None
        if size is None or abs(value - size) > 0.05 * size:
            failures.append("capacity %r of %r, the listing says %r" %
                            (value, labels, vlun and vlun["capacity"]))
    if len(samples("tsextool_vlun_capacity_bytes")) != len(expected.vluns):
        failures.append("a capacity for %d of %d vluns" %
                        (len(samples("tsextool_vlun_capacity_bytes")), len(expected.vluns)))
    compare("tsextool_path_up", samples("tsextool_path_up"), [
        ({"path": label(p["path"]), "vlun": label(v["vlun"]), "wwn": label(v["wwn"]),
          "hctl": label(p["hctl"]), "array_sn": label(p["array_sn"]),
          "controller": label(p["controller"]), "initiator_port": label(p["initiator_port"]),
          "target_port": label(p["target_port"])},
         1.0 if p["status"] == "active" else 0.0) for v, p in expected.paths()])
    compare("tsextool_phypath_up", samples("tsextool_phypath_up"), [
        ({"hct": label(p["hct"]), "array_sn": label(p["array_sn"]),
          "controller": label(p["controller"]), "initiator_port": label(p["initiator_port"]),
          "target_port": label(p["target_port"])},
         1.0 if p["status"] == "active" else 0.0) for p in expected.phypaths])
    return failures


def check_host(host, must_cut=False):
    """Every failure of the two forms on a host, against its documents;
    must_cut: the host has more alarms than the plugin output holds."""
    expected = Expected(host)
    return (check_nagios(host, expected, must_cut) + check_prometheus(host, expected) +
            host.failures)


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "source-root", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--generated", type=int, required=True)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    try:
        import prometheus_client.parser  # noqa: F401
    except ImportError:
        print("FAIL: the Python module prometheus_client (Debian python3-prometheus-client) "
              "is missing")
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failed = 0
    hosts = list(generated_topologies(args))
    for index, (topology, what, must_cut) in enumerate(hosts):
        host = Host(HostRun(args.sansim, topology, os.path.join(args.work, "run%d" % index)),
                    args.program)
        host.plan()
        failures = check_host(host, must_cut)
        for failure in failures:
            print("FAIL (%s): %s" % (what, failure))
        failed += 1 if failures else 0
        print("%s: %s" % (what, "%d checks failed" % len(failures) if failures
                          else "as the documents say"))
    if failed:
        return 1
    print("--nagios and --prometheus agree with the --json documents on %d hosts" % len(hosts))
    return 0


if __name__ == "__main__":
    sys.exit(main())
