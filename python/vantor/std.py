"""The vantor generators, returning the standard library's `uuid.UUID`.

For code that checks `isinstance(value, uuid.UUID)` or otherwise needs the standard class
(ORMs, serialisers, validators), while keeping vantor's generators:

    from vantor import std
    std.uuid7()                                   # a uuid.UUID of version 7
    std.uuid5(uuid.NAMESPACE_DNS, "example.org")  # namespaces of either class are accepted

`to_std` and `from_std` convert between the two classes.
"""
from __future__ import annotations

import types
import uuid as _uuid
from collections.abc import Callable, Sequence
from typing import SupportsIndex

import vantor as _vantor
from vantor import _native, _uuid4_int, _uuid7_int

__all__ = [
    "uuid1",
    "uuid3",
    "uuid4",
    "uuid5",
    "uuid6",
    "uuid7",
    "uuid8",
    "to_std",
    "from_std",
]

_StdUUID = _uuid.UUID
_VantorUUID = _vantor.UUID
_UNKNOWN = _uuid.SafeUUID.unknown
_new = object.__new__
_Name = str | bytes | bytearray | memoryview | Sequence[int]

# The functions below are the Python versions. `vantor._native` has native ones that fill the
# standard class's slots directly; it offers them only when the class stores `int` and `is_safe`
# in slots as expected, and they replace these at the end of the module.


def _setter(name: str) -> Callable[[_StdUUID, object], None]:
    # The standard class keeps `int` and `is_safe` in slots and forbids assignment through
    # its own __setattr__. Writing the slots directly skips the argument checks and the
    # arithmetic of `uuid.UUID(int=...)`, which are most of the cost of making one; the value
    # we store has the very state that constructor would have given it.
    attribute = _StdUUID.__dict__.get(name)
    if isinstance(attribute, types.MemberDescriptorType):
        return attribute.__set__

    # Should a later Python keep the attribute elsewhere, object.__setattr__ still stores it.
    def set_attribute(target: _StdUUID, value: object) -> None:
        object.__setattr__(target, name, value)

    return set_attribute


_set_int = _setter("int")
_set_is_safe = _setter("is_safe")


def _std(value: int, is_safe: _uuid.SafeUUID = _UNKNOWN) -> _uuid.UUID:
    result: _uuid.UUID = _new(_StdUUID)
    _set_int(result, value)
    _set_is_safe(result, is_safe)
    return result


def _namespace(namespace: _vantor.UUID | _uuid.UUID) -> _vantor.UUID:
    if isinstance(namespace, _StdUUID):
        return _VantorUUID.from_int(namespace.int)
    return namespace


def uuid1(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> _uuid.UUID:
    """A version 1 UUID (Gregorian time, clock sequence and node) as a `uuid.UUID`."""
    return _std(_vantor.uuid1(node, clock_seq).int)


def uuid3(namespace: _vantor.UUID | _uuid.UUID, name: _Name) -> _uuid.UUID:
    """The version 3 (MD5) UUID of `name` in `namespace`, as a `uuid.UUID`."""
    return _std(_vantor.uuid3(_namespace(namespace), name).int)


def uuid4() -> _uuid.UUID:
    """A random (version 4) UUID as a `uuid.UUID`."""
    # Inlined rather than calling _std: this is the generator most often called in bulk.
    result: _uuid.UUID = _new(_StdUUID)
    _set_int(result, _uuid4_int())
    _set_is_safe(result, _UNKNOWN)
    return result


def uuid5(namespace: _vantor.UUID | _uuid.UUID, name: _Name) -> _uuid.UUID:
    """The version 5 (SHA-1) UUID of `name` in `namespace`, as a `uuid.UUID`."""
    return _std(_vantor.uuid5(_namespace(namespace), name).int)


def uuid6(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> _uuid.UUID:
    """A version 6 UUID (reordered Gregorian time, sortable) as a `uuid.UUID`."""
    return _std(_vantor.uuid6(node, clock_seq).int)


def uuid7(*, nanoseconds: SupportsIndex | None = None) -> _uuid.UUID:
    """A version 7 UUID (Unix time in milliseconds, monotonic) as a `uuid.UUID`."""
    result: _uuid.UUID = _new(_StdUUID)
    if nanoseconds is None:
        _set_int(result, _uuid7_int())
    else:
        _set_int(result, _uuid7_int(nanoseconds=nanoseconds))
    _set_is_safe(result, _UNKNOWN)
    return result


def uuid8(
    a: SupportsIndex | None = None, b: SupportsIndex | None = None, c: SupportsIndex | None = None
) -> _uuid.UUID:
    """A version 8 UUID built from `a`, `b` and `c` (random where omitted) as a `uuid.UUID`."""
    return _std(_vantor.uuid8(a, b, c).int)


def to_std(u: _vantor.UUID) -> _uuid.UUID:
    """The `uuid.UUID` of the same value (and the same `is_safe`) as the vantor UUID `u`."""
    if not isinstance(u, _VantorUUID):
        raise TypeError(f"to_std() expects a vantor.UUID, not {type(u).__name__}")
    return _std(u.int, u.is_safe)


def from_std(u: _uuid.UUID) -> _vantor.UUID:
    """The `vantor.UUID` of the same value as the `uuid.UUID` `u`."""
    if not isinstance(u, _StdUUID):
        raise TypeError(f"from_std() expects a uuid.UUID, not {type(u).__name__}")
    return _VantorUUID.from_int(u.int)



if _native.std_native:
    # Same names, signatures and behaviour; only the class's slots are written from native code.
    globals().update({name: getattr(_native, "std_" + name) for name in __all__})
