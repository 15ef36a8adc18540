#!/usr/bin/env bash
# Generates the short bell sounds shipped in the music folder: our own
# tones, no third-party audio.
set -euo pipefail
out=${1:?usage: make-sounds.sh <music folder>}
mkdir -p "$out"
ff() { ffmpeg -nostdin -loglevel error -y "$@"; }
# Two-tone school bell: alternating 660/880 Hz with a soft fade.
[ -f "$out/上课铃.wav" ] || ff -f lavfi -i "sine=frequency=660:duration=0.4" -f lavfi -i "sine=frequency=880:duration=0.4" \
  -filter_complex "[0][1]concat=n=2:v=0:a=1,aloop=loop=3:size=35280,afade=t=out:st=2.6:d=0.6,volume=0.6" \
  -ar 44100 "$out/上课铃.wav"
# Falling chime for the end of a lesson.
[ -f "$out/下课铃.mp3" ] || ff -f lavfi -i "sine=frequency=988:duration=0.5" -f lavfi -i "sine=frequency=784:duration=0.5" -f lavfi -i "sine=frequency=659:duration=1.2" \
  -filter_complex "[0][1][2]concat=n=3:v=0:a=1,afade=t=out:st=1.6:d=0.6,volume=0.6" -ar 44100 -b:a 128k "$out/下课铃.mp3"
# A single soft tone as the warning bell.
[ -f "$out/预备铃.ogg" ] || ff -f lavfi -i "sine=frequency=523:duration=2" -af "afade=t=in:d=0.1,afade=t=out:st=1.2:d=0.8,volume=0.6" \
  -ar 44100 -c:a libvorbis "$out/预备铃.ogg"
