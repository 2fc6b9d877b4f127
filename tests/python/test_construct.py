"""Building UUIDs: the constructor, its argument handling and the static factories."""
import collections
import uuid

import pytest

from conftest import Index, MAX_INT, notes_of, processing_note, raises_exactly
from vantor import UUID

ONE_OF = "one of the hex, bytes, bytes_le, fields, or int arguments must be given"
ILLEGAL_VERSION = "illegal version number."
OUT_OF_RANGE = "out of range integral type conversion attempted"

# RFC 9562 appendix A.1: a time-based UUID whose bytes_le differs from bytes.
STD = uuid.UUID("C232AB00-9414-11EC-B3C8-9F6BDECED846")
VALUE = STD.int

PARAMS = ["hex", "bytes", "bytes_le", "fields", "int"]
INPUTS = {
    "hex": STD.hex,
    "bytes": STD.bytes,
    "bytes_le": STD.bytes_le,
    "fields": STD.fields,
    "int": STD.int,
}


class Sub(UUID):
    pass


class BytesSub(bytes):
    pass


Fields = collections.namedtuple(
    "Fields", "time_low time_mid time_hi_version clock_seq_hi_variant clock_seq_low node"
)


@pytest.mark.parametrize("param", PARAMS)
def test_each_input_kind_by_keyword_and_position(param):
    assert UUID(**{param: INPUTS[param]}).int == VALUE
    args = [None] * 5
    args[PARAMS.index(param)] = INPUTS[param]
    u = UUID(*args)
    assert type(u) is UUID
    assert u.int == VALUE


@pytest.mark.parametrize(
    ("kwargs", "expected"),
    [
        ({"bytes": BytesSub(STD.bytes)}, VALUE),
        ({"bytes_le": BytesSub(STD.bytes_le)}, VALUE),
        ({"fields": Fields(*STD.fields)}, VALUE),
        ({"fields": tuple(Index(f) for f in STD.fields)}, VALUE),
        ({"int": Index(VALUE)}, VALUE),
        ({"int": True}, 1),
        ({"int": 0}, 0),
        ({"int": MAX_INT}, MAX_INT),
        ({"fields": (0xFFFFFFFF, 0xFFFF, 0xFFFF, 0xFF, 0xFF, (1 << 48) - 1)}, MAX_INT),
        ({"fields": (0, 0, 0, 0, 0, 0)}, 0),
        ({"hex": None, "int": 5}, 5),
        ({"bytes": None, "bytes_le": None, "fields": None, "int": 5, "version": None}, 5),
    ],
)
def test_accepted_argument_forms(kwargs, expected):
    assert UUID(**kwargs).int == expected


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        ((), {}),
        ((None,), {}),
        ((None,) * 6, {}),
        ((), {"version": 4}),
        ((), {"int": 5, "bytes": bytes(16)}),
        ((), {"hex": STD.hex, "int": 5}),
        ((), {"bytes": STD.bytes, "bytes_le": STD.bytes_le}),
        ((), {"fields": STD.fields, "hex": STD.hex, "version": 1}),
        ((STD.hex, STD.bytes, STD.bytes_le, STD.fields, STD.int), {}),
        # checked before any value is built, so malformed inputs do not matter yet
        ((), {"hex": "bad", "int": 5}),
        ((), {"bytes": b"short", "fields": (0,) * 6}),
        ((), {"hex": "bad", "bytes": b"x", "version": 0}),
    ],
)
def test_exactly_one_input_required(args, kwargs):
    with raises_exactly(TypeError, ONE_OF):
        UUID(*args, **kwargs)


NEGATIVE = "can't convert negative int to unsigned"
TOO_BIG = "int too big to convert"

# (keyword arguments, exception type, exact message or None, parameter named by the note)
CONVERSION_FAILURES = [
    ({"hex": 5}, TypeError, "'int' object is not an instance of 'str'", "hex"),
    ({"hex": STD.hex.encode()}, TypeError, "'bytes' object is not an instance of 'str'", "hex"),
    ({"hex": bytearray(32)}, TypeError, "'bytearray' object is not an instance of 'str'", "hex"),
    ({"bytes": bytearray(16)}, TypeError, "'bytearray' object is not an instance of 'bytes'", "bytes"),
    ({"bytes": memoryview(bytes(16))}, TypeError, "'memoryview' object is not an instance of 'bytes'", "bytes"),
    ({"bytes": list(bytes(16))}, TypeError, "'list' object is not an instance of 'bytes'", "bytes"),
    ({"bytes": STD.hex}, TypeError, "'str' object is not an instance of 'bytes'", "bytes"),
    ({"bytes_le": bytearray(16)}, TypeError, "'bytearray' object is not an instance of 'bytes'", "bytes_le"),
    ({"fields": list(STD.fields)}, TypeError, "'list' object is not an instance of 'tuple'", "fields"),
    ({"fields": (1, 2, 3)}, ValueError, "expected tuple of length 6, but got tuple of length 3", "fields"),
    ({"fields": (0,) * 7}, ValueError, "expected tuple of length 6, but got tuple of length 7", "fields"),
    ({"fields": (1 << 32, 0, 0, 0, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    # The small fields convert through a signed 64-bit integer, also where C long has 32 bits.
    ({"fields": ((1 << 63) - 1, 0, 0, 0, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (1 << 63, 0, 0, 0, 0, 0)}, OverflowError, "Python int too large to convert to C long", "fields"),
    ({"fields": (0, 0, 0, -(1 << 63) - 1, 0, 0)}, OverflowError, "Python int too large to convert to C long", "fields"),
    ({"fields": (0, 1 << 16, 0, 0, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (0, 0, 1 << 16, 0, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (0, 0, 0, 256, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (0, 0, 0, 0, 256, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (-1, 0, 0, 0, 0, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (0, 0, 0, 0, -1, 0)}, OverflowError, OUT_OF_RANGE, "fields"),
    ({"fields": (0, 0, 0, 0, 0, -1)}, OverflowError, NEGATIVE, "fields"),
    ({"fields": (0, 0, 0, 0, 0, 1 << 64)}, OverflowError, TOO_BIG, "fields"),
    ({"fields": (0, 0, 0, 0, 1.0, 0)}, TypeError, None, "fields"),
    ({"int": -1}, OverflowError, NEGATIVE, "int"),
    ({"int": 1 << 128}, OverflowError, TOO_BIG, "int"),
    # either side of what 17 signed bytes hold, and far beyond
    ({"int": (1 << 135) - 1}, OverflowError, TOO_BIG, "int"),
    ({"int": 1 << 135}, OverflowError, TOO_BIG, "int"),
    ({"int": 1 << 1000}, OverflowError, TOO_BIG, "int"),
    ({"int": -(1 << 135)}, OverflowError, NEGATIVE, "int"),
    ({"int": -(1 << 135) - 1}, OverflowError, NEGATIVE, "int"),
    ({"int": -(1 << 64)}, OverflowError, NEGATIVE, "int"),
    ({"int": Index(-5)}, OverflowError, NEGATIVE, "int"),
    ({"int": Index(1 << 128)}, OverflowError, TOO_BIG, "int"),
    ({"int": 5.0}, TypeError, None, "int"),
    ({"int": "5"}, TypeError, None, "int"),
    ({"int": 0, "version": 256}, OverflowError, OUT_OF_RANGE, "version"),
    ({"int": 0, "version": -1}, OverflowError, OUT_OF_RANGE, "version"),
    ({"int": 0, "version": 4.0}, TypeError, None, "version"),
    ({"int": 0, "version": "4"}, TypeError, None, "version"),
]


@pytest.mark.parametrize(("kwargs", "exc", "message", "param"), CONVERSION_FAILURES)
def test_conversion_failures_name_the_argument(kwargs, exc, message, param):
    with raises_exactly(exc, message, param):
        UUID(**kwargs)


@pytest.mark.parametrize(
    ("kwargs", "param"),
    [
        ({"hex": 5, "bytes": bytearray(16), "int": -1, "version": 300}, "hex"),
        ({"bytes": bytearray(16), "bytes_le": bytearray(16)}, "bytes"),
        ({"bytes_le": bytearray(16), "fields": [0] * 6}, "bytes_le"),
        ({"fields": [0] * 6, "int": -1}, "fields"),
        ({"int": -1, "version": 300}, "int"),
        # parsing text is part of building, which comes after every conversion
        ({"hex": "bad", "int": -1}, "int"),
        ({"hex": "bad", "version": 300}, "version"),
        # conversions also come before the one-input check
        ({"version": 300}, "version"),
        ({"int": 5, "bytes": bytes(16), "version": 300}, "version"),
    ],
)
def test_first_conversion_failure_wins(kwargs, param):
    with pytest.raises((TypeError, ValueError, OverflowError)) as excinfo:
        UUID(**kwargs)
    assert notes_of(excinfo) == processing_note(param)


@pytest.mark.parametrize(
    ("kwargs", "message"),
    [
        ({"hex": "bad"}, "badly formed hexadecimal UUID string"),
        ({"hex": "bad", "version": 9}, "badly formed hexadecimal UUID string"),
        ({"bytes": b""}, "expected a sequence of length 16 (got 0)"),
        ({"bytes": bytes(15)}, "expected a sequence of length 16 (got 15)"),
        ({"bytes": bytes(17), "version": 0}, "expected a sequence of length 16 (got 17)"),
        ({"bytes_le": bytes(15)}, "expected a sequence of length 16 (got 15)"),
        ({"bytes": BytesSub(3)}, "expected a sequence of length 16 (got 3)"),
        ({"fields": (0, 0, 0, 0, 0, 1 << 48)}, "field 6 out of range (need a 48-bit value)"),
        ({"fields": (0, 0, 0, 0, 0, (1 << 64) - 1)}, "field 6 out of range (need a 48-bit value)"),
        ({"fields": (0, 0, 0, 0, 0, 1 << 48), "version": 0}, "field 6 out of range (need a 48-bit value)"),
        ({"int": 0, "version": 0}, ILLEGAL_VERSION),
        ({"int": 0, "version": 9}, ILLEGAL_VERSION),
        ({"hex": STD.hex, "version": 15}, ILLEGAL_VERSION),
        ({"bytes": STD.bytes, "version": 255}, ILLEGAL_VERSION),
        ({"fields": STD.fields, "version": Index(0)}, ILLEGAL_VERSION),
    ],
)
def test_build_failures_carry_no_note(kwargs, message):
    with raises_exactly(ValueError, message):
        UUID(**kwargs)


class LyingInt(int):
    """An int whose __index__ disagrees with its value: an int is read as it is."""

    def __index__(self):
        return 0


# Either side of every boundary the int conversions split at: one digit (2**30 on common builds,
# 2**15 on others), 64 bits, whole bytes, digit multiples, and 128 bits.
INT_EDGES = sorted({0} | {edge for bits in (8, 15, 16, 30, 31, 32, 60, 63, 64, 65, 90, 96, 120, 127, 128)
                          for edge in ((1 << bits) - 1, 1 << bits, (1 << bits) + 1) if edge <= MAX_INT})


@pytest.mark.parametrize("value", INT_EDGES, ids=hex)
def test_int_round_trips_at_edges(value):
    expected = uuid.UUID(int=value).bytes
    for given in (value, Index(value), LyingInt(value)):
        u = UUID(int=given)
        assert (u.bytes, u.int, UUID.from_int(given).int) == (expected, value, value)
    assert type(u.int) is int


@pytest.mark.parametrize(
    ("value", "version", "expected"),
    [
        (0, 4, "00000000-0000-4000-8000-000000000000"),
        (0, 1, "00000000-0000-1000-8000-000000000000"),
        (0, 8, "00000000-0000-8000-8000-000000000000"),
        (MAX_INT, 1, "ffffffff-ffff-1fff-bfff-ffffffffffff"),
        (MAX_INT, 7, "ffffffff-ffff-7fff-bfff-ffffffffffff"),
        (MAX_INT, Index(6), "ffffffff-ffff-6fff-bfff-ffffffffffff"),
        (VALUE, 5, "c232ab00-9414-51ec-b3c8-9f6bdeced846"),
        # variant bits other than the top two stay as given
        (0x7FFF << 48, 2, "00000000-0000-2000-bfff-000000000000"),
        (0xC000 << 48 | 0x3 << 76, 3, "00000000-0000-3000-8000-000000000000"),
    ],
)
def test_version_forces_nibble_and_variant(value, version, expected):
    u = UUID(int=value, version=version)
    assert str(u) == expected
    assert u.version == int(version)


def test_version_bytes_at_the_extremes():
    low = UUID(int=0, version=4).bytes
    assert (low[6], low[8]) == (0x40, 0x80)
    high = UUID(int=MAX_INT, version=1).bytes
    assert (high[6], high[8]) == (0x1F, 0xBF)


@pytest.mark.parametrize("version", [1, 8])
@pytest.mark.parametrize("param", PARAMS)
def test_version_applies_to_every_input_kind(param, version):
    assert UUID(**{param: INPUTS[param]}, version=version) == UUID(int=VALUE, version=version)


# (factory name, argument, equivalent constructor keyword)
FACTORIES = [
    ("from_hex", STD.hex, "hex"),
    ("from_hex", str(STD).upper(), "hex"),
    ("from_hex", STD.urn, "hex"),
    ("from_int", VALUE, "int"),
    ("from_int", Index(VALUE), "int"),
    ("from_bytes", STD.bytes, "bytes"),
    ("from_bytes", BytesSub(STD.bytes), "bytes"),
    ("from_bytes_le", STD.bytes_le, "bytes_le"),
    ("from_fields", STD.fields, "fields"),
    ("from_fields", Fields(*STD.fields), "fields"),
]


@pytest.mark.parametrize(
    "owner",
    [UUID, UUID(int=1), Sub, Sub(int=1)],
    ids=["class", "instance", "subclass", "subclass-instance"],
)
@pytest.mark.parametrize(("name", "arg", "keyword"), FACTORIES)
def test_static_factories_build_plain_uuids(owner, name, arg, keyword):
    u = getattr(owner, name)(arg)
    assert type(u) is UUID
    assert u == UUID(**{keyword: arg})
    assert u.int == VALUE


@pytest.mark.parametrize(
    ("name", "keyword"),
    [
        ("from_hex", "hex"),
        ("from_int", "int"),
        ("from_bytes", "bytes"),
        ("from_bytes_le", "bytes"),
        ("from_fields", "fields"),
    ],
)
def test_static_factories_by_keyword(name, keyword):
    arg = {"from_bytes_le": STD.bytes_le}.get(name, INPUTS[keyword])
    assert getattr(UUID, name)(**{keyword: arg}).int == VALUE


@pytest.mark.parametrize(
    ("name", "arg", "exc", "message", "note"),
    [
        ("from_hex", 5, TypeError, "'int' object is not an instance of 'str'", "hex"),
        ("from_hex", STD.hex.encode(), TypeError, "'bytes' object is not an instance of 'str'", "hex"),
        ("from_hex", "\ud800" * 32, UnicodeEncodeError, None, "hex"),
        ("from_hex", "{" + STD.hex + "}", ValueError, "badly formed hexadecimal UUID string", None),
        ("from_int", -1, OverflowError, None, "int"),
        ("from_int", 1 << 128, OverflowError, None, "int"),
        ("from_int", None, TypeError, None, "int"),
        ("from_bytes", bytearray(16), TypeError, "'bytearray' object is not an instance of 'bytes'", "bytes"),
        ("from_bytes", bytes(15), ValueError, "expected a sequence of length 16 (got 15)", None),
        ("from_bytes_le", bytearray(16), TypeError, "'bytearray' object is not an instance of 'bytes'", "bytes"),
        ("from_bytes_le", bytes(17), ValueError, "expected a sequence of length 16 (got 17)", None),
        ("from_fields", [0] * 6, TypeError, "'list' object is not an instance of 'tuple'", "fields"),
        ("from_fields", (0,) * 5, ValueError, "expected tuple of length 6, but got tuple of length 5", "fields"),
        ("from_fields", (0, 0, 0, 256, 0, 0), OverflowError, OUT_OF_RANGE, "fields"),
        ("from_fields", (0, 0, 0, 0, 0, 1 << 48), ValueError, "field 6 out of range (need a 48-bit value)", None),
    ],
)
def test_static_factory_failures(name, arg, exc, message, note):
    with raises_exactly(exc, message, note):
        getattr(UUID, name)(arg)


def test_subclass_constructor_builds_the_subclass():
    s = Sub(hex=STD.hex)
    assert type(s) is Sub
    assert s == UUID(int=VALUE)
