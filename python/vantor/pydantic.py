"""vantor UUIDs as pydantic 2 field types.

    from pydantic import BaseModel, Field
    import vantor
    from vantor.pydantic import UUID, UUID7

    class Order(BaseModel):
        id: UUID7 = Field(default_factory=vantor.uuid7)
        customer: UUID

Fields validate to `vantor.UUID` from a `vantor.UUID`, a `uuid.UUID`, every text form pydantic's
own `uuid.UUID` field takes, or 16 bytes. JSON output is the hyphenated text and the JSON schema
is `{"type": "string", "format": "uuid"}`. Strict mode takes only UUID objects of either class
from Python and only strings from JSON, like pydantic's `uuid.UUID`. `UUID1`, `UUID3` ... `UUID8`
also check the version. The same types work in FastAPI models and as path or query parameters.

Needs pydantic 2: `pip install 'vantor[pydantic]'`.
"""
from __future__ import annotations

from typing import TYPE_CHECKING, Annotated, Any, Literal

import vantor
from vantor._convert import missing

try:
    from pydantic_core import PydanticKnownError, core_schema
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("pydantic 2", "pydantic") from error

if TYPE_CHECKING:
    from pydantic import GetCoreSchemaHandler, GetJsonSchemaHandler
    from pydantic.json_schema import JsonSchemaValue

__all__ = ["UUID", "UUID1", "UUID3", "UUID4", "UUID5", "UUID6", "UUID7", "UUID8"]

_VantorUUID = vantor.UUID
_from_int = vantor.UUID.from_int


def _serialize(value: vantor.UUID, info: core_schema.SerializationInfo) -> vantor.UUID | str:
    # Python-mode dumps keep the object, as they do for pydantic's own UUID fields.
    return str(value) if info.mode_is_json() else value


class _Schema:
    """The pydantic metadata behind `UUID` and its versioned forms."""

    __slots__ = ("version",)

    def __init__(self, version: Literal[1, 3, 4, 5, 6, 7, 8] | None = None) -> None:
        self.version = version

    def __repr__(self) -> str:
        return f"vantor.pydantic._Schema(version={self.version})"

    def __get_pydantic_core_schema__(
        self, source: Any, handler: GetCoreSchemaHandler
    ) -> core_schema.CoreSchema:
        version = self.version

        # pydantic's own UUID validation does the parsing, the strict-mode rules and the error
        # messages; a vantor.UUID skips it, and only its version needs checking.
        def validate(value: Any, inner: core_schema.ValidatorFunctionWrapHandler) -> vantor.UUID:
            if isinstance(value, _VantorUUID):
                if version is not None and value.version != version:
                    raise PydanticKnownError("uuid_version", {"expected_version": version})
                return value
            return _from_int(inner(value).int)

        return core_schema.no_info_wrap_validator_function(
            validate,
            core_schema.uuid_schema(version=version),
            serialization=core_schema.plain_serializer_function_ser_schema(
                _serialize, info_arg=True
            ),
        )

    def __get_pydantic_json_schema__(
        self, schema: core_schema.CoreSchema, handler: GetJsonSchemaHandler
    ) -> JsonSchemaValue:
        result = handler(schema)
        if self.version is not None:
            # The format pydantic's own UUID1 ... UUID8 announce.
            result["format"] = f"uuid{self.version}"
        return result


UUID = Annotated[vantor.UUID, _Schema()]
"""A `vantor.UUID` field of any version."""
UUID1 = Annotated[vantor.UUID, _Schema(1)]
"""A `vantor.UUID` field that must be of version 1."""
UUID3 = Annotated[vantor.UUID, _Schema(3)]
"""A `vantor.UUID` field that must be of version 3."""
UUID4 = Annotated[vantor.UUID, _Schema(4)]
"""A `vantor.UUID` field that must be of version 4."""
UUID5 = Annotated[vantor.UUID, _Schema(5)]
"""A `vantor.UUID` field that must be of version 5."""
UUID6 = Annotated[vantor.UUID, _Schema(6)]
"""A `vantor.UUID` field that must be of version 6."""
UUID7 = Annotated[vantor.UUID, _Schema(7)]
"""A `vantor.UUID` field that must be of version 7."""
UUID8 = Annotated[vantor.UUID, _Schema(8)]
"""A `vantor.UUID` field that must be of version 8."""
