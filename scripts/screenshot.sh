#!/usr/bin/env bash
# Takes a screenshot of the main window on a virtual X display: scripts/screenshot.sh OUT.png
set -euo pipefail
out=${1:-docs/main-window.png}
bin=${PELORIN_BIN:-build/default/pelorin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work
# The window shows after the splash's second; give it one more to settle.
xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
  "$0" & pid=$!
  sleep 3
  xwd -silent -root -out "$1/screen.xwd"
  kill "$pid"
  wait "$pid" 2>/dev/null || true
' "$bin" "$work"
# Crop to the window: the one region that is not the empty root background.
/usr/bin/convert "$work/screen.xwd" -trim +repage "$out"
echo "wrote $out"
