#!/usr/bin/env bash
# Set-up, build, and the whole test suite.
#
#   scripts/test.sh              in build/
#   scripts/test.sh --sanitize   in build-sanitize/, built with AddressSanitizer
#                                and UBSan, leak checking on (suppressions:
#                                tests/lsan.supp, ONNX Runtime only)
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
case ${1:-} in
  "")
    dir=build
    "$here/scripts/build.sh" "$dir" ;;
  --sanitize)
    dir=build-sanitize
    "$here/scripts/build.sh" "$dir" -DOMBRELT_SANITIZE=ON
    # The tests set the suppressions themselves too; these reach any child
    # process a test starts.
    export ASAN_OPTIONS=detect_leaks=1
    export LSAN_OPTIONS=suppressions=$here/tests/lsan.supp:print_suppressions=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ;;
  *)
    echo "usage: scripts/test.sh [--sanitize]" >&2
    exit 2 ;;
esac
ctest --test-dir "$here/$dir" --output-on-failure -j"$(nproc)"
