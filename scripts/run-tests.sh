#!/usr/bin/env bash
# The whole test suite: the optimised build, the sanitizer build, then the fuzz targets over
# their corpora and for a short run each. Packages must be installed (make test does that).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc)
fuzz_seconds=${PELORIN_FUZZ_SECONDS:-20}

step() { printf '\n== %s\n' "$*"; }

step "optimised build and tests"
cmake --preset default >/dev/null
cmake --build --preset default -j "$jobs"
ctest --preset default

step "Debian package of that build: lint, install into an empty root, grant, purge"
cmake --build --preset default -j "$jobs" --target package
scripts/check-package.sh

step "AddressSanitizer + UndefinedBehaviorSanitizer build and tests"
cmake --preset asan >/dev/null
cmake --build --preset asan -j "$jobs"
ctest --preset asan

step "fuzz targets"
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$jobs"
# A sanitizer finding or a crash stops the target (the fuzz build does not recover): its whole
# report is shown, the input that caused it is kept here, and the step fails.
findings=build/fuzz/findings
mkdir -p "$findings"
fuzz() {
  local log status=0
  log=$(mktemp)
  UBSAN_OPTIONS=print_stacktrace=1 "$@" -artifact_prefix="$findings/" >"$log" 2>&1 || status=$?
  if [ "$status" -ne 0 ]; then
    cat "$log"
    rm -f "$log"
    echo "FAILED (exit status $status): $*; the input is in $findings/"
    return 1
  fi
  tail -n 2 "$log"
  rm -f "$log"
}
shopt -s nullglob
for target in build/fuzz/fuzz/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  corpus=fuzz/corpus/${name#fuzz_}
  if [ -d "$corpus" ]; then
    echo "-- $name: corpus regression"
    fuzz "$target" -runs=0 "$corpus"/*
  fi
  echo "-- $name: ${fuzz_seconds}s of fuzzing"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  fuzz "$target" -max_total_time="$fuzz_seconds" -print_final_stats=0 "$work"
  rm -rf "$work"
done
echo
echo "all tests passed"
