#!/usr/bin/env python3
"""The shipped alert rules file as Prometheus loads it.

    check_rules_file.py --rules RULES --work WORK

- `promtool check rules` takes the file and counts every rule of it;
- copies broken in one place each (an expression that does not parse, an
  annotation template that does not parse, a wait that is no duration, a
  rule that is no mapping) are refused, so that the check above can fail;
- one group; every rule an alert with a severity that Alertmanager routes
  (critical or warning), a summary and a description;
- with --timer, the package's timer: the textfile is stale after three of
  its intervals, and every other alert waits two of them or more, so that
  one reading does not page.

Exit 0 when every check holds, 1 otherwise; promtool or PyYAML missing is
a failure.
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

PROMTOOL = "/usr/bin/promtool"
SEVERITIES = ("critical", "warning")


def promtool_check(path):
    done = subprocess.run([PROMTOOL, "check", "rules", path], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    return done.returncode, done.stdout.decode("latin-1")


def broken_copies(text):
    """(what is broken, the file's text with it broken), each from one
    replacement of a piece that the shipped file holds."""
    return (("an expression that does not parse",
             text.replace("tsextool_scan_success == 0", "tsextool_scan_success == (0", 1)),
            ("an annotation template that does not parse",
             text.replace("{{ $labels.instance }}", "{{ $labels.instance }", 1)),
            ("a wait that is no duration", text.replace("for: 15m", "for: 15 minutes", 1)),
            ("a rule that is no mapping",
             text.replace("      - alert: TsexToolScanFailed",
                          "      - TsexToolScanFailed\n      - alert: TsexToolScanFailed", 1)))


def seconds(span):
    """A duration of Prometheus ("10m") or systemd ("5min", "60s")."""
    units = {"s": 1, "m": 60, "min": 60, "h": 3600}
    parts = re.findall(r"([0-9]+)\s*(min|[smh])", span)
    if not parts or "".join(n + u for n, u in parts) != re.sub(r"\s", "", span):
        raise ValueError("no duration: %r" % span)
    return sum(int(n) * units[u] for n, u in parts)


def timer_failures(timer, rules):
    """The rules' waits against the interval of the package's timer."""
    with open(timer) as f:
        found = re.findall(r"^OnUnitActiveSec=(.+)$", f.read(), re.M)
    if len(found) != 1:
        return ["%s: no one OnUnitActiveSec" % timer]
    interval = seconds(found[0])
    failures = []
    for rule in rules:
        name = rule.get("alert")
        if name == "TsexToolMetricsStale":
            limit = re.search(r">\s*([0-9]+)\s*$", rule.get("expr", ""))
            if not limit or int(limit.group(1)) != 3 * interval:
                failures.append("%s: stale after %s s, not three timer intervals (%d s)" %
                                (name, limit.group(1) if limit else "?", 3 * interval))
        elif seconds(rule.get("for", "0s")) < 2 * interval:
            failures.append("%s: waits %s, less than two timer intervals" %
                            (name, rule.get("for")))
    return failures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--rules", required=True)
    parser.add_argument("--work", required=True)
    parser.add_argument("--timer", help="the package's timer unit")
    args = parser.parse_args()
    if not os.access(PROMTOOL, os.X_OK):
        print("FAIL: %s missing (Debian prometheus)" % PROMTOOL)
        return 1
    import yaml
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failures = []
    with open(args.rules) as f:
        text = f.read()
    document = yaml.safe_load(text)
    groups = document.get("groups", [])
    rules = [rule for group in groups for rule in group.get("rules", [])]
    status, said = promtool_check(args.rules)
    if status != 0 or "SUCCESS: %d rules found" % len(rules) not in said:
        failures.append("promtool check rules exits %d on the shipped file: %s" %
                        (status, said.strip()))
    for what, broken in broken_copies(text):
        if broken == text:
            failures.append("the shipped file has no place for %s" % what)
            continue
        path = os.path.join(args.work, "broken.yml")
        with open(path, "w") as f:
            f.write(broken)
        status, said = promtool_check(path)
        if status == 0:
            failures.append("promtool check rules takes %s: %s" % (what, said.strip()))
    if len(groups) != 1:
        failures.append("%d groups, not one" % len(groups))
    for rule in rules:
        name = rule.get("alert", rule.get("record"))
        if "alert" not in rule:
            failures.append("%s: not an alert" % name)
        if rule.get("labels", {}).get("severity") not in SEVERITIES:
            failures.append("%s: severity %r" % (name, rule.get("labels", {}).get("severity")))
        for key in ("summary", "description"):
            if not rule.get("annotations", {}).get(key):
                failures.append("%s: no %s" % (name, key))
    if args.timer:
        failures += timer_failures(args.timer, rules)
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    print("promtool takes the %d rules and refuses the %d broken copies" %
          (len(rules), len(broken_copies(text))))
    return 0


if __name__ == "__main__":
    sys.exit(main())
