#!/usr/bin/env bash
# Builds the C++ core tests and the extension module with AddressSanitizer and
# UndefinedBehaviorSanitizer, then runs the whole GoogleTest binary and the whole pytest suite
# against them. Any sanitizer report, in the test process or in any child process it starts,
# makes the run fail.
#
# The instrumented module goes into a venv of its own (.venv-X.Y-asan, build tree build/pyX.Y-asan)
# so that the normal environment of scripts/setup.sh is never touched.
# PYTHON=/path/to/python selects the interpreter (default: 3.12, found as scripts/setup.sh does).
# Extra arguments are passed to pytest. The tests see VANTOR_UNDER_ASAN=1, for the rare test that
# cannot run under the sanitizers to skip itself narrowly; the module never looks at it.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
SANITIZERS=address,undefined
EXTRA_PYTEST_ARGS=$#
LOGS=""
# A step that stops the script (a failed build, a missing tool) still ends on a FAIL line.
on_exit() {
  local status=$?
  [ -z "$LOGS" ] || rm -rf "$LOGS"
  if [ $status -ne 0 ] && [ -z "${VERDICT:-}" ]; then echo "sanitize: FAIL (a step failed, exit $status)"; fi
}
trap on_exit EXIT

source "$ROOT/scripts/common.sh"
ensure_build_packages

BASE_PYTHON=$(find_python)
PYTAG=$("$BASE_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
VENV="$ROOT/.venv-$PYTAG-asan"
[ -x "$VENV/bin/python" ] || "$BASE_PYTHON" -m venv "$VENV"
VPY="$VENV/bin/python"
PIP=("$VPY" -m pip install -q --disable-pip-version-check)
"${PIP[@]}" --upgrade pip
"${PIP[@]}" "scikit-build-core>=0.11" cmake ninja pytest hypothesis
export PATH="$VENV/bin:$PATH"

# RelWithDebInfo only adds -g (the targets' own -O3 comes later on the command line and wins),
# so reports carry file and line numbers while the code is optimised as shipped.
echo "[$SECONDS s] == building the module with -fsanitize=$SANITIZERS"
"${PIP[@]}" --no-build-isolation --force-reinstall --no-deps \
  -Cbuild-dir="build/py$PYTAG-asan" \
  -Ccmake.build-type=RelWithDebInfo \
  -Ccmake.define.VANTOR_SANITIZE="$SANITIZERS" \
  "$ROOT"

echo "[$SECONDS s] == building the C++ tests with -fsanitize=$SANITIZERS"
cmake -S "$ROOT" -B "$ROOT/build/cpp-asan" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_TESTS=ON -DVANTOR_SANITIZE="$SANITIZERS" \
  -DPython_EXECUTABLE="$VPY" >/dev/null
cmake --build "$ROOT/build/cpp-asan"

# Reports are fatal and also go to files: a child process (a CLI or shim test) whose death the
# test expected or ignored would otherwise hide its report. Any file in $LOGS fails the run.
# (The GoogleTest binary writes UBSan reports to its stderr, which is not captured.)
LOGS=$(mktemp -d "${TMPDIR:-/tmp}/vantor-sanitize.XXXXXX")
common_asan="halt_on_error=1:exitcode=86:strict_string_checks=1"
common_asan+=":detect_stack_use_after_return=1:check_initialization_order=1"
common_ubsan="halt_on_error=1:print_stacktrace=1:exitcode=87"

fail=0

echo "[$SECONDS s] == GoogleTest under ASan+UBSan"
if ASAN_OPTIONS="$common_asan:detect_leaks=1:log_path=$LOGS/gtest-asan" \
   UBSAN_OPTIONS="$common_ubsan" \
   "$ROOT/build/cpp-asan/vantor_core_tests" --gtest_brief=1; then
  :
else
  echo "GoogleTest failed (exit $?)"
  fail=1
fi

# The interpreter is not instrumented, so the ASan runtime must be loaded before anything else:
# LD_PRELOAD puts it first. The UBSan runtime is a separate library with GCC; it is preloaded
# too, so that it is there before the module is imported (see the helper below).
# PYTHONMALLOC=malloc routes every Python object through the (checked) C allocator, so that an
# overrun of an object the module created is seen as well.
# abort_on_error=1 ends the process with SIGABRT, on which pytest's faulthandler prints the
# Python stack: the report then names the test that triggered it.
# Leak detection stays off here: the interpreter keeps memory until exit by design.
# verify_asan_link_order=0: the shim tests put their own library in front of the existing
# LD_PRELOAD; the shims only wrap libc calls through dlsym(RTLD_NEXT), which ASan tolerates.
ASAN_RT=$(g++ -print-file-name=libasan.so)
UBSAN_RT=$(g++ -print-file-name=libubsan.so)
for rt in "$ASAN_RT" "$UBSAN_RT"; do
  [ -f "$rt" ] || { echo "sanitizer runtime $rt not found"; exit 1; }
done

# With GCC the UBSan handlers live in libubsan, which in a process that also has ASan ignores
# log_path and only writes to stderr, where pytest's capture (or a test's subprocess) can swallow
# it. This preloaded helper points libubsan's own report path at $LOGS as well.
HELPER="$ROOT/build/py$PYTAG-asan/ubsan_report_path.so"
cat >"$HELPER.c" <<'EOF_C'
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdlib.h>
__attribute__((constructor)) static void route_ubsan_reports(void) {
  const char* path = getenv("VANTOR_UBSAN_LOG_PATH");
  if (!path || !*path) return;
  void* ubsan = dlopen("libubsan.so.1", RTLD_NOW | RTLD_NOLOAD);
  if (!ubsan) return;
  void (*set_path)(const char*) = (void (*)(const char*))dlsym(ubsan, "__sanitizer_set_report_path");
  if (set_path) set_path(path);
}
EOF_C
cc -shared -fPIC -O2 -o "$HELPER" "$HELPER.c" -ldl

# Test files whose checks are defined in terms of the interpreter's own allocator run with it
# (still under ASan, which then sees the module's C allocations but not the objects' insides):
# test_refleaks.py (and test_bulk_refleaks.py, which uses its harness) counts
# sys.getallocatedblocks(), which is always 0 with PYTHONMALLOC=malloc, and its traced-memory slack is exceeded by interpreter caches (a standard uuid.UUID grows them
# alike) when ASan never reuses freed addresses. Everything else runs with PYTHONMALLOC=malloc.
PYMALLOC_FILES=(test_refleaks.py test_bulk_refleaks.py)

run_pytest() {
  local allocator=$1
  shift
  local status=0
  env LD_PRELOAD="$ASAN_RT $UBSAN_RT $HELPER${LD_PRELOAD:+ $LD_PRELOAD}" \
    VANTOR_UBSAN_LOG_PATH="$LOGS/py-ubsan" \
    ASAN_OPTIONS="$common_asan:detect_leaks=0:verify_asan_link_order=0:abort_on_error=1:log_path=$LOGS/py-asan" \
    UBSAN_OPTIONS="$common_ubsan:abort_on_error=1" \
    PYTHONMALLOC="$allocator" \
    VANTOR_UNDER_ASAN=1 \
    "$VPY" -m pytest -q -p no:cacheprovider "$@" || status=$?
  # Exit 5 (nothing collected) only happens when extra arguments filtered everything out.
  if [ $status -eq 5 ] && [ "$EXTRA_PYTEST_ARGS" -gt 0 ]; then status=0; fi
  if [ $status -ne 0 ]; then
    echo "pytest (PYTHONMALLOC=$allocator) failed (exit $status)"
    fail=1
  fi
}

cd "$ROOT/tests/python"
ignores=()
pymalloc_paths=()
for f in "${PYMALLOC_FILES[@]}"; do
  [ -f "$ROOT/tests/python/$f" ] || continue
  ignores+=("--ignore=$ROOT/tests/python/$f")
  pymalloc_paths+=("$ROOT/tests/python/$f")
done
echo "[$SECONDS s] == pytest under ASan+UBSan, PYTHONMALLOC=malloc (tests/python)"
run_pytest malloc "$ROOT/tests/python" "${ignores[@]}" "$@"
if [ ${#pymalloc_paths[@]} -gt 0 ]; then
  echo "[$SECONDS s] == pytest under ASan+UBSan, interpreter's allocator (${PYMALLOC_FILES[*]})"
  run_pytest pymalloc "${pymalloc_paths[@]}" "$@"
fi
cd "$ROOT"

reports=$(find "$LOGS" -type f | sort)
if [ -n "$reports" ]; then
  echo "== sanitizer reports"
  for f in $reports; do
    echo "--- $(basename "$f")"
    cat "$f"
  done
  fail=1
fi

if [ $fail -ne 0 ]; then
  VERDICT=1
  echo "sanitize: FAIL"
  exit 1
fi
VERDICT=1
echo "sanitize: PASS (GoogleTest and pytest under $SANITIZERS, no reports)"
