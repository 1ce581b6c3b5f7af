#!/usr/bin/env bash
# The test command's rules (scripts/test-rules.sh) on a tiny project (project/) whose tests pass,
# fail, skip on a display, skip needing root or skip for another reason: for each mix, as root or
# not, with displays started or none, the run's status and what the rules say after CTest.
#   tests/road/rules_test.sh <scratch folder>
set -u
here=$(cd "$(dirname "$0")" && pwd) work=$1 failures=0 n=0
source "$here/../../scripts/test-rules.sh"
unset road_notes
mkdir -p "$work"
# A display that exists only in the spec: no test here opens one.
spec=$work/spec.json
echo '{"version": {"major": 1, "minor": 0}, "local": [{"display": [{"id": "90", "slots": 1}]}]}' >"$spec"
road_as_root() { [ "$as" = root ]; }

# check <tests> <root|user> <spec or none> <status: 0, or 1 for any failure> <what the rules say>
check() {
  local dir=$work/$((++n)) out status
  as=$2
  cmake -S "$here/project" -B "$dir" "-DROAD_TESTS=${1// /;}" >/dev/null || { failures=$((failures + 1)); return; }
  out=$(RESOURCE_SPEC=$3 run_ctest "$dir" 2>&1)
  status=$(($? != 0))
  out=$(sed -n '/^\(FAILED\|not run\): /,$p' <<<"$out")
  [ "$status $out" = "$4 $5" ] && return
  printf 'FAILED: %s as %s with displays "%s": status %s, said:\n%s\n' "$1" "$2" "$3" "$status" "$out"
  failures=$((failures + 1))
}
display=$'FAILED: these tests skipped themselves, though displays were started for them:\n  Road.WindowSkips'
root=$'not run: these tests need root (run the command as root to run them too):\n  Road.NeedsRoot'
check "Passes Fails" user '' 1 ''
check "Passes NeedsRoot" user "$spec" 0 "$root"
check "Passes WindowSkips NeedsRoot" user "$spec" 1 "$display"$'\n'"$root"
check "Passes WindowSkips" user '' 0 ''
check "Passes OtherSkip" user "$spec" 1 $'FAILED: these tests skipped themselves for another reason than needing root:\n  Road.OtherSkip'
check "Passes NeedsRoot OtherSkip" root "$spec" 1 \
  $'FAILED: these tests skipped themselves, though run as root every test can run:\n  Road.NeedsRoot\n  Road.OtherSkip'
echo "rules: $failures of $n cases failed"
[ "$failures" = 0 ]
