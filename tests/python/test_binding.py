"""Binding call arguments to parameters, and the exact messages when that fails."""
import sys

import pytest

from conftest import notes_of
import vantor
from vantor import UUID

U = UUID(int=0)

# (call, positional args, keyword args, message)
BINDING_FAILURES = [
    (UUID.from_hex, ("a", "b"), {}, "UUID.from_hex() takes 1 positional arguments but 2 were given"),
    (U.from_hex, ("a", "b"), {}, "UUID.from_hex() takes 1 positional arguments but 2 were given"),
    (UUID.from_int, (1, 2), {}, "UUID.from_int() takes 1 positional arguments but 2 were given"),
    (UUID, (1, 2, 3, 4, 5, 6, 7), {}, "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
    (UUID, (None,) * 7, {}, "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
    (UUID.from_hex, (), {}, "UUID.from_hex() missing 1 required positional argument: 'hex'"),
    (UUID.from_int, (), {}, "UUID.from_int() missing 1 required positional argument: 'int'"),
    (UUID.from_bytes, (), {}, "UUID.from_bytes() missing 1 required positional argument: 'bytes'"),
    (UUID.from_bytes_le, (), {}, "UUID.from_bytes_le() missing 1 required positional argument: 'bytes'"),
    (UUID.from_fields, (), {}, "UUID.from_fields() missing 1 required positional argument: 'fields'"),
    (UUID.from_hex, (), {"foo": 1}, "UUID.from_hex() got an unexpected keyword argument 'foo'"),
    (UUID, (), {"foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
    (UUID, (), {"int": 5, "foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
    (UUID, (), {"Hex": "0" * 32}, "UUID.__new__() got an unexpected keyword argument 'Hex'"),
    (UUID, ("x",), {"hex": "y"}, "UUID.__new__() got multiple values for argument 'hex'"),
    # a positional None still binds its parameter
    (UUID, (None, None, None, None, 5), {"hex": None}, "UUID.__new__() got multiple values for argument 'hex'"),
    (UUID.from_hex, ("a",), {"hex": "a"}, "UUID.from_hex() got multiple values for argument 'hex'"),
    (U.set_version, (), {}, "UUID.set_version() missing 1 required positional argument: 'version'"),
    (U.set_version, (1, 2), {}, "UUID.set_version() takes 1 positional arguments but 2 were given"),
    (U.set_version, (), {"foo": 1}, "UUID.set_version() got an unexpected keyword argument 'foo'"),
    (U.__deepcopy__, (), {}, "UUID.__deepcopy__() missing 1 required positional argument: '_memo'"),
]


@pytest.mark.parametrize(("call", "args", "kwargs", "message"), BINDING_FAILURES)
def test_binding_failures(call, args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        call(*args, **kwargs)
    assert type(excinfo.value) is TypeError
    assert str(excinfo.value) == message
    assert notes_of(excinfo) == []


@pytest.mark.parametrize(
    ("args", "kwargs", "message"),
    [
        # binding is checked before any argument is converted
        ((5,), {"foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
        ((5, bytearray(16), [], [], -1, 300, 7), {}, "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
        ((5,), {"hex": 6}, "UUID.__new__() got multiple values for argument 'hex'"),
    ],
)
def test_binding_comes_before_conversion(args, kwargs, message):
    with pytest.raises(TypeError) as excinfo:
        UUID(*args, **kwargs)
    assert str(excinfo.value) == message
    assert notes_of(excinfo) == []


@pytest.mark.parametrize(
    ("args", "kwargs"),
    [
        ((None, None, None, None, 7), {}),
        ((None, None, None, None), {"int": 7}),
        ((), {"version": None, "int": 7, "hex": None}),
        ((None, None, None, None, 7, None), {}),
    ],
)
def test_positional_and_keyword_mix(args, kwargs):
    assert UUID(*args, **kwargs).int == 7


class Name(str):
    pass


def built(text):
    """A str equal to `text` but not the interned object a keyword in source code is."""
    name = "".join(list(text))
    assert name == text and name is not sys.intern(text)
    return name


# A keyword name is found by identity first; one built at run time, or a str subclass, must
# still be found by its text, in both the vectorcall and the tp_new (dict) forms of binding.
# (call, keyword name, value, check of the result)
RUNTIME_NAMES = [
    (UUID, built("int"), 7, lambda u: u.int == 7),
    (UUID, Name("hex"), "0" * 31 + "7", lambda u: u.int == 7),
    (UUID.from_int, built("int"), 7, lambda u: u.int == 7),
    (UUID.from_int, Name("int"), 7, lambda u: u.int == 7),
    (U.set_version, built("version"), 4, lambda u: u.version == 4),
    (vantor.uuid1, built("clock_seq"), 0x1234, lambda u: u.clock_seq == 0x1234),
    (vantor.uuid6, Name("node"), 0x123456789ABC, lambda u: u.node == 0x123456789ABC),
    (vantor.uuid7, built("nanoseconds"), 10**18, lambda u: u.version == 7),
]


@pytest.mark.parametrize(("call", "name", "value", "check"), RUNTIME_NAMES)
def test_keyword_names_built_at_run_time(call, name, value, check):
    assert check(call(**{name: value}))


@pytest.mark.parametrize(
    ("call", "first", "name", "message"),
    [
        (UUID.from_int, 7, built("int"), "UUID.from_int() got multiple values for argument 'int'"),
        (UUID, "0" * 32, Name("hex"), "UUID.__new__() got multiple values for argument 'hex'"),
        (vantor.uuid6, 1, built("node"), "uuid6() got multiple values for argument 'node'"),
        (UUID.from_int, 7, built("in"), "UUID.from_int() got an unexpected keyword argument 'in'"),
    ],
)
def test_runtime_names_collide_or_miss_like_interned_ones(call, first, name, message):
    with pytest.raises(TypeError) as excinfo:
        call(first, **{name: 7})
    assert str(excinfo.value) == message
