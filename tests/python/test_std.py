"""`vantor.std`: the generators returning the standard library's `uuid.UUID`, and conversions."""
import copy
import pickle
import uuid
import weakref

import pytest
from hypothesis import given

import vantor
import std_reference
from conftest import Index, uuid_ints
from vantor import std

NAMESPACES = [
    vantor.NAMESPACE_DNS,
    vantor.NAMESPACE_URL,
    vantor.NAMESPACE_OID,
    vantor.NAMESPACE_X500,
    vantor.UUID("12345678-1234-5678-9234-567812345678"),
]
GENERATORS = [
    pytest.param(lambda: std.uuid1(), 1, id="uuid1"),
    pytest.param(lambda: std.uuid3(vantor.NAMESPACE_DNS, "python.org"), 3, id="uuid3"),
    pytest.param(lambda: std.uuid4(), 4, id="uuid4"),
    pytest.param(lambda: std.uuid5(uuid.NAMESPACE_URL, b"python.org"), 5, id="uuid5"),
    pytest.param(lambda: std.uuid6(), 6, id="uuid6"),
    pytest.param(lambda: std.uuid7(), 7, id="uuid7"),
    pytest.param(lambda: std.uuid8(), 8, id="uuid8"),
    pytest.param(lambda: std.to_std(vantor.uuid4()), 4, id="to_std"),
]


def assert_same_as_constructed(value):
    """`value` behaves in every way like `uuid.UUID(int=value.int)` made by the usual route."""
    reference = uuid.UUID(int=value.int)
    assert type(value) is uuid.UUID
    assert value == reference and not value != reference
    assert hash(value) == hash(reference)
    assert str(value) == str(reference) and repr(value) == repr(reference)
    for name in ["bytes", "bytes_le", "fields", "hex", "urn", "variant", "version", "is_safe"]:
        assert getattr(value, name) == getattr(reference, name), name
    assert value.__getstate__() == reference.__getstate__()
    assert not (value < reference) and value <= reference
    for name in ["int", "is_safe", "other"]:
        with pytest.raises(TypeError):
            setattr(value, name, 0)


@pytest.mark.parametrize("make, version", GENERATORS)
def test_generators_return_usable_standard_uuids(make, version):
    value = make()
    assert_same_as_constructed(value)
    assert value.version == version
    assert value.variant == uuid.RFC_4122
    assert value.is_safe is uuid.SafeUUID.unknown


@pytest.mark.parametrize("make, version", GENERATORS)
@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickling_round_trips(make, version, protocol):
    value = make()
    restored = pickle.loads(pickle.dumps(value, protocol))
    assert type(restored) is uuid.UUID
    assert restored == value and restored.is_safe is value.is_safe


@pytest.mark.parametrize("make, version", GENERATORS)
def test_copies_and_weak_references(make, version):
    value = make()
    assert copy.copy(value) == value
    assert copy.deepcopy(value) == value
    assert weakref.ref(value)() is value
    assert {value: 1}[uuid.UUID(str(value))] == 1


@pytest.mark.parametrize("generate", [std.uuid1, std.uuid4, std.uuid6, std.uuid7, std.uuid8])
def test_fresh_values_differ(generate):
    values = {generate() for _ in range(1000)}
    assert len(values) == 1000


def test_uuid7_values_increase():
    values = [std.uuid7() for _ in range(1000)]
    assert values == sorted(values)


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
@pytest.mark.parametrize("namespace", NAMESPACES, ids=str)
@pytest.mark.parametrize(
    "name", ["", "python.org", "naïve café ☃", b"", b"\x00\xff binary", bytearray(b"mutable")]
)
def test_name_based_equal_vantor_and_the_standard_library(function, namespace, name):
    std_namespace = uuid.UUID(str(namespace))
    expected = getattr(std_reference, function)(std_namespace, name)
    ours = getattr(vantor, function)(namespace, name)
    # The namespace may be given in either class.
    for given_namespace in [namespace, std_namespace]:
        value = getattr(std, function)(given_namespace, name)
        assert type(value) is uuid.UUID
        assert value == expected
        assert value.int == ours.int


@pytest.mark.parametrize("function", ["uuid3", "uuid5"])
def test_name_based_namespace_subclasses(function):
    class StdSub(uuid.UUID):
        pass

    class VantorSub(vantor.UUID):
        pass

    text = "12345678-1234-5678-9234-567812345678"
    expected = getattr(uuid, function)(uuid.UUID(text), "name")
    assert getattr(std, function)(StdSub(text), "name") == expected
    assert getattr(std, function)(VantorSub(text), "name") == expected


@pytest.mark.parametrize("function", ["uuid1", "uuid6"])
@pytest.mark.parametrize(
    "node, clock_seq",
    [(0x0123456789AB, 0x1234), (0, 0), ((1 << 48) - 1, (1 << 14) - 1), (Index(7), Index(9))],
)
def test_time_based_node_and_clock_sequence(function, node, clock_seq):
    value = getattr(std, function)(node=node, clock_seq=clock_seq)
    assert value.node == node.__index__()
    assert value.clock_seq == clock_seq.__index__()
    assert value.version == int(function[-1])
    positional = getattr(std, function)(node, clock_seq)
    assert (positional.node, positional.clock_seq) == (value.node, value.clock_seq)


@pytest.mark.parametrize(
    "nanoseconds", [0, 1_700_000_000_123_456_789, Index(1_234_567_890_123_456)]
)
def test_uuid7_with_given_time(nanoseconds):
    value = std.uuid7(nanoseconds=nanoseconds)
    assert value.int >> 80 == nanoseconds.__index__() // 1_000_000
    assert value.version == 7


@pytest.mark.parametrize(
    "a, b, c", [(0, 0, 0), (1, 2, 3), ((1 << 48) - 1, (1 << 12) - 1, (1 << 62) - 1), (Index(5), 0, 0)]
)
def test_uuid8_with_given_parts(a, b, c):
    assert std.uuid8(a, b, c).int == vantor.uuid8(a, b, c).int


@pytest.mark.parametrize(
    "call, error",
    [
        (lambda: std.uuid1(node=1.5), TypeError),
        (lambda: std.uuid6(clock_seq="1"), TypeError),
        (lambda: std.uuid3("6ba7b810-9dad-11d1-80b4-00c04fd430c8", "x"), TypeError),
        (lambda: std.uuid5(vantor.NAMESPACE_DNS, 5), TypeError),
        (lambda: std.uuid7(nanoseconds=1.0), TypeError),
        (lambda: std.uuid7(0), TypeError),
        (lambda: std.to_std(uuid.uuid4()), TypeError),
        (lambda: std.to_std("6ba7b810-9dad-11d1-80b4-00c04fd430c8"), TypeError),
        (lambda: std.from_std(vantor.uuid4()), TypeError),
        (lambda: std.from_std(0), TypeError),
    ],
)
def test_bad_arguments_raise(call, error):
    with pytest.raises(error):
        call()


@given(uuid_ints)
def test_conversions_round_trip(value):
    ours = vantor.UUID(int=value)
    theirs = uuid.UUID(int=value)
    converted = std.to_std(ours)
    assert type(converted) is uuid.UUID
    assert converted == theirs
    assert_same_as_constructed(converted)
    back = std.from_std(theirs)
    assert type(back) is vantor.UUID
    assert back == ours
    assert std.from_std(std.to_std(ours)) == ours


def test_conversions_accept_subclasses():
    class StdSub(uuid.UUID):
        pass

    class VantorSub(vantor.UUID):
        pass

    text = "12345678-1234-5678-9234-567812345678"
    assert type(std.to_std(VantorSub(text))) is uuid.UUID
    assert std.to_std(VantorSub(text)) == uuid.UUID(text)
    assert type(std.from_std(StdSub(text))) is vantor.UUID
    assert std.from_std(StdSub(text)) == vantor.UUID(text)
