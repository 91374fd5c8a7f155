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

- the tables: the alarm table holds the document's alarms, and the paths
  the path table shows not active are exactly those the documents call
  failed or unknown (with the two forms held to the documents, the four
  forms agree).

With --generated COUNT the same checks run on COUNT hosts that
sim/generator/generate_host.py makes, each with its own seed, size, share of
failed paths and of dead physical paths, and with LUNs without a dm node and
paths whose node is missing, that hang, or that the listing calls failed
while they answer laid over them; and on one host of more alarms than the
plugin output holds, whose output must be cut. Each host's runs share one
start, and a failure names the seed and what it laid.
"""

import argparse
import concurrent.futures
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
                ("--prometheus", "check", "status"), ("show", "path"), ("check", "status"))
# The share of LUNs without a dm node, and of paths with each fault, that a
# generated host gets on top of the generator's failed paths.
LUN_FAULTS = (("dm-less", 0.08),)
PATH_FAULTS = (("missing", 0.05), ("hung", 0.05), ("dm-failed", 0.05))
FAMILIES = ("tsextool_build_info", "tsextool_scan_success", "tsextool_scan_duration_seconds", "tsextool_alarms",
            "tsextool_alarm", "tsextool_vluns", "tsextool_vlun_info", "tsextool_vlun_state",
            "tsextool_vlun_paths", "tsextool_vlun_capacity_bytes", "tsextool_path_info",
            "tsextool_path_state", "tsextool_path_up", "tsextool_phypath_info",
            "tsextool_phypath_state", "tsextool_phypath_up")
ALARM_NAMES = {10: "multipath_unavailable", 11: "phypath_abnormal", 12: "phypath_no_redundancy",
               13: "phypath_one_controller", 14: "vlun_all_paths_down", 15: "vlun_no_redundancy",
               16: "vlun_one_controller", 17: "vlun_wwn_changed", 18: "path_abnormal"}
STATE_WORDS = ("active", "failed", "unknown")
PORT_LABELS = ("controller", "array_name", "array_sn", "port_type", "port_id", "initiator_port",
               "target_port")


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
    """A document's cell as a label value: null ("--") and the missing pair
    "--/--" are empty."""
    return "" if value is None or value == "--/--" else safe(value)


def kernel_name(node):
    """node_exporter's device label: the kernel name of a /dev node."""
    return "" if node is None else safe(node[len("/dev/"):] if node.startswith("/dev/") else node)


def mix_faults(topology, rng):
    """Lays the faults of LUN_FAULTS and PATH_FAULTS over a generated host's
    LUNs and paths, drawn from rng; returns what it laid, by kind."""
    laid = {}

    def draw(table):
        r = rng.random()
        for kind, share in table:
            if r < share:
                laid[kind] = laid.get(kind, 0) + 1
                return kind
            r -= share
        return None

    for lun in topology["luns"]:
        if draw(LUN_FAULTS) == "dm-less":
            lun["dm_faults"] = {"missing": True}
        for path in lun["paths"]:
            if (path.get("faults") or {}).get("dead"):
                continue
            kind = draw(PATH_FAULTS)
            if kind == "missing":
                path["faults"] = {"missing": True}
            elif kind == "hung":
                path["faults"] = {"hung": True}
            elif kind == "dm-failed":
                path.update({"dm_state": "failed", "checker_state": "faulty"})
    return laid


# A host of more alarms than the plugin output holds (some 120 of them,
# a third CRITICAL, spread among the others).
MANY_ALARMS = ["--luns", "120", "--paths", "2", "--hbas", "2", "--failed", "0.3",
               "--dead-phypaths", "0.25", "--seed", "281"]


def generated_topologies(args):
    """Hosts of every size class the generator makes, one seed each, with
    missing, hung, dm-failed and dm-less paths mixed in, and the host of
    many alarms; each with whether its plugin output is cut."""
    generator = os.path.join(args.source_root, "sim", "generator", "generate_host.py")
    hosts = []
    for seed in range(1, args.generated + 1):
        rng = random.Random(seed)
        words = ["--luns", str(rng.randint(1, 16)), "--paths", str(rng.choice([1, 2, 4])),
                 "--arrays", str(rng.randint(1, 2)), "--hbas", str(rng.randint(1, 2)),
                 "--failed", str(rng.choice([0, 0.1, 0.3])),
                 "--dead-phypaths", str(rng.choice([0, 0, 0.25])), "--seed", str(seed)]
        hosts.append((words, rng))
    hosts.append((MANY_ALARMS, None))
    for index, (words, rng) in enumerate(hosts):
        generated = subprocess.run([sys.executable, "-B", generator] + words,
                                   stdout=subprocess.PIPE, check=True).stdout
        topology = json.loads(generated)
        laid = mix_faults(topology, rng) if rng is not None else {}
        path = os.path.join(args.work, "host%d.json" % index)
        with open(path, "w") as f:
            json.dump(topology, f)
        faults = ", ".join("%d %s" % (n, kind) for kind, n in sorted(laid.items()))
        what = "seed %s: %s%s" % (words[-1], " ".join(words), "; " + faults if faults else "")
        yield path, what, words is MANY_ALARMS


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
            "paths_failed": sum(1 for _, p in paths if p["status"] == "failed"),
            "phypaths": len(self.phypaths),
            "phypaths_failed": sum(1 for p in self.phypaths if p["status"] == "failed"),
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
        names = FAMILIES[:5]
    else:
        names = FAMILIES[:3]
    if tuple(families) != names:
        failures.append("families %r, expected %r" % (tuple(families), names))
    for family in families.values():
        if not family.documentation or family.type != "gauge":
            failures.append("%s: HELP %r, TYPE %r" % (family.name, family.documentation,
                                                       family.type))

    def samples(name):
        return [(s.labels, s.value) for s in families[name].samples] if name in families else []

    def compare(name, got, want, repeated=False):
        """got is want; with repeated, a series want names twice (a path the
        listing names twice) is written once."""
        def keys(series):
            return sorted(repr((sorted(labels.items()), value)) for labels, value in series)
        if repeated:
            want = [entry for i, entry in enumerate(want) if entry not in want[:i]]
        got_keys, want_keys = keys(got), keys(want)
        if got_keys != want_keys:
            extra = [k for k in got_keys if k not in want_keys]
            missing = [k for k in want_keys if k not in got_keys]
            failures.append("%s: %d series, expected %d\n  not expected: %s\n  missing:      %s"
                            % (name, len(got), len(want), extra[:5], missing[:5]))

    compare("tsextool_scan_success", samples("tsextool_scan_success"),
            [({}, 1.0 if expected.scan_ran else 0.0)])
    compare("tsextool_build_info", samples("tsextool_build_info"),
            [({"version": release_version()}, 1.0)])
    duration = samples("tsextool_scan_duration_seconds")
    if len(duration) != 1 or not duration[0][1] >= 0:
        failures.append("scan duration %r" % duration)
    series = [(f.name, tuple(sorted(s.labels.items()))) for f in families.values()
              for s in f.samples]
    if len(series) != len(set(series)):
        failures.append("a series is written twice: %r" %
                        sorted(x for x in set(series) if series.count(x) > 1))
    if expected.scan_ran:
        compare_alarms(expected, samples, compare)
    if not expected.listing_read:
        return failures
    compare("tsextool_vluns", samples("tsextool_vluns"), [({}, float(len(expected.vluns)))])
    compare_vluns(expected, samples, compare, failures)
    compare_paths(expected, samples, compare)
    compare_phypaths(expected, samples, compare)
    return failures


def release_version():
    """The release version, from the one place the build defines it."""
    root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
    with open(os.path.join(root, "CMakeLists.txt")) as f:
        return re.search(r"project\(tskit VERSION ([0-9.]+)", f.read()).group(1)


def type_labels(alarm_type):
    return {"type": str(alarm_type), "name": ALARM_NAMES[alarm_type],
            "severity": alarm_state(alarm_type).lower()}


def alarm_subject(alarm):
    """The subject labels of an alarm's series, from its document subject."""
    subject = alarm["subject"]
    kind = subject["kind"]
    if kind == "phypath":
        what = "%s,%s" % (subject["initiator_port"] or "--", subject["target_port"] or "--")
        return {"kind": kind, "subject": label(what), "array_sn": label(subject["array_sn"])}
    if kind == "vlun":
        return {"kind": kind, "subject": kernel_name(subject["vlun"]),
                "array_sn": label(subject["array_sn"])}
    if kind == "path":
        return {"kind": kind, "subject": kernel_name(subject["path"]), "array_sn": ""}
    return {"kind": kind, "subject": "", "array_sn": ""}


def compare_alarms(expected, samples, compare):
    compare("tsextool_alarms", samples("tsextool_alarms"),
            [(type_labels(t), float(sum(1 for a in expected.alarms if a["type"] == t)))
             for t in range(10, 19)])
    want = []
    for alarm in expected.alarms:
        entry = (dict(type_labels(alarm["type"]), **alarm_subject(alarm)), 1.0)
        if entry not in want:
            want.append(entry)
    compare("tsextool_alarm", samples("tsextool_alarm"), want)


def state_set(identity, state):
    return [(dict(identity, state=s), 1.0 if s == state else 0.0) for s in STATE_WORDS]


def vlun_identity(vlun):
    return {"device": label(vlun["dm_name"]), "wwid": label(vlun["wwid"])}


def path_identity(path):
    return {"device": kernel_name(path["path"]), "hctl": label(path["hctl"])}


def compare_vluns(expected, samples, compare, failures):
    info, states, by_state = [], [], []
    for vlun in expected.vluns:
        ids = vlun_identity(vlun)
        row = vlun["rows"][0]
        info.append((dict(ids, alias=label(vlun["alias"]), lun_name=label(row["lun_name"]),
                          vendor_product=label(row["vendor_product"]),
                          array_name=label(row["array_name"]),
                          array_sn=label(row["array_sn"])), 1.0))
        states += state_set(ids, vlun["status"])
        words = [p["status"] for p in vlun["paths"]]
        by_state += [(dict(ids, state=s), float(words.count(s))) for s in STATE_WORDS]
    compare("tsextool_vlun_info", samples("tsextool_vlun_info"), info)
    compare("tsextool_vlun_state", samples("tsextool_vlun_state"), states)
    compare("tsextool_vlun_paths", samples("tsextool_vlun_paths"), by_state)
    for labels, value in samples("tsextool_vlun_capacity_bytes"):
        vlun = next((v for v in expected.vluns if label(v["dm_name"]) == labels["device"]), None)
        size = vlun["capacity_bytes"] if vlun else None
        if size is None or value != size:
            failures.append("capacity %r of %r, the document says %r" %
                            (value, labels, vlun and vlun["capacity_bytes"]))
    if len(samples("tsextool_vlun_capacity_bytes")) != len(expected.vluns):
        failures.append("a capacity for %d of %d vluns" %
                        (len(samples("tsextool_vlun_capacity_bytes")), len(expected.vluns)))


def compare_paths(expected, samples, compare):
    info, states, up = [], [], []
    for vlun, path in expected.paths():
        ids = path_identity(path)
        described = dict(ids, vlun=label(vlun["dm_name"]),
                         lun_name=label(path["lun_name"]),
                         vendor_product=label(path["vendor_product"]))
        described.update((name, label(path[name])) for name in PORT_LABELS)
        info.append((described, 1.0))
        states += state_set(ids, path["status"])
        if path["status"] != "unknown":
            up.append((ids, 1.0 if path["status"] == "active" else 0.0))
    compare("tsextool_path_info", samples("tsextool_path_info"), info, True)
    compare("tsextool_path_state", samples("tsextool_path_state"), states, True)
    compare("tsextool_path_up", samples("tsextool_path_up"), up, True)


def compare_phypaths(expected, samples, compare):
    info, states, up = [], [], []
    for phypath in expected.phypaths:
        ids = {"hct": label(phypath["hct"])}
        info.append((dict(ids, **{n: label(phypath[n]) for n in PORT_LABELS}), 1.0))
        states += state_set(ids, phypath["status"])
        if phypath["status"] != "unknown":
            up.append((ids, 1.0 if phypath["status"] == "active" else 0.0))
    compare("tsextool_phypath_info", samples("tsextool_phypath_info"), info)
    compare("tsextool_phypath_state", samples("tsextool_phypath_state"), states)
    compare("tsextool_phypath_up", samples("tsextool_phypath_up"), up)


def table_rows(text):
    """The rows of the one table a command prints, each cut at its blanks."""
    lines = text.split("\n")
    rules = [i for i, line in enumerate(lines) if re.fullmatch(r"=+", line)]
    if len(rules) < 2:
        return []
    return [line for line in lines[rules[0] + 2:rules[-1]] if line.strip()]


def check_tables(host, expected):
    """The tables and the documents agree: the paths the path table shows
    not active are those the documents call failed or unknown, and the
    alarm table has the documents' alarms."""
    if host.uid is not None or not expected.scan_ran:
        return []
    failures = []
    _, text = host.run("check", "status")
    shown = [row.strip().split(None, 1) for row in table_rows(text)]
    wanted = [[a["level"], safe(a["description"])] for a in expected.alarms]
    if shown != wanted:
        failures.append("the alarm table is not the document's alarms:\n  table    %r\n"
                        "  document %r" % (shown[:3], wanted[:3]))
    if not expected.listing_read:
        return failures
    _, text = host.run("show", "path")
    table = {}
    for row in table_rows(text):
        cells = row.split()
        table.setdefault(cells[2], set()).add(cells[3])
    document = {}
    for _, path in expected.paths():
        document.setdefault(path["path"], set()).add(path["status"])
    not_active = sorted(p for p, cells in table.items() if cells != {"active"})
    failed_or_unknown = sorted(p for p, words in document.items()
                               if words & {"failed", "unknown"})
    if sorted(table) != sorted(document) or not_active != failed_or_unknown:
        failures.append("the path table shows %r not active; the document calls %r failed or "
                        "unknown" % (not_active, failed_or_unknown))
    return failures


def check_host(host, must_cut=False):
    """Every failure of the two forms and the tables on a host, against its
    documents; must_cut: the host has more alarms than the plugin output
    holds."""
    expected = Expected(host)
    return (check_nagios(host, expected, must_cut) + check_prometheus(host, expected) +
            check_tables(host, expected) + host.failures)


def check_generated(args, index, topology, what, must_cut):
    host = Host(HostRun(args.sansim, topology, os.path.join(args.work, "run%d" % index)),
                args.program)
    host.plan()
    return what, check_host(host, must_cut)


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "source-root", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--generated", type=int, required=True)
    parser.add_argument("--workers", type=int, default=2)
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
    with concurrent.futures.ThreadPoolExecutor(max_workers=args.workers) as pool:
        results = list(pool.map(lambda item: check_generated(args, item[0], *item[1]),
                                enumerate(hosts)))
    for what, failures in results:
        for failure in failures:
            print("FAIL (%s): %s" % (what, failure))
        failed += 1 if failures else 0
        print("%s: %s" % (what, "%d checks failed" % len(failures) if failures
                          else "as the documents say"))
    if failed:
        return 1
    print("the tables, --nagios and --prometheus agree with the --json documents on %d hosts"
          % len(hosts))
    return 0


if __name__ == "__main__":
    sys.exit(main())
