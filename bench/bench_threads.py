#!/usr/bin/env python3
"""Thread scaling: total calls per second with 1 to N threads, as a multiple of one thread's.

    python bench/bench_threads.py [--threads N] [--calls M] [--repeats R] [--python PY ...]

Each thread makes the same number of calls of one operation, all starting together at a
barrier; the throughput is all threads' calls over the wall time until the last one finishes,
and the best of R repeats is kept. With `--python`, the script runs itself under each given
interpreter (a GIL build and a free-threaded one, say) and prints their tables side by side;
without, it measures the interpreter running it. On a free-threaded build, run it with the GIL
off (vantor keeps it off; PYTHON_GIL=0 forces it for everything else imported).

The ratio for k threads is ideally k while the machine has k idle cores. A GIL build stays near 1
(or below: the threads take turns). Wall time is what is measured, so a busy machine lowers the
ratios: run it when the machine is quiet, or read the best of several runs. The load average is
printed with the table for that reason.
"""
from __future__ import annotations

import argparse
import json
import operator
import os
import subprocess
import sys
import threading
import time
from itertools import repeat

UNROLL = 10

# (label, expression giving (function, argument or None), evaluated in each thread; calls per
# thread relative to M)
OPERATIONS = [
    ("object()", "(object, None)", 1.0),
    ("_uuid4_int()", "(v._uuid4_int, None)", 1.0),
    ("uuid4()", "(v.uuid4, None)", 1.0),
    ("UUID(str)", "(v.UUID, str(v.uuid4()))", 1.0),
    ("str(u)", "(str, v.uuid4())", 1.0),
    ("u.int", "(attrgetter('int'), v.uuid4())", 1.0),
    ("uuid7()", "(v.uuid7, None)", 1.0),
    ("_uuid7_int()", "(v._uuid7_int, None)", 1.0),
    ("std.uuid4()", "(vstd.uuid4, None)", 0.5),
    ("bulk.uuid4(1000)", "(bulk.uuid4, 1000)", 0.002),
    ("bulk.uuid7(1000)", "(bulk.uuid7, 1000)", 0.002),
]


def make_loop(with_argument):
    call = "f(a)" if with_argument else "f()"
    source = "def loop(n, f, a):\n    for _ in repeat(None, n):\n        " + "; ".join([call] * UNROLL) + "\n"
    namespace = {"repeat": repeat}
    exec(source, namespace)
    return namespace["loop"]


def throughput(setup, environment, threads, calls):
    rounds = max(1, calls // UNROLL)
    barrier = threading.Barrier(threads)
    started, done = [], []

    def work():
        # Each thread makes its own argument (the text to parse, the UUID to format): an object
        # shared by all threads would have them all write to its reference count.
        function, argument = eval(setup, environment)
        loop = make_loop(argument is not None)
        barrier.wait()
        started.append(time.perf_counter())
        loop(rounds, function, argument)
        done.append(time.perf_counter())

    workers = [threading.Thread(target=work) for _ in range(threads)]
    for worker in workers:
        worker.start()
    for worker in workers:
        worker.join()
    return threads * rounds * UNROLL / (max(done) - min(started))


def measure(max_threads, calls, repeats):
    import vantor as v
    import vantor.bulk as bulk
    import vantor.std as vstd

    environment = {"v": v, "bulk": bulk, "vstd": vstd, "attrgetter": operator.attrgetter}
    rows = []
    for label, setup, scale in OPERATIONS:
        n = max(UNROLL, int(calls * scale))
        throughput(setup, environment, 1, n)  # warm-up: first-use costs and the interpreter's caches
        figures = []
        for threads in range(1, max_threads + 1):
            figures.append(max(throughput(setup, environment, threads, n) for _ in range(repeats)))
        rows.append((label, figures))
    gil = sys._is_gil_enabled() if hasattr(sys, "_is_gil_enabled") else True
    return {"python": sys.version.split()[0] + ("" if gil else "t"), "gil": gil, "rows": rows}


def table(results, max_threads):
    header = ["call"]
    for result in results:
        kind = "GIL" if result["gil"] else "free-threaded"
        header.append(f"{result['python']} {kind}, 1 thread")
        header += [f"{k} threads" for k in range(2, max_threads + 1)]
    lines = ["| " + " | ".join(header) + " |", "|" + "---|" * len(header)]
    for index, (label, _, _) in enumerate(OPERATIONS):
        cells = [f"`{label}`"]
        for result in results:
            figures = result["rows"][index][1]
            cells.append(f"{figures[0] / 1e6:.2f} M/s")
            cells += [f"{figure / figures[0]:.2f}x" for figure in figures[1:]]
        lines.append("| " + " | ".join(cells) + " |")
    return "\n".join(lines)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--threads", type=int, default=min(4, os.cpu_count() or 2))
    parser.add_argument("--calls", type=int, default=1_000_000, help="calls per thread (scaled for slow rows)")
    parser.add_argument("--repeats", type=int, default=3)
    parser.add_argument("--python", action="append", default=[], help="interpreters to compare")
    parser.add_argument("--json", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.python:
        results = []
        for python in args.python:
            command = [python, __file__, "--json", "--threads", str(args.threads), "--calls", str(args.calls),
                       "--repeats", str(args.repeats)]
            results.append(json.loads(subprocess.run(command, check=True, capture_output=True, text=True).stdout))
    else:
        results = [measure(args.threads, args.calls, args.repeats)]
    if args.json:
        print(json.dumps(results[0]))
        return
    print(f"Total calls per second, and as a multiple of 1 thread's; best of {args.repeats}, "
          f"{args.calls:,} calls per thread, {os.cpu_count()} CPUs, load average "
          f"{os.getloadavg()[0]:.1f} at the end.\n")
    print(table(results, args.threads))


if __name__ == "__main__":
    main()
