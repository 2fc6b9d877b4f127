"""Binding call arguments to parameters, and the exact messages when that fails."""
import sys

import pytest

import vantor
from conftest import notes_of, raises_exactly
from vantor import NAMESPACE_DNS, UUID, _uuid7_int, uuid1, uuid3, uuid5, uuid6, uuid7, uuid8

U = UUID(int=0)

# Every failure to bind arguments, keyed by callable: (positional args, keyword args, message).
# Binding comes before any conversion, so arguments that would not convert do not change the
# message, and a binding failure carries no note.
BINDING_FAILURES = {
    UUID.from_hex: [
        (("a", "b"), {}, "UUID.from_hex() takes 1 positional arguments but 2 were given"),
        ((), {}, "UUID.from_hex() missing 1 required positional argument: 'hex'"),
        ((), {"foo": 1}, "UUID.from_hex() got an unexpected keyword argument 'foo'"),
        (("a",), {"hex": "a"}, "UUID.from_hex() got multiple values for argument 'hex'"),
    ],
    U.from_hex: [(("a", "b"), {}, "UUID.from_hex() takes 1 positional arguments but 2 were given")],
    UUID.from_int: [
        ((1, 2), {}, "UUID.from_int() takes 1 positional arguments but 2 were given"),
        ((), {}, "UUID.from_int() missing 1 required positional argument: 'int'"),
    ],
    UUID.from_bytes: [((), {}, "UUID.from_bytes() missing 1 required positional argument: 'bytes'")],
    UUID.from_bytes_le: [((), {}, "UUID.from_bytes_le() missing 1 required positional argument: 'bytes'")],
    UUID.from_fields: [((), {}, "UUID.from_fields() missing 1 required positional argument: 'fields'")],
    UUID: [
        ((1, 2, 3, 4, 5, 6, 7), {}, "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
        ((None,) * 7, {}, "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
        ((5, bytearray(16), [], [], -1, 300, 7), {},
         "UUID.__new__() takes from 0 to 6 positional arguments but 7 were given"),
        ((), {"foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
        ((5,), {"foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
        ((), {"int": 5, "foo": 1}, "UUID.__new__() got an unexpected keyword argument 'foo'"),
        ((), {"Hex": "0" * 32}, "UUID.__new__() got an unexpected keyword argument 'Hex'"),
        (("x",), {"hex": "y"}, "UUID.__new__() got multiple values for argument 'hex'"),
        ((5,), {"hex": 6}, "UUID.__new__() got multiple values for argument 'hex'"),
        # a positional None still binds its parameter
        ((None, None, None, None, 5), {"hex": None}, "UUID.__new__() got multiple values for argument 'hex'"),
    ],
    U.set_version: [
        ((), {}, "UUID.set_version() missing 1 required positional argument: 'version'"),
        ((1, 2), {}, "UUID.set_version() takes 1 positional arguments but 2 were given"),
        ((), {"foo": 1}, "UUID.set_version() got an unexpected keyword argument 'foo'"),
    ],
    U.__deepcopy__: [((), {}, "UUID.__deepcopy__() missing 1 required positional argument: '_memo'")],
    uuid1: [
        ((1, 2, 3), {}, "uuid1() takes from 0 to 2 positional arguments but 3 were given"),
        ((1,), {"node": 2}, "uuid1() got multiple values for argument 'node'"),
        ((), {"nodes": 1}, "uuid1() got an unexpected keyword argument 'nodes'"),
    ],
    uuid6: [
        ((None, None, None), {}, "uuid6() takes from 0 to 2 positional arguments but 3 were given"),
        ((1, 2), {"clock_seq": 2}, "uuid6() got multiple values for argument 'clock_seq'"),
        ((), {"node": 1, "clockseq": 1}, "uuid6() got an unexpected keyword argument 'clockseq'"),
    ],
    uuid8: [
        ((1, 2, 3, 4), {}, "uuid8() takes from 0 to 3 positional arguments but 4 were given"),
        ((), {"d": 1}, "uuid8() got an unexpected keyword argument 'd'"),
        ((1,), {"a": 1}, "uuid8() got multiple values for argument 'a'"),
        ((-1, 1.5, "x", 4), {}, "uuid8() takes from 0 to 3 positional arguments but 4 were given"),
        ((-1,), {"a": 1}, "uuid8() got multiple values for argument 'a'"),
    ],
    **{
        generate: [
            ((), {}, f"{name}() missing 2 required positional arguments: 'namespace' and 'name'"),
            ((NAMESPACE_DNS,), {}, f"{name}() missing 1 required positional argument: 'name'"),
            ((), {"name": "a"}, f"{name}() missing 1 required positional argument: 'namespace'"),
            ((NAMESPACE_DNS, "a", "b"), {}, f"{name}() takes 2 positional arguments but 3 were given"),
            ((NAMESPACE_DNS, "a"), {"x": 1}, f"{name}() got an unexpected keyword argument 'x'"),
            ((NAMESPACE_DNS, "a"), {"namespace": NAMESPACE_DNS},
             f"{name}() got multiple values for argument 'namespace'"),
            (("bad", 5, 6), {}, f"{name}() takes 2 positional arguments but 3 were given"),
        ]
        for name, generate in [("uuid3", uuid3), ("uuid5", uuid5)]
    },
    **{
        generate: [
            ((5,), {}, f"{name}() takes 0 positional arguments but 1 was given"),
            ((None,), {}, f"{name}() takes 0 positional arguments but 1 was given"),
            ((1, 2), {}, f"{name}() takes 0 positional arguments but 2 were given"),
            ((), {"nanos": 1}, f"{name}() got an unexpected keyword argument 'nanos'"),
        ]
        for name, generate in [("uuid7", uuid7), ("_uuid7_int", _uuid7_int)]
    },
}
BINDING_CASES = [
    pytest.param(call, args, kwargs, message, id=f"{message.split('(')[0]}-{index}")
    for call, cases in BINDING_FAILURES.items()
    for index, (args, kwargs, message) in enumerate(cases)
]


@pytest.mark.parametrize(("call", "args", "kwargs", "message"), BINDING_CASES)
def test_binding_failures(call, args, kwargs, message):
    with raises_exactly(TypeError, message):
        call(*args, **kwargs)


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


class NotesRefused(ValueError):
    """A conversion failure whose add_note fails with `refusal`."""

    def __init__(self, refusal):
        super().__init__("index refused")
        self.refusal = refusal

    def add_note(self, note):
        raise self.refusal


class IndexRaises:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


# A note that cannot be attached is dropped only when its failure is ordinary; an interrupt or
# MemoryError raised by add_note replaces the conversion failure.
@pytest.mark.parametrize("call", [lambda v: uuid8(a=v), lambda v: UUID(int=v), lambda v: uuid7(nanoseconds=v)],
                         ids=["uuid8", "UUID", "uuid7"])
@pytest.mark.parametrize(
    ("refusal", "propagates"),
    [(RuntimeError("no notes"), False), (TypeError("no notes"), False), (KeyboardInterrupt(), True),
     (SystemExit(3), True), (MemoryError(), True)],
    ids=["RuntimeError", "TypeError", "KeyboardInterrupt", "SystemExit", "MemoryError"],
)
def test_failing_add_note_is_dropped_unless_fatal(call, refusal, propagates):
    error = NotesRefused(refusal)
    with pytest.raises(BaseException) as excinfo:
        call(IndexRaises(error))
    assert excinfo.value is (refusal if propagates else error)
    assert not hasattr(error, "__notes__")


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
