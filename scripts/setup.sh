#!/usr/bin/env bash
# Installs the system packages the build, the tests and the demo need, and makes sure this
# machine can run the 32-bit Wine loader (scripts/run32.sh). A quick no-op when all is there.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/run32.sh

PACKAGES=(wine wine32:i386 wine64 g++-mingw-w64-i686 cmake make xvfb googletest fonts-wqy-microhei
          imagemagick clang libclang-rt-14-dev libssl-dev)

SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing ${missing[*]}" >&2
  if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
  fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# 32-bit programs: native, or through qemu-i386 10.x.
if qb_forced; then
  qb_fetch_qemu
  echo "setup: QUILLBOX_EMULATE_32BIT=1: each Wine session runs the 32-bit loader through $QB_QEMU in a private user namespace" >&2
  exit 0
fi
state="$(qb_32bit_state)"
case "$state" in
  native|qemu*) exit 0 ;;
esac
echo "setup: this machine does not run 32-bit programs (or only through a qemu older than ${QB_QEMU_MAJOR_MIN}.x); Wine's 32-bit loader will run under qemu-i386" >&2
qb_fetch_qemu
if [ "$(id -u)" -eq 0 ] && qb_register "$QB_BINFMT_DIR" && [ "$(qb_32bit_state)" != none ]; then
  echo "setup: registered $QB_QEMU with the kernel for every i386 program on this machine, until it restarts" >&2
  echo "setup:   (binfmt_misc entry $QB_BINFMT_DIR/$QB_BINFMT_NAME; remove it with: echo -1 > $QB_BINFMT_DIR/$QB_BINFMT_NAME)" >&2
else
  echo "setup: no machine-wide registration here; each Wine session registers qemu-i386 in a private user namespace" >&2
fi
