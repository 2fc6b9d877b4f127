"""Interpreter exit while a daemon thread is inside a native call that works without the GIL.

On 3.12 and 3.13 the interpreter ends such a thread with pthread_exit when it asks for the GIL
back after finalization has begun, which aborted the process from inside our frames. Each case
runs the reproduction a few dozen times: a child process forks one short-lived interpreter per
run, whose daemon thread loops over the workload while its main thread ends in one of three ways.
bench/shutdown_sweep.py is the full sweep (fresh processes, 100 runs per cell, with -X dev).
"""
import os

import pytest

from shims import child_result

RUNS = 24
# Each: (setup, one call), the call working without the GIL for most of its time.
WORKLOADS = {
    "bulk.uuid4": ("", "bulk.uuid4(100_000)"),
    "bulk.uuid7": ("", "bulk.uuid7(100_000)"),
    # The path of a pyarrow column, given its buffers directly: pyarrow's own threads would make
    # the forks below unsafe.
    "bulk.uuid5-offsets": (
        "import array; offsets = memoryview(array.array('i', range(0, 5 * 20_001, 5))); data = b'x' * 100_000",
        "bulk._native.bulk_uuid5_offsets(vantor.NAMESPACE_DNS, offsets, data, 'bytes')",
    ),
    "fill_uuid4": ("buffer = bytearray(16 * 100_000)", "bulk.fill_uuid4(buffer)"),
    "cli-lines": ("from vantor._native import bulk_lines as lines", "lines(4, 100_000)"),
    "uuid5-64KiB-name": ("name = b'x' * 65536", "vantor.uuid5(vantor.NAMESPACE_DNS, name)"),
}

CHILD = r"""
import json, os, sys, threading, time
import vantor
from vantor import bulk
{setup}

def loop():
    while True:
        {call}

EXITS = [("return", 0), ("sys.exit", 3), ("raise", 1)]
kind = None
statuses = []
for run in range({runs}):
    pid = os.fork()
    if pid == 0:
        kind = EXITS[run % 3][0]
        break
    _, status = os.waitpid(pid, 0)
    statuses.append([EXITS[run % 3][0], EXITS[run % 3][1], os.waitstatus_to_exitcode(status)])

if kind is None:
    print(json.dumps(statuses))
else:
    # One interpreter that exits while its daemon thread is inside the call; its traceback (for
    # "raise") is not the parent's output.
    os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
    threading.Thread(target=loop, daemon=True).start()
    time.sleep(0.02)
    if kind == "sys.exit":
        sys.exit(3)
    if kind == "raise":
        raise RuntimeError("the main thread ends with an exception")
"""


@pytest.mark.skipif(not hasattr(os, "fork"), reason="the child forks its short-lived interpreters: needs os.fork")
@pytest.mark.parametrize("workload", list(WORKLOADS))
def test_exit_with_a_daemon_thread_inside_a_call(workload):
    setup, call = WORKLOADS[workload]
    statuses, _ = child_result(CHILD.format(setup=setup, call=call, runs=RUNS))
    assert len(statuses) == RUNS
    wrong = [(kind, got) for kind, expected, got in statuses if got != expected]
    # A negative status is the signal that ended the run (-6: the abort).
    assert not wrong, f"{len(wrong)} of {RUNS} runs did not exit as asked: {wrong}"
