"""vantor.pydantic types and the bare vantor.UUID class in FastAPI request and response models,
path and query parameters."""
import json
import subprocess
import sys
import textwrap
import uuid

import pytest

fastapi = pytest.importorskip("fastapi", reason="FastAPI is not installed")
pydantic = pytest.importorskip("pydantic", minversion="2", reason="pydantic 2 is not installed")
testclient = pytest.importorskip("fastapi.testclient", reason="httpx is not installed")

import vantor  # noqa: E402
from vantor.pydantic import UUID, UUID4, UUID7  # noqa: E402


class Item(pydantic.BaseModel):
    id: UUID7 = pydantic.Field(default_factory=vantor.uuid7)
    owner: UUID


def make_app():
    app = fastapi.FastAPI()
    seen = {}

    @app.post("/items")
    def create(item: Item) -> Item:
        seen["item"] = item
        return item

    @app.get("/items/{item_id}")
    def read(item_id: UUID7, owner: UUID4) -> Item:
        seen["path"], seen["query"] = item_id, owner
        return Item(id=item_id, owner=owner)

    @app.get("/new")
    def new() -> Item:
        # The response model's default factory runs here, inside FastAPI's serialisation.
        return Item(owner=vantor.uuid4())

    return app, seen


@pytest.fixture
def app():
    return make_app()


def test_request_body_validates_to_vantor_and_echoes_text(app):
    app, seen = app
    owner = str(uuid.uuid4())
    response = testclient.TestClient(app).post("/items", json={"owner": owner})
    assert response.status_code == 200
    item = seen["item"]
    assert type(item.id) is vantor.UUID and type(item.owner) is vantor.UUID
    assert response.json() == {"id": str(item.id), "owner": owner}


def test_path_and_query_parameters(app):
    app, seen = app
    item_id, owner = vantor.uuid7(), vantor.uuid4()
    client = testclient.TestClient(app)
    response = client.get(f"/items/{item_id}", params={"owner": str(owner)})
    assert response.status_code == 200
    assert response.json() == {"id": str(item_id), "owner": str(owner)}
    assert type(seen["path"]) is vantor.UUID and seen["path"] == item_id
    assert type(seen["query"]) is vantor.UUID and seen["query"] == owner


@pytest.mark.parametrize(
    ("path", "query"),
    [
        ("not-a-uuid", str(uuid.uuid4())),
        (str(uuid.uuid4()), str(uuid.uuid4())),  # a version 4 where a version 7 is required
        (str(vantor.uuid7()), str(vantor.uuid7())),
    ],
)
def test_bad_parameters_are_422(app, path, query):
    app, _ = app
    response = testclient.TestClient(app).get(f"/items/{path}", params={"owner": query})
    assert response.status_code == 422
    assert response.json()["detail"][0]["type"] in {"uuid_parsing", "uuid_version"}


def test_default_factory_in_a_response(app):
    app, _ = app
    body = testclient.TestClient(app).get("/new").json()
    assert vantor.UUID(body["id"]).version == 7


def test_openapi_describes_uuids(app):
    app, _ = app
    openapi = testclient.TestClient(app).get("/openapi.json").json()
    parameters = {p["name"]: p["schema"] for p in openapi["paths"]["/items/{item_id}"]["get"]["parameters"]}
    assert parameters["item_id"]["format"] == "uuid7"
    assert parameters["owner"]["format"] == "uuid4"
    owner = openapi["components"]["schemas"]["Item"]["properties"]["owner"]
    assert (owner["type"], owner["format"]) == ("string", "uuid")


# The same application written twice, once with the standard class and once with the bare
# vantor.UUID, which `import vantor` alone makes a pydantic type.
def make_bare_app(cls):
    class Order(pydantic.BaseModel):
        id: cls
        parent: cls | None = None

    app = fastapi.FastAPI()
    seen = {}

    @app.post("/orders", response_model=Order)
    def create(order: Order):
        seen["body"] = order
        return order

    @app.get("/orders/{order_id}")
    def read(order_id: cls, parent: cls | None = None) -> Order:
        seen["path"], seen["query"] = order_id, parent
        return Order(id=order_id, parent=parent)

    @app.get("/orders")
    def listing() -> list[Order]:
        return [Order(id=cls(int=n)) for n in range(2)]

    return testclient.TestClient(app), seen


def test_bare_class_round_trips_body_path_and_query():
    client, seen = make_bare_app(vantor.UUID)
    order_id, parent = str(vantor.uuid7()), str(uuid.uuid4())
    response = client.post("/orders", json={"id": order_id, "parent": parent})
    assert response.status_code == 200 and response.json() == {"id": order_id, "parent": parent}
    assert type(seen["body"].id) is type(seen["body"].parent) is vantor.UUID
    response = client.get(f"/orders/{order_id}", params={"parent": parent})
    assert response.json() == {"id": order_id, "parent": parent}
    assert type(seen["path"]) is type(seen["query"]) is vantor.UUID
    assert seen["path"] == vantor.UUID(order_id)
    assert client.get("/orders").json() == [{"id": str(vantor.UUID(int=n)), "parent": None} for n in range(2)]


@pytest.mark.parametrize(
    ("method", "path", "body"),
    [
        ("post", "/orders", {"id": "not-a-uuid"}),
        ("post", "/orders", {"id": 5}),
        ("post", "/orders", {"id": str(uuid.uuid4()), "parent": "{" + "0" * 32 + "}"}),
        ("get", "/orders/not-a-uuid", None),
        ("get", f"/orders/{uuid.uuid4()}?parent=1234", None),
    ],
    ids=["body-text", "body-number", "body-braced-simple", "path", "query"],
)
def test_bare_class_rejects_bad_input_as_the_standard_class_does(method, path, body):
    responses = []
    for cls in (uuid.UUID, vantor.UUID):
        client, _ = make_bare_app(cls)
        responses.append(client.request(method.upper(), path, json=body))
    theirs, ours = responses
    assert ours.status_code == theirs.status_code == 422
    assert ours.json() == theirs.json()
    assert ours.json()["detail"][0]["type"] in {"uuid_parsing", "uuid_type"}


def test_bare_class_openapi_is_the_standard_classs():
    theirs, _ = make_bare_app(uuid.UUID)
    ours, _ = make_bare_app(vantor.UUID)
    document = ours.get("/openapi.json").json()
    assert document == theirs.get("/openapi.json").json()
    parameters = {p["name"]: p["schema"] for p in document["paths"]["/orders/{order_id}"]["get"]["parameters"]}
    assert parameters["order_id"] == {"type": "string", "format": "uuid", "title": "Order Id"}
    # One schema for request and response: no Order-Input / Order-Output pair.
    assert set(document["components"]["schemas"]) == {"Order", "HTTPValidationError", "ValidationError"}


def test_bare_class_with_import_vantor_alone():
    # A fresh interpreter that imports vantor and FastAPI, never vantor.pydantic.
    source = """
        import json, sys, uuid
        import vantor, fastapi, pydantic
        from fastapi.testclient import TestClient
        assert "vantor.pydantic" not in sys.modules

        class Order(pydantic.BaseModel):
            id: vantor.UUID

        app = fastapi.FastAPI()

        @app.post("/orders/{owner}")
        def create(owner: vantor.UUID, order: Order) -> Order:
            assert type(owner) is type(order.id) is vantor.UUID
            return order

        client = TestClient(app)
        owner, order_id = vantor.uuid4(), vantor.uuid7()
        good = client.post(f"/orders/{owner}", json={"id": str(order_id)})
        bad = client.post("/orders/nope", json={"id": str(order_id)})
        print(json.dumps([good.status_code, good.json() == {"id": str(order_id)},
                          bad.status_code, bad.json()["detail"][0]["type"]]))
    """
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(source)], capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
    assert json.loads(done.stdout) == [200, True, 422, "uuid_parsing"]
