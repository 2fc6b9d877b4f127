"""Time-based generation against a controlled wall clock: exact layouts, a frozen millisecond, a
clock stepping back, fork, and a clock set before 1970.

Each test runs a child interpreter with tests/shims/clock_shim.c preloaded; the child sets the
clock through the shim's exported clock_shim_set() right before each generation (so readings
taken by the interpreter itself cannot shift them) and prints one JSON line of results.
"""
import textwrap
import uuid

import pytest

from conftest import GREGORIAN_TO_UNIX_TICKS
from shims import child_result, failure_reports

SEQUENCE_MODULUS = 1 << 14
CAUSALITY = "Getting elapsed time since UNIX_EPOCH. If this fails, we've somehow violated causality: "
UNWRAP = "called `Result::unwrap()` on an `Err` value: "

# 2023-11-14T22:13:20.123456789Z
T = 1_700_000_000_123_456_789
SECOND = 10**9
MS = 10**6

PRELUDE = '''
import ctypes, json, os, sys, uuid
import vantor
_shim = ctypes.CDLL(None)
_shim.clock_shim_set.argtypes = [ctypes.c_char_p]

def set_clock(*readings):
    assert _shim.clock_shim_set(",".join(str(r) for r in readings).encode()) == 0

def outcome(call):
    """The value of call(), or a description of what it raised."""
    try:
        value = call()
    except BaseException as e:
        return {"raised": [type(e).__module__, type(e).__name__], "args": list(e.args),
                "is_exception": isinstance(e, Exception), "bases": [b.__name__ for b in type(e).__bases__]}
    return {"value": value if isinstance(value, int) else value.int}

def emit(result):
    print(json.dumps(result))
'''


def run_clock(code, own_stderr=False):
    """Runs `code` after PRELUDE with the clock shim; returns what the child emitted and stderr."""
    return child_result(PRELUDE + textwrap.dedent(code), ["clock_shim"], {"CLOCK_SHIM_NS": ""}, own_stderr)


def ticks_at(ns):
    return ns // 100 + GREGORIAN_TO_UNIX_TICKS


def ms_field(value):
    return value >> 80


def v7_counter(value):
    """The 42-bit counter: 12 bits after the version, then 30 bits after the variant."""
    return (((value >> 64) & 0xFFF) << 30) | ((value >> 32) & 0x3FFF_FFFF)


def clock_seq_of(value):
    return (value >> 48) & 0x3FFF


@pytest.mark.parametrize(
    "ns",
    [
        0,
        1,
        99,
        100,
        12_345,
        1_234_567_890_123_456_789,
        T,
        (1 << 63) - 1,  # in 2262, the latest reading the shim can give
    ],
)
@pytest.mark.parametrize(
    ("node", "clock_seq"),
    [(0, 0), (0x0123456789AB, 0x1234), ((1 << 48) - 1, 0x3FFF), (0x5E005301, 0x12345)],
)
def test_fixed_clock_layouts(ns, node, clock_seq):
    out, _ = run_clock(f'''
        set_clock({ns})
        n, c = {node}, {clock_seq}
        emit({{
            "v1": [vantor.uuid1(node=n, clock_seq=c).int, vantor.uuid1(n, c).int],
            "v6": [vantor.uuid6(node=n, clock_seq=c).int, vantor.uuid6(n, c).int],
            "std": uuid.uuid1(node=n, clock_seq=c).int,
        }})
    ''')
    ticks = ticks_at(ns) & ((1 << 60) - 1)
    v1, v6 = out["v1"], out["v6"]
    # With the node and clock sequence given, the value depends on the clock alone.
    assert v1[0] == v1[1]
    assert v6[0] == v6[1]
    # The standard library builds version 1 from the same clock reading the same way.
    assert v1[0] == out["std"]
    std = uuid.UUID(int=v1[0])
    assert std.version == 1
    assert std.variant == uuid.RFC_4122
    assert std.time == ticks
    assert std.time_low == ticks & 0xFFFF_FFFF
    assert std.time_mid == (ticks >> 32) & 0xFFFF
    assert std.time_hi_version == 0x1000 | (ticks >> 48)
    assert std.clock_seq_hi_variant == 0x80 | ((clock_seq >> 8) & 0x3F)
    assert std.clock_seq_low == clock_seq & 0xFF
    assert std.node == node
    b = v6[0].to_bytes(16, "big")
    assert b[0:4] == ((ticks >> 28) & 0xFFFF_FFFF).to_bytes(4, "big")
    assert b[4:6] == ((ticks >> 12) & 0xFFFF).to_bytes(2, "big")
    assert b[6] == 0x60 | ((ticks >> 8) & 0x0F)
    assert b[7] == ticks & 0xFF
    assert b[8:] == v1[0].to_bytes(16, "big")[8:]


def test_frozen_clock_without_clock_seq_changes_only_the_sequence():
    out, _ = run_clock(f'''
        set_clock({T})
        emit([vantor.uuid1().int, vantor.uuid1().int, vantor.uuid6().int, vantor.uuid6().int,
              vantor.getnode()])
    ''')
    *values, node = out
    a1, b1, a6, b6 = values
    first = clock_seq_of(a1)
    assert [clock_seq_of(v) for v in values] == [(first + i) % SEQUENCE_MODULUS for i in range(4)]
    seq_mask = 0x3FFF << 48
    assert a1 & ~seq_mask == b1 & ~seq_mask
    assert a6 & ~seq_mask == b6 & ~seq_mask
    assert uuid.UUID(int=a1).time == ticks_at(T)
    assert uuid.UUID(int=a1).node == node


def test_frozen_millisecond_counts_up_by_one():
    out, _ = run_clock(f'''
        set_clock({T})
        values = []
        for i in range(1000):
            values.append(vantor.uuid7().int if i % 2 else vantor._uuid7_int())
            if i == 500:
                # given times bypass the shared state
                vantor.uuid7(nanoseconds=1 << 100)
                vantor._uuid7_int(nanoseconds=0)
        emit(values)
    ''')
    assert all(ms_field(v) == T // MS for v in out)
    assert all((v >> 76) & 0xF == 7 and (v >> 62) & 0b11 == 0b10 for v in out)
    first = v7_counter(out[0])
    assert [v7_counter(v) for v in out] == [first + i for i in range(len(out))]
    assert all(a < b for a, b in zip(out, out[1:]))
    # the last 32 bits stay random under the counter
    assert len({v & 0xFFFF_FFFF for v in out}) > 1


def test_new_millisecond_starts_a_fresh_counter():
    out, _ = run_clock(f'''
        values = []
        for step in range(6):
            set_clock({T} + step * {MS})
            values.append([vantor.uuid7().int, vantor.uuid7().int])
        emit(values)
    ''')
    for step, (a, b) in enumerate(out):
        assert ms_field(a) == ms_field(b) == T // MS + step
        assert v7_counter(b) == v7_counter(a) + 1
    flat = [v for pair in out for v in pair]
    assert all(a < b for a, b in zip(flat, flat[1:]))
    # A counter merely continued across milliseconds would make every step consecutive.
    assert not all(v7_counter(out[i + 1][0]) == v7_counter(out[i][1]) + 1 for i in range(len(out) - 1))


# (readings in order, expected millisecond field of each value). While the clock is behind the
# latest timestamp used, that timestamp stays in use, compared as a whole (seconds, nanoseconds)
# pair, and the counter goes on.
S = 1_700_000_000 * SECOND
STEP_BACK_CASES = {
    "within a second": (
        [S + 500 * MS, S + 497 * MS, S + 498 * MS, S + 499 * MS + 999_999, S + 500 * MS,
         S + 500 * MS + 999_999, S + 501 * MS, S + 505 * MS, S + 502 * MS, S + 505 * MS + 1, S + 506 * MS],
        [500, 500, 500, 500, 500, 500, 501, 505, 505, 505, 506],
    ),
    "across a second boundary": (
        [S + 1 * MS, S - 2 * MS, S - 1, S, S + 1 * MS - 1, S + 1 * MS + 5, S + 2 * MS],
        [1, 1, 1, 1, 1, 1, 2],
    ),
    "far back": (
        [S + 999 * MS, S - 3600 * SECOND, S - 1, S + 999 * MS, S + 1000 * MS],
        [999, 999, 999, 999, 1000],
    ),
}


@pytest.mark.parametrize(("readings", "expected_ms"), STEP_BACK_CASES.values(), ids=STEP_BACK_CASES.keys())
@pytest.mark.parametrize("entry", ["vantor.uuid7().int", "vantor._uuid7_int()"])
def test_clock_stepping_back(readings, expected_ms, entry):
    out, _ = run_clock(f'''
        values = []
        for reading in {readings}:
            set_clock(reading)
            values.append({entry})
        emit(values)
    ''')
    assert [ms_field(v) - S // MS for v in out] == expected_ms
    assert all(a < b for a, b in zip(out, out[1:]))
    for a, b in zip(out, out[1:]):
        if ms_field(a) == ms_field(b):
            assert v7_counter(b) == v7_counter(a) + 1


FORK_CODE = f'''
set_clock({T})
vantor.uuid1()
vantor.uuid7()
forks = []
for _ in range(3):
    before = [vantor.uuid1().int, vantor.uuid7().int]
    r, w = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(r)
        child = [vantor.uuid1().int, vantor.uuid1().int, vantor.uuid6().int,
                 vantor.uuid7().int, vantor._uuid7_int(), vantor.uuid7().int]
        os.write(w, json.dumps(child).encode())
        os._exit(0)
    os.close(w)
    data = b""
    while chunk := os.read(r, 65536):
        data += chunk
    os.close(r)
    assert os.waitpid(pid, 0)[1] == 0
    after = [vantor.uuid1().int, vantor.uuid7().int]
    forks.append({{"before": before, "child": json.loads(data), "after": after}})
emit(forks)
'''


def test_fork_restarts_the_clock_sequence_in_the_child():
    out, _ = run_clock(FORK_CODE)
    for fork in out:
        before, child, after = fork["before"][0], fork["child"][:3], fork["after"][0]
        # the parent goes on with its own sequence
        assert clock_seq_of(after) == (clock_seq_of(before) + 1) % SEQUENCE_MODULUS
        # the child's sequence runs on from wherever it restarted
        first = clock_seq_of(child[0])
        assert [clock_seq_of(v) for v in child] == [(first + i) % SEQUENCE_MODULUS for i in range(3)]
    # With the clock frozen, a child that continued its parent's sequence would repeat the
    # parent's next value. A fresh start can hit it by chance, but not after every fork.
    assert not all(fork["child"][0] == fork["after"][0] for fork in out)


def test_fork_reseeds_the_v7_counter_in_the_child():
    out, _ = run_clock(FORK_CODE)
    for fork in out:
        before, after = fork["before"][1], fork["after"][1]
        child = fork["child"][3:]
        assert all(ms_field(v) == T // MS for v in [before, after, *child])
        assert v7_counter(after) == v7_counter(before) + 1
        start = v7_counter(child[0])
        assert [v7_counter(v) for v in child] == [start, start + 1, start + 2]
        assert child[0] < child[1] < child[2]
        # the child neither continues the parent's counter nor meets the parent's next value
        assert start != v7_counter(before) + 1
        assert child[0] != after


PRE_EPOCH_CALLS = {
    "vantor.uuid1()": CAUSALITY,
    "vantor.uuid6()": CAUSALITY,
    "vantor.uuid1(node=5)": CAUSALITY,
    "vantor.uuid6(None, None)": CAUSALITY,
    "vantor.uuid7()": CAUSALITY,
    "vantor.uuid7(nanoseconds=None)": CAUSALITY,
    "vantor._uuid7_int()": CAUSALITY,
    "vantor.uuid1(clock_seq=3)": UNWRAP,
    "vantor.uuid6(clock_seq=0)": UNWRAP,
    "vantor.uuid1(5, 3)": UNWRAP,
    "vantor.uuid6(node=None, clock_seq=1 << 20)": UNWRAP,
}


@pytest.fixture(scope="module")
def pre_epoch_outcomes():
    calls = list(PRE_EPOCH_CALLS)
    out, _ = run_clock(f'''
        set_clock(-1_500_000_000)
        emit({{call: outcome(lambda: eval(call)) for call in {calls}}})
    ''')
    return out


@pytest.mark.parametrize(("call", "prefix"), PRE_EPOCH_CALLS.items())
def test_pre_epoch_clock_panics(pre_epoch_outcomes, call, prefix):
    got = pre_epoch_outcomes[call]
    assert got == {
        "raised": ["pyo3_runtime", "PanicException"],
        "args": [prefix + "SystemTimeError(1.5s)"],
        "is_exception": False,
        "bases": ["BaseException"],
    }


@pytest.mark.parametrize(
    ("ns", "distance"),
    [
        (-1, "0.000000001s"),
        (-10, "0.00000001s"),
        (-100_000_000, "0.1s"),
        (-999_999_999, "0.999999999s"),
        (-1_000_000_000, "1s"),
        (-1_000_000_001, "1.000000001s"),
        (-1_500_000_000, "1.5s"),
        (-123_456_789_000, "123.456789s"),
        (-86_400 * SECOND, "86400s"),
        (-(1 << 63), "9223372036.854775808s"),
    ],
)
def test_pre_epoch_distance_text(ns, distance):
    out, _ = run_clock(f'''
        set_clock({ns})
        emit([outcome(vantor.uuid7), outcome(lambda: vantor.uuid1(clock_seq=1))])
    ''')
    assert out[0]["args"] == [CAUSALITY + f"SystemTimeError({distance})"]
    assert out[1]["args"] == [UNWRAP + f"SystemTimeError({distance})"]


def test_pre_epoch_leaves_given_times_and_other_generators_working():
    out, _ = run_clock(f'''
        set_clock(-1_500_000_000)
        emit([outcome(lambda: vantor.uuid7(nanoseconds={T})),
              outcome(lambda: vantor._uuid7_int(nanoseconds=0)),
              outcome(vantor.getnode), outcome(vantor.uuid4)])
    ''')
    for got in out:
        assert "value" in got, got
    assert ms_field(out[0]["value"]) == T // MS
    assert ms_field(out[1]["value"]) == 0


def test_pre_epoch_failures_share_one_class_and_leave_the_state_alone():
    out, _ = run_clock(f'''
        kinds = []
        messages = []
        def fail(call):
            try:
                call()
            except BaseException as e:
                kinds.append(type(e))
                messages.append(str(e))
                return
            raise AssertionError("no failure")

        # first call ever fails, before anything was seeded
        set_clock(-1)
        fail(vantor.uuid1)
        set_clock({T})
        seq = [vantor.uuid1().int]
        v7 = [vantor.uuid7().int]
        set_clock(-1_500_000_000)
        fail(vantor.uuid1)
        fail(vantor.uuid6)
        fail(lambda: vantor.uuid1(clock_seq=7))
        fail(vantor.uuid7)
        fail(vantor._uuid7_int)
        set_clock({T})
        seq.append(vantor.uuid6().int)
        v7.append(vantor.uuid7().int)
        emit({{"same_class": all(k is kinds[0] for k in kinds), "seq": seq, "v7": v7, "messages": messages}})
    ''')
    assert out["same_class"]
    assert len(out["messages"]) == 6
    a, b = out["seq"]
    assert clock_seq_of(b) == (clock_seq_of(a) + 1) % SEQUENCE_MODULUS
    x, y = out["v7"]
    assert ms_field(x) == ms_field(y) == T // MS
    assert v7_counter(y) == v7_counter(x) + 1


@pytest.mark.parametrize(
    "call", ["vantor.uuid8(a=obj)", "vantor.uuid1(node=obj)", "vantor.uuid6(clock_seq=obj)",
             "vantor.uuid7(nanoseconds=obj)"]
)
def test_panic_raised_in_python_code_is_resumed(call):
    out, stderr = run_clock(own_stderr=True, code=f'''
        set_clock(-1_500_000_000)
        try:
            vantor.uuid1()
        except BaseException as e:
            Panic = type(e)
        set_clock({T})
        raised = Panic("boom")

        class Obj:
            def __index__(self):
                raise raised

        obj = Obj()
        sys.stderr.write("--- marker ---\\n")
        sys.stderr.flush()
        try:
            {call}
        except BaseException as e:
            emit({{"same_class": type(e) is Panic, "same_instance": e is raised, "args": list(e.args)}})
        else:
            emit(None)
    ''')
    assert out == {"same_class": True, "same_instance": False, "args": ["boom"]}
    before, after = stderr.split("--- marker ---\n", 1)
    # the failure provoked to obtain the class, then the notice of the resumed one
    assert failure_reports(before) == [CAUSALITY + "SystemTimeError(1.5s)"]
    assert "Traceback (most recent call last)" in after
    assert "in __index__" in after
    assert "PanicException: boom" in after


# The 48-bit millisecond field ends in the year 10889. Values up to its last millisecond keep
# their order; beyond it uuid7() fails instead of wrapping to 00000000-0000-7..., and a clock
# back in range continues from where it stopped.
PAST_LIMIT = "the clock is past the last millisecond a version-7 UUID can hold (2^48 - 1 ms after the Unix epoch)"
LAST_MS = (1 << 48) - 1


def test_uuid7_at_the_48_bit_millisecond_limit():
    readings = [(LAST_MS - 1) * MS, LAST_MS * MS, LAST_MS * MS + 999_999, (LAST_MS + 1) * MS,
                (LAST_MS + 10**9) * MS, LAST_MS * MS]
    out, stderr = run_clock(f'''
        set_clock(*{readings})
        emit([outcome(vantor.uuid7), outcome(vantor._uuid7_int), outcome(vantor.uuid7),
              outcome(vantor._uuid7_int), outcome(vantor.uuid7), outcome(vantor._uuid7_int)])
    ''')
    values = [o.get("value") for o in out]
    assert [ms_field(v) for v in values[:3]] == [LAST_MS - 1, LAST_MS, LAST_MS]
    assert values[0] < values[1] < values[2] < values[5]
    assert v7_counter(values[5]) == v7_counter(values[2]) + 1
    failure = {
        "raised": ["pyo3_runtime", "PanicException"],
        "args": [PAST_LIMIT],
        "is_exception": False,
        "bases": ["BaseException"],
    }
    assert out[3:5] == [failure, failure]
    assert stderr.count("vantor: internal failure at ") == 2
    assert stderr.count(PAST_LIMIT) == 2
