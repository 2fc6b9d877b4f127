"""Interpreter exit while a daemon thread is inside a native call that works without the GIL.

On 3.12 and 3.13 the interpreter ends such a thread with pthread_exit when it asks for the GIL
back after finalization has begun, which aborted the process from inside our frames. Each case
runs the reproduction a few dozen times: a child process forks one short-lived interpreter per
run, whose daemon thread loops over the workload while its main thread ends in one of three ways.
bench/shutdown_sweep.py is the full sweep (fresh processes, 100 runs per cell, with -X dev).
"""
import errno
import os
import subprocess
import sys

import pytest

from shims import child_result, run_child

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


# A daemon thread inside Python code that one of our calls runs, while the interpreter finalizes:
# 3.12 and 3.13 end it with pthread_exit when it next asks for the GIL, and that unwind crosses
# our frames. Each case prints a large block at exit, whose flush lets the GIL go.
IN_PYTHON_CODE = {
    "generator of names": """
import threading, time, uuid
from vantor import bulk

def loop():
    while True:
        bulk.uuid5(uuid.NAMESPACE_DNS, (str(i) for i in range(10**5)))

threading.Thread(target=loop, daemon=True).start()
time.sleep(0.3)
print("x" * 100000)
""",
    # Deterministic: the count's __index__ is asleep when the last collection, after finalization
    # has begun, runs a finalizer that sleeps in turn; the thread wakes into a finalizing
    # interpreter every time.
    "__index__ asleep at the final collection": """
import gc, threading, time
from vantor import bulk

class SlowCount:
    def __index__(self):
        time.sleep(0.3)
        return 1

class SlowFinalizer:
    def __del__(self, sleep=time.sleep):
        sleep(0.5)

gc.disable()
cycle = SlowFinalizer()
cycle.self = cycle
del cycle
threading.Thread(target=lambda: bulk.uuid4(SlowCount()), daemon=True).start()
time.sleep(0.05)
""",
    "__index__ of a uuid7 timestamp": """
import gc, threading, time
import vantor

class SlowNanoseconds:
    def __index__(self):
        time.sleep(0.3)
        return 1

class SlowFinalizer:
    def __del__(self, sleep=time.sleep):
        sleep(0.5)

gc.disable()
cycle = SlowFinalizer()
cycle.self = cycle
del cycle
threading.Thread(target=lambda: vantor.uuid7(nanoseconds=SlowNanoseconds()), daemon=True).start()
time.sleep(0.05)
""",
}


@pytest.mark.parametrize("case", list(IN_PYTHON_CODE))
def test_exit_with_a_daemon_thread_in_python_code_we_called(case):
    statuses = []
    for _ in range(4):
        result = subprocess.run([sys.executable, "-c", IN_PYTHON_CODE[case]], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE, text=True, timeout=60)
        statuses.append((result.returncode, result.stderr[-300:]))
    assert all(status == 0 for status, _ in statuses), statuses


# The daemon thread's first random draw blocks for good (as before the kernel's pool is
# initialised), inside a call that works without the GIL: the process exits at once instead of
# waiting for that thread to take the GIL back.
BLOCKED_IN_ENTROPY = """
import os, sys, threading, time
from vantor import bulk
bulk.uuid4(1)  # the main thread's generator exists before the shim blocks
os.environ["SHIM_GETRANDOM"] = "block:*"
started = threading.Event()
def work():
    started.set()
    {call}
threading.Thread(target=work, daemon=True).start()
started.wait()
time.sleep(0.1)
{end}
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="LD_PRELOAD shims need Linux")
@pytest.mark.parametrize(
    "call", ["bulk.uuid4(100_000)", "bulk.fill_uuid4(bytearray(16 * 100_000))", "bulk._native.bulk_lines(4, 100_000)"]
)
@pytest.mark.parametrize("end,status", [("pass", 0), ("sys.exit(3)", 3)])
def test_exit_with_a_daemon_thread_blocked_in_entropy(call, end, status):
    result = run_child(BLOCKED_IN_ENTROPY.format(call=call, end=end), shims=["getrandom_shim"], timeout=60)
    assert result.returncode == status, result.stderr


# After "closing", a daemon thread stops at its next piece of work instead of finishing its batch
# with the GIL held: an atexit callback that runs after ours (registered before vantor was
# imported) lets the GIL go for several batch lengths and sees no batch completed meanwhile.
# 3.14 has no such window: it parks these threads itself once it finalizes.
STOPS_AT_CLOSING = """
import atexit, os, threading, time

def after_closing():
    before = done[0]
    time.sleep(3 * batch_seconds + 0.2)
    os.write(1, b"%d\\n" % (done[0] - before))

atexit.register(after_closing)
from vantor import bulk

N = 1_000_000
start = time.perf_counter(); bulk.uuid4(N, format={format!r}); batch_seconds = time.perf_counter() - start
done = [0]
running = threading.Event()
def loop():
    while True:
        running.set()
        bulk.uuid4(N, format={format!r})
        done[0] += 1
threading.Thread(target=loop, daemon=True).start()
running.wait()
"""


@pytest.mark.skipif(sys.version_info >= (3, 14), reason="3.14 parks daemon threads itself at finalization")
@pytest.mark.parametrize("format", ["bytes", "uuid"])
def test_daemon_thread_stops_once_closing(format):
    result = run_child(STOPS_AT_CLOSING.format(format=format), timeout=120)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["0"]


# A manual run of the exit callbacks is no exit: afterwards bulk work lets the GIL go again, and
# the exit callback is registered again for the real exit, which a daemon thread blocked in
# entropy then meets.
AFTER_RUN_EXITFUNCS = """
import atexit, os, threading, time
from vantor import bulk
for _ in range({runs}):
    atexit._run_exitfuncs()

buffer = bytearray(16 * 4_000_000)
in_call = threading.Event()
def fill():
    in_call.set()
    bulk.fill_uuid4(buffer)
    in_call.clear()
thread = threading.Thread(target=fill)
thread.start()
in_call.wait()
wakeups = 0
while in_call.is_set():
    time.sleep(0.001)
    wakeups += in_call.is_set()
thread.join()
print(wakeups)

os.environ["SHIM_GETRANDOM"] = "block:*"
threading.Thread(target=lambda: bulk.uuid4(100_000), daemon=True).start()
time.sleep(0.1)
"""


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="LD_PRELOAD shims need Linux")
@pytest.mark.parametrize("runs", [1, 2])
def test_manual_exit_callbacks_do_not_close(runs):
    result = run_child(AFTER_RUN_EXITFUNCS.format(runs=runs), shims=["getrandom_shim"], timeout=60)
    assert result.returncode == 0, result.stderr
    # With the GIL held for the whole call, the main thread could not wake during it at all.
    assert int(result.stdout.split()[-1]) >= 5, result.stdout


# A thread that the interpreter parks for good while it attaches (3.14 during finalization) must
# not hold the version-7 lock: a finalizer that makes a version-7 UUID afterwards would wait
# forever. Threads contend for the lock while the interpreter finalizes under them.
V7_AT_FINALIZATION = """
import gc, os, threading, time
import vantor

class MakesOneAtTheEnd:
    def __del__(self, uuid7=vantor.uuid7, write=os.write):
        write(1, b"finalized %d\\n" % uuid7().version)

def loop():
    while True:
        vantor.uuid7()

gc.disable()
last = MakesOneAtTheEnd()
last.self = last
del last
for _ in range(4):
    threading.Thread(target=loop, daemon=True).start()
time.sleep(0.2)
"""


def test_version7_lock_at_finalization():
    for _ in range(3):
        result = run_child(V7_AT_FINALIZATION, timeout=60)
        assert result.returncode == 0, result.stderr
        assert result.stdout == "finalized 7\n"


@pytest.mark.skipif(not sys.platform.startswith("linux"), reason="LD_PRELOAD shims need Linux")
def test_failed_fork_handler_registration_fails_the_import():
    code = """
import json, os, sys
os.environ["SHIM_ATFORK_ERRNO"] = "12"
try:
    import vantor
except ImportError as error:
    failure = str(error)
else:
    failure = None
os.environ["SHIM_ATFORK_ERRNO"] = ""
import vantor
pid = os.fork()
if pid == 0:
    os._exit(0)
os.waitpid(pid, 0)
print(json.dumps([failure, str(vantor.uuid7().version)]))
"""
    (failure, version), _ = child_result(code, shims=["atfork_shim"])
    # The C library's own text for ENOMEM ("Cannot allocate memory" in glibc, "Out of memory" in musl).
    assert failure is not None and f"pthread_atfork: {os.strerror(errno.ENOMEM)}" in failure
    assert version == "7"
