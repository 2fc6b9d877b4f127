"""Loads the companion extension module `vantor._native` from the file that holds `_vantor`.

Both modules live in one shared object: the dynamic loader returns the library that is already
loaded for `_vantor`, so the two share one core, with its per-thread generators, its version-7
counter, its clock sequence and its node.
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
