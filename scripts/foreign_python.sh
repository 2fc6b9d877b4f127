# Debian's CPython for a foreign processor, run under qemu's user-mode emulator; sourced by
# scripts/cross.sh and scripts/wheel/manylinux_aarch64.sh (after scripts/common.sh). It defines
# functions and runs nothing. There is no binfmt_misc here, so qemu is called explicitly, with
# the unpacked packages as the root for absolute paths.

# The version used, and the Debian release each version offered comes from: 3.13 by default,
# 3.11 (Debian 12's) for its wheels.
FOREIGN_PYTHON_VERSION=${FOREIGN_PYTHON_VERSION:-3.13}
declare -A FOREIGN_PYTHON_SUITES=([3.11]=bookworm [3.13]=trixie)

# Debian's CPython $FOREIGN_PYTHON_VERSION (from its suite above) for $1 (aarch64 or s390x),
# unpacked (not installed) with the shared libraries it loads; packages that only matter to an
# installed system are left out. Cached in $VANTOR_CACHE (default /var/cache/vantor), in a folder named
# after the architecture and a hash of the package list (about 40 MB, fetched once), with
#   root/                          the unpacked packages;
#   include/python3.N/             its headers, and include/<triplet>/python3.N/pyconfig.h, in a
#                                  tree of their own (the sysroot's C library headers must not
#                                  shadow the cross compiler's);
# Prints that folder.
foreign_python() {
  local arch=$1 pyver=$FOREIGN_PYTHON_VERSION debarch suite
  suite=${FOREIGN_PYTHON_SUITES[$pyver]:-}
  [ -n "$suite" ] ||
    { echo "no foreign CPython $pyver here (one of: ${!FOREIGN_PYTHON_SUITES[*]})" >&2; exit 1; }
  case "$arch" in aarch64) debarch=arm64 ;; *) debarch=$arch ;; esac
  local cache=${VANTOR_CACHE:-/var/cache/vantor}
  local packages=("python$pyver-minimal" "libpython$pyver-stdlib" "libpython$pyver-dev" libstdc++6)
  # Raised when the steps below change.
  local recipe=1
  local dir
  dir="$cache/debian-python$pyver-$debarch-$(printf '%s\n' "$recipe" trixie "${packages[@]}" | sha256sum | cut -c1-16)"
  mkdir -p "$cache"
  exec 6>"$cache/debian-python-$debarch.lock"
  flock 6
  if [ ! -f "$dir/.complete" ]; then
    rm -rf "$dir" && mkdir -p "$dir/apt/lists/partial" "$dir/apt/cache/archives/partial" "$dir/debs" "$dir/root"
    local apt_opts=(-o Dir::Etc::SourceList="$dir/apt/sources.list" -o Dir::Etc::SourceParts=/nonexistent
      -o Dir::State::Lists="$dir/apt/lists" -o Dir::State::Status="$dir/apt/status"
      -o Dir::Cache="$dir/apt/cache" -o APT::Architecture=$debarch -o APT::Architectures::=$debarch
      -o Acquire::Languages=none)
    echo "deb $(debian_mirror) $suite main" >"$dir/apt/sources.list"
    touch "$dir/apt/status"
    apt-get "${apt_opts[@]}" update -qq >/dev/null
    local pkgs
    pkgs=$(apt-cache "${apt_opts[@]}" depends --recurse --no-recommends --no-suggests \
        --no-conflicts --no-breaks --no-replaces --no-enhances --no-pre-depends "${packages[@]}" \
      | grep -v '^[ <]' | sort -u \
      | grep -v -E '^(debconf|perl|dpkg|tzdata|media-types|netbase|readline-common|install-info|libc-bin|gcc-[0-9]+-base|debianutils|base-files|bash|coreutils|sensible-utils|dash|diffutils|sed|tar|grep)')
    # shellcheck disable=SC2086
    # (apt's notice that it downloads as root, not as _apt, is left out.)
    (cd "$dir/debs" && apt-get "${apt_opts[@]}" download -qq $pkgs 2>&1 | { grep -v "unsandboxed as root" || true; })
    # The pipe hides apt's status: check that every package arrived.
    local pkg deb
    for pkg in $pkgs; do
      compgen -G "$dir/debs/${pkg}_*.deb" >/dev/null || { echo "could not download $pkg ($debarch)" >&2; exit 1; }
    done
    for deb in "$dir"/debs/*.deb; do dpkg-deb -x "$deb" "$dir/root"; done
    [ -e "$dir/root/lib" ] || ln -s usr/lib "$dir/root/lib"
    mkdir -p "$dir/include/$arch-linux-gnu"
    cp -r "$dir/root/usr/include/python$pyver" "$dir/include/"
    cp -r "$dir/root/usr/include/$arch-linux-gnu/python$pyver" "$dir/include/$arch-linux-gnu/"
    rm -rf "$dir/apt" "$dir/debs"
    touch "$dir/.complete"
  fi
  exec 6>&-
  echo "$dir"
}

# Sets FOREIGN_RUN to the command that runs a program for $1 under qemu with the unpacked root
# $2. Debian's arm64 programs use pointer authentication, which qemu's exact emulation makes
# about ten times slower; the instructions are treated as absent instead.
foreign_run_command() {
  local arch=$1 root=$2
  FOREIGN_RUN=("qemu-$arch-static")
  [ "$arch" != aarch64 ] || FOREIGN_RUN+=(-cpu max,pauth=off)
  FOREIGN_RUN+=(-L "$root")
}

# Writes to $1 a CMake toolchain file for Debian's cross compiler for $2 (aarch64 or s390x):
# libraries and headers come from its sysroot and from the folders $3...; programs built for
# the target run under qemu.
cross_toolchain() {
  local file=$1 arch=$2
  shift 2
  local triple="$arch-linux-gnu"
  cat >"$file" <<TOOLCHAIN
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $triple-gcc)
set(CMAKE_CXX_COMPILER $triple-g++)
set(CMAKE_FIND_ROOT_PATH /usr/$triple $*)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-$arch-static -L /usr/$triple)
TOOLCHAIN
}
