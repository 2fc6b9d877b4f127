#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang (-fsanitize=fuzzer,address,undefined) and runs
# each for a bounded time, all targets at once (one per core).
#
#   scripts/fuzz.sh [SECONDS]          SECONDS per target (default 60)
#   scripts/fuzz.sh --merge [SECONDS]  afterwards, minimise the seeds plus the new finds back into
#                                      fuzz/corpus/<target>/ (-merge=1)
#
# Every crash input ever found is kept in fuzz/crashes/ (named <target>-<kind>-<hash>) and is
# replayed first on every run, so a fixed fault stays fixed. A new crash is copied there, listed
# in fuzz/crashes/README.md, and fails the run. CLANGXX=/path/to/clang++ picks the compiler.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"

MERGE=0
if [ "${1:-}" = "--merge" ]; then MERGE=1; shift; fi
SECONDS_PER_TARGET=${1:-60}
[[ "$SECONDS_PER_TARGET" =~ ^[0-9]+$ ]] || { echo "usage: $0 [--merge] [SECONDS]" >&2; exit 2; }
TARGETS=(text uuid_value)
WORK=""
# A step that stops the script (a failed build, a missing tool) still ends on a FAIL line.
on_exit() {
  local status=$?
  [ -z "$WORK" ] || rm -rf "$WORK"
  if [ $status -ne 0 ] && [ -z "${VERDICT:-}" ]; then echo "fuzz: FAIL (a step failed, exit $status)"; fi
}
trap on_exit EXIT

source "$ROOT/scripts/common.sh"

# A compiler is usable when it links a fuzz target with all three sanitizers.
can_fuzz() {
  local probe
  probe=$(mktemp -d)
  echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
    >"$probe/probe.cpp"
  "$1" -fsanitize=fuzzer,address,undefined "$probe/probe.cpp" -o "$probe/probe" >/dev/null 2>&1
  local status=$?
  rm -rf "$probe"
  return $status
}

find_clang() {
  if [ -n "${CLANGXX:-}" ]; then echo "$CLANGXX"; return; fi
  local v
  for v in 19 16 14; do
    if command -v "clang++-$v" >/dev/null 2>&1 && can_fuzz "clang++-$v"; then echo "clang++-$v"; return; fi
  done
  # Debian ships the fuzzing runtime in libclang-rt-N-dev and llvm-symbolizer (for readable
  # crash reports) in llvm-N; take the newest version apt offers.
  apt_update_once
  for v in 19 16 14; do
    if apt-cache show "clang-$v" "libclang-rt-$v-dev" >/dev/null 2>&1; then
      apt_install "clang-$v" "libclang-rt-$v-dev" "llvm-$v" || continue
      if can_fuzz "clang++-$v"; then echo "clang++-$v"; return; fi
    fi
  done
  echo "no clang with the libFuzzer runtime could be installed" >&2
  exit 1
}

command -v cmake >/dev/null 2>&1 || apt_install cmake
command -v ninja >/dev/null 2>&1 || apt_install ninja-build
CXX_FUZZ=$(find_clang)
# The sanitizers print file and line only with llvm-symbolizer; it sits beside clang.
clang_path=$(command -v "$CXX_FUZZ" || true)
if [ -n "$clang_path" ] && [ -x "$(dirname "$(readlink -f "$clang_path")")/llvm-symbolizer" ]; then
  export ASAN_SYMBOLIZER_PATH="$(dirname "$(readlink -f "$clang_path")")/llvm-symbolizer"
fi
echo "== building fuzz targets with $CXX_FUZZ"
BUILD="$ROOT/build/fuzz"
mkdir -p "$ROOT/build"
if ! { cmake -S "$ROOT/fuzz" -B "$BUILD" -G Ninja -DCMAKE_CXX_COMPILER="$CXX_FUZZ" &&
        cmake --build "$BUILD"; } >"$ROOT/build/fuzz-build.log" 2>&1; then
  cat "$ROOT/build/fuzz-build.log"
  exit 1
fi

WORK=$(mktemp -d "${TMPDIR:-/tmp}/vantor-fuzz.XXXXXX")
CRASHES="$ROOT/fuzz/crashes"
mkdir -p "$CRASHES"
fail=0

# 1. Every crash input kept so far must now pass.
for target in "${TARGETS[@]}"; do
  shopt -s nullglob
  kept=("$CRASHES/$target"-*)
  shopt -u nullglob
  [ ${#kept[@]} -gt 0 ] || continue
  echo "== replaying ${#kept[@]} kept crash input(s) of $target"
  if ! "$BUILD/fuzz_$target" "${kept[@]}" >"$WORK/replay-$target.log" 2>&1; then
    tail -n 40 "$WORK/replay-$target.log"
    echo "a kept crash input of $target fails again"
    fail=1
  fi
done

# 2. Fuzz all targets side by side, each from the repository's corpus; new inputs go to a scratch
# directory (the first one given), so the repository's corpus is only read.
echo "== fuzzing ${TARGETS[*]} for ${SECONDS_PER_TARGET} s each"
pids=()
for target in "${TARGETS[@]}"; do
  mkdir -p "$WORK/$target/new" "$WORK/$target/artifacts"
  extra=()
  [ -f "$ROOT/fuzz/$target.dict" ] && extra+=("-dict=$ROOT/fuzz/$target.dict")
  "$BUILD/fuzz_$target" "${extra[@]}" \
    -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$WORK/$target/artifacts/" \
    "$WORK/$target/new" "$ROOT/fuzz/corpus/$target" >"$WORK/$target/log" 2>&1 &
  pids+=($!)
done

for i in "${!TARGETS[@]}"; do
  target=${TARGETS[$i]}
  status=0
  wait "${pids[$i]}" || status=$?
  grep -E '^stat::(number_of_executed_units|new_units_added)' "$WORK/$target/log" \
    | sed "s/^/  $target /" || true
  shopt -s nullglob
  artifacts=("$WORK/$target/artifacts"/*)
  shopt -u nullglob
  if [ $status -ne 0 ] || [ ${#artifacts[@]} -gt 0 ]; then
    fail=1
    echo "-- $target failed (exit $status); end of its log:"
    tail -n 60 "$WORK/$target/log"
    summary=$(grep -m1 -E 'ERROR|runtime error|fuzz_[a-z_]+: ' "$WORK/$target/log" | cut -c1-200 || true)
    for artifact in "${artifacts[@]}"; do
      kept="$CRASHES/$target-$(basename "$artifact")"
      cp "$artifact" "$kept"
      echo "- $(basename "$kept"): found $(date -u +%Y-%m-%d) by scripts/fuzz.sh; ${summary:-see the log}" \
        >>"$CRASHES/README.md"
      echo "   crash input kept as ${kept#"$ROOT"/} (replay: $BUILD/fuzz_$target $kept)"
    done
  fi
done

# 3. Optionally fold the new finds into the repository's corpus, minimised.
if [ $MERGE -eq 1 ] && [ $fail -eq 0 ]; then
  for target in "${TARGETS[@]}"; do
    merged="$WORK/$target/merged"
    mkdir -p "$merged"
    "$BUILD/fuzz_$target" -merge=1 "$merged" "$ROOT/fuzz/corpus/$target" "$WORK/$target/new" \
      >"$WORK/$target/merge.log" 2>&1
    rm -rf "$ROOT/fuzz/corpus/$target"
    mkdir -p "$ROOT/fuzz/corpus/$target"
    cp "$merged"/* "$ROOT/fuzz/corpus/$target/"
    echo "  $target corpus: $(ls "$ROOT/fuzz/corpus/$target" | wc -l) inputs after merging"
  done
fi

if [ $fail -ne 0 ]; then
  VERDICT=1
  echo "fuzz: FAIL"
  exit 1
fi
VERDICT=1
echo "fuzz: PASS (${TARGETS[*]}, ${SECONDS_PER_TARGET} s each, no crash)"
