"""The include structure of the shipped sources.

Reads every `#include "..."` line of the folders that go into the programs
and fails when

- a library folder (bounded, common, scsi, lun) includes a file of a
  program's folder (tool, showdisk, showdisk_solaris, capture): the
  libraries are built and tested without the programs;
- modules include each other in a circle, of any length, in a library or
  a program: a module is a header and its source (one file stem in one
  folder), and a module that includes one of its own includers cannot be
  built or tested without it.

Each offending include is one line, "file:line: why", with the file's path
from the source root; the exit status is 1 when there is one, else 0.

An include is looked for beside the including file, then in each folder's
root in the order of the lists below (the build adds those folders to the
include path). A folder inside a program's (tool/records, tool/checks, ...)
is part of that program; its headers are named from the program's root
("records/tstopology.h"), which is how they are found there. A name found
nowhere in these folders (a system or test header) is none of the check's
business.

    check_includes.py SOURCE_ROOT
"""

import os
import re
import sys

LIBRARIES = ("bounded", "common", "scsi", "lun")
PROGRAMS = ("tool", "showdisk", "showdisk_solaris", "capture")
SOURCE_SUFFIXES = (".h", ".hpp", ".c", ".cc", ".cpp", ".inc")
INCLUDE = re.compile(r'^\s*#\s*include\s*"([^"]+)"')


def top_folder(path):
    return path.split("/", 1)[0]


def source_files(root):
    """The shipped sources, as paths from root with '/' as separator."""
    files = []
    for folder in LIBRARIES + PROGRAMS:
        base = os.path.join(root, folder)
        for where, _dirs, names in os.walk(base):
            for name in names:
                if name.endswith(SOURCE_SUFFIXES):
                    full = os.path.join(where, name)
                    files.append(os.path.relpath(full, root).replace(os.sep, "/"))
    return sorted(files)


def resolve(root, including, name, known):
    """The shipped file that `#include "name"` in including reads, or None."""
    candidates = [os.path.join(os.path.dirname(including), name)]
    candidates += [os.path.join(folder, name) for folder in LIBRARIES + PROGRAMS]
    for candidate in candidates:
        path = os.path.normpath(candidate).replace(os.sep, "/")
        if path in known:
            return path
        if os.path.isfile(os.path.join(root, path)):
            return None  # a file outside the shipped folders
    return None


def includes(root, files):
    """(including file, line number, included file) for every include of a
    shipped file."""
    known = set(files)
    edges = []
    for path in files:
        with open(os.path.join(root, path), encoding="utf-8", errors="replace") as source:
            for number, line in enumerate(source, 1):
                match = INCLUDE.match(line)
                if match:
                    target = resolve(root, path, match.group(1), known)
                    if target is not None:
                        edges.append((path, number, target))
    return edges


HEADER_SUFFIXES = (".h", ".hpp")


def modules(files):
    """The modules: the stems (path without suffix) that have a header and a
    source beside it."""
    headers = {os.path.splitext(f)[0] for f in files if f.endswith(HEADER_SUFFIXES)}
    sources = {os.path.splitext(f)[0] for f in files if not f.endswith(HEADER_SUFFIXES)}
    return headers & sources


def module_edges(files, edges):
    """(module, included module, including file, line number) for every
    include between two modules. A header without a source of its own (a
    table of constants, the interface a platform's file fills in) is no
    module: an include of it counts as the includes it holds, at the line
    that includes it."""
    stems = modules(files)
    direct = {}
    for source, _number, target in edges:
        direct.setdefault(source, []).append(target)

    def reached(path, seen):
        stem = os.path.splitext(path)[0]
        if stem in stems:
            return {stem}
        if path in seen:
            return set()
        seen.add(path)
        found = set()
        for target in direct.get(path, []):
            found |= reached(target, seen)
        return found

    result = []
    for source, number, target in edges:
        own = os.path.splitext(source)[0]
        if own not in stems:
            continue
        for other in sorted(reached(target, set())):
            if other != own:
                result.append((own, other, source, number))
    return result


def circles(links):
    """The sets of modules that reach each other through includes (the
    strongly connected components of more than one module)."""
    graph = {}
    for own, other, _source, _number in links:
        graph.setdefault(own, set()).add(other)
        graph.setdefault(other, set())
    # Tarjan's algorithm, without recursion: the tree has long include chains.
    index = {}
    low = {}
    stack = []
    on_stack = set()
    found = []
    counter = 0
    for start in sorted(graph):
        if start in index:
            continue
        work = [(start, iter(sorted(graph[start])))]
        index[start] = low[start] = counter
        counter += 1
        stack.append(start)
        on_stack.add(start)
        while work:
            node, successors = work[-1]
            advanced = False
            for successor in successors:
                if successor not in index:
                    index[successor] = low[successor] = counter
                    counter += 1
                    stack.append(successor)
                    on_stack.add(successor)
                    work.append((successor, iter(sorted(graph[successor]))))
                    advanced = True
                    break
                if successor in on_stack:
                    low[node] = min(low[node], index[successor])
            if advanced:
                continue
            work.pop()
            if work:
                parent = work[-1][0]
                low[parent] = min(low[parent], low[node])
            if low[node] == index[node]:
                component = set()
                while True:
                    member = stack.pop()
                    on_stack.discard(member)
                    component.add(member)
                    if member == node:
                        break
                if len(component) > 1:
                    found.append(component)
    return found


def problems(root):
    """The offending includes, one line each, in file order."""
    files = source_files(root)
    edges = includes(root, files)
    links = module_edges(files, edges)
    lines = []
    for source, number, target in edges:
        if top_folder(source) in LIBRARIES and top_folder(target) in PROGRAMS:
            lines.append((source, number, "library folder %s/ includes %s of program folder %s/"
                          % (top_folder(source), target, top_folder(target))))
    for component in circles(links):
        names = ", ".join(sorted(component))
        for own, other, source, number in links:
            if own in component and other in component:
                lines.append((source, number, "reaches module %s, in the circle of modules %s"
                              % (other, names)))
    return ["%s:%d: %s" % line for line in sorted(set(lines))]


def main(argv):
    if len(argv) != 2:
        sys.stdout.write("usage: check_includes.py SOURCE_ROOT\n")
        return 2
    found = problems(argv[1])
    for line in found:
        sys.stdout.write(line + "\n")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
