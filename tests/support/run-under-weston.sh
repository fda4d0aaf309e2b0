#!/bin/sh
# Runs a test program under a real Wayland compositor of its own: Weston's headless back end,
# in a runtime folder of its own (0700, as Wayland asks), ended by its process id afterwards.
# Usage: run-under-weston.sh PROGRAM [ARGUMENT...]
set -eu

runtime=$(mktemp -d /tmp/pelorin-wayland-XXXXXX)
chmod 0700 "$runtime"
XDG_RUNTIME_DIR=$runtime weston --backend=headless-backend.so --no-config --socket=wayland-test --idle-time=0 \
  --width=1920 --height=1200 >"$runtime/weston.log" 2>&1 &
weston=$!
finish() {
  kill "$weston" 2>/dev/null || true
  wait "$weston" 2>/dev/null || true
  rm -rf "$runtime"
}
trap finish EXIT

tries=0
until [ -S "$runtime/wayland-test" ]; do
  tries=$((tries + 1))
  if [ "$tries" -gt 100 ] || ! kill -0 "$weston" 2>/dev/null; then
    echo "weston did not start:" >&2
    cat "$runtime/weston.log" >&2
    exit 1
  fi
  sleep 0.1
done

status=0
XDG_RUNTIME_DIR=$runtime WAYLAND_DISPLAY=wayland-test QT_QPA_PLATFORM=wayland "$@" || status=$?
exit "$status"
