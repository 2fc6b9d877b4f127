#!/usr/bin/env bash
# Runs scripts/test.sh on a Python from Debian unstable (3.14, 3.15), inside a chroot:
#
#   bash scripts/sid.sh 3.14 [arguments for pytest]
#
# The chroot ($VANTOR_SID, default /var/cache/vantor/sid) is created on first use with
# debootstrap. This checkout is mounted at /src inside it; the chroot's builds go to a build
# directory of its own, mounted over /src/build, so they never mix with the host's. The caller's
# environment passes through (VANTOR_TEST_POSTGRES and the like); only the paths are reset.
# Needs root. Runs on one chroot do not overlap: a second one waits for the first.
set -euo pipefail
VERSION=${1:?usage: sid.sh 3.14|3.15 [arguments for pytest]}
shift
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SID=${VANTOR_SID:-/var/cache/vantor/sid}
PACKAGES=(python3.14-dev python3.14-venv python3.15-dev python3.15-venv g++ cmake ninja-build
          libgtest-dev ca-certificates)

source "$ROOT/scripts/common.sh"
MIRROR=${VANTOR_SID_MIRROR:-$(debian_mirror)}
if [ "$(id -u)" -ne 0 ]; then
  echo "sid.sh needs root (debootstrap, chroot and mounts)" >&2
  exit 1
fi

# Unstable's Release file is often past its Valid-Until on the mirror; without this apt inside
# refuses the package lists.
sid_apt() {
  chroot "$SID" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin DEBIAN_FRONTEND=noninteractive \
    apt-get -o Acquire::Check-Valid-Until=false "$@"
}

create_chroot() {
  command -v debootstrap >/dev/null 2>&1 || apt_install debootstrap
  echo "sid.sh: creating the Debian unstable chroot in $SID" >&2
  local partial="$SID.partial"
  rm -rf "$partial"
  debootstrap --variant=minbase sid "$partial" "$MIRROR" >"$partial.log" 2>&1 ||
    { echo "debootstrap failed; see $partial.log" >&2; exit 1; }
  mv "$partial" "$SID"
  rm -f "$partial.log"
}

MOUNTED=()
cleanup() {
  local i
  for ((i = ${#MOUNTED[@]} - 1; i >= 0; i--)); do
    umount "${MOUNTED[i]}" 2>/dev/null || umount -l "${MOUNTED[i]}" || true
  done
}
trap cleanup EXIT

# Mounts only what is not mounted already (someone else's mount stays theirs).
mount_once() {
  local target=$1; shift
  mkdir -p "$target"
  if ! mountpoint -q "$target"; then
    mount "$@" "$target"
    MOUNTED+=("$target")
  fi
}

mkdir -p "$(dirname "$SID")"
exec 9>"${SID%/}.lock"
flock 9

[ -x "$SID/usr/bin/apt-get" ] || create_chroot

# Name resolution, and pip's access to the package index: the chroot's own CA bundle is not
# trusted by the index's proxy, the host's is.
cp /etc/resolv.conf "$SID/etc/resolv.conf"
mount_once "$SID/proc" -t proc proc
mount_once "$SID/dev" --bind /dev
mount_once "$SID/dev/pts" --bind /dev/pts

missing=()
for package in "${PACKAGES[@]}"; do
  chroot "$SID" dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" ||
    missing+=("$package")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "sid.sh: installing ${missing[*]} in the chroot" >&2
  sid_apt update -qq >/dev/null
  sid_apt install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
# Also for apt calls made inside (scripts/common.sh installs what is missing).
echo 'Acquire::Check-Valid-Until "false";' >"$SID/etc/apt/apt.conf.d/99vantor-valid-until"
cp /etc/ssl/certs/ca-certificates.crt "$SID/etc/ssl/certs/ca-certificates.crt"

# One build directory per checkout: ninja decides by time stamps, which another checkout's
# files would mislead.
BUILD="$SID/var/cache/vantor-build/$(printf %s "$ROOT" | sha1sum | cut -c1-12)"
mkdir -p "$ROOT/build" "$BUILD"
mount_once "$SID/src" --bind "$ROOT"
mount_once "$SID/src/build" --bind "$BUILD"

PY="/usr/bin/python$VERSION"
if [ ! -x "$SID$PY" ]; then
  echo "sid.sh: no $PY in the chroot (Debian unstable has: $(cd "$SID/usr/bin" && ls python3.* | grep -E '^python3\.[0-9]+$' | tr '\n' ' '))" >&2
  exit 1
fi

# `chroot` keeps the environment; drop what points into the host's file system.
chroot "$SID" /usr/bin/env -u VIRTUAL_ENV -u PYTHONHOME -u PYTHONPATH -u PYENV_VERSION \
  PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin HOME=/root \
  PYTHON="$PY" CMAKE_BUILD_PARALLEL_LEVEL="${CMAKE_BUILD_PARALLEL_LEVEL:-2}" \
  bash -c 'cd /src && exec bash scripts/test.sh "$@"' sid-test "$@"
