"""Loads the companion extension module `vantor._native` from the file that holds `_vantor`, and
gives the class the pydantic methods the package adds to it.

Both modules live in one shared object: the dynamic loader returns the library that is already
loaded for `_vantor`, so the two share one core, with its per-thread generators, its version-7
counter, its clock sequence and its node.

The pydantic stand-ins live here rather than in a module of their own because `import vantor`
loads this module anyway: one more file to find and read would cost the import more than they do.
"""
from __future__ import annotations

import sys
from types import ModuleType

# The import system's own classes, which `importlib.machinery` and `importlib.util` re-export.
# Taken from where the interpreter already holds them: importing the `importlib` package would
# cost `import vantor`, which loads this module, more than the rest of its work.
from _frozen_importlib import ModuleSpec, module_from_spec
from _frozen_importlib_external import ExtensionFileLoader

NAME = "vantor._native"


def load() -> ModuleType:
    module = sys.modules.get(NAME)
    if module is not None:
        return module
    path = __import__("_vantor").__file__
    assert path is not None
    loader = ExtensionFileLoader(NAME, path)
    spec = ModuleSpec(NAME, loader, origin=path)
    spec.has_location = True  # so that the module gets its __file__
    module = module_from_spec(spec)
    sys.modules[NAME] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del sys.modules[NAME]
        raise
    return module


# pydantic asks a field's class for these two, so with them a bare `vantor.UUID` annotation works
# in pydantic 2 and FastAPI, exactly as `vantor.pydantic.UUID` does.
PYDANTIC_METHODS = ("__get_pydantic_core_schema__", "__get_pydantic_json_schema__")


class _PydanticMethod:
    """One of the two methods, taken from vantor.pydantic (which imports pydantic) when pydantic
    first calls it, so that importing vantor imports no pydantic.

    An instance, not a function, so that reading it from the class or an instance gives it as it
    is, with no binding. Its call takes exactly two parameters: pydantic passes the handler only
    to a callable whose signature has two."""

    __slots__ = ("_name",)

    def __init__(self, name: str) -> None:
        self._name = name

    def __call__(self, source: object, handler: object) -> object:
        from vantor.pydantic import _ANY_VERSION  # a dictionary look-up after the first call

        return getattr(_ANY_VERSION, self._name)(source, handler)

    def __repr__(self) -> str:
        return f"<vantor.pydantic stand-in {self._name}>"


def add_pydantic_methods(cls: type) -> None:
    """Called once, while `import vantor` runs and before any other thread can reach the package:
    afterwards the class's dict is only read, which keeps free-threaded builds free of races."""
    for name in PYDANTIC_METHODS:
        setattr(cls, name, _PydanticMethod(name))
