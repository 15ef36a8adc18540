#!/usr/bin/env bash
# Starts a private PulseAudio server with a null sink "test_null" whose
# monitor tests record. Source it: it exports XDG_RUNTIME_DIR and defines
# pulse_null_stop.
pulse_null_start() {
  export XDG_RUNTIME_DIR="$(mktemp -d /tmp/daling-pulse.XXXXXX)"
  pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
    --load=module-native-protocol-unix \
    --load="module-null-sink sink_name=test_null" >/dev/null 2>&1 || true
  for _ in $(seq 50); do
    pactl info >/dev/null 2>&1 && { pactl set-default-sink test_null >/dev/null 2>&1 || true; return 0; }
    sleep 0.1
  done
  echo "warning: no PulseAudio server; tests that need real sound skip" >&2
  return 0
}
pulse_null_stop() {
  # --disallow-exit makes "pactl exit" a no-op: stop it through its pid file.
  local pid
  pid=$(cat "$XDG_RUNTIME_DIR/pulse/pid" 2>/dev/null || true)
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
}
