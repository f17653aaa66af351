#!/usr/bin/env bash
# Configures and builds Lanquill into build/ (or $LANQUILL_BUILD_DIR). Shared by run and test.
# Arguments are build targets; none builds everything. --werror makes warnings errors (the
# tests' build); without it the build folder keeps whatever it was configured with.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LANQUILL_BUILD_DIR:-$top/build}
jobs=${LANQUILL_JOBS:-$(nproc)}
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
for arg in "$@"; do
  case "$arg" in
    --werror) options+=(-DLANQUILL_WERROR=ON) ;;
    *) targets+=(--target "$arg") ;;
  esac
done
cmake -S "$top" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$jobs" "${targets[@]}"
