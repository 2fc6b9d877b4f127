"""Loads the companion extension module `vantor._native` from the file that holds `_vantor`.

Both modules live in one shared object: the dynamic loader returns the library that is already
loaded for `_vantor`, so the two share one core, with its per-thread generators, its version-7
counter, its clock sequence and its node.
"""
from __future__ import annotations

import importlib.machinery
import importlib.util
import sys
from types import ModuleType

import _vantor

NAME = "vantor._native"


def load() -> ModuleType:
    module = sys.modules.get(NAME)
    if module is not None:
        return module
    loader = importlib.machinery.ExtensionFileLoader(NAME, _vantor.__file__)
    spec = importlib.util.spec_from_file_location(NAME, _vantor.__file__, loader=loader)
    assert spec is not None
    module = importlib.util.module_from_spec(spec)
    sys.modules[NAME] = module
    try:
        loader.exec_module(module)
    except BaseException:
        del sys.modules[NAME]
        raise
    return module
