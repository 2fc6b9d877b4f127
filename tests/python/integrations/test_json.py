"""JSON encoders with `default=str`, and vantor.msgspec's hooks."""
import json
import uuid

import pytest

import vantor

VALUE = vantor.UUID("01938a4b-7c5e-7f3a-8b2c-0123456789ab")
DOCUMENT = {"id": VALUE, "ids": [vantor.NIL, VALUE], "std": uuid.UUID(str(VALUE))}
EXPECTED = {"id": str(VALUE), "ids": [str(vantor.NIL), str(VALUE)], "std": str(VALUE)}


SKIP_REASONS = {
    "orjson": "orjson is not installed (it has no wheel for Python 3.15 yet)",
    "ujson": "ujson is not installed",
}


@pytest.mark.parametrize("library", ["json", "orjson", "ujson"])
def test_default_str_gives_the_hyphenated_text(library):
    if library == "json":
        module = json
    else:
        module = pytest.importorskip(library, reason=SKIP_REASONS[library])
    assert json.loads(module.dumps(DOCUMENT, default=str)) == EXPECTED


def test_without_default_the_encoders_refuse():
    # Why the recipe is needed: no encoder knows the class by itself.
    with pytest.raises(TypeError, match="not JSON serializable"):
        json.dumps(DOCUMENT)
