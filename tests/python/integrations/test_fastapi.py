"""vantor.pydantic types in FastAPI request and response models, path and query parameters."""
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
