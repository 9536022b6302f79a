#!/usr/bin/env bash
# Draws the program icon (an open blue book with a quill stroke) at 16, 32 and 48 pixels.
set -euo pipefail
cd "$(dirname "$0")"
tmp="$(mktemp -d)"; trap 'rm -rf "$tmp"' EXIT
convert -size 48x48 xc:none \
  -fill '#1f5fae' -draw 'roundrectangle 4,8 44,42 4,4' \
  -fill '#ffffff' -draw 'rectangle 8,12 23,38' -draw 'rectangle 25,12 40,38' \
  -stroke '#1f5fae' -strokewidth 2 -draw 'line 11,18 20,18' -draw 'line 11,24 20,24' -draw 'line 11,30 20,30' \
  -stroke '#c0392b' -strokewidth 3 -draw 'line 28,34 40,4' \
  "$tmp/icon48.png"
convert "$tmp/icon48.png" -resize 32x32 "$tmp/icon32.png"
convert "$tmp/icon48.png" -resize 16x16 "$tmp/icon16.png"
convert "$tmp/icon16.png" "$tmp/icon32.png" "$tmp/icon48.png" Quillbox.ico
