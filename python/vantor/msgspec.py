"""Hooks that let msgspec encode and decode `vantor.UUID`.

    import msgspec, vantor
    from vantor.msgspec import dec_hook, enc_hook

    class Order(msgspec.Struct):
        id: vantor.UUID

    data = msgspec.json.encode(Order(vantor.uuid7()), enc_hook=enc_hook)
    order = msgspec.json.decode(data, type=Order, dec_hook=dec_hook)

`enc_hook` writes the hyphenated text (for JSON, MessagePack, YAML and TOML alike); `dec_hook`
turns text (in the forms `vantor.UUID(text)` reads), 16 bytes or a `uuid.UUID` back into
`vantor.UUID` for fields typed `vantor.UUID`. Pass them to `msgspec.json.Encoder(enc_hook=...)`,
`Decoder(..., dec_hook=...)` or `msgspec.convert`/`to_builtins` likewise. `schema_hook` gives
`msgspec.json.schema(Order, schema_hook=schema_hook)` the schema of a standard UUID field,
`{"type": "string", "format": "uuid"}`.

Needs msgspec: `pip install 'vantor[msgspec]'`.
"""
from __future__ import annotations

from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    import msgspec  # noqa: F401
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("msgspec", "msgspec") from error

__all__ = ["enc_hook", "dec_hook", "schema_hook"]

_VantorUUID = vantor.UUID


def enc_hook(obj: Any) -> Any:
    """Encodes a `vantor.UUID` as its hyphenated text; other types stay unsupported (TypeError)."""
    if isinstance(obj, _VantorUUID):
        return str(obj)
    # What msgspec itself says when no hook is given.
    raise TypeError(f"Encoding objects of type {type(obj).__name__} is unsupported")


def dec_hook(type_: type, obj: Any) -> Any:
    """Decodes a field typed `vantor.UUID` from text, 16 bytes or a `uuid.UUID`."""
    if isinstance(type_, type) and issubclass(type_, _VantorUUID):
        if isinstance(obj, (bytes, bytearray, memoryview)):
            return _VantorUUID.from_bytes(bytes(obj))
        return to_vantor(obj)
    # msgspec reports a TypeError from the hook as a ValidationError at the field's path.
    name = getattr(type_, "__name__", repr(type_))
    raise TypeError(f"Expected `{name}`, got `{type(obj).__name__}`")


def schema_hook(type_: Any) -> dict[str, Any]:
    """The JSON schema of a `vantor.UUID`, the one msgspec gives `uuid.UUID`; other types stay
    unsupported (NotImplementedError, as msgspec asks of a schema hook)."""
    if isinstance(type_, type) and issubclass(type_, _VantorUUID):
        return {"type": "string", "format": "uuid"}
    raise NotImplementedError
