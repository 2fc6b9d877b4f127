"""Version 7: the millisecond field for given times, and ordering of values from the real clock.

Tests that need a frozen or stepping clock live in test_time_boundary.py.
"""
import threading
import time
import uuid

import pytest

import vantor
from conftest import Index, raises_exactly
from vantor import UUID

MS_MASK = (1 << 48) - 1
# The bits that carry neither the millisecond field, the version nor the variant.
RANDOM_MASK = ((1 << 128) - 1) & ~(MS_MASK << 80) & ~(0xF << 76) & ~(0b11 << 62)


def ms_field(value):
    return value >> 80


def assert_version_7(value):
    assert 0 <= value < 1 << 128
    assert (value >> 76) & 0xF == 0b0111
    assert (value >> 62) & 0b11 == 0b10


GENERATORS = [
    pytest.param(lambda **kw: vantor.uuid7(**kw).int, id="uuid7"),
    pytest.param(vantor._uuid7_int, id="_uuid7_int"),
]


def test_types():
    u = vantor.uuid7()
    assert type(u) is UUID
    assert u.version == 7
    assert u.variant == vantor.RFC_4122
    assert uuid.UUID(int=u.int).version == 7
    i = vantor._uuid7_int()
    assert type(i) is int
    assert_version_7(i)
    assert type(vantor._uuid7_int(nanoseconds=0)) is int


def test_given_time_example():
    u = vantor.uuid7(nanoseconds=1_700_000_000_123_456_789)
    assert u.bytes[:6] == bytes.fromhex("018BCFE5687B")
    assert u.version == 7
    assert u.variant == vantor.RFC_4122
    assert u.timestamp == 1_700_000_000_123


@pytest.mark.parametrize("generate", GENERATORS)
@pytest.mark.parametrize(
    ("nanoseconds", "ms"),
    [
        (0, 0),
        (999_999, 0),
        (1_000_000, 1),
        (1_700_000_000_123_456_789, 1_700_000_000_123),
        (Index(5_000_000), 5),
        (MS_MASK * 10**6 + 999_999, MS_MASK),
        # past 2^48 ms the field keeps the low 48 bits of the millisecond count
        ((1 << 48) * 10**6, 0),
        (((1 << 48) + 5) * 10**6 + 999_999, 5),
        ((1 << 63) * 10**6 + 7 * 10**6, 7),
        (((1 << 64) - 2) * 10**6, MS_MASK - 1),
        (((1 << 64) - 1) * 10**6 + 999_999, MS_MASK),
        # once the millisecond count no longer fits in 64 bits the field saturates, rather than
        # wrapping to a small value
        ((1 << 64) * 10**6, MS_MASK),
        ((1 << 64) * 10**6 + 5 * 10**6, MS_MASK),
        ((1 << 128) - 1, MS_MASK),
    ],
)
def test_given_time_sets_the_ms_field(generate, nanoseconds, ms):
    value = generate(nanoseconds=nanoseconds)
    assert ms_field(value) == ms
    assert_version_7(value)


@pytest.mark.parametrize("generate", GENERATORS)
@pytest.mark.parametrize("nanoseconds", [0, 1_700_000_000_123_456_789, (1 << 128) - 1])
def test_same_given_time_differs_only_in_random_bits(generate, nanoseconds):
    values = [generate(nanoseconds=nanoseconds) for _ in range(8)]
    for value in values:
        assert value & ~RANDOM_MASK == values[0] & ~RANDOM_MASK
    assert len(set(values)) == len(values)
    # Both random stretches vary: the 12 bits after the version and the 62 after the variant. A
    # counter left in either would keep it (nearly) constant.
    assert len({(v >> 64) & 0xFFF for v in values}) > 1
    assert len({(v >> 32) & 0x3FFF_FFFF for v in values}) > 1
    assert len({v & 0xFFFF_FFFF for v in values}) > 1


def test_bytes_0_to_5_for_extremes():
    assert vantor.uuid7(nanoseconds=0).bytes[:6] == bytes(6)
    assert vantor.uuid7(nanoseconds=(1 << 128) - 1).bytes[:6] == b"\xff" * 6


@pytest.mark.parametrize("generate", GENERATORS)
def test_none_reads_the_clock(generate):
    before = time.time_ns() // 10**6
    value = generate(nanoseconds=None)
    after = time.time_ns() // 10**6
    # A tolerance around the clock, not a timing requirement.
    assert before - 1000 <= ms_field(value) <= after + 1000
    assert_version_7(value)


@pytest.mark.parametrize(("name", "generate"), [("uuid7", vantor.uuid7), ("_uuid7_int", vantor._uuid7_int)])
@pytest.mark.parametrize(
    ("args", "kwargs", "error", "message", "note"),
    [
        ((), {"nanoseconds": -1}, OverflowError, "can't convert negative int to unsigned", "nanoseconds"),
        ((), {"nanoseconds": 1 << 128}, OverflowError, "int too big to convert", "nanoseconds"),
        ((), {"nanoseconds": Index(-5)}, OverflowError, "can't convert negative int to unsigned", "nanoseconds"),
        ((), {"nanoseconds": "1"}, TypeError, "'str' object cannot be interpreted as an integer", "nanoseconds"),
        ((), {"nanoseconds": 1.0}, TypeError, "'float' object cannot be interpreted as an integer", "nanoseconds"),
    ],
)
def test_argument_failures(name, generate, args, kwargs, error, message, note):
    with raises_exactly(error, message.format(name), note):
        generate(*args, **kwargs)


def test_consecutive_values_strictly_increase():
    # The two entry points share one state, so interleaving them keeps the order.
    values = []
    for _ in range(50_000):
        values.append(vantor.uuid7().int)
        values.append(vantor._uuid7_int())
    for i, (a, b) in enumerate(zip(values, values[1:])):
        assert a < b, i
    for value in values[::997]:
        assert_version_7(value)


def test_given_times_do_not_disturb_the_order():
    values = []
    for i in range(2000):
        values.append(vantor.uuid7().int)
        # far in the past and far in the future
        vantor.uuid7(nanoseconds=0 if i % 2 else (1 << 128) - 1)
        vantor._uuid7_int(nanoseconds=(1 << 60) * 10**6)
    assert all(a < b for a, b in zip(values, values[1:]))


def test_threads_get_distinct_values_each_in_order():
    per_thread = 20_000
    results = {}
    barrier = threading.Barrier(4)

    def work(key):
        barrier.wait()
        results[key] = [
            vantor.uuid7().int if i % 2 else vantor._uuid7_int() for i in range(per_thread)
        ]

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    everything = [v for values in results.values() for v in values]
    assert len(set(everything)) == len(everything)
    for values in results.values():
        assert all(a < b for a, b in zip(values, values[1:]))
