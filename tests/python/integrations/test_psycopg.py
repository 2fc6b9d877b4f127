"""vantor.psycopg on a real PostgreSQL server: every way psycopg sends parameters, and loading."""
import subprocess
import sys
import textwrap
import uuid

import pytest

psycopg = pytest.importorskip("psycopg", reason="psycopg is not installed")

import vantor  # noqa: E402
import vantor.psycopg  # noqa: E402

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
