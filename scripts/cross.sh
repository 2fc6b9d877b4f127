#!/usr/bin/env bash
# Cross-compiles the C++ core and its GoogleTest suite for AArch64 and s390x (big-endian) and
# runs each suite under qemu's user-mode emulator. There is no binfmt_misc here, so qemu is
# called explicitly, with the cross toolchain's sysroot for the C and C++ runtime libraries.
# Build trees go to build/cross/<arch>.
#
# usage: scripts/cross.sh [aarch64|s390x ...]   (default: both)
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"

ARCHES=("$@")
[ ${#ARCHES[@]} -gt 0 ] || ARCHES=(aarch64 s390x)

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

  cat >"$build/toolchain.cmake" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $triple-gcc)
set(CMAKE_CXX_COMPILER $triple-g++)
set(CMAKE_FIND_ROOT_PATH $sysroot $build/gtest)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-$arch-static -L $sysroot)
TOOLCHAIN

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
done

if [ ${#failed[@]} -gt 0 ]; then
  echo "C++ core suite FAILED on: ${failed[*]}" >&2
  exit 1
fi
echo "C++ core suite passed on: ${ARCHES[*]}"
