#!/usr/bin/env bash
# Checks the type stubs against the built module (stubtest) and type-checks the package's own
# Python code and a usage example with `mypy --strict`.
# PYTHON=/path/to/python selects an environment where vantor is built (default: .venv-3.12).
# The package's Python files and stubs are taken from this checkout, the extension from that
# environment, so edits are checked without reinstalling.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PY=${PYTHON:-$ROOT/.venv-3.12/bin/python}
if [ ! -x "$PY" ]; then
  echo "no interpreter at $PY; run scripts/setup.sh or set PYTHON=/path/to/python" >&2
  exit 1
fi
if ! "$PY" -c 'import mypy' >/dev/null 2>&1; then
  "$PY" -m pip install -q --disable-pip-version-check mypy
fi
# stubtest imports the integration modules, which import their libraries.
"$PY" -m pip install -q --disable-pip-version-check -r "$ROOT/tests/requirements.txt"

cd "$ROOT"
export PYTHONPATH="$ROOT/python${PYTHONPATH:+:$PYTHONPATH}"
# mypy finds the stubs through the interpreter's search path, which PYTHONPATH leads.
# Keep mypy's cache out of the source tree.
export MYPY_CACHE_DIR="$ROOT/build/mypy-cache"
mkdir -p "$MYPY_CACHE_DIR"

echo "== stubtest"
# Naming the package covers its submodules (vantor.std, vantor.__main__) as well. stubtest
# ignores MYPY_CACHE_DIR and writes its cache to the working directory, hence the cd.
(cd "$MYPY_CACHE_DIR" && "$PY" -m mypy.stubtest --mypy-config-file "$ROOT/pyproject.toml" \
  --allowlist "$ROOT/tests/typing/stubtest-allowlist.txt" vantor _vantor)
echo "== mypy --strict"
"$PY" -m mypy --strict -p vantor
"$PY" -m mypy --strict tests/typing/usage.py
"$PY" tests/typing/usage.py
echo "typecheck: all checks passed"
