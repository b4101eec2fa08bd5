#!/usr/bin/env bash
# Fuzzing campaign. Builds every fuzz target (fuzz/fuzz_*.cpp) with Debian's
# clang as a libFuzzer program over a library that is instrumented whole
# (coverage, ASan, UBSan), linked statically with the library's archives, a
# static Wavedec and OpenJPEG's archive, in build-fuzz/; then runs each target
# for the given time.
#
#   scripts/fuzz.sh [SECONDS] [--runs N] [TARGET...]
#     SECONDS   time per target (default 60)
#     --runs N  stop a target after N executions if that comes first
#     TARGET    compact_jpeg, image_payload, packets, terrain, pyramid_file
#               (default: all)
#
# Corpus: each target starts from the seeds its smoke driver writes
# (build-fuzz/corpus/<target>, where libFuzzer also keeps the inputs that
# reach new code; regenerated on every run, never committed) and from the
# findings kept in fuzz/corpus/<target>. A crash, leak or timeout (an input
# running for a minute: generous, as a shared machine can stall a process
# for many seconds) leaves its input in build-fuzz/findings/<target>/; once
# fixed, the input goes into fuzz/corpus/<target>, which ctest's smoke
# drivers replay in every build.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=60
runs=-1
targets=()
while [ $# -gt 0 ]; do
  case "$1" in
    --runs) runs="$2"; shift 2 ;;
    [0-9]*) seconds="$1"; shift ;;
    -*) echo "usage: scripts/fuzz.sh [SECONDS] [--runs N] [TARGET...]" >&2; exit 2 ;;
    *) targets+=("$1"); shift ;;
  esac
done
if [ ${#targets[@]} -eq 0 ]; then
  for f in fuzz/fuzz_*.cpp; do
    t=$(basename "$f" .cpp)
    targets+=("${t#fuzz_}")
  done
fi

bash scripts/install-deps.sh clang libclang-rt-14-dev

build=build-fuzz
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B "$build" -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVELTRANE_LIBFUZZER=ON -DVELTRANE_BUILD_BENCH=OFF "${launcher[@]}" >/dev/null
build_targets=()
for t in "${targets[@]}"; do build_targets+=(--target "fuzz_$t" --target "fuzz_${t}_smoke"); done
cmake --build "$build" -j"$(nproc)" "${build_targets[@]}"

export ASAN_OPTIONS=abort_on_error=1:detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# CPU time (clock ticks) of this shell's finished children: on a shared
# machine the executions per CPU second say what one free core would do.
children_cpu_ticks() {
  local f
  read -r -a f < /proc/$$/stat
  echo $(( f[15] + f[16] ))
}
ticks_per_second=$(getconf CLK_TCK)

summary=()
failed=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  kept="fuzz/corpus/$t"
  mkdir -p "$corpus" "$findings" "$kept"
  "$build/fuzz/fuzz_${t}_smoke" --write-seeds "$corpus"
  log="$build/fuzz-$t.log"
  echo "== $t: ${seconds} s"
  status=0
  before=$(children_cpu_ticks)
  "$build/fuzz/fuzz_$t" "$corpus" "$kept" -max_total_time="$seconds" -runs="$runs" -timeout=60 \
    -rss_limit_mb=2048 -artifact_prefix="$findings/" -print_final_stats=1 >"$log" 2>&1 || status=$?
  cpu_ticks=$(( $(children_cpu_ticks) - before ))
  # The last status line ("#N DONE cov: C ft: F ...") and the final stats.
  last=$(grep -E '^#[0-9]+' "$log" | tail -1 || true)
  # (a crash prints the stats twice: the last ones count)
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  cov=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$last")
  ft=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$last")
  result=clean
  if [ "$status" -ne 0 ]; then
    result="FINDING (exit $status, see $log and $findings/)"
    failed=1
    tail -40 "$log"
  fi
  per_cpu=?
  if [ -n "$execs" ] && [ "$cpu_ticks" -gt 0 ]; then per_cpu=$(( execs * ticks_per_second / cpu_ticks )); fi
  summary+=("$(printf '%-14s %10s runs %6s exec/s %6s exec/cpu-s  cov %5s  ft %6s  %s' "$t" "${execs:-?}" \
    "${rate:-?}" "$per_cpu" "${cov:-?}" "${ft:-?}" "$result")")
done
printf '%s\n' "${summary[@]}"
exit $failed
