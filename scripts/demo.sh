#!/usr/bin/env bash
# The main job: set-up, build, make a short song and describe it.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/build.sh" build
mkdir -p "$here/out"
ffmpeg -nostdin -hide_banner -loglevel error -y -f lavfi \
  -i "aevalsrc=0.4*sin(2*PI*220*t)|0.4*sin(2*PI*330*t):s=48000:c=stereo:d=5" \
  -c:a libmp3lame -b:a 192k "$here/out/demo.mp3"
"$here/build/examples/ombrelt-probe-example" "$here/out/demo.mp3"
