"""A SQLAlchemy 2 column type holding `vantor.UUID`.

    from sqlalchemy.orm import DeclarativeBase, Mapped, mapped_column
    import vantor
    from vantor.sqlalchemy import UUID

    class Base(DeclarativeBase):
        pass

    class Order(Base):
        __tablename__ = "orders"
        id: Mapped[vantor.UUID] = mapped_column(UUID, primary_key=True, default=vantor.uuid7)

Storage: the native `uuid` type where SQLAlchemy knows one (PostgreSQL, SQL Server, MariaDB),
else 16 bytes, `BINARY(16)`, in big-endian order: half the size of 32 hex characters, and byte
order is UUID order, so sorting by the column sorts like PostgreSQL's `uuid` does.

Parameters may be `vantor.UUID`, `uuid.UUID` or text (read as `vantor.UUID(text)` reads it: a
malformed key is an error, never some other UUID); results are always `vantor.UUID`. A
`uuid.UUID` or text assigned to a mapped attribute of this type becomes a `vantor.UUID` at once
(an attribute event this module sets up for every mapped class), so the identity map keeps one
object per row whatever class its key was given as. Works with psycopg, asyncpg and SQLite; no
driver registration is needed.

Needs SQLAlchemy 2: `pip install 'vantor[sqlalchemy]'`.
"""
from __future__ import annotations

import uuid as _uuid
from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    from sqlalchemy import event as _event
    from sqlalchemy import types as _types
    from sqlalchemy.engine import Dialect
    from sqlalchemy.orm import Mapper as _Mapper
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("SQLAlchemy 2", "sqlalchemy") from error

__all__ = ["UUID"]

_VantorUUID = vantor.UUID
_StdUUID = _uuid.UUID
_from_int = _VantorUUID.from_int
_from_bytes = _VantorUUID.from_bytes


class UUID(_types.TypeDecorator[vantor.UUID]):
    """A UUID column whose Python values are `vantor.UUID`.

    A native `uuid` column where the dialect has one, else `BINARY(16)`.
    """

    impl = _types.Uuid
    cache_ok = True

    @property
    def python_type(self) -> type[vantor.UUID]:
        return _VantorUUID

    def load_dialect_impl(self, dialect: Dialect) -> _types.TypeEngine[Any]:
        if dialect.supports_native_uuid:
            return dialect.type_descriptor(_types.Uuid(as_uuid=True, native_uuid=True))
        return dialect.type_descriptor(_types.BINARY(16))

    def process_bind_param(self, value: Any, dialect: Dialect) -> Any:
        if value is None:
            return None
        if dialect.supports_native_uuid:
            # The drivers take the standard class for a native column.
            if isinstance(value, _StdUUID):
                return value
            return _StdUUID(int=to_vantor(value).int)
        return to_vantor(value).bytes

    def process_result_value(self, value: Any, dialect: Dialect) -> vantor.UUID | None:
        if value is None or isinstance(value, _VantorUUID):
            return value
        if isinstance(value, _StdUUID):
            return _from_int(value.int)
        if isinstance(value, (bytes, bytearray, memoryview)):
            return _from_bytes(bytes(value))
        return to_vantor(value)

    def coerce_compared_value(self, op: Any, value: Any) -> _types.TypeEngine[Any]:
        # `column == "…"` and `column == uuid.UUID(...)` bind through this type too.
        return self


def _convert_on_set(target: Any, value: Any, oldvalue: Any, initiator: Any) -> Any:
    """Turns a `uuid.UUID` or text assigned to a mapped attribute of type `UUID` into a
    `vantor.UUID`; SQL expressions assigned for the next flush stay as they are."""
    if isinstance(value, (_StdUUID, str)):
        return to_vantor(value)
    return value


def _on_mapper_configured(mapper: Any, class_: type) -> None:
    for prop in mapper.column_attrs:
        if any(isinstance(getattr(column, "type", None), UUID) for column in prop.columns):
            attribute = getattr(class_, prop.key)
            if not _event.contains(attribute, "set", _convert_on_set):
                _event.listen(attribute, "set", _convert_on_set, retval=True)


_event.listen(_Mapper, "mapper_configured", _on_mapper_configured)
