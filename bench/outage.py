#!/usr/bin/env python3
"""Outage benchmark: the release programs on hosts where a device keeps its
commands, against the least time such a host allows.

    bench/outage.py BUILD_DIR [--hosts a,b,c] [--scale 1]
                    [--serial-scale 0.001] [--only TEXT] [--work DIR]
                    [--json FILE]

During an outage administrators and monitors run these programs, so each must
answer within the floor plus a second. The hosts are generated as
bench/jobs.py generates them (200 us a SCSI command, 50 ms a listing command,
2 HBAs, 4 target ports):

  a  16 LUNs over 4 paths, the first LUN's first path hung (its dm node,
     or on ESXi its node, answers through that path and hangs as well);
  b  1,024 paths, 8 a LUN, every 100th path hung (jobs.py's host);
  c  16 LUNs over 4 paths, the first LUN's map with every path failed and
     dead, queueing (queue_if_no_path): its dm node keeps every SG_IO until
     the process is killed. Linux only: ESXi has no dm maps.

A hung command answers when it times out, 7 s of host time. Each program runs
with the default --jobs and with --jobs 1 (tskit-capture has no --jobs: it
runs once) on the host, and with the default on the same host without the
fault. Host time is accounted from the audit and process logs as jobs.py
accounts it. The default runs take real time (scale 1): a run that meets a
hung device is now about as long as one timeout, and at a smaller scale the
simulator's own handling of a thousand devices, weighed a hundredfold,
would hide the difference. A --jobs 1 run may use a smaller scale, its
account holding at any scale (one command at a time).

The floor: the listing commands' time plus the longest single device's own
command sequence (own_us summed per node), a hung node counting one 7 s
timeout, since no program learns that a device hangs sooner, and a queueing
map's dm node none, since the listing says it has no usable path. The listings and sequences are those of the run
without the fault: the run with it may not end, and the work a fault
provokes is the program's, not the host's. Every run is bounded: a run still
going after max(300 s, 10 x its floor) of host time (--jobs 1: the larger
of 10 x its own floor, every device one after another, and 300 s for each
stalled device it meets) is killed and reported as never; a run that ends is
reported with its time.

For each program and host: the default run's host time, the --jobs 1 run's,
the floor, the limit and whether the default ended within the floor plus 1 s;
the SCSI commands each healthy device received against the run without the
fault (the target: unchanged), and the commands the stalled nodes received
(the audit log holds answered commands only: one still held when the run was
killed is not in it). On host c, what the simulator made of the queueing key:
refused by its loader, answered as if the key were not there, or held.
"""
import argparse
import collections
import json
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import jobs  # noqa: E402  (the generated hosts, the account of a run, the sequences)

HUNG_US = 7_000_000        # a hung command's wait: the block layer's least timeout
SLACK_MS = 1000            # the target: the floor plus a second
# A run is killed after the larger of LIMIT_MS and LIMIT_FLOORS times its
# floor, of host time: above what today's slowest program needs with hung
# paths (ts_showdisk, 35 timeouts of one device one after another), so that
# only a run that would not end, or not for many minutes, is cut.
LIMIT_MS = 300_000
LIMIT_FLOORS = 10
# Real time the program and the simulator's handling take whatever the scale
# (a run counts it one to one): room for it on top of the scaled limit, as a
# multiple of the run without the fault, plus a constant.
WORK_ROOM = 2
WORK_ROOM_S = 1.0
CLEAN_ROOM_S = 60.0        # the run without the fault: a healthy host must end
KILL_GRACE_S = 2.0         # after SIGTERM (sansim hands it to the program), SIGKILL
SMALL_LUNS, SMALL_PATHS = 16, 4
LARGE_PATHS = 1024

HOSTS = {
    # what the host is, its platforms
    "a": (f"one hung path of {SMALL_LUNS * SMALL_PATHS}", ("linux", "esxi")),
    "b": (f"1% of {LARGE_PATHS:,} paths hung", ("linux", "esxi")),
    "c": (f"queueing map, {SMALL_LUNS * SMALL_PATHS} paths", ("linux",)),
}


def hang_first_path(host):
    """Hangs the first LUN's first path (and so the LUN's own node)."""
    host["luns"][0]["paths"][0].setdefault("faults", {})["hung"] = True


def queue_without_paths(host, index=0):
    """Fails every path of one LUN and makes its map queue I/O meanwhile."""
    lun = host["luns"][index]
    lun["queue_if_no_path"] = True
    for path in lun["paths"]:
        path["dm_state"] = "failed"
        path["checker_state"] = "faulty"
        path.setdefault("faults", {})["dead"] = True


FAULTS = {"a": hang_first_path, "b": lambda host: jobs.hang_every(host, jobs.HUNG_EVERY),
          "c": queue_without_paths}


def lun_node(platform, lun):
    """The node a LUN's multipath device answers on."""
    if platform == "esxi":
        return "/dev/disks/naa." + lun["wwid"][1:]
    return "/dev/" + lun["dm"]


def path_node(platform, path):
    """A path's own node; an ESXi host has none."""
    if platform == "esxi" or not path.get("sd"):
        return None
    return "/dev/" + path["sd"]


def current_path(lun):
    """The path a LUN's node answers through: its first listed active one."""
    return next((p for p in lun["paths"] if p.get("dm_state", "active") == "active"), None)


def stalled_nodes(host):
    """The nodes of HOST that keep a command: node -> "hung" or "queueing"."""
    platform = host.get("platform", "linux")
    stalled = {}
    for lun in host["luns"]:
        for path in lun["paths"]:
            node = path_node(platform, path)
            if node and path.get("faults", {}).get("hung"):
                stalled[node] = "hung"
        current = current_path(lun)
        if current is None:
            if platform == "linux" and lun.get("queue_if_no_path"):
                stalled[lun_node(platform, lun)] = "queueing"
        elif current.get("faults", {}).get("hung"):
            stalled[lun_node(platform, lun)] = "hung"
    return stalled


def faulty_nodes(host):
    """Every node of HOST that does not answer as a healthy one: a path with
    a fault or listed failed, a LUN node without a current path or answering
    through a faulty one, or with faults of its own."""
    platform = host.get("platform", "linux")
    faulty = set(stalled_nodes(host))
    for lun in host["luns"]:
        for path in lun["paths"]:
            node = path_node(platform, path)
            if node and (path.get("faults") or path.get("dm_state", "active") != "active"):
                faulty.add(node)
        current = current_path(lun)
        if current is None or current.get("faults") or lun.get("dm_faults"):
            faulty.add(lun_node(platform, lun))
    return faulty


def device_sequences_us(sequences, stalled):
    """Each node's own command sequence: a hung node's is one timeout, since
    no program learns sooner that it hangs; a queueing map's is none, since
    the listing the run reads already says it has no usable path."""
    def own(node, us):
        why = stalled.get(node)
        return HUNG_US if why == "hung" else 0 if why == "queueing" else us
    return {node: own(node, us) for node, us in sequences.items()}


def floor_ms(listing_ms, sequences, stalled):
    """The listings plus the longest single device's sequence: no order of
    queries ends sooner."""
    return listing_ms + max(device_sequences_us(sequences, stalled).values(), default=0) / 1000


def serial_floor_ms(listing_ms, sequences, stalled):
    """The listings plus every device's sequence, one after another."""
    return listing_ms + sum(device_sequences_us(sequences, stalled).values()) / 1000


def limit_ms(floor):
    """How long a default run may take."""
    return max(LIMIT_MS, LIMIT_FLOORS * floor)


def serial_limit_ms(listing_ms, sequences, stalled):
    """How long a --jobs 1 run may take: ten times its own floor, and at
    least a default run's limit for each stalled device it meets, since it
    meets them one after another."""
    met = sum(1 for node in sequences if node in stalled)
    return max(LIMIT_MS * max(1, met),
               LIMIT_FLOORS * serial_floor_ms(listing_ms, sequences, stalled))


def real_limit_s(limit, host_scale, clean_real_s):
    """The real time after which a run at HOST_SCALE has spent more than LIMIT
    ms of host time: the limit scaled, plus room for the real work."""
    return limit / 1000 * host_scale + WORK_ROOM * clean_real_s + WORK_ROOM_S


def command_counts(found):
    """SCSI commands per node of jobs.commands' list."""
    return collections.Counter(node for node, *_ in found)


def healthy_changes(counts, clean_counts, faulty):
    """The healthy nodes (those of either run but FAULTY) and the ones whose
    command count differs from the run without the fault: (node, without,
    with)."""
    healthy = sorted((set(clean_counts) | set(counts)) - set(faulty))
    changed = [(n, clean_counts.get(n, 0), counts.get(n, 0)) for n in healthy
               if clean_counts.get(n, 0) != counts.get(n, 0)]
    return healthy, changed


def queue_state(found, opened, stalled, ended):
    """What the simulator made of the queueing maps' nodes in one run: a
    text, and whether a map answered (the simulator does not queue, so the
    run says nothing of one that does)."""
    states, answered_any = [], False
    for node in sorted(n for n, why in stalled.items() if why == "queueing"):
        answered = sum(1 for n, *_, own_us in found if n == node and own_us < HUNG_US)
        answered_any = answered_any or answered > 0
        if answered:
            states.append(f"{node} answered {answered} commands: the map does not queue")
        elif not ended:
            states.append(f"{node} held the program until the kill")
        elif node in opened:
            states.append(f"{node} opened, no command answered")
        else:
            states.append(f"{node} not opened")
    return "; ".join(states), answered_any


def opened_nodes(audit):
    """The nodes an audit log shows opened."""
    if not os.path.exists(audit):
        return set()
    with open(audit) as log:
        return {words[1] for words in map(str.split, log) if len(words) > 1 and
                words[0] == "open"}


def changes_summary(changed, shown=3):
    """The healthy nodes whose count changed, short: how many got fewer
    commands and how many more, and the first few."""
    fewer = sum(1 for _, without, with_fault in changed if with_fault < without)
    first = ", ".join(f"{n} {a}->{b}" for n, a, b in changed[:shown])
    rest = ", ..." if len(changed) > shown else ""
    return (f"without -> with the fault: {fewer} fewer, {len(changed) - fewer} more "
            f"({first}{rest})")


def stalled_summary(counts, stalled):
    """The commands the stalled nodes received, short."""
    nodes = sorted(stalled)
    if not nodes:
        return "-"
    if len(nodes) <= 2:
        return ", ".join(f"{n} {counts.get(n, 0)}" for n in nodes)
    values = [counts.get(n, 0) for n in nodes]
    each = f"{min(values)}" if min(values) == max(values) else f"{min(values)}-{max(values)}"
    return f"{len(nodes)} nodes, {each} each ({sum(values)})"


def seconds(ms, unit=""):
    return "never" if ms is None else f"{ms / 1000:.2f}{unit}"


def verdict(ok):
    return "n/a" if ok is None else "PASS" if ok else "FAIL"


def host_file(work, platform, key, host_scale, faulty):
    """The host file of host KEY, with its fault or without, at HOST_SCALE."""
    if key == "b" and faulty:
        return jobs.generate(work, platform, LARGE_PATHS, host_scale)
    luns, per_lun = jobs.scale.host_shape(LARGE_PATHS) if key == "b" else \
        (SMALL_LUNS, SMALL_PATHS)
    name = os.path.join(work, f"outage-{platform}-{luns}x{per_lun}-{host_scale}-"
                              f"{key if faulty else 'clean'}.json")
    if not os.path.exists(name):
        host = jobs.generated_host(platform, luns, per_lun, host_scale)
        if faulty:
            FAULTS[key](host)
        with open(name, "w") as out:
            json.dump(host, out)
    return name


def refusal(build, host):
    """The simulator's complaint about a host it will not load, or None."""
    done = subprocess.run([os.path.join(build, "sim", "sansim"), "expand", host],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, text=True)
    if done.returncode == 0:
        return None
    # "sansim: FILE: where: what": the file is the caller's own.
    text = done.stderr.strip()
    prefix = f"sansim: {host}: "
    return (text[len(prefix):] if text.startswith(prefix) else text) or \
        f"status {done.returncode}"


def launch(build, work, tag, host, command, limit_s):
    """Runs COMMAND on HOST, killed after LIMIT_S real seconds."""
    audit = os.path.join(work, f"outage-{tag}.audit")
    proclog = os.path.join(work, f"outage-{tag}.proc")
    for log in (audit, proclog):
        if os.path.exists(log):
            os.remove(log)
    start = time.monotonic()
    proc = subprocess.Popen([os.path.join(build, "sim", "sansim"), "run", host, "--audit", audit,
                             "--proclog", proclog, "--"] + command, stdout=subprocess.DEVNULL,
                            stderr=subprocess.PIPE, text=True, start_new_session=True)
    ended = True
    try:
        _, err = proc.communicate(timeout=limit_s)
    except subprocess.TimeoutExpired:
        ended = False
        proc.send_signal(signal.SIGTERM)
        try:
            _, err = proc.communicate(timeout=KILL_GRACE_S)
        except subprocess.TimeoutExpired:
            # sansim leads the session it was started in: its group is ours.
            try:
                os.killpg(proc.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            _, err = proc.communicate()
    return {"ended": ended, "status": proc.returncode, "stderr": err.strip()[-400:],
            "real_s": time.monotonic() - start, "limit_real_s": limit_s,
            "audit": audit, "proclog": proclog}


def measure(build, work, tag, host, command, host_scale, jobs_n, limit_s):
    """One bounded run and what its logs say: host time (None: never),
    the commands of its audit log, and for an ended run jobs.py's account."""
    run = launch(build, work, tag, host, command, limit_s)
    found = jobs.commands(run["audit"], host_scale) if os.path.exists(run["audit"]) else []
    run["host_ms"] = None
    if run["ended"]:
        try:
            run.update(jobs.account(run["audit"], run["proclog"], command, host_scale, jobs_n))
        except (StopIteration, OSError):
            run["note"] = f"no process record of the program (status {run['status']})"
    run["counts"] = command_counts(found)
    run["found"] = found
    return run


def programs(build, work):
    tool = os.path.join(build, "tool", "tsexTool")
    return [
        # name, tag of its logs, platform, command, whether it takes --jobs
        ("tsexTool check status", "check", "linux", [tool, "check", "status"], True),
        ("tsexTool --nagios check status", "nagios", "linux",
         [tool, "--nagios", "check", "status"], True),
        ("ts_showdisk (Linux)", "showdisk", "linux",
         [os.path.join(build, "showdisk", "ts_showdisk")], True),
        ("ts_showdisk (ESXi)", "showdisk-esxi", "esxi",
         [os.path.join(build, "showdisk", "ts_showdisk-esxi")], True),
        ("tskit-capture FILE", "capture", "linux",
         [os.path.join(build, "capture", "tskit-capture"),
          os.path.join(work, "outage-capture.json")], False),
    ]


class Bench:
    """One benchmark run: where it runs, and what its hosts share (the
    simulator's verdict on each host file, the runs without the fault)."""

    def __init__(self, build, work, host_scale, serial_scale):
        self.build, self.work = build, work
        self.scale, self.serial_scale = host_scale, serial_scale
        self.refusals, self.clean_runs = {}, {}

    def refusal(self, host):
        if host not in self.refusals:
            self.refusals[host] = refusal(self.build, host)
        return self.refusals[host]

    def clean_run(self, tag, host, command):
        """The default run on HOST without its fault (one for each program
        and host file: hosts a and c share theirs)."""
        if (tag, host) not in self.clean_runs:
            self.clean_runs[(tag, host)] = measure(
                self.build, self.work, f"{tag}-clean-{os.path.basename(host)[:-5]}", host, command,
                self.scale, jobs.DEFAULT_JOBS, LIMIT_MS / 1000 * self.scale + CLEAN_ROOM_S)
        return self.clean_runs[(tag, host)]

    def host(self, name, tag, platform, command, has_jobs, key):
        """Runs one program on host KEY: (the row's figures, its printed
        lines, its targets as (PASS, text) with None for not run)."""
        label = f"{key} {HOSTS[key][0]}"
        host = host_file(self.work, platform, key, self.scale, True)
        refused = self.refusal(host)
        if refused:
            return ({"refused": refused}, [f"{label:<34} refused by the simulator: {refused}"],
                    [(None, f"{name}, host {key}: not run, the simulator refuses the host "
                            f"({refused})")])
        with open(host) as f:
            topo = json.load(f)
        stalled, faulty = stalled_nodes(topo), faulty_nodes(topo)
        clean = self.clean_run(tag, host_file(self.work, platform, key, self.scale, False),
                               command)
        if clean["host_ms"] is None:
            return ({"clean": {k: clean[k] for k in ("ended", "status", "stderr")}},
                    [f"{label:<34} the run without the fault did not end "
                     f"({clean.get('note', 'killed')})"],
                    [(False, f"{name}, host {key}: the run without the fault did not end")])
        sequences = jobs.own_sequences_us(clean["found"])
        floor = floor_ms(clean["listing_ms"], sequences, stalled)
        limit = limit_ms(floor)
        default = measure(self.build, self.work, f"{tag}-{key}", host, command, self.scale,
                          jobs.DEFAULT_JOBS, real_limit_s(limit, self.scale, clean["real_s"]))
        serial, serial_limit = None, None
        if has_jobs:
            serial_limit = serial_limit_ms(clean["listing_ms"], sequences, stalled)
            serial = measure(self.build, self.work, f"{tag}-{key}-jobs1",
                             host_file(self.work, platform, key, self.serial_scale, True),
                             [command[0], "--jobs", "1"] + command[1:], self.serial_scale, 1,
                             real_limit_s(serial_limit, self.serial_scale, clean["real_s"]))
        healthy, changed = healthy_changes(default["counts"], clean["counts"], faulty)
        state, unmodelled = queue_state(default["found"], opened_nodes(default["audit"]), stalled,
                                        default["ended"])
        # A map the simulator answered is no queueing map: the run measures
        # nothing of one, either way.
        ok = None if unmodelled else \
            default["host_ms"] is not None and default["host_ms"] <= floor + SLACK_MS
        same = f"{len(healthy) - len(changed)}/{len(healthy)} same"
        lines = [f"{label:<34} {seconds(default['host_ms']):>10} "
                 f"{seconds(serial['host_ms']) if serial else '-':>9} {floor / 1000:>8.2f} "
                 f"{limit / 1000:>8.0f} {verdict(ok):>10}  {same:<20} "
                 f"{stalled_summary(default['counts'], stalled)}"]
        if changed:
            lines.append(f"{'':<34} {changes_summary(changed)}")
        for run, kind in ((default, "default"), (serial, "--jobs 1")):
            if run and run.get("note"):
                lines.append(f"{'':<34} {kind}: {run['note']}")
        if state:
            lines.append(f"{'':<34} queueing map: {state}")

        def figures(run):
            if run is None:
                return None
            keep = ("ended", "status", "real_s", "limit_real_s", "host_ms", "real_ms",
                    "accounted_ms", "schedule_ms", "listing_ms", "note")
            out = {k: run[k] for k in keep if k in run}
            out["stalled_scsi"] = {n: run["counts"].get(n, 0) for n in sorted(stalled)}
            return out

        row = {"host": host, "scale": self.scale, "serial_scale": self.serial_scale,
               "floor_ms": floor, "limit_ms": limit, "serial_limit_ms": serial_limit,
               "within_floor": ok, "default": figures(default), "jobs1": figures(serial),
               "clean_host_ms": clean["host_ms"], "stalled": stalled,
               "healthy_devices": len(healthy), "healthy_changed": changed,
               "queueing": state or None}
        unmeasured = " (not measured: the simulator does not queue)" if unmodelled else ""
        targets = [(ok, f"{name}, host {key}: default {seconds(default['host_ms'], ' s')} <= "
                        f"floor {floor / 1000:.2f} s + 1 s{unmeasured}"),
                   (None if unmodelled else not changed,
                    f"{name}, host {key}: commands to each healthy device unchanged "
                    f"({len(changed)} of {len(healthy)} changed){unmeasured}")]
        return row, lines, targets


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("--hosts", default="a,b,c", help="the hosts to run: a, b, c")
    parser.add_argument("--scale", type=float, default=1,
                        help="the scale of the default runs and the runs without the fault")
    parser.add_argument("--serial-scale", type=float, default=0.001,
                        help="the scale of the --jobs 1 runs")
    parser.add_argument("--work", help="the directory of hosts and logs (BUILD/outage)")
    parser.add_argument("--json", help="also write the figures to this file")
    parser.add_argument("--only", help="the programs whose name holds this text")
    args = parser.parse_args(argv)
    began = time.monotonic()
    keys = [k for k in args.hosts.split(",") if k]
    if not keys or any(k not in HOSTS for k in keys):
        parser.error("--hosts takes a, b and c")
    build = os.path.abspath(args.build)
    work = os.path.abspath(args.work) if args.work else os.path.join(build, "outage")
    os.makedirs(work, exist_ok=True)
    bench = Bench(build, work, args.scale, args.serial_scale)
    results, targets = {}, []
    for name, tag, platform, command, has_jobs in programs(build, work):
        if args.only and args.only not in name:
            continue
        print(f"\n{name}" + ("" if has_jobs else " (no --jobs option: run once)"))
        print(f"  {'host':<34} {'default s':>10} {'jobs 1 s':>9} {'floor s':>8} {'limit s':>8} "
              f"{'<=floor+1s':>10}  {'healthy scsi/dev':<20} stalled nodes: scsi")
        rows = results.setdefault(name, {})
        for key in keys:
            if platform not in HOSTS[key][1]:
                continue
            rows[key], lines, found = bench.host(name, tag, platform, command, has_jobs, key)
            for line in lines:
                print("  " + line)
            targets += found
    print("\nTargets")
    for ok, text in targets:
        print(f"  {verdict(ok):<4}  {text}")
    print(f"\nreal time of the benchmark: {time.monotonic() - began:.1f} s")
    if args.json:
        with open(args.json, "w") as out:
            json.dump({"results": results, "targets": targets}, out, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
