#!/usr/bin/env bash
# The README's Spark recipe on the real engine, in local mode: tests/python/test_spark.py alone,
# in the environment of scripts/setup.sh, with pyspark from PyPI and a Java runtime from Debian
# (OpenJDK 17, which pyspark 4 supports), each installed if missing; its Arrow path needs pandas.
# pyspark, a download of some 450 MB, stays out of tests/requirements.txt so that the other steps
# do not pay for it.
# PYTHON=/path/to/python or PYTHON_VERSION selects the interpreter as for scripts/test.sh; extra
# arguments go to pytest. Fails if the test skips: here, a skip would hide a missing piece.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/common.sh"
ensure_requested_system_python
source "$(dirname "${BASH_SOURCE[0]}")/setup.sh"

java_major() { java -version 2>&1 | sed -nE '1s/.*version "(1\.)?([0-9]+).*/\2/p'; }
if ! command -v java >/dev/null 2>&1 || [ "$(java_major)" -lt 17 ]; then
  [ -x /usr/lib/jvm/java-17-openjdk-*/bin/java ] 2>/dev/null || apt_install openjdk-17-jre-headless
  JAVA_HOME=$(dirname "$(dirname "$(ls /usr/lib/jvm/java-17-openjdk-*/bin/java | head -n 1)")")
  export JAVA_HOME PATH="$JAVA_HOME/bin:$PATH"
fi
echo "java: $(java -version 2>&1 | head -n 1)"

"$VENV_PYTHON" -m pip install -q --disable-pip-version-check --only-binary=pyarrow \
  "pytest>=8" "hypothesis>=6" "pyarrow>=18" "pandas>=2.2" "pyspark>=4.0,<5"
echo "pyspark: $("$VENV_PYTHON" -c 'import pyspark; print(pyspark.__version__)')"

log="$ROOT/build/spark-pytest.log"
mkdir -p "$ROOT/build"
cd "$ROOT/tests/python"
status=0
"$VENV_PYTHON" -m pytest -q -rs -p no:cacheprovider "$ROOT/tests/python/test_spark.py" "$@" >"$log" 2>&1 || status=$?
tail -n 20 "$log"
[ "$status" -eq 0 ] || exit "$status"
if grep -qE '[0-9]+ skipped' "$log"; then
  echo "spark.sh: the Spark test skipped (see the reason above)" >&2
  exit 1
fi
