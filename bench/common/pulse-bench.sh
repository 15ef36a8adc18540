# Sourced by the benchmark scripts: a PulseAudio server of the script's own,
# in a runtime folder of its own, with the null sinks named, stopped when the
# script exits. The first sink named becomes the default.
# usage: source bench/common/pulse-bench.sh; bench_pulse_start sink [sink ...]
bench_pulse_start() {
  export XDG_RUNTIME_DIR="$(mktemp -d)"
  local loads=(--load=module-native-protocol-unix) s
  for s in "$@"; do loads+=(--load="module-null-sink sink_name=$s"); done
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit "${loads[@]}" 2>/dev/null
  trap bench_pulse_stop EXIT
  for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
  pactl set-default-sink "$1"
  export PULSE_SERVER="unix:$XDG_RUNTIME_DIR/pulse/native"
  BENCH_PULSE_PID="$(cat "$XDG_RUNTIME_DIR/pulse/pid")"
  export BENCH_PULSE_PID
}
# --disallow-exit refuses "pactl exit": the server is stopped by its own pid file.
bench_pulse_stop() {
  local pid
  pid="$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  rm -rf "$XDG_RUNTIME_DIR"
}
