"""vantor.msgspec: Struct fields typed `vantor.UUID` through JSON and MessagePack."""
import re
import uuid

import pytest

msgspec = pytest.importorskip("msgspec", reason="msgspec is not installed")

import vantor  # noqa: E402
from vantor.msgspec import dec_hook, enc_hook  # noqa: E402

VALUE = vantor.UUID("01938a4b-7c5e-7f3a-8b2c-0123456789ab")


class Order(msgspec.Struct):
    id: vantor.UUID
    parent: vantor.UUID | None = None
    std: uuid.UUID | None = None


@pytest.mark.parametrize("protocol", ["json", "msgpack"])
def test_round_trip(protocol):
    module = getattr(msgspec, protocol)
    value = Order(VALUE, parent=vantor.NIL, std=uuid.UUID(str(VALUE)))
    back = module.decode(module.encode(value, enc_hook=enc_hook), type=Order, dec_hook=dec_hook)
    assert back == value
    assert type(back.id) is vantor.UUID and type(back.std) is uuid.UUID


def test_json_text():
    data = msgspec.json.encode(Order(VALUE), enc_hook=enc_hook)
    assert data == b'{"id":"%s","parent":null,"std":null}' % str(VALUE).encode()


@pytest.mark.parametrize(
    "given",
    [str(VALUE), VALUE.hex, uuid.UUID(str(VALUE)), VALUE.bytes],
    ids=["text", "hex", "std", "bytes"],
)
def test_convert_from_python_values(given):
    converted = msgspec.convert({"id": given}, type=Order, dec_hook=dec_hook)
    assert type(converted.id) is vantor.UUID and converted.id == VALUE


@pytest.mark.parametrize(
    ("document", "message"),
    [
        (b'{"id":"nope"}', "badly formed hexadecimal UUID string - at `$.id`"),
        (b'{"id":5}', "expected a vantor.UUID, a uuid.UUID or its text, not int - at `$.id`"),
    ],
)
def test_bad_input_is_a_validation_error(document, message):
    with pytest.raises(msgspec.ValidationError, match=re.escape(message)):
        msgspec.json.decode(document, type=Order, dec_hook=dec_hook)


def test_other_types_keep_msgspecs_errors():
    class Other:
        pass

    class Holder(msgspec.Struct):
        other: Other

    with pytest.raises(TypeError, match="Encoding objects of type Other is unsupported"):
        msgspec.json.encode(Other(), enc_hook=enc_hook)
    with pytest.raises(msgspec.ValidationError, match=re.escape("Expected `Other`, got `int` - at `$.other`")):
        msgspec.json.decode(b'{"other":1}', type=Holder, dec_hook=dec_hook)


def test_schema_hook_gives_the_standard_uuid_schema():
    from vantor.msgspec import schema_hook

    class Standard(msgspec.Struct):
        id: uuid.UUID
        parent: uuid.UUID | None = None

    class Ours(msgspec.Struct):
        id: vantor.UUID
        parent: vantor.UUID | None = None

    with pytest.raises(TypeError):
        msgspec.json.schema(Ours)
    ours = msgspec.json.schema(Ours, schema_hook=schema_hook)
    assert ours["$defs"]["Ours"]["properties"] == msgspec.json.schema(Standard)["$defs"]["Standard"]["properties"]
    assert msgspec.json.schema(vantor.UUID, schema_hook=schema_hook) == msgspec.json.schema(uuid.UUID)
    # Other unknown types keep msgspec's own error.
    with pytest.raises(TypeError):
        msgspec.json.schema(complex, schema_hook=schema_hook)
