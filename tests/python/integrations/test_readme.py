"""Runs every example of the README's section "Using vantor with …", each in a fresh interpreter.

A fresh interpreter per example, because the examples change process-wide state as a user's
program would (Django's settings, psycopg's global adapters). Examples that talk to PostgreSQL
get the test server's DSN in place of the one written in the README.
"""
import ast
import re
import subprocess
import sys
from importlib.util import find_spec
from pathlib import Path

import pytest

README = Path(__file__).resolve().parents[3] / "README.md"
README_DSN = '"postgresql://postgres@127.0.0.1/postgres"'
# Libraries that lack wheels for some Python versions, and the reason their examples skip.
WHY_MISSING = {"orjson": "orjson has no wheel for this Python version yet"}


def examples():
    text = README.read_text(encoding="utf-8")
    section = re.search(r"^## Using vantor with …\n(.*?)^## ", text, re.S | re.M).group(1)
    found = []
    for match in re.finditer(r"^### (.+?)\n(.*?)(?=^### |\Z)", section, re.S | re.M):
        title, body = match.groups()
        blocks = re.findall(r"^```python\n(.*?)^```", body, re.S | re.M)
        # Later blocks of one subsection build on the earlier ones.
        if blocks:
            found.append(pytest.param("\n".join(blocks), id=title))
    return found


def imported_modules(source):
    names = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module:
            names.add(node.module.split(".")[0])
    return names


def test_every_subsection_with_a_library_has_an_example():
    titles = {param.id for param in examples()}
    assert titles >= {
        "pydantic 2 and FastAPI",
        "psycopg 3",
        "asyncpg",
        "SQLAlchemy 2",
        "Django",
        "json, orjson, ujson and msgspec",
        "pyarrow and Parquet",
    }


@pytest.mark.parametrize("source", examples())
def test_example_runs(source, request):
    for name in sorted(imported_modules(source)):
        if find_spec(name) is None:
            pytest.skip(WHY_MISSING.get(name, f"{name} is not installed"))
    if README_DSN in source:
        source = source.replace(README_DSN, repr(request.getfixturevalue("postgres_dsn")))
    done = subprocess.run(
        [sys.executable, "-c", source], capture_output=True, text=True, timeout=120
    )
    assert done.returncode == 0, done.stderr
