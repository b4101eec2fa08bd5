#!/usr/bin/env bash
# Builds everything from scratch and runs the whole test suite.
#   scripts/test.sh            normal build in build/
#   scripts/test.sh --sanitize AddressSanitizer + UndefinedBehaviorSanitizer build in build-asan/
#   scripts/test.sh --tsan     ThreadSanitizer build in build-tsan/ of the concurrency tests only
set -euo pipefail
cd "$(dirname "$0")/.."

build=build
flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo)
targets=()
select=()
case "${1:-}" in
  "") ;;
  --sanitize)
    build=build-asan
    flags=(-DCMAKE_BUILD_TYPE=Debug -DVELTRANE_SANITIZE=ON -DVELTRANE_BUILD_BENCH=OFF)
    export ASAN_OPTIONS=halt_on_error=1:abort_on_error=1:detect_leaks=1
    export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
    ;;
  --tsan)
    # The tests that run several threads on shared objects: every test named
    # Concurrent..., and the reader's thread tests. Only their programs are
    # built, to keep the run short.
    build=build-tsan
    flags=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_TSAN=ON -DVELTRANE_BUILD_BENCH=OFF)
    targets=(test_reader_threads test_payload test_payload_terrain test_fixedtile test_fixedtile_terrain test_wavedec)
    select=(-R 'Concurrent|ReaderThreads' --no-tests=error)
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    ;;
  *)
    echo "usage: scripts/test.sh [--sanitize|--tsan]" >&2
    exit 2
    ;;
esac

bash scripts/install-deps.sh
rm -rf "$build"
cmake -S . -B "$build" "${flags[@]}"
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "$t"); done
cmake --build "$build" -j"$(nproc)" "${build_targets[@]}"
ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "${select[@]}"
