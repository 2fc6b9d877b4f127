#!/usr/bin/env bash
# CI's free-threaded step: builds (or reuses, see scripts/cpython.sh) a CPython built with
# --disable-gil, runs every test on it with the GIL forced off, then checks that importing vantor
# leaves the GIL off by itself, with warnings as errors (an extension module that does not declare
# Py_mod_gil turns the GIL back on with a RuntimeWarning). Extra arguments go to pytest.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
started=$SECONDS
PYTHON=$(bash "$ROOT/scripts/cpython.sh" freethreaded)
# The stubs are checked on GIL builds: stubtest imports every integration's library, and some
# publish no free-threaded wheel.
PYTHON="$PYTHON" PYTHON_GIL=0 VANTOR_TESTS=${VANTOR_TESTS:-cpp python} bash "$ROOT/scripts/test.sh" "$@"
# The environment scripts/setup.sh made for this interpreter (named X.Yt).
tag=$("$PYTHON" -c 'import sys; print("%d.%dt" % sys.version_info[:2])')
env -u PYTHON_GIL "$ROOT/.venv-$tag/bin/python" -W error -c \
  "import vantor, vantor.bulk, sys; assert not sys._is_gil_enabled(), 'importing vantor enabled the GIL'"
echo "freethreaded.sh: passed in $((SECONDS - started)) s"
