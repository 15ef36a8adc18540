#!/usr/bin/env bash
# Idle cost of the running program: starts the real program under Xvfb with
# a PulseAudio null sink and the sample timetable, lets it sit in running
# mode, and prints its CPU use, wake-ups and resident memory.
# usage: bench/idle/measure_idle.sh <daling|dalingd> <make_sample> [seconds] [zones]
# dalingd (the engine without a window) runs without a display.
# With zones (e.g. 4), the server gets one null sink per zone and every bell
# of the sample rings in all of them; the zones' players are made only when a
# bell first needs them, which the thread count shows.
set -euo pipefail
bin=${1:?daling}; sample=${2:?make_sample}; secs=${3:-60}; zones=${4:-0}
here=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d /tmp/daling-idle.XXXXXX)
pids=()
cleanup() { for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; kill "$(cat "${XDG_RUNTIME_DIR:-/nonexistent}/pulse/pid" 2>/dev/null)" 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
mkdir -p "$work/home/data"
name=$(basename "$bin")
cp "$bin" "$work/home/$name"
target=80; [ "$name" = dalingd ] && target=45
bash "$here/tools/make-sounds.sh" "$work/home/音乐"
"$sample" "$work/home/data/dbDaLing.db"
sinks=()
if [ "$zones" -gt 0 ]; then
  /usr/bin/python3 - "$work/home/data/dbDaLing.db" "$zones" <<'PY'
import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("create table if not exists fenqu (id integer primary key, 名称 text unique not null, "
           "输出 text not null, 提前 integer not null default 0)")
db.execute("create table if not exists ling_fenqu (铃声 integer, 分区 integer, primary key (铃声, 分区))")
for z in range(1, int(sys.argv[2]) + 1):
    db.execute("insert into fenqu (id, 名称, 输出) values (?, ?, ?)", (z, f"分区{z}", f"pulse/zone_{z}"))
    db.execute("insert into ling_fenqu select id, ? from daling", (z,))
db.commit()
PY
  for z in $(seq "$zones"); do sinks+=(--load="module-null-sink sink_name=zone_$z"); done
fi
export XDG_RUNTIME_DIR=$work/run; mkdir -m 700 -p "$XDG_RUNTIME_DIR"
pulseaudio -n --daemonize=yes --exit-idle-time=-1 --disallow-exit \
  --load=module-native-protocol-unix --load="module-null-sink sink_name=idle_null" "${sinks[@]}" >/dev/null 2>&1
for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
pactl set-default-sink idle_null >/dev/null 2>&1 || true
# Xvfb picks a free display itself and says which once it is ready.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 & pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=:$(cat "$work/display")
(cd "$work/home" && { [ "$name" != dalingd ] || unset DISPLAY; } && exec "./$name" >/dev/null 2>&1) & app=$!; pids+=($app)
sleep 5 # start-up and the switch to running mode
tick=$(getconf CLK_TCK)
read -r u0 s0 < <(awk '{print $14, $15}' /proc/$app/stat)
w0=$(awk '/^voluntary_ctxt_switches/ {v=$2} /^nonvoluntary_ctxt_switches/ {n=$2} END {print v+n}' /proc/$app/status)
sleep "$secs"
read -r u1 s1 < <(awk '{print $14, $15}' /proc/$app/stat)
w1=$(awk '/^voluntary_ctxt_switches/ {v=$2} /^nonvoluntary_ctxt_switches/ {n=$2} END {print v+n}' /proc/$app/status)
rss=$(awk '/^VmRSS/ {print $2}' /proc/$app/status)
threads=$(awk '/^Threads/ {print $2}' /proc/$app/status)
awk -v u=$((u1-u0)) -v s=$((s1-s0)) -v t="$tick" -v secs="$secs" -v w=$((w1-w0)) -v rss="$rss" -v z="$zones" -v th="$threads" -v tg="$target" -v name="$name" 'BEGIN {
  printf "%s idle in running mode over %d s, %d zones: CPU %.2f %% of one core, %.1f wake-ups/s of the main thread, resident memory %.1f MB (target <= %d), %d threads\n",
         name, secs, z, 100*(u+s)/t/secs, w/secs, rss/1024, tg, th }'
