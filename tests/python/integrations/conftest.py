"""Fixtures for the integration tests: a real PostgreSQL server and a fresh database on it.

The server is the one named by $VANTOR_TEST_POSTGRES (a DSN; CI starts one with
scripts/postgres.sh), else a throwaway cluster started here with the same script. Without a
server the PostgreSQL tests skip and say why, except in CI, where they fail.
"""
import os
import secrets
import subprocess
import urllib.parse
from pathlib import Path

import pytest

SCRIPT = Path(__file__).resolve().parents[3] / "scripts" / "postgres.sh"


def _unavailable(reason):
    if os.environ.get("CI") == "true":
        pytest.fail(f"PostgreSQL is required in CI: {reason}")
    pytest.skip(f"no PostgreSQL server: {reason}")


def _start_cluster():
    """Starts a throwaway cluster; returns (dsn, directory)."""
    if not SCRIPT.exists():
        _unavailable(f"{SCRIPT} is missing")
    env = dict(os.environ, VANTOR_POSTGRES_NO_INSTALL="1")
    try:
        done = subprocess.run(
            ["bash", str(SCRIPT), "start"], capture_output=True, text=True, env=env, timeout=180
        )
    except FileNotFoundError:  # Windows: give the server in $VANTOR_TEST_POSTGRES instead
        _unavailable("no bash to run scripts/postgres.sh")
    if done.returncode != 0:
        _unavailable(f"scripts/postgres.sh start failed: {done.stderr.strip()[-500:]}")
    exported = dict(
        line.removeprefix("export ").split("=", 1) for line in done.stdout.splitlines()
    )
    return exported["VANTOR_TEST_POSTGRES"], exported["VANTOR_POSTGRES_DIR"]


@pytest.fixture(scope="session")
def postgres_server():
    """The DSN of a running PostgreSQL server."""
    dsn = os.environ.get("VANTOR_TEST_POSTGRES")
    if dsn:
        yield dsn
        return
    dsn, directory = _start_cluster()
    try:
        yield dsn
    finally:
        subprocess.run(["bash", str(SCRIPT), "stop", directory], capture_output=True)


@pytest.fixture(scope="session")
def postgres_dsn(postgres_server):
    """The DSN of a database of our own, so that concurrent runs on one server stay apart."""
    psycopg = pytest.importorskip("psycopg", reason="psycopg is needed to create the database")
    name = f"vantor_test_{secrets.token_hex(4)}"
    try:
        admin = psycopg.connect(postgres_server, autocommit=True)
    except psycopg.OperationalError as error:
        _unavailable(f"cannot connect to {postgres_server}: {error}")
    with admin:
        admin.execute(f"CREATE DATABASE {name}")
    try:
        yield urllib.parse.urlsplit(postgres_server)._replace(path=f"/{name}").geturl()
    finally:
        with psycopg.connect(postgres_server, autocommit=True) as admin:
            admin.execute(f"DROP DATABASE IF EXISTS {name} WITH (FORCE)")
