#!/usr/bin/env python3
"""Times vantor against the standard library's `uuid` module, operation by operation.

    python bench/bench.py [--quick] [--out bench/results]

Both sides run in this process and take turns (vantor, stdlib, vantor, stdlib, ...) so that a
busy neighbour on a shared machine slows both alike; each figure is the best of several repeats.
The ratios vantor/stdlib are what to read: absolute nanoseconds move from machine to machine.

Beside them, for the README: fastuuid's equivalent of each operation where it has one and is
installed (timed in turn in this process), and Python 3.14's standard library, timed by the
same code in a Python 3.14 interpreter of its own where one is found (`python3.14` on the path,
`--python314 PATH`, or the Debian chroot of scripts/sid.sh when run as root).

Writes results.md (our targets, then the README's table), results.json and speedups.png (the
README's chart, drawn from the same figures as that table) into the output directory.
"""
from __future__ import annotations

import argparse
import datetime
import gc
import hashlib
import inspect
import json
import os
import platform
import shutil
import subprocess
import sys
import time
import timeit
import tracemalloc
import uuid
from pathlib import Path

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


# (label, vantor statement, stdlib statement or None for the floor, target ratio or None)
OPERATIONS = [
    ("uuid1()", "v.uuid1()", "uuid.uuid1()", 0.02),
    ("uuid3(NAMESPACE_DNS, 'abc')", "v.uuid3(v.NAMESPACE_DNS, 'abc')",
     "uuid.uuid3(uuid.NAMESPACE_DNS, 'abc')", 0.06),
    ("uuid4()", "v.uuid4()", "uuid.uuid4()", 0.033),
    ("uuid5(NAMESPACE_DNS, 'abc')", "v.uuid5(v.NAMESPACE_DNS, 'abc')",
     "uuid.uuid5(uuid.NAMESPACE_DNS, 'abc')", 0.06),
    ("uuid6()", "v.uuid6()", "uuid.uuid6()", None),
    ("uuid7()", "v.uuid7()", "uuid.uuid7()", None),
    ("uuid8()", "v.uuid8()", "uuid.uuid8()", None),
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
    ("vantor.std.uuid7()", "vstd.uuid7()", "uuid.uuid7()", None),
]

# fastuuid's way to do the same, for the README's table; a statement that fails in the
# installed version (the operation is missing) leaves the row without a fastuuid figure.
FASTUUID_OPERATIONS = {
    "uuid3(NAMESPACE_DNS, 'abc')": "fu.uuid3(fu_dns, 'abc')",
    "uuid4()": "fu.uuid4()",
    "uuid5(NAMESPACE_DNS, 'abc')": "fu.uuid5(fu_dns, 'abc')",
    "uuid7()": "fu.uuid7()",
    "UUID(s)": "fu.UUID(s)",
    "UUID(int=n)": "fu.UUID(int=n)",
    "UUID(bytes=b)": "fu.UUID(bytes=b)",
    "UUID.from_fields(f)": "fu.UUID(fields=f)",
    "str(u)": "str(fu_u)",
    "u.hex": "fu_u.hex",
    "u.bytes": "fu_u.bytes",
    "u.int": "fu_u.int",
    "u.fields": "fu_u.fields",
    "hash(u)": "hash(fu_u)",
    "u == w": "fu_u == fu_w",
    "u < w": "fu_u < fu_w",
    f"sorted({SORT_SIZE:,} UUIDs)": "sorted(FL)",
    "pickle round trip": "loads(dumps(fu_u))",
}

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


def std_namespace(sort_size):
    """The standard library's side: values drawn from a fixed seed, so that every run, and the
    Python 3.14 child, times the same inputs. Needs nothing but the standard library."""
    import builtins
    import pickle
    import random
    import uuid

    rng = random.Random(20240607)
    draw = [uuid.UUID(int=rng.getrandbits(128), version=4) for _ in range(sort_size + 2)]
    su, sw = draw[0], draw[1]
    return {
        "uuid": uuid, "builtins": builtins, "su": su, "sw": sw,
        "s": str(su), "n": su.int, "b": su.bytes, "f": su.fields, "SL": draw[2:],
        "loads": pickle.loads, "dumps": pickle.dumps, "object": object,
    }


def make_namespace():
    """Values shared by every side: the standard library's, vantor's and fastuuid's."""
    import vantor as v
    import vantor.std as vstd

    ns = std_namespace(SORT_SIZE)
    u, w = v.UUID(str(ns["su"])), v.UUID(str(ns["sw"]))
    ns.update({
        "v": v, "vstd": vstd, "u": u, "w": w, "L": [v.UUID(str(x)) for x in ns["SL"]],
        "uuid4": v.uuid4, "_uuid4_int": v._uuid4_int,
        "uuid7": v.uuid7, "_uuid7_int": v._uuid7_int, "time_ns": time.time_ns,
        "std_uuid4": vstd.uuid4, "std_uuid7": vstd.uuid7,
    })
    # Both sides must describe the same values, or the comparison would be meaningless.
    su = ns["su"]
    assert str(u) == str(su) and u.int == su.int and u.bytes == su.bytes and u.fields == su.fields
    assert [str(x) for x in sorted(ns["L"])] == [str(y) for y in sorted(ns["SL"])]
    try:
        import fastuuid as fu
    except ImportError:
        return ns
    ns.update({"fu": fu})
    try:
        ns.update({
            "fu_u": fu.UUID(str(su)), "fu_w": fu.UUID(str(ns["sw"])),
            "fu_dns": fu.UUID(str(uuid.NAMESPACE_DNS)),
            "FL": [fu.UUID(str(x)) for x in ns["SL"]],
        })
    except Exception:  # noqa: BLE001 - a fastuuid without a UUID class: its generators only
        pass
    return ns


def runs(stmt, ns):
    """Whether `stmt` runs here (the library has the operation)."""
    try:
        exec(stmt, dict(ns))
    except Exception:  # noqa: BLE001
        return False
    return True


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
    """Times each group of statements (vantor's, the other's, and fastuuid's where given), the
    sides taking turns on every repeat; a None statement is not timed and gives None.

    Each repeat visits every group once, so a group's repeats are spread over the whole run and
    a burst of load from a neighbour spoils at most one of them."""
    benches = [tuple(None if stmt is None else Bench(stmt, ns, min_time) for stmt in group)
               for group in pairs]
    progress = sys.stderr.isatty()
    for r in range(repeats):
        if progress:
            print(f"\r  repeat {r + 1}/{repeats}", end="", file=sys.stderr, flush=True)
        for group in benches:
            for bench in group:
                if bench is not None:
                    bench.run()
    if progress:
        print("\r" + " " * 24 + "\r", end="", file=sys.stderr, flush=True)
    return [tuple(None if bench is None else bench.ns for bench in group) for group in benches]


def loop_overhead_ns(ns, min_time, repeats):
    """What timeit's loop adds to every figure, per call, with the unrolling above."""
    bench = Bench("pass", ns, min_time)
    for _ in range(repeats):
        bench.run()
    return bench.ns


def run_operations(ns, min_time, repeats):
    # The standard library of this Python may lack a generator (uuid6/7/8 before 3.14): our
    # targets then compare with the floor, and the README's table has no figure for it.
    here = [sstmt if runs(sstmt, ns) else None for _, _, sstmt, _ in OPERATIONS]
    fast = [FASTUUID_OPERATIONS.get(label) if "fu" in ns else None for label, *_ in OPERATIONS]
    fast = [stmt if stmt is not None and runs(stmt, ns) else None for stmt in fast]
    groups = [(vstmt, FLOOR_STMT if sstmt is None else sstmt, fstmt)
              for (_, vstmt, _, _), sstmt, fstmt in zip(OPERATIONS, here, fast)]
    rows = []
    for (label, vstmt, _, target), sstmt, fstmt, (vns, sns, fns) in zip(
            OPERATIONS, here, fast, time_pairs(groups, ns, min_time, repeats)):
        ratio = vns / sns
        rows.append({
            "operation": label, "vantor_stmt": vstmt,
            "stdlib_stmt": FLOOR_STMT if sstmt is None else sstmt,
            "baseline": "object()" if sstmt is None else "uuid",
            "vantor_ns": vns, "stdlib_ns": sns, "ratio": ratio, "speedup": 1 / ratio,
            "target": target, "met": None if target is None else ratio <= target,
            "fastuuid_stmt": fstmt, "fastuuid_ns": fns,
        })
        print_row(rows[-1])
    return rows


# ------------------------------------------------- Python 3.14's standard library, in a child

CHILD_MAIN = """
import json, sys, time, timeit
TIMER = time.process_time
UNROLL = {unroll}
statements, min_time, repeats = json.loads(sys.argv[1])
ns = std_namespace({sort_size})
benches = {{}}
for label, stmt in statements.items():
    try:
        exec(stmt, dict(ns))
    except Exception:
        continue
    benches[label] = Bench(stmt, ns, min_time)
for _ in range(repeats):
    for bench in benches.values():
        bench.run()
print(json.dumps({{label: bench.ns for label, bench in benches.items()}}))
"""


def find_python314(given):
    """The command that runs a Python 3.14, or None: `given`, python3.14 on the path, or the
    Debian chroot that scripts/sid.sh makes (as root)."""
    if given:
        return [given]
    found = shutil.which("python3.14")
    if found:
        return [found]
    chroot = "/var/cache/vantor/sid"
    if os.path.exists(f"{chroot}/usr/bin/python3.14") and os.geteuid() == 0:
        return ["chroot", chroot, "/usr/bin/python3.14"]
    return None


def run_python314(command, min_time, repeats):
    """ns per call of each operation's standard-library statement, timed in Python 3.14 by the
    code that times them here (the same Bench, unrolling, values and repeats)."""
    if command is None:
        return None
    source = "\n".join([inspect.getsource(std_namespace), inspect.getsource(Bench),
                        CHILD_MAIN.format(unroll=UNROLL, sort_size=SORT_SIZE)])
    statements = {label: sstmt for label, _, sstmt, _ in OPERATIONS}
    try:
        done = subprocess.run(
            [*command, "-c", source, json.dumps([statements, min_time, repeats])],
            capture_output=True, text=True, timeout=1800, check=True)
        version = subprocess.run([*command, "-c", "import platform; print(platform.python_version())"],
                                 capture_output=True, text=True, timeout=60, check=True)
    except (OSError, subprocess.SubprocessError) as error:
        print(f"Python 3.14 not timed: {error}", file=sys.stderr)
        return None
    return {"interpreter": " ".join(command), "python": version.stdout.strip(),
            "ns": json.loads(done.stdout)}


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
    import vantor as v

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


def write_markdown(path, meta, rows, floor_ns, floor_rows, mem, users):
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
        "## Beside the alternatives (the README's table and chart)",
        "",
        "Nanoseconds per call, lower is better; `uuid (Python 3.14)` was timed by the same code "
        "in its own interpreter"
        + (f" ({meta['python314']})" if meta.get("python314") else " (none was found: no column)")
        + "; fastuuid where it has the operation"
        + (f" ({meta['fastuuid']})." if meta.get("fastuuid") else " (not installed: no column).")
        + " The speed-up is over the first standard library in the row that has the operation.",
        "",
        users,
        "",
        "![vantor beside the alternatives](speedups.png)",
        "",
    ]
    path.write_text("\n".join(parts), encoding="utf-8")


def alternatives(rows, meta, py314):
    """The README's rows: (operation, {series: ns}), vantor first, then each alternative that
    has the operation; and the series names in order."""
    here = f"uuid (Python {meta['python_short']})"
    series = ["vantor", here]
    if py314 is not None and meta["python_short"] != "3.14":
        series.append("uuid (Python 3.14)")
    series.append("fastuuid")
    out = []
    for r in rows:
        figures = {"vantor": r["vantor_ns"], "fastuuid": r["fastuuid_ns"]}
        if r["baseline"] == "uuid":
            figures[here] = r["stdlib_ns"]
        if py314 is not None:
            figures["uuid (Python 3.14)"] = py314["ns"].get(r["operation"])
        out.append((r["operation"], figures))
    return series, out


def users_table(series, rows):
    """The README's speed table: ns per call of each, and vantor's speed-up over the first
    standard library that has the operation."""
    headers = ["operation"] + [f"{name} ns" for name in series] + ["speed-up"]
    body = []
    for label, figures in rows:
        cells = [f"`{label}`"]
        cells += ["—" if figures.get(name) is None else fmt_ns(figures[name]) for name in series]
        std = next((figures[name] for name in series[1:]
                    if name.startswith("uuid") and figures.get(name) is not None), None)
        cells.append("—" if std is None else f"{std / figures['vantor']:.1f}x")
        body.append(cells)
    return markdown_table(headers, body, right=set(range(1, len(headers))))


def write_chart(path, series, rows, meta):
    from charts import grouped_bars

    grouped_bars(path, f"vantor {meta['vantor']} beside the standard library and fastuuid "
                 f"(Python {meta['python']}){' — quick run' if meta['quick'] else ''}",
                 series, rows, unit="time per call")


def fastuuid_version():
    try:
        from importlib.metadata import version

        return f"fastuuid {version('fastuuid')}"
    except Exception:  # noqa: BLE001 - not installed
        return None


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
    parser.add_argument("--python314", help="a Python 3.14 interpreter for its standard library "
                        "(default: python3.14 on the path, or scripts/sid.sh's chroot as root)")
    args = parser.parse_args()
    import vantor as v

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
        "fastuuid": fastuuid_version(),
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

    py314 = run_python314(find_python314(args.python314), min_time, repeats)
    if py314 is not None:
        meta["python314"] = f"Python {py314['python']}, {py314['interpreter']}"
    series, user_rows = alternatives(rows, meta, py314)
    users = users_table(series, user_rows)
    print("\nBeside the alternatives (ns per call):\n" + users)

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
         "floor": {"object_ns": floor_ns, "calls": floor_rows}, "memory": mem,
         "python314": py314, "alternatives": {"series": series, "rows": user_rows}},
        indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    write_markdown(out / "results.md", meta, rows, floor_ns, floor_rows, mem, users)
    write_chart(out / "speedups.png", series, user_rows, meta)

    missed = [r["operation"] for r in rows if r["met"] is False]
    missed += [f"{r['operation']} vs object()" for r in floor_rows if r["met"] is False]
    missed += ["memory"] if not mem["met"] else []
    print(f"\nTargets missed: {', '.join(missed) if missed else 'none'}")
    print(f"Wrote {out}/results.md, results.json, speedups.png in {meta['elapsed_s']} s")


if __name__ == "__main__":
    main()
