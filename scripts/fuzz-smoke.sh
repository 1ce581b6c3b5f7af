#!/usr/bin/env bash
# A short run of every libFuzzer harness: scripts/fuzz-smoke.sh <build folder> [seconds]
# Builds the harnesses with clang (AddressSanitizer + UBSan + coverage) and runs them all at once,
# each for the given time (20 s) from the seed corpus in tests/fuzz/corpus. Fails when a harness
# does not build or finds a crash, a leak, a hang or too much memory; its log tail is printed.
# FUZZ_BUILD_JOBS (all cores) and FUZZ_BUILD_NICE (0) set how the build shares the machine.
set -u
cd "$(dirname "$0")/.."
build=${1:-build/fuzz}
seconds=${2:-20}
jobs=${FUZZ_BUILD_JOBS:-$(nproc 2>/dev/null || echo 2)}
started=$SECONDS
targets=$(sed -n 's/^lumo_fuzzer(\([a-z_0-9]*\) .*/\1/p' tests/fuzz/CMakeLists.txt)
echo "== $build (fuzz smoke, ${seconds} s a harness)"
mkdir -p "$build"
# Line tables only (-g1): enough for a finding's stack.
if ! CC=clang CXX=clang++ cmake -S . -B "$build" -DLUMO_WERROR=ON -DLUMO_FUZZ=ON -DLUMO_BENCH=OFF \
     -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG" \
     >"$build/configure.log" 2>&1; then
  cat "$build/configure.log"; exit 1
fi
build_targets=()
for t in $targets; do build_targets+=(--target "fuzz_$t"); done
if ! nice -n "${FUZZ_BUILD_NICE:-0}" cmake --build "$build" -j "$jobs" "${build_targets[@]}" >"$build/build.log" 2>&1; then
  grep -E -B2 -A12 'error|Error' "$build/build.log" | head -n 200; exit 1
fi
echo "built in $((SECONDS - started)) s"
mkdir -p "$build/fuzz-logs"
ran=$SECONDS
pids=()
for t in $targets; do
  tests/fuzz/run.sh "$build" "$t" "$seconds" >"$build/fuzz-logs/$t.log" 2>&1 &
  pids+=("$!:$t")
done
status=0
for entry in "${pids[@]}"; do
  pid=${entry%%:*}
  t=${entry#*:}
  if wait "$pid"; then
    echo "fuzz_$t: $(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$build/fuzz-logs/$t.log" |
      grep -o '[0-9]*$') runs, no finding"
  else
    echo "fuzz_$t FAILED (log: $build/fuzz-logs/$t.log, findings: $build/fuzz-findings/$t/)"
    tail -n 40 "$build/fuzz-logs/$t.log"
    status=1
  fi
done
echo "ran in $((SECONDS - ran)) s"
exit $status
