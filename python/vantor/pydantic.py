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

A bare `vantor.UUID` annotation (`id: vantor.UUID`) behaves exactly as `UUID` does, with no import
of this module: `import vantor` gives the class the two methods pydantic looks for, and they load
this module the first time pydantic calls them.

Needs pydantic 2: `pip install 'vantor[pydantic]'`.
"""
from __future__ import annotations

from collections.abc import Callable
from typing import TYPE_CHECKING, Annotated, Any, Literal, cast

import vantor
from vantor._convert import missing

try:
    from pydantic_core import PydanticKnownError, SchemaValidator, ValidationError, core_schema
except ImportError as error:  # pragma: no cover - depends on the environment
    raise missing("pydantic 2", "pydantic") from error

if TYPE_CHECKING:
    from pydantic import GetCoreSchemaHandler, GetJsonSchemaHandler
    from pydantic.json_schema import JsonSchemaValue
    from pydantic_core.core_schema import ErrorType

__all__ = ["UUID", "UUID1", "UUID3", "UUID4", "UUID5", "UUID6", "UUID7", "UUID8"]

_VantorUUID = vantor.UUID
_from_int = vantor.UUID.from_int


def _pydantic_error(error: ValidationError) -> PydanticKnownError:
    # The error pydantic's own UUID validation gave, raised again from our validator so that it
    # keeps its type, message and context and gets the field's location.
    (detail,) = error.errors(include_url=False)
    return PydanticKnownError(cast("ErrorType", detail["type"]), detail.get("ctx"))


def _validators(
    version: Literal[1, 3, 4, 5, 6, 7, 8] | None,
) -> tuple[Callable[[Any], vantor.UUID], Callable[[Any], vantor.UUID]]:
    """The two fast paths: JSON values, and Python values outside strict mode.

    Text goes straight to `vantor.UUID`, whose parser takes exactly the four forms pydantic's
    does. Everything else, and every rejection, is handed to pydantic's own UUID validator, so
    the forms taken, the errors and their messages stay pydantic's; only accepted input pays
    nothing for it."""
    reference = SchemaValidator(core_schema.uuid_schema(version=version)).validate_python

    def slow(value: Any) -> vantor.UUID:
        if isinstance(value, _VantorUUID):  # a subclass instance, or the wrong version
            if version is not None and value.version != version:
                raise PydanticKnownError("uuid_version", {"expected_version": version})
            return value
        try:
            return _from_int(reference(value).int)
        except ValidationError as error:
            raise _pydantic_error(error) from None

    if version is None:

        def from_json(value: Any) -> vantor.UUID:
            try:
                return _VantorUUID(value)
            except (TypeError, ValueError):
                return slow(value)

        def other_python(value: Any) -> vantor.UUID:
            if type(value) is str:
                try:
                    return _VantorUUID(value)
                except ValueError:
                    pass
            return slow(value)

        # A vantor.UUID, the common case (a response model's rows), is taken back in C.
        from_python = vantor._native.exact_type_or(_VantorUUID, other_python)

    else:

        def from_json(value: Any) -> vantor.UUID:
            try:
                result = _VantorUUID(value)
            except (TypeError, ValueError):
                return slow(value)
            # pydantic reads the version bits of text whatever its variant: it decides the rest.
            return result if result.version == version else slow(value)

        def from_python(value: Any) -> vantor.UUID:
            if type(value) is _VantorUUID and value.version == version:
                return value
            if type(value) is str:
                try:
                    result = _VantorUUID(value)
                except ValueError:
                    pass
                else:
                    if result.version == version:
                        return result
            return slow(value)

    return from_json, from_python


class _Schema:
    """The pydantic metadata behind `UUID` and its versioned forms (and the bare `vantor.UUID`)."""

    __slots__ = ("version",)

    def __init__(self, version: Literal[1, 3, 4, 5, 6, 7, 8] | None = None) -> None:
        self.version = version

    def __repr__(self) -> str:
        return f"vantor.pydantic._Schema(version={self.version})"

    def __get_pydantic_core_schema__(
        self, source: Any, handler: GetCoreSchemaHandler
    ) -> core_schema.CoreSchema:
        version = self.version
        from_json, from_python = _validators(version)
        reference = core_schema.uuid_schema(version=version)

        # Strict mode: pydantic's own validation decides (UUID objects of either class from
        # Python); a vantor.UUID skips it, and only its version needs checking.
        def strict(value: Any, inner: core_schema.ValidatorFunctionWrapHandler) -> vantor.UUID:
            if isinstance(value, _VantorUUID):
                if version is not None and value.version != version:
                    raise PydanticKnownError("uuid_version", {"expected_version": version})
                return value
            return _from_int(inner(value).int)

        return core_schema.json_or_python_schema(
            # JSON gives text or a type error, strict or not, as for pydantic's own UUID.
            json_schema=core_schema.no_info_plain_validator_function(from_json),
            python_schema=core_schema.lax_or_strict_schema(
                lax_schema=core_schema.no_info_plain_validator_function(from_python),
                strict_schema=core_schema.no_info_wrap_validator_function(strict, reference),
            ),
            # JSON output is str(value), made in C; Python-mode dumps keep the object, as they do
            # for pydantic's own UUID fields.
            serialization=core_schema.to_string_ser_schema(when_used="json"),
        )

    def __get_pydantic_json_schema__(
        self, schema: core_schema.CoreSchema, handler: GetJsonSchemaHandler
    ) -> JsonSchemaValue:
        # What pydantic's own UUID, UUID1 ... UUID8 announce, for input and output alike.
        suffix = "" if self.version is None else str(self.version)
        return {"type": "string", "format": f"uuid{suffix}"}


_ANY_VERSION = _Schema()
"""The schema of `UUID`, which the bare `vantor.UUID` class also gets (vantor/__init__.py)."""

UUID = Annotated[vantor.UUID, _ANY_VERSION]
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
