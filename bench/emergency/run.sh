#!/bin/bash
# Runs bench_emergency against a PulseAudio server of its own with three null
# sinks: two zones and the reference's.
# Usage: bench/emergency/run.sh path/to/bench_emergency path/to/daling [runs] [path/to/daling-emergency [path/to/dalingd]]
set -euo pipefail
bin="${1:?bench_emergency}"; daling="${2:?daling}"; runs="${3:-10}"
export XDG_RUNTIME_DIR="$(mktemp -d)"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=zone_a" \
  --load="module-null-sink sink_name=zone_b" --load="module-null-sink sink_name=ref" 2>/dev/null
stop() {
  local pid
  pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
trap stop EXIT
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink ref
export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
QT_QPA_PLATFORM=offscreen "$bin" "$daling" "$runs" "${@:4}"
