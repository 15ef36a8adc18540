#!/bin/bash
# Runs bench_zones against a PulseAudio server of its own: a default null
# sink and four null sinks zone_1 … zone_4, one per zone (unix socket only).
# Usage: bench/zones/run.sh [path/to/bench_zones]   (default: build-bench/bench/zones/bench_zones)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build-bench/bench/zones/bench_zones}"
source "$here/../common/pulse-bench.sh"
bench_pulse_start dflt zone_1 zone_2 zone_3 zone_4
"$bin" "${@:2}"
