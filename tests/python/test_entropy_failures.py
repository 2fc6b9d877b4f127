"""How random generation behaves when the operating system's entropy source misbehaves.

The real extension module runs in a child interpreter with tests/shims/getrandom_shim.c
preloaded. The child arms the shim's script (SHIM_GETRANDOM) at the moment it wants, so the
interpreter's own start-up reads are untouched, and reads the shim's log of calls
(SHIM_GETRANDOM_LOG: one "pid length result" line per call).
"""
import os
import textwrap

import pytest

from shims import child_result
from vantor import UUID

KEY_BYTES = 32
# The system's own description of the error number: glibc and musl word EIO differently.
EIO = f"{os.strerror(5)} (os error 5)"
PANIC = "pyo3_runtime.PanicException"

PREAMBLE = r'''
import json, os, threading
import vantor

LOG = os.environ["SHIM_GETRANDOM_LOG"]
results = {}

def arm(script):
    os.environ["SHIM_GETRANDOM"] = script

def disarm():
    os.environ["SHIM_GETRANDOM"] = ""

def clear_log():
    open(LOG, "w").close()

def log():
    with open(LOG) as f:
        return [[int(field) for field in line.split()] for line in f]

def describe(error):
    return {
        "raised": f"{type(error).__module__}.{type(error).__qualname__}",
        "args": list(error.args),
        "errno": getattr(error, "errno", "absent"),
        "is_exception": isinstance(error, Exception),
    }

def attempt(func, *args):
    try:
        value = func(*args)
    except BaseException as error:
        return describe(error)
    return {"value": None if value is None else str(value)}

def in_new_thread(func, *args):
    box = {}
    thread = threading.Thread(target=lambda: box.update(result=attempt(func, *args)))
    thread.start()
    thread.join()
    return box["result"]
'''

EPILOGUE = "\nprint(json.dumps(results))\n"


def run_child(tmp_path, body):
    """Runs `body` after PREAMBLE in a child with the shim; returns the child's `results`."""
    env = {"SHIM_GETRANDOM": "", "SHIM_GETRANDOM_LOG": str(tmp_path / "getrandom.log")}
    code = PREAMBLE + textwrap.dedent(body) + EPILOGUE
    results, _ = child_result(code, ["getrandom_shim"], env)
    return results


def assert_uuid4(outcome):
    assert "value" in outcome, outcome
    value = UUID(outcome["value"])
    assert value.version == 4


def assert_panic(outcome, message):
    assert outcome == {"raised": PANIC, "args": [message], "errno": "absent", "is_exception": False}


# ---- retried and partial reads -----------------------------------------------------------------


# (script, the lengths the module asks for, call after call, until it has a whole key)
RECOVERABLE = [
    pytest.param("eintr", [32, 32], id="eintr"),
    pytest.param("eintr:3", [32, 32, 32, 32], id="eintr-3-times"),
    # the bytes of a short read are kept: each call asks only for what is still missing
    pytest.param("short=5:3", [32, 27, 22, 17], id="short-reads"),
    pytest.param("short=1:*", list(range(32, 0, -1)), id="byte-by-byte"),
    pytest.param("eintr,short=10,eintr,short=10", [32, 32, 22, 22, 12], id="mixed"),
]


@pytest.mark.parametrize(("script", "lengths"), RECOVERABLE)
@pytest.mark.parametrize("when", ["first-draw", "reseed"])
def test_interrupted_and_short_reads_are_invisible(tmp_path, script, lengths, when):
    results = run_child(
        tmp_path,
        f"""
        if {when == "reseed"}:
            vantor.uuid4()
        clear_log()
        arm({script!r})
        results["call"] = attempt(vantor.{"reseed" if when == "reseed" else "uuid4"})
        results["log"] = log()
        disarm()
        results["after"] = attempt(vantor.uuid4)
        """,
    )
    if when == "reseed":
        assert results["call"] == {"value": None}
    else:
        assert_uuid4(results["call"])
    assert [length for _, length, _ in results["log"]] == lengths
    assert_uuid4(results["after"])


# ---- failures --------------------------------------------------------------------------------

# (script that keeps failing, the text the failure is reported with)
FAILURES = [
    pytest.param("errno=5:*", EIO, id="EIO"),
    pytest.param("errno=11:*", "Resource temporarily unavailable (os error 11)", id="EAGAIN"),
    pytest.param("errno=38:*", "Function not implemented (os error 38)", id="ENOSYS"),
    # results the kernel never gives
    pytest.param("ret=0:*", "unexpected situation", id="returns-0"),
    pytest.param("over:*", "unexpected situation", id="returns-more-than-asked"),
    pytest.param("errno=0:*", "errno: did not return a positive value", id="errno-0"),
]

ENTRIES = ["vantor.uuid4", "vantor._uuid4_int", "vantor.uuid8", "vantor.reseed"]


@pytest.mark.parametrize(("script", "text"), FAILURES)
@pytest.mark.parametrize("entry", ENTRIES)
@pytest.mark.parametrize("where", ["main-thread", "new-thread"])
def test_failure_at_a_threads_first_draw_panics_until_entropy_returns(tmp_path, script, text, entry, where):
    results = run_child(
        tmp_path,
        f"""
        run = in_new_thread if {where == "new-thread"} else attempt
        if {where == "new-thread"}:
            vantor.uuid4()  # the main thread's generator exists; each new thread needs its own
        arm({script!r})
        results["first"] = run({entry})
        results["again"] = run({entry})
        disarm()
        results["recovered"] = run(vantor.uuid4)
        """,
    )
    # A failed creation leaves no half-made generator behind: the next call tries again.
    assert_panic(results["first"], "could not initialize ThreadRng: " + text)
    assert_panic(results["again"], "could not initialize ThreadRng: " + text)
    assert_uuid4(results["recovered"])


@pytest.mark.parametrize(("script", "text"), FAILURES)
def test_reseed_failure_after_the_generator_exists_raises_oserror(tmp_path, script, text):
    results = run_child(
        tmp_path,
        f"""
        vantor.uuid4()
        arm({script!r})
        results["reseed"] = attempt(vantor.reseed)
        results["again"] = attempt(vantor.reseed)
        disarm()
        results["reseed_after"] = attempt(vantor.reseed)
        results["draw_after"] = attempt(vantor.uuid4)
        """,
    )
    oserror = {"raised": "builtins.OSError", "args": [text], "errno": None, "is_exception": True}
    assert results["reseed"] == oserror
    assert results["again"] == oserror
    assert results["reseed_after"] == {"value": None}
    assert_uuid4(results["draw_after"])


def test_uuid8_with_every_field_given_needs_no_entropy(tmp_path):
    results = run_child(
        tmp_path,
        """
        arm("errno=5:*")
        results["given"] = in_new_thread(vantor.uuid8, 1, 2, 3)
        results["drawn"] = in_new_thread(vantor.uuid8, 1, 2)
        """,
    )
    assert results["given"] == {"value": "00000000-0001-8002-8000-000000000003"}
    assert_panic(results["drawn"], "could not initialize ThreadRng: " + EIO)


def test_panic_exception_class(tmp_path):
    results = run_child(
        tmp_path,
        """
        def capture(func):
            try:
                func()
            except BaseException as error:
                return error

        arm("errno=5:*")
        first = capture(vantor.uuid4)
        box = {}
        thread = threading.Thread(target=lambda: box.update(error=capture(vantor._uuid4_int)))
        thread.start()
        thread.join()
        second = box["error"]
        try:
            vantor.uuid8()
        except Exception:
            results["caught_by"] = "Exception"
        except BaseException:
            results["caught_by"] = "BaseException"
        cls = type(first)
        results["same_class"] = type(second) is cls
        # the package offers the class itself, for `except vantor.PanicException`
        results["package_class"] = vantor.PanicException is cls
        results["name"] = [cls.__module__, cls.__name__, [b.__name__ for b in cls.__bases__]]
        results["first"] = describe(first)
        """,
    )
    # one class for every internal failure of the process, outside the Exception hierarchy
    assert results["same_class"] is True
    assert results["package_class"] is True
    assert results["caught_by"] == "BaseException"
    assert results["name"] == ["pyo3_runtime", "PanicException", ["BaseException"]]
    assert_panic(results["first"], "could not initialize ThreadRng: " + EIO)


# ---- key replacement ---------------------------------------------------------------------------

KEY_USES = 4096  # uuid4 calls per key: 16 per refill of four blocks, 256 refills per key


def test_key_is_replaced_every_4096_uuid4_calls(tmp_path):
    results = run_child(
        tmp_path,
        f"""
        clear_log()
        reads_at, size = [], 0
        for call in range(1, {3 * KEY_USES + 2}):
            vantor.uuid4()
            new_size = os.stat(LOG).st_size
            if new_size != size:
                reads_at.append(call)
                size = new_size
        results["reads_at"] = reads_at
        results["log"] = log()
        """,
    )
    assert results["reads_at"] == [1, KEY_USES + 1, 2 * KEY_USES + 1, 3 * KEY_USES + 1]
    assert [(length, result) for _, length, result in results["log"]] == [(KEY_BYTES, KEY_BYTES)] * 4


def test_failed_key_replacement_panics_and_the_draw_is_retried(tmp_path):
    results = run_child(
        tmp_path,
        f"""
        for _ in range({KEY_USES}):
            vantor.uuid4()
        arm("errno=5:*")
        results["failed"] = attempt(vantor.uuid4)
        disarm()
        clear_log()
        results["retried"] = attempt(vantor.uuid4)
        results["log"] = log()
        """,
    )
    failed = results["failed"]
    assert failed["raised"] == PANIC
    assert failed["is_exception"] is False
    assert len(failed["args"]) == 1
    assert failed["args"][0].endswith(": " + EIO)
    assert_uuid4(results["retried"])
    # the retried draw replaced the key, which it could not do before
    assert [length for _, length, _ in results["log"]] == [KEY_BYTES]


# ---- fork ------------------------------------------------------------------------------------


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_forked_child_reads_new_entropy_at_its_first_draw(tmp_path):
    results = run_child(
        tmp_path,
        """
        for _ in range(5):
            vantor.uuid4()
        clear_log()
        pid = os.fork()
        if pid == 0:
            status = 1
            try:
                vantor.uuid4()
                vantor.uuid4()
                status = 0
            finally:
                os._exit(status)
        _, wait_status = os.waitpid(pid, 0)
        vantor.uuid4()
        results.update(child=pid, status=os.waitstatus_to_exitcode(wait_status), log=log())
        """,
    )
    assert results["status"] == 0
    # only the child reads, once, a whole key; the parent's key is not due
    assert results["log"] == [[results["child"], KEY_BYTES, KEY_BYTES]]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
def test_forked_child_without_entropy_fails_instead_of_reusing_the_parents_stream(tmp_path):
    results = run_child(
        tmp_path,
        """
        for _ in range(5):
            vantor.uuid4()
        child_results = LOG + ".child"
        pid = os.fork()
        if pid == 0:
            status = 1
            try:
                arm("errno=5:*")
                outcome = {"failed": attempt(vantor.uuid4)}
                disarm()
                outcome["retried"] = attempt(vantor.uuid4)
                with open(child_results, "w") as f:
                    json.dump(outcome, f)
                status = 0
            finally:
                os._exit(status)
        _, wait_status = os.waitpid(pid, 0)
        results["status"] = os.waitstatus_to_exitcode(wait_status)
        with open(child_results) as f:
            results.update(json.load(f))
        """,
    )
    assert results["status"] == 0
    failed = results["failed"]
    assert failed["raised"] == PANIC
    assert failed["args"][0].endswith(": " + EIO)
    assert_uuid4(results["retried"])
