"""The iSCSI scenarios of the real-kernel stage, run by guest.py inside the
guest once the scsi_debug maps are gone.

Two tgtd daemons on 127.0.0.1 and 127.0.0.2 present one logical unit each,
backed by the same file and answering the same identifiers (the vendor's
strings set with tgtadm), under one target name and portal group; open-iscsi
logs in to both, so the kernel has two iSCSI sessions on two SCSI hosts and
dm-multipath one map of two paths. A daemon stopped with SIGSTOP is a target
that takes commands and never answers; one killed is a session that fails.

Besides the kernel view guest.py asserts against, each iSCSI session's own
entry in /sys/class/iscsi_session says what the programs must print for it:
its initiator name (the iscsi_host entry reads "(null)" under open-iscsi),
its target name and portal group, and its state.
"""

import json
import os
import re
import signal
import subprocess
import time

TARGET = "iqn.2026-12.test.kernel-stage:vsa1000.lun"
INITIATOR = "iqn.1993-08.org.debian:01:0kernelstage"
PORTALS = ("127.0.0.1", "127.0.0.2")
IMAGE = "/tmp/iscsi-lun.img"
# What a multipathed iSCSI host sets: a session that loses its target fails
# its commands back to dm-multipath after 5 s instead of queueing them for
# the default two minutes. The no-op pings keep their defaults, so a frozen
# target is found out only after 10 s: longer than the --nagios deadline.
ISCSID_CONF = """iscsid.startup = /bin/true
node.startup = manual
node.session.timeo.replacement_timeout = 5
node.conn[0].timeo.login_timeout = 15
node.conn[0].timeo.noop_out_interval = 5
node.conn[0].timeo.noop_out_timeout = 5
node.session.initial_login_retry_max = 2
node.session.scan = auto
"""
NAGIOS_DEADLINE = 8      # tsexTool's own for --nagios
DEADLINE_SLACK = 3       # the program's start and exit under TCG


class Targets:
    """The two tgtd daemons, one a portal."""

    def __init__(self, g):
        self.g = g
        self.procs = {}

    def tgtadm(self, n, words):
        self.g.sh(f"tgtadm -C {n} --lld iscsi " + words)

    def start(self, n):
        os.makedirs("/run/tgtd", exist_ok=True)
        self.procs[n] = subprocess.Popen(
            ["tgtd", "-f", "-C", str(n), "--iscsi", f"portal={PORTALS[n]}:3260"],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: subprocess.run(
            ["tgtadm", "-C", str(n), "--lld", "iscsi", "--op", "show", "--mode", "target"],
            capture_output=True, timeout=10).returncode == 0, 10, 0.1)
        self.tgtadm(n, f"--op new --mode target --tid 1 -T {TARGET}")
        self.tgtadm(n, f"--op new --mode logicalunit --tid 1 --lun 1 -b {IMAGE}")
        vendor, product = self.g.VENDOR, self.g.PRODUCT
        self.tgtadm(n, "--op update --mode logicalunit --tid 1 --lun 1 --params "
                       f"vendor_id={vendor},product_id={product},product_rev=0100,"
                       "scsi_sn=KSTAGE0001,scsi_id=KSTAGE0001")
        self.tgtadm(n, "--op bind --mode target --tid 1 -I ALL")

    def signal(self, n, sig):
        self.procs[n].send_signal(sig)

    def stop(self, n):
        proc = self.procs.pop(n, None)
        if proc is not None:
            proc.send_signal(signal.SIGCONT)
            proc.kill()
            proc.wait(timeout=10)

    def stop_all(self):
        for n in list(self.procs):
            self.stop(n)


# --- the kernel's view of the sessions -------------------------------------------

def sessions(g):
    """{sessionK: {state, initiatorname, target_port, host, sds}} from
    /sys/class/iscsi_session: the session's device sits under its SCSI host
    and holds its targets, whose logical units hold the sd nodes."""
    view = {}
    base = "/sys/class/iscsi_session"
    for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        entry = f"{base}/{name}"
        device = os.path.realpath(f"{entry}/device")
        sds = []
        for target in (t for t in os.listdir(device) if t.startswith("target")):
            for lun in os.listdir(f"{device}/{target}"):
                block = f"{device}/{target}/{lun}/block"
                if os.path.isdir(block):
                    sds += os.listdir(block)
        tpgt = int(g.read(f"{entry}/tpgt") or "1")
        view[name] = {
            "state": g.read(f"{entry}/state"),
            "initiatorname": g.read(f"{entry}/initiatorname"),
            "target_port": f"{g.read(f'{entry}/targetname')},t,0x{tpgt & 0xFFFF:04x}",
            "host": os.path.basename(os.path.dirname(device)),
            "sds": sorted(sds),
        }
    return view


def host_initiatornames(g):
    base = "/sys/class/iscsi_host"
    return {h: g.read(f"{base}/{h}/initiatorname")
            for h in sorted(os.listdir(base))} if os.path.isdir(base) else {}


def wait_for(predicate, seconds, step=0.5):
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        if predicate():
            return True
        time.sleep(step)
    return predicate()


# --- assertions ------------------------------------------------------------------

def expect_session_ports(g, scenario, doc, sess):
    """Each path's InitiatorPort and TargetPort are its session's."""
    label = f"{scenario}/tsexTool --json show path"
    if doc is None:
        return
    rows = {r["path"]: r for r in doc.get("paths", []) if r.get("path")}
    for name, s in sess.items():
        for sd in s["sds"]:
            r = rows.get(f"/dev/{sd}")
            if r is None:
                continue
            g.check(f"{label}/{sd} initiator_port", r["initiator_port"] == s["initiatorname"],
                    f"{r['initiator_port']!r}; {name} says {s['initiatorname']!r}")
            g.check(f"{label}/{sd} target_port", r["target_port"] == s["target_port"],
                    f"{r['target_port']!r}; {name} says {s['target_port']!r}")


def expect_phypaths(g, scenario, doc, sess, view):
    """One physical path a session: its paths are the session's, and it is
    active when one of them is up."""
    label = f"{scenario}/tsexTool --json show phypath"
    if doc is None:
        return
    rows = doc.get("phypaths", [])
    g.check(f"{label}/one a session", len(rows) == len(sess),
            f"{len(rows)} physical paths, the kernel has {len(sess)} sessions: "
            f"{[(r.get('hct'), r.get('status_text')) for r in rows]}")
    up = g.up_paths(view)
    for name, s in sorted(sess.items()):
        want = {f"/dev/{sd}" for sd in s["sds"]}
        match = [r for r in rows if {p["path"] for p in r.get("paths", [])} == want]
        if not g.check(f"{label}/{name} paths", len(match) == 1,
                       f"no single physical path holds exactly {sorted(want)}"):
            continue
        r = match[0]
        state = "active" if any(sd in up for sd in s["sds"]) else "failed"
        g.check(f"{label}/{name} status", r["status"] == state,
                f"{r['status']!r} ({r.get('status_text')!r}); the session is {s['state']}, "
                f"its paths up: {sorted(sd for sd in s['sds'] if sd in up)}")
        g.check(f"{label}/{name} initiator_port", r["initiator_port"] == s["initiatorname"],
                f"{r['initiator_port']!r}; the session says {s['initiatorname']!r}")


def expect_phypath_counts(g, scenario, text, sess, view):
    """--nagios counts a physical path a session, failed when none of its
    paths is up."""
    label = f"{scenario}/tsexTool --nagios check status"
    up = g.up_paths(view)
    failed = sum(1 for s in sess.values() if not any(sd in up for sd in s["sds"]))
    m = re.search(r" phypaths=(\d+);.* phypaths_failed=(\d+);", text)
    g.check(f"{label}/phypaths", m is not None and
            (int(m.group(1)), int(m.group(2))) == (len(sess), failed),
            f"perfdata {m.group(0) if m else 'missing'}; the kernel has {len(sess)} sessions, "
            f"{failed} without a path up")


def expect_no_null(g, label, text):
    g.check(f"{label}/no (null)", "(null)" not in text,
            "prints the kernel's \"(null)\": "
            + next((l for l in text.splitlines() if "(null)" in l), "")[:200])


def iscsi_forms(g, progs, scenario, out, view, ids, sess):
    """The forms of guest.py's fault scenarios, the tables of the names the
    sessions give, and the physical paths against the sessions."""
    for words in (["show", "path"], ["show", "phypath"], ["check", "status"]):
        st, text = progs.call(scenario, "tsexTool", words, record=True)
        expect_no_null(g, f"{scenario}/tsexTool {' '.join(words)}", text)
    st, doc = progs.json_call(scenario, "tsexTool", ["--json", "show", "phypath"], record=True)
    expect_phypaths(g, scenario, doc, sess, view)
    expect_no_null(g, f"{scenario}/tsexTool --json show phypath", json.dumps(doc))
    docs = g.fault_forms(progs, scenario, out, view, ids, list(sess.values()))
    expect_session_ports(g, scenario, docs["paths"], sess)
    expect_phypath_counts(g, scenario, docs["nagios"], sess, view)


def run(g, progs, out, scenario, apply, ids, settled):
    print(f"=== {scenario}", flush=True)
    apply()
    if not g.check(f"{scenario}/kernel settled", wait_for(settled, 30),
                   f"the sessions never reached the state: {sessions(g)}"):
        return
    view = g.stable_view(scenario)
    sess = sessions(g)
    print(json.dumps({"maps": view, "sessions": sess}, sort_keys=True), flush=True)
    iscsi_forms(g, progs, scenario, out, view, ids, sess)
    g.same_view(scenario, view)


def frozen(g, progs, targets, portal):
    """A target that takes commands and never answers: --nagios must still
    answer within its deadline, with the frozen path failed (the kernel
    already gave up on it) or the run cut (the path unknown)."""
    scenario = "iscsi_target_frozen"
    print(f"=== {scenario}", flush=True)
    host = portal_host(g, portal)
    frozen_sds = [sd for s in sessions(g).values() if s["host"] == host for sd in s["sds"]]
    targets.signal(portal, signal.SIGSTOP)
    start = time.monotonic()
    # multipath's own checkers wait on the frozen path as well: the kernel's
    # listing, timed beside the program's run
    listing = subprocess.Popen(["multipath", "-ll"], stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL)
    st, text = progs.call(scenario, "tsexTool", ["--nagios", "check", "status"])
    took = time.monotonic() - start
    try:
        listing.wait(timeout=90)
    except subprocess.TimeoutExpired:
        listing.kill()
        listing.wait()
    listing_took = time.monotonic() - start
    g.timings.append(f"{scenario}/multipath -ll beside it: {listing_took:.1f} s")
    g.check(f"{scenario}/tsexTool --nagios check status/within its deadline",
            st is not None and took <= NAGIOS_DEADLINE + DEADLINE_SLACK,
            f"answered after {took:.1f} s (exit {st}); the deadline is {NAGIOS_DEADLINE} s")
    first = text.splitlines()[0] if text else ""
    print(f"frozen: {took:.1f} s, exit {st}: {text!r}", flush=True)
    g.timings.append(f"{scenario}/tsexTool --nagios check status: {took:.1f} s, exit {st}, {first!r}")
    # cut before the listing came only when the kernel's own listing took
    # longer than the deadline; else the frozen path unchecked or failed
    cut = st == 2 and "deadline of" in first and (
        "before the listing arrived" not in first or listing_took > NAGIOS_DEADLINE - 1)
    failed = st == 1 and re.search(r" paths_failed=([1-9]\d*);", text) is not None
    g.check(f"{scenario}/tsexTool --nagios check status/frozen path failed or unknown",
            cut or failed,
            f"exit {st}, {first!r}; {frozen_sds} froze, the other path is up, "
            f"multipath -ll took {listing_took:.1f} s")
    expect_no_null(g, f"{scenario}/tsexTool --nagios check status", text)
    targets.signal(portal, signal.SIGCONT)
    back = wait_for(lambda: all(s["state"] == "LOGGED_IN" for s in sessions(g).values()) and
                    all(g.read(f"/sys/block/{sd}/device/state") == "running"
                        for sd in frozen_sds), 60)
    g.check(f"{scenario}/session back after SIGCONT", back, f"sessions: {sessions(g)}")


def portal_host(g, portal):
    """The SCSI host of the session to a portal, from the session's
    connection (its persistent address)."""
    for conn in os.listdir("/sys/class/iscsi_connection"):
        address = g.read(f"/sys/class/iscsi_connection/{conn}/persistent_address")
        if address == PORTALS[portal]:
            device = os.path.realpath(f"/sys/class/iscsi_connection/{conn}/device")
            # connectionK:0 sits under its session, under its SCSI host
            return os.path.basename(os.path.dirname(os.path.dirname(device)))
    return None


def setup(g, targets):
    g.sh("ip link set lo up")
    g.sh(f"truncate -s 64M {IMAGE}")
    g.sh("modprobe -a iscsi_tcp")
    for n in range(len(PORTALS)):
        targets.start(n)
    os.makedirs("/run/lock/iscsi", exist_ok=True)
    g.write("/etc/iscsi/initiatorname.iscsi", f"InitiatorName={INITIATOR}\n")
    g.write("/etc/iscsi/iscsid.conf", ISCSID_CONF)
    g.sh("rm -rf /etc/iscsi/nodes /etc/iscsi/send_targets")
    g.sh("iscsid")
    for portal in PORTALS:
        g.sh(f"iscsiadm -m discovery -t sendtargets -p {portal}:3260")
        g.sh(f"iscsiadm -m node -T {TARGET} -p {portal}:3260 --login")
    g.settle()
    g.sh("multipath -v0")
    g.settle()


def teardown(g, targets):
    g.sh("iscsiadm -m node --logoutall=all", must=False)
    g.settle()
    g.sh("multipath -F", must=False)
    g.sh("iscsiadm -k 0", must=False)
    targets.stop_all()


def scenarios(g, progs, out, only):
    """Both sessions up; one target frozen, then thawed; one target gone."""
    targets = Targets(g)
    try:
        setup(g, targets)
        view = g.kernel_view()
        sess = sessions(g)
        print(f"iscsi: {json.dumps({'maps': view, 'sessions': sess, 'hosts': host_initiatornames(g)}, sort_keys=True)}",
              flush=True)
        ok = g.check("iscsi/setup/one map of two paths over two sessions",
                     len(view) == 1 and len(sess) == 2 and
                     all(len(m["paths"]) == 2 and all(g.path_up(p) for p in m["paths"].values())
                         for m in view.values()),
                     f"the kernel has {view} over {sess}")
        if not ok:
            return
        ids = {sd: g.identity(sd) for m in view.values() for sd in m["paths"]}

        def wanted(name):
            return not only or name in only

        if wanted("iscsi_healthy"):
            run(g, progs, out, "iscsi_healthy", lambda: None, ids,
                lambda: all(s["state"] == "LOGGED_IN" for s in sessions(g).values()))
        if wanted("iscsi_target_frozen"):
            frozen(g, progs, targets, 1)
        # The second portal's daemon goes; its session fails and, after the
        # replacement timeout, its path is transport-offline.
        gone = portal_host(g, 1)
        if wanted("iscsi_target_stopped"):
            run(g, progs, out, "iscsi_target_stopped", lambda: targets.stop(1), ids,
                lambda: all(g.read(f"/sys/block/{sd}/device/state") == "transport-offline"
                            for s in sessions(g).values() if s["host"] == gone
                            for sd in s["sds"]))
    finally:
        teardown(g, targets)
