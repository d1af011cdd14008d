#!/usr/bin/env bash
# Installs, once and only what is missing, every Debian package that building,
# running and testing the installer need. Safe to run again: it does nothing
# when everything is there.
set -euo pipefail

packages=(
  cmake make g++ googletest libgtest-dev libgmock-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-tools
  wine wine64 xvfb xdotool x11-utils imagemagick fonts-wqy-microhei nsis
  python3 python3-pytest python3-trustme python3-pefile python3-pil
  osslsigncode openssl squid nginx
  curl ca-certificates procps util-linux
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
