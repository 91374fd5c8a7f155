#!/usr/bin/env python3
"""tsexTool --prometheus as the real clients take it, and a path's series
through its failure and recovery.

    check_exporter.py --sansim SANSIM --program TSEXTOOL --host TOPOLOGY --work WORK

- The host, the host with one path dead (its node answers nothing, the
  listing says "failed faulty"), and the host again: each --prometheus
  check status text passes `promtool check metrics` without a word; the
  path and vlun series (state sets, up gauges, path counts, capacities)
  are the same label sets in the three runs, and the dead path's
  tsextool_path_state is active, failed, active.
- The text of the dead-path run, written with --textfile into a folder that
  Debian's prometheus-node-exporter serves on 127.0.0.1 with its textfile
  collector alone: the scrape says node_textfile_scrape_error 0 and holds
  every tsextool_ sample of the file, labels and value.

Exit 0 when every check holds, 1 otherwise, 77 (skipped) without root;
promtool or the node exporter missing is a failure.
"""

import argparse
import json
import os
import shutil
import socket
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from hostrun import HostRun  # noqa: E402

SKIP = 77
EXPORTER = "/usr/bin/prometheus-node-exporter"
PROMTOOL = "/usr/bin/promtool"


def samples(text):
    from prometheus_client.parser import text_string_to_metric_families
    return {(s.name, tuple(sorted(s.labels.items()))): s.value
            for family in text_string_to_metric_families(text) for s in family.samples}


# The families whose series are a path's or a vlun's, whatever its health.
STABLE = ("tsextool_path_state", "tsextool_path_up", "tsextool_vlun_state",
          "tsextool_vlun_paths", "tsextool_vlun_capacity_bytes")


def identities(found):
    """Every series of the stable families, by its whole label set."""
    return {(name, labels) for (name, labels) in found if name in STABLE}


def path_state(found, device):
    states = [dict(labels)["state"] for (name, labels), value in found.items()
              if name == "tsextool_path_state" and dict(labels)["device"] == device and value == 1]
    return states[0] if len(states) == 1 else states


def dead_overlay(args, lun, path):
    overlay = {"base": os.path.abspath(args.host),
               "comment": "one path dead: no answer, listed failed faulty",
               "luns": {lun: {"paths": {path: {"faults": {"dead": True}, "dm_state": "failed",
                                               "checker_state": "faulty"}}}}}
    name = os.path.join(args.work, "dead.json")
    with open(name, "w") as f:
        json.dump(overlay, f)
    return name


def first_path(args):
    expanded = json.loads(subprocess.run([args.sansim, "expand", args.host], check=True,
                                         stdout=subprocess.PIPE).stdout)
    for lun in expanded["luns"]:
        for path in lun["paths"]:
            return lun["name"], path["sd"]
    raise SystemExit("the host has no path")


def prometheus_text(args, topology, folder, textfile=None):
    host = HostRun(args.sansim, topology, os.path.join(args.work, folder))
    words = [args.program, "--prometheus"] + (["--textfile", textfile] if textfile else [])
    command = host.add(words + ["check", "status"])
    host.run()
    if textfile:
        with open(textfile) as f:
            return command, f.read()
    return command, command.stdout.decode("latin-1")


def promtool_says(text):
    run = subprocess.run([PROMTOOL, "check", "metrics"], input=text.encode(),
                         stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return run.returncode, run.stdout.decode("latin-1").strip()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def scrape(folder):
    """The node exporter's page, with the textfile collector alone on folder."""
    port = free_port()
    exporter = subprocess.Popen([EXPORTER, "--web.listen-address=127.0.0.1:%d" % port,
                                 "--collector.disable-defaults", "--collector.textfile",
                                 "--collector.textfile.directory=" + folder],
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        for _ in range(100):
            try:
                with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % port,
                                            timeout=5) as page:
                    return page.read().decode("latin-1")
            except OSError:
                time.sleep(0.1)
        return None
    finally:
        exporter.kill()
        exporter.wait()


def main():
    parser = argparse.ArgumentParser()
    for name in ("sansim", "program", "host", "work"):
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
    failures = []
    lun, dead = first_path(args)
    served = os.path.join(args.work, "textfiles")
    os.makedirs(served)
    runs = [("healthy", args.host, None),
            ("dead", dead_overlay(args, lun, dead), os.path.join(served, "tsextool.prom")),
            ("recovered", args.host, None)]
    seen = []
    for folder, topology, textfile in runs:
        command, text = prometheus_text(args, topology, folder, textfile)
        if command.status != 0 or command.stderr:
            failures.append("%s: exit %d, standard error %r" % (folder, command.status,
                                                                command.stderr))
        status, said = promtool_says(text)
        if status != 0 or said:
            failures.append("%s: promtool check metrics exits %d: %s" % (folder, status, said))
        seen.append((folder, samples(text), text))
    first = identities(seen[0][1])
    for folder, found, _ in seen[1:]:
        differ = first ^ identities(found)
        if differ:
            failures.append("%s: %d series are not those of the healthy run, e.g. %r" %
                            (folder, len(differ), sorted(differ)[:2]))
    states = [path_state(found, dead) for _, found, _ in seen]
    if states != ["active", "failed", "active"]:
        failures.append("%s through failure and recovery: %r" % (dead, states))
    page = scrape(served)
    if page is None:
        failures.append("the node exporter did not answer on 127.0.0.1")
    else:
        scraped = samples(page)
        if scraped.get(("node_textfile_scrape_error", ())) != 0:
            failures.append("node_textfile_scrape_error is %r" %
                            scraped.get(("node_textfile_scrape_error", ())))
        wanted = {k: v for k, v in seen[1][1].items() if k[0].startswith("tsextool_")}
        lost = [k for k, v in wanted.items() if scraped.get(k) != v]
        if lost:
            failures.append("%d samples of the file are not served as written, e.g. %r" %
                            (len(lost), lost[:3]))
    for failure in failures:
        print("FAIL: " + failure)
    if failures:
        return 1
    print("promtool takes the three texts; %s keeps its series through failure and recovery; "
          "the node exporter serves all %d samples" % (dead, len(seen[1][1])))
    return 0


if __name__ == "__main__":
    sys.exit(main())
