#!/usr/bin/env bash
# The floors at link time: no library below the dialogues calls a function
# that only frontend/ defines, so that nothing runs in a circle through the
# front ends (the includes are checked by floors.sh). Run with the build
# directory, after the libraries are built.
set -u
cd "${1:?build directory}" || exit 2
defined() { nm -C --defined-only "$1" | awk '$2 ~ /^[TDBRVW]$/ { $1 = ""; $2 = ""; print substr($0, 3) }' | sort -u; }
undefined() { nm -C -u "$1" | awk '{ $1 = ""; print substr($0, 2) }' | sort -u; }
frontEnds=$(mktemp)
trap 'rm -f "$frontEnds"' EXIT
defined libfrontend.a > "$frontEnds"
status=0
for library in support engine tablebase games books; do
  calls=$(comm -12 <(undefined "lib$library.a") "$frontEnds")
  if [ -n "$calls" ]; then
    echo "lib$library.a calls into frontend/:"
    echo "$calls"
    status=1
  fi
done
exit $status
