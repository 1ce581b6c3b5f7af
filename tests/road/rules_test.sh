#!/usr/bin/env bash
# The test command's pass and fail rules (scripts/test-rules.sh) on a tiny project (project/) whose
# tests pass, fail, skip on a display, skip needing root or skip for another reason: for each mix,
# as root or not, with displays started or none, the run's status and what it says after CTest.
#   tests/road/rules_test.sh <scratch folder>
set -u
here=$(cd "$(dirname "$0")" && pwd)
work=${1:-$(mktemp -d)}
rm -rf "$work"
mkdir -p "$work"
# shellcheck source=../../scripts/test-rules.sh
source "$here/../../scripts/test-rules.sh"
unset RESOURCE_SPEC road_notes
# Two displays that exist only in the spec: no test here opens one.
echo '{"version": {"major": 1, "minor": 0}, "local": [{"display": [{"id": "90", "slots": 1}, {"id": "91", "slots": 1}]}]}' \
  >"$work/spec.json"

as=user
road_as_root() { [ "$as" = root ]; }

failures=0 n=0
# check <tests> <root|user> <displays|none> <status: 0 or 1 for any failure> <what follows CTest's own output>
check() {
  local tests=$1 displays=$3 want_status=$4 want=$5 dir out status said
  as=$2
  dir=$work/$((++n))
  if ! cmake -S "$here/project" -B "$dir" "-DROAD_TESTS=${tests// /;}" >"$dir.configure.log" 2>&1; then
    cat "$dir.configure.log"; failures=$((failures + 1)); return
  fi
  if [ "$displays" = displays ]; then
    out=$(RESOURCE_SPEC=$work/spec.json run_ctest "$dir" 2>&1)
  else
    out=$(RESOURCE_SPEC= run_ctest "$dir" 2>&1)
  fi
  status=$?
  [ "$status" = 0 ] || status=1
  said=$(sed -n '/^\(FAILED\|not run\): /,$p' <<<"$out")
  if [ "$status" != "$want_status" ] || [ "$said" != "$want" ]; then
    echo "FAILED: $tests as $as with $displays: status $status (wanted $want_status), said:"
    echo "${said:-(nothing)}"
    echo "wanted:"
    echo "${want:-(nothing)}"
    echo "-- the whole output:"
    echo "$out"
    failures=$((failures + 1))
  fi
}

display_skip='FAILED: these tests skipped themselves, though displays were started for them:
  Road.WindowSkips'
need_root='not run: these tests need root (run the command as root to run them too):
  Road.NeedsRoot'
check "Passes" root displays 0 ''
check "Passes Fails" user none 1 ''
check "Passes NeedsRoot" user displays 0 "$need_root"
check "Passes NeedsRoot" user none 0 "$need_root"
check "Passes NeedsRoot OtherSkip" root displays 1 'FAILED: these tests skipped themselves, though run as root every test can run:
  Road.NeedsRoot
  Road.OtherSkip'
check "Passes WindowSkips NeedsRoot" user displays 1 "$display_skip
$need_root"
check "Passes WindowSkips" root displays 1 "$display_skip"
check "Passes WindowSkips" user none 0 ''
check "Passes OtherSkip" user displays 1 'FAILED: these tests skipped themselves for another reason than needing root:
  Road.OtherSkip'

echo "rules: $failures of $n cases failed"
[ "$failures" = 0 ]
