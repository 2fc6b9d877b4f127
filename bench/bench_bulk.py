#!/usr/bin/env python3
"""Times vantor.bulk against the alternatives a user has for making many UUIDs at once.

    python bench/bench_bulk.py [--quick] [--out bench/results]

Everything is timed in this process (the command line in child processes), the rows taking
turns on every repeat, and each figure is the best of its repeats in process CPU time. The bytes
calls are also timed on each instruction-set path, in a child process per path (VANTOR_ISA), into
fresh and warm memory, 1M and 4M at a time (bulk_paths.md, bulk_paths.png). Compared:
list comprehensions over the standard library's generators, fastuuid's bulk calls where
installed (`pip install fastuuid`; benchmark only), and Python 3.14's standard `uuid` where an
interpreter is found (run in its own process, so only indicative). Writes bulk.md (our targets,
then the README's tables), bulk.json, bulk.png (the README's chart, drawn from the same figures as
that table) and bulk_paths.png into the output directory.
"""
from __future__ import annotations

import argparse
import gc
import json
import os
import platform
import resource
import shutil
import subprocess
import sys
import tempfile
import time
import tracemalloc
import uuid
from itertools import repeat
from pathlib import Path

import vantor
from vantor import bulk, std

TIMER = time.process_time
N = 1_000_000
# Per-object loops in Python are timed on fewer items; the figure is per UUID either way.
N_LOOP = 200_000
ARROW_N = 10_000_000
CLI_N = 10_000_000

try:
    import fastuuid
except ImportError:
    fastuuid = None

NAMES = [f"user-{i}" for i in range(N)]  # short str names, as natural keys usually are


def timed(fn):
    gc.collect()
    start = TIMER()
    result = fn()
    elapsed = TIMER() - start
    del result
    return elapsed


def best_per_item(benches, repeats):
    """{label: best seconds per item}; every bench runs once per repeat, in turn."""
    best = {label: float("inf") for label in benches}
    for _ in range(repeats):
        for label, (fn, count) in benches.items():
            best[label] = min(best[label], timed(fn) / count)
    return best


def loop(make, count):
    return lambda: [make() for _ in repeat(None, count)]


def generation_benches():
    benches = {
        "floor: list(range(2**62, 2**62 + n))": (lambda: list(range(2**62, 2**62 + N)), N),
        "bulk.uuid4(n) bytes": (lambda: bulk.uuid4(N), N),
        "bulk.uuid7(n) bytes": (lambda: bulk.uuid7(N), N),
        "bulk.fill_uuid4(buffer)": (lambda: bulk.fill_uuid4(BUFFER), N),
        "bulk.uuid4(n, 'uuid')": (lambda: bulk.uuid4(N, "uuid"), N),
        "bulk.uuid7(n, 'uuid')": (lambda: bulk.uuid7(N, "uuid"), N),
        "bulk.uuid4(n, 'str')": (lambda: bulk.uuid4(N, "str"), N),
        "bulk.uuid7(n, 'str')": (lambda: bulk.uuid7(N, "str"), N),
        "bulk.uuid4(n, 'std')": (lambda: bulk.uuid4(N, "std"), N),
        "bulk.uuid7(n, 'std')": (lambda: bulk.uuid7(N, "std"), N),
        "bulk.uuid5(ns, names)": (lambda: bulk.uuid5(uuid.NAMESPACE_DNS, NAMES), N),
        "[vantor.uuid4() for ...]": (loop(vantor.uuid4, N_LOOP), N_LOOP),
        "[vantor.uuid7() for ...]": (loop(vantor.uuid7, N_LOOP), N_LOOP),
        "[uuid.uuid4() for ...]": (loop(uuid.uuid4, N_LOOP), N_LOOP),
        "[str(uuid.uuid4()) for ...]": (lambda: [str(uuid.uuid4()) for _ in repeat(None, N_LOOP)], N_LOOP),
        "[uuid.uuid5(ns, name) for ...]": (
            lambda: [uuid.uuid5(uuid.NAMESPACE_DNS, name) for name in NAMES[:N_LOOP]], N_LOOP),
    }
    if fastuuid is not None:
        benches["fastuuid.uuid4_bulk(n)"] = (lambda: fastuuid.uuid4_bulk(N), N)
        benches["fastuuid.uuid7_bulk(n)"] = (lambda: fastuuid.uuid7_bulk(N), N)
        benches["fastuuid.uuid4_as_strings_bulk(n)"] = (lambda: fastuuid.uuid4_as_strings_bulk(N), N)
    return benches


BUFFER = bytearray(16 * N)


def arrow_column():
    """10M uuid7 as a pyarrow uuid column: best time, and tracemalloc's peak for one build."""
    try:
        import pyarrow  # noqa: F401
    except ImportError:
        return None
    seconds = min(timed(lambda: bulk.uuid7(ARROW_N, "arrow")) for _ in range(3))
    gc.collect()
    tracemalloc.start()
    try:
        column = bulk.uuid7(ARROW_N, "arrow")
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    del column
    return {"seconds": seconds, "peak_bytes": peak}


# The generation loop of `python -m vantor -C` before it used the bulk path: one object per line.
PREVIOUS_CLI = """
import sys
from itertools import repeat
from vantor import UUID, uuid7
count, write, to_text = int(sys.argv[1]), sys.stdout.write, UUID.__str__
while count > 0:
    n = min(count, 16384)
    count -= n
    write("\\n".join(map(to_text, [uuid7() for _ in repeat(None, n)])) + "\\n")
sys.stdout.flush()
"""


def child_cpu_seconds(argv, out_path):
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    with open(out_path, "wb") as out:
        subprocess.run(argv, stdout=out, check=True)
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    return (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)


def command_line(repeats):
    with tempfile.TemporaryDirectory() as tmp:
        out = Path(tmp) / "ids.txt"
        now = [sys.executable, "-m", "vantor", "-u", "uuid7", "-C", str(CLI_N)]
        before = [sys.executable, "-c", PREVIOUS_CLI, str(CLI_N)]
        best_now = best_before = float("inf")
        for _ in range(repeats):
            best_now = min(best_now, child_cpu_seconds(now, out))
            best_before = min(best_before, child_cpu_seconds(before, out))
        assert out.stat().st_size == 37 * CLI_N
    return {"now_s": best_now, "before_s": best_before, "speedup": best_before / best_now}


# ---- instruction-set paths ------------------------------------------------------------------------

MACHINE = platform.machine().lower()
PATH_NAMES = (["portable", "sse2", "avx2", "avx512"] if MACHINE in ("x86_64", "amd64")
              else ["portable", "neon"] if MACHINE in ("aarch64", "arm64") else ["portable"])

# Timed in a child per path. A warm buffer is written before it is timed; a fresh result is a new
# bytes object each call, which glibc takes from the heap it reused (1M, 16 MB) or from a fresh
# mapping (4M, 64 MB, above its largest mmap threshold). With MALLOC_MMAP_THRESHOLD_ set low every
# result is a fresh mapping, as in a process that has not made one of that size before.
PATH_CHILD = """
import gc, json, sys, time
from vantor import bulk
repeats = int(sys.argv[1])
def best(fn, n):
    b = float("inf")
    for _ in range(repeats):
        gc.collect()
        t = time.process_time(); r = fn(); b = min(b, time.process_time() - t); del r
    return b / n * 1e9
warm16, warm64 = bytearray(16 << 20), bytearray(64 << 20)
bulk.fill_uuid4(warm16); bulk.fill_uuid4(warm64)
print(json.dumps({"isa": bulk._native.isa, "ns": {
    "uuid4(1M)": best(lambda: bulk.uuid4(1 << 20), 1 << 20),
    "uuid4(4M)": best(lambda: bulk.uuid4(4 << 20), 4 << 20),
    "fill_uuid4, warm 16 MB": best(lambda: bulk.fill_uuid4(warm16), 1 << 20),
    "fill_uuid4, warm 64 MB": best(lambda: bulk.fill_uuid4(warm64), 4 << 20),
    "uuid7(1M)": best(lambda: bulk.uuid7(1 << 20), 1 << 20),
}}))
"""
FRESH_CHILD = """
import gc, json, sys, time
from vantor import bulk
repeats = int(sys.argv[1])
b = float("inf")
for _ in range(repeats):
    gc.collect()
    t = time.process_time(); r = bulk.uuid4(1 << 20); b = min(b, time.process_time() - t); del r
print(json.dumps(b / (1 << 20) * 1e9))
"""


def instruction_set_paths(repeats):
    """{path: {row: ns per UUID}}: each path in its own child, the paths taking turns."""
    results = {}
    for _ in range(repeats):
        for name in PATH_NAMES:
            env = dict(os.environ, VANTOR_ISA=name)
            out = subprocess.run([sys.executable, "-c", PATH_CHILD, "3"], env=env, capture_output=True,
                                 text=True, check=True).stdout
            child = json.loads(out.splitlines()[-1])
            fresh = subprocess.run([sys.executable, "-c", FRESH_CHILD, "5"], capture_output=True, text=True,
                                   check=True, env=dict(env, MALLOC_MMAP_THRESHOLD_="131072")).stdout
            figures = dict(child["ns"], **{"uuid4(1M), fresh mapping": json.loads(fresh.splitlines()[-1])})
            key = child["isa"]  # a path the CPU lacks runs the best it has, and shares its row
            best = results.setdefault(key, {})
            for label, value in figures.items():
                best[label] = min(best.get(label, float("inf")), value)
    return results


PATH_ROWS = ["uuid4(1M)", "uuid4(1M), fresh mapping", "fill_uuid4, warm 16 MB", "uuid4(4M)",
             "fill_uuid4, warm 64 MB", "uuid7(1M)"]


def paths_table(paths, fast_ns):
    names = [name for name in PATH_NAMES if name in paths]
    head = ["| ns per UUID | " + " | ".join(f"`{name}`" for name in names)
            + (" | fastuuid.uuid4_bulk |" if fast_ns else " |"),
            "|---|" + "---:|" * (len(names) + (1 if fast_ns else 0))]
    body = []
    for row in PATH_ROWS:
        cells = [f"{paths[name][row]:.2f}" for name in names]
        if fast_ns:
            cells.append(f"{fast_ns:.0f}" if row == "uuid4(1M)" else "—")
        body.append(f"| {row} | " + " | ".join(cells) + " |")
    return head + body


def python314():
    """Per-UUID times of Python 3.14's own uuid4()/uuid7() in a list, if such an interpreter exists."""
    candidates = [shutil.which("python3.14")]
    chroot = Path("/var/cache/vantor/sid")
    if (chroot / "usr/bin/python3.14").exists() and os.geteuid() == 0:
        candidates.append(f"chroot {chroot} /usr/bin/python3.14")
    code = (
        "import time, uuid\n"
        "from itertools import repeat\n"
        "def best(f):\n"
        "    b = 1e9\n"
        "    for _ in range(5):\n"
        "        t = time.process_time(); [f() for _ in repeat(None, 200000)]; b = min(b, time.process_time() - t)\n"
        "    return b / 200000 * 1e9\n"
        "print(best(uuid.uuid4), best(uuid.uuid7))\n"
    )
    for candidate in filter(None, candidates):
        try:
            result = subprocess.run(candidate.split() + ["-c", code], capture_output=True, text=True, timeout=120, check=True)
            v4, v7 = map(float, result.stdout.split())
            return {"uuid4_ns": v4, "uuid7_ns": v7, "interpreter": candidate}
        except (OSError, subprocess.SubprocessError, ValueError):
            continue
    return None


def comparison(ns, py314):
    """The README's rows: (task, {series: ns per UUID}) for what each library offers, and the
    series names in order; a library without the task has no figure."""
    here = f"uuid (Python {platform.python_version().rsplit('.', 1)[0]})"
    series = ["vantor.bulk", here, "uuid (Python 3.14)", "fastuuid"]

    def row(task, vantor_label, std=None, fast=None, py314_key=None):
        figures = {"vantor.bulk": ns.get(vantor_label), here: ns.get(std), "fastuuid": ns.get(fast),
                   "uuid (Python 3.14)": py314.get(py314_key) if py314 and py314_key else None}
        return task, figures

    rows = [
        row("uuid4 as objects", "bulk.uuid4(n, 'uuid')", "[uuid.uuid4() for ...]",
            "fastuuid.uuid4_bulk(n)", "uuid4_ns"),
        row("uuid7 as objects", "bulk.uuid7(n, 'uuid')", None, "fastuuid.uuid7_bulk(n)", "uuid7_ns"),
        row("uuid4 as str", "bulk.uuid4(n, 'str')", "[str(uuid.uuid4()) for ...]",
            "fastuuid.uuid4_as_strings_bulk(n)"),
        row("uuid4 as standard uuid.UUID", "bulk.uuid4(n, 'std')", "[uuid.uuid4() for ...]",
            None, "uuid4_ns"),
        row("uuid4, 16 bytes each in one buffer", "bulk.uuid4(n) bytes"),
        row("uuid7, 16 bytes each in one buffer", "bulk.uuid7(n) bytes"),
        row("uuid5 of a column of names", "bulk.uuid5(ns, names)", "[uuid.uuid5(ns, name) for ...]"),
    ]
    return series, rows


def comparison_table(series, rows):
    """Markdown rows: what each library offers for a task, in ns per UUID (the README's table)."""
    names = {"uuid (Python 3.14)": "`uuid` (Python 3.14)"}
    head = ["| 1,000,000 UUIDs, ns per UUID | "
            + " | ".join(names.get(name, name.replace("uuid (", "`uuid` (")) for name in series) + " |",
            "|---|" + "---:|" * len(series)]
    body = ["| " + " | ".join([task] + ["—" if figures.get(name) is None else f"{figures[name]:,.0f}"
                                        for name in series]) + " |" for task, figures in rows]
    return head + body


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true")
    parser.add_argument("--out", type=Path, default=Path(__file__).resolve().parent / "results")
    args = parser.parse_args()
    repeats = 3 if args.quick else 7

    ns = {label: seconds * 1e9 for label, seconds in best_per_item(generation_benches(), repeats).items()}
    arrow = arrow_column()
    cli = command_line(2 if args.quick else 3)
    py314 = python314()
    paths = instruction_set_paths(2 if args.quick else 5)
    best_path = paths[max(paths, key=PATH_NAMES.index)]

    floor = ns["floor: list(range(2**62, 2**62 + n))"]
    rows = []

    def row(label, measured, target, met, note=""):
        rows.append({"row": label, "measured": measured, "target": target, "met": met, "note": note})

    # The bytes rows from the child of the default path (no VANTOR_ISA): 2^20 values each.
    best_name = max(paths, key=PATH_NAMES.index)
    row(f"bulk.uuid4(1M) bytes, ns per UUID ({best_name})", f"{best_path['uuid4(1M)']:.2f} ns", "≤ 2.5 ns",
        best_path["uuid4(1M)"] <= 2.5)
    row("bulk.uuid4(1M) bytes into a fresh mapping every call, ns per UUID",
        f"{best_path['uuid4(1M), fresh mapping']:.2f} ns", "≤ 3.5 ns", best_path["uuid4(1M), fresh mapping"] <= 3.5)
    # The same values written into a buffer that already exists: the generation alone, without
    # the kernel handing out and zeroing 16 MB of fresh pages for a new bytes object.
    row("bulk.fill_uuid4 into an existing 16 MB buffer, ns per UUID", f"{best_path['fill_uuid4, warm 16 MB']:.2f} ns",
        "≤ 2.2 ns", best_path["fill_uuid4, warm 16 MB"] <= 2.2)
    row("bulk.uuid4(4M) bytes (64 MB, a fresh mapping), ns per UUID", f"{best_path['uuid4(4M)']:.2f} ns", "≤ 5 ns",
        best_path["uuid4(4M)"] <= 5)
    if "avx2" in paths:
        row("bulk.uuid4(1M) bytes capped at AVX2 (VANTOR_ISA=avx2), ns per UUID", f"{paths['avx2']['uuid4(1M)']:.2f} ns",
            "≤ 5 ns", paths["avx2"]["uuid4(1M)"] <= 5)
    if fastuuid is not None:
        times = ns["fastuuid.uuid4_bulk(n)"] / best_path["uuid4(1M)"]
        row("bulk.uuid4(1M) bytes vs fastuuid.uuid4_bulk(1M), per UUID", f"{times:.0f}x faster", "≥ 100x", times >= 100)
    row("bulk.uuid7(1M) bytes, ns per UUID", f"{best_path['uuid7(1M)']:.2f} ns", "≤ 2.5 ns",
        best_path["uuid7(1M)"] <= 2.5)
    for fmt, limit, name in [("uuid", 1.0, "vantor.UUID"), ("str", 2.0, "str"), ("std", 3.5, "uuid.UUID")]:
        for version in (4, 7):
            ratio = ns[f"bulk.uuid{version}(n, '{fmt}')"] / floor
            row(f"bulk.uuid{version}(1M, '{fmt}'): list of {name} per item vs list of fresh ints",
                f"{ratio:.2f}x ({ns[f'bulk.uuid{version}(n, {fmt!r})']:.1f} vs {floor:.1f} ns)", f"≤ {limit:g}x", ratio <= limit)
    if arrow is not None:
        row("10M uuid7 as a pyarrow uuid column, time", f"{arrow['seconds']:.3f} s", "≤ 0.25 s", arrow["seconds"] <= 0.25)
        row("10M uuid7 as a pyarrow uuid column, traced peak", f"{arrow['peak_bytes'] / 1e6:.0f} MB", "≤ 200 MB",
            arrow["peak_bytes"] <= 200e6)
    row("bulk.uuid5 over 1M short str names, ns per name", f"{ns['bulk.uuid5(ns, names)']:.1f} ns", "≤ 150 ns",
        ns["bulk.uuid5(ns, names)"] <= 150)
    row("python -m vantor -u uuid7 -C 10000000 > file, vs the previous per-object loop",
        f"{cli['speedup']:.1f}x faster ({cli['now_s']:.2f} s vs {cli['before_s']:.2f} s CPU)", "≥ 3x", cli["speedup"] >= 3)

    meta = {
        "python": platform.python_version(), "machine": f"{platform.system()} {platform.machine()}",
        "vantor": vantor.__version__, "date": time.strftime("%Y-%m-%d %H:%M UTC", time.gmtime()),
        "repeats": repeats, "quick": args.quick, "load_average": os.getloadavg(),
        "fastuuid": getattr(fastuuid, "__version__", None) if fastuuid else None,
    }
    print(f"Python {meta['python']}, load average {meta['load_average'][0]:.1f}, best of {repeats}\n")
    print("ns per UUID:")
    for label, value in ns.items():
        print(f"  {label:<48}{value:10.1f}")
    if py314:
        print(f"  Python 3.14 [uuid.uuid4() for ...] (own process){py314['uuid4_ns']:10.1f}")
        print(f"  Python 3.14 [uuid.uuid7() for ...] (own process){py314['uuid7_ns']:10.1f}")
    print("\nns per UUID per path:")
    for name, figures in paths.items():
        print(f"  {name:<10}" + "  ".join(f"{label} {value:.2f}" for label, value in figures.items()))
    print("\nTargets:")
    for r in rows:
        print(f"  {'met   ' if r['met'] else 'MISSED'} {r['row']}: {r['measured']} (target {r['target']})")

    args.out.mkdir(parents=True, exist_ok=True)
    series, user_rows = comparison(ns, py314)
    (args.out / "bulk.json").write_text(json.dumps(
        {"meta": meta, "ns_per_uuid": ns, "paths": paths, "arrow": arrow, "cli": cli, "python314": py314, "targets": rows,
         "alternatives": {"series": series, "rows": user_rows}},
        indent=2, ensure_ascii=False) + "\n", encoding="utf-8")
    lines = [
        "# vantor.bulk: many UUIDs at once",
        "",
        f"Python {meta['python']} on {meta['machine']}, vantor {meta['vantor']}, {meta['date']}; "
        f"best of {repeats} in process CPU time, rows taking turns; load average at the end "
        f"{meta['load_average'][0]:.1f} on 2 cores{' — quick run' if args.quick else ''}.",
        "",
        "## Targets",
        "",
        "| row | measured | target | |",
        "|---|---:|---:|---|",
        *[f"| {r['row']} | {r['measured']} | {r['target']} | {'met' if r['met'] else 'MISSED'} |" for r in rows],
        "",
        "## Nanoseconds per UUID",
        "",
        "| call | ns per UUID |",
        "|---|---:|",
        *[f"| `{label}` | {value:.1f} |" for label, value in ns.items()],
    ]
    if py314:
        lines += [f"| Python 3.14 `[uuid.uuid4() for ...]` (own process) | {py314['uuid4_ns']:.1f} |",
                  f"| Python 3.14 `[uuid.uuid7() for ...]` (own process) | {py314['uuid7_ns']:.1f} |"]
    fast_ns = ns.get("fastuuid.uuid4_bulk(n)")
    lines += ["", "## Bytes per instruction-set path (VANTOR_ISA; the README's bulk table)", "",
              "Each path in its own process, the paths taking turns; 1M and 4M are 2^20 and 2^22 values. "
              "A fresh mapping: MALLOC_MMAP_THRESHOLD_=131072, so every result is new memory from the "
              "kernel.", "", *paths_table(paths, fast_ns), "", "![bulk per path](bulk_paths.png)"]
    lines += ["", "## Beside the alternatives (the README's table and chart)", "",
              *comparison_table(series, user_rows), "", "![vantor.bulk beside the alternatives](bulk.png)"]
    (args.out / "bulk.md").write_text("\n".join(lines) + "\n", encoding="utf-8")
    from charts import grouped_bars

    grouped_bars(args.out / "bulk.png",
                 f"1,000,000 UUIDs: vantor.bulk beside the alternatives (Python {meta['python']})"
                 f"{' — quick run' if args.quick else ''}", series, user_rows)
    path_series = [f"vantor.bulk ({name})" for name in PATH_NAMES if name in paths]
    path_rows = [(row_name, {f"vantor.bulk ({name})": figures[row_name] for name, figures in paths.items()})
                 for row_name in PATH_ROWS]
    if fast_ns:
        path_series.append("fastuuid.uuid4_bulk")
        path_rows[0][1]["fastuuid.uuid4_bulk"] = fast_ns
    grouped_bars(args.out / "bulk_paths.png", "vantor.bulk per instruction-set path (VANTOR_ISA)",
                 path_series, path_rows)
    print(f"\nWrote {args.out}/bulk.md, bulk.json, bulk.png and bulk_paths.png")


if __name__ == "__main__":
    main()
