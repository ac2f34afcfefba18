#!/usr/bin/env bash
# Configures and builds into $1 (default: build), passing further arguments to
# CMake's configure step. Runs the set-up first.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/setup.sh"
dir=${1:-build}
shift || true
cmake -S "$here" -B "$here/$dir" "$@" >/dev/null
cmake --build "$here/$dir" -j"$(nproc)"
