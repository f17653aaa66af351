#!/usr/bin/env bash
# Configures and builds Lanquill into build/ (or $LANQUILL_BUILD_DIR). Shared by run and test.
# Arguments are build targets; none builds everything. --werror makes warnings errors (the
# tests' build); without it the build folder keeps whatever it was configured with.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LANQUILL_BUILD_DIR:-$top/build}
jobs=${LANQUILL_JOBS:-$(nproc)}
# Line tables are what a backtrace needs; full debug information cost a quarter to a third of
# every compile.
options=(-DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG"
         "-DCMAKE_C_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
targets=()
for arg in "$@"; do
  case "$arg" in
    --werror) options+=(-DLANQUILL_WERROR=ON) ;;
    *) targets+=(--target "$arg") ;;
  esac
done
cmake -S "$top" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$jobs" "${targets[@]}"
