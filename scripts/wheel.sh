#!/usr/bin/env bash
# Builds the binary wheel for one platform as it would be published, and proves that it works
# there:
#
#   bash scripts/wheel.sh [PLATFORM] [arguments for pytest]
#
# PLATFORM is manylinux_x86_64 (the default), manylinux_aarch64, musllinux_x86_64 or win_amd64;
# its steps are in scripts/wheel/PLATFORM.sh, the steps they share in scripts/wheel/common.sh.
# Each platform
#   1. builds the wheel and repairs or checks its tag, into dist/;
#   2. checks the module: it exports its init functions only, names no build-machine path, and
#      the wheel carries the LICENSE;
#   3. installs the wheel into a fresh environment outside the source tree, from a PATH that
#      holds no compiler, with pip allowed binary wheels only;
#   4. runs the Python suite (tests/python) against that installed copy, on that platform.
# PYTHON=/path/to/python or PYTHON_VERSION=3.13 selects the interpreter where more than one can
# run the platform's wheel (default: the oldest from 3.12 on). PYTHON_VERSION=3.11 builds with
# Debian's python3.11, installed with its headers if missing; musllinux_x86_64 has no 3.11.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
PLATFORM=manylinux_x86_64
if [ $# -gt 0 ] && [ -f "$ROOT/scripts/wheel/$1.sh" ] && [ "$1" != common ]; then
  PLATFORM=$1
  shift
elif [ $# -gt 0 ] && [[ $1 =~ ^[a-z]+linux_|^win_ ]]; then
  echo "wheel.sh: unknown platform $1 (one of: $(ls "$ROOT"/scripts/wheel | sed -n 's/\.sh$//p' | grep -v '^common$' | tr '\n' ' '))" >&2
  exit 2
fi
source "$ROOT/scripts/common.sh"
ensure_requested_system_python
source "$ROOT/scripts/wheel/common.sh"
source "$ROOT/scripts/wheel/$PLATFORM.sh"
