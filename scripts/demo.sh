#!/usr/bin/env bash
# Builds the wizard and runs it against a demo host installation in a private Wine prefix:
# the host's registry values, the stand-in host with its service and repair tool, and a wizard
# folder made by dictpack setup from demo/publish.manifest: two packages (one new dictionary,
# one upgrade of an older one), dictconfig.ini and pictures.
#
# With a display (DISPLAY set) the wizard opens on it for you to click through. Without one
# it runs on a private Xvfb and walks welcome, install and finish by itself, saving a
# screenshot of every page under build/artifacts/demo/. Either way it then prints what was
# installed. QUILLBOX_DEMO_AUTO=1 walks by itself even when there is a display.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD="${QB_BUILD_DIR:-build}"
ROOT='C:\QuillboxDemo'

if [ "${1:-}" = "--inside" ]; then
  demo() { wine "$BUILD/bin/QuillboxDemo.exe" "$@" 2>/dev/null; }
  demo sources "$ROOT"
  cp demo/publish.manifest "$(winepath -u "$ROOT\\source" 2>/dev/null)/"
  echo "demo: dictpack setup $ROOT\\wizard $ROOT\\source\\publish.manifest"
  if ! wine "$BUILD/bin/dictpack.exe" setup "$ROOT\\wizard" "$ROOT\\source\\publish.manifest" 2>&1 | sed 's/^/demo:   /'; then
    echo "demo: dictpack setup failed"; exit 1
  fi
  demo layout "$ROOT"
  if [ "$2" = "interactive" ]; then
    echo "demo: the wizard is open on your display; click through it (leave the box ticked to start the host)."
    wine "$ROOT\\wizard\\Quillbox.exe" 2>/dev/null && rc=0 || rc=$?
    echo "demo: wizard ended with exit code $rc"
    sleep 2
  else
    shots="$PWD/$BUILD/artifacts/demo"
    rm -rf "$shots"; mkdir -p "$shots"
    demo walk "$ROOT" "$(winepath -w "$shots" 2>/dev/null)"
    sleep 1
    for bmp in "$shots"/*.bmp; do
      [ -e "$bmp" ] && convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
    done
    echo "demo: screenshots in $shots:"
    ls -1 "$shots" | sed 's/^/demo:   /'
  fi
  demo report "$ROOT"
  if [ "$2" = "interactive" ] && [ -t 0 ]; then
    read -r -p "demo: press Enter to end the demo session (closes the host's windows) " _ || true
  fi
  exit 0
fi

scripts/setup.sh
cmake -S . -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 --target Quillbox dict_ver dictpack Lexora lxdsvc LXDRepair QuillboxDemo

mode=auto
if [ -n "${DISPLAY:-}" ] && [ "${QUILLBOX_DEMO_AUTO:-0}" != "1" ]; then
  mode=interactive
  export SESSION_DISPLAY=host
fi
QB_BUILD_DIR="$BUILD" exec scripts/wine-session.sh "$0" --inside "$mode"
