"""check_module_list.py on small program folders written for each case."""

import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_module_list  # noqa: E402

FILES = ("main.cpp", "tstool.h", "tstool.cpp", "records/rec.h", "records/rec.cpp",
         "records/status.h")
README = """# tool/

    main.cpp                 not a module line: the block is under Modules only

## Modules

    main.cpp                 the entry
    tstool                   the command line,
                             over two lines
    records/rec              the records
    records/status.h         the codes

## After
    gone                     not a module line either
"""


class ModuleList(unittest.TestCase):
    def check(self, files=FILES, readme=README):
        with tempfile.TemporaryDirectory() as folder:
            for path in files:
                os.makedirs(os.path.join(folder, os.path.dirname(path)), exist_ok=True)
                open(os.path.join(folder, path), "w").close()
            if readme is not None:
                with open(os.path.join(folder, "README.md"), "w", encoding="utf-8") as out:
                    out.write(readme)
            return [line.split(": ", 1)[1] for line in check_module_list.problems(folder)]

    def test_every_module_listed_passes(self):
        self.assertEqual(self.check(), [])

    def test_module_without_a_line(self):
        self.assertEqual(self.check(files=FILES + ("checks/alarm.h", "checks/alarm.cpp")),
                         ["module checks/alarm has no line under Modules"])

    def test_line_of_a_moved_module(self):
        # records/rec moved back to the top: its old line names nothing.
        found = self.check(files=FILES[:3] + ("rec.h", "rec.cpp", "records/status.h"))
        self.assertEqual(len(found), 2, found)
        self.assertEqual(found[0], "module rec has no line under Modules")
        self.assertTrue(found[1].startswith("records/rec is listed but is no module"), found)

    def test_module_listed_twice(self):
        readme = README.replace("    records/rec ", "    tstool                   again\n"
                                "    records/rec ")
        self.assertEqual(self.check(readme=readme), ["tstool is listed twice"])

    def test_header_alone_is_named_with_its_suffix(self):
        readme = README.replace("records/status.h ", "records/status   ")
        found = self.check(readme=readme)
        self.assertEqual(len(found), 2, found)
        self.assertEqual(found[0], "module records/status.h has no line under Modules")
        self.assertTrue(found[1].startswith("records/status is listed but is no module"), found)

    def test_missing_readme(self):
        self.assertEqual(self.check(readme=None), ["missing"])


if __name__ == "__main__":
    unittest.main()
