#!/usr/bin/env bash
# Takes a screenshot of the main window on a virtual X display: scripts/screenshot.sh OUT.png
#
# The program runs in a network namespace of its own, where a few loopback endpoints are opened
# for the Netstat list to show: the picture shows none of this machine's own addresses, ports or
# processes. It keeps its settings in a folder of its own too, where it finds itself left at a
# size larger than its smallest, as on a screen of today.
set -euo pipefail
out=${1:-docs/main-window.png}
bin=${PELORIN_BIN:-build/default/pelorin}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export XDG_RUNTIME_DIR=$work XDG_CONFIG_HOME=$work
mkdir -p "$work/pelorin"
printf '[window]\nx=10\ny=10\nwidth=1000\nheight=640\n' >"$work/pelorin/pelorin.ini"

# Inside the namespace: loopback up, the endpoints, the program on a virtual display.
inside() {
  local bin=$1 work=$2
  local pids=()
  ip link set lo up
  socat TCP-LISTEN:8080,bind=127.0.0.1,reuseaddr,fork OPEN:/dev/null & pids+=($!)
  socat -u TCP-LISTEN:5432,bind=127.0.0.1,reuseaddr OPEN:/dev/null & pids+=($!)
  socat -u UDP-RECV:5353,bind=127.0.0.1 OPEN:/dev/null & pids+=($!)
  sleep 0.5
  # One connection that stays (both ends only read), one that has ended (TIME_WAIT).
  socat -u TCP:127.0.0.1:5432 OPEN:/dev/null & pids+=($!)
  socat -u OPEN:/dev/null TCP:127.0.0.1:8080
  sleep 0.5
  xvfb-run -a -s "-screen 0 1024x768x24" bash -c '
    "$0" & pid=$!
    # The window shows after the splash second; give the list one more to fill.
    sleep 3
    xwd -silent -root -out "$1/screen.xwd"
    kill "$pid"
    wait "$pid" 2>/dev/null || true
  ' "$bin" "$work"
  kill "${pids[@]}" 2>/dev/null || true
  wait 2>/dev/null || true
}
export -f inside

if [ "$(id -u)" = 0 ]; then
  unshare --net bash -c 'inside "$@"' inside "$bin" "$work"
else
  unshare --net --map-root-user bash -c 'inside "$@"' inside "$bin" "$work"
fi
# Crop to the window: the one region that is not the empty root background.
/usr/bin/convert "$work/screen.xwd" -trim +repage "$out"
echo "wrote $out"
