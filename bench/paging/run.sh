#!/bin/bash
# Runs bench_paging against a PulseAudio server of its own: the null sink
# "mic" (its monitor is the input), two zones and the reference's sink.
# Usage: bench/paging/run.sh [path/to/bench_paging] [path/to/dalingd]
#        (default: build/bench/paging/bench_paging and build/engine/dalingd)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
bin="${1:-$here/../../build/bench/paging/bench_paging}"
dalingd="${2:-$here/../../build/engine/dalingd}"
export XDG_RUNTIME_DIR="$(mktemp -d)"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=mic" \
  --load="module-null-sink sink_name=zoneA" --load="module-null-sink sink_name=zoneB" \
  --load="module-null-sink sink_name=ref" 2>/dev/null
# --disallow-exit refuses "pactl exit": stop this server by its own pid file.
stop() {
  local pid
  pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap stop EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-source mic.monitor
# dalingd runs with a runtime folder of its own: point it at this server.
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
BENCH_DALINGD="$dalingd" "$bin"
