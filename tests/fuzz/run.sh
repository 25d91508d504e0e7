#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan + UBSan, folder build/fuzz) and
# runs each for a bounded time.
#
#   tests/fuzz/run.sh [SECONDS] [HARNESS...]
#   tests/fuzz/run.sh short [HARNESS...]
#
# `short` is CI's run (fuzz_short): a fixed number of executions per harness
# (KX_FUZZ_SHORT_RUNS below), walked from the seeds alone with seed 1 in a
# fresh corpus folder, so it tries the same inputs on every machine and at
# any load; the export harness then runs again under each KXPRE_CPU cap
# in KX_FUZZ_LEVELS (space separated, e.g. "plain avx2").
# SECONDS per harness (default 25); HARNESS names such as "exports" or
# "pipe" (default: all).  New inputs go to build/fuzz/corpus/<harness>, which
# starts from the seeds in tests/fuzz/corpus/<harness>; a finding is written
# to build/fuzz/artifacts/ and makes the script fail.  Long run (see
# docs/reliability.md):
#   KX_FUZZ_RUNS=10000000 tests/fuzz/run.sh 0 exports
# Environment: KX_FUZZ_BUILD (build folder), KX_FUZZ_SEED (default 1: the same
# walk each run), KX_FUZZ_RUNS (executions instead
# of a time bound), KX_FUZZ_JOBS (build parallelism, default 2), CC/CXX.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$PWD
seconds=${1:-25}
shift || true
short=0
if [ "$seconds" = short ]; then short=1; seconds=0; fi
# Executions of each harness in a short run: about 20 s each on one core.
declare -A KX_FUZZ_SHORT_RUNS=([exports]=300000 [pipe]=1000000 [png]=3000000 [pnm]=3000000 [tiff]=400000 [jpeg]=3000000)
build=${KX_FUZZ_BUILD:-build/fuzz}
export CC=${CC:-clang-14} CXX=${CXX:-clang++-14}

if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_FUZZ=ON -DKX_BUILD_TESTS=OFF >/dev/null
fi
nice cmake --build "$build" -j "${KX_FUZZ_JOBS:-2}" --target kxfuzz_all >/dev/null

# libstdc++ is loaded before the shared sanitizer runtime; that order is safe
# here.  fontconfig keeps its configuration until exit (tools/lsan.supp).
export ASAN_OPTIONS="verify_asan_link_order=0${ASAN_OPTIONS:+:$ASAN_OPTIONS}"
export LSAN_OPTIONS="suppressions=$root/tools/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for bin in "$build"/tests/fuzz/kxfuzz_*; do names+=("${bin##*/kxfuzz_}"); done
fi
mkdir -p "$build/artifacts"
status=0
runs=()
for name in "${names[@]}"; do
  runs+=("$name:")
  if [ $short = 1 ] && [ "$name" = exports ]; then
    for level in ${KX_FUZZ_LEVELS:-}; do runs+=("$name:$level"); done
  fi
done
for run in "${runs[@]}"; do
  name=${run%%:*}
  level=${run#*:}
  bin=$build/tests/fuzz/kxfuzz_$name
  work=$build/corpus/$name
  seeds=tests/fuzz/corpus/$name
  if [ $short = 1 ]; then work=$build/corpus-short/$name${level:+-$level}; rm -rf "$work"; fi
  mkdir -p "$work" "$seeds"
  if [ $short = 1 ]; then bound=(-runs="${KX_FUZZ_SHORT_RUNS[$name]:-100000}")
  elif [ -n "${KX_FUZZ_RUNS:-}" ]; then bound=(-runs="$KX_FUZZ_RUNS"); else bound=(-max_total_time="$seconds"); fi
  bound+=(-seed="${KX_FUZZ_SEED:-1}")  # the same walk every run, unless asked otherwise
  echo "== $name${level:+ (KXPRE_CPU=$level)}: ${bound[*]}" >&2
  log=$build/fuzz-$name${level:+-$level}.log
  # -close_fd_mask=2: the library's assertion reports (stderr) are expected
  # for hostile arguments; libFuzzer and the sanitizers still report.
  if ! env ${level:+KXPRE_CPU=$level} nice -n 19 "$bin" "${bound[@]}" -close_fd_mask=2 -rss_limit_mb=2048 -timeout=25 -print_final_stats=1 \
       -artifact_prefix="$build/artifacts/$name-" "$work" "$seeds" 2>"$log"; then
    status=1
    echo "== $name: FAILED (log $log, input in $build/artifacts/)" >&2
    grep -E "ERROR|runtime error|^kxfuzz_[a-z]*: |SUMMARY" "$log" | head -5 >&2 || true
  else
    grep -E "stat::number_of_executed_units" "$log" >&2 || true
  fi
done
exit $status
