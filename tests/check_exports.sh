#!/usr/bin/env bash
# The shared library must export exactly the seven ombrelt_ functions and its
# SONAME must carry the major version.
set -euo pipefail
lib=${1:?usage: check_exports.sh LIBRARY}
expected="ombrelt_cleanup
ombrelt_init
ombrelt_last_error
ombrelt_mute
ombrelt_probe
ombrelt_separate
ombrelt_version"
# Defined dynamic symbols, without the version-script node names.
actual=$(nm -D --defined-only "$lib" | awk '$2 != "A" {print $3}' | sort)
if [ "$actual" != "$expected" ]; then
  echo "exported symbols differ from the seven ombrelt_ functions:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "libtavrin-ombrelt.so.1" ]; then
  echo "unexpected SONAME: '$soname'"
  exit 1
fi
echo "exports and SONAME ok"
