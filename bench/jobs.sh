#!/usr/bin/env bash
# `ombrelt separate --jobs 2` against `--jobs 1` on one batch of songs, with
# the default models and the benchmark set: wall time, times real time and
# CPU time of the whole command, the two settings alternating round by round
# so that load from other work falls on both alike.
#
#   bench/jobs.sh [BUILD_DIR]      (default: build/, as scripts/build.sh makes it)
#
# JOBS_SETS    model sets, any of "default bench" (default both)
# JOBS_FILES   songs in the batch (default 8)
# JOBS_LENGTH  seconds of each song (default 30)
# JOBS_ROUNDS  rounds, each running --jobs 1 and then --jobs 2 (default 3)
#
# The benchmark set (four ~113 MB files) is made once into
# BUILD_DIR/bench-models by tools/make_bench_models.py. The table is also
# written to BUILD_DIR/jobs-results.md.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
sets=${JOBS_SETS:-default bench}
files=${JOBS_FILES:-8}
length=${JOBS_LENGTH:-30}
rounds=${JOBS_ROUNDS:-3}
ombrelt="$build/cli/ombrelt"
[ -x "$ombrelt" ] || { echo "jobs.sh: no $ombrelt; run scripts/build.sh first" >&2; exit 1; }

work="$build/jobs-work"
mkdir -p "$work"
song="$work/song_${length}s.mp3"
"$here/bench/make_input.sh" "$length" "$song"
songs=()
for i in $(seq "$files"); do
  ln -f "$song" "$work/song$i.mp3"
  songs+=("$work/song$i.mp3")
done
audio=$((files * length))

results="$build/jobs-results.md"
{
  echo "$files songs of $length s ($audio s of audio), $(nproc) cores, $(date -u +%Y-%m-%d)"
  echo
  echo "| set | round | jobs | load before | wall s | x real time | cpu s |"
  echo "|---|---|---|---|---|---|---|"
} | tee "$results"
for set in $sets; do
  case $set in
    default) models="$build/models" ;;
    bench)
      models="$build/bench-models"
      [ -s "$models/umxl_drums.onnx" ] ||
        /usr/bin/python3 -B "$here/tools/make_bench_models.py" "$models"
      ;;
    *) echo "jobs.sh: unknown model set $set (use default, bench)" >&2; exit 2 ;;
  esac
  for round in $(seq "$rounds"); do
    for jobs in 1 2; do
      rm -rf "$work/out"
      load=$(cut -d' ' -f1 /proc/loadavg)
      /usr/bin/time -f "%e %U %S" -o "$work/time.txt" \
        "$ombrelt" separate -m "$models" --jobs "$jobs" -o "$work/out" "${songs[@]}" \
        > "$work/lines.txt"
      read -r wall user sys < "$work/time.txt"
      awk -v set="$set" -v r="$round" -v j="$jobs" -v load="$load" -v wall="$wall" \
          -v user="$user" -v sys="$sys" -v audio="$audio" \
          'BEGIN { printf "| %s | %d | %d | %s | %.2f | %.1f | %.2f |\n",
                   set, r, j, load, wall, audio / wall, user + sys }'
    done
  done
done | tee -a "$results"
rm -rf "$work/out"
