#!/usr/bin/env bash
# Builds the documentation site into site/, strictly: a broken link or anchor, a page missing
# from the navigation, a snippet or an API reference that cannot be resolved fails the build.
#
#   bash scripts/docs.sh            the site, in site/
#   bash scripts/docs.sh --check    the site, then every page opened in headless Chromium
#                                   (scripts/docs_check.py): renders, no console error, search works
#
# The tools are pinned in docs/requirements.txt and installed into .venv-docs; the API reference
# is read from the typing stubs, so nothing is compiled.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$ROOT"
source scripts/common.sh
PYTHON=$(find_python)
VENV=$ROOT/.venv-docs
# (A venv left half-made by an interrupted run, without pip, is made anew.)
if ! "$VENV/bin/python" -m pip --version >/dev/null 2>&1; then
  "$PYTHON" -m venv --clear "$VENV"
  rm -f "$VENV/requirements.txt"
fi
if ! cmp -s docs/requirements.txt "$VENV/requirements.txt"; then
  "$VENV/bin/python" -m pip install -q --disable-pip-version-check -r docs/requirements.txt
  cp docs/requirements.txt "$VENV/requirements.txt"
fi
# Not --quiet: it hides the warnings from the count that --strict fails on.
LOG=$(mktemp)
trap 'rm -f "$LOG"' EXIT
if ! NO_MKDOCS_2_WARNING=1 "$VENV/bin/mkdocs" build --strict --clean >"$LOG" 2>&1; then
  grep -E '^(WARNING|ERROR)|Aborted' "$LOG" >&2 || tail -n 20 "$LOG" >&2
  exit 1
fi
# The README is read on the repository's front page, outside the site: its links to files and
# pages are checked here.
"$VENV/bin/python" - <<'PY'
import re, sys
from pathlib import Path
text = Path("README.md").read_text(encoding="utf-8")
text = re.sub(r"^```.*?^```", "", text, flags=re.S | re.M)
anchors = {re.sub(r"[^\w\- ]", "", h.strip().lower()).replace(" ", "-") for h in re.findall(r"^#+ (.+)$", text, re.M)}
broken = []
for target in re.findall(r"\]\(([^)\s]+)\)", text):
    if "://" in target:
        continue
    path, _, anchor = target.partition("#")
    if path and not Path(path).exists() or not path and anchor not in anchors:
        broken.append(target)
if broken:
    sys.exit("README.md: broken links: " + ", ".join(broken))
PY
echo "site/: $(find site -name '*.html' | wc -l) pages"
if [ "${1:-}" = --check ]; then
  # Debian's Chromium: the browser comes from the system's packages, never downloaded by a tool.
  command -v chromium >/dev/null 2>&1 || apt_install chromium
  "$VENV/bin/python" scripts/docs_check.py site
fi
