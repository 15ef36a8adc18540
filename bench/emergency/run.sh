#!/bin/bash
# Runs bench_emergency against a PulseAudio server of its own with three null
# sinks: two zones and the reference's (the default).
# Usage: bench/emergency/run.sh path/to/bench_emergency path/to/daling [runs] [path/to/daling-emergency [path/to/dalingd]]
set -euo pipefail
bin="${1:?bench_emergency}"; daling="${2:?daling}"; runs="${3:-10}"
source "$(dirname "$0")/../common/pulse-bench.sh"
bench_pulse_start ref zone_a zone_b
QT_QPA_PLATFORM=offscreen "$bin" "$daling" "$runs" "${@:4}"
