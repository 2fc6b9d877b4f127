"""How client code uses vantor, checked with `mypy --strict` against the shipped type stubs.

`assert_type` pins what the checker infers. The calls in `_rejected` must be refused by the
checker: each carries a `type: ignore`, and --strict reports any ignore that is not needed, so
a stub that grew too permissive fails the check. The module also runs as plain Python.
"""
import copy
import pickle
import uuid
from typing import assert_type

import vantor
from vantor import std


def generators() -> None:
    assert_type(vantor.uuid1(), vantor.UUID)
    assert_type(vantor.uuid1(node=0x0123456789AB, clock_seq=7), vantor.UUID)
    assert_type(vantor.uuid3(vantor.NAMESPACE_DNS, "example.org"), vantor.UUID)
    assert_type(vantor.uuid3(vantor.NAMESPACE_URL, b"https://example.org/"), vantor.UUID)
    assert_type(vantor.uuid4(), vantor.UUID)
    assert_type(vantor.uuid5(vantor.NAMESPACE_OID, bytearray(b"1.3.6.1")), vantor.UUID)
    assert_type(vantor.uuid5(vantor.NAMESPACE_X500, [0x63, 0x6E]), vantor.UUID)
    assert_type(vantor.uuid6(clock_seq=1), vantor.UUID)
    assert_type(vantor.uuid7(), vantor.UUID)
    assert_type(vantor.uuid7(nanoseconds=1_700_000_000_000_000_000), vantor.UUID)
    assert_type(vantor.uuid8(1, 2, 3), vantor.UUID)
    assert_type(vantor._uuid4_int(), int)
    assert_type(vantor._uuid7_int(), int)
    assert_type(vantor.getnode(), int)
    assert_type(vantor.reseed(), None)


def construction_and_properties() -> None:
    u = vantor.UUID("12345678-1234-5678-9234-567812345678")
    assert_type(vantor.UUID(bytes=u.bytes), vantor.UUID)
    assert_type(vantor.UUID(bytes_le=u.bytes_le), vantor.UUID)
    assert_type(vantor.UUID(fields=u.fields), vantor.UUID)
    assert_type(vantor.UUID(int=u.int, version=4), vantor.UUID)
    assert_type(vantor.UUID.from_hex(u.hex), vantor.UUID)
    assert_type(vantor.UUID.from_int(int(u)), vantor.UUID)
    assert_type(vantor.UUID.from_bytes(u.bytes), vantor.UUID)
    assert_type(vantor.UUID.from_bytes_le(u.bytes_le), vantor.UUID)
    assert_type(vantor.UUID.from_fields(u.fields), vantor.UUID)
    assert_type(u.set_version(8), vantor.UUID)

    assert_type(u.hex, str)
    assert_type(u.urn, str)
    assert_type(u.variant, str)
    assert_type(u.bytes, bytes)
    assert_type(u.version, int | None)
    assert_type(u.fields, tuple[int, int, int, int, int, int])
    assert_type(u.node, int)
    assert_type(u.clock_seq, int)
    assert_type(u.time, int)
    assert_type(u.is_safe, uuid.SafeUUID)
    assert_type(vantor.uuid7().timestamp, int)
    assert u.variant == vantor.RFC_4122
    assert u < vantor.MAX and u != vantor.NIL and u == copy.deepcopy(u)
    assert pickle.loads(pickle.dumps(u)) == u
    assert sorted({u, vantor.NIL}) == [vantor.NIL, u]


class Tagged(vantor.UUID):
    """Subclasses construct instances of themselves."""


def subclassing() -> None:
    assert_type(Tagged(int=1), Tagged)
    assert_type(Tagged("00000000-0000-0000-0000-000000000001").hex, str)


def standard_library_interop() -> None:
    assert_type(std.uuid4(), uuid.UUID)
    assert_type(std.uuid7(), uuid.UUID)
    assert_type(std.uuid5(uuid.NAMESPACE_DNS, "example.org"), uuid.UUID)
    assert_type(std.uuid3(vantor.NAMESPACE_DNS, "example.org"), uuid.UUID)
    assert_type(std.to_std(vantor.uuid4()), uuid.UUID)
    assert_type(std.from_std(uuid.uuid4()), vantor.UUID)


def _rejected() -> None:
    u = vantor.uuid4()
    u.hex = "0" * 32  # type: ignore[misc]
    vantor.UUID()  # type: ignore[call-overload]
    vantor.UUID("0" * 32, int=0)  # type: ignore[call-overload]
    vantor.UUID(bytes="not bytes")  # type: ignore[call-overload]
    vantor.uuid7(1)  # type: ignore[call-arg]
    vantor.uuid3("not a UUID", "name")  # type: ignore[arg-type]
    _ = u < 3  # type: ignore[operator]
    vantor.NIL = vantor.MAX  # type: ignore[misc]
    std.to_std(uuid.uuid4())  # type: ignore[arg-type]
    std.from_std(vantor.uuid4())  # type: ignore[arg-type]


if __name__ == "__main__":
    generators()
    construction_and_properties()
    subclassing()
    standard_library_interop()
