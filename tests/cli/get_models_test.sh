#!/usr/bin/env bash
# Tests of scripts/get-models.sh against a file server on 127.0.0.1, one
# case per run: get_models_test.sh CASE.
#
# Environment (set by CTest): GET_MODELS (the script), OMBRELT (the
# command), PYTHON (an interpreter with numpy and onnx), MEDIA (the test
# media set), HERE (this folder), CHECKPOINTS (a folder of small stem
# checkpoints, *.pth, that the converter accepts).
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
server_pid=
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
cd "$work"
unset OMBRELT_MODELS OMBRELT_MODEL_SETS OMBRELT_MODELS_BASE_URL
export XDG_DATA_HOME="$work/data"
STEMS=(vocals other bass drums)

# Runs the script; its status, stdout and stderr land in $status, gm.out, gm.err.
get_models() {
  set +e
  timeout 300 "$GET_MODELS" "$@" >gm.out 2>gm.err
  status=$?
  set -e
}
expect_status() { [ "$status" -eq "$1" ] || { cat gm.out gm.err >&2; fail "exit status $status, expected $1: $2"; }; }
expect_line() {  # FILE EXACT-LINE
  grep -qxF -- "$2" "$1" || { cat "$1" >&2; fail "no line '$2' in $1"; }
}
expect_no_models() {  # DIR
  for stem in "${STEMS[@]}"; do [ ! -e "$1/umxl_$stem.onnx" ] || fail "$1/umxl_$stem.onnx was written"; done
}
sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# The cases that convert need the converter and its test checkpoints; they
# report themselves skipped (77) in a tree that has neither yet.
need_converter() {
  local converter
  converter="$(dirname "$GET_MODELS")/../tools/umx/convert_checkpoint.py"
  if [ ! -f "$converter" ] || ! compgen -G "$CHECKPOINTS/*.pth" >/dev/null; then
    echo "skipped: no converter or no test checkpoints in this tree"
    exit 77
  fi
}

# served/ gets one test checkpoint per stem under its hub name,
# <stem>-<first 8 hex digits of its SHA-256>.pth, and sets.tsv a set 'tiny'
# of them (non-commercial, so the flag is needed). names[i] is the file of
# STEMS[i]. The table's own base URL is a closed port: the files must come
# through OMBRELT_MODELS_BASE_URL.
make_set() {
  need_converter
  mkdir -p served
  local all=("$CHECKPOINTS"/*.pth) i src
  [ -e "${all[0]}" ] || fail "no test checkpoints in $CHECKPOINTS"
  names=()
  for i in 0 1 2 3; do
    src=${all[i % ${#all[@]}]}
    for f in "${all[@]}"; do [[ $(basename "$f") == *"${STEMS[i]}"* ]] && src=$f; done
    names[i]=${STEMS[i]}-$(sha256_of "$src" | cut -c1-8).pth
    cp "$src" "served/${names[i]}"
  done
  write_table
}
write_table() {
  printf '# a set for the tests\ntiny\thttp://127.0.0.1:9/\thttp://127.0.0.1:9/record\ttest licence\tnoncommercial\t%s\t%s\t%s\t%s\n' \
    "${names[@]}" > sets.tsv
  export OMBRELT_MODEL_SETS="$work/sets.tsv"
}

# Serves served/ for at most two minutes; requests.log gets "<path> <range>"
# per request.
start_server() {
  "$PYTHON" "$HERE/range_http_server.py" served port requests.log 120 &
  server_pid=$!
  for _ in $(seq 100); do [ -s port ] && break; sleep 0.1; done
  [ -s port ] || fail "the test server did not start"
  OMBRELT_MODELS_BASE_URL="http://127.0.0.1:$(cat port)/"
  export OMBRELT_MODELS_BASE_URL
}

expect_separates() {  # what -m is given
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  rm -rf stems
  "$OMBRELT" separate -m "$1" song.wav > separate.txt 2>&1 || { cat separate.txt >&2; fail "ombrelt separate -m $1"; }
  for stem in "${STEMS[@]}" instrumental; do [ -s "stems/song_$stem.wav" ] || fail "-m $1 wrote no $stem stem"; done
}

# The whole road into the default folder: licence notice, four downloads,
# four models, the set's README, the line to use, and ombrelt finding the set
# by name.
case_download() {
  make_set
  start_server
  get_models --accept-noncommercial tiny
  expect_status 0 "get-models.sh --accept-noncommercial tiny"
  dir="$XDG_DATA_HOME/tavrin-ombrelt/models/tiny"
  [ "$(tail -n1 gm.out)" = "ombrelt separate -m tiny song.mp3" ] || { cat gm.out >&2; fail "not the line to use"; }
  grep -q "licensed test licence" gm.err || { cat gm.err >&2; fail "no licence notice"; }
  for i in 0 1 2 3; do
    [ -s "$dir/umxl_${STEMS[i]}.onnx" ] || fail "no umxl_${STEMS[i]}.onnx"
    expect_line "$dir/README.md" "| umxl_${STEMS[i]}.onnx | $OMBRELT_MODELS_BASE_URL${names[i]} | $(sha256_of "served/${names[i]}") |"
    expect_line requests.log "/${names[i]} -"
  done
  expect_line "$dir/README.md" "- Licence of the weights: test licence"
  [ "$(wc -l < requests.log)" -eq 4 ] || { cat requests.log >&2; fail "expected one request per file"; }
  [ ! -e "$dir/.download" ] || fail "the downloads were left behind"
  expect_separates tiny
}

# A rerun picks up where a run stopped: a partial file is resumed from its
# end, a complete one is not fetched again, one as long as the file but with
# other bytes is fetched anew, and a failed run leaves no model.
case_resume() {
  make_set
  start_server
  dir="$work/models"
  mkdir -p "$dir/.download"
  size=$(stat -c %s "served/${names[0]}")
  half=$((size / 2))
  head -c "$half" "served/${names[0]}" > "$dir/.download/${names[0]}.part"
  cp "served/${names[1]}" "$dir/.download/${names[1]}.part"
  size=$(stat -c %s "served/${names[2]}")
  head -c "$size" /dev/zero > "$dir/.download/${names[2]}.part"
  mv "served/${names[3]}" drums.pth  # the server lacks one file at first
  get_models --accept-noncommercial tiny "$dir"
  expect_status 1 "a file missing on the server"
  expect_line gm.err "get-models.sh: cannot download $OMBRELT_MODELS_BASE_URL${names[3]} (curl exit status 22); run again to resume"
  expect_line requests.log "/${names[0]} bytes=$half-"
  if grep -q "^/${names[1]} " requests.log; then fail "a complete .part was fetched again"; fi
  expect_line requests.log "/${names[2]} bytes=$size-"
  expect_line requests.log "/${names[2]} -"
  expect_no_models "$dir"

  mv drums.pth "served/${names[3]}"
  : > requests.log
  get_models --accept-noncommercial tiny "$dir"
  expect_status 0 "the rerun"
  [ "$(cat requests.log)" = "/${names[3]} -" ] || { cat requests.log >&2; fail "the rerun fetched more than the missing file"; }
  [ "$(tail -n1 gm.out)" = "ombrelt separate -m $dir song.mp3" ] || { cat gm.out >&2; fail "not the line to use"; }
  expect_separates "$dir"
}

# A file whose SHA-256 does not start with the prefix in its name is deleted
# and no model is written: whether the server sends other bytes, or a
# partial file from earlier held other bytes.
case_mismatch() {
  make_set
  start_server
  dir="$work/models"
  real=${names[0]}
  names[0]=vocals-00000000.pth
  mv "served/$real" "served/${names[0]}"
  write_table
  get_models --accept-noncommercial tiny "$dir"
  expect_status 1 "a file whose hash differs from its name"
  got=$(sha256_of "served/${names[0]}" | cut -c1-8)
  [ "$(tail -n1 gm.err)" = "get-models.sh: vocals-00000000.pth: checksum mismatch: expected SHA-256 prefix 00000000, got $got; the file was deleted, run again to download it anew" ] \
    || { cat gm.err >&2; fail "not the mismatch message"; }
  if compgen -G "$dir/.download/vocals*" >/dev/null; then fail "the bad file was kept"; fi
  expect_no_models "$dir"

  mv "served/${names[0]}" "served/$real"
  names[0]=$real
  write_table
  head -c 100 /dev/zero > "$dir/.download/${names[0]}.part"
  get_models --accept-noncommercial tiny "$dir"
  expect_status 1 "a partial file with other bytes"
  grep -q "^get-models.sh: ${names[0]}: checksum mismatch: expected SHA-256 prefix ${names[0]:7:8}, got " gm.err \
    || { cat gm.err >&2; fail "not the mismatch message"; }
  [ ! -e "$dir/.download/${names[0]}.part" ] || fail "the bad partial file was kept"
  expect_no_models "$dir"
  get_models --accept-noncommercial tiny "$dir"
  expect_status 0 "the rerun after a mismatch"
}

# A file the converter rejects: its message, status 1, and the set already in
# DIR left as it was.
case_bad_checkpoint() {
  make_set
  printf 'not a checkpoint\n' > "served/drums.pth"
  rm "served/${names[3]}"
  names[3]=drums-$(sha256_of served/drums.pth | cut -c1-8).pth
  mv served/drums.pth "served/${names[3]}"
  write_table
  start_server
  dir="$work/models"
  mkdir -p "$dir"
  for stem in "${STEMS[@]}"; do echo "old $stem" > "$dir/umxl_$stem.onnx"; done
  get_models --accept-noncommercial tiny "$dir"
  expect_status 1 "a file that is no checkpoint"
  grep -q "^get-models.sh: cannot convert ${names[3]}: ." gm.err \
    || { cat gm.err >&2; fail "no message naming the bad checkpoint"; }
  for stem in "${STEMS[@]}"; do
    [ "$(cat "$dir/umxl_$stem.onnx")" = "old $stem" ] || fail "umxl_$stem.onnx was replaced by a failed run"
  done
}

# Refusals before any download: a curl that records being called stands in
# for the real one.
case_refusals() {
  mkdir bin
  printf '#!/bin/sh\necho called >> %s/curl-calls\nexit 7\n' "$work" > bin/curl
  chmod +x bin/curl
  # arguments | exit status | a line on stderr
  while IFS='|' read -r args want message; do
    # shellcheck disable=SC2086
    PATH="$work/bin:$PATH" get_models $args
    expect_status "$want" "get-models.sh $args"
    expect_line gm.err "$message"
    [ ! -e curl-calls ] || fail "get-models.sh $args called curl"
    [ ! -e "$XDG_DATA_HOME" ] || fail "get-models.sh $args made a folder"
  done <<'TABLE'
umxl|1|get-models.sh: to accept these terms, run again with --accept-noncommercial
nosuch|2|get-models.sh: unknown model set 'nosuch'; choose from umxhq, umxl (see 'scripts/get-models.sh --help')
|2|get-models.sh: no model set named; choose from umxhq, umxl (see 'scripts/get-models.sh --help')
--frobnicate umxhq|2|get-models.sh: unknown option '--frobnicate' (see 'scripts/get-models.sh --help')
umxhq a b|2|get-models.sh: unexpected argument 'b' (see 'scripts/get-models.sh --help')
TABLE
  PATH="$work/bin:$PATH" get_models umxl
  if ! grep -q "CC BY-NC-SA 4.0" gm.err || ! grep -q "non-commercial" gm.err; then
    cat gm.err >&2
    fail "umxl's licence is not stated"
  fi
}

# The README's table of model sets tells the same as tools/model_sets.tsv:
# a row per set with its record page, and the non-commercial terms where
# they apply.
case_readme_table() {
  root="$(dirname "$GET_MODELS")/.."
  while IFS=$'\t' read -r set _ record _ terms _; do
    row=$(grep "^| \`$set\` |" "$root/README.md") || fail "README.md has no row for the set $set"
    [[ $row == *"$record"* ]] || fail "README.md's row for $set does not point to $record"
    if [ "$terms" = noncommercial ] && [[ $row != *non-commercial* ]]; then
      fail "README.md's row for $set does not say non-commercial"
    fi
  done < <(grep -v '^#' "$root/tools/model_sets.tsv")
}

"case_${1:?usage: get_models_test.sh CASE}"
echo "ok: $1"
