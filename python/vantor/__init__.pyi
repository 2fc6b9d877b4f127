import builtins
from collections.abc import Sequence
from typing import Any, ClassVar, Final, Self, SupportsIndex, overload
from uuid import SafeUUID

from typing_extensions import disjoint_base

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
    _safe_uuid_unknown: ClassVar[SafeUUID]

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
    def from_hex(hex: str) -> UUID: ...
    @staticmethod
    def from_int(int: SupportsIndex) -> UUID: ...
    @staticmethod
    def from_bytes(bytes: builtins.bytes) -> UUID: ...
    @staticmethod
    def from_bytes_le(bytes: builtins.bytes) -> UUID: ...
    @staticmethod
    def from_fields(fields: _IndexFields) -> UUID: ...
    def set_version(self, version: SupportsIndex) -> UUID: ...
    def __getnewargs__(self) -> tuple[str]: ...
    def __deepcopy__(self, _memo: dict[builtins.int, Any]) -> UUID: ...
    @property
    def hex(self) -> str: ...
    @property
    def bytes(self) -> builtins.bytes: ...
    @property
    def bytes_le(self) -> builtins.bytes: ...
    @property
    def int(self) -> builtins.int: ...
    @property
    def urn(self) -> str: ...
    @property
    def version(self) -> builtins.int | None: ...
    @property
    def variant(self) -> str: ...
    @property
    def node(self) -> builtins.int: ...
    @property
    def time_low(self) -> builtins.int: ...
    @property
    def time_mid(self) -> builtins.int: ...
    @property
    def time_hi_version(self) -> builtins.int: ...
    @property
    def clock_seq_hi_variant(self) -> builtins.int: ...
    @property
    def clock_seq_low(self) -> builtins.int: ...
    @property
    def clock_seq(self) -> builtins.int: ...
    @property
    def time(self) -> builtins.int: ...
    @property
    def timestamp(self) -> builtins.int: ...
    @property
    def fields(self) -> _Fields: ...
    @property
    def is_safe(self) -> SafeUUID: ...
    def __int__(self) -> builtins.int: ...
    def __hash__(self) -> builtins.int: ...
    def __eq__(self, value: object, /) -> builtins.bool: ...
    def __ne__(self, value: object, /) -> builtins.bool: ...
    # Ordering is defined between UUIDs only; anything else raises TypeError.
    def __lt__(self, value: UUID, /) -> builtins.bool: ...
    def __le__(self, value: UUID, /) -> builtins.bool: ...
    def __gt__(self, value: UUID, /) -> builtins.bool: ...
    def __ge__(self, value: UUID, /) -> builtins.bool: ...

def uuid1(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> UUID: ...
def uuid3(namespace: UUID, name: _Name) -> UUID: ...
def _uuid4_int() -> int: ...
def uuid4() -> UUID: ...
def uuid5(namespace: UUID, name: _Name) -> UUID: ...
def uuid6(node: SupportsIndex | None = None, clock_seq: SupportsIndex | None = None) -> UUID: ...
def uuid7(*, nanoseconds: SupportsIndex | None = None) -> UUID: ...
def _uuid7_int(*, nanoseconds: SupportsIndex | None = None) -> int: ...
def uuid8(
    a: SupportsIndex | None = None, b: SupportsIndex | None = None, c: SupportsIndex | None = None
) -> UUID: ...
def getnode() -> int: ...
def reseed() -> None: ...

NAMESPACE_DNS: Final[UUID]
NAMESPACE_URL: Final[UUID]
NAMESPACE_OID: Final[UUID]
NAMESPACE_X500: Final[UUID]
RESERVED_NCS: Final[str]
RFC_4122: Final[str]
RESERVED_MICROSOFT: Final[str]
RESERVED_FUTURE: Final[str]
NIL: Final[UUID]
MAX: Final[UUID]
