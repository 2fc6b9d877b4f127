"""Versions 1 and 6 from the real clock: fields, the shared clock sequence, arguments and errors.

Tests that need a fixed or misbehaving clock live in test_time_boundary.py.
"""
import time
import uuid

import pytest

import vantor
from conftest import GREGORIAN_TO_UNIX_TICKS, Index, raises_exactly
from vantor import UUID

GENERATORS = [pytest.param(vantor.uuid1, 1, id="uuid1"), pytest.param(vantor.uuid6, 6, id="uuid6")]
SEQUENCE_MODULUS = 1 << 14


def v1_ticks(value):
    """The 60-bit tick count of a version-1 value, read with the standard library's layout."""
    return uuid.UUID(int=value).time


def v6_ticks(value):
    """The 60-bit tick count of a version-6 value: bits 127..96, 95..80 and 75..64."""
    return ((value >> 96) << 28) | (((value >> 80) & 0xFFFF) << 12) | ((value >> 64) & 0x0FFF)


TICKS_OF = {1: v1_ticks, 6: v6_ticks}


def ticks_to_unix_ms(ticks):
    return (ticks - GREGORIAN_TO_UNIX_TICKS) // 10_000


def clock_seq_of(value):
    return (value >> 48) & 0x3FFF


@pytest.mark.parametrize(("generate", "version"), GENERATORS)
def test_version_variant_and_type(generate, version):
    u = generate()
    assert type(u) is UUID
    assert u.version == version
    assert u.variant == vantor.RFC_4122
    std = uuid.UUID(int=u.int)
    assert std.version == version
    assert std.variant == uuid.RFC_4122


@pytest.mark.parametrize(("generate", "version"), GENERATORS)
def test_time_fields_follow_the_clock(generate, version):
    # A tolerance around the clock, not a timing requirement: it only has to place the ticks in
    # the right epoch, unit and bit positions.
    before = time.time_ns() // 10**6
    u = generate()
    after = time.time_ns() // 10**6
    ticks = TICKS_OF[version](u.int)
    assert before - 1000 <= ticks_to_unix_ms(ticks) <= after + 1000
    assert u.time == ticks
    assert before - 1000 <= u.timestamp <= after + 1000


@pytest.mark.parametrize(("generate", "version"), GENERATORS)
def test_default_node_is_getnode(generate, version):
    node = vantor.getnode()
    assert generate().node == node
    assert generate(None).node == node
    assert generate(node=None, clock_seq=None).node == node
    assert generate(None, None).node == node


@pytest.mark.parametrize(("generate", "version"), GENERATORS)
@pytest.mark.parametrize(
    ("node", "stored"),
    [
        (0, 0),
        (5, 5),
        (0x123456789ABC, 0x123456789ABC),
        ((1 << 48) - 1, (1 << 48) - 1),
        # bits above the 48-bit field are dropped, not an error
        ((1 << 48) + 5, 5),
        ((1 << 64) - 1, (1 << 48) - 1),
        (Index(0xABCDEF), 0xABCDEF),
        (True, 1),
    ],
)
def test_given_node(generate, version, node, stored):
    for u in (generate(node=node), generate(node)):
        assert u.int & ((1 << 48) - 1) == stored
        assert u.node == stored
        assert u.version == version
        assert u.variant == vantor.RFC_4122


@pytest.mark.parametrize(("generate", "version"), GENERATORS)
@pytest.mark.parametrize(
    ("clock_seq", "stored", "byte8", "byte9"),
    [
        (0, 0, 0x80, 0x00),
        (0x12345, 0x2345, 0xA3, 0x45),
        (0x3FFF, 0x3FFF, 0xBF, 0xFF),
        (0x4000, 0, 0x80, 0x00),
        ((1 << 64) - 1, 0x3FFF, 0xBF, 0xFF),
        (Index(0x0102), 0x0102, 0x81, 0x02),
    ],
)
def test_given_clock_seq(generate, version, clock_seq, stored, byte8, byte9):
    for u in (generate(clock_seq=clock_seq), generate(None, clock_seq), generate(7, clock_seq)):
        assert u.clock_seq == stored
        assert u.bytes[8] == byte8
        assert u.bytes[9] == byte9
        assert uuid.UUID(int=u.int).clock_seq == stored
        assert u.version == version


def test_positional_and_keyword_arguments_bind_alike():
    for generate in (vantor.uuid1, vantor.uuid6):
        a = generate(0x0A0B0C0D0E0F, 0x1234)
        b = generate(node=0x0A0B0C0D0E0F, clock_seq=0x1234)
        c = generate(0x0A0B0C0D0E0F, clock_seq=0x1234)
        for u in (a, b, c):
            assert (u.node, u.clock_seq) == (0x0A0B0C0D0E0F, 0x1234)


# (generate, args, kwargs, exception type, message, note)
ARGUMENT_FAILURES = [
    (vantor.uuid1, (), {"clock_seq": -1}, OverflowError, "can't convert negative int to unsigned", "clock_seq"),
    (vantor.uuid6, (), {"clock_seq": -1}, OverflowError, "can't convert negative int to unsigned", "clock_seq"),
    (vantor.uuid1, (), {"node": -1}, OverflowError, "can't convert negative int to unsigned", "node"),
    (vantor.uuid6, (-1,), {}, OverflowError, "can't convert negative int to unsigned", "node"),
    (vantor.uuid1, (), {"node": 1 << 64}, OverflowError, "int too big to convert", "node"),
    (vantor.uuid6, (), {"clock_seq": 1 << 64}, OverflowError, "int too big to convert", "clock_seq"),
    (vantor.uuid1, (), {"node": "x"}, TypeError, "'str' object cannot be interpreted as an integer", "node"),
    (vantor.uuid6, (), {"clock_seq": 1.5}, TypeError,
     "'float' object cannot be interpreted as an integer", "clock_seq"),
    (vantor.uuid1, (), {"node": Index(-1)}, OverflowError, "can't convert negative int to unsigned", "node"),
    # node is converted first, so its failure is the one reported
    (vantor.uuid1, ("x", -1), {}, TypeError, "'str' object cannot be interpreted as an integer", "node"),
    # a valid node does not hide a bad clock sequence
    (vantor.uuid6, (5, "x"), {}, TypeError, "'str' object cannot be interpreted as an integer", "clock_seq"),
]


@pytest.mark.parametrize(("generate", "args", "kwargs", "error", "message", "note"), ARGUMENT_FAILURES)
def test_argument_failures_leave_the_sequence_alone(generate, args, kwargs, error, message, note):
    before = clock_seq_of(vantor.uuid1().int)
    with raises_exactly(error, message, note):
        generate(*args, **kwargs)
    after = clock_seq_of(vantor.uuid6().int)
    assert after == (before + 1) % SEQUENCE_MODULUS


def test_clock_sequence_is_shared_by_both_versions():
    values = [vantor.uuid1(), vantor.uuid6(), vantor.uuid1(), vantor.uuid6(node=3), vantor.uuid1(0)]
    first = values[0].clock_seq
    assert [u.clock_seq for u in values] == [(first + i) % SEQUENCE_MODULUS for i in range(5)]


@pytest.mark.parametrize(
    "explicit",
    [
        lambda: vantor.uuid1(clock_seq=5),
        lambda: vantor.uuid6(clock_seq=5),
        lambda: vantor.uuid1(7, 0),
        lambda: vantor.uuid6(node=None, clock_seq=0x3FFF),
    ],
)
def test_explicit_clock_seq_neither_uses_nor_advances_the_sequence(explicit):
    first = vantor.uuid1().clock_seq
    for _ in range(3):
        explicit()
    assert vantor.uuid1().clock_seq == (first + 1) % SEQUENCE_MODULUS


def test_clock_sequence_wraps_at_14_bits():
    # More values than the sequence has, so that its wrap is crossed wherever it started.
    values = [vantor.uuid1().int if i % 2 else vantor.uuid6().int for i in range(SEQUENCE_MODULUS + 100)]
    first = clock_seq_of(values[0])
    for i, value in enumerate(values):
        assert clock_seq_of(value) == (first + i) % SEQUENCE_MODULUS, i


def test_uuid6_orders_by_time_before_clock_seq_and_node():
    # The earlier value gets the largest clock sequence and node, so only the time can order them.
    earlier = vantor.uuid6(node=(1 << 48) - 1, clock_seq=0x3FFF)
    for _ in range(1_000_000):
        later = vantor.uuid6(node=0, clock_seq=0)
        if v6_ticks(later.int) != v6_ticks(earlier.int):
            break
    else:
        pytest.fail("the clock did not advance by one tick")
    assert v6_ticks(later.int) > v6_ticks(earlier.int)
    assert later.int > earlier.int
    assert later > earlier


def test_uuid6_values_from_different_ticks_sort_by_time():
    values = [vantor.uuid6() for _ in range(2000)]
    for a, b in zip(values, values[1:]):
        if v6_ticks(a.int) < v6_ticks(b.int):
            assert a.int < b.int
        elif v6_ticks(a.int) > v6_ticks(b.int):
            assert a.int > b.int


def test_uuid1_and_uuid6_share_the_clock_seq_and_node_layout():
    v1 = vantor.uuid1(node=0x0102030405, clock_seq=0x1ABC)
    v6 = vantor.uuid6(node=0x0102030405, clock_seq=0x1ABC)
    assert v1.int & ((1 << 64) - 1) == v6.int & ((1 << 64) - 1)
