"""Interpreter exit while a daemon thread is inside a call that works without the GIL.

Each run is a fresh interpreter whose daemon thread loops over one workload while the main
thread ends in one of three ways; the run fails when the process does not exit with the status
the script asked for (an abort, a crash, a hang) or reports a fatal error. Prints the failures
per N runs for each workload, exit kind and -X dev setting, one table per interpreter.

    python bench/shutdown_sweep.py                        # 100 runs per cell, this interpreter
    python bench/shutdown_sweep.py --runs 20 --jobs 2 /path/to/python3.12 /path/to/python3.13

Each interpreter must have vantor installed (and pyarrow for the Arrow workload, else that row
is skipped).
"""
from __future__ import annotations

import argparse
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

# Each: (setup, one call); the call releases the GIL for most of its time.
WORKLOADS = {
    "bulk.uuid4": ("", "bulk.uuid4(100_000)"),
    "bulk.uuid7": ("", "bulk.uuid7(100_000)"),
    "bulk.uuid5 arrow": (
        "import pyarrow as pa; names = pa.array([str(i) for i in range(20_000)])",
        "bulk.uuid5(vantor.NAMESPACE_DNS, names, format='arrow')",
    ),
    "fill_uuid4": ("buffer = bytearray(16 * 100_000)", "bulk.fill_uuid4(buffer)"),
    "CLI lines": ("from vantor._native import bulk_lines as lines", "lines(4, 100_000)"),
    "uuid5 64 KiB name": ("name = b'x' * 65536", "vantor.uuid5(vantor.NAMESPACE_DNS, name)"),
}
# How the main thread ends, and the exit status that asks for.
EXITS = {"return": ("pass", 0), "sys.exit(3)": ("sys.exit(3)", 3), "raise": ("raise RuntimeError('end')", 1)}
FATAL_MARKS = ("terminate called", "FATAL", "Fatal Python error", "Segmentation fault")

SCRIPT = """
import sys, threading, time
import vantor
from vantor import bulk
{setup}

def loop():
    while True:
        {call}

threading.Thread(target=loop, daemon=True).start()
time.sleep(0.1)
{exit}
"""


def script(workload: str, exit_kind: str) -> str:
    setup, call = WORKLOADS[workload]
    return SCRIPT.format(setup=setup, call=call, exit=EXITS[exit_kind][0])


def run_once(python: str, code: str, dev: bool, expected: int) -> bool:
    """Whether the run ended as asked."""
    command = [python, *(["-X", "dev"] if dev else []), "-c", code]
    try:
        result = subprocess.run(command, capture_output=True, text=True, timeout=60)
    except subprocess.TimeoutExpired:
        return False
    return result.returncode == expected and not any(mark in result.stderr for mark in FATAL_MARKS)


def has_pyarrow(python: str) -> bool:
    return subprocess.run([python, "-c", "import pyarrow"], capture_output=True).returncode == 0


def sweep(python: str, runs: int, jobs: int) -> None:
    version = subprocess.run([python, "-c", "import sys; print(sys.version.split()[0])"],
                             capture_output=True, text=True, check=True).stdout.strip()
    print(f"\nPython {version} ({python}): failures per {runs} runs")
    columns = [(exit_kind, dev) for dev in (False, True) for exit_kind in EXITS]
    header = ["workload"] + [f"{exit_kind}{' -X dev' if dev else ''}" for exit_kind, dev in columns]
    print(" | ".join(header))
    print(" | ".join("---" for _ in header))
    arrow = has_pyarrow(python)
    with ThreadPoolExecutor(jobs) as pool:
        for workload in WORKLOADS:
            if "arrow" in workload and not arrow:
                print(f"{workload} | " + " | ".join("no pyarrow" for _ in columns))
                continue
            cells = []
            for exit_kind, dev in columns:
                code = script(workload, exit_kind)
                expected = EXITS[exit_kind][1]
                outcomes = pool.map(lambda _: run_once(python, code, dev, expected), range(runs))
                cells.append(str(sum(not ok for ok in outcomes)))
            print(" | ".join([workload, *cells]), flush=True)


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pythons", nargs="*", default=[sys.executable], help="interpreters to sweep")
    parser.add_argument("--runs", type=int, default=100, help="runs per cell (default: %(default)s)")
    parser.add_argument("--jobs", type=int, default=2, help="runs at once (default: %(default)s)")
    args = parser.parse_args()
    for python in args.pythons:
        sweep(python, args.runs, args.jobs)


if __name__ == "__main__":
    main()
