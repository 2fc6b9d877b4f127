"""Conversions shared by the integration modules (private)."""
from __future__ import annotations

import uuid as _uuid

from vantor import UUID

_StdUUID = _uuid.UUID


def to_vantor(value: object) -> UUID:
    """`value` (a vantor or standard UUID, or text) as a `vantor.UUID`.

    Text takes every form `uuid.UUID(text)` accepts, as the libraries we plug into did before;
    the strict parser is tried first because it is the common case and much cheaper.
    """
    if isinstance(value, UUID):
        return value
    if isinstance(value, _StdUUID):
        return UUID.from_int(value.int)
    if isinstance(value, str):
        try:
            return UUID(value)
        except ValueError:
            return UUID.from_int(_StdUUID(value).int)
    raise TypeError(f"expected a UUID or str, not {type(value).__name__}")


def to_std(value: object) -> _uuid.UUID:
    """`value` (a vantor or standard UUID, or text) as a `uuid.UUID`, for drivers that want one."""
    if isinstance(value, _StdUUID):
        return value
    return _StdUUID(int=to_vantor(value).int)


def missing(library: str, extra: str) -> ImportError:
    return ImportError(
        f"vantor.{extra} needs {library}, which is not installed; "
        f"install it with: pip install 'vantor[{extra}]'"
    )
