#!/usr/bin/env python3
"""The scenarios of the real-kernel stage, run inside the guest (see
run_stage.py): scsi_debug presents two logical units through two SCSI hosts,
udev and dm-multipath make two maps of two paths each, and the kit's
programs run on them, healthy and then under faults applied through sysfs
and dm.

Every expectation comes from the kernel's own view, read before and after
each program call: the maps' tables and statuses (dmsetup), each path's
state in sysfs, vendor and product from sg_inq and the logical unit's NAA
designator from sg_vpd page 0x83. multipathd is not run, so a path that dm
failed stays failed until a scenario reinstates it.

Results go to OUT/results.json; each scenario's capture and the programs'
outputs go to OUT/NAME/.
"""

import argparse
import json
import os
import re
import subprocess
import sys
import time

import guest_iscsi
import guest_slow

CALL_TIMEOUT = 60        # seconds for one program call; a hang fails the check
SETUP_TIMEOUT = 60
VENDOR, PRODUCT = "QELMAR", "VSA1000"
SCSI_DEBUG = ["scsi_debug", "add_host=2", "num_tgts=1", "max_luns=2", "vpd_use_hostno=0",
              # padded to their field widths, as a target answers them
              f'inq_vendor="{VENDOR:<8}"', f'inq_product="{PRODUCT:<16}"']
# The listing's own path checkers give up on a path after checker_timeout
# seconds (by default the SCSI device's timeout, 30 s): a frozen target must
# not hold every listing for that long.
MULTIPATH_CONF = """defaults {
    user_friendly_names no
    find_multipaths no
    checker_timeout 2
}
"""

SCSI_DEBUG_SCENARIOS = ("healthy", "path_offline", "path_deleted", "all_paths_down",
                        "all_paths_down_queueing", "dm_failed")

checks = []
timings = []


def check(name, ok, detail=""):
    checks.append({"name": name, "ok": bool(ok), "detail": "" if ok else detail})
    print(f"{'ok  ' if ok else 'FAIL'} {name}{'' if ok else ': ' + detail}", flush=True)
    return ok


def sh(cmd, timeout=SETUP_TIMEOUT, must=True):
    """A setup or fault command; its failure stops the run."""
    proc = subprocess.run(cmd, shell=True, capture_output=True, text=True, timeout=timeout)
    if must and proc.returncode != 0:
        raise RuntimeError(f"{cmd!r} exited {proc.returncode}: {proc.stdout}{proc.stderr}")
    return proc.stdout


def write(path, text):
    with open(path, "w") as f:
        f.write(text)


# --- the kernel's view -------------------------------------------------------

def sd_of(majmin):
    link = f"/sys/dev/block/{majmin}"
    return os.path.basename(os.path.realpath(link)) if os.path.exists(link) else None


def read(path):
    try:
        with open(path) as f:
            return f.read().strip()
    except OSError:
        return None


def kernel_view():
    """{dm-N: {name, queueing, paths: {sdX or MAJ:MIN: {dm, sysfs, hctl}}}}"""
    view = {}
    for dm in sorted(os.listdir("/sys/block")):
        if not dm.startswith("dm-"):
            continue
        name = read(f"/sys/block/{dm}/dm/name")
        table = sh(f"dmsetup table {name}").split()
        status = sh(f"dmsetup status {name}").split()
        if table[2] != "multipath":
            continue
        nfeat = int(table[3])
        features = table[4:4 + nfeat]
        # status: ... multipath <n> feat... <n> hw... <groups> <init> then per
        # group "E|A|D <n> <nargs> [path A|F <fails> args...]"
        states = dict(re.findall(r"(\d+:\d+) ([AF]) ", " ".join(status[2:]) + " "))
        paths = {}
        for majmin, state in states.items():
            sd = sd_of(majmin)
            key = sd or majmin
            paths[key] = {
                "dm": "active" if state == "A" else "failed",
                "sysfs": read(f"/sys/block/{sd}/device/state") if sd else None,
                "hctl": os.path.basename(os.path.realpath(f"/sys/block/{sd}/device")) if sd else None,
                "exists": sd is not None,
            }
        view[dm] = {"name": name, "queueing": "queue_if_no_path" in features, "paths": paths}
    return view


def path_up(p):
    return p["exists"] and p["dm"] == "active" and p["sysfs"] == "running"


def up_paths(view):
    """The sd nodes of every map that can carry I/O."""
    return {sd for m in view.values() for sd, p in m["paths"].items() if path_up(p)}


def identity(sd):
    """Vendor, product and the logical unit's NAA designator, as sg3-utils
    decode them."""
    inq = sh(f"sg_inq /dev/{sd}")
    vendor = re.search(r"Vendor identification: (.*)", inq).group(1).strip()
    product = re.search(r"Product identification: (.*)", inq).group(1).strip()
    vpd = sh(f"sg_vpd -p 0x83 /dev/{sd}")
    lu = vpd.split("Addressed logical unit:")[1].split("Target port:")[0]
    naa = re.search(r"designator type: NAA.*\n\s+0x([0-9a-f]+)", lu)
    return vendor, product, naa.group(1) if naa else None


def first_designator_naa16(sd):
    """Whether page 0x83's first designator is an NAA one of 16 bytes: the
    only designator whose digits are the LUN's WWN (an array's T10 vendor
    text first, as scsi_debug gives, is no WWN)."""
    raw = subprocess.run(["sg_vpd", "-p", "0x83", "-r", f"/dev/{sd}"], capture_output=True,
                         timeout=SETUP_TIMEOUT).stdout
    return len(raw) >= 8 and raw[5] & 0x0F == 3 and raw[7] == 16


def nagios_truth(view):
    """The state the kernel's view calls for: CRITICAL when a map has no
    usable path, WARNING when a path of a map is down or a map has fewer
    than two usable paths, else OK."""
    state = 0
    for m in view.values():
        up = [p for p in m["paths"].values() if path_up(p)]
        if not up:
            return 2
        if len(up) < len(m["paths"]) or len(up) < 2:
            state = 1
    return state


# --- program calls -------------------------------------------------------------

class Programs:
    def __init__(self, build, out):
        self.bin = {"tsexTool": f"{build}/tool/tsexTool",
                    "ts_showdisk": f"{build}/showdisk/ts_showdisk",
                    "tskit-capture": f"{build}/capture/tskit-capture"}
        self.out = out
        self.recorded = []

    def call(self, scenario, program, words, record=False):
        """Runs one program under its own timeout; a hang, a stray byte on
        standard error, or a crash is a failed check named after the
        scenario and the call. Returns (status, stdout) or (None, "")."""
        label = f"{scenario}/{program} {' '.join(words)}".strip()
        start = time.monotonic()
        try:
            proc = subprocess.run([self.bin[program]] + words, capture_output=True,
                                  timeout=CALL_TIMEOUT)
        except subprocess.TimeoutExpired:
            check(f"{label}/finishes", False, f"no exit within {CALL_TIMEOUT} s")
            return None, ""
        took = time.monotonic() - start
        timings.append(f"{label}: {took:.1f} s")
        check(f"{label}/finishes", proc.returncode >= 0, f"killed by signal {-proc.returncode}")
        check(f"{label}/stderr", proc.stderr == b"", f"standard error: {proc.stderr[:300]!r}")
        if record:
            self.recorded.append({"scenario": scenario, "program": program, "words": words,
                                  "status": proc.returncode,
                                  "stdout": proc.stdout.decode("latin-1")})
        return proc.returncode, proc.stdout.decode("utf-8", "replace")

    def json_call(self, scenario, program, words, record=False):
        status, out = self.call(scenario, program, words, record)
        if status is None:
            return None, None
        label = f"{scenario}/{program} {' '.join(words)}"
        try:
            return status, json.loads(out)
        except ValueError as e:
            check(f"{label}/document", False, f"not JSON ({e}): {out[:200]!r}")
            return status, None


# --- assertions on the documents -----------------------------------------------

def expect_paths(scenario, doc, view, ids):
    """tsexTool --json show path against the kernel's maps and sysfs."""
    label = f"{scenario}/tsexTool --json show path"
    if doc is None:
        return
    rows = {r["path"]: r for r in doc.get("paths", []) if r.get("path")}
    want = {f"/dev/{sd}": (dm, p) for dm, m in view.items()
            for sd, p in m["paths"].items() if p["exists"]}
    check(f"{label}/path set", set(rows) == set(want),
          f"listed {sorted(rows)}, the kernel has {sorted(want)}")
    for path, (dm, p) in sorted(want.items()):
        r = rows.get(path)
        if r is None:
            continue
        state = "active" if path_up(p) else "failed"
        check(f"{label}/{path} status", r["status"] == state,
              f"{r['status']!r}; dm says {p['dm']}, sysfs {p['sysfs']}")
        check(f"{label}/{path} vlun", r["vlun"] == f"/dev/{dm}", f"{r['vlun']!r}, not /dev/{dm}")
        check(f"{label}/{path} hctl", r["hctl"] == p["hctl"], f"{r['hctl']!r}, not {p['hctl']}")


def expect_vluns(scenario, doc, view, ids):
    label = f"{scenario}/tsexTool --json show vlun"
    if doc is None:
        return
    rows = {r["vlun"]: r for r in doc.get("vluns", [])}
    check(f"{label}/vlun set", set(rows) == {f"/dev/{dm}" for dm in view},
          f"listed {sorted(rows)}, the kernel has {sorted(view)}")
    for dm, m in sorted(view.items()):
        r = rows.get(f"/dev/{dm}")
        if r is None:
            continue
        up = [sd for sd, p in m["paths"].items() if path_up(p)]
        if up:
            vendor, product, _ = ids[up[0]]
            got = [row.get("vendor_product") for row in r.get("rows", [])]
            check(f"{label}/{dm} vendor_product", got == [f"{vendor}/{product}"],
                  f"{got!r}, sg_inq says {vendor}/{product}")
        size = int(read(f"/sys/block/{dm}/size")) * 512
        check(f"{label}/{dm} capacity_bytes", r.get("capacity_bytes") == size,
              f"{r.get('capacity_bytes')!r}, sysfs says {size}")


def expect_alarms(scenario, doc, status, view, phypaths=None):
    """Alarm 14 for each map without a usable path, which stands for its
    paths' alarms; where the transport names each path's ports (PHYPATHS:
    the iSCSI sessions, each its initiator and target port and its sd
    nodes), alarm 11 for each port pair whose sessions have no path up,
    which stands for those paths' alarms too; alarm 18 for every other down
    path."""
    label = f"{scenario}/tsexTool --json check status"
    if doc is None:
        return
    down = sorted(f"/dev/{sd}" for m in view.values() for sd, p in m["paths"].items()
                  if p["exists"] and not path_up(p))
    dead = sorted(f"/dev/{dm}" for dm, m in view.items()
                  if not any(path_up(p) for p in m["paths"].values()))
    dead_phy = [ph for ph in phypaths or []
                if ph["sds"] and all(f"/dev/{sd}" in down for sd in ph["sds"])]
    alarms = doc.get("alarms", [])
    alarmed_paths = sorted(a["subject"]["path"] for a in alarms if a["type"] == 18)
    alarmed_vluns = sorted(a["subject"]["vlun"] for a in alarms if a["type"] == 14)
    want_paths = [p for p in down
                  if not any(p[5:] in view[d[5:]]["paths"] for d in dead) and
                  not any(p[5:] in ph["sds"] for ph in dead_phy)]
    check(f"{label}/path alarms", alarmed_paths == want_paths,
          f"alarms for {alarmed_paths}, the kernel has down {want_paths}")
    check(f"{label}/all-paths-down alarms", alarmed_vluns == dead,
          f"alarms for {alarmed_vluns}, the kernel has no usable path in {dead}")
    if phypaths is not None:
        got = sorted((a["subject"]["initiator_port"], a["subject"]["target_port"])
                     for a in alarms if a["type"] == 11)
        want = sorted({(ph["initiatorname"], ph["target_port"]) for ph in dead_phy})
        check(f"{label}/physical path alarms", got == want,
              f"alarms 11 for {got}, the kernel's sessions without a path up: {want}")


def expect_nagios(scenario, status, out, view):
    label = f"{scenario}/tsexTool --nagios check status"
    if status is None:
        return
    want = nagios_truth(view)
    word = ["OK", "WARNING", "CRITICAL"][want]
    check(f"{label}/state", status == want and out.startswith(f"SAN {word}"),
          f"exit {status}, {out.splitlines()[0] if out else ''!r}; the kernel's view calls for {word}")
    down = sum(1 for m in view.values() for p in m["paths"].values()
               if p["exists"] and not path_up(p))
    m = re.search(r" paths_failed=(\d+);", out)
    check(f"{label}/paths_failed", m is not None and int(m.group(1)) == down,
          f"perfdata {m.group(0) if m else 'missing'}, the kernel has {down} down")


def expect_showdisk(scenario, doc, view, ids):
    label = f"{scenario}/ts_showdisk --json"
    if doc is None:
        return
    luns = {l["dev_name"]: l for l in doc.get("luns", [])}
    check(f"{label}/lun set", set(luns) == {f"/dev/{dm}" for dm in view},
          f"listed {sorted(luns)}, the kernel has {sorted(view)}")
    for dm, m in sorted(view.items()):
        lun = luns.get(f"/dev/{dm}")
        if lun is None:
            continue
        paths = {p["path"]: p for p in lun.get("paths", [])}
        want = {f"/dev/{sd}": p for sd, p in m["paths"].items() if p["exists"]}
        check(f"{label}/{dm} path set", set(paths) == set(want),
              f"listed {sorted(paths)}, the kernel has {sorted(want)}")
        for path, p in sorted(want.items()):
            if path in paths:
                state = "active" if path_up(p) else "failed"
                check(f"{label}/{path} path_status", paths[path]["path_status"] == state,
                      f"{paths[path]['path_status']!r}; dm says {p['dm']}, sysfs {p['sysfs']}")
        up = [sd for sd, p in m["paths"].items() if path_up(p)]
        if up and not m["queueing"]:
            vendor, product, naa = ids[up[0]]
            check(f"{label}/{dm} vendor", lun.get("vendor") == vendor,
                  f"{lun.get('vendor')!r}, sg_inq says {vendor!r}")
            want_wwn = naa if first_designator_naa16(up[0]) else None
            check(f"{label}/{dm} wwn", lun.get("wwn") == want_wwn,
                  f"{lun.get('wwn')!r}; page 0x83 names the logical unit {naa!r}, its first "
                  f"designator {'is' if want_wwn else 'is not'} NAA-16")


# --- scenarios ---------------------------------------------------------------

def settle():
    sh("udevadm settle -t 30")


def poke(dm, failed=1):
    """Direct reads through the map, so that dm-multipath tries its paths and
    fails those that cannot carry I/O (multipathd is not there to do it):
    the path selector may send a read down a healthy path, so they go on
    until dm has failed that many paths, or twenty reads."""
    for offset in range(20):
        sh(f"dd if=/dev/{dm} of=/dev/null bs=4096 count=1 skip={offset} iflag=direct",
           must=False, timeout=30)
        name = read(f"/sys/block/{dm}/dm/name").strip()
        if sh(f"dmsetup status {name}", must=False).split().count("F") >= failed:
            return


def fault_forms(progs, scenario, out, view, ids, phypaths=None):
    """The forms a fault changes, and the capture. PHYPATHS as
    expect_alarms takes them."""
    st, doc = progs.json_call(scenario, "tsexTool", ["--json", "show", "path"], record=True)
    expect_paths(scenario, doc, view, ids)
    docs = {"paths": doc}
    st, doc = progs.json_call(scenario, "tsexTool", ["--json", "check", "status"], record=True)
    expect_alarms(scenario, doc, st, view, phypaths)
    st, text = progs.call(scenario, "tsexTool", ["--nagios", "check", "status"], record=True)
    expect_nagios(scenario, st, text, view)
    docs["nagios"] = text
    st, doc = progs.json_call(scenario, "ts_showdisk", ["--json"], record=True)
    expect_showdisk(scenario, doc, view, ids)
    capture = f"{out}/{scenario}.capture.json"
    st, _ = progs.call(scenario, "tskit-capture", [capture])
    if st is not None:
        ok = st == 0 and os.path.exists(capture)
        if ok:
            try:
                with open(capture) as f:
                    json.load(f)
            except ValueError as e:
                ok = False
        check(f"{scenario}/tskit-capture/file", ok, f"exit {st}, capture not a JSON document")
    return docs


def stable_view(scenario):
    """The kernel's view, read twice around a settle so that a scenario does
    not assert against a state still moving."""
    settle()
    before = kernel_view()
    return before


def same_view(scenario, before):
    after = kernel_view()
    check(f"{scenario}/kernel view held", after == before,
          f"the kernel's view changed during the calls: {before} -> {after}")


def scenario_healthy(progs, out, view, ids):
    s = "healthy"
    for words in (["show", "vlun"], ["show", "path"], ["show", "phypath"], ["show", "device"],
                  ["check", "status"]):
        st, _ = progs.call(s, "tsexTool", words, record=True)
        check(f"{s}/tsexTool {' '.join(words)}/exit status", st == 0, f"exit {st}")
    st, doc = progs.json_call(s, "tsexTool", ["--json", "show", "vlun"], record=True)
    expect_vluns(s, doc, view, ids)
    for words in (["show", "phypath"], ["show", "device"]):
        st, doc = progs.json_call(s, "tsexTool", ["--json"] + words)
        check(f"{s}/tsexTool --json {' '.join(words)}/exit status",
              st == 0 and doc is not None and doc.get("exit_status") == 0, f"exit {st}")
    # not recorded for replay: it carries the scan's duration
    st, text = progs.call(s, "tsexTool", ["--prometheus", "check", "status"])
    up = [l for l in text.splitlines() if l.startswith("tsextool_path_up{")]
    want = sum(len(m["paths"]) for m in view.values())
    check(f"{s}/tsexTool --prometheus check status/path_up",
          st == 0 and len(up) == want and all(l.endswith(" 1") for l in up),
          f"exit {st}, {len(up)} tsextool_path_up lines, {want} paths up in the kernel")
    st, text = progs.call(s, "ts_showdisk", [], record=True)
    check(f"{s}/ts_showdisk/rows", st == 0 and all(f"/dev/{dm}" in text for dm in view),
          f"exit {st}, the table misses a map")
    fault_forms(progs, s, out, view, ids)


def run_scenario(progs, out, name, apply, ids_from):
    print(f"=== {name}", flush=True)
    apply()
    view = stable_view(name)
    print(json.dumps(view, sort_keys=True), flush=True)
    fault_forms(progs, name, out, view, ids_from)
    same_view(name, view)


def scsi_debug_scenarios(progs, out, only, t0):
    """Two maps of two scsi_debug paths each: healthy, then the faults in
    turn (later scenarios build on earlier ones)."""
    sh("modprobe " + " ".join(f"'{w}'" for w in SCSI_DEBUG))
    settle()
    sh("multipath -v0")
    settle()
    view = kernel_view()
    release = os.uname().release
    print(f"kernel {release}; maps ready after {time.monotonic() - t0:.1f} s: "
          f"{json.dumps(view, sort_keys=True)}", flush=True)
    timings.append(f"maps ready {float(read('/proc/uptime').split()[0]):.1f} s after boot")
    check("setup/two maps of two paths",
          len(view) == 2 and all(len(m["paths"]) == 2 and
                                 all(path_up(p) for p in m["paths"].values())
                                 for m in view.values()),
          f"the kernel has {view}")
    ids = {sd: identity(sd) for m in view.values() for sd in m["paths"]}
    check("setup/identity", all(v == VENDOR and p == PRODUCT and naa for v, p, naa in ids.values()),
          f"sg_inq and sg_vpd: {ids}")
    (map_a, a), (map_b, b) = sorted(view.items())
    a1, a2 = sorted(a["paths"])
    b1, b2 = sorted(b["paths"])
    majmin = {sd: read(f"/sys/block/{sd}/dev") for sd in ids}

    def state(sd, word):
        write(f"/sys/block/{sd}/device/state", word + "\n")

    def reinstate(m, *sds):
        for sd in sds:
            sh(f"dmsetup message {m['name']} 0 reinstate_path {majmin[sd]}")

    scenarios = [
        ("healthy", None),
        ("path_offline", lambda: (state(a1, "offline"), poke(map_a))),
        ("path_deleted", lambda: (state(a1, "running"), reinstate(a, a1),
                                  write(f"/sys/block/{a2}/device/delete", "1\n"),
                                  settle(), poke(map_a))),
        ("all_paths_down", lambda: (state(b1, "offline"), state(b2, "offline"),
                                    poke(map_b, 2))),
        ("all_paths_down_queueing",
         lambda: sh(f"dmsetup message {b['name']} 0 queue_if_no_path")),
        ("dm_failed", lambda: (sh(f"dmsetup message {b['name']} 0 fail_if_no_path"),
                               state(b1, "running"), state(b2, "running"),
                               reinstate(b, b1, b2),
                               sh(f"dmsetup message {b['name']} 0 fail_path {majmin[b1]}"),
                               sh(f"dmsetup message {b['name']} 0 fail_path {majmin[b2]}"))),
    ]
    for name, apply in scenarios:
        if only and name not in only and name != "healthy":
            # later scenarios build on earlier ones: apply, do not check
            if apply:
                apply()
            continue
        if name == "healthy":
            print("=== healthy", flush=True)
            scenario_healthy(progs, out, kernel_view(), ids)
        else:
            run_scenario(progs, out, name, apply, ids)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--only", default="all")
    args = parser.parse_args()
    results = {"checks": checks, "timings": timings, "unfinished": None}
    progs = Programs(args.build, args.out)
    t0 = time.monotonic()
    try:
        os.makedirs("/etc/multipath", exist_ok=True)
        write("/etc/multipath.conf", MULTIPATH_CONF)
        sh("/lib/systemd/systemd-udevd --daemon --resolve-names=never")
        sh("modprobe -a sd_mod sg dm_multipath dm_round_robin dm_service_time scsi_dh_alua")
        only = set(args.only.split(",")) if args.only not in ("", "all") else None
        if not only or only & set(SCSI_DEBUG_SCENARIOS):
            scsi_debug_scenarios(progs, args.out, only, t0)
        # the scsi_debug maps and devices go before the next set
        sh("multipath -F", must=False)
        sh("modprobe -r scsi_debug", must=False)
        settle()
        if not only or any(n.startswith("iscsi") for n in only):
            guest_iscsi.scenarios(sys.modules[__name__], progs, args.out, only)
        if not only or "slow_device" in only:
            guest_slow.scenario(sys.modules[__name__], progs, args.out)
    except Exception as e:  # a setup step failed: say which, keep what ran
        results["unfinished"] = f"{type(e).__name__}: {e}"
        print(f"guest: stopped: {results['unfinished']}", flush=True)
    with open(f"{args.out}/recorded.json", "w") as f:
        json.dump(progs.recorded, f, indent=1)
    with open(f"{args.out}/results.json", "w") as f:
        json.dump(results, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main())
