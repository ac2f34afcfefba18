#!/usr/bin/env bash
# Writes a benchmark input song: a stereo MP3 of tones that change every
# two seconds, a pulsing melody and pink noise, music enough for the decoder
# and the models, the same on every run. MP3 because that is what a host is
# handed most often.
#
#   bench/make_input.sh SECONDS OUT.mp3 [BASE_HZ [SEED]]   (kept when OUT.mp3 exists)
#
# BASE_HZ (default 110) sets the pitch of everything, SEED (default 7) the
# noise: other values give other songs of the same kind.
set -euo pipefail
len=${1:?usage: make_input.sh SECONDS OUT.mp3 [BASE_HZ [SEED]]}
file=${2:?usage: make_input.sh SECONDS OUT.mp3 [BASE_HZ [SEED]]}
base=${3:-110}
seed=${4:-7}
[ -s "$file" ] && exit 0
hz() { awk -v b="$base" -v k="$1" 'BEGIN { printf "%g", b * k }'; }
tones="0.2*sin(2*PI*($(hz 1)+$(hz 0.5)*floor(mod(t,8)/2))*t)"
left="$tones+0.1*sin(2*PI*$(hz 4)*t)*gt(mod(t,0.5),0.25)+0.08*sin(2*PI*$(hz 6)*t+3*sin(2*PI*5*t))"
right="$tones+0.1*sin(2*PI*$(hz 5.04)*t)*lt(mod(t,0.5),0.25)+0.08*sin(2*PI*$(hz 8)*t)"
ffmpeg -nostdin -v error -y \
  -f lavfi -i "aevalsrc=exprs='$left|$right':s=44100:d=$len" \
  -f lavfi -i "anoisesrc=color=pink:amplitude=0.05:duration=$len:sample_rate=44100:seed=$seed" \
  -filter_complex "[1]aformat=channel_layouts=stereo[n];[0][n]amix=inputs=2:normalize=0" \
  -c:a libmp3lame -b:a 192k "$file.part.mp3"
mv "$file.part.mp3" "$file"
