#!/usr/bin/env bash
# Compares the dynamic symbols libkxpre defines with the list of exports.
# usage: check_exports.sh LIBRARY LIST HEADER REQUIRE_ALL(0/1)
set -euo pipefail
lib=$1 list=$2 header=$3 all=${4:-0}
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWiV]$/ {print $3}' | sed 's/@.*//' | sort -u)
want=$(sort -u "$list")
extra=$(comm -23 <(echo "$got") <(echo "$want"))
missing=$(comm -13 <(echo "$got") <(echo "$want"))
status=0
if [ -n "$extra" ]; then
  echo "exported but not in the list:"; echo "$extra" | sed 's/^/  /'; status=1
fi
for name in $got; do
  grep -q -E "\\b$name\\(" "$header" || { echo "exported but not declared in $(basename "$header"): $name"; status=1; }
done
n_missing=$(echo -n "$missing" | grep -c . || true)
if [ "$n_missing" -gt 0 ]; then
  echo "$n_missing listed names not exported yet"
  if [ "$all" = "1" ] || [ "$all" = "ON" ] || [ "$all" = "TRUE" ]; then
    echo "$missing" | sed 's/^/  /'; status=1
  fi
fi
echo "$(echo "$got" | grep -c .) names exported"
exit $status
