#!/usr/bin/env bash
# Configures and builds Lanquill into build/ (or $LANQUILL_BUILD_DIR). Shared by run and test.
# Arguments are build targets; none builds everything.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LANQUILL_BUILD_DIR:-$top/build}
jobs=${LANQUILL_JOBS:-$(nproc)}
targets=()
for target in "$@"; do targets+=(--target "$target"); done
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$jobs" "${targets[@]}"
