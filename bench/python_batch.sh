#!/usr/bin/env bash
# `python3 -m ombrelt.batch` with two local Dask workers against one
# `ombrelt separate` process (one session, then two with --jobs 2) over the
# same folder of songs, in the same run:
# wall time and times real time of each whole command (start-up, model
# loading and, for the batch, the cluster included).
#
#   bench/python_batch.sh [BUILD_DIR]   (default: build/, as scripts/build.sh makes it)
#
# BATCH_SETS    model sets, any of "default bench" (default both)
# BATCH_FILES   songs (default 20)
# BATCH_LENGTH  seconds of each song (default 30)
#
# The songs are bench/make_input.sh's MP3s, each of its own pitch and noise
# seed. The table is also written to BUILD_DIR/python-batch-results.md.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-$here/build}" && pwd)
sets=${BATCH_SETS:-default bench}
files=${BATCH_FILES:-20}
length=${BATCH_LENGTH:-30}
ombrelt="$build/cli/ombrelt"
python=/usr/bin/python3
[ -x "$ombrelt" ] || { echo "python_batch.sh: no $ombrelt; run scripts/build.sh first" >&2; exit 1; }

work="$build/python-batch-work"
songs="$work/songs-${files}x${length}s"
mkdir -p "$songs"
for i in $(seq "$files"); do
  "$here/bench/make_input.sh" "$length" "$songs/song$(printf %02d "$i").mp3" $((100 + 7 * i)) "$i"
done
audio=$((files * length))

export PYTHONPATH="$here/bindings/python${PYTHONPATH:+:$PYTHONPATH}"
export OMBRELT_LIBRARY="$build/src"
results="$build/python-batch-results.md"
{
  echo "$files songs of $length s ($audio s of audio), $(nproc) cores, $(date -u +%Y-%m-%d)"
  echo
  echo "| set | command | load before | wall s | x real time |"
  echo "|---|---|---|---|---|"
} | tee "$results"

# Wall seconds of a command, its output kept in a log.
timed() {
  local log=$1; shift
  local start end
  start=$(date +%s.%N)
  "$@" > "$log" 2>&1 || { cat "$log" >&2; echo "python_batch.sh: $* failed" >&2; exit 1; }
  end=$(date +%s.%N)
  awk -v a="$start" -v b="$end" 'BEGIN { print b - a }'
}

for set in $sets; do
  case $set in
    default) models="$build/models" ;;
    bench)
      models="$build/bench-models"
      [ -f "$models/umxl_drums.onnx" ] || "$python" "$here/tools/make_bench_models.py" "$models" ;;
    *) echo "python_batch.sh: unknown set $set" >&2; exit 2 ;;
  esac
  for command in cli jobs2 batch; do
    out="$work/out-$set-$command"
    rm -rf "$out"
    load=$(cut -d' ' -f1 /proc/loadavg)
    if [ "$command" = cli ]; then
      label="ombrelt separate (1 process)"
      wall=$(timed "$work/$set-$command.log" "$ombrelt" separate -m "$models" -o "$out" "$songs"/*.mp3)
    elif [ "$command" = jobs2 ]; then
      label="ombrelt separate --jobs 2 (1 process)"
      wall=$(timed "$work/$set-$command.log" "$ombrelt" separate -m "$models" --jobs 2 -o "$out" "$songs"/*.mp3)
    else
      label="ombrelt.batch --workers 2"
      wall=$(timed "$work/$set-$command.log" "$python" -m ombrelt.batch "$songs" "$out" \
        --models "$models" --workers 2 --quiet)
    fi
    printf '| %s | %s | %s | %.1f | %.1f |\n' "$set" "$label" "$load" "$wall" \
      "$(awk -v a="$audio" -v w="$wall" 'BEGIN { print a / w }')" | tee -a "$results"
  done
done
echo
echo "the batch's own table ($set set):"
cat "$work/$set-batch.log"
