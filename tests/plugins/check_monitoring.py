#!/usr/bin/env python3
"""The shipped monitoring definitions (packaging/examples), each read by the
program that will read it on a real server, and the command line they all
run, run by the real tsexTool.

    check_monitoring.py nagios4 SRC WORK
        nagios4 -v on a minimal nagios.cfg that includes nagios/tsextool.cfg
        and uses its service template, once with the remote and once with
        the local command: no error and no warning; broken copies fail.
    check_monitoring.py icinga2 SRC WORK
        icinga2 daemon -C on a minimal configuration (scratch state paths)
        with icinga2/tsextool.conf and three hosts: the apply rules give the
        agent host the local command on its own endpoint, the NRPE host the
        NRPE command and the third host nothing; broken copies fail.
    check_monitoring.py commands SRC WORK SANSIM TSEXTOOL
        visudo -cf accepts sudoers/tsextool (and refuses a broken copy); its
        one rule allows exactly the command line of the NRPE command, of the
        Nagios local command and of the Icinga 2 command, without a
        wildcard; check_nrpe's -t is above the plugin's deadline; the line
        itself, run by the real tsexTool on the healthy and the degraded
        demo hosts, exits with the state their topology gives.

Exit 0 when every check holds, 1 with a FAIL line for each that does not.
A program that is missing is a failure, not a skip.
"""

import json
import os
import re
import shlex
import shutil
import subprocess
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import san_rules  # noqa: E402

PROGRAM = "/usr/sbin/tsexTool"
failures = []


def fail(text):
    failures.append(text)
    print("FAIL:", text)


def need(program):
    found = shutil.which(program, path=os.environ.get("PATH", "") + ":/usr/sbin:/sbin")
    if not found:
        raise SystemExit("FAIL: %s is not installed (make deps-test installs it)" % program)
    return found


def run(argv, **kwargs):
    return subprocess.run(argv, stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                          text=True, errors="replace", timeout=120, **kwargs)


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def broken(text, old, new, what):
    if old not in text:
        raise SystemExit("FAIL: the damage '%s' finds no '%s' to change" % (what, old))
    return text.replace(old, new, 1)


# ---- the definitions as plain text ----------------------------------------

def nagios_objects(text):
    """The define blocks of a Nagios object file: (type, {directive: value})."""
    text = re.sub(r"(?m)^\s*[#;].*$", "", text)
    return [(kind, dict(line.strip().split(None, 1) for line in body.splitlines()
                        if line.strip()))
            for kind, body in re.findall(r"define\s+(\w+)\s*\{([^}]*)\}", text)]


def sudoers_rules(text):
    """The rules that grant commands: the lines that are neither comments
    nor Defaults."""
    return [line.strip() for line in text.splitlines()
            if line.strip() and not line.lstrip().startswith(("#", "Defaults"))]


def allowed_command(src):
    """The command line the sudoers example allows, as words; a FAIL for a
    rule that allows more."""
    rules = sudoers_rules(read(os.path.join(src, "packaging/examples/sudoers/tsextool")))
    if len(rules) != 1:
        fail("sudoers: %d rules, one expected: %r" % (len(rules), rules))
        return []
    match = re.fullmatch(r"nagios\s+ALL\s*=\s*\(root\)\s+NOPASSWD:\s*(.+)", rules[0])
    if not match:
        fail("sudoers: the rule is not 'nagios ALL=(root) NOPASSWD: COMMAND': " + rules[0])
        return []
    command = match.group(1)
    if re.search(r"[*?\[\],\\]|\bALL\b", command):
        fail("sudoers: the command allows more than one command line: " + command)
    words = command.split()
    if words[:1] != [PROGRAM]:
        fail("sudoers: the command is not %s: %s" % (PROGRAM, command))
    return words


def deadline(words):
    """The plugin's deadline in the words (--timeout N or -t N)."""
    for option in ("--timeout", "-t"):
        if option in words[:-1]:
            return int(words[words.index(option) + 1])
    return 8


# ---- nagios4 -------------------------------------------------------------

NAGIOS_OBJECTS = """\
define timeperiod {
    timeperiod_name 24x7
    alias           always
    sunday          00:00-24:00
    monday          00:00-24:00
    tuesday         00:00-24:00
    wednesday       00:00-24:00
    thursday        00:00-24:00
    friday          00:00-24:00
    saturday        00:00-24:00
}
define command {
    command_name    notify-none
    command_line    /bin/true
}
define contact {
    contact_name                    admin
    service_notification_period     24x7
    host_notification_period        24x7
    service_notification_options    n
    host_notification_options       n
    service_notification_commands   notify-none
    host_notification_commands      notify-none
}
define host {
    host_name               san-host-01
    address                 192.0.2.10
    max_check_attempts      3
    check_period            24x7
    notification_period     24x7
    contacts                admin
}
define service {
    use                     tsextool-service
    host_name               san-host-01
    contacts                admin
}
define service {
    use                     tsextool-service
    host_name               san-host-01
    service_description     SAN multipath (local)
    check_command           check_tsextool_local
    contacts                admin
}
"""


def nagios_verify(nagios4, work, shipped):
    write(os.path.join(work, "objects.cfg"), NAGIOS_OBJECTS)
    write(os.path.join(work, "resource.cfg"), "$USER1$=/usr/lib/nagios/plugins\n")
    write(os.path.join(work, "nagios.cfg"), "\n".join([
        "cfg_file=" + os.path.join(work, "objects.cfg"),
        "cfg_file=" + shipped,
        "resource_file=" + os.path.join(work, "resource.cfg"),
        "illegal_macro_output_chars=`~$&|'\"<>",
        "check_result_path=" + work,
        "nagios_user=root",
        "nagios_group=root",
        "lock_file=" + os.path.join(work, "nagios.lock"),
        "temp_file=" + os.path.join(work, "nagios.tmp"),
        "status_file=" + os.path.join(work, "status.dat"),
        "log_file=" + os.path.join(work, "nagios.log"), ""]))
    return run([nagios4, "-v", os.path.join(work, "nagios.cfg")])


def check_nagios4(src, work):
    nagios4 = need("nagios4")
    shipped = os.path.join(src, "packaging/examples/nagios/tsextool.cfg")
    done = nagios_verify(nagios4, os.path.join(work, "shipped"), shipped)
    if done.returncode != 0 or "Total Errors:   0" not in done.stdout \
            or "Total Warnings: 0" not in done.stdout:
        fail("nagios4 -v refused the shipped definitions (%d):\n%s" % (done.returncode,
                                                                      done.stdout))
        return
    if "Checked 2 services." not in done.stdout:
        fail("nagios4 -v did not check the two services of the template:\n" + done.stdout)
    # The copies differ from the accepted files by their damage alone, so
    # that a refusal is the damage's.
    text = read(shipped)
    damages = {
        "command renamed": broken(text, "command_name    check_tsextool\n",
                                  "command_name    check_tsextool_renamed\n", "command"),
        "brace missing": broken(text, "}", "", "brace"),
        "template unnamed": broken(text, "name                    tsextool-service",
                                   "name                    tsextool-svc", "template"),
    }
    for name, damaged in damages.items():
        copy_dir = os.path.join(work, "broken", name.replace(" ", "_"))
        write(os.path.join(copy_dir, "tsextool.cfg"), damaged)
        done = nagios_verify(nagios4, copy_dir, os.path.join(copy_dir, "tsextool.cfg"))
        if done.returncode == 0:
            fail("nagios4 -v accepted a copy with the %s:\n%s" % (name, done.stdout))
    print("nagios4: shipped definitions checked, %d broken copies refused" % len(damages))


# ---- icinga2 -------------------------------------------------------------

ICINGA_HOSTS = """\
const PluginDir = "/usr/lib/nagios/plugins"
object Endpoint "master" { }
object Zone "master" { endpoints = [ "master" ] }
object Endpoint "san-host-01" { host = "192.0.2.10" }
object Zone "san-host-01" { endpoints = [ "san-host-01" ]; parent = "master" }
object CheckCommand "host-alive" { command = [ "/bin/true" ] }
object Host "san-host-01" {
  address = "192.0.2.10"
  check_command = "host-alive"
  vars.tsextool = "agent"
  zone = "master"
}
object Host "san-host-02" {
  address = "192.0.2.11"
  check_command = "host-alive"
  vars.tsextool = "nrpe"
  zone = "master"
}
object Host "other-host" {
  address = "192.0.2.12"
  check_command = "host-alive"
  zone = "master"
}
include "%s"
"""


def icinga_validate(icinga2, work, shipped):
    """icinga2 daemon -C on the shipped file and the hosts, every path of
    its own below WORK; the result and the objects it instantiated."""
    state = os.path.join(work, "state")
    shutil.rmtree(state, ignore_errors=True)
    os.makedirs(state)
    write(os.path.join(work, "icinga2.conf"), ICINGA_HOSTS % shipped)
    defines = ["-D%s=%s" % (name, state) for name in
               ("CacheDir", "DataDir", "LogDir", "SpoolDir", "InitRunDir")]
    done = run([icinga2, "daemon", "-C", "-c", os.path.join(work, "icinga2.conf"),
                "-DNodeName=master", "-DRunAsUser=root", "-DRunAsGroup=root"] + defines)
    objects = []
    dump = os.path.join(state, "icinga2.debug")
    if os.path.exists(dump):
        # netstrings: LENGTH:JSON,
        data, at = read(dump), 0
        while at < len(data):
            colon = data.index(":", at)
            length = int(data[at:colon])
            objects.append(json.loads(data[colon + 1:colon + 1 + length]))
            at = colon + 2 + length
    return done, objects


def check_icinga2(src, work):
    icinga2 = need("icinga2")
    shipped = os.path.join(src, "packaging/examples/icinga2/tsextool.conf")
    done, objects = icinga_validate(icinga2, os.path.join(work, "shipped"), shipped)
    warnings = [line for line in done.stdout.splitlines() if " warning/" in line]
    if done.returncode != 0 or warnings:
        fail("icinga2 daemon -C refused the shipped objects (%d):\n%s" % (done.returncode,
                                                                        done.stdout))
        return
    props = {(o["type"], o["name"]): o["properties"] for o in objects}
    services = {o["properties"]["host_name"] + "!" + o["name"]: o["properties"]
                for o in objects if o["type"] == "Service"}
    want = {"san-host-01!san-multipath": ("tsextool", "san-host-01"),
            "san-host-02!san-multipath": ("tsextool-nrpe", "")}
    got = {name: (p["check_command"], p.get("command_endpoint") or "")
           for name, p in services.items()}
    if got != want:
        fail("icinga2: the apply rules gave %s, expected %s" % (got, want))
    local = props.get(("CheckCommand", "tsextool"), {})
    words = allowed_command(src)
    if local.get("command") != ["/usr/bin/sudo"] + words:
        fail("icinga2: CheckCommand tsextool runs %s, the sudoers rule allows %s"
             % (local.get("command"), words))
    nrpe = props.get(("CheckCommand", "tsextool-nrpe"), {})
    arguments = nrpe.get("arguments") or {}
    wait = int(arguments.get("-t", "0"))
    if arguments.get("-c") != "check_tsextool" or wait <= deadline(words) + 1:
        fail("icinga2: check_nrpe's arguments %s: -c check_tsextool and -t above %d s"
             " expected" % (arguments, deadline(words) + 1))
    for name, command, bound in (("tsextool", local, deadline(words) + 1),
                                 ("tsextool-nrpe", nrpe, wait)):
        if not command.get("timeout", 0) > bound:
            fail("icinga2: CheckCommand %s's timeout %s is not above %d s"
                 % (name, command.get("timeout"), bound))
    # The copies differ from the accepted files by their damage alone.
    text = read(shipped)
    damages = {
        "command renamed": broken(text, 'object CheckCommand "tsextool" {',
                                  'object CheckCommand "tsextool-local" {', "command"),
        "brace missing": broken(text, "timeout = 15s\n}", "timeout = 15s\n", "brace"),
        "assign on an unknown attribute": broken(
            text, 'assign where host.vars.tsextool == "nrpe"',
            'assign where host.vars.tsextool == "nrpe" && host.nosuch.attr', "assign"),
    }
    for name, damaged in damages.items():
        copy_dir = os.path.join(work, "broken", name.replace(" ", "_"))
        write(os.path.join(copy_dir, "tsextool.conf"), damaged)
        done, _ = icinga_validate(icinga2, copy_dir, os.path.join(copy_dir, "tsextool.conf"))
        if done.returncode == 0:
            fail("icinga2 daemon -C accepted a copy with the %s" % name)
    print("icinga2: %d services applied as expected, %d broken copies refused"
          % (len(services), len(damages)))


# ---- sudoers, the command lines and the real program -----------------------

def check_commands(src, work, sansim, tsextool):
    visudo = need("visudo")
    shipped = os.path.join(src, "packaging/examples/sudoers/tsextool")
    done = run([visudo, "-cf", shipped])
    if done.returncode != 0:
        fail("visudo -cf refused the sudoers example:\n" + done.stdout)
    copy = os.path.join(work, "sudoers.broken")
    write(copy, broken(read(shipped), "NOPASSWD:", "NOPASSWD", "tag"))
    if run([visudo, "-cf", copy]).returncode == 0:
        fail("visudo -cf accepted a rule without the colon after NOPASSWD")
    words = allowed_command(src)
    if not words:
        return
    plugin = deadline(words)

    nrpe = [line for line in read(os.path.join(src, "packaging/examples/nrpe/tsextool.cfg"))
            .splitlines() if line.startswith("command[")]
    if len(nrpe) != 1 or not nrpe[0].startswith("command[check_tsextool]="):
        fail("nrpe: one command[check_tsextool] line expected: %r" % nrpe)
    elif nrpe[0].split("=", 1)[1].split() != ["/usr/bin/sudo"] + words:
        fail("nrpe: %s is not sudo and the sudoers command %s" % (nrpe[0], words))

    commands = {o["command_name"]: o["command_line"].split() for kind, o in nagios_objects(
        read(os.path.join(src, "packaging/examples/nagios/tsextool.cfg"))) if kind == "command"}
    if commands.get("check_tsextool_local") != ["/usr/bin/sudo"] + words:
        fail("nagios: check_tsextool_local runs %s, the sudoers rule allows %s"
             % (commands.get("check_tsextool_local"), words))
    remote = commands.get("check_tsextool", [])
    if remote[:1] != ["$USER1$/check_nrpe"] or "-c" not in remote[:-1] \
            or remote[remote.index("-c") + 1] != "check_tsextool":
        fail("nagios: check_tsextool does not ask NRPE for check_tsextool: %s" % remote)
    elif "-t" not in remote[:-1] or not int(remote[remote.index("-t") + 1]) > plugin + 1:
        fail("nagios: check_nrpe's -t in %s is not above the plugin's %d s and its second"
             % (remote, plugin))

    # The line as NRPE runs it (sudo left out: the test is root already),
    # by the real program on the healthy and the degraded host.
    argv = [tsextool] + words[1:]
    for host in ("demo", "degraded"):
        topology = os.path.join(src, "sim/topologies/%s.json" % host)
        want = san_rules.nagios_state(san_rules.expand(sansim, topology))
        done = subprocess.run([sansim, "run", topology, "--"] + argv, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=60)
        first = done.stdout.decode("latin-1").split("\n", 1)[0]
        state = ["OK", "WARNING", "CRITICAL", "UNKNOWN"][want]
        if done.returncode != want or not first.startswith("SAN %s - " % state) \
                or " | vluns=" not in first:
            fail("%s on %s: exit %d, %r (expected %d, SAN %s with performance data)"
                 % (" ".join(shlex.quote(w) for w in words), host, done.returncode, first,
                    want, state))
    print("commands: sudoers, NRPE, Nagios and Icinga 2 run %s; run on demo and degraded"
          % " ".join(words))


def main(argv):
    if len(argv) < 3 or argv[0] not in ("nagios4", "icinga2", "commands") \
            or (argv[0] == "commands") != (len(argv) == 5) or len(argv) not in (3, 5):
        print(__doc__.strip().splitlines()[0], file=sys.stderr)
        print("usage: check_monitoring.py {nagios4|icinga2} SRC WORK | "
              "commands SRC WORK SANSIM TSEXTOOL", file=sys.stderr)
        return 2
    what, src, work = argv[0], os.path.abspath(argv[1]), os.path.abspath(argv[2])
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    if what == "nagios4":
        check_nagios4(src, work)
    elif what == "icinga2":
        check_icinga2(src, work)
    else:
        if os.geteuid() != 0:
            print("FAIL: the simulated host needs root")
            return 1
        check_commands(src, work, argv[3], argv[4])
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
