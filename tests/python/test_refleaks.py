"""Reference and memory leaks: every callable, property and slot, on its success and its error
paths, is called many times; the interpreter's allocated blocks, the memory traced by tracemalloc
and the reference counts of everything the call touched must not grow with the number of calls.

A native function that forgets one reference or one object per call grows these by about the
number of calls, far beyond the slack allowed here for caches that settle during the warm-up.
The harness itself is checked against pure-Python leaks, so that it cannot silently go blind.
"""
import array
import copy
import gc
import json
import operator
import pickle
import re
import sys
import sysconfig
import tracemalloc
from dataclasses import dataclass, field
from pathlib import Path

import pytest

from conftest import Index
from shims import run_child
from vantor import (
    NAMESPACE_DNS,
    UUID,
    _uuid4_int,
    _uuid7_int,
    getnode,
    reseed,
    uuid1,
    uuid3,
    uuid4,
    uuid5,
    uuid6,
    uuid7,
    uuid8,
)

WARMUP = 1000
ROUNDS = 5_000
# Allowed growth: room for interpreter caches, far below one object per call (5,000 blocks and
# at least 80 KB here; tracemalloc makes each call several times slower, so more rounds only cost
# time). A free-threaded build frees some memory only once every thread has
# passed a quiescent point, and its allocator keeps pages per thread: in the full suite its growth
# reached 135 blocks and 30.6 KB, the same after 20,000 calls as after 60,000.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
BLOCK_SLACK = 300 if FREE_THREADED else 50
TRACED_SLACK = (64 if FREE_THREADED else 4) * 1024  # bytes
REFERENCE_SLACK = 10

HERE = Path(__file__).resolve().parent


@dataclass
class Case:
    id: str
    call: object
    args: tuple = ()
    kwargs: dict = field(default_factory=dict)
    raises: type = None  # the exception class every call raises, or None
    notes: list = None  # the notes that exception carries (checked when raising)


def case(id, call, *args, raises=None, notes=None, **kwargs):
    return Case(id, call, args, kwargs, raises, notes)


def note(param):
    return [f"while processing '{param}'"]


def watched_objects(c):
    objects = [c.call, UUID, *c.args, *c.kwargs.keys(), *c.kwargs.values()]
    if c.raises is not None:
        objects.append(c.raises)
    # What the arguments hold: the value an __index__ returns, the items of a fields tuple.
    for argument in [*c.args, *c.kwargs.values()]:
        if isinstance(argument, (tuple, list)):
            objects.extend(argument)
        objects.extend(getattr(argument, "__dict__", {}).values())
    return objects


def calls(c, count):
    call, args, kwargs, raises = c.call, c.args, c.kwargs, c.raises
    if raises is None:
        for _ in range(count):
            call(*args, **kwargs)
    else:
        for _ in range(count):
            try:
                call(*args, **kwargs)
            except raises:
                pass


def last_outcome(c):
    try:
        c.call(*c.args, **c.kwargs)
    except BaseException as error:  # noqa: BLE001 - compared below
        return error
    return None


def leak_problems(c, rounds=ROUNDS):
    """What grew while `c` was called `rounds` times after a warm-up: a list of descriptions."""
    calls(c, WARMUP)
    problems = growth(c, rounds)
    if problems:
        # A cache the interpreter fills once (a dict that grows, a line cache) may do so during
        # the measured calls rather than the warm-up. A leak grows again in a second measurement.
        problems = growth(c, rounds)
    return problems + outcome_problems(c, rounds)


def growth(c, rounds):
    """What grew while `c` was called `rounds` times."""
    watched = watched_objects(c)
    tracemalloc.start()
    try:
        gc.collect()
        # The counts are kept as C integers: a list of int objects would itself hold references
        # to the small ints among the watched objects (immortal, and so never counted, from 3.12).
        references_before = array.array("q", (sys.getrefcount(o) for o in watched))
        traced_before = tracemalloc.get_traced_memory()[0]
        blocks_before = sys.getallocatedblocks()
        calls(c, rounds)
        gc.collect()
        blocks_after = sys.getallocatedblocks()
        traced_after = tracemalloc.get_traced_memory()[0]
        references_after = array.array("q", (sys.getrefcount(o) for o in watched))
    finally:
        tracemalloc.stop()

    problems = []
    if blocks_after - blocks_before >= BLOCK_SLACK:
        problems.append(f"allocated blocks grew by {blocks_after - blocks_before}")
    if traced_after - traced_before >= TRACED_SLACK:
        problems.append(f"traced memory grew by {traced_after - traced_before} bytes")
    for o, before, after in zip(watched, references_before, references_after):
        if after - before >= REFERENCE_SLACK:
            problems.append(f"references to {type(o).__name__} {o!r:.60} grew by {after - before}")
    return problems


def outcome_problems(c, rounds):
    problems = []
    # Each error creates a new exception with its own notes: repeated calls must not pile notes
    # onto a shared object, nor lose them.
    outcome = last_outcome(c)
    if c.raises is None:
        if outcome is not None:
            problems.append(f"raised {outcome!r}")
    elif type(outcome) is not c.raises:
        problems.append(f"expected {c.raises.__name__}, got {outcome!r}")
    elif c.notes is not None and list(getattr(outcome, "__notes__", [])) != c.notes:
        problems.append(f"notes after {rounds} calls: {getattr(outcome, '__notes__', [])!r:.200}")
    return problems


def check(c, rounds=ROUNDS):
    problems = leak_problems(c, rounds)
    assert not problems, f"{c.id}: " + "; ".join(problems)


# ---- inputs --------------------------------------------------------------------------------

# Values beyond the small-int cache, so that a leaked result or argument is a real object.
U = UUID("f81d4fae-7dec-11d0-a765-00a0c91e6bf6")
OTHER = UUID("6fa459ea-ee8a-3ca4-894e-db77e160355e")
U4 = UUID(int=(1 << 127) + 12345, version=4)
U7 = uuid7(nanoseconds=1_700_000_000_123_456_789)
NODE = 0x1234_5678_9ABC
NANOSECONDS = 1_700_000_000_123_456_789
BIG64 = (1 << 64) - 12345


class Sub(UUID):
    pass


class IndexRaises:
    """__index__ raises a new exception on each call."""

    def __index__(self):
        raise ValueError("no index here")


class IndexReturnsStr:
    def __init__(self):
        self.value = "not an int"

    def __index__(self):
        return self.value


class BreaksMidway:
    """A sequence of small ints whose iteration fails after two items."""

    def __len__(self):
        return 4

    def __getitem__(self, index):
        if index < 2:
            return 97 + index
        raise KeyError("iteration broke")


class StrKeyRaises(str):
    """A keyword name whose str() fails: the message for an unknown keyword cannot be built."""

    def __str__(self):
        raise ValueError("no text for this name")


NAME_TEXT = "a name with ü and €"
PROPERTIES = [
    "hex", "bytes", "bytes_le", "int", "urn", "version", "variant", "node", "time_low", "time_mid",
    "time_hi_version", "clock_seq_hi_variant", "clock_seq_low", "clock_seq", "time", "timestamp",
    "fields", "is_safe",
]

SUCCESS_CASES = [
    case("uuid1", uuid1),
    case("uuid1-given", uuid1, NODE, 0x1234),
    case("uuid1-index", uuid1, node=Index(NODE), clock_seq=Index(BIG64)),
    case("uuid6", uuid6),
    case("uuid6-given", uuid6, node=NODE, clock_seq=7),
    *[
        case(f"{f.__name__}-{kind}", f, *args)
        for f in (uuid3, uuid5)
        for kind, args in [
            ("str", (NAMESPACE_DNS, NAME_TEXT)),
            ("bytes", (NAMESPACE_DNS, b"name")),
            ("bytearray", (NAMESPACE_DNS, bytearray(b"name"))),
            ("list", (NAMESPACE_DNS, [1, 2, 3, 255])),
            ("memoryview", (NAMESPACE_DNS, memoryview(b"name"))),
            ("subclass-namespace", (Sub(int=NAMESPACE_DNS.int), "name")),
        ]
    ],
    case("uuid3-keywords", uuid3, namespace=NAMESPACE_DNS, name="x"),
    case("uuid4", uuid4),
    case("_uuid4_int", _uuid4_int),
    case("uuid7", uuid7),
    case("uuid7-given", uuid7, nanoseconds=NANOSECONDS),
    case("_uuid7_int", _uuid7_int),
    case("_uuid7_int-index", _uuid7_int, nanoseconds=Index(NANOSECONDS)),
    case("uuid8", uuid8),
    case("uuid8-given", uuid8, BIG64, BIG64 - 1, BIG64 - 2),
    case("uuid8-index", uuid8, a=Index(BIG64)),
    case("getnode", getnode),
    case("reseed", reseed),
    case("UUID-hex", UUID, str(U)),
    case("UUID-bytes", UUID, bytes=U.bytes),
    case("UUID-bytes_le", UUID, bytes_le=U.bytes_le),
    case("UUID-fields", UUID, fields=U.fields),
    case("UUID-int", UUID, int=U.int),
    case("UUID-int-index", UUID, int=Index(U.int)),
    case("UUID-int-version", UUID, int=U.int, version=4),
    case("UUID.__new__", UUID.__new__, UUID, hex=U.hex),
    case("subclass", Sub, int=U.int),
    case("from_hex", UUID.from_hex, U.hex),
    case("from_int", UUID.from_int, U.int),
    case("from_bytes", UUID.from_bytes, U.bytes),
    case("from_bytes_le", UUID.from_bytes_le, U.bytes_le),
    case("from_fields", UUID.from_fields, U.fields),
    case("set_version", U.set_version, 4),
    case("__getnewargs__", U.__getnewargs__),
    case("__deepcopy__", U.__deepcopy__, {}),
    case("copy", copy.copy, U),
    case("deepcopy", copy.deepcopy, U),
    case("pickle", lambda u: pickle.loads(pickle.dumps(u)), U),
    *[case(f"property-{name}", getattr, U, name) for name in PROPERTIES],
    case("property-timestamp-v7", getattr, U7, "timestamp"),
    case("str", str, U),
    case("repr", repr, U),
    case("int", int, U),
    case("hash", hash, U),
    case("hash-subclass", hash, Sub(int=U.int)),
    *[case(f"compare-{op.__name__}", op, U, OTHER) for op in (operator.eq, operator.ne, operator.lt, operator.le, operator.gt, operator.ge)],
    case("compare-other-type", operator.eq, U, "not a UUID"),
]

ERROR_CASES = [
    # binding: no conversion happened, so no note
    case("UUID-too-many", UUID, 1, 2, 3, 4, 5, 6, 7, raises=TypeError, notes=[]),
    case("UUID-unknown-keyword", UUID, raises=TypeError, notes=[], foo=1),
    case("UUID-surrogate-keyword", UUID, raises=TypeError, notes=[], **{"\udc80": 1}),
    case("UUID-keyword-str-fails", UUID, raises=ValueError, notes=[], **{StrKeyRaises("zz"): 1}),
    case("UUID-twice", UUID, "x", raises=TypeError, notes=[], hex="y"),
    case("UUID.__new__-unknown-keyword", UUID.__new__, UUID, raises=TypeError, notes=[], foo=1),
    case("UUID.__new__-too-many", UUID.__new__, UUID, 1, 2, 3, 4, 5, 6, 7, raises=TypeError, notes=[]),
    case("from_hex-missing", UUID.from_hex, raises=TypeError, notes=[]),
    case("from_int-too-many", UUID.from_int, 1, 2, raises=TypeError, notes=[]),
    case("uuid3-missing-one", uuid3, NAMESPACE_DNS, raises=TypeError, notes=[]),
    case("uuid5-missing-both", uuid5, raises=TypeError, notes=[]),
    case("uuid7-positional", uuid7, 1, raises=TypeError, notes=[]),
    case("uuid8-too-many", uuid8, 1, 2, 3, 4, raises=TypeError, notes=[]),
    case("uuid1-unknown-keyword", uuid1, raises=TypeError, notes=[], foo=1),
    case("uuid1-twice", uuid1, 1, raises=TypeError, notes=[], node=1),
    case("set_version-missing", U.set_version, raises=TypeError, notes=[]),
    case("__deepcopy__-missing", U.__deepcopy__, raises=TypeError, notes=[]),
    case("uuid4-argument", uuid4, 1, raises=TypeError, notes=[]),
    case("__getnewargs__-argument", U.__getnewargs__, 1, raises=TypeError, notes=[]),
    # text
    case("UUID-hex-int", UUID, hex=5, raises=TypeError, notes=note("hex")),
    case("UUID-hex-surrogate", UUID, hex="\udc80" * 32, raises=UnicodeEncodeError, notes=note("hex")),
    case("UUID-hex-malformed", UUID, hex="z" * 32, raises=ValueError, notes=[]),
    case("UUID-nothing", UUID, raises=TypeError, notes=[]),
    case("UUID-two-inputs", UUID, hex=U.hex, int=1, raises=TypeError, notes=[]),
    case("from_hex-None", UUID.from_hex, None, raises=TypeError, notes=note("hex")),
    # bytes
    case("UUID-bytes-bytearray", UUID, bytes=bytearray(16), raises=TypeError, notes=note("bytes")),
    case("UUID-bytes-short", UUID, bytes=b"short", raises=ValueError, notes=[]),
    case("UUID-bytes_le-memoryview", UUID, bytes_le=memoryview(bytes(16)), raises=TypeError, notes=note("bytes_le")),
    case("from_bytes-list", UUID.from_bytes, [0] * 16, raises=TypeError, notes=note("bytes")),
    case("from_bytes_le-long", UUID.from_bytes_le, bytes(17), raises=ValueError, notes=[]),
    # fields
    case("UUID-fields-list", UUID, fields=list(U.fields), raises=TypeError, notes=note("fields")),
    case("UUID-fields-short", UUID, fields=(1, 2), raises=ValueError, notes=note("fields")),
    case("UUID-fields-u32", UUID, fields=(1 << 32, 0, 0, 0, 0, 0), raises=OverflowError, notes=note("fields")),
    case("UUID-fields-beyond-long", UUID, fields=(0, 1 << 70, 0, 0, 0, 0), raises=OverflowError, notes=note("fields")),
    case("UUID-fields-float", UUID, fields=(0, 0, 0, 1.5, 0, 0), raises=TypeError, notes=note("fields")),
    case("UUID-fields-index-raises", UUID, fields=(0, 0, 0, 0, IndexRaises(), 0), raises=ValueError, notes=note("fields")),
    case("UUID-fields-node-u64", UUID, fields=(0, 0, 0, 0, 0, 1 << 64), raises=OverflowError, notes=note("fields")),
    case("UUID-fields-node-48-bits", UUID, fields=(0, 0, 0, 0, 0, 1 << 48), raises=ValueError, notes=[]),
    case("from_fields-long", UUID.from_fields, (0,) * 7, raises=ValueError, notes=note("fields")),
    # 128-bit
    case("UUID-int-negative", UUID, int=-(1 << 70), raises=OverflowError, notes=note("int")),
    case("UUID-int-too-big", UUID, int=1 << 128, raises=OverflowError, notes=note("int")),
    case("UUID-int-float", UUID, int=1.5, raises=TypeError, notes=note("int")),
    case("UUID-int-str", UUID, int="5", raises=TypeError, notes=note("int")),
    case("UUID-int-index-raises", UUID, int=IndexRaises(), raises=ValueError, notes=note("int")),
    case("UUID-int-index-str", UUID, int=IndexReturnsStr(), raises=TypeError, notes=note("int")),
    case("from_int-None", UUID.from_int, None, raises=TypeError, notes=note("int")),
    case("uuid7-negative", uuid7, nanoseconds=-1, raises=OverflowError, notes=note("nanoseconds")),
    case("_uuid7_int-too-big", _uuid7_int, nanoseconds=1 << 128, raises=OverflowError, notes=note("nanoseconds")),
    case("uuid7-float", uuid7, nanoseconds=1.5, raises=TypeError, notes=note("nanoseconds")),
    # 8-bit
    case("UUID-version-illegal", UUID, int=0, version=9, raises=ValueError, notes=[]),
    case("UUID-version-256", UUID, int=0, version=256, raises=OverflowError, notes=note("version")),
    case("UUID-version-beyond-long", UUID, int=0, version=1 << 70, raises=OverflowError, notes=note("version")),
    case("UUID-version-str", UUID, int=0, version="4", raises=TypeError, notes=note("version")),
    case("set_version-0", U.set_version, 0, raises=ValueError, notes=[]),
    case("set_version-negative", U.set_version, -1, raises=OverflowError, notes=note("version")),
    case("set_version-index-raises", U.set_version, IndexRaises(), raises=ValueError, notes=note("version")),
    # 64-bit
    case("uuid1-node-negative", uuid1, node=-1, raises=OverflowError, notes=note("node")),
    case("uuid1-node-too-big", uuid1, node=1 << 64, raises=OverflowError, notes=note("node")),
    case("uuid1-clock_seq-str", uuid1, clock_seq="x", raises=TypeError, notes=note("clock_seq")),
    case("uuid1-node-index-raises", uuid1, node=IndexRaises(), raises=ValueError, notes=note("node")),
    case("uuid6-node-index-str", uuid6, node=IndexReturnsStr(), raises=TypeError, notes=note("node")),
    case("uuid6-clock_seq-float", uuid6, clock_seq=1.5, raises=TypeError, notes=note("clock_seq")),
    case("uuid8-a-negative", uuid8, a=-1, raises=OverflowError, notes=note("a")),
    case("uuid8-b-too-big", uuid8, b=1 << 64, raises=OverflowError, notes=note("b")),
    case("uuid8-c-str", uuid8, c="x", raises=TypeError, notes=note("c")),
    # name-based
    *[
        case(f"{f.__name__}-{kind}", f, namespace, name, raises=error, notes=note(param))
        for f in (uuid3, uuid5)
        for kind, namespace, name, error, param in [
            ("namespace-int", 5, "x", TypeError, "namespace"),
            ("namespace-None", None, "x", TypeError, "namespace"),
            ("name-int", NAMESPACE_DNS, 5, TypeError, "name"),
            ("name-surrogate", NAMESPACE_DNS, "\udc80", TypeError, "name"),
            ("name-item-too-big", NAMESPACE_DNS, [1, 256], TypeError, "name"),
            ("name-item-str", NAMESPACE_DNS, [1, "a"], TypeError, "name"),
            ("name-breaks-midway", NAMESPACE_DNS, BreaksMidway(), TypeError, "name"),
        ]
    ],
    # the memo
    case("__deepcopy__-list", U.__deepcopy__, [], raises=TypeError, notes=note("_memo")),
    # properties and slots
    case("property-timestamp-v4", getattr, U4, "timestamp", raises=ValueError, notes=[]),
    case("setattr-property", setattr, U, "hex", 1, raises=TypeError, notes=[]),
    case("setattr-new", setattr, U, "new_attribute", 1, raises=TypeError, notes=[]),
    case("setattr-not-str", UUID.__setattr__, U, 5, 1, raises=TypeError, notes=note("_name")),
    case("setattr-surrogate", setattr, U, "\udc80", 1, raises=UnicodeEncodeError, notes=note("_name")),
    case("delattr", delattr, U, "hex", raises=AttributeError, notes=[]),
    case("compare-order-other-type", operator.lt, U, 5, raises=TypeError, notes=[]),
]


@pytest.mark.parametrize("c", SUCCESS_CASES + ERROR_CASES, ids=lambda c: c.id)
def test_no_leak(c):
    check(c)


# ---- the harness against leaks it must see -------------------------------------------------

_hidden = []


@pytest.fixture
def hidden():
    yield _hidden
    _hidden.clear()


def keeps_a_new_object(value):
    _hidden.append([value])
    return value


def keeps_a_reference(value):
    _hidden.append(value)
    return value


def keeps_each_exception():
    error = ValueError("kept")
    error.add_note("note")
    _hidden.append(error)
    raise error


SHARED_ERROR = ValueError("shared")


def raises_a_shared_exception():
    SHARED_ERROR.add_note("note")
    raise SHARED_ERROR


@pytest.mark.parametrize(
    ("leak", "symptom"),
    [
        (case("harness-object-leak", keeps_a_new_object, 1), "allocated blocks grew"),
        (case("harness-traced-object-leak", keeps_a_new_object, 1), "traced memory grew"),
        # An int made at run time: a free-threaded build makes the constants of code immortal, and
        # an immortal object's count never moves.
        (case("harness-reference-leak", keeps_a_reference, int("1" + "0" * 30)), "references to int"),
        (case("harness-exception-leak", keeps_each_exception, raises=ValueError, notes=["note"]), "allocated blocks grew"),
        (case("harness-notes-pile-up", raises_a_shared_exception, raises=ValueError, notes=["note"]), "notes after"),
    ],
    ids=lambda p: p.id if isinstance(p, Case) else "",
)
def test_harness_detects_pure_python_leaks(hidden, leak, symptom):
    # A detector that stopped measuring would pass every library case above; these stand-ins leak
    # one object, one reference or one note per call and must be reported.
    with pytest.raises(AssertionError, match=symptom):
        check(leak)


def test_harness_accepts_a_clean_stand_in():
    check(case("harness-clean", lambda value: [value], 10**30))


# ---- internal failures ---------------------------------------------------------------------

# Run in a child with the clock and entropy shims preloaded: a clock before 1970 makes the
# time-based generators fail internally, and the child gets the PanicException class from that;
# a failing entropy source makes reseed fail. Each internal failure prints a report to stderr,
# which the test checks.
PANIC_CHILD = r"""
import ctypes, json, os, sys
sys.path.insert(0, {here!r})
import test_refleaks as h
import vantor
from vantor import NAMESPACE_DNS, UUID, uuid1, uuid3, uuid6, uuid7, _uuid7_int

lib = ctypes.CDLL(None)
lib.clock_shim_set.argtypes = [ctypes.c_char_p]
assert lib.clock_shim_set(b"-1500000000") == 0
try:
    uuid7()
except BaseException as error:
    Panic = type(error)
assert Panic.__name__ == "PanicException" and not issubclass(Panic, Exception), Panic


class IndexPanics:
    def __index__(self):
        raise Panic("panic in __index__")


class PanicsMidway:
    def __len__(self):
        return 3

    def __getitem__(self, index):
        if index < 1:
            return 97
        raise Panic("panic while iterating")


class StrKeyPanics(str):
    def __str__(self):
        raise Panic("panic in __str__")


c = h.case
cases = [
    c("uuid7-clock-before-1970", uuid7, raises=Panic, notes=[]),
    c("_uuid7_int-clock-before-1970", _uuid7_int, raises=Panic, notes=[]),
    c("uuid1-clock-before-1970", uuid1, raises=Panic, notes=[]),
    c("uuid6-clock_seq-clock-before-1970", uuid6, clock_seq=5, raises=Panic, notes=[]),
    c("UUID-int-index-panics", UUID, int=IndexPanics(), raises=Panic, notes=[]),
    c("UUID-version-index-panics", UUID, int=0, version=IndexPanics(), raises=Panic, notes=[]),
    c("uuid1-node-index-panics", uuid1, node=IndexPanics(), raises=Panic, notes=[]),
    c("uuid3-name-panics-midway", uuid3, NAMESPACE_DNS, PanicsMidway(), raises=Panic, notes=[]),
    c("UUID-keyword-str-panics", UUID, raises=Panic, notes=[], **{{StrKeyPanics("zz"): 1}}),
]
failures = []
for case in cases:
    failures += [case.id + ": " + problem for problem in h.leak_problems(case)]

# The entropy source fails from now on: reseed reports it as an OSError. The generator exists
# already, so nothing else needs fresh entropy.
vantor.uuid4()
os.environ["SHIM_GETRANDOM"] = "errno=5:*"
case = c("reseed-entropy-fails", vantor.reseed, raises=OSError, notes=[])
failures += [case.id + ": " + problem for problem in h.leak_problems(case)]
print(json.dumps(failures))
"""


def shims_or_skip():
    from shims import build_shim

    try:
        return [build_shim("clock_shim"), build_shim("getrandom_shim")]
    except FileNotFoundError as error:
        pytest.skip(f"the shims cannot be built here ({error}), so no internal failure can be provoked")


# What the child may write to stderr: the reports of its clock failures, and the notice and
# traceback of each PanicException raised in Python code and resumed.
EXPECTED_STDERR = re.compile(
    r"vantor: internal failure at .+:\d+:"
    r"|Getting elapsed time since UNIX_EPOCH\. If this fails, we've somehow violated causality: SystemTimeError\(1\.5s\)"
    r"|called `Result::unwrap\(\)` on an `Err` value: SystemTimeError\(1\.5s\)"
    r"|--- PanicException from Python code ---"
    r"|Python stack trace below; resuming the internal failure:"
    r"|Traceback \(most recent call last\):"
    r"|  .*"
    r"|pyo3_runtime\.PanicException: panic (in __index__|while iterating|in __str__)"
)


def test_no_leak_on_internal_failures():
    shims_or_skip()
    result = run_child(PANIC_CHILD.format(here=str(HERE)), ["clock_shim", "getrandom_shim"], timeout=300)
    assert result.returncode == 0, f"the child failed with status {result.returncode}: {result.stdout}{result.stderr}"
    assert json.loads(result.stdout.splitlines()[-1]) == []
    assert "vantor: internal failure at " in result.stderr
    assert "resuming the internal failure" in result.stderr
    unexpected = [line for line in result.stderr.splitlines() if not EXPECTED_STDERR.fullmatch(line)]
    assert unexpected == []
