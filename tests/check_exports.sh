#!/usr/bin/env bash
# A shared library must export exactly the functions its public header
# declares (those marked with the header's export macro), and its SONAME must
# carry the major version.
set -euo pipefail
lib=${1:?usage: check_exports.sh LIBRARY HEADER SONAME}
header=${2:?usage: check_exports.sh LIBRARY HEADER SONAME}
want_soname=${3:?usage: check_exports.sh LIBRARY HEADER SONAME}
# Each declaration starts a line with the macro and names the function before
# its first "(".
expected=$(grep -E '^OMBRELT_(SESSION_)?API ' "$header" | sed -E 's/^[^(]*[ *]([a-z_]+)\(.*/\1/' |
  sort)
# Defined dynamic symbols, without the version-script node names.
actual=$(nm -D --defined-only "$lib" | awk '$2 != "A" {print $3}' | sort)
if [ -z "$expected" ] || [ "$actual" != "$expected" ]; then
  echo "exported symbols of $lib differ from the functions of $header:"
  diff <(echo "$expected") <(echo "$actual") || true
  exit 1
fi
soname=$(readelf -d "$lib" | sed -n 's/.*(SONAME).*\[\(.*\)\]/\1/p')
if [ "$soname" != "$want_soname" ]; then
  echo "unexpected SONAME: '$soname'"
  exit 1
fi
echo "$(echo "$expected" | wc -l) exports and SONAME ok"
