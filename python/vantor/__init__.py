"""vantor: fast, exact RFC 4122 / RFC 9562 UUIDs with a C++ core.

Every public name of the extension module `_vantor` is offered here; `vantor.UUID` is the class,
which names this package as its module so that pickles refer to `vantor.UUID`.

    import vantor
    vantor.uuid7()                                  # UUID('01938a4b-7c5e-7f3a-...')
    vantor.uuid5(vantor.NAMESPACE_DNS, "example.org")
    vantor.std.uuid7()                              # the same generators, as uuid.UUID
    vantor.bulk.uuid7(1_000_000)                    # a million in one buffer

`vantor.UUID` hashes like the standard `uuid.UUID` of the same value but never equals it, and
ordering one against the other (`<`, `sorted` of a mixed list) raises TypeError. Where other
code wants the standard class, `vantor.std` has the same generators returning it; the
integration modules `vantor.pydantic`, `vantor.psycopg`, `vantor.asyncpg`, `vantor.sqlalchemy`,
`vantor.django`, `vantor.rest_framework` and `vantor.msgspec` let those libraries take
`vantor.UUID` as it is.

`vantor.std` and `vantor.bulk` are loaded on first use, so `import vantor` costs nothing more.
`vantor.PanicException` is the class of the internal failures the extension raises (a
BaseException, so `except Exception` does not catch it), for use in an `except` clause.
"""
from _vantor import *  # noqa: F401,F403
from _vantor import __all__, __version__  # noqa: F401

# Submodules reachable as attributes of the package, imported when first named.
_LAZY = ("std", "bulk")


def __getattr__(name: str) -> object:
    if name in _LAZY:
        import importlib

        # Importing a submodule also binds it on the package: later lookups are direct.
        return importlib.import_module(f"{__name__}.{name}")
    if name == "PanicException":
        from vantor import _companion

        return _companion.load().PanicException
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted(set(globals()) | set(_LAZY) | {"PanicException"})
