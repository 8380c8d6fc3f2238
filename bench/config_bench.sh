#!/usr/bin/env bash
# Benchmark of the launcher configuration file: a per-user file of 100,000
# lines (or the number given) read, rewritten, and registered into.
#
#   bench/config_bench.sh            uses build/bin/config_bench (built if needed)
#   bench/config_bench.sh 16000      another number of lines
#   BUILD_DIR=build-x bench/config_bench.sh
#
# Prints wall and CPU time and peak memory; asserts nothing. Its files live
# in one temporary folder that the program removes.
set -euo pipefail
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}
export LC_ALL=C.UTF-8 LANG=C.UTF-8
if [ ! -f "$BUILD_DIR/CMakeCache.txt" ]; then
  cmake -S . -B "$BUILD_DIR" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$BUILD_DIR" -j2 --target config_bench >/dev/null
"$BUILD_DIR/bin/config_bench" "${1:-100000}"
