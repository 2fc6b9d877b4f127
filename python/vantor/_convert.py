"""Conversions shared by the integration modules (private)."""
from __future__ import annotations

import uuid as _uuid

from vantor import UUID

_StdUUID = _uuid.UUID


def to_vantor(value: object) -> UUID:
    """`value` (a vantor or standard UUID, or text) as a `vantor.UUID`.

    Text is parsed as `vantor.UUID(text)` parses it, and nothing more: the four forms (32 hex
    digits, hyphenated, either in braces, `urn:uuid:` + hyphenated), so that a malformed key
    such as `'{{…}}'` or `'+' + 31 digits` is refused rather than read as some other UUID.
    A `uuid.UUID` is taken as it is: the libraries we plug into hand over their own values.
    """
    if isinstance(value, UUID):
        return value
    if isinstance(value, _StdUUID):
        return UUID.from_int(value.int)
    if isinstance(value, str):
        return UUID(value)
    raise TypeError(
        f"expected a vantor.UUID, a uuid.UUID or its text, not {type(value).__name__}"
    )


def to_std(value: object) -> _uuid.UUID:
    """`value` (a vantor or standard UUID, or text) as a `uuid.UUID`, for drivers that want one."""
    if isinstance(value, _StdUUID):
        return value
    return _StdUUID(int=to_vantor(value).int)


def missing(library: str, module: str) -> ImportError:
    # The extra is named after the module, in the normalised form of extras' names (a hyphen).
    return ImportError(
        f"vantor.{module} needs {library}, which is not installed; "
        f"install it with: pip install 'vantor[{module.replace('_', '-')}]'"
    )
