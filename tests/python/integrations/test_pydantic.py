"""vantor.pydantic and the bare vantor.UUID class: validation, dumping, JSON schema and strict
mode, against pydantic's own UUID."""
import functools
import json
import subprocess
import sys
import textwrap
import uuid

import pytest
from hypothesis import given
from hypothesis import strategies as st

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


# `vantor.pydantic.UUID` and the bare class, which `import vantor` alone makes a field type.
ANY_VERSION = pytest.mark.parametrize("annotation", [UUID, vantor.UUID], ids=["UUID", "bare"])


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
@ANY_VERSION
def test_lax_inputs_validate_to_vantor(annotation, value):
    result = adapter(annotation).validate_python(value)
    assert type(result) is vantor.UUID
    assert result == V7
    if not isinstance(value, vantor.UUID):
        # Whatever pydantic's own field accepts, ours accepts, with the same value.
        assert adapter(uuid.UUID).validate_python(value).int == result.int


class SubUUID(vantor.UUID):
    pass


@ANY_VERSION
def test_uuid_objects_come_back_unchanged(annotation):
    # A response model's rows hold vantor.UUID objects already: the field hands back the object
    # itself, a subclass's too, and makes no copy.
    ta = adapter(annotation)
    for value in (V7, SubUUID(TEXT)):
        assert ta.validate_python(value) is value


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
@ANY_VERSION
def test_strict_python_takes_only_uuid_objects(annotation, value, accepted):
    if accepted:
        assert adapter(annotation).validate_python(value, strict=True) == V7
    else:
        with pytest.raises(pydantic.ValidationError):
            adapter(annotation).validate_python(value, strict=True)


@ANY_VERSION
def test_strict_json_takes_text(annotation):
    assert adapter(annotation).validate_json(f'"{TEXT}"', strict=True) == V7
    with pytest.raises(pydantic.ValidationError):
        adapter(annotation).validate_json("5", strict=True)


@ANY_VERSION
def test_strict_model_config(annotation):
    class Strict(pydantic.BaseModel, strict=True):
        id: annotation

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


# Inputs on which our types and pydantic's own must agree: the same value, or the same errors
# (type, message, context, location). Text that only vantor's or only pydantic's parser would
# take, or that a version check reads differently, would show up here.
MICROSOFT_VARIANT_V4 = "01938a4b-7c5e-4f3a-cb2c-0123456789ab"  # version bits 4, variant 110
PARITY_INPUTS = [
    TEXT,
    TEXT.upper(),
    V7.hex,
    "{" + TEXT + "}",
    "urn:uuid:" + TEXT,
    "URN:uuid:" + TEXT,
    "urn:uuid:" + V7.hex,
    "{" + V7.hex + "}",
    " " + TEXT,
    TEXT[:8] + TEXT[9:13] + "-" + TEXT[13:],
    TEXT.replace("-", "_"),
    "0x" + V7.hex[2:],
    V7.hex[:-1] + "g",
    V7.hex[:-1] + "\u00e9",
    "",
    MICROSOFT_VARIANT_V4,
    str(uuid.uuid4()),
    5,
    None,
    [TEXT],
]
PAIRS = [
    pytest.param(UUID, uuid.UUID, id="UUID"),
    pytest.param(vantor.UUID, uuid.UUID, id="bare"),
    pytest.param(UUID4, pydantic.UUID4, id="UUID4"),
    pytest.param(UUID7, pydantic.UUID7, id="UUID7"),
]


def outcome(validate, value, **options):
    try:
        result = validate(value, **options)
    except pydantic.ValidationError as error:
        return "error", error.errors(include_url=False)
    return "value", result.int


@pytest.mark.parametrize(("ours", "theirs"), PAIRS)
@pytest.mark.parametrize("strict", [False, True], ids=["lax", "strict"])
def test_json_matches_pydantics_uuid(ours, theirs, strict):
    for value in PARITY_INPUTS:
        document = json.dumps({"id": value})
        expected = outcome(from_json_field(theirs), document, strict=strict)
        assert outcome(from_json_field(ours), document, strict=strict) == expected, value


@pytest.mark.parametrize(("ours", "theirs"), PAIRS)
@pytest.mark.parametrize("strict", [False, True], ids=["lax", "strict"])
def test_python_matches_pydantics_uuid(ours, theirs, strict):
    for value in [*PARITY_INPUTS, TEXT.encode(), V7.bytes, V7.bytes[:15], uuid.UUID(TEXT), 3.5]:
        expected = outcome(adapter(theirs).validate_python, value, strict=strict)
        assert outcome(adapter(ours).validate_python, value, strict=strict) == expected, value


def model(annotation):
    return pydantic.create_model("Holder", id=(annotation, ...))


@functools.cache
def from_json_field(annotation):
    # A JSON document validated by a model: the path FastAPI's and most applications' input takes.
    validate = model(annotation).model_validate_json
    return lambda document, **options: validate(document, **options).id


# Near-UUID text: valid forms with one character replaced, inserted or dropped.
def mutated(text, position, character, action):
    position %= len(text) + 1
    if action == "replace":
        return text[:position] + character + text[position + 1 :]
    if action == "insert":
        return text[:position] + character + text[position:]
    if action == "drop":
        return text[:position] + text[position + 1 :]
    return text


near_uuid_text = st.builds(
    mutated,
    st.builds(
        lambda value, form: form.format(uuid.UUID(int=value)),
        st.integers(0, (1 << 128) - 1),
        st.sampled_from(["{}", "{{{}}}", "urn:uuid:{}", "{.hex}", "{.urn}"]),
    ),
    st.integers(0, 50),
    st.sampled_from("0aF-{}:nuz G\u00e9"),
    st.sampled_from(["replace", "insert", "drop", "keep"]),
)


@given(text=near_uuid_text)
def test_text_is_judged_as_pydantic_judges_it(text):
    document = json.dumps({"id": text})
    for ours, theirs in [(UUID, uuid.UUID), (UUID4, pydantic.UUID4)]:
        assert outcome(from_json_field(ours), document) == outcome(from_json_field(theirs), document)


@ANY_VERSION
def test_dumps_like_pydantics_uuid(annotation):
    ours, theirs = model(annotation)(id=V7), model(uuid.UUID)(id=uuid.UUID(TEXT))
    assert ours.model_dump_json() == theirs.model_dump_json() == f'{{"id":"{TEXT}"}}'
    assert ours.model_dump(mode="json") == theirs.model_dump(mode="json")
    assert type(ours.model_dump()["id"]) is vantor.UUID
    # The same description for input and output, so FastAPI needs no "-Input"/"-Output" pair.
    for mode in ("validation", "serialization"):
        assert model(annotation).model_json_schema(mode=mode) == model(uuid.UUID).model_json_schema(mode=mode)


def test_bare_class_with_import_vantor_alone():
    # A fresh interpreter that imports vantor and pydantic, never vantor.pydantic.
    source = """
        import json, sys, uuid
        import vantor
        assert "pydantic_core" not in sys.modules
        import pydantic
        assert "vantor.pydantic" not in sys.modules

        class Order(pydantic.BaseModel):
            id: vantor.UUID
            parent: vantor.UUID | None = None

        text = "01938a4b-7c5e-7f3a-8b2c-0123456789ab"
        order = Order.model_validate_json(json.dumps({"id": text}))
        errors = []
        for bad in ["nope", 5]:
            try:
                Order.model_validate_json(json.dumps({"id": bad}))
            except pydantic.ValidationError as error:
                errors.append(error.errors()[0]["type"])
        print(json.dumps({
            "type": type(order.id).__name__ + "@" + type(order.id).__module__,
            "dump": order.model_dump_json(),
            "python": type(Order(id=uuid.UUID(text)).id) is vantor.UUID,
            "errors": errors,
            "schema": pydantic.TypeAdapter(vantor.UUID).json_schema(),
        }))
    """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(source)], capture_output=True, text=True, timeout=60
    )
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == {
        "type": "UUID@vantor",
        "dump": f'{{"id":"{TEXT}","parent":null}}',
        "python": True,
        "errors": ["uuid_parsing", "uuid_type"],
        "schema": {"type": "string", "format": "uuid"},
    }


def test_the_class_gets_its_schema_methods_from_the_package():
    # The extension's class has no pydantic methods of its own; the package adds them, and they
    # stand in for vantor.pydantic's until pydantic calls them.
    source = """
        import _vantor
        before = hasattr(_vantor.UUID, "__get_pydantic_core_schema__")
        import sys, vantor
        print(before, "vantor.pydantic" in sys.modules, vantor.UUID is _vantor.UUID,
              callable(vantor.UUID.__get_pydantic_core_schema__),
              callable(vantor.UUID.__get_pydantic_json_schema__))
    """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(source)], capture_output=True, text=True, timeout=60
    )
    assert done.returncode == 0, done.stderr
    assert done.stdout.split() == ["False", "False", "True", "True", "True"]
