"""vantor UUIDs in Django REST framework: a serializer field, model serializers and JSON output.

    # settings.py: responses write vantor.UUID as the hyphenated text, wherever it appears
    REST_FRAMEWORK = {"DEFAULT_RENDERER_CLASSES": ["vantor.rest_framework.JSONRenderer"]}

    from vantor.rest_framework import ModelSerializer, UUIDField

    class OrderSerializer(ModelSerializer):    # maps vantor.django.UUIDField, keys included
        class Meta:
            model = Order
            fields = "__all__"

`UUIDField` is REST framework's `UUIDField` whose input becomes a `vantor.UUID`: text in the
forms `vantor.UUID(text)` accepts (a malformed key is refused, never read as another UUID), a
UUID of either class, or an int. Its output is the same as REST framework's: the hyphenated text
by default, or `format="hex"`, `"int"` or `"urn"`.

`ModelSerializer` is REST framework's, with `vantor.django.UUIDField` mapped to `UUIDField`, and
foreign keys (and other primary-key relations) to a model whose key is a `vantor.django.UUIDField`
read and written through `UUIDField` too.

`JSONRenderer` is REST framework's, with `JSONEncoder`, its encoder that also writes
`vantor.UUID` as the hyphenated text, just as it writes `uuid.UUID`.

Needs Django REST framework: `pip install 'vantor[rest-framework]'`.
"""
from __future__ import annotations

from typing import Any

import vantor
from vantor._convert import missing, to_vantor

try:
    from rest_framework import relations as _relations
    from rest_framework import renderers as _renderers
    from rest_framework import serializers as _serializers
    from rest_framework.utils import encoders as _encoders
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("Django REST framework", "rest_framework") from error

from vantor.django import UUIDField as _ModelUUIDField

__all__ = ["UUIDField", "ModelSerializer", "JSONEncoder", "JSONRenderer"]

_VantorUUID = vantor.UUID


class UUIDField(_serializers.UUIDField):
    """REST framework's `UUIDField`, giving `vantor.UUID` and reading text strictly."""

    def to_internal_value(self, data: Any) -> vantor.UUID:
        try:
            if isinstance(data, int) and not isinstance(data, bool):
                return _VantorUUID.from_int(data)
            return to_vantor(data)
        except (TypeError, ValueError, OverflowError):
            self.fail("invalid", value=data)
            raise  # pragma: no cover - fail() always raises


class ModelSerializer(_serializers.ModelSerializer):
    """REST framework's `ModelSerializer`, mapping `vantor.django.UUIDField` to `UUIDField`."""

    serializer_field_mapping = {
        **_serializers.ModelSerializer.serializer_field_mapping,
        _ModelUUIDField: UUIDField,
    }

    def build_relational_field(
        self, field_name: str, relation_info: Any
    ) -> tuple[type[Any], dict[str, Any]]:
        field_class, field_kwargs = super().build_relational_field(field_name, relation_info)
        if issubclass(field_class, _relations.PrimaryKeyRelatedField) and "pk_field" not in field_kwargs:
            if isinstance(relation_info.related_model._meta.pk, _ModelUUIDField):
                field_kwargs["pk_field"] = UUIDField()
        return field_class, field_kwargs


class JSONEncoder(_encoders.JSONEncoder):
    """REST framework's JSON encoder, writing `vantor.UUID` as the hyphenated text."""

    def default(self, obj: Any) -> Any:
        if isinstance(obj, _VantorUUID):
            return str(obj)
        return super().default(obj)


class JSONRenderer(_renderers.JSONRenderer):
    """REST framework's `JSONRenderer` with `vantor.rest_framework.JSONEncoder`."""

    encoder_class = JSONEncoder
