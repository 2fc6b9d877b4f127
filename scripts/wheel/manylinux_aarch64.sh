# manylinux_aarch64: cross-built with Debian's aarch64-linux-gnu-g++ against the headers of
# Debian's arm64 CPython 3.13, or 3.11 with PYTHON_VERSION=3.11 (scripts/foreign_python.sh),
# repaired by auditwheel, then installed by pip into a venv of that CPython and tested there,
# under qemu. Sourced by scripts/wheel.sh, after scripts/wheel/common.sh.
#
# There is no binfmt_misc here, so the kernel cannot start an arm64 program by itself: the
# venv's bin/python is a small static x86-64 launcher that runs the interpreter under qemu, which
# also lets the suite's child interpreters start. The test requirements beyond pytest and
# hypothesis are not installed (under emulation their suites would take longer than all the
# rest); their tests skip. VANTOR_AARCH64_ALL_REQUIREMENTS=1 installs them all.
[ -z "${PYTHON_VERSION:-}" ] || FOREIGN_PYTHON_VERSION=$PYTHON_VERSION
source "$ROOT/scripts/foreign_python.sh"

# The newest glibc the wheel may need.
MAX_GLIBC=2.28
ARCH=aarch64
TRIPLE=$ARCH-linux-gnu
PYTAG=$FOREIGN_PYTHON_VERSION
if [ -z "${FOREIGN_PYTHON_SUITES[$PYTAG]:-}" ]; then
  echo "wheel.sh: manylinux_aarch64 is tested with Debian's arm64 CPython ${!FOREIGN_PYTHON_SUITES[*]} only" >&2
  exit 2
fi
wheel_begin "manylinux_aarch64-py$PYTAG"

need=()
command -v "$TRIPLE-g++" >/dev/null 2>&1 || need+=("g++-$TRIPLE")
command -v "qemu-$ARCH-static" >/dev/null 2>&1 || need+=(qemu-user-static)
[ ${#need[@]} -eq 0 ] || apt_install "${need[@]}"

step "Debian's arm64 CPython $PYTAG"
FOREIGN=$(foreign_python "$ARCH")
foreign_run_command "$ARCH" "$FOREIGN/root"
"${FOREIGN_RUN[@]}" "$FOREIGN/root/usr/bin/python$PYTAG" -c 'import platform, sys; print(sys.version.split()[0], platform.machine())'

step "building the wheel with $TRIPLE-g++ against its headers"
# The build runs on the host's CPython of the same version. What it learns about the target:
# the wheel's platform from _PYTHON_HOST_PLATFORM, the module's file name from the arm64
# interpreter's configuration (for scikit-build-core in SETUPTOOLS_EXT_SUFFIX; FindPython cannot
# learn it when cross-compiling, so a file CMake includes at project() names the module when
# the top-level CMakeLists.txt is done), its headers from the arm64 packages.
BUILD_PYTHON=$(PYTHON_VERSION=$PYTAG find_python)
BUILD_VENV="$WORK/venv"
build_tools_venv "$BUILD_PYTHON" "$BUILD_VENV"
ext_suffix=$(python3 -c 'import sys; ns = {}; exec(open(sys.argv[1]).read(), ns); print(ns["build_time_vars"]["EXT_SUFFIX"])' \
  "$FOREIGN/root/usr/lib/python$PYTAG/_sysconfigdata__linux_$TRIPLE.py")
echo "cmake_language(DEFER CALL set_property TARGET _vantor PROPERTY SUFFIX \"$ext_suffix\")" \
  >"$WORK/module_suffix.cmake"
cross_toolchain "$WORK/toolchain.cmake" "$ARCH"
echo "set(CMAKE_CXX_FLAGS_INIT \"-I$FOREIGN/include\")" >>"$WORK/toolchain.cmake"
rm -rf "$WORK/raw"
env PATH="$BUILD_VENV/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  _PYTHON_HOST_PLATFORM=linux-$ARCH SETUPTOOLS_EXT_SUFFIX="$ext_suffix" \
  "$BUILD_VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps \
  --no-build-isolation -Cbuild-dir="$WORK/cmake" -Ccmake.toolchain-file="$WORK/toolchain.cmake" \
  -Ccmake.define.Python_INCLUDE_DIR="$FOREIGN/include/python$PYTAG" \
  -Ccmake.define.Python3_INCLUDE_DIR="$FOREIGN/include/python$PYTAG" \
  -Ccmake.define.CMAKE_PROJECT_INCLUDE="$WORK/module_suffix.cmake" \
  -w "$WORK/raw" "$ROOT"

step "auditwheel repair"
auditwheel_repair "$BUILD_VENV" "$(ls "$WORK"/raw/vantor-*.whl)" --plat auto
wheel_repaired "$WHEEL"
"$BUILD_VENV/bin/auditwheel" show "$WHEEL" 2>/dev/null | sed -n '/./p'
check_tag_at_most manylinux_X_Y_$ARCH "$MAX_GLIBC"

step "the module in the wheel"
check_wheel "$WHEEL" "$TRIPLE-nm"

step "wheels of the test requirements for $ARCH, downloaded on the host"
WHEELHOUSE="$WORK/wheelhouse"
if [ -n "${VANTOR_AARCH64_ALL_REQUIREMENTS:-}" ]; then
  requirements=(-r "$ROOT/tests/requirements.txt")
else
  mapfile -t requirements < <(grep -E '^(pytest|hypothesis)\b' "$ROOT/tests/requirements.txt")
fi
stamp=$(printf '%s\n' "${requirements[@]}" "$PYTAG" | cat - "$ROOT/tests/requirements.txt" | sha256sum | cut -c1-16)
if [ ! -f "$WHEELHOUSE/.complete-$stamp" ]; then
  rm -rf "$WHEELHOUSE"
  "$BUILD_VENV/bin/python" -m pip download -q --disable-pip-version-check --only-binary=:all: \
    --platform manylinux_2_36_$ARCH --platform manylinux2014_$ARCH --python-version "$PYTAG" \
    --implementation cp -d "$WHEELHOUSE" pip "${requirements[@]}"
  touch "$WHEELHOUSE/.complete-$stamp"
fi

step "installing with pip, under qemu, into a fresh venv of the arm64 CPython outside the tree"
fresh_install_dir
"${FOREIGN_RUN[@]}" "$FOREIGN/root/usr/bin/python$PYTAG" -m venv --without-pip "$INSTALL/venv"
# The launcher is built here, before the venv's PATH is checked for compilers.
cat >"$WORK/launcher.c" <<LAUNCHER
/* bin/python of the venv: runs the arm64 interpreter under qemu, as that file. */
#include <stdio.h>
#include <unistd.h>

int main(int argc, char** argv) {
  static char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n < 0) { perror("readlink"); return 127; }
  self[n] = 0;
  char* args[argc + 16];
  int k = 0;
$(printf '  args[k++] = "%s";\n' "$(command -v "${FOREIGN_RUN[0]}")" "${FOREIGN_RUN[@]:1}")
  args[k++] = "-0";
  args[k++] = self;
  args[k++] = "$FOREIGN/root/usr/bin/python$PYTAG";
  for (int i = 1; i < argc; i++) args[k++] = argv[i];
  args[k] = 0;
  execv(args[0], args);
  perror("execv");
  return 127;
}
LAUNCHER
rm -f "$INSTALL"/venv/bin/python*
gcc -O2 -static -o "$INSTALL/venv/bin/python" "$WORK/launcher.c"
ln -s python "$INSTALL/venv/bin/python3"
ln -s python "$INSTALL/venv/bin/python$PYTAG"
VPY="$INSTALL/venv/bin/python"
check_no_compiler "$INSTALL/venv/bin"
# pip runs from an unpacked copy of its wheel outside the venv, which has none of its own; the
# copy is kept, so that its byte code is compiled under emulation once.
if [ ! -d "$WORK/pip/pip" ]; then
  rm -rf "$WORK/pip" && python3 -m zipfile -e "$(ls "$WHEELHOUSE"/pip-*.whl)" "$WORK/pip"
fi
env -i HOME="$INSTALL" PATH="$INSTALL/venv/bin" PYTHONPATH="$WORK/pip" "$VPY" -m pip install -q \
  --disable-pip-version-check --no-index --only-binary=:all: --find-links "$WHEELHOUSE" \
  "$WHEEL" "${requirements[@]}"

step "tests/python against the installed wheel, under qemu-$ARCH-static"
# The tests' LD_PRELOAD shims are built with `cc`: here, the cross compiler.
mkdir -p "$WORK/shim-cc"
printf '#!/bin/sh\nexec %s "$@"\n' "$TRIPLE-gcc" >"$WORK/shim-cc/cc"
chmod +x "$WORK/shim-cc/cc"
# VANTOR_TEST_EMULATOR: tests/python/conftest.py skips what cannot hold under emulation.
SUITE_ENV=(PATH="$WORK/shim-cc:$PATH" VANTOR_TEST_EMULATOR="qemu-$ARCH-static")
run_installed_suite "$VPY" -- "$@"
wheel_done
