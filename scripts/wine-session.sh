#!/usr/bin/env bash
# Runs one command inside a private Wine session: its own 32-bit prefix (copied from a
# template made once per machine), its own Xvfb display unless SESSION_DISPLAY=host,
# and its own wineserver. Everything it started is ended when the command returns.
#
#   scripts/wine-session.sh COMMAND [ARG...]
#
# The command sees WINEPREFIX, DISPLAY, WINEARCH and WINEDEBUG set for the session, and
# QUILLBOX_32BIT saying how 32-bit code runs in it: "native" or "qemu-i386 VERSION (...)".
# Where this machine refuses 32-bit programs and qemu-i386 could not be registered machine-wide
# (scripts/setup.sh), or with QUILLBOX_EMULATE_32BIT=1, the session runs in a private user
# namespace whose own binfmt_misc hands i386 programs to qemu-i386.
set -euo pipefail
. "$(dirname "$0")/run32.sh"

if [ -z "${QB_SESSION_USERNS:-}" ]; then
  state="$(qb_32bit_state)"
  if qb_forced || [ "$state" = none ]; then
    if ! qb_qemu_usable "$QB_QEMU"; then
      echo "wine-session: this machine does not run 32-bit programs and $QB_QEMU is missing: run scripts/setup.sh" >&2
      exit 1
    fi
    exec unshare --user --map-root-user --mount --fork env QB_SESSION_USERNS=1 bash "$0" "$@"
  fi
  case "$state" in
    native) export QUILLBOX_32BIT=native ;;
    *) export QUILLBOX_32BIT="qemu-i386 ${state#qemu } (binfmt_misc, machine-wide)" ;;
  esac
else
  if ! qb_register "$QB_BINFMT_DIR" || ! qb_probe32; then
    echo "wine-session: could not register $QB_QEMU in a private user namespace (binfmt_misc there needs Linux 6.7 or later): run scripts/setup.sh as root" >&2
    exit 1
  fi
  export QUILLBOX_32BIT="qemu-i386 $(qb_qemu_version "$QB_QEMU") (binfmt_misc, private user namespace)"
fi

CACHE="$QB_CACHE"
TEMPLATE="$CACHE/wine-template"
TEMPLATE_STAMP="template-v3"

export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

make_template() {
  local tmp="$TEMPLATE.tmp.$$"
  rm -rf "$tmp"; mkdir -p "$tmp"
  echo "wine-session: creating the Wine prefix template (once per machine)" >&2
  # Under qemu-i386 this takes about 41 s; a native run 10 to 18 s.
  if ! WINEPREFIX="$tmp" timeout 600 wineboot -i </dev/null >/dev/null 2>&1; then
    echo "wine-session: wineboot -i did not finish within 600 s ($QUILLBOX_32BIT)" >&2
    WINEPREFIX="$tmp" wineserver -k >/dev/null 2>&1 || true
    exit 1
  fi
  local reg="$tmp/drive_c/quillbox.reg"
  # No crash dialog (it would wait forever), Wine manages its own windows (no window
  # manager on Xvfb), and Tahoma links to a CJK font so Chinese texts render.
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n\n' > "$reg"
  WINEPREFIX="$tmp" timeout 300 wine regedit /S 'C:\quillbox.reg' </dev/null >/dev/null 2>&1
  WINEPREFIX="$tmp" timeout 300 wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
  if ! WINEPREFIX="$tmp" timeout 120 wineserver -w; then
    echo "wine-session: the template's wineserver did not end within 120 s" >&2
    WINEPREFIX="$tmp" wineserver -k >/dev/null 2>&1 || true
  fi
  rm -f "$reg"
  echo "$TEMPLATE_STAMP" > "$tmp/.quillbox-stamp"
  rm -rf "$TEMPLATE"; mv "$tmp" "$TEMPLATE"
}

mkdir -p "$CACHE"
if [ "$(cat "$TEMPLATE/.quillbox-stamp" 2>/dev/null)" != "$TEMPLATE_STAMP" ]; then
  ( flock 9; [ "$(cat "$TEMPLATE/.quillbox-stamp" 2>/dev/null)" = "$TEMPLATE_STAMP" ] || make_template ) 9>"$CACHE/template.lock"
fi

RUN="$(mktemp -d "${TMPDIR:-/tmp}/quillbox-session.XXXXXX")"
export WINEPREFIX="$RUN/prefix"
cp -a "$TEMPLATE" "$WINEPREFIX"
export TMPDIR="$RUN/tmp"; mkdir -p "$TMPDIR"

XVFB_PID=""
cleanup() {
  WINEPREFIX="$WINEPREFIX" wineserver -k >/dev/null 2>&1 || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
  rm -rf "$RUN"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

if [ "${SESSION_DISPLAY:-}" != "host" ] || [ -z "${DISPLAY:-}" ]; then
  n=$(( 100 + $$ % 800 ))
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp </dev/null >/dev/null 2>&1 &
  XVFB_PID=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.05; done
  export DISPLAY=":$n"
fi

# The server must not hold the caller's output open, or ctest waits for it forever.
# Persistent while the command runs, yet gone 30 s after its last client should this
# script be killed before its cleanup.
wineserver -p30 </dev/null >/dev/null 2>&1
timeout 300 wine wineboot </dev/null >/dev/null 2>&1 || echo "wine-session: wineboot of the session's prefix did not finish within 300 s" >&2

set +e
"$@"
rc=$?
set -e
exit $rc
