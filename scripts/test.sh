#!/usr/bin/env bash
# The whole test road on a fresh machine: install what is missing, then configure, build and
# run the suite in a plain build and in the AddressSanitizer + UndefinedBehaviorSanitizer build, and
# the thread tests in a ThreadSanitizer build.
# Ends with CTest's summary of the sanitizer build; the exit status covers every build.
set -u
cd "$(dirname "$0")/.."
./scripts/install-deps.sh || exit 1
jobs=$(nproc 2>/dev/null || echo 2)
status=0
run() {  # run <build dir> <extra cmake args...>
  local dir=$1; shift
  echo "== $dir"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DLUMO_WERROR=ON "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" >"$dir/build.log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 200; return 1
  fi
  (cd "$dir" && "${display[@]}" ctest -j "$jobs" --output-on-failure --timeout 600)
}
# The thread tests once more under ThreadSanitizer: the job worker, the catalog load, the log and
# the UI queue.
tsan() {
  local dir=build/tsan
  echo "== $dir"
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DLUMO_WERROR=ON -DLUMO_TSAN=ON -DLUMO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; return 1
  fi
  if ! cmake --build "$dir" -j "$jobs" --target test_manager test_gui >"$dir/build.log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 200; return 1
  fi
  TSAN_OPTIONS=halt_on_error=1 "$dir/tests/test_manager" --gtest_brief=1 \
      --gtest_filter='Job*:JobRoad*:ModelLoad*:Log*' &&
    TSAN_OPTIONS=halt_on_error=1 "$dir/tests/test_gui" --gtest_brief=1 --gtest_filter='UiQueue*'
}
# Real-window tests need an X server: a virtual one when xvfb-run is there (-noreset: the server
# must not reset whenever its last client leaves, between two tests); skipped with a message otherwise.
display=()
if command -v xvfb-run >/dev/null 2>&1; then
  display=(xvfb-run -a -s "-screen 0 1280x1024x24 -noreset")
else
  echo "xvfb-run is missing: the real-window tests are skipped"
fi
run build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo || status=1
tsan || status=1
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
run build/sanitize -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON || status=1
exit $status
