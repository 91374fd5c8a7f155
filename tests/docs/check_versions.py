"""Every release version string of the kit agrees with the one the build
defines (project(tskit VERSION ...) in CMakeLists.txt): the changelog's
newest entry, the manual pages' headers, the package and tarball names of
the README, the expected --version lines of the command-line tables, and
what the built tsexTool --version prints. The banners of show version and
ts_showdisk -v are no release version and are not read here.

    check_versions.py SOURCE_ROOT TSEXTOOL
    check_versions.py --selftest SOURCE_ROOT TSEXTOOL WORKDIR

The self-test damages one copy of each file in turn and expects a failure.
"""

import glob
import os
import re
import shutil
import subprocess
import sys

VERSION = r"[0-9]+\.[0-9]+\.[0-9]+"
# Where a release version stands, by file: a pattern whose group 1 is it.
PLACES = {
    "packaging/changelog": re.compile(r"\Atskit \((%s)\) " % VERSION),
    "README.md": re.compile(r"(?:tskit[_-]|tsexTool-|ts_showdisk-|tskit-capture-)(%s)" % VERSION),
    "tests/e2e/command_line.table": re.compile(r"^\| tsexTool (%s)$" % VERSION, re.M),
}
MAN_HEADER = re.compile(r'^\.TH \S+ 8 "[^"]*" "tskit (%s)"' % VERSION, re.M)


def release(root):
    with open(os.path.join(root, "CMakeLists.txt")) as f:
        found = re.search(r"^project\(tskit VERSION (%s) " % VERSION, f.read(), re.M)
    return found.group(1) if found else None


def changelog_order(text):
    """The entries' versions, newest first, must go down."""
    versions = [tuple(int(n) for n in v.split("."))
                for v in re.findall(r"^tskit \((%s)\) " % VERSION, text, re.M)]
    return versions == sorted(versions, reverse=True) and len(set(versions)) == len(versions)


def problems(root, tsextool):
    want = release(root)
    if want is None:
        return ["CMakeLists.txt defines no release version"]
    found = []
    for name, pattern in PLACES.items():
        with open(os.path.join(root, name)) as f:
            text = f.read()
        versions = pattern.findall(text)
        if not versions:
            found.append("%s names no release version" % name)
        found += ["%s names %s, not %s" % (name, v, want) for v in versions if v != want]
        if name == "packaging/changelog" and not changelog_order(text):
            found.append("packaging/changelog: the entries are not newest first, once each")
    for page in sorted(glob.glob(os.path.join(root, "docs", "*.8"))):
        with open(page) as f:
            header = MAN_HEADER.search(f.read())
        if not header or header.group(1) != want:
            found.append("%s: the header names no tskit %s" % (os.path.relpath(page, root), want))
    if tsextool:
        done = subprocess.run([tsextool, "--version"], stdout=subprocess.PIPE)
        if done.stdout != ("tsexTool %s\n" % want).encode() or done.returncode != 0:
            found.append("tsexTool --version printed %r" % done.stdout)
    return found


def selftest(root, tsextool, work):
    """A copy of the files with one version changed at a time must fail."""
    damages = [("packaging/changelog", "tskit (", "tskit (9"),
               ("README.md", "tskit_", "tskit_9"),
               ("tests/e2e/command_line.table", "| tsexTool 1", "| tsexTool 9"),
               ("docs/tsexTool.8", '"tskit ', '"tskit 9')]
    failures = []
    for name, old, new in damages:
        shutil.rmtree(work, ignore_errors=True)
        for keep in list(PLACES) + ["CMakeLists.txt"] + \
                [os.path.relpath(p, root) for p in glob.glob(os.path.join(root, "docs", "*.8"))]:
            os.makedirs(os.path.join(work, os.path.dirname(keep)), exist_ok=True)
            shutil.copy(os.path.join(root, keep), os.path.join(work, keep))
        if problems(work, None):
            failures.append("the undamaged copy fails")
        path = os.path.join(work, name)
        with open(path) as f:
            text = f.read()
        with open(path, "w") as f:
            f.write(text.replace(old, new, 1))
        if not problems(work, None):
            failures.append("a damaged %s passes" % name)
    return failures


def main(argv):
    if argv[:1] == ["--selftest"] and len(argv) == 4:
        found = selftest(argv[1], argv[2], argv[3])
    elif len(argv) == 2:
        found = problems(argv[0], argv[1])
    else:
        sys.stdout.write(__doc__)
        return 2
    for line in found:
        print("FAIL:", line)
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
