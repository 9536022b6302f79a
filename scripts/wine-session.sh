#!/usr/bin/env bash
# Runs one command inside a private Wine session: its own 32-bit prefix (copied from a
# template made once per machine), its own Xvfb display unless SESSION_DISPLAY=host,
# and its own wineserver. Everything it started is ended when the command returns.
#
#   scripts/wine-session.sh COMMAND [ARG...]
#
# The command sees WINEPREFIX, DISPLAY, WINEARCH and WINEDEBUG set for the session.
set -euo pipefail

CACHE="${QUILLBOX_CACHE:-${XDG_CACHE_HOME:-${HOME:-/tmp}/.cache}/quillbox}"
TEMPLATE="$CACHE/wine-template"
TEMPLATE_STAMP="template-v3"

export WINEARCH=win32
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="mscoree,mshtml="

make_template() {
  local tmp="$TEMPLATE.tmp.$$"
  rm -rf "$tmp"; mkdir -p "$tmp"
  echo "wine-session: creating the Wine prefix template (once per machine)" >&2
  WINEPREFIX="$tmp" wineboot -i </dev/null >/dev/null 2>&1
  local reg="$tmp/drive_c/quillbox.reg"
  # No crash dialog (it would wait forever), Wine manages its own windows (no window
  # manager on Xvfb), and Tahoma links to a CJK font so Chinese texts render.
  printf 'REGEDIT4\n\n[HKEY_CURRENT_USER\\Software\\Wine\\WineDbg]\n"ShowCrashDialog"=dword:00000000\n\n[HKEY_CURRENT_USER\\Software\\Wine\\X11 Driver]\n"Managed"="N"\n"Decorated"="N"\n\n' > "$reg"
  WINEPREFIX="$tmp" wine regedit /S 'C:\quillbox.reg' </dev/null >/dev/null 2>&1
  WINEPREFIX="$tmp" wine reg add 'HKLM\Software\Microsoft\Windows NT\CurrentVersion\FontLink\SystemLink' \
      /v Tahoma /t REG_MULTI_SZ /d 'wqy-microhei.ttc,WenQuanYi Micro Hei' /f </dev/null >/dev/null 2>&1
  WINEPREFIX="$tmp" wineserver -w
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
wine wineboot </dev/null >/dev/null 2>&1 || true

set +e
"$@"
rc=$?
set -e
exit $rc
