#!/usr/bin/env python3
"""check failover predicts what taking a component down does.

    check_failover.py --sansim S --tsextool T --generator G --work DIR
                      --generate ARGS ...

For every generated host and every component its vluns' active paths go
through (each HBA, fabric, target port and controller that `--json check
redundancy` names), `--json check failover COMPONENT` predicts the vluns that
would lose all active paths and those left with one. The component is then
taken down in the simulated host itself: every path through it, found from
the topology (its HBA number, the HBA's fabric or network portal, its target
port, that port's array and controller), is listed failed and answers
nothing (an overlay on the host). Each host's own runs share one start of
it, and each host a component leaves one start of its own. On that host:

- `--json show path` gives each vlun's active paths: those that had some and
  have none now are exactly the predicted losses, those that had two or more
  and have one now exactly the predicted ones left with one, and each
  predicted remaining path is the one still active;
- `--json check status` raises alarm 14 (all paths abnormal) for exactly the
  vluns without an active path;
- check failover exits 2 when it predicts a loss, else 0; an unknown
  component exits 1 with one line naming the known ones.

Exit 0 when every check holds, 1 otherwise.
"""
import argparse
import json
import os
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from hostrun import HostRun  # noqa: E402


def json_of(command):
    return json.loads(command.stdout)


def active_paths(doc):
    """Each vlun's active paths (/dev/dm-N to a set of /dev/sdX)."""
    found = {}
    for path in doc["paths"]:
        found.setdefault(path["vlun"], set())
        if path["status"] == "active":
            found[path["vlun"]].add(path["path"])
    return found


def components(doc):
    names = []
    for vlun in doc["redundancy"]:
        for key in ("hbas", "fabrics", "target_ports", "controllers"):
            names += [n for n in vlun[key] if n not in names]
    return names


def default_fabric(host):
    port = host["initiator_port"]
    return host.get("fabric_name", "10000005" + port[-8:]).lower().removeprefix("0x")


def through(topo, path, component):
    """Whether a path of the topology goes through the component."""
    host_number = int(path["hctl"].split(":")[0])
    host = next(h for h in topo["scsi_hosts"] if h["number"] == host_number)
    port = next(p for a in topo["arrays"] for p in a["target_ports"]
                if p["id"] == path["target_port"])
    array = next(a for a in topo["arrays"] if port in a["target_ports"])
    fabric = (host.get("ip_address", f"10.0.{host_number}.1")
              if host["driver"].startswith("iscsi") else default_fabric(host))
    return component in (f"host{host_number}", host["initiator_port"].lower(), fabric,
                         port["identifier"].lower(), f"{array['serial']}:{port['controller']}")


def take_down(host, topo, component, out):
    """The host with every path through the component failed and dead, as
    an overlay on it."""
    luns = {}
    for lun in topo["luns"]:
        down = {p["sd"]: {"dm_state": "failed", "checker_state": "faulty",
                          "faults": {"dead": True}}
                for p in lun["paths"] if through(topo, p, component)}
        if down:
            luns[lun["dm"]] = {"paths": down}
    with open(out, "w", encoding="utf-8") as f:
        json.dump({"base": os.path.abspath(host), "luns": luns}, f)


def check_component(args, host, topo, before, component, predicted, work):
    """The prediction for the component against the host it leaves."""
    failures = []
    status, doc = predicted.status, json_of(predicted)
    lost = {v["path"] for v in doc["failover"] if v["loses_all_paths"]}
    one = {v["path"]: {p["path"] for p in v["remaining_paths"]} for v in doc["failover"]
           if not v["loses_all_paths"]}
    if status != (2 if lost else 0) or doc["exit_status"] != status:
        failures.append(f"exit {status} (document {doc['exit_status']}) with losses {sorted(lost)}")
    os.makedirs(work, exist_ok=True)
    down = os.path.join(work, "down.json")
    take_down(host, topo, component, down)
    down_run = HostRun(args.sansim, down, os.path.join(work, "down"))
    paths = down_run.add([args.tsextool, "--json", "show", "path"])
    status_run = down_run.add([args.tsextool, "--json", "check", "status"])
    down_run.run()
    after = active_paths(json_of(paths))
    want_lost = {v for v in before if before[v] and not after[v]}
    want_one = {v for v in before if len(before[v]) > 1 and len(after[v]) == 1}
    if lost != want_lost:
        failures.append(f"predicted losses {sorted(lost)}, the host lost {sorted(want_lost)}")
    if set(one) != want_one:
        failures.append(f"predicted one left {sorted(one)}, the host has {sorted(want_one)}")
    failures += [f"{v}: predicted {sorted(one[v])} left, the host has {sorted(after[v])}"
                 for v in set(one) & want_one if one[v] != after[v]]
    alarms = json_of(status_run)
    dead = {a["subject"]["vlun"] for a in alarms["alarms"] if a["type"] == 14}
    if dead != {v for v in after if not after[v]}:
        failures.append(f"check status: alarm 14 for {sorted(dead)}")
    return [f"{component}: {f}" for f in failures]


def check_host(args, spec, index):
    work = os.path.join(args.work, f"host{index}")
    os.makedirs(work, exist_ok=True)
    host = os.path.join(work, "host.json")
    with open(host, "wb") as out:
        subprocess.run([sys.executable, args.generator] + shlex.split(spec), stdout=out,
                       check=True)
    with open(host, encoding="utf-8") as f:
        topo = json.load(f)
    # The host as it is: its paths, its components, the unknown one.
    on_host = HostRun(args.sansim, host, os.path.join(work, "host"))
    paths = on_host.add([args.tsextool, "--json", "show", "path"])
    redundancy = on_host.add([args.tsextool, "--json", "check", "redundancy"])
    unknown = on_host.add([args.tsextool, "check", "failover", "host99"])
    on_host.run()
    before = active_paths(json_of(paths))
    names = components(json_of(redundancy))
    # Every prediction in one more start of it.
    predictions = {name: on_host.add([args.tsextool, "--json", "check", "failover", name])
                   for name in names}
    on_host.run()
    failures = []
    if not names:
        failures.append("no component found")
    for number, component in enumerate(names):
        failures += check_component(args, host, topo, before, component, predictions[component],
                                    os.path.join(work, f"down{number}"))
    lines = unknown.stdout.decode().splitlines()
    hbas = sorted({f"host{p['hctl'].split(':')[0]}" for lun in topo["luns"] for p in lun["paths"]})
    if unknown.status != 1 or len(lines) != 1 or not lines[0].startswith(
            "Error: unknown component host99. Known HBAs: ") or any(
            h not in lines[0] for h in hbas):
        failures.append(f"host99: exit {unknown.status}, {lines[:2]}")
    print(f"host {index} ({spec}): {len(names)} components, {len(failures)} failures")
    return [f"host {index}: {f}" for f in failures]


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--sansim", "--tsextool", "--generator", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--generate", action="append", default=[])
    args = parser.parse_args(argv)
    failures = []
    for i, spec in enumerate(args.generate):
        failures += check_host(args, spec, i)
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures or not args.generate else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
