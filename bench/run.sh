#!/usr/bin/env bash
# Runs the whole benchmark and prints its tables:
#   - builds the library with stage timing into a build directory of its own
#     (default build-bench/ in the checkout), with the benchmark programs;
#   - makes the default models, the benchmark model set (four ~113 MB
#     files, made once), the same weights as checkpoints converted by
#     tools/umx/convert_checkpoint.py, and MP3 inputs of the requested lengths;
#   - runs the FFT micro-benchmark against KissFFT and FFTW, then the separation
#     benchmark for every model set and input, each run in a fresh process.
#
#   bench/run.sh [BUILD_DIR]
#
# BENCH_LENGTHS  input lengths in seconds (default "30 120 600")
# BENCH_SETS     model sets, any of "default bench converted" (default all)
# BENCH_REPEAT   runs of each separation, the fastest reported (default 1)
#
# The tables are also written to BUILD_DIR/bench-results.md.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build-bench}
lengths=${BENCH_LENGTHS:-30 120 600}
sets=${BENCH_SETS:-default bench converted}
repeat=${BENCH_REPEAT:-1}

"$here/scripts/setup.sh"
# The project's default build type, so the figures are those of the library
# as scripts/build.sh makes it.
cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DOMBRELT_BUILD_BENCH=ON \
      -DOMBRELT_STAGE_TIMING=ON -DOMBRELT_BUILD_TESTS=OFF >/dev/null

# ombrelt_model_bench is not run here; it is built for bench/model_sweep.sh.
targets=(ombrelt_fft_bench ombrelt_separation_bench ombrelt_model_bench)
set_args=()
for set in $sets; do
  case $set in
    default) targets+=(ombrelt_default_models); set_args+=(--set "default=$build/models") ;;
    bench) targets+=(ombrelt_bench_models); set_args+=(--set "bench=$build/bench-models") ;;
    converted) targets+=(ombrelt_converted_models)
               set_args+=(--set "converted=$build/converted-models") ;;
    *) echo "run.sh: unknown model set $set (use default, bench, converted)" >&2; exit 2 ;;
  esac
done
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"

inputs="$build/bench-inputs"
mkdir -p "$inputs"
input_args=()
for len in $lengths; do
  file="$inputs/song_${len}s.mp3"
  "$here/bench/make_input.sh" "$len" "$file"
  input_args+=(--input "${len}s=$file")
done

results="$build/bench-results.md"
{
  echo "## Real FFT, 4096 points: om_fft_forward / om_ifft_inverse against FFTW"
  echo
  echo '```'
} | tee "$results"
fft_json="$build/fft-bench.json"
"$build/bench/ombrelt_fft_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    --benchmark_out="$fft_json" --benchmark_out_format=json 2>&1 | tee -a "$results"
{
  echo '```'
  echo
  # How many times FFTW's time each transform takes (medians).
  /usr/bin/python3 - "$fft_json" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
t = {r["run_name"]: r["real_time"] for r in runs if r.get("aggregate_name") == "median"}
for label, ours, kiss, fftw in (("forward", "BM_om_fft_forward", "BM_kiss_fftr", "BM_fftw_r2c"),
                                ("inverse", "BM_om_ifft_inverse", "BM_kiss_fftri", "BM_fftw_c2r")):
    print("%s: ours %.0f ns, kiss_fftr%s %.0f ns, fftwf %.0f ns: ours take %.1f times FFTW's time"
          % (label, t[ours], "" if label == "forward" else "i", t[kiss], t[fftw], t[ours] / t[fftw]))
PY
  echo
  echo "## Separation of all four stems and the instrumental mix"
} | tee -a "$results"
"$build/bench/ombrelt_separation_bench" "${set_args[@]}" "${input_args[@]}" \
    --work "$build/bench-work" --repeat "$repeat" | tee -a "$results"
