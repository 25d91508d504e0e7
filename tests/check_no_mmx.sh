#!/usr/bin/env bash
# Fails when any library or program built in the tree uses an MMX register.
# Code that touches %mm0-7 must end with `emms`, or the x87 stack stays
# marked in use and every later long double result in the process is NaN;
# the build passes -mno-mmx so that none is ever generated.
#   check_no_mmx.sh BUILD_DIR
set -euo pipefail
build=$1
found=0 checked=0
while IFS= read -r -d '' f; do
  head -c 4 "$f" | grep -q $'\x7fELF' || continue
  checked=$((checked + 1))
  n=$(objdump -d --no-show-raw-insn "$f" | grep -c -E '%mm[0-7]\b' || true)
  if [ "$n" -gt 0 ]; then
    echo "MMX registers in $f ($n instructions):"
    objdump -d --no-show-raw-insn "$f" | grep -E '%mm[0-7]\b' | head -5
    found=1
  fi
done < <(find "$build" -path '*/CMakeFiles' -prune -o -type f \( -name '*.so*' -o -perm -u+x \) -print0)
echo "$checked binaries disassembled"
[ "$checked" -gt 0 ] && [ "$found" -eq 0 ]
