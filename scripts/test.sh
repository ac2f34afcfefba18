#!/usr/bin/env bash
# Set-up, build and the whole test suite.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$here/scripts/build.sh" build
ctest --test-dir "$here/build" --output-on-failure -j"$(nproc)"
