"""vantor UUIDs with asyncpg.

    import asyncpg, vantor.asyncpg

    conn = await asyncpg.connect(dsn)
    await vantor.asyncpg.register(conn)
    pool = await asyncpg.create_pool(dsn, init=vantor.asyncpg.register)

`register` installs a binary codec for PostgreSQL `uuid` on the connection: parameters may be
`vantor.UUID`, `uuid.UUID`, text or 16 bytes, and `uuid` results come back as `vantor.UUID`.
`copy_records_to_table` uses the same codec, so COPY takes vantor values too.

Needs asyncpg: `pip install 'vantor[asyncpg]'`.
"""
from __future__ import annotations

from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    import asyncpg  # noqa: F401
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("asyncpg", "asyncpg") from error

__all__ = ["register"]

_VantorUUID = vantor.UUID


def _encode(value: object) -> bytes:
    if isinstance(value, _VantorUUID):
        return value.bytes
    if isinstance(value, bytes) and len(value) == 16:
        return value
    return to_vantor(value).bytes


async def register(connection: Any) -> None:
    """Make `connection` send and return PostgreSQL `uuid` values as `vantor.UUID`.

    An awaitable taking the connection alone, so it also serves as a pool's `init=`.
    """
    await connection.set_type_codec(
        "uuid",
        schema="pg_catalog",
        encoder=_encode,
        decoder=_VantorUUID.from_bytes,
        format="binary",
    )
