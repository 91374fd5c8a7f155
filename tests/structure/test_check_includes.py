"""check_includes.py on small trees written for each case: what it must
refuse, in one line per offending include, and what it must let pass."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_includes  # noqa: E402


class Tree:
    """A source root of the files given as {path: text}."""

    def __init__(self, files):
        self.folder = tempfile.TemporaryDirectory()
        for path, text in files.items():
            full = os.path.join(self.folder.name, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "w", encoding="utf-8") as out:
                out.write(text)

    def problems(self):
        return check_includes.problems(self.folder.name)

    def close(self):
        self.folder.cleanup()


def include(*names):
    return "".join('#include "%s"\n' % name for name in names)


# A clean tree: a program over the libraries, a library over another.
CLEAN = {
    "bounded/bound.h": "",
    "bounded/bound.cpp": include("bound.h"),
    "common/list.h": include("boundedfunc.h", "bound.h"),
    "common/list.cpp": include("list.h", "../bounded/bound.h"),
    "scsi/platform/plat.h": "",
    "scsi/request.cpp": include("platform/plat.h", "list.h") + "#include <stdio.h>\n",
    "scsi/request.h": "",
    "tool/alpha.h": include("../common/list.h"),
    "tool/alpha.cpp": include("alpha.h", "beta.h", "request.h"),
    "tool/beta.h": include("status.h"),
    "tool/beta.cpp": include("beta.h", "status.h"),
    "tool/status.h": "",
    "tool/main.cpp": include("alpha.h", "beta.h"),
}


def with_files(extra):
    files = dict(CLEAN)
    files.update(extra)
    return files


class Checks(unittest.TestCase):
    def check(self, files):
        tree = Tree(files)
        try:
            return tree.problems()
        finally:
            tree.close()

    def test_clean_tree_passes(self):
        self.assertEqual(self.check(CLEAN), [])

    def test_library_including_a_program_file(self):
        # Both ways an include finds its file: beside it, and in a folder's
        # root on the include path.
        for text in (include("../tool/status.h"), "\n" + include("status.h")):
            with self.subTest(text=text):
                found = self.check(with_files({"common/list.cpp": text}))
                self.assertEqual(len(found), 1, found)
                self.assertTrue(found[0].startswith("common/list.cpp:%d: " % text.count("\n")))
                self.assertIn("tool/status.h", found[0])

    def test_library_subfolder_including_a_program_file(self):
        found = self.check(with_files({"scsi/platform/plat.h": include("../../tool/status.h")}))
        self.assertEqual(len(found), 1, found)
        self.assertTrue(found[0].startswith("scsi/platform/plat.h:1: "), found)

    def test_circle_of_two_names_both_includes(self):
        found = self.check(with_files({"tool/beta.cpp": include("beta.h", "alpha.h")}))
        self.assertEqual([line.split(": ")[0] for line in found],
                         ["tool/alpha.cpp:2", "tool/beta.cpp:2"], found)

    def test_circle_of_three(self):
        found = self.check(with_files({
            "tool/gamma.h": "",
            "tool/gamma.cpp": include("gamma.h", "alpha.h"),
            "tool/beta.h": include("gamma.h"),
        }))
        self.assertEqual([line.split(": ")[0] for line in found],
                         ["tool/alpha.cpp:2", "tool/beta.h:1", "tool/gamma.cpp:2"], found)

    # A program's modules grouped in folders of its own, each header named
    # from the program's root ("records/rec.h"), as tool/ names them.
    GROUPED = {
        "tool/records/rec.h": include("../../common/list.h"),
        "tool/records/rec.cpp": include("records/rec.h"),
        "tool/checks/check.h": include("records/rec.h"),
        "tool/checks/check.cpp": include("checks/check.h", "records/rec.h"),
        "tool/main.cpp": include("checks/check.h"),
    }

    def test_grouped_program_passes(self):
        self.assertEqual(self.check(with_files(self.GROUPED)), [])

    def test_circle_across_group_folders(self):
        files = with_files(self.GROUPED)
        files["tool/records/rec.cpp"] = include("records/rec.h", "checks/check.h")
        found = self.check(files)
        self.assertEqual([line.split(": ")[0] for line in found],
                         ["tool/checks/check.cpp:2", "tool/checks/check.h:1",
                          "tool/records/rec.cpp:2"], found)
        self.assertIn("tool/checks/check, tool/records/rec", found[0])

    def test_library_including_a_group_header_of_a_program(self):
        files = with_files(self.GROUPED)
        files["lun/plan.cpp"] = include("records/rec.h")
        found = self.check(files)
        self.assertEqual(len(found), 1, found)
        self.assertTrue(found[0].startswith("lun/plan.cpp:1: "), found)
        self.assertIn("tool/records/rec.h of program folder tool/", found[0])

    def test_circle_through_a_header_without_source(self):
        # status.h has no source: alpha reaches beta through it.
        found = self.check(with_files({
            "tool/status.h": include("alpha.h"),
        }))
        self.assertIn("tool/beta.h:1: reaches module tool/alpha", "\n".join(found))
        self.assertEqual(len(found), 3, found)

    def test_interface_header_back_to_its_user_is_no_circle(self):
        # A header the platform files fill in, which uses its user's types.
        self.assertEqual(self.check(with_files({
            "showdisk/lun.h": "",
            "showdisk/lun.cpp": include("lun.h", "lun_platform.h"),
            "showdisk/lun_platform.h": include("lun.h"),
            "showdisk/lun_linux.h": include("lun.h"),
            "showdisk/lun_linux.cpp": include("lun_linux.h", "lun_platform.h"),
        })), [])

    def test_circle_inside_a_library(self):
        # The pass-through calls the withheld devices, which read its
        # request record: a circle unless the record stands apart.
        found = self.check(with_files({
            "scsi/request.h": "",
            "scsi/request.cpp": include("request.h", "withheld.h"),
            "scsi/withheld.h": include("request.h"),
            "scsi/withheld.cpp": include("withheld.h"),
        }))
        self.assertEqual(len(found), 2)
        self.assertTrue(all("circle of modules scsi/request, scsi/withheld" in line
                            for line in found), found)
        self.assertEqual(self.check(with_files({
            "scsi/record.h": "",
            "scsi/request.h": include("record.h"),
            "scsi/request.cpp": include("request.h", "withheld.h"),
            "scsi/withheld.h": include("record.h"),
            "scsi/withheld.cpp": include("withheld.h"),
        })), [])

    def test_files_outside_the_shipped_folders_do_not_count(self):
        self.assertEqual(self.check(with_files({
            "sim/host.h": include("../tool/alpha.h"),
            "tests/tool/alpha_test.cpp": include("../../tool/alpha.h"),
            "common/list.cpp": include("../sim/host.h"),
        })), [])

    def test_exit_status(self):
        tree = Tree(with_files({"bounded/bound.cpp": include("../capture/record.h"),
                                "capture/record.h": ""}))
        try:
            self.assertEqual(check_includes.main(["check_includes.py", tree.folder.name]), 1)
        finally:
            tree.close()
        tree = Tree(CLEAN)
        try:
            self.assertEqual(check_includes.main(["check_includes.py", tree.folder.name]), 0)
        finally:
            tree.close()


if __name__ == "__main__":
    unittest.main()
