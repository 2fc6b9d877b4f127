"""The extension module behind the `vantor` package; import `vantor` instead.

Every public name is documented where the package re-exports it (vantor/__init__.pyi).
"""

# The extension module behind the `vantor` package. Its classes name `vantor` as their module,
# so the full description lives in vantor/__init__.pyi and is re-exported here.
from vantor import *
from vantor import (
    __all__ as __all__,
    __version__ as __version__,
    _uuid4_int as _uuid4_int,
    _uuid7_int as _uuid7_int,
)
