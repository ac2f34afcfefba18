#!/usr/bin/env bash
# Runs ombrelt_model_bench over the benchmark model set with each setting in
# turn, ROUNDS times round-robin (so that load from other work spreads over
# all settings), and prints every line; the smallest minimum per setting is
# the figure to compare.
#
#   bench/model_sweep.sh [BUILD_DIR [SETTING...]]
#
# BUILD_DIR defaults to build-bench/ and needs the targets ombrelt_model_bench
# and ombrelt_bench_models built. A SETTING is one string of the bench's
# options, e.g. "--intra 1 --at-once 2"; without any, the list below runs.
# ROUNDS (default 3), RUNS per line (default 10), MODELS the model directory
# (default BUILD_DIR/bench-models). STEMS, a list of --stems values, runs
# every setting with each (default: the bench's own, all four).
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$here/build-bench}
shift || true
bench=$build/bench/ombrelt_model_bench
models=${MODELS:-$build/bench-models}
rounds=${ROUNDS:-3}
runs=${RUNS:-10}

settings=(
  "--intra 2 --spin 0"
  "--intra 1"
  "--intra 2 --spin 1"
  "--intra 0 --spin 1"
  "--intra 1 --at-once 2"
  "--intra 1 --at-once 4"
  "--intra 2 --spin 0 --at-once 2"
  "--global-pool --intra 2 --spin 0"
  "--global-pool --intra 2 --spin 1"
  "--intra 2 --spin 0 --opt 1"
  "--intra 2 --spin 0 --block-base 4"
  "--intra 2 --spin 0 --parallel --inter 2 --inter-spin 0"
  "--intra 1 --at-once 2 --no-arena"
  "--intra 1 --at-once 2 --no-mem-pattern"
  "--intra 1 --at-once 2 --denormal-zero"
  "--library"
)
if [ $# -gt 0 ]; then settings=("$@"); fi
read -r -a stem_lists <<< "${STEMS:-vocals,other,bass,drums}"
for ((r = 1; r <= rounds; r++)); do
  for stems in "${stem_lists[@]}"; do
    for s in "${settings[@]}"; do
      # shellcheck disable=SC2086
      "$bench" "$models" --runs "$runs" --stems "$stems" $s
    done
  done
done
