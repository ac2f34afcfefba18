#!/usr/bin/env bash
# Downloads a published model set, checks it and converts it into the four
# stem models that ombrelt loads.
#
#   scripts/get-models.sh [--accept-noncommercial] SET [DIR]
#
# The sets, their addresses and licences are in tools/model_sets.tsv. DIR
# defaults to the user's data directory,
# ${XDG_DATA_HOME:-~/.local/share}/tavrin-ombrelt/models/SET, where
# 'ombrelt separate -m SET' finds it.
#
# Downloads go to DIR/.download/ as <file>.part and are resumed by a rerun;
# a file becomes <file> only once its SHA-256 matches the hash in its name.
# The converted models are written beside them and renamed into DIR at the
# end, so an interrupted run never leaves a partial model under its final
# name. The downloads are removed once the set is complete.
#
# Environment: OMBRELT_MODEL_SETS (another table), OMBRELT_MODELS_BASE_URL
# (another base URL for the set's files, e.g. a mirror).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
me=get-models.sh
STEMS=(vocals other bass drums)

usage() {
  cat <<EOF
usage: scripts/get-models.sh [--accept-noncommercial] SET [DIR]

Downloads the model set SET, checks each file against the SHA-256 prefix in
its name, converts it into umxl_{vocals,other,bass,drums}.onnx in DIR and
writes DIR/README.md with the source, the licence and the checksums.

  SET     one of: $(known_sets)
  DIR     where the models go; by default the folder where
          'ombrelt separate -m SET' finds them:
          \${XDG_DATA_HOME:-~/.local/share}/tavrin-ombrelt/models/SET

  --accept-noncommercial   accept a licence that allows non-commercial use
                           only (needed for umxl)
  -h, --help               show this help

A rerun resumes an interrupted download.
EOF
}

die() { echo "$me: $*" >&2; exit 1; }
usage_error() { echo "$me: $* (see 'scripts/get-models.sh --help')" >&2; exit 2; }

table=${OMBRELT_MODEL_SETS:-$here/tools/model_sets.tsv}
[ -r "$table" ] || die "cannot read the table of model sets $table"
known_sets() { awk -F'\t' '!/^#/ && NF { printf "%s%s", (n++ ? ", " : ""), $1 }' "$table"; }

accept_noncommercial=0
args=()
while [ $# -gt 0 ]; do
  case $1 in
    --accept-noncommercial) accept_noncommercial=1 ;;
    -h | --help) usage; exit 0 ;;
    --) shift; args+=("$@"); break ;;
    -?*) usage_error "unknown option '$1'" ;;
    *) args+=("$1") ;;
  esac
  shift
done
[ ${#args[@]} -ge 1 ] || usage_error "no model set named; choose from $(known_sets)"
[ ${#args[@]} -le 2 ] || usage_error "unexpected argument '${args[2]}'"
set_name=${args[0]}

row=$(awk -F'\t' -v set="$set_name" '!/^#/ && $1 == set { print; exit }' "$table")
[ -n "$row" ] || usage_error "unknown model set '$set_name'; choose from $(known_sets)"
IFS=$'\t' read -r _ base_url record licence terms f_vocals f_other f_bass f_drums <<<"$row"
files=("$f_vocals" "$f_other" "$f_bass" "$f_drums")
# The PyTorch hub names a file <name>-<first hex digits of its SHA-256>.<ext>.
prefixes=()
for f in "${files[@]}"; do
  [[ $f =~ -([0-9a-f]{8,64})\.[A-Za-z0-9]+$ ]] || die "$table: no SHA-256 prefix in the file name '$f' of set $set_name"
  prefixes+=("${BASH_REMATCH[1]}")
done
base_url=${OMBRELT_MODELS_BASE_URL:-$base_url}
base_url=${base_url%/}/

if [ "$terms" = noncommercial ]; then
  cat >&2 <<EOF
The weights of the model set '$set_name' are licensed $licence.
You may use them for non-commercial purposes only.
Licence and source: $record
EOF
  if [ $accept_noncommercial -eq 0 ]; then
    echo "$me: to accept these terms, run again with --accept-noncommercial" >&2
    exit 1
  fi
  echo "Terms accepted with --accept-noncommercial." >&2
else
  echo "Licence of the weights of '$set_name': $licence; see $record" >&2
fi

# The user's data directory, as the ombrelt command reads it: a relative
# XDG_DATA_HOME is ignored.
data_home=${XDG_DATA_HOME:-}
[[ $data_home == /* ]] || data_home=${HOME:?neither XDG_DATA_HOME nor HOME is set}/.local/share
default_dir=$data_home/tavrin-ombrelt/models/$set_name
dir=${args[1]:-$default_dir}

# The converter needs numpy and onnx; the first python3 on PATH may lack
# them, so Debian's is tried first.
converter=$here/tools/umx/convert_checkpoint.py
[ -f "$converter" ] || die "the converter $converter is missing"
python=
for candidate in /usr/bin/python3 "$(command -v python3 || true)"; do
  if [ -x "$candidate" ] && "$candidate" -c 'import numpy, onnx' 2>/dev/null; then
    python=$candidate
    break
  fi
done
[ -n "$python" ] || die "needs a Python 3 with numpy and onnx (Debian: apt-get install python3-numpy python3-onnx)"
command -v curl >/dev/null || die "needs curl (Debian: apt-get install curl)"
command -v sha256sum >/dev/null || die "needs sha256sum (coreutils)"

cache=$dir/.download
mkdir -p "$cache" || die "cannot create $cache"

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# fetch FILE PREFIX leaves $cache/FILE only when its SHA-256 starts with PREFIX.
fetch() {
  local file=$1 want=$2 url=$base_url$1 got part=$cache/$1.part
  if [ -f "$cache/$file" ] && [ "$(sha256_of "$cache/$file" | cut -c1-${#want})" = "$want" ]; then
    echo "$file: already downloaded" >&2
    return
  fi
  # A .part whose hash already matches was complete when a run stopped;
  # asking the server for its next byte would only earn a 416.
  if [ ! -f "$part" ] || [ "$(sha256_of "$part" | cut -c1-${#want})" != "$want" ]; then
    echo "downloading $url" >&2
    local progress=(-sS) status=0 code
    [ -t 2 ] && progress=(--progress-bar)
    code=$(curl -fL "${progress[@]}" --retry 3 --retry-delay 2 --connect-timeout 30 \
      -w '%{http_code}' -C - -o "$part" "$url") || status=$?
    if [ $status -ne 0 ] && [ "$code" = 416 ]; then
      # The .part is as long as the file or longer, yet its hash differs:
      # resuming can never mend it.
      echo "$file: the partial download does not match the file; downloading it anew" >&2
      rm -f "$part"
      status=0
      curl -fL "${progress[@]}" --retry 3 --retry-delay 2 --connect-timeout 30 \
        -o "$part" "$url" || status=$?
    fi
    [ $status -eq 0 ] || die "cannot download $url (curl exit status $status); run again to resume"
  fi
  got=$(sha256_of "$part" | cut -c1-${#want})
  if [ "$got" != "$want" ]; then
    rm -f "$part"
    die "$file: checksum mismatch: expected SHA-256 prefix $want, got $got; the file was deleted, run again to download it anew"
  fi
  mv -f "$part" "$cache/$file"
}

for i in 0 1 2 3; do fetch "${files[$i]}" "${prefixes[$i]}"; done

# Convert into temporaries first, then rename all four, so the set in DIR
# is either the old one or the new one.
for i in 0 1 2 3; do
  stem=${STEMS[$i]}
  tmp=$cache/umxl_$stem.onnx
  echo "converting ${files[$i]} into umxl_$stem.onnx" >&2
  rm -f "$tmp"
  if ! message=$("$python" "$converter" "$cache/${files[$i]}" "$tmp" 2>&1 >/dev/null); then
    rm -f "$tmp"
    die "cannot convert ${files[$i]}: ${message:-the converter failed}"
  fi
  [ -s "$tmp" ] || die "cannot convert ${files[$i]}: the converter wrote no model"
done

readme=$cache/README.md
{
  echo "# Model set $set_name"
  echo
  echo "Downloaded and converted by scripts/get-models.sh of tavrin-ombrelt."
  echo
  echo "- Licence of the weights: $licence"
  echo "- Record: $record"
  echo
  echo "| model | converted from | SHA-256 of the checkpoint |"
  echo "|---|---|---|"
  for i in 0 1 2 3; do
    echo "| umxl_${STEMS[$i]}.onnx | $base_url${files[$i]} | $(sha256_of "$cache/${files[$i]}") |"
  done
} > "$readme"

for stem in "${STEMS[@]}"; do mv -f "$cache/umxl_$stem.onnx" "$dir/umxl_$stem.onnx"; done
mv -f "$readme" "$dir/README.md"
rm -rf "$cache"

if [ "$dir" = "$default_dir" ]; then
  shown=$set_name
else
  shown=$(cd "$dir" && pwd)
fi
echo "$set_name: 4 models in $dir (licence: $licence)" >&2
printf 'ombrelt separate -m %q song.mp3\n' "$shown"
