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
    assert f"pip install 'vantor[{module.replace('_', '-')}]'" in message


def test_std_and_bulk_are_loaded_on_first_use():
    report = run(
        """
        import sys, types, uuid, vantor
        from vantor import std  # named before its first use: the same module object throughout
        # Their code has not run: it would have imported typing.
        print("typing" in sys.modules, type(std) is types.ModuleType)
        assert isinstance(std.uuid7(), uuid.UUID) and len(vantor.bulk.uuid4(2)) == 32
        import vantor.std, vantor.bulk
        assert std is vantor.std is sys.modules["vantor.std"] and vantor.bulk is sys.modules["vantor.bulk"]
        # Once loaded they are plain modules, and the package has no module __getattr__: either
        # would send every attribute read through the interpreter's slow path.
        assert type(std) is type(vantor.bulk) is types.ModuleType and "__getattr__" not in vars(vantor)
        assert {"std", "bulk", "PanicException"} <= set(dir(vantor)) and "uuid7" in dir(vantor.std)
        import importlib
        assert importlib.reload(vantor).std is std  # a reloaded package keeps its loaded submodules
        try:
            vantor.nope
        except AttributeError as error:
            print(error)
        """
    )
    assert report.splitlines() == ["False False", "module 'vantor' has no attribute 'nope'"]


def test_first_use_from_many_threads_runs_the_code_once():
    report = run(
        """
        import threading, uuid, vantor
        from vantor import std
        barrier = threading.Barrier(8)
        seen = []

        def use():
            barrier.wait()
            seen.append((std.uuid4, type(std.uuid7()), vantor.bulk.uuid4))

        threads = [threading.Thread(target=use) for _ in range(8)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        print(len(seen), len(set(seen)), seen[0][1] is uuid.UUID)
        """
    )
    assert report.split() == ["8", "1", "True"]
