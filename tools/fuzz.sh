#!/usr/bin/env bash
# Builds the libFuzzer targets of every parser of operator-supplied files
# (the sheet readers, the time-text and weekday-text readers, the audio
# header reader) in
# build-fuzz (clang) and runs each for N seconds (default 10):
#   tools/fuzz.sh        a short run, as the test command does
#   tools/fuzz.sh 600    ten minutes each, by hand
# DALING_FUZZ_TARGETS="zip csv" runs only those.
# Seeds come from tests/exchange/fuzz/corpus; new findings stay in
# build-fuzz/corpus/<target> (DALING_FUZZ_BUILD names another build folder).
# A crash is reported with its input saved in build-fuzz/crashes/, and the
# script fails.
set -euo pipefail
seconds="${1:-10}"
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${DALING_FUZZ_BUILD:-$root/build-fuzz}"
targets=(${DALING_FUZZ_TARGETS:-xls zip csv timetext weekdays audiofacts})

if [ ! -f "$build/build.ninja" ]; then
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DDALING_FUZZ=ON -DDALING_TESTS=OFF -DDALING_BENCH=OFF >/dev/null
fi
ninja -C "$build" "${targets[@]/#/fuzz_}"

mkdir -p "$build/crashes"
export ASAN_OPTIONS="${ASAN_OPTIONS:-detect_leaks=0}"
status=0
for t in "${targets[@]}"; do
  corpus="$build/corpus/$t"
  mkdir -p "$corpus"
  echo "== fuzz_$t for ${seconds}s"
  if ! "$build/exchange/fuzz/fuzz_$t" -max_total_time="$seconds" -max_len=65536 -rss_limit_mb=2048 \
       -timeout=20 -artifact_prefix="$build/crashes/$t-" -print_final_stats=1 \
       "$corpus" "$root/tests/exchange/fuzz/corpus/$t" 2>"$build/fuzz_$t.log"; then
    tail -40 "$build/fuzz_$t.log"
    status=1
  else
    grep -E 'stat::number_of_executed_units|stat::peak_rss_mb' "$build/fuzz_$t.log" || true
  fi
done
exit $status
