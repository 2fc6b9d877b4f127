"""The integration modules import their library only when imported, and name the extra to
install when it is missing."""
import subprocess
import sys
import textwrap

import pytest

MODULES = {
    "pydantic": "pydantic_core",
    "psycopg": "psycopg",
    "asyncpg": "asyncpg",
    "sqlalchemy": "sqlalchemy",
    "django": "django",
    "rest_framework": "rest_framework",
    "msgspec": "msgspec",
}


def run(source):
    done = subprocess.run(
        [sys.executable, "-c", textwrap.dedent(source)], capture_output=True, text=True, timeout=60
    )
    assert done.returncode == 0, done.stderr
    return done.stdout


def test_importing_vantor_imports_no_library():
    loaded = run(
        f"""
        import sys, vantor, vantor.std
        print(sorted(set({sorted(MODULES.values())!r}) & set(sys.modules)))
        """
    )
    assert loaded.strip() == "[]"


@pytest.mark.parametrize(("module", "library"), MODULES.items())
def test_missing_library_names_the_extra(module, library):
    message = run(
        f"""
        import sys
        sys.modules[{library!r}] = None  # as if it were not installed
        try:
            import vantor.{module}
        except ImportError as error:
            print(error)
        """
    )
    assert f"vantor.{module} needs" in message
    assert f"pip install 'vantor[{module}]'" in message


def test_std_and_bulk_are_loaded_on_first_use():
    report = run(
        """
        import sys, uuid, vantor
        lazy = {"vantor.std", "vantor.bulk", "vantor._native"}
        print(sorted(lazy & set(sys.modules)))
        assert isinstance(vantor.std.uuid7(), uuid.UUID)
        assert len(vantor.bulk.uuid4(2)) == 32
        import vantor.std, vantor.bulk
        assert vantor.std is sys.modules["vantor.std"] and vantor.bulk is sys.modules["vantor.bulk"]
        assert {"std", "bulk"} <= set(dir(vantor)) and not hasattr(vantor, "nope")
        try:
            vantor.nope
        except AttributeError as error:
            print(error)
        """
    )
    assert report.splitlines() == ["[]", "module 'vantor' has no attribute 'nope'"]
