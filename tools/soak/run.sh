#!/usr/bin/env bash
# Soak and scale figures of a built library (default build/; BUILD names
# another build directory below the checkout).
#
#   tools/soak/run.sh cycles [N]     N (200) rounds of init, separate and
#                                    cleanup on 2 s of audio, identity models
#   tools/soak/run.sh long [MINUTES] one separation of a MINUTES (60) long
#                                    input with the default models
#
# The host program is built here against the public header and the shared
# library; the inputs are generated into a temporary directory and removed.
# The long run needs about 60 bytes of memory per input sample (8.5 GB for
# 60 minutes) and several GB of temporary disk.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$here/${BUILD:-build}
mode=${1:?usage: tools/soak/run.sh cycles [N] | long [MINUTES]}
lib=$build/src/libtavrin-ombrelt.so
[ -f "$lib" ] || { echo "no library in $build: build it first (scripts/build.sh)" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
c++ -std=c++20 -O2 -Wall -Wextra -Werror -I"$here/include" "$here/tools/soak/soak.cpp" \
  -o "$work/soak" "$lib" -Wl,-rpath,"$build/src"
ff() { ffmpeg -nostdin -hide_banner -loglevel error -y "$@"; }
tone="aevalsrc=0.3*sin(2*PI*440*t)+0.1*sin(2*PI*97*t)|0.3*sin(2*PI*660*t)+0.1*sin(2*PI*3001*t)"

case $mode in
  cycles)
    n=${2:-200}
    ff -f lavfi -i "$tone:s=44100:c=stereo" -af atrim=end_sample=88200 -c:a pcm_s16le "$work/in.wav"
    "$work/soak" cycles "$n" "$build/test-models/identity" "$work/in.wav" "$work/out" ;;
  long)
    minutes=${2:-60}
    ff -f lavfi -i "$tone:s=44100:c=stereo" -t $((minutes * 60)) -c:a flac "$work/in.flac"
    "$work/soak" long "$build/models" "$work/in.flac" "$work/out" ;;
  *)
    echo "usage: tools/soak/run.sh cycles [N] | long [MINUTES]" >&2
    exit 2 ;;
esac
