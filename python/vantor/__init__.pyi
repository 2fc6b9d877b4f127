"""vantor: fast, exact RFC 4122 / RFC 9562 UUIDs with a C++ core.

`UUID` follows the standard library's `uuid.UUID` (immutable, 32 bytes, hashable, ordered,
picklable); `uuid1` ... `uuid8` generate every version. `vantor.std` offers the same generators
returning the standard class, `vantor.bulk` makes whole batches in one call (both are loaded on
first use, as attributes of the package or by import), and `vantor.pydantic`, `vantor.psycopg`,
`vantor.asyncpg`, `vantor.sqlalchemy`, `vantor.django`, `vantor.rest_framework` and
`vantor.msgspec` fit the class into those libraries.
"""

import builtins
from collections.abc import Callable, Sequence
from types import ModuleType
from typing import Any, ClassVar, Final, Self, SupportsIndex, overload
from uuid import SafeUUID

from typing_extensions import disjoint_base

from . import bulk as bulk, std as std

__all__ = [
    "__version__",
    "UUID",
    "uuid1",
    "uuid3",
    "_uuid4_int",
    "uuid4",
    "uuid5",
    "uuid6",
    "uuid7",
    "_uuid7_int",
    "uuid8",
    "getnode",
    "reseed",
    "NAMESPACE_DNS",
    "NAMESPACE_URL",
    "NAMESPACE_OID",
    "NAMESPACE_X500",
    "RESERVED_NCS",
    "RFC_4122",
    "RESERVED_MICROSOFT",
    "RESERVED_FUTURE",
    "NIL",
    "MAX",
]

__version__: Final[str]
"""The version of vantor."""

_native: ModuleType
"""The second extension module in the file of `_vantor`, which `vantor.std`, `vantor.bulk` and
the command line call; not typed here, as its callers are the package's own modules."""

class PanicException(BaseException):
    """An internal failure of the extension: the system refused it something it cannot do without
    (entropy, the clock), or an invariant broke. A BaseException, so `except Exception` lets it
    through; every internal failure of the process is of this one class. Offered by the package
    for `except` clauses; `_vantor` itself does not export it."""

# The six fields of the RFC 4122 layout: time_low, time_mid, time_hi_version,
# clock_seq_hi_variant, clock_seq_low, node.
_Fields = tuple[builtins.int, builtins.int, builtins.int, builtins.int, builtins.int, builtins.int]
_IndexFields = tuple[
    SupportsIndex, SupportsIndex, SupportsIndex, SupportsIndex, SupportsIndex, SupportsIndex
]
# What uuid3/uuid5 hash: text is encoded as UTF-8, anything else must be octets 0..255.
_Name = str | builtins.bytes | bytearray | memoryview | Sequence[builtins.int]

# Instances have a C layout of their own, so no class can inherit from both UUID and another
# such class; a checker uses this to know that, e.g., UUID and int have no common subclass.
@disjoint_base
class UUID:
    """An immutable 128-bit UUID, following the standard library's `uuid.UUID`.

    Build one from exactly one of `hex` (32 hex digits, optionally hyphenated, in braces or
    after `urn:uuid:`), `bytes` (16, big-endian), `bytes_le` (16, the first three fields
    little-endian), `fields` (the six RFC 4122 fields) or `int` (0 <= n < 2**128); `version`
    (1-8) then overwrites the version and variant bits. Bad text raises
    `ValueError("badly formed hexadecimal UUID string")`.

    A `UUID` equals only other `vantor.UUID`s; it hashes like the `uuid.UUID` of the same value
    but never equals it, so a set or dict that mixes both classes keeps both. Ordering is
    defined between `vantor.UUID`s only: `<` against a `uuid.UUID` raises TypeError, and so does
    sorting a list that mixes the classes (`vantor.std.to_std`/`from_std` convert).
    """

    _safe_uuid_unknown: ClassVar[SafeUUID]
    # Put on the class by the package (the extension's class has neither): pydantic 2 calls them
    # to validate, dump and describe a bare `vantor.UUID` field as `vantor.pydantic.UUID` does.
    # The first call imports vantor.pydantic, so importing vantor does not import pydantic.
    __get_pydantic_core_schema__: ClassVar[Callable[[Any, Any], Any]]
    __get_pydantic_json_schema__: ClassVar[Callable[[Any, Any], Any]]

    # Exactly one source of the value may be given; the overloads let a checker catch a call
    # that gives none or several. `version` may accompany any of them.
    @overload
    def __new__(
        cls,
        hex: str,
        bytes: None = None,
        bytes_le: None = None,
        fields: None = None,
        int: None = None,
        version: SupportsIndex | None = None,
    ) -> Self: ...
    @overload
    def __new__(
        cls,
        hex: None = None,
        *,
        bytes: builtins.bytes,
        bytes_le: None = None,
        fields: None = None,
        int: None = None,
        version: SupportsIndex | None = None,
    ) -> Self: ...
    @overload
    def __new__(
        cls,
        hex: None = None,
        bytes: None = None,
        *,
        bytes_le: builtins.bytes,
        fields: None = None,
        int: None = None,
        version: SupportsIndex | None = None,
    ) -> Self: ...
    @overload
    def __new__(
        cls,
        hex: None = None,
        bytes: None = None,
        bytes_le: None = None,
        *,
        fields: _IndexFields,
        int: None = None,
        version: SupportsIndex | None = None,
    ) -> Self: ...
    @overload
    def __new__(
        cls,
        hex: None = None,
        bytes: None = None,
        bytes_le: None = None,
        fields: None = None,
        *,
        int: SupportsIndex,
        version: SupportsIndex | None = None,
    ) -> Self: ...
    @staticmethod
    def from_hex(hex: str) -> UUID:
        """The UUID spelled by `hex` in one of the four accepted text forms."""
    @staticmethod
    def from_int(int: SupportsIndex) -> UUID:
        """The UUID whose 128-bit value is `int` (0 <= int < 2**128, else OverflowError)."""
    @staticmethod
    def from_bytes(bytes: builtins.bytes) -> UUID:
        """The UUID of 16 big-endian bytes (a `bytes` object, not a bytearray)."""
    @staticmethod
    def from_bytes_le(bytes: builtins.bytes) -> UUID:
        """The UUID of 16 bytes whose first three fields are little-endian (Microsoft's GUID layout)."""
    @staticmethod
    def from_fields(fields: _IndexFields) -> UUID:
        """The UUID of the six RFC 4122 fields `(time_low, time_mid, time_hi_version, clock_seq_hi_variant, clock_seq_low, node)`."""
    def set_version(self, version: SupportsIndex) -> UUID:
        """A new UUID with this value, version `version` (1-8) and the RFC 4122 variant."""
    def __getnewargs__(self) -> tuple[str]:
        """The hyphenated text, from which unpickling rebuilds the UUID."""
    def __deepcopy__(self, _memo: dict[builtins.int, Any]) -> UUID:
        """An equal UUID; being immutable, it has nothing deeper to copy."""
    @property
    def hex(self) -> str:
        """The 32 lower-case hex digits, without hyphens."""
    @property
    def bytes(self) -> builtins.bytes:
        """The 16 bytes, big-endian."""
    @property
    def bytes_le(self) -> builtins.bytes:
        """The 16 bytes with time_low, time_mid and time_hi_version little-endian."""
    @property
    def int(self) -> builtins.int:
        """The 128-bit value as an int."""
    @property
    def urn(self) -> str:
        """The URN form, `urn:uuid:` followed by the hyphenated text."""
    @property
    def version(self) -> builtins.int | None:
        """The version number for the RFC 4122 variant, else None."""
    @property
    def variant(self) -> str:
        """One of `RESERVED_NCS`, `RFC_4122`, `RESERVED_MICROSOFT`, `RESERVED_FUTURE`."""
    @property
    def node(self) -> builtins.int:
        """The last 48 bits (the node of versions 1 and 6)."""
    @property
    def time_low(self) -> builtins.int:
        """The first 32 bits."""
    @property
    def time_mid(self) -> builtins.int:
        """The next 16 bits."""
    @property
    def time_hi_version(self) -> builtins.int:
        """The next 16 bits, version included."""
    @property
    def clock_seq_hi_variant(self) -> builtins.int:
        """The 9th byte, variant included."""
    @property
    def clock_seq_low(self) -> builtins.int:
        """The 10th byte."""
    @property
    def clock_seq(self) -> builtins.int:
        """The 14-bit clock sequence of versions 1 and 6."""
    @property
    def time(self) -> builtins.int:
        """The embedded time: Unix milliseconds for version 7; otherwise 100 ns ticks since
        1582-10-15, read in version 6's layout for version 6 and in version 1's for the rest."""
    @property
    def timestamp(self) -> builtins.int:
        """Milliseconds since 1970 for versions 1, 6 and 7; ValueError for other versions."""
    @property
    def fields(self) -> _Fields:
        """The six RFC 4122 fields: time_low, time_mid, time_hi_version, clock_seq_hi_variant, clock_seq_low, node."""
    @property
    def is_safe(self) -> SafeUUID:
        """Always `SafeUUID.unknown`."""
    def __int__(self) -> builtins.int: ...
    def __hash__(self) -> builtins.int: ...
    def __eq__(self, value: object, /) -> builtins.bool: ...
    def __ne__(self, value: object, /) -> builtins.bool: ...
    # Ordering is defined between vantor UUIDs only; anything else, a uuid.UUID included,
    # raises TypeError.
    def __lt__(self, value: UUID, /) -> builtins.bool: ...
    def __le__(self, value: UUID, /) -> builtins.bool: ...
    def __gt__(self, value: UUID, /) -> builtins.bool: ...
    def __ge__(self, value: UUID, /) -> builtins.bool: ...

def uuid1(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> UUID:
    """A version 1 UUID: Gregorian time in 100 ns ticks, the clock sequence and the node.

    `node` defaults to `getnode()` and `clock_seq` to the process's clock sequence; bits beyond
    48 and 14 are dropped, but a negative value or one of 2**64 or more raises OverflowError."""
def uuid3(namespace: UUID, name: _Name) -> UUID:
    """The version 3 UUID of `name` in `namespace`: the MD5 of the namespace's bytes and the name.

    `name` is text (encoded as UTF-8), bytes, bytearray, memoryview or a sequence of ints 0-255."""
def _uuid4_int() -> int:
    """The 128-bit value of a new version 4 UUID, without creating the object."""
def uuid4() -> UUID:
    """A random UUID (version 4): 122 bits from the calling thread's ChaCha12 generator."""
def uuid5(namespace: UUID, name: _Name) -> UUID:
    """The version 5 UUID of `name` in `namespace`: the SHA-1 of the namespace's bytes and the name."""
def uuid6(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> UUID:
    """A version 6 UUID: version 1's fields reordered so that values sort by time.

    `node` and `clock_seq` are taken as `uuid1` takes them."""
def uuid7(*, nanoseconds: SupportsIndex | None = None) -> UUID:
    """A version 7 UUID: Unix milliseconds, a 42-bit counter and random bits.

    Values from one process strictly increase, also when the clock steps back. With
    `nanoseconds` (since 1970), that time is used instead of the clock and the other 74 bits are
    random."""
def _uuid7_int(*, nanoseconds: SupportsIndex | None = None) -> int:
    """The 128-bit value of a new version 7 UUID, without creating the object."""
def uuid8(
    a: SupportsIndex | None = None, b: SupportsIndex | None = None, c: SupportsIndex | None = None
) -> UUID:
    """A version 8 UUID of three fields of 48, 12 and 62 bits; missing ones are random."""
def getnode() -> int:
    """The host's 48-bit node: a universally administered MAC address if there is one, else a
    random node with the multicast bit set; fixed for the process."""
def reseed() -> None:
    """Gives the calling thread's random generator a fresh key from the operating system."""

NAMESPACE_DNS: Final[UUID]
"""The RFC 4122 namespace for domain names."""
NAMESPACE_URL: Final[UUID]
"""The RFC 4122 namespace for URLs."""
NAMESPACE_OID: Final[UUID]
"""The RFC 4122 namespace for ISO OIDs."""
NAMESPACE_X500: Final[UUID]
"""The RFC 4122 namespace for X.500 distinguished names."""
RESERVED_NCS: Final[str]
"""The `variant` whose bits (the top of byte 8) start with 0: NCS compatibility."""
RFC_4122: Final[str]
"""The `variant` whose bits (the top of byte 8) are 10: RFC 4122 / RFC 9562 values."""
RESERVED_MICROSOFT: Final[str]
"""The `variant` whose bits (the top of byte 8) are 110: Microsoft compatibility."""
RESERVED_FUTURE: Final[str]
"""The `variant` whose bits (the top of byte 8) are 111: reserved for the future."""
NIL: Final[UUID]
"""The UUID whose 128 bits are all 0."""
MAX: Final[UUID]
"""The UUID whose 128 bits are all 1."""
