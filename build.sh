#!/usr/bin/env bash
# Set-up and build entry point.
#   ./build.sh demo    install what is missing, build (Release), run the demo
#   ./build.sh test    install what is missing, then build and run every test twice: on the
#                      Release build as the demo ships it, and on Debug with ASan + UBSan
#   ./build.sh bench   install what is missing, build (Release) and run the benchmarks
#   ./build.sh gallery pictures of every operation family into docs/gallery
#   ./build.sh docs    the HTML reference into build/docs/html
#   ./build.sh deps    only install the Debian packages the project needs
set -euo pipefail
cd "$(dirname "$0")"

PACKAGES=(
  build-essential cmake pkg-config binutils
  libgtest-dev libgmock-dev libbenchmark-dev
  libopencv-core-dev libopencv-imgproc-dev
  libfreetype-dev libfontconfig-dev fontconfig fonts-liberation2 fonts-dejavu-core
  libpng-dev python3 python3-numpy python3-pytest doxygen
  python3-dask python3-distributed python3-tqdm
)
JOBS=${JOBS:-$(nproc 2>/dev/null || echo 2)}

deps() {
  local missing=()
  for p in "${PACKAGES[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  local sudo=""
  [ "$(id -u)" -ne 0 ] && sudo=sudo
  echo "installing: ${missing[*]}" >&2
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure() {  # configure DIR cmake-args...
  local dir=$1; shift
  cmake -S . -B "$dir" "$@" >/dev/null
}

# The Release build users run: the demo and the test command configure it
# the same way, so the tests exercise exactly what the demo ships.
release() {  # release [cmake --build args...]
  configure build/release -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF -DKX_BUILD_TESTS=ON -DKX_BUILD_BENCH=OFF
  cmake --build build/release -j "$JOBS" "$@"
}

case "${1:-}" in
  deps)
    deps ;;
  demo)
    deps
    release --target kxdemo kxexample
    mkdir -p out
    if [ -x build/release/tools/kxdemo ]; then
      build/release/tools/kxdemo "${@:2}"
    else
      build/release/tools/kxexample out/example.pgm
    fi ;;
  test)
    deps
    echo "== Release build (as shipped)" >&2
    release
    ctest --test-dir build/release -j "$JOBS" --output-on-failure
    echo "== Debug build with AddressSanitizer and UndefinedBehaviorSanitizer" >&2
    configure build/debug-asan -DCMAKE_BUILD_TYPE=Debug -DKX_SANITIZE=ON -DKX_BUILD_TESTS=ON
    cmake --build build/debug-asan -j "$JOBS"
    ctest --test-dir build/debug-asan -j "$JOBS" --output-on-failure ;;
  gallery)
    deps
    release --target kxgallery
    build/release/tools/kxgallery docs/gallery ;;
  docs)
    deps
    doxygen Doxyfile
    echo "reference: build/docs/html/index.html" ;;
  bench)
    deps
    configure build/release -DCMAKE_BUILD_TYPE=Release -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=ON
    cmake --build build/release -j "$JOBS"
    for b in build/release/bench/kxbench_*; do "$b" "${@:2}"; done ;;
  *)
    sed -n '2,9p' "$0"; exit 2 ;;
esac
