#!/usr/bin/env bash
# The whole test road on a fresh machine: install what is missing, check the road's own pass and
# fail rules (tests/road: a failure there ends the road at once), then configure, build and run
# the suite in a plain build and in the AddressSanitizer + UndefinedBehaviorSanitizer build, the
# thread tests in a ThreadSanitizer build, and (where clang is installed) a 10-second run of every
# libFuzzer harness. The four phases run at once: the builds share the cores, the sanitizer build
# ahead (its tests take longest), the ThreadSanitizer and fuzz builds on what is left; each tree's
# tests start as soon as it is built, ahead of the builds still going. The real-window tests of a
# tree run on virtual X servers of its own, one test a server at a time (CTest hands them out). Each
# phase's output is printed as a block when it ends, with its times; the exit status covers every
# phase.
set -u
cd "$(dirname "$0")/.."
./scripts/install-deps.sh || exit 1
cores=$(nproc 2>/dev/null || echo 2)
logs=build/test-logs
rm -rf "$logs"
mkdir -p "$logs"
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
# The tests' displays are the ones started below, or none: never the caller's.
unset DISPLAY XAUTHORITY WAYLAND_DISPLAY

have_xvfb=0
if command -v Xvfb >/dev/null 2>&1; then
  have_xvfb=1
else
  echo "Xvfb is missing: the real-window tests are skipped"
fi

# Seconds since the road started, and a phase's step times ("build 95 s, tests 40 s").
t0=$SECONDS

# The road's own rules first, on a tiny project of their own (tests/road): a fault in them could
# hide a failure of the trees, its own among them.
if ! bash tests/road/rules_test.sh build/road >"$logs/rules.log" 2>&1; then
  cat "$logs/rules.log"
  echo "== the road's own rules fail (tests/road): no tree is judged by them"
  exit 1
fi
steps=
step() { steps="${steps:+$steps, }$1 $2 s"; }

# configure <dir> <cmake args...>; build <dir> <nice> <cmake --build args...>
configure() {
  local dir=$1 from=$SECONDS; shift
  mkdir -p "$dir"
  if ! cmake -S . -B "$dir" -DLUMO_WERROR=ON "$@" >"$dir/configure.log" 2>&1; then
    cat "$dir/configure.log"; return 1
  fi
  step configure $((SECONDS - from))
}
build() {
  local dir=$1 niceness=$2 from=$SECONDS; shift 2
  if ! nice -n "$niceness" cmake --build "$dir" "$@" >"$dir/build.log" 2>&1; then
    grep -E -B2 -A12 'error|Error' "$dir/build.log" | head -n 200; return 1
  fi
  step build $((SECONDS - from))
}

# with_displays <count> <command...>: runs the command with RESOURCE_SPEC naming <count> virtual X
# servers started for it (display numbers the servers find free themselves), and stops them after.
# Without Xvfb the command runs with no spec: the build's own names one display, the environment's
# (none here), and the window tests say they are skipped.
with_displays() {
  local count=$1 dir pids=() spec i n status
  shift
  if [ $have_xvfb = 0 ]; then
    RESOURCE_SPEC= "$@"; return
  fi
  dir=$(mktemp -d "${TMPDIR:-/tmp}/lumo-displays-XXXXXX")
  for ((i = 0; i < count; i++)); do
    # -noreset: the server must not reset whenever its last client leaves, between two tests.
    Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp -noreset 3>"$dir/$i" 2>"$dir/$i.log" &
    pids+=($!)
  done
  spec='{"version": {"major": 1, "minor": 0}, "local": [{"display": ['
  for ((i = 0; i < count; i++)); do
    # A server writes its display number once it takes connections.
    for ((n = 0; n < 300; n++)); do
      grep -q '^[0-9]' "$dir/$i" 2>/dev/null && break
      sleep 0.1
    done
    if ! grep -q '^[0-9]' "$dir/$i" 2>/dev/null; then
      echo "a virtual X server did not start:"; cat "$dir/$i.log"
      kill "${pids[@]}" 2>/dev/null; wait "${pids[@]}" 2>/dev/null; rm -rf "$dir"
      return 1
    fi
    [ "$i" -gt 0 ] && spec+=', '
    spec+="{\"id\": \"$(head -n1 "$dir/$i")\", \"slots\": 1}"
  done
  echo "$spec]}]}" >"$dir/spec.json"
  RESOURCE_SPEC=$dir/spec.json "$@"
  status=$?
  kill "${pids[@]}" 2>/dev/null
  wait "${pids[@]}" 2>/dev/null
  rm -rf "$dir"
  return $status
}

# Every test of a tree (or those the ctest options after it choose), the window tests on its own
# displays, judged by the road's rules (scripts/test-rules.sh: which skips fail the road, which are
# named as not run).
source scripts/test-rules.sh
tree_tests() {
  local from=$SECONDS status
  run_ctest "$@"
  status=$?
  step tests $((SECONDS - from))
  return $status
}

# The phases. Builds run below normal priority, the sanitizer build least so; tests at normal
# priority, so that a test's time limit is not spent waiting behind a compiler.
# Every tree keeps line tables only (-g1): enough for every stack a failure or a sanitizer prints,
# and a quarter less to compile than full debug information.
lines_only=(-DCMAKE_CXX_FLAGS_DEBUG=-g1 "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O2 -g1 -DNDEBUG")
plain() {
  configure build/plain -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines_only[@]}" &&
    build build/plain 4 -j "$cores" &&
    with_displays "$displays" tree_tests build/plain
}
# The benchmarks, tools and demos are built in the plain tree only: the sanitizer tree builds the
# test programs and what they run.
sanitize() {
  configure build/sanitize -DCMAKE_BUILD_TYPE=Debug -DLUMO_SANITIZE=ON -DLUMO_BENCH=OFF "${lines_only[@]}" &&
    build build/sanitize 1 -j "$cores" --target lumo_tests &&
    with_displays "$displays" tree_tests build/sanitize
}
# The thread tests once more under ThreadSanitizer: the job worker, the catalog load, the log and
# the UI queue (test_threads: the test files that hold these suites, tests/CMakeLists.txt).
tsan() {
  local dir=build/tsan
  configure "$dir" -DLUMO_TSAN=ON -DLUMO_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo "${lines_only[@]}" &&
    build "$dir" 6 -j "$((cores / 2 > 0 ? cores / 2 : 1))" --target test_threads || return 1
  TSAN_OPTIONS=halt_on_error=1 tree_tests "$dir" -R '^(Job|ModelLoad|Log|UiQueue)[^.]*[.]'
}
fuzz() {
  if ! command -v clang++ >/dev/null 2>&1; then
    echo "skipped: no clang++"; return 0
  fi
  FUZZ_BUILD_NICE=6 FUZZ_BUILD_JOBS=$((cores / 2 > 0 ? cores / 2 : 1)) ./scripts/fuzz-smoke.sh build/fuzz 10
}

# Two displays a tree at the least; half the cores on a larger machine.
displays=$((cores / 2 > 2 ? cores / 2 : 2))
phases=(sanitize plain tsan fuzz)
declare -A phase_of
# Each phase in a process group of its own, so that an interrupted road stops all it started; none
# reads the terminal.
set -m
for p in "${phases[@]}"; do
  ( steps=; from=$SECONDS road_notes=$logs/$p.notes
    "$p" </dev/null >"$logs/$p.log" 2>&1
    status=$?
    # The processor time of all it ran: user and system, in seconds.
    times >"$logs/$p.times"
    step cpu "$(awk 'END { split($1 " " $2, t, "[ms]"); print int(t[1] * 60 + t[2] + t[3] * 60 + t[4]) }' "$logs/$p.times")"
    echo "$status $((SECONDS - from)) ${steps}" >"$logs/$p.status" ) &
  phase_of[$!]=$p
done
set +m
trap 'for pid in "${!phase_of[@]}"; do kill -TERM -- "-$pid" 2>/dev/null; done; exit 130' INT TERM

status=0
summary=
for _ in "${phases[@]}"; do
  wait -n -p done_pid
  p=${phase_of[$done_pid]}
  read -r code secs times <"$logs/$p.status"
  if [ "$code" = 0 ]; then result=ok; else result=FAILED; status=1; fi
  echo "== $p: $result, $secs s${times:+ ($times)}, at $((SECONDS - t0)) s"
  cat "$logs/$p.log"
  summary+="  $p: $result, $secs s${times:+ ($times)}"$'\n'
  [ -s "$logs/$p.notes" ] && summary+=$(sed 's/^/    /' "$logs/$p.notes")$'\n'
done
echo "== done in $((SECONDS - t0)) s on $cores cores"
printf '%s' "$summary"
exit $status
