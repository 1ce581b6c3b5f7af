#!/bin/sh
# Runs one harness for a while: tests/fuzz/run.sh <build folder> <target> [seconds [libFuzzer flags...]]
# It starts from the seed corpus kept in the tree (tests/fuzz/corpus/<target>, only read); what it
# finds grows in <build>/fuzz-corpus/<target>, crashes land in <build>/fuzz-findings/<target>/.
# Build first: CC=clang CXX=clang++ cmake -S . -B build/fuzz -DLUMO_FUZZ=ON -DLUMO_BENCH=OFF
#              cmake --build build/fuzz -j3 --target fuzz_<target>
set -eu
build=$1
target=$2
seconds=${3:-240}
shift 2
[ $# -gt 0 ] && shift
here=$(cd "$(dirname "$0")" && pwd)

case $target in
  bitmapfont) max_len=256 ;;
  text_entry) max_len=512 ;;
  job) max_len=2048 ;;
  catalog) max_len=8192 ;;
  *) max_len=4096 ;;
esac

corpus=$build/fuzz-corpus/$target
findings=$build/fuzz-findings/$target
mkdir -p "$corpus" "$findings"
seeds=$here/corpus/$target
[ -d "$seeds" ] || seeds=

dict=
[ -f "$here/$target.dict" ] && dict=-dict=$here/$target.dict

exec "$build/tests/fuzz/fuzz_$target" $dict -max_len=$max_len -timeout=5 -rss_limit_mb=2048 \
  -max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$findings/" "$@" \
  "$corpus" $seeds
