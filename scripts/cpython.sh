#!/usr/bin/env bash
# Builds a CPython that no package provides, from the source tarball in ../shared/cpython/, and
# prints the path of its interpreter:
#
#   python=$(bash scripts/cpython.sh freethreaded)    # --disable-gil
#
# Each build is cached outside the checkout, in $VANTOR_CACHE (default /var/cache/vantor), in a
# folder named after the variant and a hash of the tarball and the variant's settings (and
# RECIPE, raised when the steps below change), so a second run on the same machine, from any
# clone, reuses it. Builds of one variant do
# not overlap: a second caller waits for the first. The build's own output goes to a log file in
# that folder, named if the build fails.
set -euo pipefail
VARIANT=${1:?usage: cpython.sh freethreaded}
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
source "$ROOT/scripts/common.sh"
CACHE=${VANTOR_CACHE:-/var/cache/vantor}
TARBALL=$(ls "$ROOT"/../shared/cpython/Python-*.tar.xz 2>/dev/null | sort -V | tail -n 1 || true)
[ -n "$TARBALL" ] || { echo "cpython.sh: no Python-*.tar.xz in $ROOT/../shared/cpython" >&2; exit 1; }

# A variant is its configure options and its environment (CC and the like).
CONFIGURE=()
BUILD_ENV=()
case "$VARIANT" in
  freethreaded) CONFIGURE=(--disable-gil) ;;
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
ls "$PREFIX"/bin/python3.*[0-9]t "$PREFIX"/bin/python3.*[0-9] 2>/dev/null | head -n 1
