#!/usr/bin/env bash
# The test command's rules (scripts/test-rules.sh) run on a tiny project (project/) whose tests pass,
# fail or skip: for each mix, as root or not, with displays or none, the status and what they say.
#   tests/road/rules_test.sh <scratch folder>
set -u
here=$(cd "$(dirname "$0")" && pwd) failures=0 n=0
source "$here/../../scripts/test-rules.sh"
unset road_notes
mkdir -p "$1" && work=$(cd "$1" && pwd) || exit 1
spec=$work/spec.json  # a display that no test here opens
echo '{"version": {"major": 1, "minor": 0}, "local": [{"display": [{"id": "90", "slots": 1}]}]}' >"$spec"
road_as_root() { [ "$as" = root ]; }

# check <tests> <root|user> <spec or none> <status: 0, or 1 for any failure> <what the rules say>
#   [ctest options, as the thread step gives them]
check() {
  local dir=$work/$((++n)) out status
  as=$2
  cmake -S "$here/project" -B "$dir" "-DROAD_TESTS=${1// /;}" >/dev/null || { failures=$((failures + 1)); return; }
  out=$(RESOURCE_SPEC=$3 run_ctest "$dir" "${@:6}" 2>&1)
  status=$(($? != 0))
  out=$(sed -n '/^\(FAILED\|not run\): /,$p' <<<"$out")
  [ "$status $out" = "$4 $5" ] && return
  printf 'FAILED: %s as %s with displays "%s": status %s, said:\n%s\n' "$1" "$2" "$3" "$status" "$out"
  failures=$((failures + 1))
}
root=$'not run: these tests need root (run the command as root to run them too):\n  Road.NeedsRoot'
other=$'FAILED: these tests skipped themselves for another reason than needing root:\n  Road.OtherSkip'
as_root=$'FAILED: these tests skipped themselves, though run as root every test can run:\n'
given=$'FAILED: these tests skipped themselves, though displays were started for them:\n'
check "Passes Fails" user '' 1 ''
check "Passes NeedsRoot" user "$spec" 0 "$root"
check "Passes WindowSkips NeedsRoot" user "$spec" 1 "$given  Road.WindowSkips"$'\n'"$root"
check "Passes WindowSkips" user '' 0 \
  $'not run: these tests need a display (install Xvfb to run them too):\n  Road.WindowSkips'
check "Passes NeedsRoot OtherSkip" root "$spec" 1 "$as_root  Road.NeedsRoot"$'\n  Road.OtherSkip'
check "Passes OtherSkip NeedsRoot" user '' 1 "$other"$'\n'"$root"
check "Passes OtherSkip" user "$spec" 1 "$other"
check "Passes WindowNeedsRoot" user "$spec" 1 "$given  Road.WindowNeedsRoot"
check "Passes OtherSkip Fails" root '' 1 "$as_root  Road.OtherSkip" -R 'Passes|OtherSkip'
echo "rules: $failures of $n cases failed"
[ "$failures" = 0 ]
