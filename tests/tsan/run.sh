#!/usr/bin/env bash
# Builds the library and tests/tsan with ThreadSanitizer (folder build/tsan,
# or KX_TSAN_BUILD) and runs the 8-thread test; any reported race fails it.
#   tests/tsan/run.sh
set -euo pipefail
cd "$(dirname "$0")/../.."
build=${KX_TSAN_BUILD:-build/tsan}
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKX_TSAN=ON -DKX_BUILD_TESTS=ON \
        -DKX_BUILD_TOOLS=OFF >/dev/null
fi
nice cmake --build "$build" -j "${KX_TSAN_JOBS:-2}" --target kxtest_tsan >/dev/null
# halt_on_error: the first race fails the run.  OpenCV (not instrumented)
# hands its work to a thread pool whose hand-off ThreadSanitizer cannot see;
# with one OpenCV thread that work runs on the calling thread, where every
# access is checked.
OPENCV_FOR_THREADS_NUM=1 TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}" \
  "$build/tests/kxtest_tsan"
