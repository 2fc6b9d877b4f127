"""vantor.psycopg on a real PostgreSQL server: every way psycopg sends parameters, loading, binary
COPY, and the libraries beside it that expect psycopg's own `uuid.UUID`."""
import subprocess
import sys
import textwrap
import uuid

import pytest

psycopg = pytest.importorskip("psycopg", reason="psycopg is not installed")

import vantor  # noqa: E402
import vantor.psycopg  # noqa: E402
from vantor import bulk  # noqa: E402

VALUES = [vantor.uuid7(), vantor.uuid4(), vantor.NIL, vantor.MAX]


@pytest.fixture
def conn(postgres_dsn):
    """A connection with vantor registered on it alone, and an empty `uuid` table."""
    with psycopg.connect(postgres_dsn) as connection:
        vantor.psycopg.register(connection)
        connection.execute("CREATE TEMPORARY TABLE ids (n serial, id uuid)")
        yield connection


def stored(conn):
    """The table's values as text, in insertion order: what the server holds, no loader involved."""
    return [row[0] for row in conn.execute("SELECT id::text FROM ids ORDER BY n")]


@pytest.mark.parametrize("placeholder", ["%s", "%t", "%b"])
def test_execute(conn, placeholder):
    for value in VALUES:
        conn.execute(f"INSERT INTO ids (id) VALUES ({placeholder})", [value])
    assert stored(conn) == [str(v) for v in VALUES]


@pytest.mark.parametrize("placeholder", ["%s", "%t", "%b"])
def test_executemany_with_both_classes(conn, placeholder):
    rows = [(value,) for value in VALUES] + [(uuid.UUID(str(value)),) for value in VALUES]
    with conn.cursor() as cur:
        cur.executemany(f"INSERT INTO ids (id) VALUES ({placeholder})", rows)
    assert stored(conn) == [str(v) for v in VALUES] * 2


def test_comparison_in_where(conn):
    conn.execute("INSERT INTO ids (id) SELECT unnest(%s::uuid[])", [VALUES])
    (count,) = conn.execute("SELECT count(*) FROM ids WHERE id = %s", [VALUES[0]]).fetchone()
    assert count == 1


@pytest.mark.parametrize("fmt", ["text", "binary"])
def test_copy(conn, fmt):
    with conn.cursor() as cur:
        with cur.copy(f"COPY ids (id) FROM STDIN (FORMAT {fmt})") as copy:
            if fmt == "binary":
                copy.set_types(["uuid"])
            for value in VALUES:
                copy.write_row([value])
            copy.write_row([uuid.UUID(str(VALUES[0]))])
    assert stored(conn) == [str(v) for v in VALUES + VALUES[:1]]


@pytest.mark.parametrize("binary", [False, True])
def test_load_returns_vantor(postgres_dsn, binary):
    with psycopg.connect(postgres_dsn) as conn:
        vantor.psycopg.register(conn, load=True)
        rows = conn.execute("SELECT unnest(%s::uuid[])", [VALUES], binary=binary).fetchall()
    assert [row[0] for row in rows] == VALUES
    assert {type(row[0]) for row in rows} == {vantor.UUID}


def test_registration_scopes(postgres_dsn):
    value = VALUES[0]
    with psycopg.connect(postgres_dsn) as conn:
        # Without registration psycopg refuses the class; a cursor's registration stays there.
        with pytest.raises(psycopg.ProgrammingError, match="cannot adapt"):
            conn.execute("SELECT %s", [value])
        conn.rollback()
        cur = conn.cursor()
        vantor.psycopg.register(cur, load=True)
        assert cur.execute("SELECT %s::uuid", [value]).fetchone() == (value,)
        assert type(conn.execute("SELECT %s::uuid", [str(value)]).fetchone()[0]) is uuid.UUID


def test_loading_for_every_connection_is_refused():
    with pytest.raises(ValueError, match=r"needs a connection or cursor.*register\(conn, load=True\)"):
        vantor.psycopg.register(load=True)
    oid = psycopg.adapters.types["uuid"].oid
    for fmt in psycopg.pq.Format:
        assert psycopg.adapters.get_loader(oid, fmt).__module__.startswith("psycopg")


def test_global_registration(postgres_dsn):
    # Registering for every connection changes the process, so it runs in a child of its own.
    script = textwrap.dedent(
        """
        import sys, uuid, psycopg, vantor, vantor.psycopg
        vantor.psycopg.register()
        value = vantor.uuid7()
        with psycopg.connect(sys.argv[1]) as conn:
            (result,) = conn.execute("SELECT %s", [value]).fetchone()
        # Loading stays with the standard class unless asked for.
        assert type(result) is uuid.UUID and str(result) == str(value), result
        """
    )
    subprocess.run([sys.executable, "-c", script, postgres_dsn], check=True, timeout=60)


@pytest.mark.parametrize("count", [0, 1, 3, 10_000])
def test_copy_binary(conn, count):
    data = bulk.uuid7(count)
    with conn.cursor() as cur:
        with cur.copy("COPY ids (id) FROM STDIN (FORMAT BINARY)") as copy:
            copy.write(vantor.psycopg.copy_binary(data))
    assert stored(conn) == [str(vantor.UUID(bytes=data[i : i + 16])) for i in range(0, len(data), 16)]


def test_copy_binary_takes_any_buffer_of_whole_uuids():
    data = bulk.uuid4(2)
    expected = vantor.psycopg.copy_binary(data)
    assert vantor.psycopg.copy_binary(bytearray(data)) == expected
    assert vantor.psycopg.copy_binary(memoryview(data)) == expected
    with pytest.raises(ValueError, match="16 bytes per UUID, got 31"):
        vantor.psycopg.copy_binary(data[:-1])


# The README's lines, then the stock UUID columns of SQLAlchemy and Django on the same server,
# in a child: registering for every connection changes the process.
STOCK_COLUMNS_BESIDE_VANTOR = """
import sys, urllib.parse, uuid
import psycopg, vantor, vantor.psycopg

dsn = sys.argv[1]
vantor.psycopg.register()
with psycopg.connect(dsn) as conn:
    vantor.psycopg.register(conn, load=True)
    mine = conn.execute("SELECT %s::uuid", [vantor.uuid7()]).fetchone()[0]
    assert type(mine) is vantor.UUID

import sqlalchemy
from sqlalchemy.orm import DeclarativeBase, Mapped, Session, mapped_column

class Base(DeclarativeBase):
    pass

class Stock(Base):
    __tablename__ = "stock_sqlalchemy"
    id: Mapped[uuid.UUID] = mapped_column(primary_key=True, default=uuid.uuid4)
    ref: Mapped[uuid.UUID | None]

engine = sqlalchemy.create_engine(dsn.replace("postgresql://", "postgresql+psycopg://"))
Base.metadata.create_all(engine)
with Session(engine) as session:
    row = Stock(ref=uuid.uuid4())
    session.add(row)
    session.flush()
    session.expire(row, ["ref"])
    assert type(row.ref) is uuid.UUID
    assert session.scalars(sqlalchemy.select(Stock).where(Stock.id == row.id)).one() is row
    assert session.get(Stock, row.id) is row
    assert type(session.scalars(sqlalchemy.select(Stock.id)).one()) is uuid.UUID
    session.commit()
engine.dispose()

import django
from django.conf import settings

parts = urllib.parse.urlsplit(dsn)
settings.configure(DATABASES={"default": {
    "ENGINE": "django.db.backends.postgresql", "NAME": parts.path.lstrip("/"),
    "USER": parts.username, "HOST": parts.hostname, "PORT": parts.port,
}})
django.setup()
from django.db import connection, models

class Thing(models.Model):
    id = models.UUIDField(primary_key=True, default=uuid.uuid4)
    ref = models.UUIDField(null=True)

    class Meta:
        app_label = "stock"

with connection.schema_editor() as editor:
    editor.create_model(Thing)
thing = Thing.objects.create(ref=uuid.uuid4())
loaded = Thing.objects.get(pk=thing.pk)
assert type(loaded.pk) is type(loaded.ref) is uuid.UUID and loaded == thing
loaded.ref = uuid.uuid4()
loaded.full_clean()
loaded.save()
assert Thing.objects.get(ref=loaded.ref) == thing
"""


def test_stock_uuid_columns_keep_working_beside_vantor(postgres_dsn):
    pytest.importorskip("sqlalchemy", minversion="2", reason="SQLAlchemy 2 is not installed")
    pytest.importorskip("django", reason="Django is not installed")
    done = subprocess.run(
        [sys.executable, "-c", STOCK_COLUMNS_BESIDE_VANTOR, postgres_dsn],
        capture_output=True, text=True, timeout=120,
    )
    assert done.returncode == 0, done.stderr[-3000:]
