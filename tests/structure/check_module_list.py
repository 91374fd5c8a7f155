"""The module list of a program's README against its folder.

A program's README (tool/README.md) lists its modules, one a line, in the
indented block under its "## Modules" heading: a module's path from the
program's folder without suffix when it has a header and a source
("discovery/tsioctrl"), else the file's name ("main.cpp",
"records/tsstatus.h"). Fails when a module of the folder has no line, or a
line names no module: the list is what a reader goes by to find a file.

Each problem is one line; the exit status is 1 when there is one, else 0.

    check_module_list.py PROGRAM_FOLDER
"""

import os
import sys

SOURCE_SUFFIXES = (".h", ".cpp")


def modules(folder):
    """The modules of the folder and its subfolders, named as the list names them."""
    files = []
    for where, _dirs, names in os.walk(folder):
        for name in names:
            if name.endswith(SOURCE_SUFFIXES):
                path = os.path.relpath(os.path.join(where, name), folder)
                files.append(path.replace(os.sep, "/"))
    stems = {}
    for path in files:
        stems.setdefault(os.path.splitext(path)[0], []).append(path)
    return {stem if len(paths) > 1 else paths[0] for stem, paths in stems.items()}


def listed(readme):
    """The names at the start of the lines of the Modules block."""
    names = []
    inside = False
    with open(readme, encoding="utf-8") as text:
        for line in text:
            if line.startswith("## "):
                inside = line.strip() == "## Modules"
                continue
            if inside and line.startswith("    ") and not line.startswith("     "):
                names.append(line.split()[0])
    return names


def problems(folder):
    readme = os.path.join(folder, "README.md")
    if not os.path.isfile(readme):
        return ["%s: missing" % readme]
    names = listed(readme)
    found = modules(folder)
    lines = ["%s: module %s has no line under Modules" % (readme, name)
             for name in sorted(found - set(names))]
    lines += ["%s: %s is listed but is no module of %s" % (readme, name, folder)
              for name in names if name not in found]
    lines += ["%s: %s is listed twice" % (readme, name)
              for name in sorted(set(names)) if names.count(name) > 1]
    return lines


def main(argv):
    if len(argv) != 2:
        sys.stdout.write("usage: check_module_list.py PROGRAM_FOLDER\n")
        return 2
    found = problems(argv[1])
    for line in found:
        sys.stdout.write(line + "\n")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
