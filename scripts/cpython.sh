#!/usr/bin/env bash
# Builds a CPython that no package provides, from the source tarball in ../shared/cpython/, and
# prints the path of its interpreter:
#
#   python=$(bash scripts/cpython.sh freethreaded)    # --disable-gil
#   python=$(bash scripts/cpython.sh musl)            # on musl, with Debian's musl-gcc
#   python=$(bash scripts/cpython.sh tsan)            # --disable-gil, under ThreadSanitizer
#
# Each build is cached outside the checkout, in $VANTOR_CACHE (default /var/cache/vantor), in a
# folder named after the variant and a hash of the tarball and the variant's settings (and
# RECIPE, raised when the steps below change), so a second run on the same machine, from any
# clone, reuses it. Builds of one variant do
# not overlap: a second caller waits for the first. The build's own output goes to a log file in
# that folder, named if the build fails.
set -euo pipefail
VARIANT=${1:?usage: cpython.sh freethreaded|musl|tsan}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"
CACHE=${VANTOR_CACHE:-/var/cache/vantor}
TARBALL=$(ls "$ROOT"/../shared/cpython/Python-*.tar.xz 2>/dev/null | sort -V | tail -n 1 || true)
[ -n "$TARBALL" ] || { echo "cpython.sh: no Python-*.tar.xz in $ROOT/../shared/cpython" >&2; exit 1; }

# What the musl build needs besides Debian 12's musl-gcc, in $CACHE/musl-<hash of the sources>
# (printed): zlib (for pip), libffi (ctypes) and SQLite, built statically for musl from Debian's
# source packages; the C library and loader of Debian 13's musl 1.2.5 (12's 1.2.3 cannot load
# the RELR relocations of current musllinux wheels, numpy's libstdc++ for one); and bin/musl-cc,
# a compiler that links programs to that loader. The downloads are kept in $CACHE/src.
musl_toolchain() {
  command -v musl-gcc >/dev/null 2>&1 || apt_install musl-tools
  command -v tclsh >/dev/null 2>&1 || apt_install tcl   # SQLite's build generates code with it
  mkdir -p "$CACHE/src"
  exec 7>"$CACHE/musl.lock"
  flock 7
  local sources=(zlib libffi sqlite3) name
  musl_sources() {
    for name in "${sources[@]}"; do ls "$CACHE"/src/"${name}"_*.orig.tar.* 2>/dev/null | grep -v -- '-www' | sort -V | tail -n 1; done
    ls "$CACHE"/src/musl_*_amd64.deb 2>/dev/null | sort -V | tail -n 1
  }
  if [ "$(musl_sources | wc -l)" -ne $((${#sources[@]} + 1)) ]; then
    # A private apt configuration: the machine's own sources stay as they are.
    local apt=$CACHE/src/apt
    rm -rf "$apt" && mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
    printf '%s\n' "deb-src $(debian_mirror) bookworm main" "deb $(debian_mirror) trixie main" \
      >"$apt/sources.list"
    local opts=(-o Dir::Etc::SourceList="$apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
      -o Dir::State::Lists="$apt/lists" -o Dir::Cache="$apt/cache" -o Acquire::Languages=none
      -o APT::Architecture=amd64 -o APT::Architectures::=amd64)
    apt-get "${opts[@]}" update -qq >/dev/null
    (cd "$CACHE/src" && apt-get "${opts[@]}" source --download-only -qq "${sources[@]}" &&
       apt-get "${opts[@]}" download -qq musl/trixie) 2>&1 | { grep -v "unsandboxed as root" || true; }
    rm -rf "$apt"
    [ "$(musl_sources | wc -l)" -eq $((${#sources[@]} + 1)) ] ||
      { echo "cpython.sh: could not download the sources of ${sources[*]} or musl" >&2; exit 1; }
  fi
  local all dir
  mapfile -t all < <(musl_sources)
  dir="$CACHE/musl-$(sha256sum "${all[@]}" | cut -c1-64 | sha256sum | cut -c1-16)"
  if [ ! -f "$dir/.complete" ]; then
    local work
    work=$(mktemp -d "$CACHE/musl-build.XXXXXX")
    rm -rf "$dir"
    mkdir -p "$work/zlib" "$work/libffi" "$work/sqlite3" "$dir/lib" "$dir/include"
    { tar -xf "${all[0]}" -C "$work/zlib" --strip-components=1 &&
      (cd "$work/zlib" && CC=musl-gcc CFLAGS="-O2 -fPIC" ./configure --static --prefix="$dir" &&
         make -j2 && make install) &&
      # (libffi's static trampolines need the kernel's headers, which musl-gcc leaves out.)
      tar -xf "${all[1]}" -C "$work/libffi" --strip-components=1 &&
      (cd "$work/libffi" && CC=musl-gcc CFLAGS="-O2 -fPIC" ./configure --prefix="$dir" --libdir="$dir/lib" \
         --disable-shared --enable-static --disable-docs --disable-multi-os-directory \
         --disable-exec-static-tramp &&
         make -j2 && make install) &&
      tar -xf "${all[2]}" -C "$work/sqlite3" --strip-components=1 &&
      (cd "$work/sqlite3" && CC=musl-gcc ./configure --disable-tcl --disable-readline --disable-shared &&
         make sqlite3.c &&
         musl-gcc -O2 -fPIC -DSQLITE_ENABLE_FTS5 -DSQLITE_ENABLE_JSON1 -c sqlite3.c -o sqlite3.o &&
         ar rcs "$dir/lib/libsqlite3.a" sqlite3.o && cp sqlite3.h sqlite3ext.h "$dir/include/") &&
      dpkg-deb -x "${all[3]}" "$dir/runtime"; } >"$work.log" 2>&1 ||
      { echo "cpython.sh: the musl toolchain's build failed; see $work.log" >&2; exit 1; }
    # Debian's musl-gcc answers --print-multiarch with glibc's triplet, which CPython's
    # configure finds at odds with the compiler's own (x86_64-linux-musl).
    mkdir -p "$dir/bin"
    printf '%s\n' '#!/bin/sh' '[ "$1" = --print-multiarch ] && exit 0' \
      "exec musl-gcc \"\$@\" -Wl,--dynamic-linker=$dir/runtime/usr/lib/x86_64-linux-musl/libc.so" \
      >"$dir/bin/musl-cc"
    chmod +x "$dir/bin/musl-cc"
    rm -rf "$work" "$work.log"
    touch "$dir/.complete"
  fi
  exec 7>&-
  echo "$dir"
}

# A variant is its configure options and its environment (CC and the like).
# Neither the suite nor the tools it runs need CPython's own test modules, which are a large share
# of the build and of the install.
CONFIGURE=()
BUILD_ENV=()
case "$VARIANT" in
  freethreaded) CONFIGURE=(--disable-gil --disable-test-modules) ;;
  # pip, slow to install under ThreadSanitizer, comes with the venv that tsan.sh makes.
  tsan) CONFIGURE=(--disable-gil --with-thread-sanitizer --disable-test-modules --with-ensurepip=no) ;;
  # musl-gcc sees musl's headers and libraries only, so the modules that need libraries other
  # than those built above (ssl, bz2, lzma, ...) are left out: pip installs from wheels offline.
  # pkg-config would point the build at the host's glibc libraries.
  musl)
    musl=$(musl_toolchain)
    CONFIGURE=(--disable-test-modules --without-ensurepip)
    BUILD_ENV=(CC="$musl/bin/musl-cc" CPPFLAGS="-I$musl/include" LDFLAGS="-L$musl/lib" PKG_CONFIG=false) ;;
  *) echo "cpython.sh: unknown variant $VARIANT" >&2; exit 2 ;;
esac

RECIPE=1
key=$( { sha256sum "$TARBALL" | cut -c1-64; printf '%s\n' "$RECIPE" "${CONFIGURE[@]}" "${BUILD_ENV[@]}"; } |
       sha256sum | cut -c1-16)
PREFIX="$CACHE/cpython-$VARIANT-$key"
mkdir -p "$CACHE"
exec 8>"$CACHE/cpython-$VARIANT.lock"
flock 8

# The interpreter records its prefix, so it is built in place; the stamp marks a finished build.
if [ ! -f "$PREFIX/.complete" ]; then
  # What the test suite's libraries need of the standard library: ssl for pip, sqlite3 for the
  # ORMs, zlib, bz2, lzma and ctypes.
  apt_install make gcc zlib1g-dev libffi-dev libssl-dev libsqlite3-dev libbz2-dev liblzma-dev
  rm -rf "$PREFIX"
  work=$(mktemp -d "$CACHE/cpython-$VARIANT-build.XXXXXX")
  log="$work.log"
  echo "cpython.sh: building $(basename "$TARBALL" .tar.xz) ($VARIANT) into $PREFIX; log in $log" >&2
  started=$SECONDS
  {
    tar -xJf "$TARBALL" -C "$work" --strip-components=1 &&
    (cd "$work" && env "${BUILD_ENV[@]}" ./configure --prefix="$PREFIX" "${CONFIGURE[@]}" &&
       make -j"$(nproc)" && make install)
  } >"$log" 2>&1 || { echo "cpython.sh: the build failed; see $log" >&2; rm -rf "$work"; exit 1; }
  rm -rf "$work"
  touch "$PREFIX/.complete"
  echo "cpython.sh: built in $((SECONDS - started)) s" >&2
fi
# (ls fails on the pattern that matches nothing: a build has either python3.Nt or only python3.N.)
{ ls "$PREFIX"/bin/python3.*[0-9]t "$PREFIX"/bin/python3.*[0-9] 2>/dev/null || true; } | head -n 1
