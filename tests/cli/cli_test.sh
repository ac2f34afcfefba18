#!/usr/bin/env bash
# Tests of the ombrelt command, one case per run: cli_test.sh CASE.
#
# Environment (set by CTest): OMBRELT (the command), MEDIA (the test media
# set), PYTHON (an interpreter with numpy and onnx), TOOLS (the tools folder),
# HERE (this folder), MODELS (the default models in the build tree),
# TEST_MODELS (the tests' tiny model sets), and for the install case
# BUILD_DIR and SANITIZE_FLAGS.
set -euo pipefail

fail() { echo "FAIL: $*" >&2; exit 1; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# The default models must be found from the command's own place.
unset OMBRELT_MODELS

# Runs the command; its status, stdout and stderr land in $status, cmd.out, cmd.err.
run() {
  set +e
  "$OMBRELT" "$@" >cmd.out 2>cmd.err
  status=$?
  set -e
}
expect_status() { [ "$status" -eq "$1" ] || { cat cmd.out cmd.err >&2; fail "exit status $status, expected $1: $2"; }; }
expect_line() {  # FILE EXACT-LINE
  grep -qxF -- "$2" "$1" || { cat "$1" >&2; fail "no line '$2' in $1"; }
}
lines() { wc -l < "$1"; }
expect_files() { for f in "$@"; do [ -s "$f" ] || fail "$f is missing or empty"; done; }
expect_no_file() { [ ! -e "$1" ] || fail "$1 should not exist"; }

case_help() {
  run --help
  expect_status 0 "ombrelt --help"
  grep -q '^usage: ombrelt <command>' cmd.out || fail "ombrelt --help shows no usage"
  mv cmd.out main-help.txt
  awk 'length > 79 { exit 1 }' main-help.txt || fail "ombrelt --help is wider than a terminal"
  for c in separate mute probe version; do
    grep -q "^  $c " main-help.txt || fail "ombrelt --help does not list $c"
    run "$c" --help
    expect_status 0 "ombrelt $c --help"
    grep -q "^usage: ombrelt $c" cmd.out || fail "ombrelt $c --help shows no usage"
    [ ! -s cmd.err ] || fail "ombrelt $c --help wrote to stderr"
    if awk 'length > 79 { exit 1 }' cmd.out; then :; else fail "ombrelt $c --help is wider than a terminal"; fi
    run help "$c"
    expect_status 0 "ombrelt help $c"
    grep -q "^usage: ombrelt $c" cmd.out || fail "ombrelt help $c is not ombrelt $c --help"
  done
  expect_no_file stems
}

case_usage_errors() {
  # arguments | the one line on stderr
  while IFS='|' read -r args message; do
    # shellcheck disable=SC2086
    run $args
    expect_status 2 "ombrelt $args"
    [ "$(lines cmd.err)" -eq 1 ] || { cat cmd.err >&2; fail "ombrelt $args: not a one-line hint"; }
    expect_line cmd.err "$message"
    [ ! -s cmd.out ] || fail "ombrelt $args wrote to stdout"
  done <<'TABLE'
separate --foo song.wav|ombrelt: unknown option '--foo' (see 'ombrelt separate --help')
separate -x song.wav|ombrelt: unknown option '-x' (see 'ombrelt separate --help')
separate song.wav -o|ombrelt: option '-o' needs a value (see 'ombrelt separate --help')
separate --json=yes song.wav|ombrelt: option '--json' takes no value (see 'ombrelt separate --help')
separate --stems vocals,voice song.wav|ombrelt: unknown stem 'voice'; choose from vocals, other, bass, drums, instrumental, all (see 'ombrelt separate --help')
separate --stems , song.wav|ombrelt: no stem named in '--stems ,' (see 'ombrelt separate --help')
separate|ombrelt: no input file (see 'ombrelt separate --help')
separate a/song.wav b/song.mp3|ombrelt: 'a/song.wav' and 'b/song.mp3' would write the same stem files; separate them into different -o directories (see 'ombrelt separate --help')
separate --format mp3 song.wav|ombrelt: unknown format 'mp3'; choose wav16, wav24, wav32f, flac or flac24 (see 'ombrelt separate --help')
separate --jobs 0 song.wav|ombrelt: --jobs takes a whole number from 1 up, not '0' (see 'ombrelt separate --help')
separate -j 2x song.wav|ombrelt: --jobs takes a whole number from 1 up, not '2x' (see 'ombrelt separate --help')
mute -o out.wav song.wav|ombrelt: missing --mode vocal|instrumental (see 'ombrelt mute --help')
mute --mode vocals -o out.wav song.wav|ombrelt: unknown mode 'vocals'; choose vocal or instrumental (see 'ombrelt mute --help')
mute --mode vocal song.wav|ombrelt: missing -o OUT, the file to write (see 'ombrelt mute --help')
mute --mode vocal -o out.wav a.wav b.wav|ombrelt: one input file at a time (got 2) (see 'ombrelt mute --help')
mute --mode vocal -o out.mp3 song.wav|ombrelt: cannot write 'out.mp3': OUT must end in .wav or .flac (see 'ombrelt mute --help')
mute --mode vocal -o out song.wav|ombrelt: cannot write 'out': OUT must end in .wav or .flac (see 'ombrelt mute --help')
mute --mode vocal -o out.wav --format flac24 song.wav|ombrelt: format flac24 writes .flac files, not 'out.wav' (see 'ombrelt mute --help')
mute --mode vocal -o out.flac --format wav24 song.wav|ombrelt: format wav24 writes .wav files, not 'out.flac' (see 'ombrelt mute --help')
mute --mode vocal -o out.wav --format aiff song.wav|ombrelt: unknown format 'aiff'; choose wav16, wav24, wav32f, flac or flac24 (see 'ombrelt mute --help')
mute --mode instrumental --keep-stems -o out.wav song.wav|ombrelt: --keep-stems goes with --mode vocal (see 'ombrelt mute --help')
probe|ombrelt: no input file (see 'ombrelt probe --help')
version extra|ombrelt: unexpected argument 'extra' (see 'ombrelt version --help')
frobnicate|ombrelt: unknown command 'frobnicate' (see 'ombrelt --help')
--frobnicate|ombrelt: unknown option '--frobnicate' (see 'ombrelt --help')
TABLE
  run
  expect_status 2 "ombrelt without arguments"
  expect_no_file stems
}

# Two generated files: both sets of stems, a line per file.
case_separate_two_files() {
  cp "$MEDIA/stereo_44k_2s.wav" first.wav
  cp "$MEDIA/stereo_2s.flac" second.flac
  run separate -o out first.wav second.flac
  expect_status 0 "two good files"
  [ "$(lines cmd.out)" -eq 2 ] || { cat cmd.out >&2; fail "expected one line per file"; }
  grep -q '^first.wav: 5 stems in out (vocals, other, bass, drums, instrumental), 2.0 s of audio in [0-9.]* s, [0-9.]*x real time$' cmd.out \
    || { cat cmd.out >&2; fail "no result line for first.wav"; }
  grep -q '^second.flac: 5 stems in out ' cmd.out || fail "no result line for second.flac"
  for base in first second; do
    for stem in vocals other bass drums instrumental; do
      expect_files "out/${base}_$stem.wav"
    done
  done
  # The default output directory, made with its parents by -o.
  run separate --stems=vocals,instrumental first.wav
  expect_status 0 "default output directory"
  expect_files stems/first_vocals.wav stems/first_instrumental.wav
  run separate -s drums -o deep/er/dir first.wav
  expect_status 0 "nested output directory"
  expect_files deep/er/dir/first_drums.wav
  expect_no_file deep/er/dir/first_bass.wav
}

# One bad file among good ones: status 1, the library's message naming the
# bad file, and the stems of the good ones.
case_separate_bad_file() {
  cp "$MEDIA/stereo_44k_2s.wav" good1.wav
  cp "$MEDIA/video_only.mp4" bad.mp4
  cp "$MEDIA/stereo_2s.flac" good2.flac
  run separate -o out -s vocals good1.wav bad.mp4 good2.flac
  expect_status 1 "one bad file"
  expect_line cmd.err "ombrelt: bad.mp4: no audio stream in bad.mp4"
  expect_line cmd.err "ombrelt: 1 of 3 files failed"
  [ "$(lines cmd.out)" -eq 2 ] || fail "expected lines for the two good files"
  expect_files out/good1_vocals.wav out/good2_vocals.wav
  expect_no_file out/bad_vocals.wav
  # A single bad file fails too, without the summary.
  run separate -o out bad.mp4
  expect_status 1 "only a bad file"
  [ "$(cat cmd.err)" = "ombrelt: bad.mp4: no audio stream in bad.mp4" ] || { cat cmd.err >&2; fail "unexpected stderr"; }
}

# --json: one object per file that a JSON reader accepts.
case_json_output() {
  cp "$MEDIA/stereo_44k_2s.wav" 'song "quoted".wav'
  run separate --json -o out -s bass 'song "quoted".wav' missing.wav
  expect_status 1 "separate --json with a missing file"
  mv cmd.out sep.jsonl
  run version --json
  mv cmd.out version.json
  run probe --json 'song "quoted".wav' missing.wav
  expect_status 1 "probe --json with a missing file"
  "$PYTHON" - <<'PY' || fail "the JSON output is wrong"
import json
sep = [json.loads(l) for l in open("sep.jsonl")]
assert [s["file"] for s in sep] == ['song "quoted".wav', "missing.wav"], sep
assert sep[0]["ok"] is True and sep[0]["result"]["bass"] == 'out/song "quoted"_bass.wav', sep[0]
assert set(sep[0]["result"]) == {"bass", "duration_s", "chunks", "elapsed_s", "format",
                                 "sum_to_mix", "wiener"}, sep[0]
assert sep[0]["result"]["format"] == "wav16" and sep[0]["result"]["sum_to_mix"] is False, sep[0]
assert sep[1] == {"file": "missing.wav", "ok": False, "error": "cannot open missing.wav"}, sep[1]
probe = [json.loads(l) for l in open("cmd.out")]
assert probe[0]["result"]["sample_rate"] == 44100 and probe[0]["result"]["channels"] == 2, probe
assert probe[1]["ok"] is False, probe
v = json.load(open("version.json"))
assert v["ombrelt"] == v["library"] == "1.0.0" and v["models"], v
PY
}

case_probe() {
  run probe "$MEDIA/stereo_44k_2s.wav" "$MEDIA/mono_48k_2s.mp3"
  expect_status 0 "probe"
  grep -q "^$MEDIA/stereo_44k_2s.wav: 2.00 s, 44100 Hz, 2 channels, pcm_s16le, 141[0-9] kb/s\$" cmd.out \
    || { cat cmd.out >&2; fail "no line for the wav"; }
  grep -q "^$MEDIA/mono_48k_2s.mp3: 2.0[0-9] s, 48000 Hz, 1 channel, mp3, 1[0-9][0-9] kb/s\$" cmd.out \
    || { cat cmd.out >&2; fail "no line for the mp3"; }
}

# mute leaves only OUT unless --keep-stems; its JSON result has "path" and
# "mode" where the kept part went.
case_mute() {
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  run mute --mode vocal -o karaoke/sub/song-novocals.wav song.wav
  expect_status 0 "mute vocal"
  [ "$(ls -A karaoke/sub)" = song-novocals.wav ] || { ls -A karaoke/sub >&2; fail "mute wrote more than OUT"; }
  grep -q '^song.wav: vocals removed, karaoke/sub/song-novocals.wav written, 2.0 s of audio in ' cmd.out \
    || { cat cmd.out >&2; fail "no result line"; }
  run mute --mode vocal --keep-stems -o kept/song.wav song.wav --json
  expect_status 0 "mute vocal --keep-stems"
  [ "$(ls -A kept | sort | tr '\n' ' ')" = "song.wav song_bass.wav song_drums.wav song_other.wav " ] \
    || { ls -A kept >&2; fail "--keep-stems: not OUT and its three stems"; }
  mv cmd.out kept.json
  run mute --mode instrumental -o acappella.wav song.wav --json
  expect_status 0 "mute instrumental"
  "$PYTHON" - <<'PY' || fail "wrong JSON result"
import json
kept = json.load(open("kept.json"))["result"]
assert kept["path"] == "kept/song.wav" and kept["mode"] == "vocal", kept
assert [kept[s] for s in ("other", "bass", "drums")] == ["kept/song_other.wav", "kept/song_bass.wav",
                                                        "kept/song_drums.wav"], kept
assert "instrumental" not in kept and list(kept)[-2:] == ["path", "mode"], kept
r = json.load(open("cmd.out"))["result"]
assert r["path"] == "acappella.wav" and r["mode"] == "instrumental", r
assert not {"vocals", "other", "bass", "drums", "instrumental"} & set(r), r
PY
  run mute --mode vocal -o out.wav missing.wav
  expect_status 1 "mute of a missing file"
  expect_line cmd.err "ombrelt: missing.wav: cannot open missing.wav"
}

# Each --format, and each extension of a mute's OUT, gives files of its
# codec and sample type.
case_formats() {
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  probe_format() {  # FILE -> "codec sample_fmt"
    ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_fmt \
      -of default=nw=1:nk=1 "$1" | tr '\n' ' '
  }
  # --format | file extension | codec | sample format
  while IFS='|' read -r format ext codec sample_fmt; do
    run separate -m "$TEST_MODELS/identity" --format "$format" -s vocals -o "sep-$format" song.wav
    expect_status 0 "separate --format $format"
    expect_files "sep-$format/song_vocals.$ext"
    [ "$(probe_format "sep-$format/song_vocals.$ext")" = "$codec $sample_fmt " ] \
      || fail "--format $format wrote $(probe_format "sep-$format/song_vocals.$ext")"
  done <<'TABLE'
wav16|wav|pcm_s16le|s16
wav24|wav|pcm_s24le|s32
wav32f|wav|pcm_f32le|flt
flac|flac|flac|s16
flac24|flac|flac|s32
TABLE
  # OUT | --format | codec | sample format
  while IFS='|' read -r out format codec sample_fmt; do
    run mute -m "$TEST_MODELS/identity" --mode vocal --keep-stems -o "$out" ${format:+--format "$format"} song.wav
    expect_status 0 "mute -o $out ${format:+--format $format}"
    [ "$(probe_format "$out")" = "$codec $sample_fmt " ] || fail "mute -o $out wrote $(probe_format "$out")"
    # The stems beside OUT come in OUT's format, under the library's own
    # extension for it.
    ext=${out##*.}
    stem="${out%.*}_bass.${ext,,}"
    [ "$(probe_format "$stem")" = "$codec $sample_fmt " ] || fail "$stem: $(probe_format "$stem")"
  done <<'TABLE'
m16/out.wav||pcm_s16le|s16
m24/out.wav|wav24|pcm_s24le|s32
m32/out.wav|wav32f|pcm_f32le|flt
f16/out.flac||flac|s16
f24/out.flac|flac24|flac|s32
upper/OUT.FLAC||flac|s16
TABLE
}

# --sum-to-mix: with the identity models every stem is the whole song
# unless the song is shared out between them. The parts must then add up to
# the song: the four stems of separate, and what mute keeps plus what it
# removes.
case_sum_to_mix() {
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  identity="$TEST_MODELS/identity"
  # option | whether the parts add up to the song
  while IFS='|' read -r option adds_up; do
    rm -rf stems parts
    run separate -m "$identity" $option -s vocals,other,bass,drums song.wav
    expect_status 0 "separate $option"
    run mute -m "$identity" $option --mode vocal -o parts/rest.wav song.wav
    expect_status 0 "mute vocal $option"
    run mute -m "$identity" $option --mode instrumental -o parts/voice.wav song.wav
    expect_status 0 "mute instrumental $option"
    for parts in "stems" "parts/rest.wav parts/voice.wav"; do
      # shellcheck disable=SC2086
      if "$PYTHON" "$HERE/check_stem_sum.py" song.wav $parts > check.txt 2>&1; then result=yes; else result=no; fi
      [ "$result" = "$adds_up" ] || { cat check.txt >&2; fail "${option:-no option}: $parts add up: $result"; }
    done
  done <<'TABLE'
--sum-to-mix|yes
--wiener|yes
|no
TABLE
}

# --models beats $OMBRELT_MODELS, which beats the default set.
case_model_dir() {
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  OMBRELT_MODELS="$work/nowhere" run separate -s bass song.wav
  expect_status 1 "OMBRELT_MODELS naming no models"
  grep -q "^ombrelt: cannot load the models in $work/nowhere: " cmd.err || { cat cmd.err >&2; fail "no model message"; }
  expect_no_file stems
  OMBRELT_MODELS="$work/nowhere" run separate --models "$MODELS" -s bass song.wav
  expect_status 0 "--models over OMBRELT_MODELS"
  run separate -m "$work/nowhere" -s bass song.wav
  expect_status 1 "--models naming no models"
  OMBRELT_MODELS="$work/nowhere" run version
  expect_line cmd.out "models  $work/nowhere"
}

# A value without a slash that is no folder here names a set: in the user's
# data directory (then among the installed sets, see the install case);
# "default" is the default set.
case_model_names() {
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  export XDG_DATA_HOME="$work/data"
  sets="$XDG_DATA_HOME/tavrin-ombrelt/models"
  mkdir -p "$sets/mine" "$sets/half"
  cp "$MODELS"/umxl_*.onnx "$sets/mine/"
  cp "$MODELS/umxl_vocals.onnx" "$sets/half/"

  run separate -m mine -s bass song.wav
  expect_status 0 "-m with the name of a user set"
  expect_files stems/song_bass.wav
  run separate -m default -s bass song.wav
  expect_status 0 "-m default"
  # value of --models or OMBRELT_MODELS | the models line of 'ombrelt version'
  while IFS='|' read -r value line; do
    OMBRELT_MODELS="$value" run version
    expect_line cmd.out "$line"
  done <<TABLE
mine|models  $sets/mine
default|models  $MODELS
half|models  half: no such set (scripts/get-models.sh half gets it)
TABLE
  expect_line cmd.out "sets    $sets: half (incomplete), mine"

  # A set that is missing or incomplete: where it was looked for, and how to
  # get it.
  for name in nosuch half; do
    run separate -m "$name" song.wav
    expect_status 1 "-m $name"
    grep -qxF "ombrelt: no model set '$name' in ./$name, $sets/$name or $BUILD_DIR/share/tavrin-ombrelt/models/$name" cmd.err \
      || { cat cmd.err >&2; fail "-m $name: no list of the places tried"; }
    expect_line cmd.err "ombrelt: get it with 'scripts/get-models.sh $name' from the tavrin-ombrelt sources, or give a directory with --models DIR"
  done
  # A folder of that name here comes first, models or not.
  mkdir nosuch
  run separate -m nosuch song.wav
  expect_status 1 "-m naming an empty folder here"
  grep -q "^ombrelt: cannot load the models in nosuch: " cmd.err || { cat cmd.err >&2; fail "the folder here was not used"; }
  # A relative XDG_DATA_HOME is ignored, as the XDG rules say.
  mkdir -p home/.local/share/tavrin-ombrelt/models
  XDG_DATA_HOME=data HOME="$work/home" run version
  expect_line cmd.out "sets    $work/home/.local/share/tavrin-ombrelt/models: none yet (scripts/get-models.sh umxhq gets one)"
}

# A terminal gets a progress bar while a file runs, then the result; with
# --json it gets no bar.
case_live_line() {
  command -v script >/dev/null || { echo "no script(1): skipped"; exit 0; }
  cp "$MEDIA/stereo_44k_10s.wav" song.wav
  script -qec "'$OMBRELT' separate -s vocals song.wav" /dev/null > tty.txt || fail "separate on a terminal"
  grep -q 'separating song.wav \[[#.]*\] *[0-9]*%  .* left' tty.txt || { cat -v tty.txt >&2; fail "no progress bar"; }
  grep -q 'song.wav: 1 stem in stems (vocals)' tty.txt || { cat -v tty.txt >&2; fail "no result line"; }
  script -qec "'$OMBRELT' separate --json -s vocals song.wav" /dev/null > tty.txt || fail "separate --json on a terminal"
  if grep -q 'separating' tty.txt; then cat -v tty.txt >&2; fail "a bar with --json"; fi
  grep -q '^{"file":"song.wav","ok":true' tty.txt || { cat -v tty.txt >&2; fail "no JSON line"; }
}

# --jobs 2 writes the same files as --jobs 1, byte for byte, with one whole
# line for each file and the same exit status rules.
case_jobs() {
  cp "$MEDIA/stereo_44k_10s.wav" a.wav
  cp "$MEDIA/stereo_2s.flac" b.flac
  cp "$MEDIA/video_only.mp4" bad.mp4
  cp "$MEDIA/mono_48k_2s.mp3" c.mp3
  for jobs in 1 2; do
    run separate --jobs "$jobs" -o "out$jobs" a.wav b.flac bad.mp4 c.mp3
    expect_status 1 "--jobs $jobs with a bad file"
    expect_line cmd.err "ombrelt: bad.mp4: no audio stream in bad.mp4"
    expect_line cmd.err "ombrelt: 1 of 4 files failed"
    [ "$(lines cmd.out)" -eq 3 ] || { cat cmd.out >&2; fail "--jobs $jobs: not a line per good file"; }
    for f in a.wav b.flac c.mp3; do
      grep -q "^$f: 5 stems in out$jobs (vocals, other, bass, drums, instrumental), [0-9.]* s of audio in [0-9.]* s, [0-9.]*x real time\$" cmd.out \
        || { cat cmd.out >&2; fail "--jobs $jobs: no whole line for $f"; }
    done
  done
  [ "$(ls out1 | wc -l)" -eq 15 ] || fail "--jobs 1 did not write 15 stems"
  diff -r out1 out2 || fail "--jobs 2 wrote other stems than --jobs 1"
  run separate --jobs 2 --json -o out-json a.wav b.flac c.mp3
  expect_status 0 "--jobs 2 --json"
  "$PYTHON" -c '
import json, sys
files = sorted(json.loads(line)["file"] for line in open("cmd.out"))
assert files == ["a.wav", "b.flac", "c.mp3"], files' || { cat cmd.out >&2; fail "--jobs 2 --json lines"; }
}

# FFmpeg's own lines about a damaged input show only with -v.
case_verbose() {
  # Garbage in the middle of an MP3: the decoder complains and goes on.
  "$PYTHON" - "$MEDIA/mono_48k_2s.mp3" damaged.mp3 <<'PY'
import random, sys
data = bytearray(open(sys.argv[1], "rb").read())
rng = random.Random(3)
for i in range(len(data) // 3, len(data) // 3 + 600):
    data[i] = rng.randrange(256)
open(sys.argv[2], "wb").write(data)
PY
  # options | whether FFmpeg's lines show
  while IFS='|' read -r options shown; do
    # shellcheck disable=SC2086
    run separate -m "$TEST_MODELS/identity" -s vocals $options damaged.mp3
    expect_status 0 "separate $options of a damaged MP3"
    if grep -q '^\[mp3[a-z]* @' cmd.err; then result=yes; else result=no; fi
    [ "$result" = "$shown" ] || { cat cmd.err >&2; fail "separate ${options:-without -v}: FFmpeg lines shown: $result"; }
  done <<'TABLE'
|no
-v|yes
--verbose|yes
TABLE
}

# Ctrl-C: the files running end without a trace, no further file starts,
# one line says so and the status is 130.
case_interrupt() {
  ffmpeg -nostdin -v error -f lavfi -i "sine=f=220:d=90" -ac 2 long.wav
  for f in a b c; do ln long.wav "$f.wav"; done
  # --jobs | the files running when Ctrl-C comes
  while IFS='|' read -r jobs running; do
    rm -rf out
    # Job control gives the command a SIGINT that is not ignored, as a
    # terminal's Ctrl-C would.
    set -m
    "$OMBRELT" separate --json --jobs "$jobs" -o out a.wav b.wav c.wav < /dev/null > cmd.out 2> cmd.err &
    pid=$!
    set +m
    # Running means writing the hidden temporaries of its stems.
    for _ in $(seq 1200); do
      started=0
      for f in $running; do
        if compgen -G "out/.${f}_vocals.wav.*.tmp" > /dev/null; then started=$((started + 1)); fi
      done
      [ "$started" -eq "$(echo "$running" | wc -w)" ] && break
      sleep 0.05
    done
    [ "$started" -eq "$(echo "$running" | wc -w)" ] || { kill "$pid"; fail "--jobs $jobs: $running never ran"; }
    kill -INT "$pid"
    set +e
    wait "$pid"
    status=$?
    set -e
    expect_status 130 "--jobs $jobs, interrupted"
    [ "$(cat cmd.err)" = "ombrelt: interrupted" ] || { cat cmd.err >&2; fail "--jobs $jobs: not the one line"; }
    [ -z "$(find out -mindepth 1)" ] || { ls -A out >&2; fail "--jobs $jobs: files left behind"; }
    # The files running say they were cancelled; the others never started.
    "$PYTHON" -c '
import json, sys
lines = [json.loads(l) for l in open("cmd.out")]
assert sorted(l["file"] for l in lines) == sorted(f + ".wav" for f in sys.argv[1].split()), lines
assert all(l == {"file": l["file"], "ok": False, "error": "cancelled"} for l in lines), lines' "$running" \
      || { cat cmd.out >&2; fail "--jobs $jobs: wrong lines"; }
  done <<'TABLE'
1|a
2|a b
TABLE
}

# The default models meet the model contract and separate a 30-second song
# into four stems that add up to the mixture within 16-bit rounding.
case_default_models_sum() {
  "$PYTHON" "$HERE/check_default_models.py" "$MODELS"
  "$PYTHON" "$TOOLS/make_demo_song.py" song
  run separate -o stems song/demo_song.wav
  expect_status 0 "separating the demo song"
  "$PYTHON" "$HERE/check_stem_sum.py" song/demo_song.wav stems
}

# An installed tree: the command separates with the installed models, and a
# small program finds the library through pkg-config and find_package.
case_install() {
  prefix="$work/prefix"
  cmake --install "$BUILD_DIR" --prefix "$prefix" > install.log || { cat install.log >&2; fail "install"; }
  for f in lib/libtavrin-ombrelt.so lib/libtavrin-ombrelt.so.1 lib/libtavrin-ombrelt-session.so.1 \
           lib/libonnxruntime.so.1 \
           lib/libyyjson.so.0 include/ombrelt.h bin/ombrelt lib/pkgconfig/tavrin-ombrelt.pc \
           lib/cmake/tavrin-ombrelt/tavrin-ombrelt-config.cmake \
           share/tavrin-ombrelt/models/umxl_vocals.onnx share/doc/tavrin-ombrelt/LICENSE \
           share/doc/tavrin-ombrelt/THIRD-PARTY.md; do
    [ -e "$prefix/$f" ] || fail "$f was not installed"
  done
  cp "$MEDIA/stereo_44k_2s.wav" song.wav
  "$prefix/bin/ombrelt" separate -o out song.wav > out.txt || fail "the installed command failed"
  expect_files out/song_instrumental.wav
  "$prefix/bin/ombrelt" version > version.txt
  expect_line version.txt "models  $prefix/share/tavrin-ombrelt/models"
  # A set installed beside the default one is found by name, after a user
  # set of the same name.
  installed_set="$prefix/share/tavrin-ombrelt/models/studio"
  mkdir -p "$installed_set" "$work/data/tavrin-ombrelt/models"
  cp "$prefix"/share/tavrin-ombrelt/models/*.onnx "$installed_set/"
  export XDG_DATA_HOME="$work/data"
  OMBRELT_MODELS=studio "$prefix/bin/ombrelt" version > version.txt
  expect_line version.txt "models  $installed_set"
  expect_line version.txt "        $prefix/share/tavrin-ombrelt/models: studio"
  "$prefix/bin/ombrelt" separate -m studio -s vocals -o out-studio song.wav > out.txt \
    || fail "the installed command with an installed set"
  expect_files out-studio/song_vocals.wav
  cp -r "$installed_set" "$work/data/tavrin-ombrelt/models/"
  OMBRELT_MODELS=studio "$prefix/bin/ombrelt" version > version.txt
  expect_line version.txt "models  $work/data/tavrin-ombrelt/models/studio"
  unset XDG_DATA_HOME
  # Everything the command loads of this project comes from the prefix: the
  # session library, not the seven-function one.
  ldd "$prefix/bin/ombrelt" > ldd.txt
  if grep -q 'libtavrin-ombrelt\.so' ldd.txt; then cat ldd.txt >&2; fail "the command loads libtavrin-ombrelt"; fi
  for lib in libtavrin-ombrelt-session.so.1 libonnxruntime.so.1 libyyjson.so.0; do
    grep -qF "$lib => $prefix/" ldd.txt || { cat ldd.txt >&2; fail "$lib not from the prefix"; }
  done

  cat > consumer.c <<'C'
#include <ombrelt.h>
#include <stdio.h>
int main(int argc, char **argv) {
  if (argc < 2 || ombrelt_init(argv[1]) != 0) {
    fprintf(stderr, "init: %s\n", ombrelt_last_error());
    return 1;
  }
  ombrelt_cleanup();
  printf("%s\n", ombrelt_version());
  return 0;
}
C
  export PKG_CONFIG_PATH="$prefix/lib/pkgconfig"
  libdir=$(pkg-config --variable=libdir tavrin-ombrelt)
  # shellcheck disable=SC2086,SC2046
  cc $SANITIZE_FLAGS consumer.c $(pkg-config --cflags --libs tavrin-ombrelt) -Wl,-rpath,"$libdir" \
     -o consumer-pc || fail "building against pkg-config"
  [ "$(./consumer-pc "$(pkg-config --variable=modelsdir tavrin-ombrelt)")" = 1.0.0 ] \
    || fail "the pkg-config consumer"
  [ "$(pkg-config --variable=license tavrin-ombrelt)" = MIT ] || fail "no licence in the .pc file"

  mkdir cm
  cat > cm/CMakeLists.txt <<'CM'
cmake_minimum_required(VERSION 3.16)
project(consumer C)
find_package(tavrin-ombrelt 1.0 REQUIRED)
add_executable(consumer ../consumer.c)
target_link_libraries(consumer PRIVATE tavrin-ombrelt::tavrin-ombrelt)
file(WRITE "${CMAKE_BINARY_DIR}/models_dir.txt" "${TAVRIN_OMBRELT_MODELS_DIR}")
file(WRITE "${CMAKE_BINARY_DIR}/license.txt" "${TAVRIN_OMBRELT_LICENSE}")
CM
  cmake -S cm -B cm/build -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_FLAGS="$SANITIZE_FLAGS" \
    > cmake.log 2>&1 || { cat cmake.log >&2; fail "find_package"; }
  cmake --build cm/build >> cmake.log 2>&1 || { cat cmake.log >&2; fail "building against find_package"; }
  [ "$(cm/build/consumer "$(cat cm/build/models_dir.txt)")" = 1.0.0 ] || fail "the find_package consumer"
  [ "$(cat cm/build/license.txt)" = MIT ] || fail "no licence in the CMake package"
}

"case_${1:?usage: cli_test.sh CASE}"
echo "ok: $1"
