#!/usr/bin/env python3
"""The real-kernel stage: Debian's own kernel under QEMU runs the kit's
programs on scsi_debug LUNs multipathed by dm-multipath.

On the host this script
  1. downloads the kernel image package that linux-image-amd64 depends on
     (apt-get download, never installed), unpacks it into WORK/root and runs
     depmod there; it prints the kernel version;
  2. builds a small initramfs: Debian's static busybox, tests/kernel/init and
     the kernel's modules that reach the host's root (virtio, 9p, overlay);
  3. boots it with qemu-system-x86_64 -nodefaults (KVM where /dev/kvm opens,
     TCG otherwise), the host's root shared read-only over virtio-9p and
     WORK/out shared writable for the results, QEMU under a timeout;
  4. reads the guest's results (WORK/out/results.json) and prints one line
     for each check. A check listed in expected_failures.txt that fails is
     reported as such and does not fail the stage; any other failing check,
     a guest that did not finish, or a missing result does.

The guest (tests/kernel/guest.py) uses the host's files, not its services:
its /usr, udev, multipath-tools and the programs of the build tree.
"""

import argparse
import fnmatch
import gzip
import json
import os
import re
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))

# What the initramfs must load before the host's root can be mounted; the
# rest of the kernel's modules are loaded inside the guest's root.
BOOT_MODULES = ["virtio_pci", "9pnet_virtio", "9p", "overlay"]
# Seconds a KVM guest has to reach its root before the stage falls back to TCG.
KVM_GRACE = 25


def log(text):
    print(f"kernel-test: {text}", flush=True)


def run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


def kernel_package():
    """The image package that linux-image-amd64 depends on."""
    out = subprocess.run(["apt-cache", "depends", "linux-image-amd64"],
                         capture_output=True, text=True, check=True).stdout
    for line in out.splitlines():
        m = re.match(r"\s*Depends:\s*(linux-image-\S+)", line)
        if m:
            return m.group(1)
    sys.exit("kernel-test: apt-cache names no image package for linux-image-amd64")


def fetch_kernel(work):
    """Downloads and unpacks the image package once; returns (release,
    image path, modules root)."""
    package = kernel_package()
    pkgdir = os.path.join(work, "pkg")
    root = os.path.join(work, "root")
    stamp = os.path.join(work, "root.package")
    os.makedirs(pkgdir, exist_ok=True)
    debs = [f for f in os.listdir(pkgdir) if f.startswith(package + "_") and f.endswith(".deb")]
    if not debs:
        log(f"downloading {package}")
        run(["apt-get", "download", "-q", package], cwd=pkgdir,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        debs = [f for f in os.listdir(pkgdir) if f.startswith(package + "_") and f.endswith(".deb")]
    if len(debs) != 1:
        sys.exit(f"kernel-test: expected one {package} package in {pkgdir}, found {debs}")
    deb = os.path.join(pkgdir, debs[0])
    done = open(stamp).read() if os.path.exists(stamp) else ""
    if done != debs[0]:
        shutil.rmtree(root, ignore_errors=True)
        run(["dpkg", "-x", deb, root])
        with open(stamp, "w") as f:
            f.write(debs[0])
    releases = os.listdir(os.path.join(root, "lib", "modules"))
    if len(releases) != 1:
        sys.exit(f"kernel-test: {root} holds modules of {releases}")
    release = releases[0]
    run(["depmod", "-b", root, release])
    image = os.path.join(root, "boot", f"vmlinuz-{release}")
    if not os.path.exists(image):
        sys.exit(f"kernel-test: {image} is missing from {debs[0]}")
    log(f"kernel {release} from {debs[0]}")
    return release, image, root


def boot_modules(root, release):
    """The .ko files of BOOT_MODULES and their dependencies, in load order."""
    order = []
    for module in BOOT_MODULES:
        out = subprocess.run(["modprobe", "-d", root, "-S", release, "--show-depends", module],
                             capture_output=True, text=True, check=True).stdout
        for line in out.splitlines():
            words = line.split()
            if words[:1] == ["insmod"] and words[1] not in order:
                order.append(words[1])
    return order


def build_initramfs(work, root, release):
    tree = os.path.join(work, "initramfs")
    shutil.rmtree(tree, ignore_errors=True)
    for d in ("bin", "proc", "sys", "dev", "lib/modules"):
        os.makedirs(os.path.join(tree, d))
    busybox = "/bin/busybox"
    info = subprocess.run(["dpkg-query", "-S", busybox], capture_output=True, text=True).stdout
    if not info.startswith("busybox-static:"):
        sys.exit("kernel-test: /bin/busybox is not busybox-static's (install busybox-static)")
    shutil.copy2(busybox, os.path.join(tree, "bin", "busybox"))
    shutil.copy2(os.path.join(HERE, "init"), os.path.join(tree, "init"))
    names = []
    for path in boot_modules(root, release):
        name = os.path.basename(path)
        if path.endswith(".xz") or path.endswith(".zst"):
            sys.exit(f"kernel-test: {name} is compressed; busybox insmod needs plain modules")
        shutil.copy2(path, os.path.join(tree, "lib", "modules", name))
        names.append("/lib/modules/" + name)
    with open(os.path.join(tree, "modules.order"), "w") as f:
        f.write("\n".join(names) + "\n")
    image = os.path.join(work, "initramfs.cpio.gz")
    files = subprocess.run("find . | sort", shell=True, cwd=tree, capture_output=True,
                           check=True).stdout
    cpio = subprocess.run(["cpio", "--quiet", "-o", "-H", "newc", "-R", "0:0"], cwd=tree,
                          input=files, capture_output=True, check=True).stdout
    with gzip.open(image, "wb", compresslevel=1) as f:
        f.write(cpio)
    return image


def kvm_usable():
    try:
        fd = os.open("/dev/kvm", os.O_RDWR)
    except OSError:
        return False
    os.close(fd)
    return True


def boot(args, image, initramfs, kernel_root, out):
    kvm = kvm_usable() if args.accel == "auto" else args.accel == "kvm"
    cmdline = " ".join([
        "console=ttyS0", "panic=-1", "loglevel=4", "rdinit=/init",
        f"tskit.src={args.source}", f"tskit.build={args.build}",
        f"tskit.kernel={kernel_root}", f"tskit.only={args.only or 'all'}",
    ])
    console = os.path.join(args.work, "console.log")
    qemu = [
        "qemu-system-x86_64", "-nodefaults", "-no-user-config", "-no-reboot",
        "-display", "none", "-m", "1024", "-smp", "2",
        "-machine", "q35,accel=kvm" if kvm else "q35,accel=tcg",
        "-cpu", "host,-arch-capabilities" if kvm else "max",
        "-kernel", image, "-initrd", initramfs, "-append", cmdline,
        "-fsdev", "local,id=hostroot,path=/,security_model=none,readonly=on,multidevs=remap",
        "-device", "virtio-9p-pci,fsdev=hostroot,mount_tag=hostroot",
        "-fsdev", f"local,id=results,path={out},security_model=none,multidevs=remap",
        "-device", "virtio-9p-pci,fsdev=results,mount_tag=results",
        "-serial", f"file:{console}",
    ]
    start = time.monotonic()
    proc = subprocess.Popen(qemu, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            stderr=subprocess.STDOUT, text=True)
    log(f"booting under {'KVM' if kvm else 'TCG'} (timeout {args.timeout} s, console {console})")
    status = None
    while time.monotonic() - start < args.timeout:
        try:
            status = proc.wait(timeout=1)
            break
        except subprocess.TimeoutExpired:
            pass
        # Nested KVM can be there and still never run the guest: without the
        # root within KVM_GRACE seconds, boot again under TCG.
        if kvm and time.monotonic() - start > KVM_GRACE and "root ready" not in read_text(console):
            proc.kill()
            proc.wait()
            log(f"no root under KVM within {KVM_GRACE} s: booting again under TCG")
            args.accel = "tcg"
            return boot(args, image, initramfs, kernel_root, out)
    if status is None:
        proc.kill()
        proc.wait()
    messages = proc.stdout.read().strip()
    if messages:
        print(messages, file=sys.stderr)
    return status, time.monotonic() - start, console


def read_text(path):
    try:
        with open(path, errors="replace") as f:
            return f.read()
    except OSError:
        return ""


def load_expected_failures():
    names = {}
    with open(os.path.join(HERE, "expected_failures.txt")) as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                pattern, _, why = line.partition(" | ")
                names[pattern.strip()] = why.strip()
    return names


def listed(name, expected):
    for pattern, why in expected.items():
        if fnmatch.fnmatchcase(name, pattern):
            return why
    return None


def report(out, expected):
    path = os.path.join(out, "results.json")
    if not os.path.exists(path):
        return None
    with open(path) as f:
        results = json.load(f)
    unexpected, known, fixed = [], [], []
    for check in results["checks"]:
        name, ok = check["name"], check["ok"]
        why = listed(name, expected)
        if ok and why is not None:
            fixed.append(name)
            log(f"FIXED  {name} (listed in expected_failures.txt: switch it on)")
        elif ok:
            log(f"ok     {name}")
        elif why is not None:
            known.append(name)
            log(f"KNOWN  {name}: {check['detail']}  [{why}]")
        else:
            unexpected.append(name)
            log(f"FAIL   {name}: {check['detail']}")
    for pattern in expected:
        if not any(fnmatch.fnmatchcase(c["name"], pattern) for c in results["checks"]):
            log(f"note: expected failure {pattern} names no check that ran")
    return results, unexpected, known, fixed


def keep(out, dest):
    """Each scenario's capture beside the calls the guest recorded in it,
    for replay_captures.py."""
    os.makedirs(dest, exist_ok=True)
    with open(os.path.join(out, "recorded.json")) as f:
        recorded = json.load(f)
    for name in sorted(f for f in os.listdir(out) if f.endswith(".capture.json")):
        scenario = name[:-len(".capture.json")]
        shutil.copyfile(os.path.join(out, name), os.path.join(dest, name))
        calls = [{k: c[k] for k in ("program", "words", "status", "stdout")}
                 for c in recorded if c["scenario"] == scenario]
        with open(os.path.join(dest, scenario + ".recorded.json"), "w") as f:
            json.dump(calls, f, indent=1)
            f.write("\n")
    log(f"captures kept in {dest}")


def replay_this_run(args, out):
    """The captures this run took, replayed on the simulated host against
    what the guest printed: a kernel whose picture the simulator does not
    give shows here, not only when the kept captures are taken again."""
    taken = os.path.join(args.work, "taken")
    shutil.rmtree(taken, ignore_errors=True)
    if not any(f.endswith(".capture.json") for f in os.listdir(out)):
        log("replay: this run took no capture")
        return True
    keep(out, taken)
    replay = subprocess.run(
        [sys.executable, "-B", os.path.join(HERE, "replay_captures.py"),
         "--sansim", os.path.join(args.build, "sim", "sansim"),
         "--tsextool", os.path.join(args.build, "tool", "tsexTool"),
         "--showdisk", os.path.join(args.build, "showdisk", "ts_showdisk"), taken],
        capture_output=True, text=True, timeout=600)
    for line in replay.stdout.splitlines():
        if not line.startswith("ok "):
            log(f"replay: {line}")
    if replay.returncode != 0:
        log("FAIL: this run's captures do not replay on the simulated host as the guest ran")
    return replay.returncode == 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--source", default=os.path.dirname(os.path.dirname(HERE)))
    parser.add_argument("--build", help="the build tree whose programs run in the guest")
    parser.add_argument("--work", help="the stage's own folder (default SOURCE/build/kernel)")
    parser.add_argument("--timeout", type=int, default=420, help="seconds for the whole boot")
    parser.add_argument("--accel", choices=("auto", "kvm", "tcg"), default="auto",
                        help="KVM where /dev/kvm opens (auto), or as named")
    parser.add_argument("--keep", help="copy each scenario's capture and recorded calls here")
    parser.add_argument("--only", default="", help="comma-separated scenario names")
    args = parser.parse_args()
    args.source = os.path.abspath(args.source)
    args.build = os.path.abspath(args.build or os.path.join(args.source, "build", "test"))
    args.work = os.path.abspath(args.work or os.path.join(args.source, "build", "kernel"))
    for program in ("tool/tsexTool", "showdisk/ts_showdisk", "capture/tskit-capture",
                    "sim/sansim"):
        if not os.access(os.path.join(args.build, program), os.X_OK):
            sys.exit(f"kernel-test: {args.build}/{program} is not built")
    os.makedirs(args.work, exist_ok=True)
    started = time.monotonic()
    release, image, kernel_root = fetch_kernel(args.work)
    initramfs = build_initramfs(args.work, kernel_root, release)
    out = os.path.join(args.work, "out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    status, took, console = boot(args, image, initramfs, kernel_root, out)
    with open(console, errors="replace") as f:
        text = f.read()
    if args.only or status != 0:
        sys.stdout.write(text)
    if status is None:
        log(f"FAIL: the guest did not power off within {args.timeout} s")
    results = report(out, load_expected_failures())
    total = time.monotonic() - started
    if results is None:
        log("FAIL: the guest wrote no results")
        return 1
    results, unexpected, known, fixed = results
    if args.keep:
        keep(out, args.keep)
    replayed = replay_this_run(args, out)
    for line in results.get("timings", []):
        log(line)
    log(f"guest {took:.1f} s, stage {total:.1f} s; {len(results['checks'])} checks, "
        f"{len(unexpected)} failed, {len(known)} known failures, {len(fixed)} fixed")
    if results.get("unfinished"):
        log(f"FAIL: the guest stopped early: {results['unfinished']}")
        return 1
    return 1 if unexpected or status is None or not replayed else 0


if __name__ == "__main__":
    sys.exit(main())
