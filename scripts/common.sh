# Shell functions shared by the setup, test and check scripts. Source it; it defines, it runs
# nothing.

# The interpreter to use: $PYTHON if given, else python$PYTHON_VERSION (see find_python_version);
# without PYTHON_VERSION, the oldest of 3.12, 3.13, ... that is installed, else 3.11. vantor needs
# 3.11 or later; if there is none, says so in one line and stops.
find_python() {
  local found=""
  if [ -n "${PYTHON:-}" ]; then
    found=$PYTHON
  elif [ -n "${PYTHON_VERSION:-}" ]; then
    found=$(find_python_version "$PYTHON_VERSION") || {
      echo "no Python $PYTHON_VERSION found; set PYTHON=/path/to/python" >&2; exit 1; }
  else
    local minor
    for minor in 12 13 14 15 16 11; do
      found=$(find_python_version "3.$minor") && break
    done
  fi
  if [ -z "$found" ]; then
    echo "vantor needs Python 3.11 or later: none found (install one, or set PYTHON=/path/to/python)" >&2
    exit 1
  fi
  if ! "$found" -c 'import sys; sys.exit(sys.version_info < (3, 11))' 2>/dev/null; then
    local version
    version=$("$found" -V 2>/dev/null) || version="not runnable"
    echo "vantor needs Python 3.11 or later: $found is $version" >&2
    exit 1
  fi
  echo "$found"
}

# The versions taken from the system's own packages rather than pyenv: 3.11 is Debian 12's
# python3, which is what its users run.
SYSTEM_PYTHON_VERSIONS="3.11"

# Debian's python$1, with its headers and venv support, installed from apt if missing.
ensure_system_python() {
  local want=$1 need=()
  [ -x "/usr/bin/python$want" ] || need+=("python$want")
  [ -f "/usr/include/python$want/Python.h" ] || need+=("python$want-dev")
  # Debian's interpreter makes no venv with pip without python3.N-venv (ensurepip's wheels).
  [ -x "/usr/bin/python$want" ] && "/usr/bin/python$want" -c 'import ensurepip' >/dev/null 2>&1 ||
    need+=("python$want-venv")
  if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
}

# ensure_system_python for PYTHON_VERSION, when it names one of SYSTEM_PYTHON_VERSIONS and no
# PYTHON is given.
ensure_requested_system_python() {
  if [ -z "${PYTHON:-}" ] && [ -n "${PYTHON_VERSION:-}" ] &&
     [[ " $SYSTEM_PYTHON_VERSIONS " == *" $PYTHON_VERSION "* ]]; then
    ensure_system_python "$PYTHON_VERSION"
  fi
}

# The system's python$1 for a version in SYSTEM_PYTHON_VERSIONS, else pyenv's or PATH's; or a
# non-zero status.
find_python_version() {
  local want=$1
  if [[ " $SYSTEM_PYTHON_VERSIONS " == *" $want "* ]]; then
    [ -x "/usr/bin/python$want" ] && { echo "/usr/bin/python$want"; return 0; }
    return 1
  fi
  if command -v pyenv >/dev/null 2>&1; then
    local v
    v=$(pyenv versions --bare 2>/dev/null | grep -E "^${want//./\\.}(\.|\$)" | tail -n 1 || true)
    if [ -n "$v" ] && [ -x "$(pyenv root)/versions/$v/bin/python$want" ]; then
      echo "$(pyenv root)/versions/$v/bin/python$want"; return 0
    fi
  fi
  local candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$want"*/bin/python"$want"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return 0; fi
  done
  command -v "python$want"
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Refreshes the package lists, once per script. Both commands wait for a lock that another
# script running at the same time (CI's other stream) holds, instead of failing at once.
APT_WAIT=(-o DPkg::Lock::Timeout=900)
apt_update_once() {
  if [ -z "${APT_UPDATED:-}" ]; then as_root apt-get "${APT_WAIT[@]}" update -qq >/dev/null; APT_UPDATED=1; fi
}

# Installs Debian packages.
apt_install() {
  apt_update_once
  as_root env DEBIAN_FRONTEND=noninteractive apt-get "${APT_WAIT[@]}" install -y -qq --no-install-recommends "$@" >/dev/null
}

# The compilers and GoogleTest, if missing.
ensure_build_packages() {
  local need=()
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  command -v g++ >/dev/null 2>&1 || need+=(g++)
  command -v cc >/dev/null 2>&1 || need+=(gcc)
  if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
}

# What building vantor needs from the system, checked without installing anything: a C++
# compiler and the interpreter's headers. A missing one is named in one line, and the script stops.
check_build_tools() {
  local python=$1
  if ! command -v "${CXX:-g++}" >/dev/null 2>&1 && ! command -v c++ >/dev/null 2>&1; then
    echo "vantor needs a C++ compiler to build: no ${CXX:-g++} or c++ on PATH (e.g. apt-get install g++)" >&2
    exit 1
  fi
  local include
  include=$("$python" -c 'import sysconfig; print(sysconfig.get_paths()["include"])')
  if [ ! -f "$include/Python.h" ]; then
    echo "vantor needs the headers of $python to build: no $include/Python.h (e.g. apt-get install python3-dev)" >&2
    exit 1
  fi
}

# The Debian mirror this machine's own apt sources use (for a chroot or a foreign architecture's
# packages), e.g. http://mirror.example/debian: the first "URIs:" or "deb" entry whose path ends
# in /debian. $VANTOR_DEBIAN_MIRROR overrides it.
debian_mirror() {
  if [ -n "${VANTOR_DEBIAN_MIRROR:-}" ]; then echo "$VANTOR_DEBIAN_MIRROR"; return 0; fi
  local uri
  uri=$( { grep -h -E '^URIs:' /etc/apt/sources.list.d/*.sources 2>/dev/null | awk '{for (i = 2; i <= NF; i++) print $i}'
           grep -h -E '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null |
             sed -E 's/^deb +(\[[^]]*\] +)?//' | awk '{print $1}'; } | grep -E '/debian/?$' | head -n 1)
  if [ -z "$uri" ]; then
    echo "no Debian mirror in this machine's apt sources; set VANTOR_DEBIAN_MIRROR" >&2
    return 1
  fi
  echo "${uri%/}"
}
