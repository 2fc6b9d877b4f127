"""vantor UUIDs as psycopg 3 query parameters and results.

    import psycopg, vantor, vantor.psycopg

    with psycopg.connect(dsn) as conn:
        vantor.psycopg.register(conn, load=True)     # this connection: send and load vantor.UUID
        conn.execute("INSERT INTO t (id) VALUES (%s)", [vantor.uuid7()])

`register` adds text and binary dumpers for `vantor.UUID`, so that `%s`, `%t` and `%b`
parameters, `executemany` and COPY in text and binary format all take it; `register()` with no
context does that for every connection, which changes nothing for code that never sends a
`vantor.UUID`. With `load=True` it also makes `uuid` columns of that connection or cursor come
back as `vantor.UUID` instead of `uuid.UUID`. Loading is never process-wide: every library on
the same server that expects psycopg's `uuid.UUID` (SQLAlchemy's `Uuid`, Django's `UUIDField`)
would get the other class, and the two are never equal. A pool registers each connection it
opens: `ConnectionPool(dsn, configure=lambda conn: vantor.psycopg.register(conn, load=True))`.

`copy_binary(data)` turns `vantor.bulk` output (16 bytes per UUID) into the stream of a binary
`COPY table (column) FROM STDIN (FORMAT BINARY)`, the fastest way to load many keys.

Needs psycopg 3: `pip install 'vantor[psycopg]'`.
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Any

import vantor
from vantor._convert import missing

try:
    import psycopg
    from psycopg.adapt import Buffer, Dumper, Loader
    from psycopg.pq import Format
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("psycopg 3", "psycopg") from error

if TYPE_CHECKING:
    from psycopg.abc import AdaptContext

__all__ = ["copy_binary", "register"]

_from_bytes = vantor.UUID.from_bytes
_VantorUUID = vantor.UUID


class _TextDumper(Dumper):
    def dump(self, obj: Any) -> Buffer:
        return str(obj).encode()


class _BinaryDumper(Dumper):
    format = Format.BINARY

    def dump(self, obj: Any) -> Buffer:
        return obj.bytes  # type: ignore[no-any-return]


class _TextLoader(Loader):
    def load(self, data: Buffer) -> vantor.UUID:
        return _VantorUUID(bytes(data).decode())


class _BinaryLoader(Loader):
    format = Format.BINARY

    def load(self, data: Buffer) -> vantor.UUID:
        return _from_bytes(bytes(data))


def register(context: AdaptContext | None = None, *, load: bool = False) -> None:
    """Teach psycopg to send `vantor.UUID` values as PostgreSQL `uuid`.

    `context` is a connection or cursor to register on, or None for every connection opened
    afterwards. With `load=True`, `uuid` results in that connection or cursor become
    `vantor.UUID`; loading needs a context (see the module's documentation for why).
    """
    if load and context is None:
        raise ValueError(
            "vantor.psycopg.register(load=True) needs a connection or cursor: loading "
            "vantor.UUID for every connection would hand it to every library in the process "
            "that reads uuid columns through psycopg (SQLAlchemy's Uuid, Django's UUIDField), "
            "which expect uuid.UUID and never find the two classes equal; call "
            "register(conn, load=True) on your own connections (a pool's configure= callback "
            "does it for each), and register() alone to send vantor.UUID everywhere"
        )
    adapters = psycopg.adapters if context is None else context.adapters
    oid = adapters.types["uuid"].oid
    text = type("VantorUUIDDumper", (_TextDumper,), {"oid": oid})
    binary = type("VantorUUIDBinaryDumper", (_BinaryDumper,), {"oid": oid})
    # The one registered last serves `%s`; binary is the cheaper to produce and to parse.
    adapters.register_dumper(_VantorUUID, text)
    adapters.register_dumper(_VantorUUID, binary)
    if load:
        adapters.register_loader(oid, _TextLoader)
        adapters.register_loader(oid, _BinaryLoader)


# The binary COPY stream: signature, flags and header extension length; per row, a field count
# of 1 and a field length of 16 before the UUID's bytes; a field count of -1 at the end.
_HEADER = b"PGCOPY\n\xff\r\n\x00" + bytes(8)
_ROW_PREFIX = b"\x00\x01\x00\x00\x00\x10"
_ROW = len(_ROW_PREFIX) + 16
_TRAILER = b"\xff\xff"


def copy_binary(data: Buffer) -> bytes:
    """The whole input of `COPY table (column) FROM STDIN (FORMAT BINARY)` for one `uuid` column
    holding the UUIDs in `data`: 16 bytes each, in network order, as `vantor.bulk` makes them.

        with cursor.copy("COPY orders (id) FROM STDIN (FORMAT BINARY)") as copy:
            copy.write(vantor.psycopg.copy_binary(vantor.bulk.uuid7(1_000_000)))
    """
    # Extended slices of bytes are what the copies below read; other buffers are copied once.
    raw = data if isinstance(data, bytes) else memoryview(data).cast("B").tobytes()
    if len(raw) % 16:
        raise ValueError(f"expected 16 bytes per UUID, got {len(raw)} bytes")
    count = len(raw) // 16
    rows = bytearray(count * _ROW)
    # One strided copy per byte position, each a single C loop over every row.
    for position, byte in enumerate(_ROW_PREFIX):
        if byte:
            rows[position::_ROW] = bytes([byte]) * count
    for position in range(16):
        rows[len(_ROW_PREFIX) + position :: _ROW] = raw[position::16]
    return b"".join((_HEADER, rows, _TRAILER))
