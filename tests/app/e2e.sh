#!/usr/bin/env bash
# The real program, end to end: a temporary home with data/ and 音乐/, a
# private PulseAudio server with a null sink and an X server; a bell due a
# few seconds after start must sound at its second, once, although the
# program was started twice on the same data folder; it must still run
# afterwards with its list stored, and a SIGTERM (logout) ends it cleanly
# with the ring record that was still waiting written.
set -euo pipefail
bin=${1:?daling}; seed=${2:?e2e_seed}; engine=${3:?dalingd}
for tool in Xvfb pulseaudio parecord pactl xdotool ffmpeg; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done
work=$(mktemp -d /tmp/daling-e2e.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  kill "$(cat "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/pid" 2>/dev/null)" 2>/dev/null || true
  sleep 0.2
  rm -rf "$work"
}
trap cleanup EXIT

home=$work/home; mkdir -p "$home/data" "$home/音乐"
# The launcher and the window program it loads from beside it.
cp "$bin" "$home/daling"
cp "$(dirname "$bin")/libdaling-window.so" "$home/"
# The engine the window starts as its child when no service runs.
cp "$engine" "$home/dalingd"
ffmpeg -nostdin -loglevel error -f lavfi -i "sine=frequency=1000:duration=2" -ar 44100 "$home/音乐/e2e.wav"

export XDG_RUNTIME_DIR=$work/run; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=e2e_null" >/dev/null 2>&1
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink e2e_null

# Xvfb picks a free display itself and says which once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display")

due=$("$seed" "$home/data/dbDaLing.db" 10 e2e.wav)
start=$(date +%s.%N)
parecord -d e2e_null.monitor --raw --format=s16le --rate=8000 --channels=1 --latency-msec=10 "$work/rec.raw" & pids+=($!)
QT_QPA_PLATFORM=xcb "$home/daling" >"$work/daling.log" 2>&1 & app=$!; pids+=($app)

title="Quorlin校园铃声广播系统3.12"
timeout 15 xdotool search --sync --onlyvisible --name "$title" >/dev/null || { echo "FAIL: no main window"; cat "$work/daling.log"; exit 1; }
echo "main window up after $(python3 -c "print(round($(date +%s.%N)-$start,2))") s"

# A second start (autostart plus a click) shows the first window and ends.
rc=0; QT_QPA_PLATFORM=xcb timeout 20 "$home/daling" >"$work/second.log" 2>&1 || rc=$?
[ "$rc" = 0 ] && grep -q "already running" "$work/second.log" \
  || { echo "FAIL: the second start did not hand over (rc $rc)"; cat "$work/second.log"; exit 1; }
windows=$(xdotool search --onlyvisible --name "$title" | wc -l)
[ "$windows" = 1 ] || { echo "FAIL: $windows main windows"; exit 1; }
echo "second start handed over to the first and ended"

# Another program holds the store while the bell rings: its record waits
# in the queue (a busy store is retried only 5 s later).
/usr/bin/python3 - "$home/data/dbDaLing.db" "$work/locked" "$work/release" <<'PY' & pids+=($!)
import os, sqlite3, sys, time
c = sqlite3.connect(sys.argv[1], isolation_level=None, timeout=5)
c.execute("begin immediate")
open(sys.argv[2], "w").close()
while not os.path.exists(sys.argv[3]):
    time.sleep(0.02)
c.execute("rollback")
PY
for _ in $(seq 100); do [ -e "$work/locked" ] && break; sleep 0.05; done

while [ "$(date +%s)" -lt $((due + 3)) ]; do sleep 0.2; done
kill -0 "$app" 2>/dev/null || { echo "FAIL: the program ended"; cat "$work/daling.log"; exit 1; }
# The recorder takes a while to start streaming, so its first sample has no
# known time; its last one is (nearly) the moment it is stopped.
stopped=$(date +%s.%N)
kill "${pids[1]}" 2>/dev/null || true; sleep 0.3

queued=$(/usr/bin/python3 -c "import sqlite3,sys; c=sqlite3.connect(sys.argv[1]); t=c.execute(\"select count(*) from sqlite_master where name='jilu'\").fetchone()[0]; print(c.execute('select count(*) from jilu').fetchone()[0] if t else 0)" "$home/data/dbDaLing.db")
[ "$queued" = 0 ] || { echo "FAIL: the record was written while the store was held"; exit 1; }
# Logout: the store is free again and the session sends SIGTERM at once.
touch "$work/release"; sleep 0.1
kill -TERM "$app"
for _ in $(seq 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
kill -0 "$app" 2>/dev/null && { echo "FAIL: SIGTERM did not end the program"; exit 1; }
rc=0; wait "$app" || rc=$?
[ "$rc" = 0 ] || { echo "FAIL: the program ended with $rc on SIGTERM"; tail -5 "$work/daling.log"; exit 1; }
echo "SIGTERM: the program ended cleanly"
pgrep -f "$home/dalingd" >/dev/null && { echo "FAIL: the engine outlived the window"; exit 1; }

# The window killed outright takes its engine with it: no bells without a window.
QT_QPA_PLATFORM=xcb "$home/daling" >"$work/third.log" 2>&1 & third=$!; pids+=($third)
timeout 15 xdotool search --sync --onlyvisible --name "$title" >/dev/null || { echo "FAIL: no main window"; cat "$work/third.log"; exit 1; }
child=$(pgrep -P "$third" -f dalingd || true)
[ -n "$child" ] || { echo "FAIL: the window did not start its engine"; exit 1; }
kill -9 "$third"
for _ in $(seq 50); do kill -0 "$child" 2>/dev/null || break; sleep 0.1; done
kill -0 "$child" 2>/dev/null && { echo "FAIL: the engine outlived the killed window"; exit 1; }
echo "kill -9 of the window ended its engine"

/usr/bin/python3 - "$work/rec.raw" "$stopped" "$due" "$home/data/dbDaLing.db" <<'PY'
import array, sqlite3, sys
raw, stopped, due, db = sys.argv[1], float(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
a = array.array('h'); a.frombytes(open(raw, 'rb').read())
onset = next((i for i, v in enumerate(a) if abs(v) > 2000), None)
if onset is None:
    sys.exit("FAIL: no sound reached the output")
at = stopped - (len(a) - onset) / 8000.0
late = at - due
print(f"bell due at {due}, sound from {at:.3f} ({late*1000:+.0f} ms, recorder latency included)")
if not (-0.2 <= late <= 0.8):
    sys.exit("FAIL: the bell did not sound at its second")
# One sound: two players a few ms apart would cancel or double the level of
# the 1000 Hz tone (amplitude 1/8 of full scale, so an RMS of 4096/sqrt 2).
win = a[onset + 800:onset + 8800]
rms = (sum(v * v for v in win) / len(win)) ** 0.5
print(f"level {rms / (4096 / 2 ** 0.5):.2f} of one tone")
if not (0.7 <= rms / (4096 / 2 ** 0.5) <= 1.4):
    sys.exit("FAIL: the bell's level is not that of one sound")
rows = sqlite3.connect(db).execute("select 名称, 音乐 from daling").fetchall()
if rows != [("端到端", "e2e.wav")]:
    sys.exit(f"FAIL: stored list is {rows}")
# The ring history holds the bell, rung.
hist = sqlite3.connect(db).execute("select 名称, 结果, 延迟 from jilu").fetchall()
if len(hist) != 1 or hist[0][:2] != ("端到端", "完成") or hist[0][2] is None:
    sys.exit(f"FAIL: ring history is {hist} (the waiting record must be written at SIGTERM)")
print(f"history: {hist[0][1]}, {hist[0][2]} ms after the second")
print("PASS")
PY
