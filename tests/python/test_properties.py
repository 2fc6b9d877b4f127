"""Read-only views of a UUID value: layouts, fields, version, variant, time and timestamp."""
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

import vantor
from conftest import GREGORIAN_TO_UNIX_TICKS, MAX_INT, with_version_and_variant
from vantor import MAX, NIL, UUID

NOT_TIME_BASED = "UUID version should be one of (v1, v6 or v7)."

PROPERTIES = [
    "hex", "bytes", "bytes_le", "int", "urn", "version", "variant", "node",
    "time_low", "time_mid", "time_hi_version", "clock_seq_hi_variant", "clock_seq_low",
    "clock_seq", "time", "timestamp", "fields", "is_safe",
]
# Those the standard library defines the same way on every version we support.
SHARED = [
    "hex", "bytes", "bytes_le", "int", "urn", "version", "variant", "node",
    "time_low", "time_mid", "time_hi_version", "clock_seq_hi_variant", "clock_seq_low",
    "clock_seq", "fields",
]

# Examples from RFC 9562 appendices A and B (v3 and v5 are uuid3/uuid5 of "www.example.com"
# in the DNS namespace), plus NIL and MAX.
# (text, version, variant, time, timestamp or None when it must raise)
KNOWN = [
    ("00000000-0000-0000-0000-000000000000", None, vantor.RESERVED_NCS, 0, None),
    ("ffffffff-ffff-ffff-ffff-ffffffffffff", None, vantor.RESERVED_FUTURE, (1 << 60) - 1, None),
    ("C232AB00-9414-11EC-B3C8-9F6BDECED846", 1, vantor.RFC_4122, 0x1EC9414C232AB00, 1645557742000),
    ("5df41881-3aed-3515-88a7-2f4a814cf09e", 3, vantor.RFC_4122, 0x5153AED5DF41881, None),
    ("919108F7-52D1-4320-9BAC-F847DB4148A8", 4, vantor.RFC_4122, 0x32052D1919108F7, None),
    ("2ED6657D-E927-568B-95E1-2665A8AEA6A2", 5, vantor.RFC_4122, 0x68BE9272ED6657D, None),
    ("1EC9414C-232A-6B00-B3C8-9F6BDECED846", 6, vantor.RFC_4122, 0x1EC9414C232AB00, 1645557742000),
    ("017F22E2-79B0-7CC3-98C4-DC0C0C07398F", 7, vantor.RFC_4122, 0x017F22E279B0, 1645557742000),
    ("5C146B14-3C52-8AFD-938A-375D0DF1FBF6", 8, vantor.RFC_4122, 0xAFD3C525C146B14, None),
]


@pytest.mark.parametrize(("text", "version", "variant", "time", "timestamp"), KNOWN)
def test_known_uuids(text, version, variant, time, timestamp):
    u = UUID(text)
    std = uuid.UUID(text)
    for name in SHARED:
        assert getattr(u, name) == getattr(std, name), name
    assert u.version == version
    assert u.variant == variant
    assert u.time == time
    if timestamp is None:
        with pytest.raises(ValueError, match=r"^UUID version should be one of \(v1, v6 or v7\)\.$"):
            u.timestamp
    else:
        assert u.timestamp == timestamp
    assert u.is_safe is uuid.SafeUUID.unknown


def test_every_field_of_the_v1_example():
    u = UUID("C232AB00-9414-11EC-B3C8-9F6BDECED846")
    assert u.hex == "c232ab00941411ecb3c89f6bdeced846"
    assert u.urn == "urn:uuid:c232ab00-9414-11ec-b3c8-9f6bdeced846"
    assert u.bytes == bytes.fromhex("c232ab00941411ecb3c89f6bdeced846")
    assert u.bytes_le == bytes.fromhex("00ab32c21494ec11b3c89f6bdeced846")
    assert u.int == 0xC232AB00941411ECB3C89F6BDECED846
    assert u.time_low == 0xC232AB00
    assert u.time_mid == 0x9414
    assert u.time_hi_version == 0x11EC
    assert u.clock_seq_hi_variant == 0xB3
    assert u.clock_seq_low == 0xC8
    assert u.clock_seq == 0x33C8
    assert u.node == 0x9F6BDECED846
    assert u.fields == (0xC232AB00, 0x9414, 0x11EC, 0xB3, 0xC8, 0x9F6BDECED846)
    assert type(u.fields) is tuple


def test_nil_and_max_layouts():
    assert NIL.hex == "0" * 32
    assert NIL.bytes == NIL.bytes_le == bytes(16)
    assert NIL.fields == (0,) * 6
    assert NIL.clock_seq == 0
    assert MAX.hex == "f" * 32
    assert MAX.bytes == MAX.bytes_le == b"\xff" * 16
    assert MAX.fields == (0xFFFFFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, (1 << 48) - 1)
    assert MAX.clock_seq == 0x3FFF
    assert MAX.urn == "urn:uuid:ffffffff-ffff-ffff-ffff-ffffffffffff"


@pytest.mark.parametrize(
    ("byte8", "variant"),
    [
        (0x00, vantor.RESERVED_NCS),
        (0x7F, vantor.RESERVED_NCS),
        (0x80, vantor.RFC_4122),
        (0xBF, vantor.RFC_4122),
        (0xC0, vantor.RESERVED_MICROSOFT),
        (0xDF, vantor.RESERVED_MICROSOFT),
        (0xE0, vantor.RESERVED_FUTURE),
        (0xFF, vantor.RESERVED_FUTURE),
    ],
)
def test_variant_boundaries(byte8, variant):
    u = UUID(int=(0x4000 << 64) | (byte8 << 56))
    assert u.variant == variant
    assert u.version == (4 if variant == vantor.RFC_4122 else None)


@pytest.mark.parametrize("nibble", range(16))
@pytest.mark.parametrize("variant_bits", [0b00, 0b01, 0b10, 0b11])
def test_version_is_the_nibble_only_for_rfc_variant(nibble, variant_bits):
    u = UUID(int=with_version_and_variant(0, nibble, variant_bits))
    assert u.version == (nibble if variant_bits == 0b10 else None)


@pytest.mark.parametrize(
    ("byte8", "clock_seq"),
    [(0xFF, 0x3FFF), (0xBF, 0x3FFF), (0x80, 0x0000), (0xC1, 0x0100), (0x3F, 0x3FFF)],
)
def test_clock_seq_drops_the_top_two_bits(byte8, clock_seq):
    u = UUID(int=(byte8 << 56) | (0xFF << 48 if clock_seq & 0xFF else 0))
    assert u.clock_seq_hi_variant == byte8
    assert u.clock_seq == clock_seq


def _v1_layout(ticks, nibble, variant_bits):
    value = ((ticks & 0xFFFFFFFF) << 96) | (((ticks >> 32) & 0xFFFF) << 80)
    value |= ((ticks >> 48) & 0xFFF) << 64
    return with_version_and_variant(value, nibble, variant_bits)


def _v6_layout(ticks, nibble, variant_bits):
    value = ((ticks >> 12) << 80) | ((ticks & 0xFFF) << 64)
    return with_version_and_variant(value, nibble, variant_bits)


TICKS = st.integers(min_value=0, max_value=(1 << 60) - 1)


@given(TICKS, st.integers(min_value=0, max_value=(1 << 62) - 1))
def test_time_layout_by_version_for_rfc_variant(ticks, low_bits):
    # low_bits fills clock sequence and node, which time must ignore.
    v1 = UUID(int=_v1_layout(ticks, 1, 0b10) | low_bits)
    v6 = UUID(int=_v6_layout(ticks, 6, 0b10) | low_bits)
    v7 = UUID(int=with_version_and_variant((ticks >> 12) << 80, 7, 0b10) | low_bits)
    assert v1.time == ticks
    assert v6.time == ticks
    assert v7.time == ticks >> 12


@given(TICKS, st.sampled_from([6, 7]), st.sampled_from([0b00, 0b01, 0b11]))
def test_time_uses_v1_layout_outside_the_rfc_variant(ticks, nibble, variant_bits):
    u = UUID(int=_v1_layout(ticks, nibble, variant_bits))
    assert u.time == ticks


@given(TICKS, st.sampled_from([(1, _v1_layout), (6, _v6_layout)]), st.integers(0, 3))
def test_timestamp_of_gregorian_layouts(ticks, layout, variant_bits):
    # The version nibble alone picks the rule, whatever the variant.
    nibble, build = layout
    u = UUID(int=build(ticks, nibble, variant_bits))
    assert u.timestamp == (ticks - GREGORIAN_TO_UNIX_TICKS) // 10000


@pytest.mark.parametrize(
    ("ticks", "timestamp"),
    [
        (0, -12219292800000),
        (1, -12219292800000),
        (GREGORIAN_TO_UNIX_TICKS - 10001, -2),
        (GREGORIAN_TO_UNIX_TICKS - 10000, -1),
        # before the Unix epoch the result is negative and rounded down, never wrapped
        (GREGORIAN_TO_UNIX_TICKS - 1, -1),
        (GREGORIAN_TO_UNIX_TICKS, 0),
        (GREGORIAN_TO_UNIX_TICKS + 9999, 0),
        (GREGORIAN_TO_UNIX_TICKS + 10000, 1),
        ((1 << 60) - 1, ((1 << 60) - 1 - GREGORIAN_TO_UNIX_TICKS) // 10000),
    ],
)
@pytest.mark.parametrize(("nibble", "build"), [(1, _v1_layout), (6, _v6_layout)])
def test_timestamp_around_the_unix_epoch(ticks, timestamp, nibble, build):
    assert UUID(int=build(ticks, nibble, 0b10)).timestamp == timestamp


@given(st.integers(min_value=0, max_value=MAX_INT), st.integers(0, 3))
def test_timestamp_of_v7_is_the_top_48_bits(value, variant_bits):
    u = UUID(int=with_version_and_variant(value, 7, variant_bits))
    assert u.timestamp == u.int >> 80


@pytest.mark.parametrize("nibble", [0, 2, 3, 4, 5, 8, 9, 10, 11, 12, 13, 14, 15])
@pytest.mark.parametrize("variant_bits", [0b00, 0b10, 0b11])
def test_timestamp_needs_a_time_based_nibble(nibble, variant_bits):
    u = UUID(int=with_version_and_variant(0x123456789ABCDEF << 64, nibble, variant_bits))
    with pytest.raises(ValueError) as excinfo:
        u.timestamp
    assert str(excinfo.value) == NOT_TIME_BASED


def test_is_safe_is_looked_up_on_the_type():
    assert UUID(int=1).is_safe is uuid.SafeUUID.unknown

    class Marked(UUID):
        _safe_uuid_unknown = uuid.SafeUUID.safe

    assert Marked(int=1).is_safe is uuid.SafeUUID.safe
    assert UUID(int=1).is_safe is uuid.SafeUUID.unknown


@pytest.mark.parametrize("name", PROPERTIES + ["foo", "__class__", "_safe_uuid_unknown"])
def test_instances_reject_assignment_and_deletion(name):
    u = UUID("C232AB00-9414-11EC-B3C8-9F6BDECED846")
    before = u.int
    with pytest.raises(TypeError) as excinfo:
        setattr(u, name, 0)
    assert str(excinfo.value) == "UUID objects are immutable"
    with pytest.raises(AttributeError) as excinfo:
        delattr(u, name)
    assert str(excinfo.value) == "can't delete attribute"
    assert u.int == before
    assert type(u) is UUID


def test_statement_forms_are_rejected_too():
    u = UUID(int=5)
    with pytest.raises(TypeError, match="^UUID objects are immutable$"):
        u.int = 6
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del u.hex
    assert u.int == 5
