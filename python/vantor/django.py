"""A Django model field holding `vantor.UUID`, and JSON responses that carry it.

    from django.db import models
    import vantor
    from vantor.django import UUIDField

    class Order(models.Model):
        id = UUIDField(primary_key=True, default=vantor.uuid7, editable=False)

`UUIDField` is Django's `UUIDField` (same column: native `uuid` on PostgreSQL, `char(32)`
elsewhere) that takes `vantor.UUID`, `uuid.UUID`, text and ints, and gives `vantor.UUID` back,
from the database and from `to_python`. Assigning to the attribute converts too, so that
`order.id` is a `vantor.UUID` (or None) whatever class or text it was given; a value that is no
UUID is kept for `full_clean` and `save` to refuse, as Django's own field does. Text is read as
`vantor.UUID(text)` reads it (its form field too): a malformed key is an error, never some other
UUID. Importing this module also makes migrations write vantor's generators as `vantor.uuid7`
(and so on) rather than their private module's name.

`JsonResponse` is Django's, with `JSONEncoder` (Django's encoder, which also writes
`vantor.UUID` as its hyphenated text) as its default encoder:

    from vantor.django import JsonResponse
    return JsonResponse({"id": order.id})

Needs Django: `pip install 'vantor[django]'`.
"""
from __future__ import annotations

import uuid as _uuid
from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    from django import forms as _forms
    from django import http as _http
    from django.core import exceptions as _exceptions
    from django.core.serializers.json import DjangoJSONEncoder as _DjangoJSONEncoder
    from django.db import models as _models
    from django.db.models.query_utils import DeferredAttribute as _DeferredAttribute
    from django.db.migrations import serializer as _serializer
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("Django", "django") from error

__all__ = ["UUIDField", "UUIDFormField", "JSONEncoder", "JsonResponse"]

_VantorUUID = vantor.UUID
_StdUUID = _uuid.UUID


class _Attribute(_DeferredAttribute):
    """The model attribute of a `UUIDField`: converts what is assigned to `vantor.UUID`.

    Without it, `Order(id=uuid.uuid4())` would keep the standard class until the row is read
    back, and the two classes never compare equal. Query expressions (`F(...)`, subqueries) are
    kept as they are, for Django to resolve when it saves, and so is a value that is no UUID
    at all, for validation to report against the field as Django does.
    """

    field: UUIDField

    def __set__(self, instance: Any, value: Any) -> None:
        if value is not None and not isinstance(value, _VantorUUID):
            if not hasattr(value, "resolve_expression"):
                try:
                    value = self.field.to_python(value)
                except _exceptions.ValidationError:
                    pass  # kept, for `full_clean` and `save` to refuse with the field's name
        instance.__dict__[self.field.attname] = value


class UUIDFormField(_forms.UUIDField):
    """Django's form `UUIDField`, cleaning to `vantor.UUID` and reading text strictly."""

    def prepare_value(self, value: Any) -> Any:
        if isinstance(value, _VantorUUID):
            return str(value)
        return super().prepare_value(value)

    def to_python(self, value: Any) -> vantor.UUID | None:
        text = _forms.CharField.to_python(self, value)
        if text in self.empty_values:
            return None
        try:
            return to_vantor(value if isinstance(value, (_VantorUUID, _StdUUID)) else text)
        except (TypeError, ValueError):
            raise _exceptions.ValidationError(
                self.error_messages["invalid"], code="invalid"
            ) from None


class UUIDField(_models.UUIDField):
    """Django's `UUIDField`, with `vantor.UUID` as its Python value."""

    descriptor_class = _Attribute

    def formfield(self, **kwargs: Any) -> Any:
        return super().formfield(**{"form_class": UUIDFormField, **kwargs})

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


class JSONEncoder(_DjangoJSONEncoder):
    """Django's JSON encoder, writing `vantor.UUID` as the hyphenated text, as it writes `uuid.UUID`.

    For `JsonResponse(data, encoder=JSONEncoder)`, `json.dumps(data, cls=JSONEncoder)`,
    `serializers.serialize("json", ..., cls=JSONEncoder)` and `JSONField(encoder=JSONEncoder)`.
    """

    def default(self, o: Any) -> Any:
        if isinstance(o, _VantorUUID):
            return str(o)
        return super().default(o)


class JsonResponse(_http.JsonResponse):
    """Django's `JsonResponse`, whose encoder is `vantor.django.JSONEncoder` unless one is given."""

    def __init__(
        self,
        data: Any,
        encoder: type[_DjangoJSONEncoder] = JSONEncoder,
        safe: bool = True,
        json_dumps_params: dict[str, Any] | None = None,
        **kwargs: Any,
    ) -> None:
        super().__init__(data, encoder, safe, json_dumps_params, **kwargs)


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
