#!/usr/bin/env bash
# Sets everything up and runs every test: the C++ core (GoogleTest) and the Python package (pytest).
# Beyond what scripts/setup.sh installs, the tests need GoogleTest and a C compiler (for the
# LD_PRELOAD shims) from Debian, installed if missing, and tests/requirements.txt from PyPI.
# PYTHON=/path/to/python or PYTHON_VERSION=3.13 selects the interpreter (default: the oldest from
# 3.12 on); PYTHON_VERSION=3.11 is Debian's python3.11, installed with its headers if missing.
# VANTOR_TESTS lists the parts to run, of "cpp typecheck python" (the default: all three). The
# C++ suite and the type checks hardly depend on the interpreter, so CI runs them once or twice,
# not once per Python.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_requested_system_python
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
ensure_build_packages
# Some libraries publish no wheel for every interpreter (a free-threaded one, a new release): if the
# whole list cannot be installed, each requirement is tried alone, as a wheel only, and the tests of
# a library that is missing skip with a reason.
if ! "$VENV_PYTHON" -m pip install -q --disable-pip-version-check -r "$ROOT/tests/requirements.txt"; then
  sed -e 's/#.*//' -e 's/[[:space:]]*$//' "$ROOT/tests/requirements.txt" | grep -v '^$' | while read -r requirement; do
    "$VENV_PYTHON" -m pip install -q --disable-pip-version-check --only-binary :all: "$requirement" ||
      echo "test.sh: no wheel of '$requirement' for this interpreter; its tests skip" >&2
  done
fi

PARTS=" ${VANTOR_TESTS:-cpp typecheck python} "

if [[ $PARTS == *" cpp "* ]]; then
  cmake -S "$ROOT" -B "$ROOT/build/cpp" -G Ninja -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$VENV_PYTHON" >/dev/null
  cmake --build "$ROOT/build/cpp"
  "$ROOT/build/cpp/vantor_core_tests" --gtest_brief=1
fi

if [[ $PARTS == *" typecheck "* ]]; then
  PYTHON="$VENV_PYTHON" bash "$ROOT/scripts/typecheck.sh"
fi

if [[ $PARTS == *" python "* ]]; then
  cd "$ROOT/tests/python"
  "$VENV_PYTHON" -m pytest -q -p no:cacheprovider "$ROOT/tests/python" "$@"
fi
