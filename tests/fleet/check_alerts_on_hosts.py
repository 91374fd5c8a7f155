#!/usr/bin/env python3
"""The shipped alert rules under `promtool test rules`, fed with what
tsexTool --prometheus wrote on simulated hosts.

    check_alerts_on_hosts.py --sansim SANSIM --program TSEXTOOL --source SRC --work WORK

Each host of HOSTS runs `tsexTool --timeout 2 --prometheus check status`
once; its samples become promtool input series, as the node exporter's
scrape of the textfile gives them (with instance and job labels), held
for half an hour. A promtool test file is generated with one group per
host and run:

- at 4 minutes (inside the first run's five minutes) no alert fires: one
  reading does not page;
- at 30 minutes exactly the alerts that derive.py works out from the
  expanded host (`sansim expand`) fire, with their labels and their
  annotations rendered from the rule's templates (each naming the
  instance, and the path, physical path or vlun where the alert has one);
  none on the healthy host;
- flapping: a host whose every second run is one of the faulty readings
  (each in view for six minutes: its run, then the next run's time and the
  scrape) pages nothing in an hour;
- the textfile's age: node_textfile_mtime_seconds with the labels that
  Debian's node exporter really gives the file tsexTool --textfile wrote,
  with a job that writes it every five minutes (silent for an hour), that
  stops at 10 minutes (silent while the file is 15 minutes old, firing
  when it is 30 minutes old; also for the older exporters' bare file
  name), and another textfile that stops (silent).

Every alert of the rules file must fire somewhere above, and promtool
must fail the same test with one expected alert taken out. Exit 0 when
every check holds, 1 otherwise, 77 (skipped) without root; promtool, the
node exporter, prometheus_client or PyYAML missing is a failure.
"""

import argparse
import copy
import json
import os
import re
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "monitor"))
sys.path.insert(0, HERE)
from check_exporter import samples, scrape  # noqa: E402
from hostrun import HostRun, expand  # noqa: E402
import derive  # noqa: E402

SKIP = 77
PROMTOOL = "/usr/bin/promtool"
EXPORTER = "/usr/bin/prometheus-node-exporter"
RULES = "packaging/prometheus/tskit-alerts.yml"
# The healthy host first; the others each hold what some alert is for.
HOSTS = (("healthy", "sim/topologies/demo.json"),
         ("degraded_fc", "sim/topologies/degraded_fc.json"),
         ("outage", "tests/fleet/hosts/outage.json"),
         ("hung_path", "tests/fleet/hosts/hung_path_timed.json"),
         ("cannot_start", "tests/e2e/hosts/alarm_cannot_start.json"),
         ("list_fails", "tests/e2e/hosts/list_fails.json"))
JOB = "node"
RUN_MINUTES = 5  # how often the package's timer rewrites the textfile
HELD_MINUTES = 30
EARLY_MINUTE = 4
FLAP_MINUTES = 60
# The labels that name what an alert is about: a summary names the first
# of them that the alert has (but the file), a description all.
SUBJECTS = ("device", "hct", "vlun", "file")


def instance(host):
    return host + ":9100"


def escape(value):
    return value.replace("\\", "\\\\").replace("\"", "\\\"").replace("\n", "\\n")


def series_name(name, labels):
    return "%s{%s}" % (name, ",".join('%s="%s"' % (k, escape(v))
                                      for k, v in sorted(labels.items())))


# The samples of a --prometheus text, (name, labels) -> value, and the node
# exporter's page, as the textfile checks read them.
recorded_samples = samples


def timeline(readings, host):
    """input_series of host from one reading per minute (samples as
    recorded_samples gives them), with the labels that the scrape of the
    node exporter adds; a series missing from a scrape after being in the
    one before gets a staleness marker, as Prometheus writes it."""
    keys = sorted({key for reading in readings for key in reading})
    series = []
    for key in keys:
        values, before = [], False
        for reading in readings:
            if key in reading:
                values.append(repr(float(reading[key])))
                before = True
            else:
                values.append("stale" if before else "_")
                before = False
        name, labels = key
        series.append({"series": series_name(name, dict(labels, instance=instance(host),
                                                        job=JOB)),
                       "values": " ".join(values)})
    return series


def mtime_series(labels, minutes, stop=None):
    """node_textfile_mtime_seconds of a file that a job rewrites every run,
    until the minute stop."""
    values = []
    for minute in range(minutes + 1):
        written = minute if stop is None else min(minute, stop)
        values.append(str(written // RUN_MINUTES * RUN_MINUTES * 60))
    return {"series": series_name("node_textfile_mtime_seconds", labels),
            "values": " ".join(values)}


TEMPLATE = re.compile(r"\{\{\s*(\$labels\.(\w+)|\$value)\s*\}\}")


def render(template, labels, value):
    """The rule's annotation as Prometheus expands it, for the templates the
    rules file uses: $labels.NAME and $value."""
    def one(match):
        if match.group(2):
            return labels.get(match.group(2), "")
        return str(int(value)) if float(value).is_integer() else repr(float(value))
    text = TEMPLATE.sub(one, template)
    if "{{" in text:
        raise ValueError("a template the test cannot expand: %r" % template)
    return text


class Rules:
    def __init__(self, path):
        import yaml
        with open(path) as f:
            document = yaml.safe_load(f)
        self.rules = {rule["alert"]: rule for group in document["groups"]
                      for rule in group["rules"] if "alert" in rule}

    def expected(self, alertname, labels, value):
        rule = self.rules[alertname]
        labels = dict(labels, **rule.get("labels", {}))
        return {"exp_labels": labels,
                "exp_annotations": {k: render(v, labels, value)
                                    for k, v in rule.get("annotations", {}).items()}}

    def cases(self, minute, firing):
        """One alert_rule_test for every alert of the file at minute: those
        of firing (alertname -> expected alerts) and none of the others."""
        return [{"eval_time": "%dm" % minute, "alertname": name,
                 "exp_alerts": firing.get(name, [])} for name in sorted(self.rules)]


class Checker:
    def __init__(self, args):
        self.args = args
        self.rules_path = os.path.abspath(os.path.join(args.source, RULES))
        self.rules = Rules(self.rules_path)
        self.failures = []
        self.fired = set()

    def fail(self, text):
        self.failures.append(text)

    def record(self, name, topology, textfile=None):
        run = HostRun(self.args.sansim, os.path.join(self.args.source, topology),
                      os.path.join(self.args.work, "hosts", name))
        command = run.add([self.args.program, "--timeout", "2", "--prometheus",
                           "check", "status"])
        written = None
        if textfile:
            written = run.add([self.args.program, "--timeout", "2", "--textfile", textfile,
                               "check", "status"])
        run.run()
        for done in (command, written):
            if done is not None and done.stderr:
                self.fail("%s: %s wrote on standard error: %r" % (name, done.words(),
                                                                  done.stderr[:200]))
        return recorded_samples(command.stdout.decode("latin-1"))

    def host_group(self, name, topology, samples, mtime_labels):
        model = derive.Host(expand(self.args.sansim, os.path.join(self.args.source, topology)),
                            instance(name), JOB)
        firing = {}
        for alertname, labels, value in model.alerts():
            expected = self.rules.expected(alertname, labels, value)
            firing.setdefault(alertname, []).append(expected)
            self.fired.add(alertname)
            self.names_subject(name, alertname, expected)
        if name == "healthy" and firing:
            self.fail("the model fires %s on the healthy host" % sorted(firing))
        series = timeline([samples] * (HELD_MINUTES + 1), name)
        series.append(mtime_series(dict(mtime_labels, instance=instance(name), job=JOB),
                                   HELD_MINUTES))
        return {"name": name, "interval": "1m", "input_series": series,
                "alert_rule_test": self.rules.cases(EARLY_MINUTE, {}) +
                self.rules.cases(HELD_MINUTES, firing)}

    def names_subject(self, host, alertname, expected):
        """Summary and description name the instance; the description names
        every path, physical path, vlun or file of the alert's labels, the
        summary at least one."""
        labels = expected["exp_labels"]
        subjects = [labels[k] for k in SUBJECTS if k in labels]
        annotations = expected["exp_annotations"]
        wanted = {"summary": [labels["instance"]] + [w for w in subjects[:1]
                                                     if w != labels.get("file")],
                  "description": [labels["instance"]] + subjects}
        for key, words in wanted.items():
            for word in words:
                if word not in annotations.get(key, ""):
                    self.fail("%s on %s: the %s %r does not name %s" %
                              (alertname, host, key, annotations.get(key), word))

    def flap_group(self, recordings, mtime_labels):
        """Each faulty reading in turn, between healthy ones: nothing pages. A
        reading stays in view for a run and a minute more (the next run's
        own time and the scrape that finds its file)."""
        healthy = dict(recordings)["healthy"]
        readings = []
        for name, samples in recordings * 2:
            if name != "healthy":
                readings += [samples] * (RUN_MINUTES + 1) + [healthy] * (RUN_MINUTES - 1)
        readings = readings[:FLAP_MINUTES + 1]
        series = timeline(readings, "flapping")
        series.append(mtime_series(dict(mtime_labels, instance=instance("flapping"), job=JOB),
                                   FLAP_MINUTES))
        cases = []
        for minute in range(1, FLAP_MINUTES + 1):
            cases += self.rules.cases(minute, {})
        return {"name": "flapping", "interval": "1m", "input_series": series,
                "alert_rule_test": cases}

    def stale_group(self, mtime_labels):
        stop = 10
        file_label = mtime_labels["file"]
        hosts = {"fresh": (file_label, None), "stopped": (file_label, stop),
                 "stopped_bare_name": (os.path.basename(file_label), stop),
                 "other_textfile": (os.path.join(os.path.dirname(file_label), "other.prom"),
                                    stop)}
        series = [mtime_series({"file": f, "instance": instance(h), "job": JOB}, FLAP_MINUTES,
                               s) for h, (f, s) in hosts.items()]

        stopped = [self.rules.expected("TsexToolMetricsStale",
                                       {"file": hosts[h][0], "instance": instance(h), "job": JOB},
                                       0) for h in ("stopped", "stopped_bare_name")]
        self.fired.add("TsexToolMetricsStale")
        for expected in stopped:
            self.names_subject("textfile_age", "TsexToolMetricsStale", expected)
        # 15 minutes old (three runs): not yet; 30 and 50 minutes old: stale.
        cases = [{"eval_time": "%dm" % minute, "alertname": "TsexToolMetricsStale",
                  "exp_alerts": firing}
                 for minute, firing in ((stop + 3 * RUN_MINUTES, []),
                                        (stop + 6 * RUN_MINUTES, stopped),
                                        (FLAP_MINUTES, stopped))]
        return {"name": "textfile_age", "interval": "1m", "input_series": series,
                "alert_rule_test": cases}

    def promtool_test(self, document, name):
        path = os.path.join(self.args.work, name)
        with open(path, "w") as f:
            json.dump(document, f, indent=1)
        done = subprocess.run([PROMTOOL, "test", "rules", path], stdout=subprocess.PIPE,
                              stderr=subprocess.STDOUT)
        return done.returncode, done.stdout.decode("latin-1")

    def run(self):
        textfile_dir = os.path.join(self.args.work, "textfile")
        os.makedirs(textfile_dir)
        textfile = os.path.join(textfile_dir, "tsextool.prom")
        recordings = []
        for number, (name, topology) in enumerate(HOSTS):
            recordings.append((name, self.record(name, topology, textfile if number == 0
                                                 else None)))
        mtime_labels = scraped_mtime_labels(textfile_dir)
        if mtime_labels is None:
            self.fail("the node exporter served no node_textfile_mtime_seconds for %s" %
                      textfile)
            return self.report()
        groups = [self.host_group(name, topology, samples, mtime_labels)
                  for (name, topology), (_, samples) in zip(HOSTS, recordings)]
        groups.append(self.flap_group(recordings, mtime_labels))
        groups.append(self.stale_group(mtime_labels))
        never = sorted(set(self.rules.rules) - self.fired)
        if never:
            self.fail("alerts that fire on no host here: %s" % ", ".join(never))
        document = {"rule_files": [self.rules_path], "evaluation_interval": "1m",
                    "tests": groups}
        status, said = self.promtool_test(document, "alerts_test.json")
        if status != 0 or "WARNING" in said:
            self.fail("promtool test rules exits %d:\n%s" % (status, said))
        # The same test less one alert that fires on the outage host must fail.
        broken = copy.deepcopy(document)
        outage = next(g for g in broken["tests"] if g["name"] == "outage")
        case = next(c for c in outage["alert_rule_test"]
                    if c["eval_time"] == "%dm" % HELD_MINUTES and c["exp_alerts"])
        case["exp_alerts"].pop()
        status, said = self.promtool_test(broken, "alerts_test_broken.json")
        if status == 0 or case["alertname"] not in said:
            self.fail("promtool passes a test without one alert of %s (exit %d)" %
                      (case["alertname"], status))
        return self.report(sum(len(g["alert_rule_test"]) for g in groups))

    def report(self, cases=0):
        for failure in self.failures:
            print("FAIL: " + failure)
        if self.failures:
            return 1
        print("promtool: %d alert cases on %d recorded hosts, flapping and the textfile's "
              "age pass; every alert fires where its fault is; a test missing one alert "
              "fails" % (cases, len(HOSTS)))
        return 0


def scraped_mtime_labels(folder):
    """The labels of node_textfile_mtime_seconds for the one textfile of
    folder, as the node exporter serves them."""
    page = scrape(folder)
    found = [dict(labels) for (name, labels) in samples(page or "")
             if name == "node_textfile_mtime_seconds"]
    return found[0] if found else None


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "source", "work"):
        parser.add_argument("--" + name, required=True)
    args = parser.parse_args()
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    missing = [p for p in (PROMTOOL, EXPORTER) if not os.access(p, os.X_OK)]
    if missing:
        print("FAIL: %s missing (Debian prometheus, prometheus-node-exporter)" % " ".join(missing))
        return 1
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    return Checker(args).run()


if __name__ == "__main__":
    sys.exit(main())
