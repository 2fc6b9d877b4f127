"""One process-wide state behind `vantor`, `vantor.std` and `vantor.bulk`: the version-7 order
across all of them and all threads, and fork handling through both extension modules."""
import os
import sys
import threading
import uuid

import pytest

import _vantor
import vantor
from vantor import bulk, std
from conftest import on_both_sides_of_fork
from shims import child_result

native = sys.modules["vantor._native"]


def test_both_modules_come_from_one_shared_object():
    assert native.__file__ == _vantor.__file__
    assert std.uuid4.__module__ == "vantor.std"


def split(data):
    """The 128-bit values of a "bytes" result."""
    return [int.from_bytes(data[i : i + 16], "big") for i in range(0, len(data), 16)]


# Each draws a few version-7 values through one of the ways the package offers.
V7_SOURCES = [
    lambda: [vantor.uuid7().int],
    lambda: [vantor._uuid7_int()],
    lambda: [std.uuid7().int],
    lambda: split(bulk.uuid7(3)),
    lambda: [u.int for u in bulk.uuid7(300, format="uuid")],
    lambda: [uuid.UUID(s).int for s in bulk.uuid7(2, format="str")],
    lambda: [u.int for u in bulk.uuid7(2, format="std")],
    # Large enough to be filled with the GIL released.
    lambda: split(bulk.uuid7(5000)),
]


def drain(rounds, offset, out):
    values = []
    for i in range(rounds):
        values += V7_SOURCES[(i + offset) % len(V7_SOURCES)]()
    out.append(values)


def test_interleaved_v7_values_from_one_thread_increase():
    out = []
    drain(len(V7_SOURCES) * 5, 0, out)
    values = out[0]
    assert all(a < b for a, b in zip(values, values[1:]))


def test_interleaved_v7_values_from_many_threads_increase_and_never_repeat():
    results = []
    threads = [threading.Thread(target=drain, args=(60, k, results)) for k in range(6)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    assert len(results) == len(threads)
    everything = []
    for values in results:
        # Each thread sees its own values in increasing order, whatever the others do meanwhile.
        assert all(a < b for a, b in zip(values, values[1:]))
        everything += values
    assert len(set(everything)) == len(everything)


def test_bulk_batches_of_parallel_threads_do_not_interleave():
    # A batch takes its counter range in one step: another thread's value can fall before or
    # after a whole batch, never inside it.
    batches = []
    singles = []

    def make_batches():
        for _ in range(20):
            batches.append(bulk.uuid7(20_000))

    def make_singles():
        for _ in range(20_000):
            singles.append(vantor._uuid7_int())

    threads = [threading.Thread(target=make_batches) for _ in range(2)] + [threading.Thread(target=make_singles)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    spans = []
    for data in batches:
        first, last = int.from_bytes(data[:16], "big"), int.from_bytes(data[-16:], "big")
        spans.append((first, last))
    spans.sort()
    assert all(a[1] < b[0] for a, b in zip(spans, spans[1:]))
    for value in singles:
        assert not any(first <= value <= last for first, last in spans)


# ---- fork --------------------------------------------------------------------------------------

# Each gives a list of 128-bit values, drawn from one module or the other.
FORK_DRAWS = {
    "vantor.uuid4": lambda: [vantor._uuid4_int() for _ in range(50)],
    "vantor.uuid7": lambda: [vantor._uuid7_int() for _ in range(50)],
    "std.uuid4": lambda: [std.uuid4().int for _ in range(50)],
    "bulk.uuid4": lambda: [u.int for u in bulk.uuid4(50, format="uuid")],
    "bulk.uuid4-large": lambda: split(bulk.uuid4(5000)),
    "bulk.uuid7": lambda: [u.int for u in bulk.uuid7(50, format="uuid")],
    "bulk.fill_uuid4": lambda: fill_values(bulk.fill_uuid4),
}


def fill_values(fill):
    buffer = bytearray(16 * 50)
    fill(buffer)
    return split(buffer)


def draw_everything():
    return [value for name in sorted(FORK_DRAWS) for value in FORK_DRAWS[name]()]


@pytest.mark.skipif(not hasattr(os, "fork"), reason="needs os.fork")
@pytest.mark.parametrize("warm_up", sorted(FORK_DRAWS))
def test_forked_child_never_repeats_the_parent(warm_up):
    # The parent is part-way through its buffered keystream and its v7 counter at the fork,
    # reached through one module or the other.
    FORK_DRAWS[warm_up]()
    parent, child = on_both_sides_of_fork(draw_everything)
    assert len(set(child)) == len(child)
    assert set(parent).isdisjoint(child)


# ---- sub-interpreters --------------------------------------------------------------------------

# The native module, loaded by itself (as the package loads vantor._native) in a sub-interpreter
# that is then destroyed, before the main interpreter uses it. Its process-wide state (the
# standard class's layout) must not come from the dead interpreter.
SUB_INTERPRETER = r'''
import importlib.util, json, os, uuid

try:
    import _interpreters as interpreters  # 3.13 and later

    def run_and_destroy(isolated, code):
        interpreter = interpreters.create("isolated" if isolated else "legacy")
        failure = interpreters.exec(interpreter, code)
        interpreters.destroy(interpreter)
        assert failure is None, failure
except ImportError:
    import _xxsubinterpreters as interpreters  # 3.12

    def run_and_destroy(isolated, code):
        interpreter = interpreters.create(isolated=isolated)
        interpreters.run_string(interpreter, code)
        interpreters.destroy(interpreter)

LOAD = """
import importlib.machinery, importlib.util, os
loader = importlib.machinery.ExtensionFileLoader("vantor._native", PATH)
spec = importlib.util.spec_from_loader("vantor._native", loader, origin=PATH)
try:
    loader.exec_module(importlib.util.module_from_spec(spec))
    outcome = "loaded"
except BaseException as error:
    outcome = type(error).__name__ + ": " + str(error)
os.write(WRITE, outcome.encode())
"""

path = importlib.util.find_spec("_vantor").origin
outcomes = {}
for mode in ("legacy", "isolated"):
    read, write = os.pipe()
    run_and_destroy(mode == "isolated", f"PATH = {path!r}\nWRITE = {write}\n" + LOAD)
    os.close(write)
    outcomes[mode] = os.read(read, 4096).decode()
    os.close(read)

from vantor import bulk, std

value = std.uuid4()
outcomes["std"] = [isinstance(value, uuid.UUID), repr(value) == f"UUID('{value}')"]
outcomes["bulk"] = isinstance(bulk.uuid4(1, format="std")[0], uuid.UUID)
print(json.dumps(outcomes))
'''


def test_sub_interpreters_are_refused_and_the_main_one_stays_intact():
    out, _ = child_result(SUB_INTERPRETER)
    refused = "ImportError: module vantor._native does not support loading in subinterpreters"
    assert out == {"legacy": refused, "isolated": refused, "std": [True, True], "bulk": True}


# The validator pydantic fields get: the object itself for exactly the class, everything else
# (a subclass's object included) handed on, and the fallback's errors passed through.
def test_exact_type_or_returns_the_class_and_hands_on_the_rest():
    class Sub(vantor.UUID):
        pass

    seen = []

    def fallback(value):
        seen.append(value)
        return "fallback"

    validate = vantor._native.exact_type_or(vantor.UUID, fallback)
    value, other = vantor.uuid4(), Sub(int=5)
    assert validate(value) is value
    assert [validate(other), validate(str(value)), validate(None)] == ["fallback"] * 3
    assert seen == [other, str(value), None]

    def refuses(value):
        raise KeyError(value)

    with pytest.raises(KeyError):
        vantor._native.exact_type_or(vantor.UUID, refuses)("x")
    for arguments in [(5, fallback), (vantor.UUID, 5), (vantor.UUID,), (vantor.UUID, fallback, 1)]:
        with pytest.raises(TypeError):
            vantor._native.exact_type_or(*arguments)
