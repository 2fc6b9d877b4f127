#!/usr/bin/env bash
# Prepares this checkout for use: a virtual environment for the chosen Python with the build tools
# (scikit-build-core, CMake, Ninja, all from PyPI), and vantor built and installed into it. It
# installs nothing system-wide: a missing C++ compiler or Python 3.11+ is named, and it stops.
# The interpreter is $PYTHON if given, else python$PYTHON_VERSION (pyenv's or PATH's; Debian's own
# for 3.11), else the oldest Python from 3.12 on, else 3.11.
# Sourced by the other scripts; afterwards $VENV_PYTHON is the environment's interpreter.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

source "$ROOT/scripts/common.sh"

BASE_PYTHON=$(find_python)
check_build_tools "$BASE_PYTHON"
# X.Y, or X.Yt for a free-threaded build, whose modules are not binary-compatible with the other's:
# each has its own environment and build tree.
PYTAG=$("$BASE_PYTHON" -c 'import sys, sysconfig
print("%d.%d%s" % (*sys.version_info[:2], "t" if sysconfig.get_config_var("Py_GIL_DISABLED") else ""))')
VENV="$ROOT/.venv-$PYTAG"
if [ ! -x "$VENV/bin/python" ]; then
  "$BASE_PYTHON" -m venv "$VENV"
fi
VENV_PYTHON="$VENV/bin/python"
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check --upgrade pip
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check "scikit-build-core>=0.11" cmake ninja
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
  -Cbuild-dir="build/py$PYTAG" "$ROOT"
export VENV_PYTHON VENV PYTAG
export PATH="$VENV/bin:$PATH"
