# Shell functions shared by the setup, test and check scripts. Source it; it defines, it runs
# nothing.

# The interpreter to use: $PYTHON if given, else pyenv's or PATH's python$PYTHON_VERSION
# (default 3.12).
find_python() {
  if [ -n "${PYTHON:-}" ]; then echo "$PYTHON"; return; fi
  local want=${PYTHON_VERSION:-3.12}
  if command -v pyenv >/dev/null 2>&1; then
    local v
    v=$(pyenv versions --bare 2>/dev/null | grep -E "^${want//./\\.}(\.|\$)" | tail -n 1 || true)
    if [ -n "$v" ]; then echo "$(pyenv root)/versions/$v/bin/python$want"; return; fi
  fi
  local candidate
  for candidate in "${PYENV_ROOT:-$HOME/.pyenv}"/versions/"$want"*/bin/python"$want"; do
    if [ -x "$candidate" ]; then echo "$candidate"; return; fi
  done
  command -v "python$want" || { echo "no Python $want found; set PYTHON=/path/to/python" >&2; exit 1; }
}

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

# Refreshes the package lists, once per script.
apt_update_once() {
  if [ -z "${APT_UPDATED:-}" ]; then as_root apt-get update -qq >/dev/null; APT_UPDATED=1; fi
}

# Installs Debian packages.
apt_install() {
  apt_update_once
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "$@" >/dev/null
}

# The compilers and GoogleTest, if missing.
ensure_build_packages() {
  local need=()
  [ -f /usr/include/gtest/gtest.h ] || need+=(libgtest-dev)
  command -v g++ >/dev/null 2>&1 || need+=(g++)
  command -v cc >/dev/null 2>&1 || need+=(gcc)
  if [ ${#need[@]} -gt 0 ]; then apt_install "${need[@]}"; fi
}
