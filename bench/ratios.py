#!/usr/bin/env python3
"""Tables of bounded_bench results: each implementation's time and its ratio
to the C library's time, one table per case, then the team's targets.

Reads Google Benchmark's JSON (--benchmark_format=json or --benchmark_out)
from the files named on the command line, or from standard input. Benchmarks
are named <group>/<case>/<impl>/<size>; every impl is paired with "libc" of
the same group, case and size. With repetitions, the median aggregate is
used; without aggregates, the median of the repetitions. Several files (runs
of the same benchmark) give the median of their medians: on a busy machine,
one run can be unlucky for one benchmark.
"""
import argparse
import json
import signal
import statistics
import sys

BASELINE = "libc"
TO_NS = {"ns": 1.0, "us": 1e3, "ms": 1e6, "s": 1e9}

# The targets: formatted output against the C library at a 64-byte
# destination, memory operations against the C library by size.
FORMAT_DEST = 64
FORMAT_MAX_RATIO = 0.6
FORMAT_EXEMPT = {"float1c"}  # floating point goes through the C library by design
FORMAT_FUNCS = ("sprintf_s", "snprintf_s")
FORMAT_RIVAL = "stbsp_snprintf"
FORMAT_MIN_WINS = 4
# sprintf_s at or below {fmt}'s format_to_n on the plain conversions, at
# every destination size.
FORMAT_PLAIN_CASES = ("int5", "uint", "char", "str32")
FORMAT_PLAIN_RIVAL = "fmt_format_to_n"
MEM_SMALL_LIMIT = 256  # below: an absolute margin; from here on: a ratio
MEM_MAX_EXTRA_NS = 1.5
MEM_MAX_RATIO = 1.05
MEM_FUNCS = {"memcpy": "bounded", "memset": "bounded"}


def split_name(run_name):
    """(group, case, impl, size) of a benchmark name, or None."""
    parts = run_name.split("/")
    if len(parts) != 4 or not parts[3].isdigit():
        return None
    return parts[0], parts[1], parts[2], int(parts[3])


def load_results(doc, time_field="cpu_time"):
    """Map (group, case, size) -> {impl: ns or error text}, in registration order;
    and (group, case) -> label."""
    samples = {}  # run_name -> list of ns
    medians = {}  # run_name -> list of ns, one per run
    errors = {}
    labels = {}
    order = []
    for bench in doc.get("benchmarks", []):
        run_name = bench.get("run_name", bench["name"])
        key = split_name(run_name)
        if key is None:
            continue
        if run_name not in order:
            order.append(run_name)
        if bench.get("label"):
            labels[key[:2]] = bench["label"]
        if bench.get("error_occurred"):
            errors[run_name] = bench.get("error_message", "error")
            continue
        ns = bench[time_field] * TO_NS[bench.get("time_unit", "ns")]
        if bench.get("run_type") == "aggregate":
            if bench.get("aggregate_name") == "median":
                medians.setdefault(run_name, []).append(ns)
        else:
            samples.setdefault(run_name, []).append(ns)
    # Registration order, where the JSON tells it: random interleaving or
    # filters would otherwise shuffle the columns and rows.
    family = {}
    for bench in doc.get("benchmarks", []):
        name = bench.get("run_name", bench["name"])
        family.setdefault(name, bench.get("family_index", len(family)))
    order.sort(key=lambda name: family.get(name, 0))
    results = {}
    for run_name in order:
        group, case, impl, size = split_name(run_name)
        if run_name in errors:
            value = errors[run_name]
        elif run_name in medians:
            value = statistics.median(medians[run_name])
        elif run_name in samples:
            value = statistics.median(samples[run_name])
        else:
            continue  # aggregates other than the median only
        results.setdefault((group, case, size), {})[impl] = value
    return results, labels


def ratio(results, key, impl):
    row = results.get(key, {})
    base, value = row.get(BASELINE), row.get(impl)
    if not isinstance(base, float) or not isinstance(value, float) or base <= 0:
        return None
    return value / base


def format_tables(results, labels, markdown=False):
    cases = []
    for group, case, _ in results:
        if (group, case) not in cases:
            cases.append((group, case))
    out = []
    for group, case in cases:
        keys = sorted(k for k in results if k[:2] == (group, case))
        impls = []
        for key in keys:
            impls += [i for i in results[key] if i not in impls]
        impls.sort(key=lambda i: i != BASELINE)  # stable: the baseline first
        title = f"{group}/{case}"
        if (group, case) in labels:
            title += f'  "{labels[(group, case)]}"'
        header = ["size"] + [f"{i} ns" if i == BASELINE else f"{i} ns (x)" for i in impls]
        rows = []
        for key in keys:
            row = [str(key[2])]
            for impl in impls:
                value = results[key].get(impl)
                if value is None:
                    row.append("-")
                elif not isinstance(value, float):
                    row.append("error")
                elif impl == BASELINE:
                    row.append(f"{value:.2f}")
                else:
                    r = ratio(results, key, impl)
                    row.append(f"{value:.2f} ({r:.2f})" if r is not None else f"{value:.2f}")
            rows.append(row)
        out.append(render(title, header, rows, markdown))
    return "\n".join(out)


def render(title, header, rows, markdown):
    if markdown:
        lines = [f"**{title}**", "", "| " + " | ".join(header) + " |",
                 "|" + "|".join("---:" for _ in header) + "|"]
        lines += ["| " + " | ".join(r) + " |" for r in rows]
        return "\n".join(lines) + "\n"
    widths = [max(len(r[c]) for r in [header] + rows) for c in range(len(header))]
    lines = [title, "  ".join(h.rjust(w) for h, w in zip(header, widths))]
    lines += ["  ".join(v.rjust(w) for v, w in zip(r, widths)) for r in rows]
    return "\n".join(lines) + "\n"


def check_targets(results):
    """List of (target, met, detail); targets without figures are left out."""
    verdicts = []
    fmt_cases = [k for k in results
                 if k[0] == "fmt" and k[2] == FORMAT_DEST and k[1] not in FORMAT_EXEMPT]
    for func in FORMAT_FUNCS:
        slow, wins, measured = [], [], 0
        for key in fmt_cases:
            r = ratio(results, key, func)
            if r is None:
                continue
            measured += 1
            if r > FORMAT_MAX_RATIO:
                slow.append(f"{key[1]} {r:.3f}")
            rival, mine = results[key].get(FORMAT_RIVAL), results[key].get(func)
            if isinstance(rival, float) and mine < rival:
                wins.append(key[1])
        if measured:
            verdicts.append((f"{func} <= {FORMAT_MAX_RATIO}x snprintf on every case but "
                             f"{', '.join(sorted(FORMAT_EXEMPT))} (dest {FORMAT_DEST})",
                             not slow, "over: " + ", ".join(slow) if slow else "all within"))
            verdicts.append((f"{func} faster than {FORMAT_RIVAL} on >= {FORMAT_MIN_WINS} cases",
                             len(wins) >= FORMAT_MIN_WINS,
                             f"{len(wins)} of {measured}: " + ", ".join(wins)))
    slower, measured = [], 0
    for key in sorted(k for k in results if k[0] == "fmt" and k[1] in FORMAT_PLAIN_CASES):
        rival, mine = results[key].get(FORMAT_PLAIN_RIVAL), results[key].get("sprintf_s")
        if not isinstance(rival, float) or not isinstance(mine, float):
            continue
        measured += 1
        if mine > rival:
            slower.append(f"{key[1]}/{key[2]} {mine / rival:.2f}x")
    if measured:
        verdicts.append((f"sprintf_s <= {FORMAT_PLAIN_RIVAL} on "
                         f"{', '.join(FORMAT_PLAIN_CASES)} (every size)", not slower,
                         "over: " + ", ".join(slower) if slower else f"all {measured} within"))
    for op, impl in MEM_FUNCS.items():
        misses, measured = [], 0
        for key in sorted(k for k in results if k[:2] == ("mem", op)):
            base, value = results[key].get(BASELINE), results[key].get(impl)
            if not isinstance(base, float) or not isinstance(value, float):
                continue
            measured += 1
            if key[2] < MEM_SMALL_LIMIT:
                if value - base > MEM_MAX_EXTRA_NS:
                    misses.append(f"{key[2]}: +{value - base:.2f} ns")
            elif value / base > MEM_MAX_RATIO:
                misses.append(f"{key[2]}: {value / base:.2f}x")
        if measured:
            verdicts.append((f"{op}_s <= +{MEM_MAX_EXTRA_NS} ns below {MEM_SMALL_LIMIT} B, "
                             f"<= {MEM_MAX_RATIO}x from {MEM_SMALL_LIMIT} B",
                             not misses, "over: " + ", ".join(misses) if misses else "all within"))
    return verdicts


def main(argv=None):
    signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped into head
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("json", nargs="*", help="benchmark JSON files (default: standard input)")
    parser.add_argument("--time", choices=("cpu", "real"), default="cpu",
                        help="which time to compare (default: cpu)")
    parser.add_argument("--markdown", action="store_true", help="print Markdown tables")
    parser.add_argument("--no-targets", action="store_true", help="leave out the target check")
    args = parser.parse_args(argv)
    if args.json:
        doc = {"benchmarks": []}
        for path in args.json:
            with open(path, encoding="utf-8") as f:
                doc["benchmarks"] += json.load(f).get("benchmarks", [])
    else:
        doc = json.load(sys.stdin)
    results, labels = load_results(doc, f"{args.time}_time")
    if not results:
        print("no benchmark named <group>/<case>/<impl>/<size> in the input", file=sys.stderr)
        return 1
    print(format_tables(results, labels, args.markdown))
    if not args.no_targets:
        print("Targets")
        for target, met, detail in check_targets(results):
            print(f"  [{'met' if met else 'MISSED'}] {target}: {detail}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
