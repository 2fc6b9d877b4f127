#!/usr/bin/env bash
# Prepares this checkout on a fresh machine: system packages (GoogleTest), a virtual environment
# for the chosen Python and vantor built and installed into it. The interpreter is $PYTHON if
# given, else pyenv's or PATH's python$PYTHON_VERSION (default 3.12).
# Sourced by the other scripts; afterwards $VENV_PYTHON is the environment's interpreter.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

find_python() {
  if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
  local want=${PYTHON_VERSION:-3.12}
  if command -v pyenv >/dev/null 2>&1; then
    local v
    v=$(pyenv versions --bare 2>/dev/null | grep -E "^${want//./\\.}(\.|\$)" | tail -n 1 || true)
    if [ -n "$v" ]; then echo "$(pyenv root)/versions/$v/bin/python$want"; return; fi
  fi
  local candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$want"*/bin/python"$want"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return; fi
  done
  command -v "python$want" || { echo "no Python $want found; set PYTHON=/path/to/python" >&2; exit 1; }
}

need_apt=()
[ -f /usr/include/gtest/gtest.h ] || need_apt+=(libgtest-dev)
command -v g++ >/dev/null 2>&1 || need_apt+=(g++)
if [ ${#need_apt[@]} -gt 0 ]; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO=sudo
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need_apt[@]}" >/dev/null
fi

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
