"""Docstrings where people look: the typing stubs (editors show them) and every module."""
import ast
from pathlib import Path

import pytest

PYTHON = Path(__file__).resolve().parents[3] / "python"


def undocumented(tree):
    """Public names defined in a stub without a docstring: functions, classes, methods,
    properties and constants (a string right after a constant's assignment)."""
    missing = []

    def walk(body, prefix):
        for index, node in enumerate(body):
            if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
                public = not node.name.startswith("_") or node.name in {
                    "_uuid4_int",
                    "_uuid7_int",
                    "__getnewargs__",
                    "__deepcopy__",
                }
                if public and ast.get_docstring(node) is None:
                    missing.append(prefix + node.name)
                if isinstance(node, ast.ClassDef):
                    walk(node.body, f"{prefix}{node.name}.")
            elif isinstance(node, ast.AnnAssign) and not prefix:
                name = node.target.id
                following = body[index + 1] if index + 1 < len(body) else None
                documented = isinstance(following, ast.Expr) and isinstance(
                    following.value, ast.Constant
                )
                if name != "__all__" and not documented:
                    missing.append(name)

    walk(tree.body, "")
    return missing


@pytest.mark.parametrize("stub", ["vantor/__init__.pyi", "_vantor.pyi"])
def test_stubs_document_every_public_name(stub):
    tree = ast.parse((PYTHON / stub).read_text(encoding="utf-8"))
    assert ast.get_docstring(tree)
    assert undocumented(tree) == []


@pytest.mark.parametrize(
    "module",
    ["vantor", "vantor.std", "vantor.pydantic", "vantor.psycopg", "vantor.asyncpg",
     "vantor.sqlalchemy", "vantor.django", "vantor.rest_framework", "vantor.msgspec"],
)
def test_modules_have_docstrings(module):
    source = PYTHON / (module.replace(".", "/") + ".py")
    if not source.exists():
        source = PYTHON / module.replace(".", "/") / "__init__.py"
    assert ast.get_docstring(ast.parse(source.read_text(encoding="utf-8")))
