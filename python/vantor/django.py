"""A Django model field holding `vantor.UUID`.

    from django.db import models
    import vantor
    from vantor.django import UUIDField

    class Order(models.Model):
        id = UUIDField(primary_key=True, default=vantor.uuid7, editable=False)

`UUIDField` is Django's `UUIDField` (same column: native `uuid` on PostgreSQL, `char(32)`
elsewhere) that takes `vantor.UUID`, `uuid.UUID`, text and ints, and gives `vantor.UUID` back,
from the database and from `to_python`. Importing this module also makes migrations write
vantor's generators as `vantor.uuid7` (and so on) rather than their private module's name.

Needs Django: `pip install 'vantor[django]'`.
"""
from __future__ import annotations

import uuid as _uuid
from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    from django.core import exceptions as _exceptions
    from django.db import models as _models
    from django.db.migrations import serializer as _serializer
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("Django", "django") from error

__all__ = ["UUIDField"]

_VantorUUID = vantor.UUID
_StdUUID = _uuid.UUID


class UUIDField(_models.UUIDField):
    """Django's `UUIDField`, with `vantor.UUID` as its Python value."""

    def to_python(self, value: Any) -> vantor.UUID | None:
        if value is None or isinstance(value, _VantorUUID):
            return value
        try:
            if isinstance(value, int) and not isinstance(value, bool):
                return _VantorUUID.from_int(value)
            return to_vantor(value)
        except (TypeError, ValueError, OverflowError):
            raise _exceptions.ValidationError(
                self.error_messages["invalid"], code="invalid", params={"value": value}
            ) from None

    def get_db_prep_value(self, value: Any, connection: Any, prepared: bool = False) -> Any:
        if value is None:
            return None
        if not prepared or not isinstance(value, _VantorUUID):
            value = self.to_python(value)
        if connection.features.has_native_uuid_field:
            # Database drivers know the standard class.
            return _StdUUID(int=value.int)
        return value.hex

    def from_db_value(self, value: Any, expression: Any, connection: Any) -> vantor.UUID | None:
        if value is None:
            return None
        if isinstance(value, _StdUUID):
            return _VantorUUID.from_int(value.int)
        return to_vantor(value)


class _FunctionSerializer(_serializer.BaseSerializer):
    """Writes vantor's generators under the package that re-exports them.

    They are built-in functions of the extension module `_vantor`, so Django would otherwise
    write `_vantor.uuid7`, a private name; every other function goes to Django's own serializer.
    """

    def serialize(self) -> tuple[str, set[str]]:
        value = self.value
        name = getattr(value, "__name__", None)
        if (
            getattr(value, "__module__", None) == "_vantor"
            and name is not None
            and getattr(vantor, name, None) is value
        ):
            return f"vantor.{name}", {"import vantor"}
        return _django_function_serializer(value).serialize()  # type: ignore[no-any-return]


def _install_serializer() -> Any:
    # Django keys its serializers by type in an ordered table whose function entry is a
    # tuple of types (it differs between versions), so replace the entry in place.
    registry = _serializer.Serializer._registry
    for types_, serializer in registry.items():
        if serializer is _FunctionSerializer:
            return _serializer.FunctionTypeSerializer
        if serializer is _serializer.FunctionTypeSerializer:
            _serializer.Serializer.register(types_, _FunctionSerializer)
            return serializer
    raise RuntimeError("Django's migration writer has no serializer for functions")


_django_function_serializer = _install_serializer()
