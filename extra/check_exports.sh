#!/usr/bin/env bash
# libkxextra defines only kxx* names, and its header declares each of them.
# usage: check_exports.sh LIBRARY HEADER
set -euo pipefail
lib=$1 header=$2
got=$(nm -D --defined-only "$lib" | awk '$2 ~ /^[TWiVDBR]$/ {print $3}' | sed 's/@.*//' | sort -u)
status=0
for name in $got; do
  case $name in
  kxx*) grep -q -E "\\b$name\\(" "$header" "$(dirname "$header")"/kxextra_*.h || { echo "exported but not declared: $name"; status=1; } ;;
  *) echo "exported outside the kxx prefix: $name"; status=1 ;;
  esac
done
echo "$(echo "$got" | grep -c .) names exported"
exit $status
