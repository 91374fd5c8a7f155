#!/usr/bin/env python3
"""The textfile service and its timer as `cmake --install` lays them out.

    check_units.py verify   --cmake CMAKE --build BUILD --source SRC --work WORK
    check_units.py settings --cmake CMAKE --build BUILD --source SRC --work WORK
    check_units.py textfile --cmake CMAKE --build BUILD --source SRC --work WORK
                            --sansim SANSIM --host TOPOLOGY

verify: `systemd-analyze verify` (systemd 252, --root at the DESTDIR, the
    installed manual page for Documentation=) takes both units, and the
    service with the drop-in that docs/tsexTool.8 shows, without a word;
    copies with the program missing or a misspelt timer key are refused.
settings: read as systemd reads them (drop-ins, resets, defaults): the
    program's --timeout deadline is below the timer's interval and
    TimeoutStartSec above the deadline and within the interval; the runs are
    spread (RandomizedDelaySec) and the longest gap stays below two
    intervals; the timer starts the service and is wanted by timers.target;
    the hardening leaves the disks, SG_IO's capabilities and multipathd's
    unix socket reachable, and the one directory that the condition, the
    writable paths and ExecStart name is the node exporter's: Debian's
    (the default of the installed prometheus-node-exporter) when the install
    step runs as cpack's DEB format, the RPM distributions' for RPM.
textfile: the service's ExecStart, with the documented drop-in pointing it at
    a scratch directory and its environment expanded as systemd does, run on
    the simulated host; Debian's prometheus-node-exporter serving that
    directory says node_textfile_scrape_error 0, tsextool_scan_success 1 and
    one tsextool_path_up 1 for each path of the host.

Exit 0 when every check holds, 1 otherwise; textfile exits 77 (skipped)
without root.
"""

import argparse
import glob
import json
import os
import re
import shlex
import shutil
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "monitor"))

SKIP = 77
SERVICE = "tsextool-textfile.service"
TIMER = "tsextool-textfile.timer"
UNIT_DIRS = ("etc/systemd/system", "run/systemd/system", "usr/lib/systemd/system")
RPM_TEXTFILE_DIR = "/var/lib/node_exporter/textfile_collector"
EXPORTER = "/usr/bin/prometheus-node-exporter"
CMAKE = "cmake"  # the build's own, from --cmake


class Failures(list):
    def check(self, holds, message):
        if not holds:
            self.append(message)
        return holds


# --- units read as systemd reads them

def read_unit_file(path, unit):
    """Folds one file into unit {section: {key: [values]}}: continuation
    lines joined, comments dropped, an empty assignment resetting the list."""
    section = None
    with open(path, encoding="utf-8") as f:
        lines = f.read().split("\n")
    pending = ""
    for raw in lines:
        line = pending + raw.strip()
        pending = ""
        if line.endswith("\\"):
            pending = line[:-1] + " "
            continue
        if not line or line[0] in "#;":
            continue
        if line.startswith("[") and line.endswith("]"):
            section = unit.setdefault(line[1:-1], {})
            continue
        key, _, value = line.partition("=")
        values = section.setdefault(key.strip(), [])
        if value.strip():
            values.append(value.strip())
        else:
            values.clear()


def load_unit(root, name):
    """The unit with its drop-ins: the first of /etc, /run, /usr/lib that
    holds it, then every NAME.d/*.conf in the order of their names (a name
    in an earlier directory hides the same name in a later one)."""
    unit = {}
    for folder in UNIT_DIRS:
        path = os.path.join(root, folder, name)
        if os.path.isfile(path):
            read_unit_file(path, unit)
            break
    else:
        raise FileNotFoundError("no %s under %s" % (name, root))
    dropins = {}
    for folder in reversed(UNIT_DIRS):
        for path in glob.glob(os.path.join(root, folder, name + ".d", "*.conf")):
            dropins[os.path.basename(path)] = path
    for base in sorted(dropins):
        read_unit_file(dropins[base], unit)
    return unit


def last(unit, section, key, default=None):
    values = unit.get(section, {}).get(key, [])
    return values[-1] if values else default


def boolean(value):
    return value is not None and value.lower() in ("1", "yes", "y", "true", "t", "on")


def timespan(text):
    """Seconds of a systemd time span ("1min", "45", "1min 30s")."""
    units = {"us": 1e-6, "ms": 1e-3, "": 1, "s": 1, "sec": 1, "second": 1, "seconds": 1,
             "m": 60, "min": 60, "minute": 60, "minutes": 60, "h": 3600, "hr": 3600,
             "hour": 3600, "hours": 3600, "d": 86400, "day": 86400, "days": 86400}
    parts = re.findall(r"(\d+(?:\.\d+)?)\s*([a-z]*)", text.strip())
    if not parts or re.sub(r"[\d.\sa-z]", "", text):
        raise ValueError("not a time span: %r" % text)
    return sum(float(number) * units[unit] for number, unit in parts)


def environment(unit):
    """Environment= assignments, later ones winning (EnvironmentFile= is not
    used by these units: refused so that it is not silently ignored)."""
    if unit["Service"].get("EnvironmentFile"):
        raise ValueError("EnvironmentFile= is not read by this check")
    env = {}
    for line in unit["Service"].get("Environment", []):
        for word in shlex.split(line):
            name, _, value = word.partition("=")
            env[name] = value
    return env


def exec_start(unit):
    """ExecStart's words as systemd runs them: "$NAME" alone is split at
    blanks into words, "${NAME}" is replaced within its word, "$$" is "$",
    an unset variable is empty."""
    lines = unit["Service"].get("ExecStart", [])
    if len(lines) != 1:
        raise ValueError("a oneshot with %d ExecStart lines" % len(lines))
    line = lines[0]
    if line[0] in "-@:+!":
        raise ValueError("an ExecStart prefix this check does not model: %r" % line)
    env = environment(unit)
    words = []
    for word in shlex.split(line):
        alone = re.fullmatch(r"\$([A-Za-z_][A-Za-z0-9_]*)", word)
        if alone:
            words.extend(env.get(alone.group(1), "").split())
            continue
        word = re.sub(r"\$\{([A-Za-z_][A-Za-z0-9_]*)\}", lambda m: env.get(m.group(1), ""), word)
        words.append(word.replace("$$", "$"))
    return words


def deadline(words):
    for flag in ("--timeout", "-t"):
        if flag in words:
            return float(words[words.index(flag) + 1])
    return None


def textfile(words):
    return words[words.index("--textfile") + 1] if "--textfile" in words else None


# --- the install tree

def install(build, destdir, env=None):
    shutil.rmtree(destdir, ignore_errors=True)
    done = subprocess.run([CMAKE, "--install", build, "--prefix", "/usr"],
                          env=dict(os.environ, DESTDIR=destdir, **(env or {})),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise SystemExit("FAIL: cmake --install into %s: %s" % (destdir, done.stdout.decode()))


def install_as_package(build, destdir, generator):
    """The install step as cpack runs it for one package format: the build's
    per-format settings read first, in the same process."""
    shutil.rmtree(destdir, ignore_errors=True)
    script = os.path.join(os.path.dirname(destdir), "as_%s.cmake" % generator)
    with open(script, "w") as f:
        f.write('set(CPACK_GENERATOR "%s")\n'
                'include("%s/packaging/systemd/per_package.cmake")\n'
                'set(ENV{DESTDIR} "%s")\n'
                'execute_process(COMMAND "${CMAKE_COMMAND}" --install "%s" --prefix /usr\n'
                '  RESULT_VARIABLE status OUTPUT_QUIET)\n'
                'if(NOT status EQUAL 0)\n  message(FATAL_ERROR "install: ${status}")\nendif()\n'
                % (generator, build, destdir, build))
    done = subprocess.run([CMAKE, "-P", script], stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT)
    if done.returncode != 0:
        raise SystemExit("FAIL: the %s install step: %s" % (generator, done.stdout.decode()))


def documented_dropin(source):
    """The drop-in that docs/tsexTool.8 shows after `systemctl edit`, as a
    file's text, and the directory it names."""
    with open(os.path.join(source, "docs", "tsexTool.8"), encoding="utf-8") as f:
        page = f.read()
    for block in re.findall(r"^\.EX\n(.*?)^\.EE\n", page, re.S | re.M):
        text = block.replace("\\-", "-").replace("\\e", "\\")
        if "systemctl edit " + SERVICE in text:
            body = text.split("systemctl edit " + SERVICE, 1)[1].split("\n", 1)[1]
            directory = re.search(r"^Environment=TSKIT_TEXTFILE_DIR=(\S+)$", body, re.M)
            if not directory:
                raise SystemExit("FAIL: the page's drop-in sets no TSKIT_TEXTFILE_DIR")
            return body, directory.group(1)
    raise SystemExit("FAIL: docs/tsexTool.8 shows no drop-in for " + SERVICE)


def add_dropin(root, source, directory=None):
    """The page's drop-in under ROOT/etc, naming DIRECTORY in place of its
    example directory; returns the directory it names."""
    body, example = documented_dropin(source)
    directory = directory or example
    folder = os.path.join(root, "etc/systemd/system", SERVICE + ".d")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "textfile-dir.conf"), "w") as f:
        f.write(body.replace(example, directory))
    return directory


def unit_directory(unit, failures, what):
    """The textfile directory, if the condition, the writable paths and the
    file that ExecStart writes all name the same one."""
    conditions = unit["Unit"].get("ConditionPathIsDirectory", [])
    if not failures.check(len(conditions) == 1, "%s: ConditionPathIsDirectory= %r, want one "
                          "directory" % (what, conditions)):
        return None
    directory = conditions[0]
    written = textfile(exec_start(unit))
    failures.check(written == directory + "/tsextool.prom",
                   "%s: ExecStart writes %r, the condition names %s" % (what, written, directory))
    if last(unit, "Service", "ProtectSystem") == "strict":
        writable = [w.lstrip("-") for line in unit["Service"].get("ReadWritePaths", [])
                    for w in line.split()]
        failures.check(directory in writable, "%s: ProtectSystem=strict and %s is not among "
                       "ReadWritePaths %r" % (what, directory, writable))
    return directory


# --- the checks

def analyze(root, units):
    """systemd-analyze verify of UNITS in ROOT: its status and its words."""
    done = subprocess.run(["systemd-analyze", "verify", "--recursive-errors=no", "--root=" + root]
                          + units, env=dict(os.environ, MANPATH=root + "/usr/share/man"),
                          stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
    return done.returncode, done.stdout.decode("latin-1").strip()


def check_verify(args, failures):
    root = os.path.join(args.work, "root")
    install(args.build, root)
    status, said = analyze(root, [SERVICE, TIMER])
    failures.check(status == 0 and not said,
                   "verify of the installed units exits %d: %s" % (status, said))
    add_dropin(root, args.source)
    status, said = analyze(root, [SERVICE])
    failures.check(status == 0 and not said,
                   "verify with the page's drop-in exits %d: %s" % (status, said))
    # Damaged copies: the check must see them.
    broken = os.path.join(args.work, "no_program")
    install(args.build, broken)
    os.remove(os.path.join(broken, "usr/sbin/tsexTool"))
    status, said = analyze(broken, [SERVICE])
    failures.check(status != 0 and "tsexTool" in said,
                   "verify took a service whose program is missing: %d %r" % (status, said))
    broken = os.path.join(args.work, "misspelt")
    install(args.build, broken)
    timer = os.path.join(broken, "usr/lib/systemd/system", TIMER)
    with open(timer) as f:
        text = f.read()
    with open(timer, "w") as f:
        f.write(text.replace("RandomizedDelaySec=", "RandomDelaySec="))
    status, said = analyze(broken, [TIMER])
    failures.check("RandomDelaySec" in said,
                   "verify said nothing of a misspelt timer key: %d %r" % (status, said))


def check_schedule(root, failures):
    service, timer = load_unit(root, SERVICE), load_unit(root, TIMER)
    failures.check(last(service, "Service", "Type") == "oneshot", "the service is not oneshot")
    triggered = last(timer, "Timer", "Unit", SERVICE)
    failures.check(triggered == SERVICE, "the timer starts %s" % triggered)
    failures.check("timers.target" in " ".join(timer.get("Install", {}).get("WantedBy", [])),
                   "the timer is not wanted by timers.target")
    interval = timespan(last(timer, "Timer", "OnUnitActiveSec", "0"))
    failures.check(interval > 0, "the timer has no OnUnitActiveSec interval")
    failures.check(timespan(last(timer, "Timer", "OnBootSec", "0")) > 0,
                   "the timer has no OnBootSec: nothing starts the first run")
    limit = deadline(exec_start(service))
    if failures.check(limit is not None, "ExecStart gives the program no --timeout"):
        failures.check(limit < interval, "the deadline %g s is not below the interval %g s" %
                       (limit, interval))
        # systemd's default for TimeoutStartSec is DefaultTimeoutStartSec, 90 s.
        backstop = timespan(last(service, "Service", "TimeoutStartSec", "90s"))
        failures.check(limit < backstop <= interval,
                       "TimeoutStartSec %g s is not above the deadline %g s and within the "
                       "interval %g s" % (backstop, limit, interval))
    spread = timespan(last(timer, "Timer", "RandomizedDelaySec", "0"))
    failures.check(spread > 0, "RandomizedDelaySec is not set: a fleet runs in step")
    # Each elapse may come up to AccuracySec late (1 min by default) and
    # RandomizedDelaySec later again.
    accuracy = timespan(last(timer, "Timer", "AccuracySec", "1min"))
    failures.check(interval + spread + accuracy < 2 * interval,
                   "runs may be %g s apart, two intervals or more" %
                   (interval + spread + accuracy))


def check_hardening(root, failures):
    service = load_unit(root, SERVICE)["Service"]

    def setting(key):
        return service.get(key, [None])[-1] if service.get(key) else None

    for key in ("PrivateDevices", "PrivateNetwork", "ProtectClock", "PrivateUsers",
                "DynamicUser"):
        failures.check(not boolean(setting(key)), "%s=%s cuts the disks, the capabilities or "
                       "multipathd's socket" % (key, setting(key)))
    failures.check(not service.get("DeviceAllow") and
                   setting("DevicePolicy") in (None, "auto"),
                   "a device list (DeviceAllow %r, DevicePolicy %r) shuts the disks out" %
                   (service.get("DeviceAllow"), setting("DevicePolicy")))
    failures.check(setting("User") in (None, "root", "0"), "runs as %s, not root" % setting("User"))
    caps = " ".join(service.get("CapabilityBoundingSet", []))
    if caps:
        for cap in ("CAP_SYS_RAWIO", "CAP_SYS_ADMIN"):
            kept = (cap not in caps.split()) if caps.startswith("~") else (cap in caps.split())
            failures.check(kept, "CapabilityBoundingSet=%s drops %s" % (caps, cap))
    families = " ".join(service.get("RestrictAddressFamilies", []))
    if families:
        allowed = ("AF_UNIX" not in families.split()) if families.startswith("~") else \
            ("AF_UNIX" in families.split())
        failures.check(allowed, "RestrictAddressFamilies=%s shuts out multipathd's socket" %
                       families)
    hidden = " ".join(service.get("InaccessiblePaths", []) + service.get("TemporaryFileSystem", []))
    for path in ("/dev", "/sys", "/run"):
        failures.check(not re.search(r"(^|\s)-?%s(/|\s|$)" % path, hidden),
                       "%s is hidden from the service: %s" % (path, hidden))


def check_settings(args, failures):
    root = os.path.join(args.work, "root")
    install(args.build, root)
    check_schedule(root, failures)
    check_hardening(root, failures)
    # The directory per package format, and the documented drop-in.
    help_text = subprocess.run([EXPORTER, "--help"], stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT).stdout.decode()
    debian = re.search(r'--collector\.textfile\.directory="([^"]+)"', help_text)
    if not failures.check(debian, "%s --help names no default textfile directory" % EXPORTER):
        return
    for generator, wanted in (("DEB", debian.group(1)), ("RPM", RPM_TEXTFILE_DIR)):
        tree = os.path.join(args.work, generator.lower())
        install_as_package(args.build, tree, generator)
        found = unit_directory(load_unit(tree, SERVICE), failures, generator)
        failures.check(found == wanted, "the %s unit writes into %s, not %s" %
                       (generator, found, wanted))
    found = unit_directory(load_unit(root, SERVICE), failures, "make install")
    failures.check(found == debian.group(1), "make install's unit writes into %s" % found)
    example = add_dropin(root, args.source)
    found = unit_directory(load_unit(root, SERVICE), failures, "the page's drop-in")
    failures.check(found == example, "with the page's drop-in the unit writes into %s, not %s"
                   % (found, example))


def check_textfile(args, failures):
    from check_exporter import samples, scrape  # the node exporter as tsextool_monitor runs it
    if os.geteuid() != 0:
        print("SKIP: simulated hosts need root here (a private mount namespace per run)")
        return SKIP
    if not failures.check(os.access(EXPORTER, os.X_OK),
                          "%s missing (Debian prometheus-node-exporter)" % EXPORTER):
        return 1
    root = os.path.join(args.work, "root")
    install(args.build, root)
    served = os.path.join(args.work, "textfiles")
    shutil.rmtree(served, ignore_errors=True)
    os.makedirs(served)
    add_dropin(root, args.source, served)
    unit = load_unit(root, SERVICE)
    if unit_directory(unit, failures, "with the drop-in") != served:
        return 1
    words = exec_start(unit)
    program = os.path.join(root, words[0].lstrip("/"))
    done = subprocess.run([args.sansim, "run", args.host, "--", program] + words[1:],
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    failures.check(done.returncode == 0 and not done.stdout and not done.stderr,
                   "%s exits %d: %r %r" % (" ".join(words), done.returncode, done.stdout,
                                            done.stderr))
    written = os.path.join(served, "tsextool.prom")
    if not failures.check(os.path.isfile(written), "no %s after the run" % written):
        return 1
    failures.check(os.stat(written).st_mode & 0o777 == 0o644, "the textfile's mode is %o" %
                   (os.stat(written).st_mode & 0o777))
    page = scrape(served)
    if not failures.check(page is not None, "the node exporter did not answer on 127.0.0.1"):
        return 1
    found = samples(page)
    for gauge, wanted in (("node_textfile_scrape_error", 0), ("tsextool_scan_success", 1)):
        failures.check(found.get((gauge, ())) == wanted, "%s is %r, not %d" %
                       (gauge, found.get((gauge, ())), wanted))
    host = json.loads(subprocess.run([args.sansim, "expand", args.host], check=True,
                                     stdout=subprocess.PIPE).stdout)
    paths = [p for lun in host["luns"] for p in lun["paths"]]
    if not failures.check(paths and not any(p.get("faults") or p.get("dm_state", "active") !=
                                            "active" for p in paths),
                          "%s is not a host whose every path is active" % args.host):
        return 1
    wanted = {(p["sd"], p["hctl"]): 1 for p in paths}
    up = {(dict(labels)["device"], dict(labels)["hctl"]): value
          for (name, labels), value in found.items() if name == "tsextool_path_up"}
    failures.check(up == wanted, "tsextool_path_up served for %d paths, the host has %d: "
                   "differ at %r" % (len(up), len(wanted), sorted(set(up.items()) ^
                                                                  set(wanted.items()))[:3]))
    if not failures:
        print("%s on %s: the node exporter serves the file with %d tsextool_path_up series" %
              (" ".join(words), os.path.basename(args.host), len(up)))
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("check", choices=("verify", "settings", "textfile"))
    for name in ("cmake", "build", "source", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--sansim")
    parser.add_argument("--host")
    args = parser.parse_args()
    global CMAKE
    CMAKE = args.cmake
    args.work = os.path.abspath(args.work)
    shutil.rmtree(args.work, ignore_errors=True)
    os.makedirs(args.work)
    failures = Failures()
    status = {"verify": check_verify, "settings": check_settings,
              "textfile": check_textfile}[args.check](args, failures)
    if status == SKIP:
        return SKIP
    for failure in failures:
        print("FAIL: " + failure)
    if failures or status:
        return 1
    print("%s: every check holds" % args.check)
    return 0


if __name__ == "__main__":
    sys.exit(main())
