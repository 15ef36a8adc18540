#!/usr/bin/env bash
# A private Snapcast for tests and benchmarks: buildings in step on this
# machine only. Source it, then:
#   snap_server_start BUFFER_MS STREAM...  snapserver on 127.0.0.1 (free ports,
#       no http, its own config and data folder), one pipe:// source per
#       stream, each a fifo $SNAP_DIR/STREAM.fifo (48000:16:2). Exports
#       SNAP_DIR, SNAP_STREAM_PORT, SNAP_CONTROL_PORT.
#   snap_pipe_sinks STREAM...  on the current PulseAudio server (PULSE_SERVER
#       or XDG_RUNTIME_DIR): a pipe sink named STREAM into each fifo.
#   snap_building_start NAME STREAM  a "building": a PulseAudio server of its
#       own with a null sink "speaker", and a snapclient (hostID NAME) that
#       plays STREAM into it. Exports SNAP_PULSE_<NAME> (its server) and
#       SNAP_CLIENT_<NAME> (the snapclient's pid).
#   snap_suspend_idle [SECONDS]  the current server suspends a silent sink
#       (as a desktop's does), so each bell after a pause is timed afresh.
#   snap_building_stop NAME, snap_stop_all  stop only what these started
#       (and remove their folders).
#
# The fifo: snapserver's pipe source with mode=create makes it (rw for all,
# so the desktop user's sound server may write it) and keeps reading it; the
# pipe sink opens the existing fifo (a sink that makes the fifo itself also
# removes it when unloaded). The sink renders by the system clock
# (use_system_clock_for_timing=yes): without it PulseAudio fills the fifo's
# 64 KiB (about 340 ms) ahead of snapserver, which reads at real time, and
# every bell comes that much late.
#
# Idle: with module-suspend-on-idle (a desktop's default; snap_suspend_idle
# loads it here) the sink stops writing a moment after the last sound,
# snapserver marks the stream idle, and times the next sound afresh: the
# first bell after a quiet time is heard about 10 ms after buffer. Without
# it the sink writes silence for ever, the stream never idles, and what the
# fifo held when the flow began stays queued: bells came about 60 ms after
# buffer (measured with bench/snapcast).

SNAP_PIDS=()
SNAP_PULSE_DIRS=()

_snap_free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'
}

# Sends one JSON-RPC request to the private snapserver, prints the answer.
snap_rpc() {
  /usr/bin/python3 - "$SNAP_CONTROL_PORT" "$1" <<'EOF'
import socket, sys, json
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=2)
req = json.loads(sys.argv[2]); req.setdefault("jsonrpc", "2.0"); req.setdefault("id", 1)
s.sendall((json.dumps(req) + "\n").encode())
buf = b""
while True:
    chunk = s.recv(65536)
    if not chunk:
        break
    buf += chunk
    while b"\n" in buf:
        line, buf = buf.split(b"\n", 1)
        msg = json.loads(line)
        if msg.get("id") == req["id"]:
            print(json.dumps(msg)); sys.exit(0)
sys.exit(1)
EOF
}

snap_server_start() {
  local buffer="$1"; shift
  SNAP_DIR="$(mktemp -d /tmp/daling-snap.XXXXXX)"
  SNAP_STREAM_PORT="$(_snap_free_port)"
  SNAP_CONTROL_PORT="$(_snap_free_port)"
  export SNAP_DIR SNAP_STREAM_PORT SNAP_CONTROL_PORT
  mkdir -p "$SNAP_DIR/data"
  {
    echo "[server]"
    echo "datadir = $SNAP_DIR/data"
    echo "[http]"
    echo "enabled = false"
    echo "bind_to_address = 127.0.0.1"
    echo "[tcp]"
    echo "enabled = true"
    echo "bind_to_address = 127.0.0.1"
    echo "port = $SNAP_CONTROL_PORT"
    echo "[stream]"
    echo "bind_to_address = 127.0.0.1"
    echo "port = $SNAP_STREAM_PORT"
    echo "buffer = $buffer"
    echo "codec = ${SNAP_CODEC:-pcm}"
    echo "chunk_ms = 20"
    for s in "$@"; do
      echo "source = pipe://$SNAP_DIR/$s.fifo?name=$s&mode=create&sampleformat=48000:16:2"
    done
    echo "[logging]"
    echo "sink = file:$SNAP_DIR/snapserver.log"
  } >"$SNAP_DIR/snapserver.conf"
  snapserver -c "$SNAP_DIR/snapserver.conf" >/dev/null 2>&1 &
  SNAP_PIDS+=($!)
  for _ in $(seq 100); do
    snap_rpc '{"method":"Server.GetRPCVersion"}' >/dev/null 2>&1 && {
      local ok=1
      for s in "$@"; do [ -p "$SNAP_DIR/$s.fifo" ] || ok=0; done
      [ $ok = 1 ] && return 0
    }
    sleep 0.1
  done
  echo "snapserver did not start (see $SNAP_DIR/snapserver.log)" >&2
  return 1
}

snap_pipe_sinks() {
  for s in "$@"; do
    pactl load-module module-pipe-sink "file=$SNAP_DIR/$s.fifo" "sink_name=$s" \
      format=s16le rate=48000 channels=2 use_system_clock_for_timing=yes >/dev/null || return 1
  done
}

snap_building_start() {
  local name="$1" stream="$2" dir
  dir="$(mktemp -d /tmp/daling-building.XXXXXX)"
  SNAP_PULSE_DIRS+=("$dir")
  env -u PULSE_SERVER XDG_RUNTIME_DIR="$dir" pulseaudio -n --daemonize=yes --exit-idle-time=-1 \
    --disallow-exit --load="module-native-protocol-unix socket=$dir/native" \
    --load="module-null-sink sink_name=speaker" >/dev/null 2>&1 || true
  local server="unix:$dir/native" up=0
  for _ in $(seq 50); do
    pactl --server="$server" info >/dev/null 2>&1 && { up=1; break; }
    sleep 0.1
  done
  [ $up = 1 ] || { echo "no PulseAudio server for building $name" >&2; return 1; }
  # snapclient 0.26's pulse player crashes when its stream changes under it:
  # the building is first made known with a player that writes nowhere, put
  # on its stream, and only then started for real (snapserver remembers a
  # client's group and stream by its hostID).
  snapclient -h 127.0.0.1 -p "$SNAP_STREAM_PORT" --hostID "$name" --player file:filename=null \
    --logsink null >/dev/null 2>&1 &
  local first=$! placed=0
  for _ in $(seq 100); do
    local group
    group="$(_snap_group_of "$name")"
    if [ -n "$group" ]; then
      snap_rpc "{\"method\":\"Group.SetStream\",\"params\":{\"id\":\"$group\",\"stream_id\":\"$stream\"}}" \
        >/dev/null && placed=1
      break
    fi
    sleep 0.1
  done
  kill "$first" 2>/dev/null; wait "$first" 2>/dev/null
  [ $placed = 1 ] || { echo "snapclient $name did not connect" >&2; return 1; }
  snapclient -h 127.0.0.1 -p "$SNAP_STREAM_PORT" --hostID "$name" \
    --player "pulse:server=$server,buffer_time=${SNAP_CLIENT_BUFFER:-100}" \
    --logsink "file:$dir/snapclient.log" >/dev/null 2>&1 &
  local pid=$!
  SNAP_PIDS+=($pid)
  export "SNAP_PULSE_$name=$server" "SNAP_CLIENT_$name=$pid"
  for _ in $(seq 100); do
    [ -n "$(_snap_group_of "$name")" ] && return 0
    sleep 0.1
  done
  echo "snapclient $name did not connect" >&2
  return 1
}

# The group of the connected client NAME, empty when it is not connected.
_snap_group_of() {
  snap_rpc '{"method":"Server.GetStatus"}' 2>/dev/null | /usr/bin/python3 -c '
import json, sys
st = json.load(sys.stdin)["result"]["server"]
for g in st["groups"]:
    for c in g["clients"]:
        if c["id"] == sys.argv[1] and c["connected"]:
            print(g["id"])' "$1"
}

snap_building_stop() {
  local var="SNAP_CLIENT_$1"
  local pid="${!var:-}"
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  return 0
}

# A sink of the current server that falls silent stops after timeout seconds.
snap_suspend_idle() {
  pactl load-module module-suspend-on-idle "timeout=${1:-1}" >/dev/null
}

snap_stop_all() {
  local pid dir
  for pid in "${SNAP_PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${SNAP_PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  for dir in "${SNAP_PULSE_DIRS[@]}"; do
    # --disallow-exit refuses "pactl exit": stop it by its pid file.
    pid="$(cat "$dir/pulse/pid" 2>/dev/null || true)"
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  done
  # The buildings' servers leave their folders a moment after the signal.
  sleep 0.2
  for dir in "${SNAP_PULSE_DIRS[@]}" ${SNAP_DIR:+"$SNAP_DIR"}; do rm -rf "$dir"; done
  SNAP_PIDS=()
  SNAP_PULSE_DIRS=()
}
