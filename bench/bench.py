#!/usr/bin/env python3
"""Times vantor against the standard library's `uuid` module, operation by operation.

    python bench/bench.py [--quick] [--out bench/results]

Both sides run in this process and take turns (vantor, stdlib, vantor, stdlib, ...) so that a
busy neighbour on a shared machine slows both alike; each figure is the best of several repeats.
The ratios vantor/stdlib are what to read: absolute nanoseconds move from machine to machine.
Writes results.md, results.json and speedups.png into the output directory.
"""
from __future__ import annotations

import argparse
import builtins
import datetime
import gc
import hashlib
import json
import math
import pickle
import platform
import random
import sys
import time
import timeit
import tracemalloc
import uuid
from pathlib import Path

import vantor as v
import vantor.std as vstd

# CPU time of this process, not wall time: on a shared machine the wall clock also counts the
# moments the scheduler hands our core to someone else, which no amount of repeats filters out
# when the machine stays busy.
TIMER = time.process_time
# Each statement is written UNROLL times in the timed loop, so timeit's own per-iteration cost
# is spread over UNROLL calls and weighs little even beside a 20 ns attribute read.
UNROLL = 10
SORT_SIZE = 1_000
MEMORY_COUNT = 1_000_000
# tracemalloc slows the stdlib's uuid4() some 15-30x, so a quick run measures a shorter list;
# the ratio is per object and barely moves with the count.
MEMORY_COUNT_QUICK = 100_000

# stdlib UUIDs on 3.12 stop at version 5; where a generator is missing the comparison is with
# the cheapest call that returns a new object, written with the same lookups as `v.uuidN()`.
FLOOR_STMT = "builtins.object()"


def stdlib_or_floor(name):
    if hasattr(uuid, name):
        return f"uuid.{name}()"
    return None


# (label, vantor statement, stdlib statement or None for the floor, target ratio or None)
OPERATIONS = [
    ("uuid1()", "v.uuid1()", "uuid.uuid1()", 0.02),
    ("uuid3(NAMESPACE_DNS, 'abc')", "v.uuid3(v.NAMESPACE_DNS, 'abc')",
     "uuid.uuid3(uuid.NAMESPACE_DNS, 'abc')", 0.06),
    ("uuid4()", "v.uuid4()", "uuid.uuid4()", 0.033),
    ("uuid5(NAMESPACE_DNS, 'abc')", "v.uuid5(v.NAMESPACE_DNS, 'abc')",
     "uuid.uuid5(uuid.NAMESPACE_DNS, 'abc')", 0.06),
    ("uuid6()", "v.uuid6()", stdlib_or_floor("uuid6"), None),
    ("uuid7()", "v.uuid7()", stdlib_or_floor("uuid7"), None),
    ("uuid8()", "v.uuid8()", stdlib_or_floor("uuid8"), None),
    ("UUID(s)", "v.UUID(s)", "uuid.UUID(s)", 0.06),
    ("UUID(int=n)", "v.UUID(int=n)", "uuid.UUID(int=n)", 0.07),
    ("UUID(bytes=b)", "v.UUID(bytes=b)", "uuid.UUID(bytes=b)", 0.08),
    ("UUID.from_fields(f)", "v.UUID.from_fields(f)", "uuid.UUID(fields=f)", 0.07),
    ("str(u)", "str(u)", "str(su)", 0.09),
    ("u.hex", "u.hex", "su.hex", 0.35),
    ("u.bytes", "u.bytes", "su.bytes", 0.5),
    ("u.int", "u.int", "su.int", 2.5),
    ("u.fields", "u.fields", "su.fields", 0.35),
    ("hash(u)", "hash(u)", "hash(su)", 0.35),
    ("u == w", "u == w", "su == sw", 0.4),
    ("u < w", "u < w", "su < sw", 0.4),
    (f"sorted({SORT_SIZE:,} UUIDs)", "sorted(L)", "sorted(SL)", 0.4),
    ("pickle round trip", "loads(dumps(u))", "loads(dumps(su))", 0.6),
    # vantor.std builds the standard class itself, for code that needs exactly uuid.UUID.
    ("vantor.std.uuid4()", "vstd.uuid4()", "uuid.uuid4()", 0.05),
    ("vantor.std.uuid7()", "vstd.uuid7()", "uuid.uuid4()", None),
]

# Generators measured as multiples of a bare object() call. Every statement is one global
# lookup and one call, so the multiple is the price of the work beyond allocating an object.
FLOOR_OPERATIONS = [
    ("uuid4()", "uuid4()", 1.25),
    ("_uuid4_int()", "_uuid4_int()", 1.3),
    ("uuid7()", "uuid7()", 1.4),
    ("_uuid7_int()", "_uuid7_int()", 1.5),
    # vantor.std: a standard uuid.UUID, allocated and filled natively.
    ("vantor.std.uuid4()", "std_uuid4()", 2.5),
    ("vantor.std.uuid7()", "std_uuid7()", 3.0),
    # No target: shows what reading the clock costs here, which the time-based UUIDs must pay.
    ("time.time_ns()", "time_ns()", None),
]

MEMORY_TARGET = 0.40


def make_namespace():
    """Values shared by both sides; drawn from a fixed seed so reruns time the same inputs."""
    rng = random.Random(20240607)

    def pair():
        std = uuid.UUID(int=rng.getrandbits(128), version=4)
        return v.UUID(str(std)), std

    u, su = pair()
    w, sw = pair()
    values = [pair() for _ in range(SORT_SIZE)]
    ns = {
        "v": v, "vstd": vstd, "uuid": uuid, "builtins": builtins,
        "u": u, "w": w, "su": su, "sw": sw,
        "s": str(su), "n": su.int, "b": su.bytes, "f": su.fields,
        "L": [x for x, _ in values], "SL": [y for _, y in values],
        "loads": pickle.loads, "dumps": pickle.dumps,
        "object": object, "uuid4": v.uuid4, "_uuid4_int": v._uuid4_int,
        "uuid7": v.uuid7, "_uuid7_int": v._uuid7_int, "time_ns": time.time_ns,
        "std_uuid4": vstd.uuid4, "std_uuid7": vstd.uuid7,
    }
    # Both sides must describe the same values, or the comparison would be meaningless.
    assert str(u) == str(su) and u.int == su.int and u.bytes == su.bytes and u.fields == su.fields
    assert [str(x) for x in sorted(ns["L"])] == [str(y) for y in sorted(ns["SL"])]
    return ns


class Bench:
    """One timed statement: calibrated once, then timed on demand; keeps its best time."""

    def __init__(self, stmt, ns, min_time):
        self.stmt = stmt
        self.timer = timeit.Timer("; ".join([stmt] * UNROLL), timer=TIMER, globals=ns)
        self.number = self._calibrate(min_time)
        self.best = float("inf")

    def _calibrate(self, min_time):
        # Like Timer.autorange, but up to a chosen duration rather than a fixed 0.2 s.
        number = 1
        while True:
            for factor in (1, 2, 5):
                n = number * factor
                if self.timer.timeit(n) >= min_time:
                    return n
            number *= 10

    def run(self):
        seconds = self.timer.timeit(self.number)
        self.best = min(self.best, seconds / (self.number * UNROLL))

    @property
    def ns(self):
        return self.best * 1e9


def time_pairs(pairs, ns, min_time, repeats):
    """Times each (vantor, other) pair, the two sides taking turns on every repeat.

    Each repeat visits every pair once, so a pair's repeats are spread over the whole run and
    a burst of load from a neighbour spoils at most one of them."""
    benches = [(Bench(left, ns, min_time), Bench(right, ns, min_time)) for left, right in pairs]
    progress = sys.stderr.isatty()
    for r in range(repeats):
        if progress:
            print(f"\r  repeat {r + 1}/{repeats}", end="", file=sys.stderr, flush=True)
        for a, b in benches:
            a.run()
            b.run()
    if progress:
        print("\r" + " " * 24 + "\r", end="", file=sys.stderr, flush=True)
    return [(a.ns, b.ns) for a, b in benches]


def loop_overhead_ns(ns, min_time, repeats):
    """What timeit's loop adds to every figure, per call, with the unrolling above."""
    bench = Bench("pass", ns, min_time)
    for _ in range(repeats):
        bench.run()
    return bench.ns


def run_operations(ns, min_time, repeats):
    pairs = [(vstmt, FLOOR_STMT if sstmt is None else sstmt) for _, vstmt, sstmt, _ in OPERATIONS]
    rows = []
    for (label, vstmt, sstmt, target), (vns, sns) in zip(
            OPERATIONS, time_pairs(pairs, ns, min_time, repeats)):
        ratio = vns / sns
        rows.append({
            "operation": label, "vantor_stmt": vstmt,
            "stdlib_stmt": FLOOR_STMT if sstmt is None else sstmt,
            "baseline": "object()" if sstmt is None else "uuid",
            "vantor_ns": vns, "stdlib_ns": sns, "ratio": ratio, "speedup": 1 / ratio,
            "target": target, "met": None if target is None else ratio <= target,
        })
        print_row(rows[-1])
    return rows


def run_floor(ns, min_time, repeats):
    # The floor is timed in turn with every generator, so all share the same moments.
    floor = Bench("object()", ns, min_time)
    benches = [Bench(stmt, ns, min_time) for _, stmt, _ in FLOOR_OPERATIONS]
    for _ in range(repeats):
        for bench in benches:
            floor.run()
            bench.run()
    rows = []
    for (label, stmt, target), bench in zip(FLOOR_OPERATIONS, benches):
        multiple = bench.ns / floor.ns
        rows.append({"operation": label, "stmt": stmt, "ns": bench.ns, "multiple": multiple,
                     "target": target, "met": None if target is None else multiple <= target})
    return floor.ns, rows


def traced_list_bytes(factory, count):
    """Bytes held by a list of `count` fresh UUIDs, list included, as tracemalloc sees them."""
    gc.collect()
    was_enabled = gc.isenabled()
    gc.disable()  # collections would only cost time here: nothing in the list is garbage
    tracemalloc.start()
    try:
        before = tracemalloc.get_traced_memory()[0]
        items = [factory() for _ in range(count)]
        after = tracemalloc.get_traced_memory()[0]
    finally:
        tracemalloc.stop()
        if was_enabled:
            gc.enable()
    del items
    gc.collect()
    return after - before


def run_memory(count):
    one_v, one_s = v.uuid4(), uuid.uuid4()
    vbytes = traced_list_bytes(v.uuid4, count)
    sbytes = traced_list_bytes(uuid.uuid4, count)
    return {
        "getsizeof_vantor": sys.getsizeof(one_v),
        "getsizeof_stdlib": sys.getsizeof(one_s),
        # getsizeof leaves out the stdlib object's separately allocated int.
        "getsizeof_stdlib_with_int": sys.getsizeof(one_s) + sys.getsizeof(one_s.int),
        "count": count,
        "traced_vantor": vbytes, "traced_stdlib": sbytes,
        "traced_ratio": vbytes / sbytes, "target": MEMORY_TARGET,
        "met": vbytes / sbytes <= MEMORY_TARGET,
    }


# ---------------------------------------------------------------- presentation

def fmt_ns(x):
    return f"{x:,.0f}" if x >= 1000 else f"{x:.1f}"


def fmt_target(row):
    if row["target"] is None:
        return "—", "—"
    return f"≤ {row['target']:g}", "met" if row["met"] else "MISSED"


def table_rows(rows):
    out = []
    for r in rows:
        target, met = fmt_target(r)
        std = fmt_ns(r["stdlib_ns"]) + (" (object())" if r["baseline"] == "object()" else "")
        out.append([r["operation"], fmt_ns(r["vantor_ns"]), std, f"{r['ratio']:.4f}",
                    f"{r['speedup']:.1f}x", target, met])
    return out


HEADERS = ["operation", "vantor ns", "stdlib ns", "vantor/stdlib", "speed-up", "target", ""]
_widths = [30, 11, 20, 13, 9, 9, 6]


def print_row(row):
    cells = table_rows([row])[0]
    print("  ".join(c.ljust(w) if i in (0, 6) else c.rjust(w)
                    for i, (c, w) in enumerate(zip(cells, _widths))), flush=True)


def print_header():
    print("  ".join(h.ljust(w) if i in (0, 6) else h.rjust(w)
                    for i, (h, w) in enumerate(zip(HEADERS, _widths))))
    print("-" * (sum(_widths) + 2 * (len(_widths) - 1)))


def markdown_table(headers, rows, right):
    line = "| " + " | ".join(headers) + " |"
    rule = "|" + "|".join("---:" if i in right else "---" for i in range(len(headers))) + "|"
    body = ["| " + " | ".join(str(c) for c in row) + " |" for row in rows]
    return "\n".join([line, rule, *body])


def floor_table_rows(floor_ns, rows):
    out = [["object()", fmt_ns(floor_ns), "1.00x", "", ""]]
    for r in rows:
        if r["target"] is None:
            out.append([r["operation"], fmt_ns(r["ns"]), f"{r['multiple']:.2f}x", "—", "—"])
        else:
            out.append([r["operation"], fmt_ns(r["ns"]), f"{r['multiple']:.2f}x",
                        f"≤ {r['target']:g}x", "met" if r["met"] else "MISSED"])
    return out


def memory_table_rows(mem):
    mib = 1024 * 1024
    return [
        ["sys.getsizeof(one UUID)", f"{mem['getsizeof_vantor']} B",
         f"{mem['getsizeof_stdlib']} B (+ its int: {mem['getsizeof_stdlib_with_int']} B)",
         f"{mem['getsizeof_vantor'] / mem['getsizeof_stdlib']:.0%}", "", ""],
        [f"list of {mem['count']:,} uuid4() (tracemalloc)",
         f"{mem['traced_vantor'] / mib:,.1f} MiB", f"{mem['traced_stdlib'] / mib:,.1f} MiB",
         f"{mem['traced_ratio']:.0%}", f"≤ {mem['target']:.0%}",
         "met" if mem["met"] else "MISSED"],
    ]


def write_markdown(path, meta, rows, floor_ns, floor_rows, mem):
    floors = [r["operation"] for r in rows if r["baseline"] == "object()"]
    parts = [
        "# vantor vs the standard library `uuid`",
        "",
        f"Python {meta['python']} on {meta['machine']} ({meta['cpu']}), vantor {meta['vantor']} "
        f"(build {meta['vantor_build']}), "
        f"{meta['date']}{' — quick run' if meta['quick'] else ''}.",
        f"Best of {meta['repeats']} repeats of at least {meta['min_time'] * 1000:g} ms "
        f"of process CPU time each, "
        f"vantor and stdlib taking turns; every statement unrolled {UNROLL}x "
        f"(timeit's loop adds {meta['loop_overhead_ns']:.2f} ns per call to every figure). "
        "Ratio = vantor/stdlib, lower is better.",
        "",
        markdown_table(HEADERS[:-1] + ["met"], table_rows(rows), right={1, 2, 3, 4}),
        "",
    ]
    if floors:
        parts += [
            f"The standard library of Python {meta['python_short']} has no "
            f"{', '.join(floors)}: those rows compare with `{FLOOR_STMT}`, "
            "the cost of any call returning a new object, and have no target.",
            "",
        ]
    if not meta["stdlib_uuid1_native"]:
        parts += ["The stdlib `uuid1()` here runs its pure-Python path (no libuuid).", ""]
    parts += [
        "## Against the floor",
        "",
        "Multiples of a bare `object()` call; each statement is one global lookup and a call. "
        "`time.time_ns()` is there for context: the clock read that time-based UUIDs pay.",
        "",
        markdown_table(["call", "ns", "multiple", "target", "met"],
                       floor_table_rows(floor_ns, floor_rows), right={1, 2}),
        "",
        "## Memory",
        "",
        markdown_table(["measure", "vantor", "stdlib", "vantor/stdlib", "target", "met"],
                       memory_table_rows(mem), right={1, 2, 3}),
        "",
        "![speed-ups](speedups.png)",
        "",
    ]
    path.write_text("\n".join(parts), encoding="utf-8")


def write_chart(path, rows, meta):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    from matplotlib.lines import Line2D
    from matplotlib.patches import Patch
    from matplotlib.ticker import FuncFormatter

    labels = [r["operation"] + ("  [vs object()]" if r["baseline"] == "object()" else "")
              for r in rows]
    speedups = [r["speedup"] for r in rows]
    colours = ["#9aa5b1" if r["baseline"] == "object()"
               else ("#2e7d32" if r["met"] else "#c62828") for r in rows]
    fig, ax = plt.subplots(figsize=(10, 0.38 * len(rows) + 1.6))
    y = list(range(len(rows)))[::-1]
    # Bars start at 1x so that a slow-down points left of the line rather than vanishing.
    ax.barh(y, [s - 1 for s in speedups], left=1, color=colours, height=0.7)
    for yi, r in zip(y, rows):
        right = r["speedup"]
        if r["target"] is not None:
            # The speed-up the target asks for, i.e. 1/target.
            ax.plot([1 / r["target"]] * 2, [yi - 0.42, yi + 0.42], color="black", lw=1.5)
            right = max(right, 1 / r["target"])
        ax.text(max(right, 1) * 1.08, yi, f"{r['speedup']:.2g}x" if r["speedup"] < 10
                else f"{r['speedup']:.0f}x", va="center", fontsize=8)
    ax.set_yticks(y)
    ax.set_yticklabels(labels, fontsize=9)
    ax.set_xscale("log")
    ax.axvline(1, color="#555555", lw=0.8, ls="--")
    ax.set_xlabel("speed-up over the standard library (stdlib time / vantor time, log scale)")
    ax.set_title(f"vantor {meta['vantor']} vs stdlib uuid — Python {meta['python_short']}"
                 f"{' (quick run)' if meta['quick'] else ''}")
    # Down to a power of ten, so that a slow-down bar still has a labelled tick beneath it.
    ax.set_xlim(min(0.5, 10 ** math.floor(math.log10(min(speedups) / 1.2))),
                max(max(speedups), *(1 / r["target"] for r in rows if r["target"])) * 2)
    ax.xaxis.set_major_formatter(FuncFormatter(lambda x, _: f"{x:g}x"))
    ax.grid(axis="x", which="both", alpha=0.25)
    ax.legend(handles=[Patch(color="#2e7d32", label="target met"),
                       Patch(color="#c62828", label="target missed"),
                       Patch(color="#9aa5b1", label="no stdlib equivalent: vs object()"),
                       Line2D([], [], color="black", lw=1.5, label="target speed-up")],
              loc="lower right", fontsize=8)
    fig.tight_layout()
    fig.savefig(path, dpi=120)
    plt.close(fig)


def build_id():
    """A short digest of the extension module, so that figures can be tied to the build timed."""
    import _vantor
    try:
        return hashlib.sha256(Path(_vantor.__file__).read_bytes()).hexdigest()[:12]
    except (AttributeError, OSError):
        return "unknown"


def cpu_name():
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown CPU"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="fewer, shorter repeats (~30 s)")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "results",
                        help="directory for results.md, results.json and speedups.png")
    args = parser.parse_args()

    min_time, repeats = (0.02, 3) if args.quick else (0.1, 9)
    started = time.perf_counter()
    ns = make_namespace()
    meta = {
        "python": platform.python_version(), "python_short": "%d.%d" % sys.version_info[:2],
        "implementation": platform.python_implementation(),
        "machine": f"{platform.system()} {platform.machine()}", "cpu": cpu_name(),
        "vantor": v.__version__, "vantor_build": build_id(),
        "date": datetime.date.today().isoformat(), "quick": args.quick,
        "timer": TIMER.__name__, "min_time": min_time, "repeats": repeats, "unroll": UNROLL,
        "stdlib_uuid1_native": getattr(uuid, "_generate_time_safe", None) is not None,
    }
    meta["loop_overhead_ns"] = loop_overhead_ns(ns, min_time, repeats)
    print(f"Python {meta['python']}, vantor {meta['vantor']} (build {meta['vantor_build']}), "
          f"{meta['cpu']}; best of {repeats}, "
          f"timeit loop overhead {meta['loop_overhead_ns']:.2f} ns/call\n")

    print_header()
    rows = run_operations(ns, min_time, repeats)
    floors = [r["operation"] for r in rows if r["baseline"] == "object()"]
    if floors:
        print(f"\n{', '.join(floors)}: no stdlib equivalent on {meta['python_short']}; "
              f"compared with {FLOOR_STMT}")

    floor_ns, floor_rows = run_floor(ns, min_time, repeats)
    print(f"\nAgainst the floor: object() = {fmt_ns(floor_ns)} ns")
    for r in floor_rows:
        verdict = ("(no target: the clock read time-based UUIDs pay)" if r["target"] is None
                   else f"(target ≤ {r['target']:g}x: {'met' if r['met'] else 'MISSED'})")
        print(f"  {r['operation']:<16}{fmt_ns(r['ns']):>8} ns  {r['multiple']:5.2f}x  {verdict}")

    mem = run_memory(MEMORY_COUNT_QUICK if args.quick else MEMORY_COUNT)
    print("\nMemory")
    for row in memory_table_rows(mem):
        print(f"  {row[0]:<40}vantor {row[1]:>12}   stdlib {row[2]:>12}   {row[3]:>4} "
              f"{row[4]} {row[5]}".rstrip())

    out = args.out
    out.mkdir(parents=True, exist_ok=True)
    meta["elapsed_s"] = round(time.perf_counter() - started, 1)
    (out / "results.json").write_text(json.dumps(
        {"meta": meta, "operations": rows,
         "floor": {"object_ns": floor_ns, "calls": floor_rows}, "memory": mem},
        indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    write_markdown(out / "results.md", meta, rows, floor_ns, floor_rows, mem)
    write_chart(out / "speedups.png", rows, meta)

    missed = [r["operation"] for r in rows if r["met"] is False]
    missed += [f"{r['operation']} vs object()" for r in floor_rows if r["met"] is False]
    missed += ["memory"] if not mem["met"] else []
    print(f"\nTargets missed: {', '.join(missed) if missed else 'none'}")
    print(f"Wrote {out}/results.md, results.json, speedups.png in {meta['elapsed_s']} s")


if __name__ == "__main__":
    main()
