#!/usr/bin/env bash
# Installs the system packages the build, the tests and the demo need.
# A quick no-op when everything is already there.
set -euo pipefail

PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686 cmake make xvfb googletest fonts-wqy-microhei
          imagemagick clang libclang-rt-14-dev libssl-dev)

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
echo "setup: installing ${missing[*]}" >&2
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
