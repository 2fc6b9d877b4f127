# manylinux_x86_64: built with the host's g++ and CPython, repaired by auditwheel to the lowest
# manylinux tag the module's symbol versions allow, tested with the same CPython in a fresh venv.
# Sourced by scripts/wheel.sh, after scripts/wheel/common.sh.

# The newest glibc the wheel may need.
MAX_GLIBC=2.28

BASE_PYTHON=$(find_python)
check_build_tools "$BASE_PYTHON"
PYTAG=$("$BASE_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
wheel_begin "manylinux_x86_64-py$PYTAG"

step "building the wheel with $("$BASE_PYTHON" -V)"
BUILD_VENV="$WORK/venv"
build_tools_venv "$BASE_PYTHON" "$BUILD_VENV"
rm -rf "$WORK/raw"
PATH="$BUILD_VENV/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  "$BUILD_VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps \
  --no-build-isolation -Cbuild-dir="$WORK/cmake" -w "$WORK/raw" "$ROOT"

step "auditwheel repair"
auditwheel_repair "$BUILD_VENV" "$(ls "$WORK"/raw/vantor-*.whl)"
wheel_repaired "$WHEEL"
"$BUILD_VENV/bin/auditwheel" show "$WHEEL" 2>/dev/null | sed -n '/./p'
check_tag_at_most manylinux_X_Y_x86_64 "$MAX_GLIBC"

step "the module in the wheel"
check_wheel "$WHEEL"

step "installing into a fresh venv outside the tree, no compiler on PATH"
fresh_install_dir
"$BASE_PYTHON" -m venv "$INSTALL/venv"
VPY="$INSTALL/venv/bin/python"
check_no_compiler "$INSTALL/venv/bin"
# --no-index and --only-binary: the wheel itself, never a source build.
env -i HOME="$INSTALL" PATH="$INSTALL/venv/bin" "$VPY" -m pip install -q --disable-pip-version-check \
  --no-index --only-binary=:all: "$WHEEL"
"$VPY" -m pip install -q --disable-pip-version-check --only-binary=:all: \
  -r "$ROOT/tests/requirements.txt"

step "tests/python against the installed wheel"
run_installed_suite "$VPY" -- "$@"
wheel_done
