#!/usr/bin/env bash
# Cross-compiles the C++ core and its GoogleTest suite for AArch64 and s390x (big-endian) and
# runs each suite under qemu's user-mode emulator. There is no binfmt_misc here, so qemu is
# called explicitly, with the cross toolchain's sysroot for the C and C++ runtime libraries.
# Build trees go to build/cross/<arch>.
#
# On AArch64 the Python tests that need neither child processes nor other packages run too,
# under Debian's arm64 CPython 3.13 (scripts/foreign_python.sh: about 40 MB of packages, fetched
# once into /var/cache/vantor), with pytest and hypothesis in build/cross/aarch64/python;
# --no-python skips them. Tests that start a child process
# cannot run there: without binfmt_misc the kernel cannot execute an arm64 program.
#
# usage: scripts/cross.sh [--no-python] [aarch64|s390x ...]   (default: both)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"
source "$ROOT/scripts/foreign_python.sh"

WITH_PYTHON=1
ARCHES=()
for arg in "$@"; do
  case "$arg" in
    --no-python) WITH_PYTHON= ;;
    *) ARCHES+=("$arg") ;;
  esac
done
[ ${#ARCHES[@]} -gt 0 ] || ARCHES=(aarch64 s390x)

# The Python test files that import no package beyond pytest and hypothesis, and whose tests,
# but for those named next, start no child process.
PYTHON_TESTS=(test_binding.py test_construct.py test_interop.py test_module_surface.py
  test_name_based.py test_parse.py test_properties.py test_protocol.py test_random.py
  test_std.py test_time.py test_uuid7.py)
# The few tests in those files that do start a child interpreter.
PYTHON_CHILD_TESTS="sub_interpreters_are_refused or sigint_during_a_slow_length"

# Debian's CPython for $1 (aarch64 or s390x) from trixie (scripts/foreign_python.sh), with
# pytest and hypothesis unpacked beside it in $2/site; then _vantor built with the cross compiler
# against its headers and linked with the core built in $3. Sets PYROOT to the unpacked
# packages.
prepare_foreign_python() {
  local arch=$1 dir=$2 core=$3 pyver=$FOREIGN_PYTHON_VERSION
  local foreign
  foreign=$(foreign_python "$arch")
  PYROOT="$foreign/root"
  if [ ! -d "$dir/site/pytest" ]; then
    mkdir -p "$dir/wheels" "$dir/site"
    "$(find_python)" -m pip download -q --disable-pip-version-check --only-binary=:all: \
      --platform "manylinux2014_$arch" --python-version "$pyver" -d "$dir/wheels" pytest hypothesis
    for wheel in "$dir"/wheels/*.whl; do python3 -m zipfile -e "$wheel" "$dir/site/"; done
  fi
  mkdir -p "$dir/obj"
  # As CMakeLists.txt gives it to the module: pyproject.toml's version.
  local version
  version=$(sed -n 's/^version = "\(.*\)"$/\1/p' "$ROOT/pyproject.toml")
  local source objects=()
  # The module's sources as CMake lists them: src/*/*_py.cpp also matches src/native's.
  for source in $(printf '%s\n' "$ROOT"/src/module/*.cpp "$ROOT"/src/native/*.cpp \
                  "$ROOT"/src/*/*_py.cpp | sort -u); do
    local object="$dir/obj/$(basename "$source" .cpp).o"
    objects+=("$object")
    "$arch-linux-gnu-g++" -std=c++23 $OPT -fPIC -fvisibility=hidden -DVANTOR_VERSION="\"$version\"" -I"$ROOT/src" \
      -I"$foreign/include" -I"$foreign/include/python$pyver" -c "$source" -o "$object" &
    if [ "$(jobs -r | wc -l)" -ge 2 ]; then wait -n; fi
  done
  wait
  "$arch-linux-gnu-g++" -shared -pthread -o "$dir/site/_vantor.cpython-${pyver/./}-$arch-linux-gnu.so" \
    "${objects[@]}" "$core/libvantor_core.a"
  rm -rf "$dir/site/vantor" && cp -r "$ROOT/python/vantor" "$dir/site/vantor"
}

need=()
for arch in "${ARCHES[@]}"; do
  command -v "$arch-linux-gnu-g++" >/dev/null 2>&1 || need+=("g++-$arch-linux-gnu")
  command -v "qemu-$arch-static" >/dev/null 2>&1 || need+=(qemu-user-static)
done
[ -f /usr/src/googletest/googletest/src/gtest-all.cc ] || need+=(googletest)
command -v cmake >/dev/null 2>&1 || need+=(cmake)
command -v ninja >/dev/null 2>&1 || need+=(ninja-build)
command -v python3 >/dev/null 2>&1 || need+=(python3)
if [ ${#need[@]} -gt 0 ]; then
  # shellcheck disable=SC2207
  need=($(printf '%s\n' "${need[@]}" | sort -u))
  apt_install "${need[@]}"
fi

GTEST_SRC=/usr/src/googletest/googletest
# Optimisation is kept low: the suite, not the speed of the code, is what runs here.
OPT=-O1

failed=()
for arch in "${ARCHES[@]}"; do
  case "$arch" in
    aarch64|s390x) ;;
    *) echo "cross.sh: unknown architecture '$arch' (aarch64 or s390x)" >&2; exit 2 ;;
  esac
  triple="$arch-linux-gnu"
  sysroot="/usr/$triple"
  build="$ROOT/build/cross/$arch"
  mkdir -p "$build/gtest"

  # GoogleTest from Debian's sources, built with the cross compiler: the host's libgtest is
  # for x86-64.
  if [ ! -f "$build/gtest/libgtest_main.a" ]; then
    echo "--- $arch: GoogleTest"
    "$triple-g++" -std=c++17 $OPT -pthread -I"$GTEST_SRC/include" -I"$GTEST_SRC" \
      -c "$GTEST_SRC/src/gtest-all.cc" -o "$build/gtest/gtest-all.o" &
    "$triple-g++" -std=c++17 $OPT -pthread -I"$GTEST_SRC/include" -I"$GTEST_SRC" \
      -c "$GTEST_SRC/src/gtest_main.cc" -o "$build/gtest/gtest_main.o"
    wait $!
    "$triple-ar" rcs "$build/gtest/libgtest.a" "$build/gtest/gtest-all.o"
    "$triple-ar" rcs "$build/gtest/libgtest_main.a" "$build/gtest/gtest_main.o"
  fi

  cross_toolchain "$build/toolchain.cmake" "$arch" "$build/gtest"

  echo "--- $arch: C++ core and its tests"
  cmake -S "$ROOT" -B "$build/core" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$build/toolchain.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="$OPT" \
    -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_TESTS=ON \
    -DPython_EXECUTABLE="$(command -v python3)" \
    -DGTEST_INCLUDE_DIR="$GTEST_SRC/include" \
    -DGTEST_LIBRARY="$build/gtest/libgtest.a" -DGTEST_MAIN_LIBRARY="$build/gtest/libgtest_main.a" \
    >"$build/configure.log" || { cat "$build/configure.log"; exit 1; }
  cmake --build "$build/core" -j2 >"$build/build.log" || { tail -n 50 "$build/build.log"; exit 1; }

  echo "--- $arch: running under qemu-$arch-static"
  if ! "qemu-$arch-static" -L "$sysroot" "$build/core/vantor_core_tests" --gtest_brief=1 \
        --gtest_output="xml:$build/core_tests.xml"; then
    failed+=("$arch")
  fi

  # On aarch64 only: the mirror here lacks trixie's s390x C library, which the s390x CPython needs.
  if [ "$arch" = aarch64 ] && [ -n "$WITH_PYTHON" ]; then
    echo "--- $arch: Python tests under qemu-$arch-static"
    prepare_foreign_python "$arch" "$build/python" "$build/core"
    foreign_run_command "$arch" "$PYROOT"
    if ! (cd "$ROOT/tests/python" && PYTHONPATH="$build/python/site" PYTHONDONTWRITEBYTECODE=1 \
          "${FOREIGN_RUN[@]}" "$PYROOT/usr/bin/python$FOREIGN_PYTHON_VERSION" -m pytest -q -p no:cacheprovider -k "not ($PYTHON_CHILD_TESTS)" "${PYTHON_TESTS[@]}"); then
      failed+=("$arch (Python)")
    fi
  fi
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "cross.sh: FAILED on: ${failed[*]}" >&2
  exit 1
fi
echo "cross.sh: C++ core suite passed on: ${ARCHES[*]}${WITH_PYTHON:+ (and the Python tests on aarch64)}"
