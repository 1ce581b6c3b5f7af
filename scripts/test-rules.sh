# The test command's pass and fail rules for one tree's CTest run, sourced by scripts/test.sh (and
# by their own test, tests/road/rules_test.sh). `run_ctest <build dir> [ctest options]` runs the
# tests of the tree (those the options choose), the window tests (label "display") on the virtual X
# servers that RESOURCE_SPEC names when it is set, and fails when
#   - a test failed (CTest's own status, not that of the tee beside it);
#   - a test given a display skipped itself: it drew nothing (whatever else it says);
#   - run as root, any test skipped itself: there every test can run, so nothing may hide;
#   - any other test skipped itself for any reason but needing root.
# Run by an ordinary account, the tests that need root (their output says "needs root ...") are
# named as not run and fail nothing; so are the window tests without displays (no Xvfb).
# Where road_notes names a file, a line for the closing summary is added to it.

# The road runs as root (CI does).
road_as_root() { [ "$(id -u)" = 0 ]; }

# The tests of the last run in <dir> whose output has a line that starts "needs root".
needs_root_tests() {
  awk '/^[0-9]+\/[0-9]+ Test: / { name = substr($0, index($0, ": ") + 2); next }
       /^Output:$/ { out = 1; next }
       /^<end of output>$/ { out = 0; next }
       out && /^needs root/ { print name; out = 0 }' "$1/Testing/Temporary/LastTest.log" 2>/dev/null
}

# The tests of the tree in <dir> that take a display.
display_tests() {
  (cd "$1" && ctest -N -L '^display$') | sed -n 's/^ *Test *#[0-9]*: //p'
}

# skip_verdict <dir>: the rules above for the tests that skipped themselves in the run whose
# output is <dir>/ctest.log; prints what it finds, fails when a skip may not stand.
skip_verdict() {
  local dir=$1 skipped name needs windows given= undisplayed= root_only= others= status=0
  # CTest names them at the end: "  12 - Suite.Test (Skipped)".
  skipped=$(sed -n 's/^[[:space:]]*[0-9]* - \(.*\) (Skipped)$/\1/p' "$dir/ctest.log")
  [ -z "$skipped" ] && return 0
  # Before `ctest -N`, which starts the log afresh.
  needs=$(needs_root_tests "$dir")
  windows=$(display_tests "$dir")
  while IFS= read -r name; do
    if grep -qFx -- "$name" <<<"$windows" && [ -n "${RESOURCE_SPEC:-}" ]; then
      given+="  $name"$'\n'
    elif road_as_root; then
      others+="  $name"$'\n'
    elif grep -qFx -- "$name" <<<"$windows"; then
      undisplayed+="  $name"$'\n'
    elif grep -qFx -- "$name" <<<"$needs"; then
      root_only+="  $name"$'\n'
    else
      others+="  $name"$'\n'
    fi
  done <<<"$skipped"
  if [ -n "$given" ]; then
    echo "FAILED: these tests skipped themselves, though displays were started for them:"
    printf '%s' "$given"
    status=1
  fi
  if [ -n "$others" ]; then
    if road_as_root; then
      echo "FAILED: these tests skipped themselves, though run as root every test can run:"
    else
      echo "FAILED: these tests skipped themselves for another reason than needing root:"
    fi
    printf '%s' "$others"
    status=1
  fi
  not_run "$undisplayed" "need a display (install Xvfb to run them too)" "window tests without a display"
  not_run "$root_only" "need root (run the command as root to run them too)" "tests that need root"
  return $status
}

# not_run <names> <what they need> <what they are>: names the tests that could not run here.
not_run() {
  [ -z "$1" ] && return
  echo "not run: these tests $2:"
  printf '%s' "$1"
  [ -n "${road_notes:-}" ] && echo "not run: $(grep -c . <<<"$1") $3 (named above)" >>"$road_notes"
}

run_ctest() {
  local dir=$1 spec=() status
  shift
  [ -n "${RESOURCE_SPEC:-}" ] && spec=(--resource-spec-file "$RESOURCE_SPEC")
  (cd "$dir" && ctest -j "${cores:-2}" "${spec[@]}" "$@" --output-on-failure --no-label-summary --timeout 600) |
    tee "$dir/ctest.log"
  status=${PIPESTATUS[0]}
  skip_verdict "$dir" || status=1
  return $status
}
