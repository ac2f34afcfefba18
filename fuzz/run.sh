#!/usr/bin/env bash
# Runs a libFuzzer target for a given time.
#
#   fuzz/run.sh TARGET SECONDS [libFuzzer options...]
#   fuzz/run.sh all SECONDS          each target in turn, SECONDS each
#
# TARGET is stem_list, mute_mode, probe, decode, separate or samples. The first run configures
# and builds build-fuzz/ with clang-14, AddressSanitizer and UBSan (the
# variable OMBRELT_FUZZ_BUILD names another directory). The corpus that grows
# lives in <build>/fuzz-corpus/TARGET and is reused by later runs; the seeds
# are fuzz/seeds/TARGET, or for the media targets the generated test media
# and the broken-media corpus. A finding leaves its input in
# <build>/fuzz-artifacts/ and makes the script fail. The fuzzer runs under
# nice, one process: the machine is shared.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
targets=(stem_list mute_mode probe decode separate samples)

usage() {
  echo "usage: fuzz/run.sh {${targets[*]// /|}|all} SECONDS [libFuzzer options]" >&2
  exit 2
}
[ $# -ge 2 ] || usage
target=$1
seconds=$2
shift 2
[[ $seconds =~ ^[0-9]+$ ]] || usage
if [ "$target" = all ]; then
  for t in "${targets[@]}"; do "$0" "$t" "$seconds" "$@"; done
  exit 0
fi
[[ " ${targets[*]} " == *" $target "* ]] || usage

build=${OMBRELT_FUZZ_BUILD:-$here/build-fuzz}
"$here/scripts/setup.sh"
if [ ! -f "$build/CMakeCache.txt" ]; then
  CC=clang-14 CXX=clang++-14 cmake -S "$here" -B "$build" -DOMBRELT_BUILD_FUZZ=ON \
    -DOMBRELT_SANITIZE=ON -DOMBRELT_BUILD_TESTS=OFF >/dev/null
fi
# Only the fuzz targets: they link the library's objects, not the shared library.
cmake --build "$build" --target ombrelt_fuzzers -j"$(nproc)" >"$build/fuzz-build.log" 2>&1 ||
  { tail -40 "$build/fuzz-build.log" >&2; exit 1; }

corpus=$build/fuzz-corpus/$target
artifacts=$build/fuzz-artifacts
logs=$build/fuzz-logs
mkdir -p "$corpus" "$artifacts" "$logs"

options=(-max_total_time="$seconds" -print_final_stats=1 -timeout=30
         -rss_limit_mb=4096 -artifact_prefix="$artifacts/$target-")
case $target in
  stem_list)
    seeds=("$here/fuzz/seeds/stem_list")
    options+=(-max_len=256 -dict="$here/fuzz/stem_list.dict") ;;
  mute_mode)
    seeds=("$here/fuzz/seeds/mute_mode")
    options+=(-max_len=64) ;;
  probe)
    seeds=("$build/test-media" "$build/broken-media")
    options+=(-max_len=65536) ;;
  decode)
    # A few bytes may ask for gigabytes: a header stating 1 Hz, or codecs
    # that store long silences in a few bytes. That is the cost of the
    # decoded length, not a fault; such inputs run in a child process whose
    # out-of-memory end is counted and passed over.
    seeds=("$build/test-media" "$build/broken-media")
    options+=(-max_len=65536 -fork=1 -ignore_ooms=1 -malloc_limit_mb=512) ;;
  samples)
    # A low rate with many samples is a long input: the same out-of-memory
    # ends are passed over.
    seeds=()
    options+=(-max_len=65536 -fork=1 -ignore_ooms=1 -malloc_limit_mb=512) ;;
  separate)
    # The same inputs as decode, each separated (up to ten seconds) and
    # written: the same out-of-memory inputs are passed over.
    seeds=("$build/test-media" "$build/broken-media")
    options+=(-max_len=65536 -fork=1 -ignore_ooms=1 -malloc_limit_mb=512) ;;
esac

log=$logs/$target.log
export LSAN_OPTIONS="suppressions=$here/tests/lsan.supp"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
nice -n 10 "$build/fuzz/fuzz_$target" "${options[@]}" "$@" "$corpus" "${seeds[@]}" \
  >"$log" 2>&1 || status=$?
# In fork mode libFuzzer exits with the status of the last child it waited
# for, even when that child's out-of-memory end (71) was one to pass over. A
# child it did not pass over is logged as "INFO: log from the inner process".
last_oom=0
if [ "$status" -eq 71 ] && [[ " ${options[*]} " == *" -ignore_ooms=1 "* ]] &&
   ! grep -q '^INFO: log from the inner process' "$log"; then
  status=0
  last_oom=1
fi
if [ "$status" -ne 0 ]; then
  tail -60 "$log" >&2
  echo "fuzz $target: FINDING after $(grep -c . "$log") log lines; inputs in $artifacts" >&2
  exit 1
fi
size=$(find "$corpus" -type f | wc -l)
if grep -q '^#[0-9]*: cov:' "$log"; then
  # Fork mode: the parent's last status line, e.g.
  # "#1234: cov: 48 ft: 141 corp: 34 exec/s 40 oom/timeout/crash: 2/0/0 time: 600s ..."
  last=$(grep '^#[0-9]*: cov:' "$log" | tail -1)
  runs=$(sed -E 's/^#([0-9]+):.*/\1/' <<<"$last")
  time=$(sed -E 's/.* time: ([0-9]+)s.*/\1/' <<<"$last")
  rate=$((runs / (time > 0 ? time : 1)))
  oom_count=$(sed -E 's/.*oom\/timeout\/crash: ([0-9]+)\/.*/\1/' <<<"$last")
  timeouts=$(sed -E 's/.*oom\/timeout\/crash: [0-9]+\/([0-9]+).*/\1/' <<<"$last")
  ooms="$((oom_count + last_oom)) out of memory, $timeouts timed out"
  echo "fuzz $target: $runs runs in ${seconds} s ($rate exec/s), corpus $size files, $ooms, no crash"
else
  runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
  rate=$(awk '/stat::average_exec_per_sec/ {print $2}' "$log")
  echo "fuzz $target: $runs runs in ${seconds} s ($rate exec/s), corpus $size files, no finding"
fi
