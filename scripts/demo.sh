#!/usr/bin/env bash
# The main job, from a fresh clone: set-up and build (the default stem
# models are built with the library), a generated 30-second song with its
# true stems, its separation with the ombrelt command, and a table of how
# close each separated stem comes to the true one.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$here/out/demo"
mkdir -p "$out"

log="$here/out/build.log"
echo "== set-up and build (a few minutes on a fresh clone; log in out/build.log)"
if ! "$here/scripts/build.sh" build >"$log" 2>&1; then
  tail -n 40 "$log" >&2
  echo "demo: the build failed; the whole log is in out/build.log" >&2
  exit 1
fi
ombrelt="$here/build/cli/ombrelt"

cd "$out"
echo "== the demo song in out/demo: drums, bass, a pad and an arpeggio off the centre, a singer in the centre"
/usr/bin/python3 "$here/tools/make_demo_song.py" .
"$ombrelt" probe demo_song.wav

echo "== separation with the default models into out/demo/stems"
rm -rf stems
"$ombrelt" separate -o stems demo_song.wav

echo "== separated stems against the true ones (SDR in dB; the mixture as estimate is the baseline)"
/usr/bin/python3 "$here/tools/evaluate_stems.py" --mix demo_song.wav --truth true --estimates stems
