"""vantor UUIDs as psycopg 3 query parameters and results.

    import psycopg, vantor, vantor.psycopg

    vantor.psycopg.register()                    # every connection; or register(conn), register(cur)
    with psycopg.connect(dsn) as conn:
        conn.execute("INSERT INTO t (id) VALUES (%s)", [vantor.uuid7()])

`register` adds text and binary dumpers for `vantor.UUID`, so that `%s`, `%t` and `%b`
parameters, `executemany` and COPY in text and binary format all take it. With `load=True` it
also makes `uuid` columns come back as `vantor.UUID` instead of `uuid.UUID`.

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

__all__ = ["register"]

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
    afterwards. With `load=True`, `uuid` results in that context become `vantor.UUID`.
    """
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
