"""vantor.pydantic: validation, dumping, JSON schema and strict mode, against pydantic's own UUID."""
import uuid

import pytest

pydantic = pytest.importorskip("pydantic", minversion="2", reason="pydantic 2 is not installed")

import vantor  # noqa: E402
import vantor.std  # noqa: E402
from vantor.pydantic import UUID, UUID1, UUID3, UUID4, UUID5, UUID6, UUID7, UUID8  # noqa: E402

V7 = vantor.UUID("01938a4b-7c5e-7f3a-8b2c-0123456789ab")
TEXT = str(V7)


class Order(pydantic.BaseModel):
    id: UUID7 = pydantic.Field(default_factory=vantor.uuid7)
    customer: UUID
    parent: UUID | None = None


def adapter(annotation=UUID):
    return pydantic.TypeAdapter(annotation)


@pytest.mark.parametrize(
    "value",
    [
        V7,
        uuid.UUID(TEXT),
        TEXT,
        TEXT.upper(),
        V7.hex,
        "{" + TEXT + "}",
        "urn:uuid:" + TEXT,
        V7.bytes,
        TEXT.encode(),
    ],
    ids=["vantor", "std", "text", "upper", "hex", "braces", "urn", "bytes16", "text-bytes"],
)
def test_lax_inputs_validate_to_vantor(value):
    result = adapter().validate_python(value)
    assert type(result) is vantor.UUID
    assert result == V7
    if not isinstance(value, vantor.UUID):
        # Whatever pydantic's own field accepts, ours accepts, with the same value.
        assert adapter(uuid.UUID).validate_python(value).int == result.int


@pytest.mark.parametrize(
    ("value", "error_type"),
    [
        ("not a uuid", "uuid_parsing"),
        (TEXT[:-1], "uuid_parsing"),
        (b"\x00" * 15, "uuid_parsing"),
        (5, "uuid_type"),
        (None, "uuid_type"),
        (3.5, "uuid_type"),
    ],
)
def test_bad_input_is_a_validation_error(value, error_type):
    with pytest.raises(pydantic.ValidationError) as caught:
        Order(customer=value)
    (error,) = caught.value.errors()
    assert error["type"] == error_type
    assert error["loc"] == ("customer",)


@pytest.mark.parametrize(
    ("annotation", "version"),
    [(UUID1, 1), (UUID3, 3), (UUID4, 4), (UUID5, 5), (UUID6, 6), (UUID7, 7), (UUID8, 8)],
)
def test_versioned_types_check_the_version(annotation, version):
    right = vantor.UUID.from_int(V7.int).set_version(version)
    wrong = vantor.UUID.from_int(V7.int).set_version(2 if version != 2 else 3)
    ta = adapter(annotation)
    for value in (right, uuid.UUID(str(right)), str(right)):
        assert ta.validate_python(value) == right
    for value in (wrong, uuid.UUID(str(wrong)), str(wrong)):
        with pytest.raises(pydantic.ValidationError) as caught:
            ta.validate_python(value)
        assert caught.value.errors()[0]["type"] == "uuid_version"
        assert f"UUID version {version} expected" in str(caught.value)


def test_default_factory_dumps_and_round_trips_through_json():
    order = Order(customer=uuid.UUID(TEXT))
    assert type(order.id) is vantor.UUID and order.id.version == 7
    dumped = order.model_dump_json()
    assert dumped == f'{{"id":"{order.id}","customer":"{TEXT}","parent":null}}'
    assert Order.model_validate_json(dumped) == order
    # Python-mode dumps keep the objects, JSON-mode ones give text, as for uuid.UUID fields.
    assert order.model_dump() == {"id": order.id, "customer": V7, "parent": None}
    assert order.model_dump(mode="json")["customer"] == TEXT


def test_json_schema_matches_pydantics_uuid():
    schema = Order.model_json_schema()["properties"]
    assert schema["customer"] == {"type": "string", "format": "uuid", "title": "Customer"}
    assert adapter().json_schema() == adapter(uuid.UUID).json_schema()
    for ours, theirs in [(UUID4, pydantic.UUID4), (UUID5, pydantic.UUID5)]:
        assert adapter(ours).json_schema() == adapter(theirs).json_schema()


@pytest.mark.parametrize(
    ("value", "accepted"),
    [(V7, True), (uuid.UUID(TEXT), True), (TEXT, False), (V7.bytes, False)],
    ids=["vantor", "std", "text", "bytes"],
)
def test_strict_python_takes_only_uuid_objects(value, accepted):
    if accepted:
        assert adapter().validate_python(value, strict=True) == V7
    else:
        with pytest.raises(pydantic.ValidationError):
            adapter().validate_python(value, strict=True)


def test_strict_json_takes_text():
    assert adapter().validate_json(f'"{TEXT}"', strict=True) == V7
    with pytest.raises(pydantic.ValidationError):
        adapter().validate_json("5", strict=True)


def test_strict_model_config():
    class Strict(pydantic.BaseModel, strict=True):
        id: UUID

    assert Strict(id=uuid.UUID(TEXT)).id == V7
    assert Strict.model_validate_json(f'{{"id":"{TEXT}"}}').id == V7
    with pytest.raises(pydantic.ValidationError):
        Strict(id=TEXT)


@pytest.mark.parametrize(
    ("annotation", "factory", "cls"),
    [(UUID, vantor.uuid7, vantor.UUID), (uuid.UUID, vantor.std.uuid7, uuid.UUID)],
    ids=["vantor-field", "std-field"],
)
def test_default_factory_returns_the_fields_class(annotation, factory, cls):
    # Defaults skip validation, so a factory of the other class would only fail at dump time.
    model = pydantic.create_model("WithDefault", id=(annotation, pydantic.Field(default_factory=factory)))
    instance = model()
    assert type(instance.id) is cls
    assert model.model_validate_json(instance.model_dump_json()) == instance
