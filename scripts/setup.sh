#!/usr/bin/env bash
# Installs everything tavrin-ombrelt needs to build and test on Debian 12.
#
# - Debian 12 packages through apt-get (only when one is missing).
# - yyjson 0.10.0 and the ONNX Runtime 1.21 headers from Debian 13 (trixie)
#   packages, fetched with a throw-away apt source list built from this
#   machine's own apt configuration (the system's sources are never edited).
# - The ONNX Runtime 1.30 shared library from the npm package
#   onnxruntime-node 1.30.0 (the Debian runtime serves too old an API).
#
# Everything fetched lands in .deps/ inside the checkout (git-ignored).
# A second run finds everything in place and returns in about a second.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
prefix="$here/.deps"

YYJSON_VERSION=0.10.0+ds-1+b1
ORT_HEADERS_VERSION=1.21.0+dfsg-1
ORT_NPM_VERSION=1.30.0

debian_packages=(
  cmake g++ pkg-config make
  libavformat-dev libavcodec-dev libswresample-dev libavutil-dev
  libgtest-dev ffmpeg
  python3-onnx python3-numpy python3-pytest
  python3-venv python3-pip python3-setuptools python3-tqdm python3-dask python3-distributed
  libkissfft-dev
  libfftw3-dev libbenchmark-dev
  clang-14 libclang-rt-14-dev
  curl
  npm
)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${debian_packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    # npm may come from another source than Debian; any npm on PATH will do.
    if [ "$p" = npm ] && command -v npm >/dev/null 2>&1; then continue; fi
    missing+=("$p")
  fi
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup: installing Debian packages: ${missing[*]}"
  as_root apt-get update -qq
  as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

stamp="$prefix/.stamp-yyjson-$YYJSON_VERSION-ortheaders-$ORT_HEADERS_VERSION"
if [ ! -f "$stamp" ]; then
  echo "setup: fetching yyjson $YYJSON_VERSION and ONNX Runtime headers $ORT_HEADERS_VERSION (Debian 13)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  mkdir -p "$work/lists/partial" "$work/cache/archives/partial"
  uri=$(awk '/^URIs:/ {print $2; exit}' /etc/apt/sources.list.d/debian.sources 2>/dev/null || true)
  if [ -z "$uri" ] && [ -f /etc/apt/sources.list ]; then
    uri=$(awk '$1 == "deb" {for (i = 2; i <= NF; i++) if ($i ~ /^[a-z]+:\/\//) {print $i; exit}}' /etc/apt/sources.list)
  fi
  [ -n "$uri" ] || { echo "setup: cannot find a Debian mirror in the apt configuration" >&2; exit 1; }
  echo "deb [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri trixie main" > "$work/sources.list"
  opts=(-o APT::Sandbox::User=root -o "Dir::Etc::sourcelist=$work/sources.list" -o Dir::Etc::sourceparts=/dev/null
        -o "Dir::State::Lists=$work/lists" -o "Dir::Cache=$work/cache")
  apt-get "${opts[@]}" update -qq
  (cd "$work" && apt-get "${opts[@]}" download -qq \
      "libyyjson0=$YYJSON_VERSION" "libyyjson-dev=$YYJSON_VERSION" \
      "libonnxruntime-dev=$ORT_HEADERS_VERSION")
  rm -rf "$prefix/usr"
  mkdir -p "$prefix"
  for deb in "$work"/*.deb; do dpkg-deb -x "$deb" "$prefix"; done
  rm -rf "$work"
  trap - EXIT
  touch "$stamp"
fi

ort_lib="$prefix/lib/libonnxruntime.so.1"
ort_stamp="$prefix/.stamp-onnxruntime-node-$ORT_NPM_VERSION"
if [ ! -f "$ort_stamp" ] || [ ! -f "$ort_lib" ]; then
  echo "setup: fetching ONNX Runtime $ORT_NPM_VERSION (npm package onnxruntime-node)"
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  (cd "$work" && npm pack --silent "onnxruntime-node@$ORT_NPM_VERSION" >/dev/null)
  tar -xzf "$work/onnxruntime-node-$ORT_NPM_VERSION.tgz" -C "$work" \
      package/bin/napi-v6/linux/x64/libonnxruntime.so.1
  mkdir -p "$prefix/lib"
  install -m 0644 "$work/package/bin/napi-v6/linux/x64/libonnxruntime.so.1" "$ort_lib"
  rm -rf "$work"
  trap - EXIT
  touch "$ort_stamp"
fi
