#!/usr/bin/env bash
# Installs everything the two builds and their tests need on Debian 12.
# Idempotent: packages already present are skipped by apt, and apt-get update
# runs only when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  g++-mingw-w64-i686 binutils-mingw-w64-i686
  g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
  wine wine32:i386 wine64
  googletest libgtest-dev libssl-dev openssl
  xvfb x11-utils file python3 coreutils bc procps util-linux time
  libgtk-3-dev libpng-dev pkg-config fonts-dejavu-core xdotool python3-pil
  nginx ca-certificates curl libcurl4-openssl-dev libarchive-tools libarchive-dev libz-mingw-w64-dev iproute2
  libsecret-1-dev gnome-keyring dbus desktop-file-utils
)

sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ "${#missing[@]}" -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    "${sudo_cmd[@]}" dpkg --add-architecture i386
  fi
  export DEBIAN_FRONTEND=noninteractive
  # The tests start nginx themselves; the package must not start a system-wide one.
  no_services=0
  if [ ! -e /usr/sbin/policy-rc.d ]; then
    printf '#!/bin/sh\nexit 101\n' | "${sudo_cmd[@]}" tee /usr/sbin/policy-rc.d >/dev/null
    "${sudo_cmd[@]}" chmod 755 /usr/sbin/policy-rc.d
    no_services=1
  fi
  # A mirror in the middle of a sync fails one index now and then: try again, and if one index
  # still fails, go on with the others (the install below says so if a package is then missing).
  for attempt in 1 2 3; do
    "${sudo_cmd[@]}" apt-get update -q -o Acquire::Retries=3 && break
    echo "setup: apt-get update failed (attempt $attempt of 3)"
    [ "$attempt" = 3 ] || sleep 15
  done
  apt_install() { "${sudo_cmd[@]}" apt-get install -y -q -o Acquire::Retries=3 --no-install-recommends "$@"; }
  if ! apt_install "${missing[@]}"; then
    # Without the i386 index the 32-bit packages cannot be resolved. The 32-bit Wine is
    # optional: the test scripts see that it is missing and run the Windows tests in the
    # 64-bit build.
    native=()
    for p in "${missing[@]}"; do [[ $p == *:i386 ]] || native+=("$p"); done
    [ "${#native[@]}" -lt "${#missing[@]}" ] || exit 1
    echo "setup: the 32-bit packages could not be installed; installing the others without them"
    apt_install "${native[@]}"
  fi
  if [ "$no_services" = 1 ]; then "${sudo_cmd[@]}" rm -f /usr/sbin/policy-rc.d; fi
else
  echo "setup: all packages present"
fi
