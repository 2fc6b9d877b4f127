"""A `vantor.UUID` in a web response: each library plain, and with the one line the README
gives, against the JSON text the same value gives as a standard `uuid.UUID`."""
import json
import uuid

import pytest

import vantor

from ._django import configure

VALUE = vantor.UUID("01938a4b-7c5e-7f3a-8b2c-0123456789ab")
STD = uuid.UUID(str(VALUE))


def fastapi_app(payload):
    fastapi = pytest.importorskip("fastapi", reason="FastAPI is not installed")
    from fastapi.testclient import TestClient

    app = fastapi.FastAPI()
    app.get("/")(lambda: payload)
    return TestClient(app).get("/").text


@pytest.fixture
def fastapi_line(monkeypatch):
    """The README's line for FastAPI, undone after the test."""
    encoders = pytest.importorskip("fastapi.encoders", reason="FastAPI is not installed")
    monkeypatch.setitem(encoders.ENCODERS_BY_TYPE, vantor.UUID, str)


def fastapi_dict(value):
    return fastapi_app({"id": value, "nested": {"ids": [value]}})


def fastapi_list(value):
    return fastapi_app([value, None, value])


def fastapi_jsonable_encoder(value):
    encoders = pytest.importorskip("fastapi.encoders", reason="FastAPI is not installed")
    jsonable_encoder = encoders.jsonable_encoder

    return json.dumps(jsonable_encoder({"id": value, "ids": (value,)}))


@pytest.mark.parametrize("respond", [fastapi_dict, fastapi_list, fastapi_jsonable_encoder])
def test_fastapi(respond, request):
    expected = respond(STD)
    with pytest.raises(ValueError, match="not iterable"):  # the wall: a 500 in a real app
        respond(VALUE)
    request.getfixturevalue("fastapi_line")
    assert respond(VALUE) == expected
    assert respond(STD) == expected


@pytest.fixture(scope="module")
def django_setup():
    pytest.importorskip("django", reason="Django is not installed")
    configure()


def test_django_json_response(django_setup):
    from django.http import JsonResponse

    import vantor.django

    expected = JsonResponse({"id": STD, "ids": [STD]}).content
    with pytest.raises(TypeError, match="not JSON serializable"):
        JsonResponse({"id": VALUE})
    assert vantor.django.JsonResponse({"id": VALUE, "ids": [VALUE]}).content == expected
    assert vantor.django.JsonResponse({"id": STD, "ids": [STD]}).content == expected
    given = JsonResponse({"id": VALUE, "ids": [VALUE]}, encoder=vantor.django.JSONEncoder)
    assert given.content == expected


@pytest.fixture(scope="module")
def rest_framework(django_setup):
    return pytest.importorskip("rest_framework", reason="Django REST framework is not installed")


VIEW = """
import sys, uuid, django, vantor
from django.conf import settings

settings.configure(
    INSTALLED_APPS=["django.contrib.contenttypes", "django.contrib.auth"],
    REST_FRAMEWORK=%r,
)
django.setup()
from rest_framework.response import Response
from rest_framework.test import APIRequestFactory
from rest_framework.views import APIView

value = %s

class View(APIView):
    authentication_classes = permission_classes = ()

    def get(self, request):
        return Response({"id": value, "ids": [value]})

sys.stdout.write(View.as_view()(APIRequestFactory().get("/")).render().content.decode())
"""


def test_rest_framework_renderer(rest_framework):
    # Each run is a project of its own: REST framework's views read the setting when their
    # module is imported, so it cannot change within a process.
    import subprocess
    import sys

    from rest_framework.renderers import JSONRenderer

    import vantor.rest_framework

    def respond(setting, value):
        source = VIEW % (setting, value)
        done = subprocess.run([sys.executable, "-c", source], capture_output=True, text=True, timeout=60)
        if done.returncode:
            # The error's own line, not the last one: 3.14's json adds a note after it.
            raise AssertionError(done.stderr.strip())
        return done.stdout.encode()

    std, plain = f"uuid.UUID({str(STD)!r})", f"vantor.UUID({str(VALUE)!r})"
    expected = respond({}, std)
    assert expected == JSONRenderer().render({"id": STD, "ids": [STD]})
    with pytest.raises(AssertionError, match="not JSON serializable"):
        respond({}, plain)
    # The one setting.
    setting = {"DEFAULT_RENDERER_CLASSES": ["vantor.rest_framework.JSONRenderer"]}
    assert respond(setting, plain) == expected
    assert respond(setting, std) == expected
    assert vantor.rest_framework.JSONRenderer().render({"id": VALUE, "ids": [VALUE]}) == expected


@pytest.fixture(scope="module")
def shop(rest_framework):
    """Customers and their orders, keyed once by vantor.django.UUIDField, once by Django's."""
    from django.db import connection, models

    from vantor.django import UUIDField

    def model(name, **fields):
        meta = type("Meta", (), {"app_label": "vantor_responses"})
        return type(name, (models.Model,), {"__module__": __name__, "Meta": meta, **fields})

    made = {}
    for kind, field in {"vantor": UUIDField, "std": models.UUIDField}.items():
        prefix = kind.capitalize()
        customer = model(f"{prefix}Customer", id=field(primary_key=True))
        order = model(
            f"{prefix}Order",
            id=field(primary_key=True),
            customer=models.ForeignKey(customer, on_delete=models.CASCADE),
            ref=field(null=True),
        )
        made[kind] = customer, order
    with connection.schema_editor() as editor:
        for pair in made.values():
            for table in pair:
                editor.create_model(table)
    return made


def serializer_for(base, order_model):
    meta = type("Meta", (), {"model": order_model, "fields": "__all__"})
    return type("OrderSerializer", (base,), {"Meta": meta})


def test_model_serializer_with_a_foreign_key(shop):
    from rest_framework.renderers import JSONRenderer
    from rest_framework.serializers import ModelSerializer

    import vantor.rest_framework

    customer_key, order_key = vantor.uuid7(), vantor.uuid7()
    objects = {}
    for kind, convert in {"vantor": lambda v: v, "std": lambda v: uuid.UUID(str(v))}.items():
        customer, order = shop[kind]
        objects[kind] = order.objects.create(
            id=convert(order_key),
            customer=customer.objects.create(id=convert(customer_key)),
            ref=convert(VALUE),
        )
    render = JSONRenderer().render
    expected = render(serializer_for(ModelSerializer, shop["std"][1])(objects["std"]).data)
    assert json.loads(expected) == {
        "id": str(order_key), "customer": str(customer_key), "ref": str(VALUE)
    }
    # Plain: the key fields map to REST framework's UUIDField, but the foreign key is the
    # related object's own key, a vantor.UUID that the renderer does not know.
    plain = serializer_for(ModelSerializer, shop["vantor"][1])(objects["vantor"]).data
    with pytest.raises(TypeError, match="not JSON serializable"):
        render(plain)
    vantor_serializer = serializer_for(vantor.rest_framework.ModelSerializer, shop["vantor"][1])
    assert render(vantor_serializer(objects["vantor"]).data) == expected

    # Input: every key, the foreign key's included, is read strictly and becomes vantor.UUID.
    fields = vantor_serializer().fields
    assert type(fields["id"]) is type(fields["ref"]) is vantor.rest_framework.UUIDField
    assert type(fields["customer"].pk_field) is vantor.rest_framework.UUIDField
    new_key = vantor.uuid7()
    given = vantor_serializer(
        data={"id": str(new_key), "customer": str(customer_key).upper(), "ref": VALUE.hex}
    )
    assert given.is_valid(), given.errors
    assert given.validated_data["customer"] == objects["vantor"].customer
    assert type(given.validated_data["ref"]) is vantor.UUID and given.validated_data["ref"] == VALUE
    saved = given.save()
    assert type(saved.id) is vantor.UUID and saved.id == new_key
    bad = vantor_serializer(data={"id": str(vantor.uuid7()), "customer": "{{%s}}" % customer_key})
    assert not bad.is_valid() and set(bad.errors) == {"customer"}
