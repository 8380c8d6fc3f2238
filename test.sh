#!/usr/bin/env bash
# Builds and runs every test through CTest.
#
#   ./test.sh               normal build in build/, whole suite
#   ./test.sh --sanitize    AddressSanitizer + UndefinedBehaviorSanitizer build
#                           in build-asan/ (whole suite), then ThreadSanitizer
#                           in build-tsan/ (the tests labelled "tsan")
#   ./test.sh --fuzz [SEC]  libFuzzer targets built with clang in build-fuzz/,
#                           each run for SEC seconds (default 60)
#
# Extra arguments after the mode go to ctest (for example -R platform).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD

mode=normal
case "${1:-}" in
  --sanitize) mode=sanitize; shift ;;
  --fuzz) mode=fuzz; shift ;;
esac

# shellcheck source=tools/install-deps.sh
source "$ROOT/tools/install-deps.sh"
install_deps "$mode"

JOBS=${JOBS:-$(nproc)}
export LC_ALL=C.UTF-8 LANG=C.UTF-8

configure_and_build() {  # dir, cmake args...
  local dir=$1; shift
  if [ ! -f "$dir/CMakeCache.txt" ]; then
    cmake -S "$ROOT" -B "$dir" -DBUILD_TESTING=ON "$@" >/dev/null
  elif grep -q '^BUILD_TESTING:BOOL=OFF' "$dir/CMakeCache.txt"; then
    # Configured by run.sh, which builds the programs only.
    cmake -S "$ROOT" -B "$dir" -DBUILD_TESTING=ON >/dev/null
  fi
  cmake --build "$dir" -j "$JOBS"
}

run_ctest() {  # dir, ctest args...
  local dir=$1; shift
  # A private X server for the GUI tests; -a picks a free display number.
  # No label summary: the output ends on CTest's own result line.
  xvfb-run -a -s "-screen 0 1280x1024x24 -nolisten tcp -noreset" \
    ctest --test-dir "$dir" --output-on-failure --no-label-summary -j "$JOBS" "$@"
}

case $mode in
  normal)
    configure_and_build build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    run_ctest build "$@"
    ;;
  sanitize)
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    configure_and_build build-asan -DCMAKE_BUILD_TYPE=Debug -DQXR8_SANITIZE=address,undefined
    run_ctest build-asan "$@"
    configure_and_build build-tsan -DCMAKE_BUILD_TYPE=Debug -DQXR8_SANITIZE=thread
    run_ctest build-tsan -L tsan "$@"
    ;;
  fuzz)
    seconds=${1:-60}
    configure_and_build build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DQXR8_FUZZ=ON
    status=0
    for target in build-fuzz/fuzz/*_fuzzer; do
      [ -x "$target" ] || continue
      name=$(basename "$target")
      corpus=$(mktemp -d)
      cp -r "$ROOT/tests/fuzz/corpus/${name%_fuzzer}/." "$corpus/" 2>/dev/null || true
      echo "fuzzing $name for ${seconds}s"
      if ! "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
           -print_final_stats=1 "$corpus" >"build-fuzz/$name.log" 2>&1; then
        tail -n 40 "build-fuzz/$name.log"; status=1
      fi
      rm -rf "$corpus"
    done
    [ $status -eq 0 ] && echo "fuzzing: 0 failures"
    exit $status
    ;;
esac
