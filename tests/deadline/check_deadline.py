#!/usr/bin/env python3
"""The run's deadline on hosts where something never answers in time.

    check_deadline.py --sansim SANSIM --tsextool T --showdisk D
        --showdisk-esxi E --source SRC --work WORK [--only REGEX]

Each case runs a program with a deadline of 2 s (1 s where the listing
never ends) on a host with time (real time: a hung command takes 7 s or
more, a held map never answers), and once without a deadline on the reference host: the same host
without time, where the node that hangs times out at once, which is what a
node that never answered prints. From the rules:

- table: the reference output, then the deadline line; exit status 1;
- --json: the reference document but for the statuses of the nodes not
  checked ("unknown", never "failed"), exit_status 1, and the deadline
  member; valid against the schema;
- --nagios: CRITICAL, the status line led by the deadline and counting
  the unchecked paths as not failed, the reference alarm lines, then one
  "not checked:" line per node;
- --prometheus --textfile: the stale file replaced; the reference series
  but scan_success 0, the deadline gauge at 1 and no path_up series for the
  paths not checked;
- a listing that never ends: the deadline line alone (Nagios: CRITICAL).

The order of events comes from the audit log's host time, never from the
wall clock: the program's exit, and its reader's end of file (a command
run after the reader saw it), come before a hung command could end.

Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys

SKIP = 77
HUNG_US = 7_000_000  # the least time a hung command takes (host time)
# Real time: the healthy devices answer within milliseconds, far inside the
# 2 s deadline even on a loaded machine, and a hung command takes 7 s.
TIMING = {"service_us": 200, "listing_ms": 50, "scale": 1}
DEADLINE = "2"


class Host:
    def __init__(self, name, base, overlay):
        self.name = name
        self.base = base
        self.overlay = overlay


def cut_line(count):
    return "Deadline of 2 s reached, %d %s not checked.\n" % (count, "device" if count == 1
                                                               else "devices")


MISSING_LINE = "Deadline of 1 s reached before the listing arrived.\n"


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "tsextool", "showdisk", "showdisk-esxi", "source", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--only", default="")
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    return Checker(args).run()


class Checker:
    def __init__(self, args):
        self.args = args
        self.failures = 0
        self.src = os.path.abspath(args.source)
        linux_hung = os.path.join(self.src, "tests/e2e/hosts/hung_path.json")
        esxi_hung = os.path.join(self.src, "tests/e2e_esxi/hosts/hung_path.json")
        demo = os.path.join(self.src, "sim/topologies/demo.json")
        esxi_demo = os.path.join(self.src, "sim/topologies/esxi_demo.json")
        lost = {"luns": {"db02": {"dm_faults": {"paths_lost": True}}}}
        # The reference of a lost map: its node times out at once.
        lost_ref = {"luns": {"db02": {"dm_faults": {"hung": True}}}}
        self.hosts = {
            "hung": (self.write("hung", linux_hung, {"timing": TIMING}), linux_hung),
            "esxi_hung": (self.write("esxi_hung", esxi_hung, {"timing": TIMING}), esxi_hung),
            "lost": (self.write("lost", demo, dict(lost, timing=TIMING)),
                     self.write("lost_ref", demo, lost_ref)),
            "hang": (self.write("hang", demo, {"multipath": {"hang": True}, "timing": TIMING}),
                     None),
            "esxi_hang": (self.write("esxi_hang", esxi_demo,
                                     {"esxi": {"hang": ["esxcfg-mpath"]}, "timing": TIMING}),
                          None),
            # The product probe, the first command of a run, never ends.
            "esxi_probe_hang": (self.write("esxi_probe_hang", esxi_demo,
                                           {"esxi": {"hang": ["esxcli"]}, "timing": TIMING}),
                                None),
        }

    def write(self, name, base, overlay):
        path = os.path.join(self.args.work, name + ".json")
        with open(path, "w") as f:
            json.dump(dict(overlay, base=base), f)
        return path

    def program(self, name):
        return {"tsexTool": self.args.tsextool, "ts_showdisk": self.args.showdisk,
                "ts_showdisk-esxi": self.args.showdisk_esxi}[name]

    def sansim(self, host, command, audit=None):
        line = [self.args.sansim, "run"]
        if audit:
            line += ["--audit", audit]
        line.append(host)
        try:
            result = subprocess.run(line + ["--"] + command, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=60)
        except subprocess.TimeoutExpired:
            return "", -1, b"the run did not end within 60 s"
        return result.stdout.decode("utf-8", "replace"), result.returncode, result.stderr

    # ---- one case ----

    def case(self, name, host, program, words, check, deadline=("--timeout", DEADLINE),
             reference=True, held=True):
        if not re.search(self.args.only, name):
            return
        timed = self.hosts[host][0]
        reference = self.hosts[host][1] if reference else None
        audit = os.path.join(self.args.work, name + ".audit")
        command = [self.program(program)] + list(deadline) + words
        out, status, err = self.sansim(timed, command, audit)
        ref = None
        if reference is not None and self.hosts[host][1] is not None and reference:
            ref_out, ref_status, _ = self.sansim(reference, [self.program(program)] + words)
            ref = (ref_out, ref_status)
        problems = []
        if err:
            problems.append("standard error is not empty: %r" % err[:400])
        problems += check(out, status, ref)
        if held:
            problems += self.exit_early(audit)
        self.report(name, problems, out)

    def report(self, name, problems, out):
        if problems:
            self.failures += 1
            print("FAIL: %s" % name)
            for problem in problems:
                print("  " + problem.replace("\n", "\n  "))
            print("  stdout| " + out.replace("\n", "\n  stdout| "))
        else:
            print("ok: %s" % name)

    def exit_early(self, audit):
        """The program's exit is reported before a hung command could end."""
        with open(audit) as log:
            exits = [int(m.group(1)) for m in
                     (re.match(r"^exit pid=\d+ status=\d+ at_us=(\d+)$", l) for l in log) if m]
        if not exits:
            return ["the audit log reports no exit"]
        if exits[-1] >= HUNG_US:
            return ["the exit came at host time %d us, after a hung command could end" %
                    exits[-1]]
        return []

    # ---- the rules of each form ----

    @staticmethod
    def table(nodes):
        def check(out, status, ref):
            expected = ref[0] + cut_line(nodes)
            problems = [] if out == expected else ["stdout differs from the reference output "
                                                  "and the deadline line:\n" + diff(expected, out)]
            if status != 1:
                problems.append("exit status %d, not 1" % status)
            return problems
        return check

    @staticmethod
    def alone(text, want_status):
        def check(out, status, _ref):
            problems = [] if out == text else ["stdout %r, not %r" % (out, text)]
            if status != want_status:
                problems.append("exit status %d, not %d" % (status, want_status))
            return problems
        return check

    def json_form(self, not_checked, status_key, schema):
        def check(out, status, ref):
            problems = []
            try:
                doc, want = json.loads(out), json.loads(ref[0])
            except ValueError as error:
                return ["not JSON: %s" % error]
            deadline = doc.pop("deadline", None)
            summary = ("deadline of 2 s reached, %d %s not checked" %
                       (len(not_checked), "device" if len(not_checked) == 1 else "devices"))
            # In the order the program came to them.
            if deadline is not None:
                deadline["not_checked"] = sorted(deadline["not_checked"])
            if deadline != {"seconds": 2, "reached": True, "listing_arrived": True,
                            "not_checked": sorted(not_checked), "summary": summary}:
                problems.append("deadline member %r" % deadline)
            if status != 1:
                problems.append("exit status %d, not 1" % status)
            if "exit_status" in want:
                want["exit_status"] = 1
            problems += same_but_statuses(want, doc, not_checked, status_key, "$")
            problems += self.validate(json.loads(out), schema)
            return problems
        return check

    def json_missing(self, schema):
        """A document for a listing that never arrived: the deadline member
        says so, nothing was checked, and the run exits 1."""
        def check(out, status, _ref):
            try:
                doc = json.loads(out)
            except ValueError as error:
                return ["not JSON: %s" % error]
            problems = []
            want = {"seconds": 1, "reached": True, "listing_arrived": False, "not_checked": [],
                    "summary": "deadline of 1 s reached before the listing arrived"}
            if doc.get("deadline") != want:
                problems.append("deadline member %r" % doc.get("deadline"))
            if status != 1:
                problems.append("exit status %d, not 1" % status)
            return problems + self.validate(doc, schema)
        return check

    def validate(self, doc, schema):
        try:
            import jsonschema
        except ImportError:
            return ["python3-jsonschema is missing"]
        with open(os.path.join(self.src, "docs/schema", schema)) as f:
            try:
                jsonschema.validate(doc, json.load(f))
            except jsonschema.ValidationError as error:
                return ["the document breaks %s: %s" % (schema, error.message)]
        return []

    @staticmethod
    def nagios(nodes):
        def check(out, status, ref):
            problems = []
            ref_lines = ref[0].splitlines(True)
            head = re.sub(r"^SAN [A-Z]+ - ", "", ref_lines[0])
            # The unchecked path was failed in the reference; now it is not.
            head = re.sub(r"(\d+) paths \((\d+) failed\)",
                          lambda m: "%s paths (%d failed)" % (m.group(1), int(m.group(2)) - 1),
                          head, count=1)
            head = re.sub(r"\bpaths_failed=(\d+)",
                          lambda m: "paths_failed=%d" % (int(m.group(1)) - 1), head)
            count = len(nodes)
            expected = ("SAN CRITICAL - deadline of 2 s reached, %d %s not checked - " %
                        (count, "device" if count == 1 else "devices") + head +
                        "".join(ref_lines[1:]) +
                        "".join("not checked: %s\n" % node for node in nodes))
            if out != expected:
                problems.append("plugin output differs:\n" + diff(expected, out))
            if status != 2:
                problems.append("exit status %d, not 2 (CRITICAL)" % status)
            return problems
        return check

    def prometheus(self, unchecked_path, textfile):
        def check(out, status, _ref):
            problems = []
            if out:
                problems.append("standard output is not empty")
            if status != 1:
                problems.append("exit status %d, not 1" % status)
            with open(textfile) as f:
                got = f.read()
            ref_file = textfile + ".ref"
            _, _, _ = self.sansim(self.hosts["hung"][1],
                                  [self.args.tsextool, "--prometheus", "--textfile", ref_file,
                                   "check", "status"])
            with open(ref_file) as f:
                want = f.read()
            # The reference run waited for the hung path, which failed; under
            # the deadline it was never answered: unknown, not failed.
            device = unchecked_path[len("/dev/"):]
            vlun = re.search(r'^tsextool_path_info\{device="%s",[^}]*vlun="([^"]*)"' % device,
                             want, re.M).group(1)
            own = 'tsextool_path_state{device="%s",' % device
            counts = 'tsextool_vlun_paths{device="%s",' % vlun
            expected = []
            for line in want.splitlines():
                if line.startswith("tsextool_scan_success "):
                    line = "tsextool_scan_success 0"
                elif line.startswith("tsextool_scan_duration_seconds "):
                    continue
                elif line.startswith('tsextool_path_up{device="%s",' % device):
                    continue
                elif line.startswith(own) and 'state="failed"' in line:
                    line = line[:-1] + "0"
                elif line.startswith(own) and 'state="unknown"' in line:
                    line = line[:-1] + "1"
                elif line.startswith(counts) and 'state="failed"' in line:
                    name, value = line.rsplit(" ", 1)
                    line = "%s %d" % (name, int(value) - 1)
                elif line.startswith(counts) and 'state="unknown"' in line:
                    name, value = line.rsplit(" ", 1)
                    line = "%s %d" % (name, int(value) + 1)
                expected.append(line)
                if line.startswith("# TYPE tsextool_scan_duration_seconds"):
                    expected += ["# HELP tsextool_deadline_reached 1 when the run's deadline "
                                 "(--timeout) cut the device queries: the devices without "
                                 "answers count as unknown.",
                                 "# TYPE tsextool_deadline_reached gauge",
                                 "tsextool_deadline_reached 1"]
            lines = [l for l in got.splitlines()
                     if not l.startswith("tsextool_scan_duration_seconds ")]
            if lines != expected:
                problems.append("textfile differs:\n" + diff("\n".join(expected) + "\n",
                                                            "\n".join(lines) + "\n"))
            return problems
        return check

    # ---- the cases ----

    def run(self):
        hung_nodes = ["/dev/dm-0", "/dev/sdb"]
        self.case("table_check_status", "hung", "tsexTool", ["check", "status"],
                  self.table(2))
        self.case("table_show_path", "hung", "tsexTool", ["show", "path"], self.table(2))
        self.case("json_show_vlun", "hung", "tsexTool", ["--json", "show", "vlun"],
                  self.json_form(hung_nodes, "status", "tsexTool.schema.json"))
        self.case("nagios", "hung", "tsexTool", ["--nagios", "check", "status"],
                  self.nagios(hung_nodes), deadline=("-t", DEADLINE))
        textfile = os.path.join(self.args.work, "san.prom")
        with open(textfile, "w") as f:
            f.write("stale\n")
        self.case("prometheus_textfile", "hung", "tsexTool",
                  ["--prometheus", "--textfile", textfile, "check", "status"],
                  self.prometheus("/dev/sdb", textfile), reference=False)
        self.case("showdisk_table", "hung", "ts_showdisk", [], self.table(2))
        self.case("showdisk_json", "hung", "ts_showdisk", ["--json"],
                  self.json_form(hung_nodes, "path_status", "ts_showdisk.schema.json"))
        self.case("esxi_table", "esxi_hung", "ts_showdisk-esxi", [], self.table(1))
        self.case("lost_map_check_status", "lost", "tsexTool", ["check", "status"],
                  self.table(1))
        self.case("lost_map_showdisk", "lost", "ts_showdisk", [], self.table(1))
        # Nothing is known of the host: no performance data.
        nagios_missing = "SAN CRITICAL - deadline of 1 s reached before the listing arrived\n"
        self.case("hung_listing_nagios", "hang", "tsexTool", ["--nagios", "check", "status"],
                  self.alone(nagios_missing, 2), deadline=("-t", "1"), held=False)
        self.case("hung_listing_show_vlun", "hang", "tsexTool", ["show", "vlun"],
                  self.alone(MISSING_LINE, 1), deadline=("--timeout", "1"), held=False)
        self.case("hung_listing_json", "hang", "tsexTool", ["--json", "check", "status"],
                  self.json_missing("tsexTool.schema.json"), deadline=("--timeout", "1"),
                  held=False)
        self.case("hung_listing_showdisk_json", "hang", "ts_showdisk", ["--json"],
                  self.json_missing("ts_showdisk.schema.json"), deadline=("--timeout", "1"),
                  held=False)
        self.case("hung_listing_showdisk", "hang", "ts_showdisk", [],
                  self.alone(MISSING_LINE, 1), deadline=("--timeout", "1"), held=False)
        self.case("hung_listing_esxi", "esxi_hang", "ts_showdisk-esxi", [],
                  self.alone(MISSING_LINE, 1), deadline=("--timeout", "1"), held=False)
        self.case("hung_probe_esxi", "esxi_probe_hang", "ts_showdisk-esxi", [],
                  self.alone(MISSING_LINE, 1), deadline=("--timeout", "1"), held=False)
        self.reader_end_of_file()
        print("%d failed" % self.failures)
        return 1 if self.failures else 0

    def reader_end_of_file(self):
        """The program's reader sees the end of its output before a hung
        command could end: a command it starts afterwards comes first."""
        name = "reader_end_of_file"
        if not re.search(self.args.only, name):
            return
        audit = os.path.join(self.args.work, name + ".audit")
        script = ('"$1" --timeout 2 check status | cat >/dev/null; '
                  '"$1" show device sdc >/dev/null')
        out, status, err = self.sansim(self.hosts["hung"][0],
                                       ["sh", "-c", script, "sh", self.args.tsextool], audit)
        problems = [] if status == 0 and not err else ["status %d, stderr %r" % (status, err)]
        with open(audit) as log:
            starts = [int(m.group(1)) for m in
                      (re.match(r"^scsi /dev/sdc .*start_us=(\d+)", l) for l in log) if m]
        if not starts or starts[-1] >= HUNG_US:
            problems.append("the command after the reader's end of file started at %r" %
                            (starts[-1:] or None))
        self.report(name, problems, out)


def same_but_statuses(want, got, nodes, key, where):
    """Differences between two documents other than the status (key) of an
    object for a node not checked, which must be "unknown"."""
    if isinstance(want, dict) and isinstance(got, dict):
        problems = []
        if set(want) != set(got):
            return ["%s: members %s, not %s" % (where, sorted(got), sorted(want))]
        node = next((got[k] for k in ("path", "device", "vlun") if isinstance(got.get(k), str)
                     and got.get(k) in nodes), None)
        for k in want:
            if k == key and node is not None and "path" in got and got["path"] == node:
                if got[k] != "unknown":
                    problems.append("%s.%s: %r for a node not checked" % (where, k, got[k]))
                continue
            problems += same_but_statuses(want[k], got[k], nodes, key, "%s.%s" % (where, k))
        return problems
    if isinstance(want, list) and isinstance(got, list):
        if len(want) != len(got):
            return ["%s: %d items, not %d" % (where, len(got), len(want))]
        problems = []
        for i, (w, g) in enumerate(zip(want, got)):
            problems += same_but_statuses(w, g, nodes, key, "%s[%d]" % (where, i))
        return problems
    return [] if want == got else ["%s: %r, not %r" % (where, got, want)]


def diff(expected, got):
    import difflib
    return "".join(difflib.unified_diff(expected.splitlines(True), got.splitlines(True),
                                        "expected", "got", n=1))


if __name__ == "__main__":
    sys.exit(main())
