#!/usr/bin/env bash
# Sets everything up and runs the vantor command line: `bash scripts/run.sh [options]`.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh" >&2
exec "$VENV_PYTHON" -m vantor "$@"
