#!/usr/bin/env bash
# Listening end to end under a real X server (Xvfb): Clefwork calibrates on its own output, plays
# eight judged bars in note mode at bass pitch while hearing itself (at least 95 % right, green
# marks on the stave), then listens through the file input to a take with every second beat a
# tone too high (those beats red and named, the others green).  The screenshots stay in
# $E2E_OUT (default: a temporary folder, printed).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$here/build}
out=${E2E_OUT:-$(mktemp -d)}
[ -x "$build/clefwork_screens" ] || cmake --build "$build" --target clefwork_screens
display=:$((90 + RANDOM % 100))
Xvfb "$display" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 50); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done
work=$(mktemp -d)
export DISPLAY=$display QT_QPA_PLATFORM=xcb XDG_CONFIG_HOME=$work/config XDG_DATA_HOME=$work/data
echo "== hearing itself"
(cd "$work" && CLEFWORK_AUDIO_DRIVER=file CLEFWORK_AUDIO_FILE=$work/out.wav \
  "$build/clefwork_screens" "$out" listen)
echo "== wrong notes through the file input"
(cd "$work" && "$build/clefwork_screens" "$out" wrong)
echo "screenshots in $out"
