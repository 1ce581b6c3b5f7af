#!/usr/bin/env bash
# The test command's rules (scripts/test-rules.sh) run on a tiny project (project/) whose tests pass,
# fail or skip: for each mix, as root or not, with displays or none, the status and what they say.
#   tests/road/rules_test.sh <scratch folder>
set -u
here=$(cd "$(dirname "$0")" && pwd) work=$1 failures=0 n=0
source "$here/../../scripts/test-rules.sh"
unset road_notes
mkdir -p "$work"
spec=$work/spec.json  # a display that no test here opens
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
root=$'not run: these tests need root (run the command as root to run them too):\n  Road.NeedsRoot'
check "Passes Fails" user '' 1 ''
check "Passes NeedsRoot" user "$spec" 0 "$root"
check "Passes WindowSkips NeedsRoot" user "$spec" 1 \
  $'FAILED: these tests skipped themselves, though displays were started for them:\n  Road.WindowSkips\n'"$root"
check "Passes WindowSkips" user '' 0 ''
check "Passes NeedsRoot OtherSkip" root "$spec" 1 \
  $'FAILED: these tests skipped themselves, though run as root every test can run:\n  Road.NeedsRoot\n  Road.OtherSkip'
echo "rules: $failures of $n cases failed"
[ "$failures" = 0 ]
