#!/bin/bash
# Installs what the build and the tests need on a fresh Debian 12 machine
# (as root), quietly; does nothing for what is already there.
#   scripts/setup.sh        the build and the tests
#   scripts/setup.sh lane   also what the emulated 32-bit lane needs
set -euo pipefail

PACKAGES=(
  cmake make clang libclang-rt-14-dev googletest zlib1g-dev
  g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
  mingw-w64-tools libz-mingw-w64-dev
  wine wine32:i386 wine64
  xvfb x11-apps x11-utils xdotool imagemagick fonts-wqy-microhei fonts-dejavu-core
  python3 python3-pil iproute2
  nsis zip
)
if [[ ${1:-} == lane ]]; then
  PACKAGES+=(qemu-system-x86 debootstrap e2fsprogs)
fi

# A package index caught while its mirror syncs fails to download, and apt
# then refuses the whole update; such a sync ends within minutes.
apt_update() {
  local try out
  for try in 1 2 3 4; do
    if out=$(apt-get update -qq 2>&1); then return 0; fi
    if ((try < 4)); then
      echo "setup: the package index update failed (try $try of 4), trying again in 30 s"
      sleep 30
    fi
  done
  echo "$out" >&2
  return 1
}

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
  NEED_UPDATE=1
fi
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt_update
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
elif [[ -n "${NEED_UPDATE:-}" ]]; then
  apt_update
fi
