#!/usr/bin/env python3
"""Capture then replay: tskit-capture records a simulated host, and every
command of both programs prints on the replayed capture, byte for byte and
with the same exit status, what it printed on the host itself. The capture's
own audit log holds only TEST UNIT READY, INQUIRY and READ CAPACITY(10)/(16)
on nodes opened read-only.

    check_round_trip.py --sansim S --capture C [--tsextool T] --showdisk D
                        --work DIR [--commands quick] [--anonymize]
                        (--host FILE | --generate ARGS | --sample LISTING) ...
                        [--kept HOST=CAPTURE] ...

Without --tsextool the hosts are ESXi hosts: C and D are the ESXi builds.
A kept capture, made by an earlier tskit-capture and kept in the tree, must
still replay what the programs print on its host today.
"""
import argparse
import json
import os
import re
import shlex
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
from hostrun import HostRun, expand  # noqa: E402

ALLOWED_OPS = {"0x00", "0x12", "0x25", "0x9e"}

TSEXTOOL = [["show", "vlun"], ["show", "path"], ["show", "phypath"], ["show", "device"],
            ["show", "path", "verbose"], ["check", "status"], ["check", "status", "verbose"]]
SHOWDISK = [[], ["-l"]]
# The quick set: one table of each program, each with and without --json.
QUICK_TSEXTOOL = [["show", "path"], ["check", "status", "verbose"]]
QUICK_SHOWDISK = [[]]


def commands(args):
    quick = args.commands == "quick"
    for words in (QUICK_TSEXTOOL if quick else TSEXTOOL) if args.tsextool else []:
        yield [args.tsextool] + words
        yield [args.tsextool, "--json"] + words
    for words in QUICK_SHOWDISK if quick else SHOWDISK:
        yield [args.showdisk] + words
        yield [args.showdisk, "--json"] + words


def outcome(command):
    return command.status, command.stdout


def audit_faults(lines):
    """Lines of the capture's audit log that break the rule."""
    bad = []
    for line in lines:
        words = line.split()
        fields = dict(w.split("=", 1) for w in words[2:] if "=" in w)
        if not words or words[0] not in ("open", "scsi"):
            continue
        if fields.get("access") != "ro" or (words[0] == "scsi" and
                                             fields.get("op") not in ALLOWED_OPS):
            bad.append(line)
    return bad


def printed_forms(mapping):
    """Each original and its replacement as the programs print them: as they
    are, with every byte outside printable ASCII as "?" (the tables), and
    escaped as the JSON documents escape them."""
    def table(text):
        return "".join(c if " " <= c <= "~" else "?" for c in text)

    def json_text(text):
        return "".join("\\" + c if c in '"\\' else c if " " <= c <= "~" else f"\\u{ord(c):04x}"
                       for c in text)
    forms = {}
    for original, replacement in mapping.items():
        for render in (str, table, json_text):
            forms.setdefault(render(original), render(replacement))
    return forms


def mapping_pattern(forms):
    """One pattern for every original: hex ones in any case, names as whole
    words; the longest first, as the capture replaces them."""
    parts = []
    for original in sorted(forms, key=len, reverse=True):
        if re.fullmatch(r"[0-9a-f]{16,}", original):
            parts.append("(?i:" + re.escape(original) + ")")
        else:
            parts.append(r"(?<![A-Za-z0-9])" + re.escape(original) + r"(?![A-Za-z0-9])")
    return re.compile("|".join(parts).encode("latin-1"))


def apply_mapping(pattern, forms, data):
    """The text the programs print once each original is replaced."""
    lower = {k.lower(): v for k, v in forms.items()}

    def replace(match):
        found = match.group(0).decode("latin-1")
        new = forms.get(found, lower.get(found.lower()))
        return "".join(n.upper() if o.isupper() else n for o, n in zip(found, new)).encode(
            "latin-1")
    return pattern.sub(replace, data) if forms else data


def capture_blobs(capture):
    """Every text of a capture as bytes, and every reply's data."""
    with open(capture, encoding="utf-8") as f:
        doc = json.load(f)
    blobs = [run["text"].encode("latin-1") for listing in doc["listings"]
             for run in listing["runs"] if run["started"]]
    blobs += [(e["path"] + "\0" + e.get("text", "")).encode("latin-1") for e in doc["sysfs"]]
    blobs += [e["where"].encode("latin-1") + b"\0" + e["error"].encode("latin-1")
              for e in doc["errors"]]
    for node in doc["nodes"]:
        blobs.append(node["name"].encode("latin-1"))
        blobs += [bytes.fromhex(r.get("data", "")) for c in node.get("commands", [])
                  for r in c["replies"]]
    return doc, blobs


def leaked(mapping, blobs):
    """The originals still found in an anonymized capture, in any form: as
    text (hex in any case), as two-byte characters, as the bytes of a hex
    identifier."""
    found = []
    for original in mapping:
        forms = [original.encode("latin-1").lower()]
        if re.fullmatch(r"[0-9a-f]{16,}", original):
            forms.append(bytes.fromhex(original) if len(original) % 2 == 0 else b"")
        else:
            forms.append(b"".join(b"\0" + bytes([c]) for c in original.encode("latin-1")))
        hex_id = re.fullmatch(r"[0-9a-f]{16,}", original) is not None
        for blob in blobs:
            text = blob.lower() if hex_id else blob
            if any(form and (form in text or form in blob) for form in forms):
                found.append(original)
                break
    return found


def check_anonymized(args, name, capture, made, originals):
    """An anonymized capture: no original identifier left in it, and every
    command prints on it what it printed on the host, mapping applied."""
    if made.status != 0 or made.stdout:
        return [f"{name}: the anonymized capture exited {made.status} and wrote "
                f"{made.stdout[:200]!r}"]
    with open(capture + ".map", encoding="utf-8") as f:
        mapping = json.load(f)
    doc, blobs = capture_blobs(capture)
    failures = [] if doc["anonymized"] is True else [f"{name}: not marked anonymized"]
    if len(mapping) < 3:
        failures.append(f"{name}: only {len(mapping)} identifiers found")
    failures += [f"{name}: {o!r} is left in the anonymized capture" for o in
                 leaked(mapping, blobs)]
    if any(len(k) != len(v) for k, v in mapping.items()):
        failures.append(f"{name}: a replacement of another length")
    forms = printed_forms(mapping)
    pattern = mapping_pattern(forms)
    replay = HostRun(args.sansim, capture, os.path.join(args.work, name + ".anonymized"))
    runs = [(command, replay.add(command), want) for command, want in originals]
    replay.run()
    for command, got, want in runs:
        expected = (want[0], apply_mapping(pattern, forms, want[1]))
        if outcome(got) != expected:
            failures.append(f"{name}: {words_of(command)}: anonymized replay differs from the "
                            f"host's output with the mapping applied")
    return failures


def words_of(command):
    return " ".join(os.path.basename(w) if i == 0 else w for i, w in enumerate(command))


def check_host(args, host, name):
    """The host's runs and its captures in one start of it, each capture's
    replays in one start of the capture."""
    capture = os.path.join(args.work, name + ".capture.json")
    anonymized = os.path.join(args.work, name + ".anonymized.json")
    on_host = HostRun(args.sansim, host, os.path.join(args.work, name + ".host"))
    made = on_host.add([args.capture, capture])
    made_anonymized = on_host.add([args.capture, "--anonymize", anonymized]) \
        if args.anonymize else None
    wanted = [(command, on_host.add(command)) for command in commands(args)]
    on_host.run()
    if made.status != 0 or made.stdout:
        return [f"{name}: the capture exited {made.status} and wrote {made.stdout[:200]!r}"]
    failures = [f"{name}: capture audit: {line}" for line in audit_faults(made.audit)]
    replay = HostRun(args.sansim, capture, os.path.join(args.work, name + ".replay"))
    replayed = [(command, want, replay.add(command)) for command, want in wanted]
    replay.run()
    for command, want, got in replayed:
        if outcome(want) != outcome(got):
            failures.append(f"{name}: {words_of(command)}: exit {want.status} and "
                            f"{len(want.stdout)} bytes on the host, exit {got.status} and "
                            f"{len(got.stdout)} bytes replayed")
    if args.anonymize:
        originals = [(command, outcome(want)) for command, want in wanted]
        failures += check_anonymized(args, name, anonymized, made_anonymized, originals)
    return failures


def check_kept(args, host, capture):
    """The programs on the host and on a capture of it kept from before."""
    name = os.path.splitext(os.path.basename(capture))[0]
    on_host = HostRun(args.sansim, host, os.path.join(args.work, name + ".kept-host"))
    replay = HostRun(args.sansim, capture, os.path.join(args.work, name + ".kept-replay"))
    pairs = [(command, on_host.add(command), replay.add(command)) for command in commands(args)]
    on_host.run()
    replay.run()
    failures = [f"{name} (kept): {words_of(command)}: exit {want.status} and "
                f"{len(want.stdout)} bytes on the host, exit {got.status} and "
                f"{len(got.stdout)} bytes replayed"
                for command, want, got in pairs if outcome(want) != outcome(got)]
    document = next((want for command, want, _ in pairs
                     if command == [args.showdisk, "--json"]), None)
    return failures + (check_without_dm_sizes(args, name, capture, document)
                       if document is not None else [])


def check_without_dm_sizes(args, name, capture, document):
    """A capture made before the maps' size files were recorded replays
    ts_showdisk --json with a null capacity_bytes for each multipath LUN,
    and nothing else changed."""
    with open(capture) as f:
        older = json.load(f)
    older["sysfs"] = [e for e in older["sysfs"]
                      if not re.fullmatch(r"block/dm-[0-9]+/size", e["path"])]
    path = os.path.join(args.work, name + ".older.json")
    with open(path, "w") as f:
        json.dump(older, f)
    replay = HostRun(args.sansim, path, os.path.join(args.work, name + ".older-replay"))
    got = replay.add([args.showdisk, "--json"])
    replay.run()
    want = json.loads(document.stdout)
    for lun in want.get("luns") or []:
        if lun["dev_name"].startswith("/dev/dm-"):
            lun["capacity_bytes"] = None
    if got.status != document.status or json.loads(got.stdout) != want:
        return [f"{name} (kept, without the maps' size files): ts_showdisk --json is not the "
                f"host's document with null capacity_bytes"]
    return []


def cli_failures(args, host):
    """The capture's refusals: one line on standard output, exit status 1."""
    cases = [
        ([args.capture], "Usage: tskit-capture [--anonymize] FILE", None),
        ([args.capture, "--anything"], "Usage: tskit-capture [--anonymize] FILE", None),
        ([args.capture, "--anonymize"], "Usage: tskit-capture [--anonymize] FILE", None),
        ([args.capture, "x", "y"], "Usage: tskit-capture [--anonymize] FILE", None),
        ([args.capture, os.path.join(args.work, "x.json")], "Error: tskit-capture must be run "
         "as root.", "1000"),
        ([args.capture, "/nonexistent/x.json"], "Error: cannot write the capture "
         "/nonexistent/x.json: No such file or directory.", None),
        ([args.capture, "--anonymize", "/nonexistent/x.json"], "Error: cannot write the capture "
         "/nonexistent/x.json: No such file or directory.", None),
    ]
    run = HostRun(args.sansim, host, os.path.join(args.work, "refusals"))
    done = [(command, first_line, run.add(command, uid=uid)) for command, first_line, uid in cases]
    run.run()
    failures = []
    for command, first_line, result in done:
        lines = result.stdout.decode(errors="replace").splitlines()
        if result.status != 1 or not lines or lines[0] != first_line or result.stderr:
            failures.append(f"{' '.join(command[1:])}: exit {result.status}, {lines[:1]}")
    return failures


def host_name(path):
    """A scenario's topology.json is named after its folder."""
    name = os.path.splitext(os.path.basename(path))[0]
    return os.path.basename(os.path.dirname(path)) if name == "topology" else name


def hung_host(args, host, name):
    """The host with time, and one path hung: its commands (and its dm
    node's, while it is the current path) answer when they time out. A
    host second lasts a real millisecond: the programs and the capture wait
    out the same host timeouts at any scale."""
    lun, path = (int(n) for n in args.hung.split(":"))
    chosen = expand(args.sansim, host)["luns"][lun]
    lun_name = chosen.get("dm") or chosen["wwid"]
    path_name = chosen["paths"][path].get("sd") or chosen["paths"][path]["hctl"]
    doc = {"base": os.path.abspath(host),
           "timing": {"service_us": 200, "jitter_us": 0, "seed": 1, "listing_ms": 50,
                      "scale": 0.001},
           "luns": {lun_name: {"paths": {path_name: {"faults": {"hung": True}}}}}}
    out = os.path.join(args.work, name + ".hung.json")
    with open(out, "w", encoding="utf-8") as f:
        json.dump(doc, f)
    return out, name + ".hung"


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    for option in ("--sansim", "--capture", "--showdisk", "--work"):
        parser.add_argument(option, required=True)
    parser.add_argument("--tsextool")
    parser.add_argument("--host", action="append", default=[])
    parser.add_argument("--generate", action="append", default=[],
                        help="arguments of generate_host.py for one generated host")
    parser.add_argument("--generator")
    parser.add_argument("--sample", action="append", default=[],
                        help="a real multipath -ll listing, made a host by sample_host.py")
    parser.add_argument("--sample-host", help="sample_host.py")
    parser.add_argument("--hung", metavar="LUN:PATH",
                        help="every host gets time (scale 0.01) and this path of this LUN hangs")
    parser.add_argument("--commands", choices=("full", "quick"), default="full")
    parser.add_argument("--kept", action="append", default=[], metavar="HOST=CAPTURE",
                        help="a capture kept from before, replayed against its host")
    parser.add_argument("--anonymize", action="store_true",
                        help="also capture each host anonymized and check that capture")
    args = parser.parse_args(argv)
    os.makedirs(args.work, exist_ok=True)
    hosts = [(h, host_name(h)) for h in args.host]
    for i, spec in enumerate(args.generate):
        path = os.path.join(args.work, f"generated{i}.json")
        with open(path, "wb") as out:
            subprocess.run([sys.executable, args.generator] + shlex.split(spec), stdout=out,
                           check=True)
        hosts.append((path, f"generated{i}"))
    for sample in args.sample:
        name = os.path.splitext(os.path.basename(sample))[0]
        done = subprocess.run([sys.executable, args.sample_host, sample, args.work, name],
                              stdout=subprocess.PIPE)
        if done.returncode == 0:
            hosts.append((os.path.join(args.work, name + ".json"), name))
        else:
            print("not a host:", done.stdout.decode(errors="replace").strip())
    if args.hung:
        hosts = [hung_host(args, host, name) for host, name in hosts]
    failures = cli_failures(args, hosts[0][0]) if hosts else []
    for host, name in hosts:
        failures += check_host(args, host, name)
    for kept in args.kept:
        host, capture = kept.split("=", 1)
        failures += check_kept(args, host, capture)
    for failure in failures:
        print("FAIL:", failure)
    print(f"{len(hosts)} hosts, {len(args.kept)} kept captures, {len(failures)} failures")
    return 1 if failures or not (hosts or args.kept) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
