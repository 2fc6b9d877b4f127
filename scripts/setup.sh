#!/usr/bin/env bash
# Prepares this checkout on a fresh machine: system packages (GoogleTest), a virtual environment
# for the chosen Python (3.12 unless PYTHON is given) and vantor built and installed into it.
# Sourced by the other scripts; afterwards $VENV_PYTHON is the environment's interpreter.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

find_python() {
  if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
  if command -v pyenv >/dev/null 2>&1; then
    local v
    v=$(pyenv versions --bare 2>/dev/null | grep -E '^3\.12(\.|$)' | tail -n 1 || true)
    if [ -n "$v" ]; then echo "$(pyenv root)/versions/$v/bin/python3.12"; return; fi
  fi
  command -v python3.12 || { echo "no Python 3.12 found; set PYTHON=/path/to/python" >&2; exit 1; }
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
