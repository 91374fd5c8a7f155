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


TRANSPORT_NAMES = ("port_name", "node_name", "fabric_name", "initiatorname", "targetname",
                   "ipaddress")
TRANSPORT_CLASSES = ("fc_host", "fc_remote_ports", "iscsi_host", "iscsi_session")
HEX_ID = re.compile(r"[0-9a-f]{16,}")


def transport_value(path):
    """Whether a /sys path is a transport class entry's name attribute."""
    parts = path.split("/")
    return len(parts) >= 3 and parts[-3] in TRANSPORT_CLASSES and parts[-1] in TRANSPORT_NAMES


def identifier(value):
    """A value as the anonymizer takes it (hex in lower case, without 0x or
    a type, without an iSCSI tag), or None when it identifies nothing."""
    value = value.strip().split(",t,0x")[0].split(",i,0x")[0]
    for prefix in ("0x", "naa.", "eui."):
        if value.startswith(prefix) and HEX_ID.fullmatch(value[len(prefix):].lower()):
            value = value[len(prefix):]
    if HEX_ID.fullmatch(value.lower()):
        return value.lower() if value.strip("0") and value.lower().strip("f") else None
    if re.fullmatch(r"[0-9.:]+", value):
        return value if re.search(r"[0-9]", value) and len(value) >= 3 else None
    return value if len(value) >= 3 and re.search(r"[A-Za-z]", value) else None


def host_identifiers(topology, plain):
    """Every identifier of a host: of its topology, and the transport
    class values of its plain capture (node and fabric names, addresses)."""
    found = set()
    for lun in topology.get("luns", []):
        found.update(str(lun.get(k) or "") for k in ("name", "alias", "raw_lun_id"))
        wwid = str(lun.get("wwid") or "")
        found.add(wwid[1:] if wwid.startswith("3") else wwid)
    for array in topology.get("arrays", []):
        found.update(str(array.get(k) or "") for k in ("serial", "name"))
        found.update(p.get("identifier", "") for p in array.get("target_ports", []))
    for host in topology.get("scsi_hosts", []):
        found.update(str(host.get(k) or "") for k in ("initiator_port", "node_name",
                                                       "fabric_name", "ip_address"))
    found.update(e["text"] for e in plain["sysfs"]
                 if e["type"] == "file" and transport_value(e["path"]))
    return sorted({i for i in map(identifier, found) if i}, key=len, reverse=True)


def listing_words(plain):
    """The words of a plain capture's listings and /sys entries, but for the
    places where names stand (a map's alias, a transport class value)."""
    words = set()
    for listing in plain["listings"]:
        for run in listing["runs"]:
            for line in run.get("text", "").splitlines():
                if re.match(r"[^ |`\\\[]\S* \(", line) and not line.startswith("size="):
                    line = line.split(" ", 1)[1]
                words.update(re.findall(r"[A-Za-z0-9_]+", line))
    for entry in plain["sysfs"]:
        words.update(re.findall(r"[A-Za-z0-9_]+", entry["path"]))
        if not transport_value(entry["path"]):
            words.update(re.findall(r"[A-Za-z0-9_]+", entry.get("text", "")))
    return words


def leak_forms(original):
    """An identifier as text (hex ones in lower and upper case, and with
    colons between the bytes) and as hex digits, to look for in the hex
    dumps of the replies at either nibble alignment."""
    if HEX_ID.fullmatch(original):
        texts = [original, original.upper()]
        if len(original) % 2 == 0:
            texts.append(":".join(original[i:i + 2] for i in range(0, len(original), 2)))
        return texts, [original]
    raw = original.encode("latin-1", errors="replace")
    return [original], [raw.hex(), b"".join(b"\0" + bytes([c]) for c in raw).hex()]


def contains(text, form, word):
    """Whether form stands in text; a name only as a whole word, as names are
    told apart from the words around them."""
    if not word:
        return form in text
    return re.search(r"(?<![A-Za-z0-9])" + re.escape(form) + r"(?![A-Za-z0-9])", text) is not None


def leaked(identifiers, keywords, doc):
    """The identifiers of the host still found in an anonymized capture. A
    name that is also a word of the listings or of /sys (a LUN called
    "active") is looked for where names stand: the replies and the transport
    class values."""
    texts = [run["text"] for listing in doc["listings"] for run in listing["runs"]
             if run["started"]]
    texts += [e["path"] + "\n" + e.get("text", "") for e in doc["sysfs"]]
    texts += [e["where"] + "\n" + e["error"] for e in doc["errors"]]
    texts += [n["name"] for n in doc["nodes"]]
    named = [e.get("text", "") for e in doc["sysfs"] if transport_value(e["path"])]
    dumps = [r.get("data", "") for n in doc["nodes"] for c in n.get("commands", [])
             for r in c["replies"]]
    data = [bytes.fromhex(d).decode("latin-1") for d in dumps]
    found = []
    for original in identifiers:
        text_forms, hex_forms = leak_forms(original)
        places = (named if original in keywords else texts) + data
        if any(contains(t, f, not HEX_ID.fullmatch(original)) for f in text_forms
               for t in places) or any(f in d for f in hex_forms for d in dumps):
            found.append(original)
    return found


def load_mapping(capture, map_file):
    """The mapping of an anonymized capture, from original to replacement,
    and an error text: a mapping of another capture (its capture id is not
    the capture's, as when a capture was killed between its two renames) is
    not this capture's."""
    with open(capture, encoding="utf-8") as f:
        capture_id = json.load(f).get("capture_id")
    with open(map_file, encoding="utf-8") as f:
        doc = json.load(f)
    if doc.get("format") != "tskit-capture-map":
        # A mapping from before capture ids: a flat object.
        return (doc, None) if capture_id is None else (None, "a mapping without a capture id")
    if doc.get("capture_id") != capture_id:
        return None, f"the mapping is of capture {doc.get('capture_id')}, not of {capture_id}"
    return doc["mapping"], None


def check_mismatch(args, name, capture, map_file):
    """A capture whose id is not its mapping's (an older capture left beside
    a newer mapping) is refused by the mapping's reader."""
    with open(capture, encoding="utf-8") as f:
        doc = json.load(f)
    if not re.fullmatch(r"[0-9a-f]{16}", str(doc.get("capture_id"))):
        return [f"{name}: the anonymized capture has no capture id"]
    doc["capture_id"] = "%016x" % (int(doc["capture_id"], 16) ^ 1)
    older = os.path.join(args.work, name + ".older-anonymized.json")
    with open(older, "w", encoding="utf-8") as f:
        json.dump(doc, f)
    mapping, error = load_mapping(older, map_file)
    return [] if mapping is None and error else [f"{name}: a mapping of another capture is used"]


def check_anonymized(args, name, capture, made, originals, identifiers, keywords):
    """An anonymized capture: no identifier of the host left in it, and every
    command prints on it what it printed on the host once its output is read
    back through the mapping (a component of a command replaced as well)."""
    if made.status != 0 or made.stdout:
        return [f"{name}: the anonymized capture exited {made.status} and wrote "
                f"{made.stdout[:200]!r}"]
    mapping, error = load_mapping(capture, capture + ".map")
    if mapping is None:
        return [f"{name}: {error}"]
    with open(capture, encoding="utf-8") as f:
        doc = json.load(f)
    failures = [] if doc["anonymized"] is True else [f"{name}: not marked anonymized"]
    failures += check_mismatch(args, name, capture, capture + ".map")
    if len(mapping) < 3:
        failures.append(f"{name}: only {len(mapping)} identifiers found")
    failures += [f"{name}: {o!r} is left in the anonymized capture" for o in
                 leaked(identifiers, keywords, doc)]
    if any(len(k) != len(v) for k, v in mapping.items()):
        failures.append(f"{name}: a replacement of another length")
    reverse = {v: k for k, v in mapping.items()}
    forms = printed_forms(reverse)
    pattern = mapping_pattern(forms)
    replay = HostRun(args.sansim, capture, os.path.join(args.work, name + ".anonymized"))
    runs = [(command, replay.add(anonymized_command(command, mapping)), want)
            for command, want in originals]
    replay.run()
    for command, got, want in runs:
        if (got.status, apply_mapping(pattern, forms, got.stdout)) != want:
            failures.append(f"{name}: {words_of(command)}: anonymized replay read back through "
                            f"the mapping differs from the host's output")
    return failures


def anonymized_command(command, mapping):
    """The command with the component of check failover replaced."""
    if command[-3:-1] == ["check", "failover"]:
        return command[:-1] + [mapping.get(command[-1], command[-1])]
    return command


def failover_commands(args, topology):
    """check failover of the network portal of the first iSCSI host with
    transport classes (the address the host itself reports)."""
    if not args.tsextool or not topology.get("transport_classes"):
        return []
    for host in topology.get("scsi_hosts", []):
        iscsi = host.get("transport", host.get("driver", "")).startswith("iscsi")
        if iscsi:
            address = host.get("ip_address") or "10.0.%d.1" % int(host["number"])
            return [[args.tsextool, "check", "failover", address]]
    return []


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
    topology = expand(args.sansim, host)
    wanted = [(command, on_host.add(command))
              for command in list(commands(args)) + failover_commands(args, topology)]
    on_host.run()
    if made.status != 0 or made.stdout:
        return [f"{name}: the capture exited {made.status} and wrote {made.stdout[:200]!r}"]
    failures = [f"{name}: capture audit: {line}" for line in audit_faults(made.audit)]
    # A listing command's warnings (multipath's on its standard error) are
    # neither recorded nor passed on: the capture's standard error stays
    # empty on a host that works.
    if made.stderr:
        failures.append(f"{name}: the capture wrote on standard error: {made.stderr[:200]!r}")
    replay = HostRun(args.sansim, capture, os.path.join(args.work, name + ".replay"))
    replayed = [(command, want, replay.add(command)) for command, want in wanted]
    replay.run()
    for command, want, got in replayed:
        if outcome(want) != outcome(got):
            failures.append(f"{name}: {words_of(command)}: exit {want.status} and "
                            f"{len(want.stdout)} bytes on the host, exit {got.status} and "
                            f"{len(got.stdout)} bytes replayed{said(want, got)}")
    if args.anonymize:
        originals = [(command, outcome(want)) for command, want in wanted]
        with open(capture, encoding="utf-8") as f:
            plain = json.load(f)
        failures += check_anonymized(args, name, anonymized, made_anonymized, originals,
                                     host_identifiers(topology, plain), listing_words(plain))
    return failures


def said(want, got):
    """The first line each run wrote on standard error, when either wrote
    one: what a run that could not start (sansim's own word) says."""
    lines = [run.stderr.decode(errors="replace").strip().splitlines()[:1] for run in (want, got)]
    if not any(lines):
        return ""
    return f" (standard error: {lines[0]!r} on the host, {lines[1]!r} replayed)"


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
    """The capture's refusals: one line, exit status 1; on standard output,
    or on standard error when the capture was to go to standard output."""
    usage = "Usage: tskit-capture [--map MAPFILE] [--anonymize] FILE"
    work = os.path.abspath(args.work)
    cases = [
        ([args.capture], usage, None, False),
        ([args.capture, "--anything"], usage, None, False),
        ([args.capture, "--anonymize"], usage, None, False),
        ([args.capture, "x", "y"], usage, None, False),
        ([args.capture, "--map", "m.map", "x.json"], usage, None, False),
        ([args.capture, "--map", "m.map", "-"], usage, None, True),
        ([args.capture, "--anonymize", "-"], "Error: --anonymize - needs --map FILE: where the "
         "mapping is to be kept.", None, True),
        ([args.capture, os.path.join(work, "x.json")], "Error: tskit-capture must be run "
         "as root.", "1000", False),
        ([args.capture, "/nonexistent/x.json"], "Error: cannot write the capture "
         "/nonexistent/x.json: No such file or directory.", None, False),
        ([args.capture, "--anonymize", "/nonexistent/x.json"], "Error: cannot write the capture "
         "/nonexistent/x.json: No such file or directory.", None, False),
    ]
    # A capture that cannot be renamed into place (a directory stands
    # there): the old mapping beside it keeps its text, and a new mapping
    # named with --map is not left behind.
    kept, orphan = os.path.join(work, "kept.json"), os.path.join(work, "orphan.json")
    for directory in (kept, orphan):
        os.makedirs(directory, exist_ok=True)
    with open(kept + ".map", "w") as f:
        f.write("the old mapping\n")
    if os.path.exists(orphan + ".map"):
        os.remove(orphan + ".map")
    for target, options in ((kept, []), (orphan, ["--map", orphan + ".map"])):
        cases.append(([args.capture] + options + ["--anonymize", target],
                      f"Error: cannot write the capture {target}: Is a directory.", None, False))
    run = HostRun(args.sansim, host, os.path.join(args.work, "refusals"))
    done = [(command, first_line, to_stderr, run.add(command, uid=uid))
            for command, first_line, uid, to_stderr in cases]
    run.run()
    failures = []
    for command, first_line, to_stderr, result in done:
        said, other = (result.stderr, result.stdout) if to_stderr else (result.stdout,
                                                                         result.stderr)
        lines = said.decode(errors="replace").splitlines()
        if result.status != 1 or not lines or lines[0] != first_line or other:
            failures.append(f"{' '.join(command[1:])}: exit {result.status}, {lines[:1]}, "
                            f"{other[:100]!r} on the other stream")
    with open(kept + ".map") as f:
        if f.read() != "the old mapping\n":
            failures.append("a failed capture replaced the mapping of the one before")
    if os.path.exists(orphan + ".map"):
        failures.append("a failed capture left its mapping behind")
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
