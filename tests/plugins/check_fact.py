#!/usr/bin/env python3
"""The Ansible local fact (packaging/examples/ansible/tsextool.fact) and the
playbook beside it, with the real tsexTool on simulated hosts.

    check_fact.py fact --sansim S --tsextool T --source-root SRC --work DIR
    check_fact.py playbook --sansim S --tsextool T --source-root SRC --work DIR

fact: the script run directly on a host, as Ansible runs it. It always
exits 0 and prints one JSON document in plain ASCII, with tsexTool's exit
status and document for check status and check redundancy: on the healthy
demo host, where the listing cannot be started (status 1 in the document),
as a user other than root (tsexTool's refusal is text: no report, its line
in the message), with bad settings, with programs that print text with
terminal controls, a cut document or nothing, and on a host whose listing
hangs (the deadline reaches tsexTool and the fact comes back in time).

playbook: ansible-playbook with a local connection inside `sansim run`, the
fact found through the playbook's tsextool_fact_path and tsexTool through
TSEXTOOL_FACT_PROGRAM. On the demo host every vlun passes; on the degraded
host and on a host whose single active path names its target port with
terminal controls, exactly the vluns that the topology leaves without
redundancy fail, each named with what its paths share (controls shown as
"?"); where the listing cannot be started the playbook fails on the status.

The host's PATH under sansim is its own directory alone (the fake
multipath); Ansible's local connection needs mkdir, chmod and rm for its
temporary files, so the playbook runs with the system directories after it.

Exit 0 when every check holds, 1 with a FAIL line for each that does not.
"""

import argparse
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "harness"))
import san_rules  # noqa: E402
from hostrun import HostRun  # noqa: E402

failures = []
# The line through which tsexTool reads the listing, refused by the host.
CANNOT_START = {"cannot_start": ["multipath -ll 2>/dev/null"]}


def fail(case, text):
    failures.append(case)
    print("FAIL: %s: %s" % (case, text))


def overlay(work, name, base, patch):
    """A host file laid over BASE, written to WORK/NAME.json."""
    path = os.path.join(work, name + ".json")
    with open(path, "w", encoding="utf-8") as f:
        json.dump(dict(patch, base=os.path.abspath(base)), f)
    return path


def fake_program(work, name, script):
    path = os.path.join(work, name)
    with open(path, "w", encoding="utf-8") as f:
        f.write("#!/bin/sh\n" + script)
    os.chmod(path, 0o755)
    return path


def filtered(data):
    """The wrapper's rule for a text in its message: bytes outside printable
    ASCII, quotes and backslashes as '?', the first line."""
    line = data.split(b"\n", 1)[0]
    return "".join("?" if b < 0x20 or b > 0x7E or b in b'"\\' else chr(b) for b in line)


# ---- the fact script -------------------------------------------------------

def document(case, command):
    """The fact's document, after the checks every run must pass: exit 0,
    nothing on standard error, one JSON document in plain ASCII."""
    if command.status != 0:
        fail(case, "exited %s" % command.status)
    if command.stderr:
        fail(case, "wrote on standard error: %r" % command.stderr[:200])
    if any(b > 0x7E or (b < 0x20 and b != 0x0A) for b in command.stdout):
        fail(case, "printed bytes outside printable ASCII")
    try:
        doc = json.loads(command.stdout.decode("ascii", "replace"))
    except ValueError as e:
        fail(case, "printed no JSON document (%s): %r" % (e, command.stdout[:200]))
        return None
    if doc.get("fact_version") != 1 or set(doc) != {"fact_version", "timeout", "check_status",
                                                    "check_redundancy"}:
        fail(case, "members %s" % sorted(doc))
        return None
    return doc


def runs(doc):
    return (("check status", doc["check_status"]), ("check redundancy", doc["check_redundancy"]))


def expect_reports(case, doc, status, timeout=8):
    """Both runs carry tsexTool's document of their command and its status."""
    if doc["timeout"] != timeout:
        fail(case, "timeout %r, %d expected" % (doc["timeout"], timeout))
    for words, run in runs(doc):
        report = run.get("report")
        if run.get("status") != status or not isinstance(report, dict) \
                or report.get("command") != words or report.get("exit_status") != status:
            fail(case, "%s: %s, status %d and its document expected" % (
                words, json.dumps(run)[:300], status))


def expect_no_report(case, doc, status, message):
    for words, run in runs(doc):
        if run.get("status") != status or run.get("report") is not None \
                or run.get("message") != message(words):
            fail(case, "%s: %s, expected status %s and the message %r" % (
                words, json.dumps(run), status, message(words)))


def check_fact(args, work):
    fact = os.path.join(args.source_root, "packaging/examples/ansible/tsextool.fact")
    if not os.access(fact, os.X_OK):
        fail("fact", "%s is not executable" % fact)
        return
    demo = os.path.join(args.source_root, "sim/topologies/demo.json")
    topo = san_rules.expand(args.sansim, demo)
    dms = sorted(v for v in san_rules.vluns(topo))
    env = {"TSEXTOOL_FACT_PROGRAM": args.tsextool}
    hostile = b'\x1b[2J"quoted" back\\slash \xe9\nsecond line\n'
    fakes = {
        "hostile": fake_program(work, "hostile", "printf '\\033[2J\"quoted\" back\\\\slash "
                                "\\351\\nsecond line\\n'\nexit 3\n"),
        "cut": fake_program(work, "cut", "printf '{\\n  \"a\": {\\n    \"b\": 1\\n  }\\n'\n"),
        "silent": fake_program(work, "silent", "exit 0\n"),
    }

    host = HostRun(args.sansim, demo, os.path.join(work, "demo"))
    healthy = host.add([fact], env=env)
    not_root = host.add([fact], uid="65534", env=env)
    timeouts = {value: host.add([fact], env=dict(env, TSEXTOOL_FACT_TIMEOUT=value))
                for value in ("0", "abc", "3601", "08", "3600")}
    missing = host.add([fact], env={"TSEXTOOL_FACT_PROGRAM": os.path.join(work, "nonexistent")})
    faked = {name: host.add([fact], env={"TSEXTOOL_FACT_PROGRAM": path})
             for name, path in fakes.items()}
    host.run()

    doc = document("demo", healthy)
    if doc:
        expect_reports("demo", doc, 0)
        # A host whose every path is up and redundant has no alarm.
        if san_rules.nagios_state(topo) == 0 and doc["check_status"]["report"].get("alarms") != []:
            fail("demo", "alarms on a healthy host: %s" % doc["check_status"]["report"]["alarms"])
        names = sorted(v["name"] for v in doc["check_redundancy"]["report"].get("redundancy", []))
        if names != dms:
            fail("demo", "vluns %s, the topology has %s" % (names, dms))

    doc = document("not root", not_root)
    if doc:
        expect_no_report("not root", doc, 1, lambda words: (
            "tsexTool %s exited with status 1 and printed no JSON document: Please run as root!"
            % words))

    reason = "TSEXTOOL_FACT_TIMEOUT needs a whole number of seconds from 1 to 3600"
    for value, command in timeouts.items():
        case = "TSEXTOOL_FACT_TIMEOUT=%s" % value
        doc = document(case, command)
        if doc and value == "3600":
            expect_reports(case, doc, 0, timeout=3600)
        elif doc:
            expect_no_report(case, doc, None, lambda words: reason)
            if doc["timeout"] is not None:
                fail(case, "timeout %r in the document" % doc["timeout"])

    doc = document("missing program", missing)
    if doc:
        expect_no_report("missing program", doc, None, lambda words: (
            "%s is not an executable file (TSEXTOOL_FACT_PROGRAM)"
            % os.path.join(work, "nonexistent")))

    printed = {"hostile": (3, "printed no JSON document: " + filtered(hostile)),
               "cut": (0, "printed no JSON document: {"),
               "silent": (0, "printed nothing")}
    for name, (status, what) in printed.items():
        doc = document("program " + name, faked[name])
        if doc:
            expect_no_report("program " + name, doc, status, lambda words: (
                "tsexTool %s exited with status %d and %s" % (words, status, what)))

    # The listing cannot be started: tsexTool's document with status 1.
    cannot = overlay(work, "cannot_start", demo, CANNOT_START)
    host = HostRun(args.sansim, cannot, os.path.join(work, "cannot_start"))
    command = host.add([fact], env=env)
    host.run()
    doc = document("listing cannot start", command)
    if doc:
        expect_reports("listing cannot start", doc, 1)

    # A listing that hangs: the deadline is tsexTool's, each run answers
    # within it and a second, and the fact comes back.
    hung = overlay(work, "hung", demo, {"multipath": {"hang": True}})
    start = time.monotonic()
    done = subprocess.run([args.sansim, "run", hung, "--", "/usr/bin/env",
                           "TSEXTOOL_FACT_PROGRAM=" + args.tsextool, "TSEXTOOL_FACT_TIMEOUT=1",
                           fact], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
    took = time.monotonic() - start
    command.status, command.stdout, command.stderr = done.returncode, done.stdout, done.stderr
    doc = document("hung listing", command)
    if doc:
        expect_reports("hung listing", doc, 1, timeout=1)
        for words, run in runs(doc):
            deadline = (run.get("report") or {}).get("deadline") or {}
            if deadline.get("seconds") != 1 or deadline.get("listing_arrived") is not False:
                fail("hung listing", "%s: deadline %s" % (words, deadline))
    if took > 20:
        fail("hung listing", "the fact took %.1f s with a deadline of 1 s per run" % took)
    print("fact: %d runs on 3 hosts, the hung one in %.1f s" % (len(timeouts) + 8, took))


# ---- the playbook ----------------------------------------------------------

# A loop item's line: "ok: [localhost] => (item=dm-0) => {...}", the result
# left out for a quiet assert.
RESULT = re.compile(r"^(ok|failed): \[localhost\](?: =>)? \(item=([^)\n]*)\)(?: => (?=\{))?",
                    re.M)


def playbook(args, work, name, topology):
    """ansible-playbook on the host: its exit status, its standard output and
    the loop results as {item label: (ok or failed, result)}."""
    home = os.path.join(work, "ansible")
    facts = os.path.join(work, "facts.d")
    if not os.path.isdir(facts):
        os.makedirs(facts)
        # The shipped file itself, so that its own mode is the one tested.
        os.symlink(os.path.join(args.source_root, "packaging/examples/ansible/tsextool.fact"),
                   os.path.join(facts, "tsextool.fact"))
        os.makedirs(home)
        with open(os.path.join(work, "ansible.cfg"), "w", encoding="utf-8") as f:
            f.write("[defaults]\nhome = %s\nlocal_tmp = %s/tmp\nremote_tmp = %s/tmp\n"
                    "interpreter_python = /usr/bin/python3\nretry_files_enabled = False\n"
                    "callback_result_format = json\nnocolor = True\n" % (home, home, home))
    env = dict(os.environ, ANSIBLE_CONFIG=os.path.join(work, "ansible.cfg"),
               TSEXTOOL_FACT_PROGRAM=args.tsextool)
    argv = [args.sansim, "run", topology, "--", "/bin/sh", "-c",
            'PATH="$PATH:/usr/sbin:/usr/bin:/sbin:/bin"; export PATH; exec ansible-playbook "$@"',
            "sh", "-c", "local", "-i", "localhost,", "-e", "tsextool_fact_path=" + facts,
            os.path.join(args.source_root, "packaging/examples/ansible/tsextool_redundancy.yml")]
    done = subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, env=env,
                          timeout=300)
    with open(os.path.join(work, name + ".out"), "wb") as f:
        f.write(done.stdout + b"\n--- stderr\n" + done.stderr)
    out = done.stdout.decode("latin-1")
    results = {}
    for match in RESULT.finditer(out):
        result = {}
        if out.startswith("{", match.end()):
            result, _ = json.JSONDecoder().raw_decode(out, match.end())
        results[match.group(2)] = (match.group(1), result)
    return done, out, results


def check_playbook(args, work):
    hosts = {
        "demo": os.path.join(args.source_root, "sim/topologies/demo.json"),
        "degraded": os.path.join(args.source_root, "sim/topologies/degraded.json"),
        "hostile": os.path.join(HERE, "hosts", "hostile_single_path.json"),
    }
    for name, topology in hosts.items():
        topo = san_rules.expand(args.sansim, topology)
        vluns = san_rules.vluns(topo)
        want_failed = san_rules.not_redundant(topo)
        done, out, results = playbook(args, work, name, topology)
        want_status = 2 if want_failed else 0
        if done.returncode != want_status:
            fail(name, "ansible-playbook exited %d, %d expected; see %s.out" % (
                done.returncode, want_status, os.path.join(work, name)))
        if any(b > 0x7E or (b < 0x20 and b != 0x0A) for b in done.stdout):
            fail(name, "ansible-playbook printed bytes outside printable ASCII")
        for run in ("check_status", "check_redundancy"):
            if results.get(run, ("missing",))[0] != "ok":
                fail(name, "the task on tsexTool's report did not pass for %s" % run)
        seen = {label: state for label, (state, _) in results.items() if label in vluns}
        if set(seen) != set(vluns):
            fail(name, "the playbook judged the vluns %s, the host has %s" % (
                sorted(seen), sorted(vluns)))
        failed = {label for label, state in seen.items() if state == "failed"}
        if failed != want_failed:
            fail(name, "vluns %s failed, the topology leaves %s without redundancy" % (
                sorted(failed), sorted(want_failed)))
        for dm in failed & want_failed:
            msg = results[dm][1].get("msg", "")
            vlun = vluns[dm]
            count = vlun["active_paths"]
            pieces = ["vlun %s " % dm, "has %d active path%s" % (count, "" if count == 1 else "s")]
            pieces += ["%s %s" % (kind, san_rules.filtered_name(point))
                       for kind, point in vlun["single_points"].items()]
            missing = [p for p in pieces if p not in msg]
            if missing:
                fail(name, "the message on %s lacks %s: %r" % (dm, missing, msg))
        print("playbook on %s: exit %d, %d vluns, failed %s" % (
            name, done.returncode, len(seen), sorted(failed)))

    # tsexTool exits 1: the fact still holds its document, the playbook
    # fails on the status before it looks at a vlun.
    cannot = overlay(work, "cannot_start", hosts["demo"], CANNOT_START)
    done, out, results = playbook(args, work, "cannot_start", cannot)
    want = ("tsexTool check status did not report: status 1, "
            "Error: the multipath command could not be run.")
    state, result = results.get("check_status", ("missing", {}))
    if done.returncode != 2 or state != "failed" or result.get("msg") != want:
        fail("cannot_start", "exit %d, %s %r; expected exit 2 and the message %r" % (
            done.returncode, state, result.get("msg"), want))
    if set(results) - {"check_status", "check_redundancy"}:
        fail("cannot_start", "vluns judged without a report: %s" % sorted(results))
    print("playbook where the listing cannot start: exit %d" % done.returncode)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("what", choices=("fact", "playbook"))
    for option in ("--sansim", "--tsextool", "--source-root", "--work"):
        parser.add_argument(option, required=True)
    args = parser.parse_args(argv)
    for name in ("source_root", "sansim", "tsextool"):
        setattr(args, name, os.path.abspath(getattr(args, name)))
    if os.geteuid() != 0:
        print("FAIL: the simulated host needs root")
        return 1
    if args.what == "playbook" and not shutil.which("ansible-playbook", path="/usr/bin:/bin"):
        print("FAIL: ansible-playbook is not installed (make deps-test installs ansible-core)")
        return 1
    work = os.path.join(os.path.abspath(args.work), args.what)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    (check_fact if args.what == "fact" else check_playbook)(args, work)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
