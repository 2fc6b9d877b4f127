#!/usr/bin/env bash
# Builds vantor into .venv-X.Y (see scripts/setup.sh) and runs its command line:
# `bash scripts/run.sh [options]`, e.g. `bash scripts/run.sh -u uuid7 -C 5`. It needs a C++ compiler
# and Python 3.11 or later, and installs no system package and no test tool.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh" >&2
exec "$VENV_PYTHON" -m vantor "$@"
