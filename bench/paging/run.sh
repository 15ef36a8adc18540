#!/bin/bash
# Runs bench_paging against a PulseAudio server of its own: the null sink
# "mic" (its monitor is the input), two zones and the reference's sink.
# Usage: bench/paging/run.sh [path/to/bench_paging] [path/to/dalingd]
#        (default: build/bench/paging/bench_paging and build/engine/dalingd)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build/bench/paging/bench_paging}"
dalingd="${2:-$here/../../build/engine/dalingd}"
source "$here/../common/pulse-bench.sh"
bench_pulse_start mic zoneA zoneB ref
pactl set-default-source mic.monitor
BENCH_DALINGD="$dalingd" "$bin"
