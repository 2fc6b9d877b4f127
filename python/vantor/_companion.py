"""Loads the companion extension module `vantor._native` from the file that holds `_vantor`.

Both modules live in one shared object: the dynamic loader returns the library that is already
loaded for `_vantor`, so the two share one core, with its per-thread generators, its version-7
counter, its clock sequence and its node.
"""
from __future__ import annotations

import importlib
import importlib.machinery
import importlib.util
import sys
from types import ModuleType

NAME = "vantor._native"


def load() -> ModuleType:
    module = sys.modules.get(NAME)
    if module is not None:
        return module
    path = importlib.import_module("_vantor").__file__
    assert path is not None
    loader = importlib.machinery.ExtensionFileLoader(NAME, path)
    spec = importlib.machinery.ModuleSpec(NAME, loader, origin=path)
    spec.has_location = True  # so that the module gets its __file__
    module = importlib.util.module_from_spec(spec)
    sys.modules[NAME] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del sys.modules[NAME]
        raise
    return module
