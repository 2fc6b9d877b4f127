"""Runs every Python code block of the README and of the documentation pages (docs/), each on its
own in a fresh interpreter.

Each block is what a reader copies: it brings its own imports and sample data, and runs alone.
A fresh interpreter per block, because blocks change process-wide state as a user's program
would (Django's settings, psycopg's global adapters, FastAPI's encoders). Interactive blocks
(`>>>`) run their statements; their printed values are examples (random UUIDs), not checked.
Blocks that talk to PostgreSQL get the test server's DSN in place of the one written in the
text, and skip with the reason where there is no server (they fail in CI instead).
"""
import ast
import doctest
import re
import subprocess
import sys
from importlib.util import find_spec
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parents[3]
README = ROOT / "README.md"
# The README first, then every page of the site, in subdirectories too.
PAGES = [README, *sorted((ROOT / "docs").rglob("*.md"))]
README_DSN = '"postgresql://postgres@127.0.0.1/postgres"'
# Libraries that lack wheels for some Python versions, and the reason their blocks skip.
WHY_MISSING = {
    "orjson": "orjson has no wheel for this Python version yet",
    "duckdb": "duckdb is not installed (no wheel is installed for this Python version)",
    "pyspark": "pyspark is not installed (Spark is not part of the test requirements)",
}


def blocks(page):
    """(section title, source) of every Python block of one page, in order."""
    found = []
    title = "top"
    fence = re.compile(r"^```(\w*)\n(.*?)^```", re.S | re.M)
    position = 0
    text = page.read_text(encoding="utf-8")
    for match in fence.finditer(text):
        headings = re.findall(r"^#{1,3} (.+)$", text[position : match.start()], re.M)
        if headings:
            title = headings[-1]
        position = match.end()  # headings are read between blocks, never inside one
        language, body = match.groups()
        if language != "python":
            continue
        if body.lstrip().startswith(">>>"):
            body = "".join(example.source for example in doctest.DocTestParser().get_examples(body))
        found.append((title, body))
    return found


def params():
    seen = {}
    result = []
    for page in PAGES:
        name = page.relative_to(ROOT).as_posix()
        for title, source in blocks(page):
            key = f"{name}: {title}"
            seen[key] = seen.get(key, 0) + 1
            result.append(pytest.param(source, id=f"{key} #{seen[key]}"))
    return result


def imported_modules(source):
    names = set()
    for node in ast.walk(ast.parse(source)):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module and not node.level:
            names.add(node.module.split(".")[0])
    return names


def test_every_recipe_page_has_a_block():
    pages = {page.relative_to(ROOT).as_posix() for page in PAGES if blocks(page)}
    assert pages >= {
        "README.md",
        "docs/quickstart.md",
        "docs/bulk.md",
        "docs/std.md",
        "docs/integrations/pydantic.md",
        "docs/integrations/psycopg.md",
        "docs/integrations/asyncpg.md",
        "docs/integrations/sqlalchemy.md",
        "docs/integrations/django.md",
        "docs/integrations/rest_framework.md",
        "docs/integrations/json.md",
        "docs/integrations/dataframes.md",
    }


def test_readme_blocks_use_public_names_only():
    # The landing page shows what a user may rely on: no underscored name of the package.
    for title, source in blocks(README):
        for node in ast.walk(ast.parse(source)):
            if isinstance(node, ast.Attribute) and node.attr.startswith("_") and not node.attr.startswith("__"):
                pytest.fail(f"README block under {title!r} uses {node.attr}")


@pytest.mark.parametrize("source", params())
def test_block_runs_alone(source, request, tmp_path):
    for name in sorted(imported_modules(source)):
        if find_spec(name) is None:
            pytest.skip(WHY_MISSING.get(name, f"{name} is not installed"))
    if find_spec("_ssl") is None and ("parquet" in source or "dask" in imported_modules(source)):
        pytest.skip("this interpreter has no ssl module, which pyarrow.parquet and dask import")
    if README_DSN in source:
        source = source.replace(README_DSN, repr(request.getfixturevalue("postgres_dsn")))
    # In a directory of its own, for the files a block writes.
    done = subprocess.run(
        [sys.executable, "-c", source], capture_output=True, text=True, timeout=180, cwd=tmp_path
    )
    assert done.returncode == 0, done.stderr[-3000:]
