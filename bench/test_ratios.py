#!/usr/bin/env python3
"""Checks of ratios.py on hand-made benchmark JSON: pairing, median choice,
units, errors and the target verdicts. Run: python3 bench/test_ratios.py"""
import os
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ratios  # noqa: E402


def agg(name, stat, cpu, unit="ns", label=None):
    b = {"name": f"{name}_{stat}", "run_name": name, "run_type": "aggregate",
         "aggregate_name": stat, "cpu_time": cpu, "real_time": cpu * 2, "time_unit": unit}
    if label:
        b["label"] = label
    return b


def it(name, cpu, unit="ns"):
    return {"name": name, "run_name": name, "run_type": "iteration",
            "cpu_time": cpu, "real_time": cpu, "time_unit": unit}


def fmt_doc(mine, rival=10.0, cases=("path2", "int5", "uint", "char", "float1c")):
    """Every case at dest 64: libc 10 ns, sprintf_s and snprintf_s mine[case]."""
    benches = []
    for case in cases:
        for impl, t in (("libc", 10.0), ("sprintf_s", mine[case]),
                        ("snprintf_s", mine[case]), ("stbsp_snprintf", rival)):
            benches.append(agg(f"fmt/{case}/{impl}/64", "median", t))
    return {"benchmarks": benches}


class LoadTest(unittest.TestCase):
    def test_median_aggregate_is_used_not_mean(self):
        doc = {"benchmarks": [agg("mem/memcpy/libc/64", "mean", 9.0),
                              agg("mem/memcpy/libc/64", "median", 4.0),
                              agg("mem/memcpy/libc/64", "stddev", 1.0),
                              agg("mem/memcpy/bounded/64", "median", 5.0)]}
        results, _ = ratios.load_results(doc)
        self.assertEqual(results[("mem", "memcpy", 64)], {"libc": 4.0, "bounded": 5.0})
        self.assertAlmostEqual(ratios.ratio(results, ("mem", "memcpy", 64), "bounded"), 1.25)

    def test_several_runs_give_the_median_of_their_medians(self):
        doc = {"benchmarks": [agg("mem/memcpy/libc/1", "median", t) for t in (3.0, 9.0, 4.0)]}
        results, _ = ratios.load_results(doc)
        self.assertEqual(results[("mem", "memcpy", 1)]["libc"], 4.0)

    def test_repetitions_without_aggregates_give_their_median_in_ns(self):
        doc = {"benchmarks": [it("str/strcat/libc/64", t, "us") for t in (0.003, 0.009, 0.004)]}
        results, _ = ratios.load_results(doc)
        self.assertAlmostEqual(results[("str", "strcat", 64)]["libc"], 4.0)

    def test_pairs_only_within_the_same_size(self):
        doc = {"benchmarks": [agg("mem/memset/libc/1", "median", 2.0),
                              agg("mem/memset/bounded/256", "median", 8.0),
                              agg("mem/memset/libc/256", "median", 4.0)]}
        results, _ = ratios.load_results(doc)
        self.assertIsNone(ratios.ratio(results, ("mem", "memset", 1), "bounded"))
        self.assertEqual(ratios.ratio(results, ("mem", "memset", 256), "bounded"), 2.0)

    def test_columns_follow_registration_not_report_order(self):
        doc = {"benchmarks": [dict(agg("fmt/char/snprintf_s/64", "median", 2.0), family_index=2),
                              dict(agg("fmt/char/libc/64", "median", 4.0), family_index=0),
                              dict(agg("fmt/char/sprintf_s/64", "median", 1.0), family_index=1)]}
        header = ratios.format_tables(*ratios.load_results(doc)).splitlines()[1].split()
        self.assertEqual(header, ["size", "libc", "ns", "sprintf_s", "ns", "(x)",
                                  "snprintf_s", "ns", "(x)"])

    def test_real_time_on_request_and_foreign_names_ignored(self):
        doc = {"benchmarks": [agg("fmt/char/libc/64", "median", 3.0, label="%c"),
                              agg("BM_Other/7", "median", 1.0)]}
        results, labels = ratios.load_results(doc, "real_time")
        self.assertEqual(results, {("fmt", "char", 64): {"libc": 6.0}})
        self.assertEqual(labels[("fmt", "char")], "%c")

    def test_error_is_shown_and_never_compared(self):
        bad = {"name": "fmt/int5/sprintf_s/64", "run_name": "fmt/int5/sprintf_s/64",
               "run_type": "iteration", "error_occurred": True, "error_message": "differs",
               "cpu_time": 0.0, "real_time": 0.0, "time_unit": "ns"}
        doc = {"benchmarks": [agg("fmt/int5/libc/64", "median", 10.0), bad]}
        results, labels = ratios.load_results(doc)
        self.assertIsNone(ratios.ratio(results, ("fmt", "int5", 64), "sprintf_s"))
        self.assertIn("error", ratios.format_tables(results, labels))


class TargetTest(unittest.TestCase):
    def verdicts(self, doc):
        def key(t):
            if "format_to_n" in t:
                return "sprintf_s plain"
            return t.split(" ")[0] + (" rival" if "faster" in t else "")
        return {key(t): (met, d)
                for t, met, d in ratios.check_targets(ratios.load_results(doc)[0])}

    def test_format_ratio_bound_is_inclusive_and_float_exempt(self):
        mine = {"path2": 6.0, "int5": 5.0, "uint": 5.0, "char": 5.0, "float1c": 30.0}
        self.assertTrue(self.verdicts(fmt_doc(mine))["sprintf_s"][0])
        mine["uint"] = 6.1
        met, detail = self.verdicts(fmt_doc(mine))["snprintf_s"]
        self.assertFalse(met)
        self.assertIn("uint 0.61", detail)

    def test_four_wins_over_the_rival_needed(self):
        mine = {"path2": 5.0, "int5": 5.0, "uint": 5.0, "char": 5.0, "float1c": 1.0}
        self.assertTrue(self.verdicts(fmt_doc(mine, rival=5.5))["sprintf_s rival"][0])
        mine["char"] = 5.5  # a tie is no win; the exempt case does not count
        self.assertFalse(self.verdicts(fmt_doc(mine, rival=5.5))["sprintf_s rival"][0])

    def test_plain_conversions_at_or_below_fmt_at_every_size(self):
        def doc(times):
            return {"benchmarks": [agg(f"fmt/{case}/{impl}/{size}", "median", t)
                                   for (case, size), (mine, rival) in times.items()
                                   for impl, t in (("libc", 30.0), ("sprintf_s", mine),
                                                   ("fmt_format_to_n", rival))]}
        times = {("int5", 16): (9.0, 9.0), ("str32", 256): (7.0, 20.0),
                 ("hctl", 64): (90.0, 50.0)}  # not a plain conversion: not held to it
        self.assertEqual((True, "all 2 within"), self.verdicts(doc(times))["sprintf_s plain"])
        times[("char", 256)] = (12.1, 12.0)
        met, detail = self.verdicts(doc(times))["sprintf_s plain"]
        self.assertFalse(met)
        self.assertIn("char/256 1.01x", detail)

    def test_memory_margin_below_256_and_ratio_from_256(self):
        def doc(small, large):
            return {"benchmarks": [agg("mem/memcpy/libc/255", "median", 10.0),
                                   agg("mem/memcpy/bounded/255", "median", small),
                                   agg("mem/memcpy/libc/256", "median", 10.0),
                                   agg("mem/memcpy/bounded/256", "median", large)]}
        self.assertTrue(self.verdicts(doc(11.5, 10.5))["memcpy_s"][0])
        met, detail = self.verdicts(doc(11.6, 10.5))["memcpy_s"]
        self.assertFalse(met)
        self.assertIn("255", detail)
        met, detail = self.verdicts(doc(11.0, 10.6))["memcpy_s"]
        self.assertFalse(met)
        self.assertIn("256: 1.06x", detail)


if __name__ == "__main__":
    unittest.main()
