"""vantor: fast, exact RFC 4122 / RFC 9562 UUIDs with a C++ core.

Every public name of the extension module `_vantor` is offered here; `vantor.UUID` is the class,
which names this package as its module so that pickles refer to `vantor.UUID`.
"""
from _vantor import *  # noqa: F401,F403
from _vantor import __all__, __version__  # noqa: F401
