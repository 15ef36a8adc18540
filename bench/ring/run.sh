#!/bin/bash
# Runs bench_ring against a PulseAudio server of its own with a null sink.
# Usage: bench/ring/run.sh [path/to/bench_ring]   (default: build-ring/bench/ring/bench_ring)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build-ring/bench/ring/bench_ring}"
source "$here/../common/pulse-bench.sh"
bench_pulse_start test_null
BENCH_SOURCE=test_null.monitor "$bin"
