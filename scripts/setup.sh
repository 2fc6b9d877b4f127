#!/usr/bin/env bash
# Prepares this checkout on a fresh machine: system packages (GoogleTest), a virtual environment
# for the chosen Python and vantor built and installed into it. The interpreter is $PYTHON if
# given, else pyenv's or PATH's python$PYTHON_VERSION (default 3.12).
# Sourced by the other scripts; afterwards $VENV_PYTHON is the environment's interpreter.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

source "$ROOT/scripts/common.sh"
ensure_build_packages

BASE_PYTHON=$(find_python)
PYTAG=$("$BASE_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
VENV="$ROOT/.venv-$PYTAG"
if [ ! -x "$VENV/bin/python" ]; then
  "$BASE_PYTHON" -m venv "$VENV"
fi
VENV_PYTHON="$VENV/bin/python"
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check --upgrade pip
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check \
  "scikit-build-core>=0.10" cmake ninja pytest hypothesis
"$VENV_PYTHON" -m pip install -q --disable-pip-version-check --no-build-isolation \
  -Cbuild-dir="build/py$PYTAG" "$ROOT"
export VENV_PYTHON VENV PYTAG
export PATH="$VENV/bin:$PATH"
