#!/usr/bin/env bash
# Runs tests/smoke/smoke.py, which uses every public function, constructor, factory and property
# of vantor once, under valgrind's memcheck, with the normal environment of scripts/setup.sh
# (the release build, as shipped). Any invalid read or write, use of uninitialised memory or bad
# free fails the run; leaks are not looked at, since the interpreter keeps memory until exit.
# PYTHON=/path/to/python selects the interpreter (default: 3.12).
set -euo pipefail
LOG=""
# A step that stops the script (a failed build, a missing tool) still ends on a FAIL line.
on_exit() {
  local status=$?
  [ -z "$LOG" ] || rm -f "$LOG" "$LOG".*
  if [ $status -ne 0 ] && [ -z "${VERDICT:-}" ]; then echo "valgrind: FAIL (a step failed, exit $status)"; fi
}
trap on_exit EXIT
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"
command -v valgrind >/dev/null 2>&1 || apt_install valgrind

LOG=$(mktemp "${TMPDIR:-/tmp}/vantor-valgrind.XXXXXX")
# PYTHONMALLOC=malloc: every Python object comes from the C allocator, which memcheck tracks
# byte by byte (pymalloc's arenas would hide overruns and trigger false reports), so no
# suppression file is needed. Forked children are followed; the log names each process.
status=0
PYTHONMALLOC=malloc valgrind --tool=memcheck --error-exitcode=99 --leak-check=no \
  --track-origins=yes --num-callers=40 --log-file="$LOG.%p" \
  "$VENV_PYTHON" "$ROOT/tests/smoke/smoke.py" || status=$?

errors=0
for log in "$LOG".*; do
  if ! grep -q 'ERROR SUMMARY: 0 errors' "$log"; then
    cat "$log"
    errors=1
  fi
  rm -f "$log"
done

if [ $status -ne 0 ] || [ $errors -ne 0 ]; then
  VERDICT=1
  echo "valgrind: FAIL (exit $status)"
  exit 1
fi
VERDICT=1
echo "valgrind: PASS (tests/smoke/smoke.py under memcheck, no errors)"
