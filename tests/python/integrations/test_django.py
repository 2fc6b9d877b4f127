"""vantor.django.UUIDField on SQLite, and what Django's migration writer makes of its defaults."""
import uuid

import pytest

django = pytest.importorskip("django", reason="Django is not installed")

from ._django import configure  # noqa: E402

configure()

from django.core.exceptions import ValidationError  # noqa: E402
from django.db import connection, models  # noqa: E402
from django.db.migrations.writer import MigrationWriter  # noqa: E402

import vantor  # noqa: E402
import vantor.std  # noqa: E402
from vantor.django import UUIDField  # noqa: E402


class Thing(models.Model):
    id = UUIDField(primary_key=True, default=vantor.uuid7, editable=False)
    ref = UUIDField(null=True)

    class Meta:
        app_label = "vantor_tests"


@pytest.fixture(scope="module")
def table():
    with connection.schema_editor() as editor:
        editor.create_model(Thing)
    yield
    with connection.schema_editor() as editor:
        editor.delete_model(Thing)


REF = vantor.uuid4()
AS = {
    "vantor": lambda v: v,
    "std": lambda v: uuid.UUID(str(v)),
    "text": str,
    "hex": lambda v: v.hex,
    "upper-braces": lambda v: "{" + str(v).upper() + "}",
    "int": lambda v: v.int,
}


@pytest.mark.parametrize("form", AS)
def test_save_load_and_lookup(table, form):
    convert = AS[form]
    thing = Thing.objects.create(ref=convert(REF))
    assert type(thing.id) is vantor.UUID and thing.id.version == 7
    # Converted when assigned, so equal to the same row read back.
    assert type(thing.ref) is vantor.UUID and thing.ref == REF
    given = Thing(id=convert(REF))
    assert type(given.id) is vantor.UUID and given.id == REF
    loaded = Thing.objects.get(pk=convert(thing.id))
    assert loaded == thing
    assert type(loaded.id) is vantor.UUID and type(loaded.ref) is vantor.UUID
    assert loaded.ref == REF
    assert Thing.objects.filter(ref=convert(REF), pk__in=[convert(thing.id)]).count() == 1
    assert Thing.objects.filter(pk=thing.id).values_list("id", flat=True).get() == thing.id
    thing.delete()


@pytest.mark.parametrize("value", ["not a uuid", str(REF)[:-1], 2**128, -1, 3.5])
def test_invalid_values_are_validation_errors(value):
    # Kept when assigned, refused by validation under the field's name, as Django's field does.
    with pytest.raises(ValidationError) as caught:
        Thing(ref=value).full_clean()
    assert caught.value.message_dict["ref"] == [f"“{value}” is not a valid UUID."]


@pytest.mark.parametrize(
    ("default", "written", "imports"),
    [
        (vantor.uuid7, "vantor.uuid7", {"import vantor"}),
        (vantor.uuid4, "vantor.uuid4", {"import vantor"}),
        (vantor.std.uuid7, "vantor.std.uuid7", {"import vantor.std"}),
        (uuid.uuid4, "uuid.uuid4", {"import uuid"}),
    ],
)
def test_migrations_write_importable_defaults(default, written, imports):
    field = UUIDField(primary_key=True, default=default)
    text, needed = MigrationWriter.serialize(field)
    assert text == f"vantor.django.UUIDField(default={written}, primary_key=True)"
    assert needed == imports | {"import vantor.django"}
    # What the migration file will evaluate gives back the very function.
    namespace = {}
    for line in needed:
        exec(line, namespace)
    assert eval(written, namespace) is default


def test_migration_file_of_a_model():
    from django.db import migrations

    migration = type(
        "Migration",
        (migrations.Migration,),
        {
            "operations": [
                migrations.CreateModel(
                    "Order", [("id", UUIDField(primary_key=True, default=vantor.uuid7))]
                )
            ]
        },
    )("0001_initial", "shop")
    source = MigrationWriter(migration).as_string()
    assert "import vantor\n" in source and "_vantor" not in source
    assert "default=vantor.uuid7" in source
    compile(source, "0001_initial.py", "exec")


def test_expressions_assigned_are_left_for_the_save(table):
    from django.db.models import F

    thing = Thing.objects.create()
    thing.ref = F("id")
    thing.save()
    thing.refresh_from_db()
    assert type(thing.ref) is vantor.UUID and thing.ref == thing.id
    thing.delete()
