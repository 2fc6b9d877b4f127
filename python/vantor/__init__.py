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
import os as _os
import sys as _sys
from _thread import RLock as _RLock
from types import ModuleType as _ModuleType

# The import system's own pieces, which `importlib.machinery` and `importlib.util` re-export, taken
# from where the interpreter already holds them: importing the `importlib` package would cost
# `import vantor` more than the rest of its work. `_find_spec` is what `importlib.util.find_spec`
# calls: it asks every finder on `sys.meta_path`.
from _frozen_importlib import ModuleSpec as _ModuleSpec
from _frozen_importlib import _find_spec
from _frozen_importlib import module_from_spec as _module_from_spec
from _frozen_importlib_external import ExtensionFileLoader as _ExtensionFileLoader

from _vantor import *  # noqa: F401,F403
from _vantor import __all__, __version__  # noqa: F401


def _load_native() -> _ModuleType:
    """`vantor._native`: bulk generation and the native `vantor.std`, from the file of `_vantor`.

    Both modules live in one shared object: the dynamic loader returns the library already loaded
    for `_vantor`, so the two share one core, with its per-thread generators, its version-7
    counter, its clock sequence and its node."""
    name = f"{__name__}._native"
    module = _sys.modules.get(name)
    if module is not None:  # the package itself is being reloaded
        return module
    path = _sys.modules["_vantor"].__file__
    if path is None:
        raise ImportError(f"{name} is loaded from the file of _vantor, which has none", name=name)
    loader = _ExtensionFileLoader(name, path)
    spec = _ModuleSpec(name, loader, origin=path)
    spec.has_location = True  # so that the module gets its __file__
    module = _module_from_spec(spec)
    _sys.modules[name] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del _sys.modules[name]
        raise
    return module


_native = _load_native()
PanicException = _native.PanicException

# What the import system sets on a module before its code runs, and what tools that look at every
# module in `sys.modules` read (`repr()`, `inspect.getmodule()`, the `import` statement itself):
# a lazy submodule answers these without running its code, before its first use and after a
# failed one.
_IMPORT_METADATA = frozenset(
    {"__name__", "__spec__", "__loader__", "__package__", "__path__", "__file__", "__cached__", "__class__"}
)


# `std` and `bulk` are named here before they are imported, rather than found by a module
# `__getattr__`: a package with one reads every attribute (`vantor.uuid4` too) through the slow
# path, some 17 ns a call on 3.12 to 3.14, which is half the cost of `uuid4()` itself. This is
# `importlib.util.LazyLoader`'s idea, made here because that module costs an import of
# `importlib.util` and its `threading`, and because it neither survives a fork during a load nor
# shields code that runs inside the load (a signal handler, a finalizer) from the half-built module.
class _Submodule(_ModuleType):
    """A submodule that runs its code, in place, the first time anything reads an attribute of it.

    It is the one module object for its name (in `sys.modules` and on the package), so every
    reference taken before then stays valid. Once loaded it is a plain module again."""

    def __getattribute__(self, name: str) -> object:
        if name in _IMPORT_METADATA:
            return _ModuleType.__getattribute__(self, name)
        return _ModuleType.__getattribute__(_loaded(self, name), name)

    def __dir__(self) -> list[str]:
        return _ModuleType.__dir__(_loaded(self, "__dir__"))


_loading = _RLock()
# The submodules whose code is running now, all in the thread holding `_loading`, each with the
# complete copy made for code that interrupted its load (None until one is asked for).
_running: dict[str, _ModuleType | None] = {}
_BUILDING = _ModuleType("vantor._building")  # stands for a copy whose code is running


def _loaded(module: _ModuleType, name: str) -> _ModuleType:
    """`module` with its code run, or a complete copy of it for code that runs in the loading
    thread while that code runs and reads `name`."""
    with _loading:  # a thread that comes while another loads waits for the whole module
        # Loaded meanwhile, by another thread. A submodule made by an earlier run of this file
        # (the package was reloaded before its first use) is an instance of that run's class.
        if type(module) is _ModuleType:
            return module
        spec = _ModuleType.__getattribute__(module, "__spec__")
        if spec.name in _running:
            # The loader itself runs the code in the module's namespace, which it reads here.
            return module if name == "__dict__" else _copy_for_reentry(spec)
        namespace = _ModuleType.__getattribute__(module, "__dict__")
        before = namespace.copy()
        _running[spec.name] = None
        try:
            spec.loader.exec_module(module)
        except BaseException:
            # As the import system left it, so that the next use runs the code afresh.
            namespace.clear()
            namespace.update(before)
            raise
        finally:
            del _running[spec.name]
        module.__class__ = _ModuleType
        return module


def _copy_for_reentry(spec: _ModuleSpec) -> _ModuleType:
    # Only code that interrupts a load in the loading thread comes here (a signal handler, a
    # finalizer): it cannot wait for a load that waits for it to return, and the module it reads
    # is half-built. It gets the module's code run once more into a copy of its own. The state
    # lives in the extension modules, which both share.
    copy = _running[spec.name]
    if copy is _BUILDING:  # the module's own code, reading itself through the module object
        raise ImportError(
            f"cannot use partially initialized module {spec.name!r} from the code that loads it",
            name=spec.name,
        )
    if copy is None:
        _running[spec.name] = _BUILDING
        try:
            copy = _module_from_spec(spec)
            spec.loader.exec_module(copy)
        except BaseException:
            _running[spec.name] = None
            raise
        _running[spec.name] = copy
    return copy


def _after_fork_in_child() -> None:
    # Only the forking thread lives on in the child: a load begun by another thread will never
    # end, and its lock would be held for good. The interpreter resets its own import locks the
    # same way. That load's module stays unloaded; its first use in the child runs it again.
    global _loading
    if _loading.acquire(blocking=False):  # free, or held by this very thread
        _loading.release()
        return
    _loading = _RLock()
    _running.clear()


if hasattr(_os, "register_at_fork"):  # not on Windows, which has no fork
    _os.register_at_fork(after_in_child=_after_fork_in_child)


def _submodule(name: str) -> _ModuleType:
    full_name = f"{__name__}.{name}"
    module = _sys.modules.get(full_name)
    if module is not None:  # imported already (the package itself is being reloaded)
        return module
    # Through every finder on sys.meta_path, as an import statement would: the package may come
    # from a zip file, a freezer or an importer that keeps it in memory.
    spec = _find_spec(full_name, __path__)
    if spec is None or spec.loader is None:
        raise ModuleNotFoundError(f"No module named {full_name!r}", name=full_name)
    module = _module_from_spec(spec)
    module.__class__ = _Submodule
    _sys.modules[full_name] = module
    return module


std = _submodule("std")
bulk = _submodule("bulk")


class _PydanticMethod:
    """One of the two methods pydantic asks a field's class for, taken from vantor.pydantic (which
    imports pydantic) when pydantic first calls it: with them a bare `vantor.UUID` annotation works
    in pydantic 2 and FastAPI, exactly as `vantor.pydantic.UUID` does, and `import vantor` imports
    no pydantic.

    An instance, not a function, so that reading it from the class or an instance gives it as it
    is, with no binding. Its call takes exactly two parameters: pydantic passes the handler only
    to a callable whose signature has two. It lives here, not in a module of its own, because one
    more file to find and read would cost `import vantor` more than it does."""

    __slots__ = ("_name",)

    def __init__(self, name: str) -> None:
        self._name = name

    def __call__(self, source: object, handler: object) -> object:
        from vantor.pydantic import _ANY_VERSION  # a dictionary look-up after the first call

        return getattr(_ANY_VERSION, self._name)(source, handler)

    def __repr__(self) -> str:
        return f"<vantor.pydantic stand-in {self._name}>"


# Set once, while `import vantor` runs and before any other thread can reach the package: afterwards
# the class's dict is only read, which keeps free-threaded builds free of races.
for _name in ("__get_pydantic_core_schema__", "__get_pydantic_json_schema__"):
    setattr(UUID, _name, _PydanticMethod(_name))  # noqa: F405
del _name
