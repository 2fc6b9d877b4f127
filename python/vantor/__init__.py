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
import sys as _sys
from _thread import RLock as _RLock
from types import ModuleType as _ModuleType

from _vantor import *  # noqa: F401,F403
from _vantor import __all__, __version__  # noqa: F401
from vantor import _companion as _companion

PanicException = _companion.load().PanicException


# `std` and `bulk` are named here before they are imported, rather than found by a module
# `__getattr__`: a package with one reads every attribute (`vantor.uuid4` too) through the slow
# path, some 17 ns a call on 3.12 to 3.14, which is half the cost of `uuid4()` itself.
class _Submodule(_ModuleType):
    """A submodule that runs its code, in place, the first time anything reads an attribute of it.

    It is the one module object for its name (in `sys.modules` and on the package), so every
    reference taken before then stays valid. Once loaded it is a plain module again."""

    def __getattribute__(self, name: str) -> object:
        _load(self)
        return _ModuleType.__getattribute__(self, name)

    def __dir__(self) -> list[str]:
        _load(self)
        return _ModuleType.__dir__(self)


_loading = _RLock()
_running: set[str] = set()  # submodules whose code is running now, in the thread holding the lock


def _load(module: _ModuleType) -> None:
    if type(module) is not _Submodule:
        return
    with _loading:  # a thread that comes while another loads waits for the whole module
        name = _ModuleType.__getattribute__(module, "__name__")
        if type(module) is not _Submodule or name in _running:
            return  # loaded meanwhile, or its own code reading what it has defined so far
        _running.add(name)
        try:
            _ModuleType.__getattribute__(module, "__spec__").loader.exec_module(module)
            module.__class__ = _ModuleType
        finally:
            _running.discard(name)


def _submodule(name: str) -> _ModuleType:
    from _frozen_importlib import module_from_spec
    from _frozen_importlib_external import PathFinder

    full_name = f"{__name__}.{name}"
    module = _sys.modules.get(full_name)
    if module is not None:  # imported already (the package itself is being reloaded)
        return module
    spec = PathFinder.find_spec(full_name, __path__)
    assert spec is not None and spec.loader is not None
    module = module_from_spec(spec)
    module.__class__ = _Submodule
    _sys.modules[spec.name] = module
    return module


std = _submodule("std")
bulk = _submodule("bulk")

# pydantic 2 (and so FastAPI) takes a bare `vantor.UUID` field; pydantic loads on first use.
_companion.add_pydantic_methods(UUID)  # noqa: F405
