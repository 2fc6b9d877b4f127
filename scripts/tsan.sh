#!/usr/bin/env bash
# The thread stress tests under ThreadSanitizer: a free-threaded CPython built with
# --with-thread-sanitizer (scripts/cpython.sh tsan, cached like the others), the module built with
# -fsanitize=thread into a venv of its own (.venv-3.14t-tsan, build tree build/py3.14t-tsan), and
# tests/python/test_stress.py run with the GIL off. Any report fails the run.
#
# The interpreter's own known races are suppressed with the list CPython ships for its
# free-threaded build (Tools/tsan/suppressions_free_threading.txt in the source tarball); nothing
# of vantor's is. Extra arguments go to pytest (the default is the stress tests alone).
#
#   bash scripts/tsan.sh --core
#
# runs the C++ core's GoogleTest suite, its thread tests included, built with -fsanitize=thread
# (build tree build/cpp-tsan): no interpreter to build, a few minutes in all. CI runs this; the
# interpreter's build alone would take 10 to 30 minutes of CI's budget on a fresh machine.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
started=$SECONDS
source "$ROOT/scripts/common.sh"
ensure_build_packages

if [ "${1:-}" = --core ]; then
  command -v cmake >/dev/null 2>&1 || apt_install cmake
  command -v ninja >/dev/null 2>&1 || apt_install ninja-build
  echo "== building the C++ core tests with -fsanitize=thread"
  cmake -S "$ROOT" -B "$ROOT/build/cpp-tsan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_TESTS=ON -DVANTOR_SANITIZE=thread \
    -DPython_EXECUTABLE="$(find_python)" >/dev/null
  cmake --build "$ROOT/build/cpp-tsan"
  echo "== GoogleTest under ThreadSanitizer"
  if TSAN_OPTIONS="halt_on_error=1:exitcode=66:second_deadlock_stack=1" \
     "$ROOT/build/cpp-tsan/vantor_core_tests" --gtest_brief=1; then
    echo "tsan.sh --core: passed in $((SECONDS - started)) s"
    exit 0
  fi
  echo "tsan.sh --core: FAIL after $((SECONDS - started)) s"
  exit 1
fi

PYTHON=$(bash "$ROOT/scripts/cpython.sh" tsan)
VENV="$ROOT/.venv-3.14t-tsan"
VPY="$VENV/bin/python"
LOGS=$(mktemp -d "${TMPDIR:-/tmp}/vantor-tsan.XXXXXX")
trap 'rm -rf "$LOGS"' EXIT

SUPPRESSIONS="$LOGS/suppressions.txt"
TARBALL=$(ls "$ROOT"/../shared/cpython/Python-*.tar.xz | sort -V | tail -n 1)
tar -xJOf "$TARBALL" --wildcards '*/Tools/tsan/suppressions_free_threading.txt' >"$SUPPRESSIONS"

# Setting up (venv, pip, the build) runs the instrumented interpreter too, with reports off: only
# the tests below are judged.
export PYTHON_GIL=0
quiet=(env TSAN_OPTIONS="report_bugs=0")
[ -x "$VPY" ] || "${quiet[@]}" "$PYTHON" -m venv "$VENV"
PIP=("${quiet[@]}" "$VPY" -m pip install -q --disable-pip-version-check)
"${PIP[@]}" "scikit-build-core>=0.11" cmake ninja pytest hypothesis
echo "[$((SECONDS - started)) s] == building the module with -fsanitize=thread"
"${PIP[@]}" --no-build-isolation --force-reinstall --no-deps -Cbuild-dir="build/py3.14t-tsan" \
  -Ccmake.build-type=RelWithDebInfo -Ccmake.define.VANTOR_SANITIZE=thread "$ROOT"

# Reports also go to files, so that one in a child process (the tests start fresh interpreters)
# is not lost in a captured stream. Exit code 66 marks a report.
echo "[$((SECONDS - started)) s] == pytest under ThreadSanitizer, GIL off"
status=0
(cd "$ROOT/tests/python" &&
  TSAN_OPTIONS="suppressions=$SUPPRESSIONS:halt_on_error=1:exitcode=66:second_deadlock_stack=1:log_path=$LOGS/report" \
    "$VPY" -m pytest -q -p no:cacheprovider "${@:-$ROOT/tests/python/test_stress.py}") || status=$?
reports=$(find "$LOGS" -name 'report*' -type f | sort)
for f in $reports; do
  echo "--- $(basename "$f")"
  head -c 20000 "$f"
done
if [ $status -ne 0 ] || [ -n "$reports" ]; then
  echo "tsan.sh: FAIL (pytest exit $status, $(echo "$reports" | grep -c . || true) report files) after $((SECONDS - started)) s"
  exit 1
fi
echo "tsan.sh: passed in $((SECONDS - started)) s"
