#!/usr/bin/env bash
# Set-up and build entry point.
#   ./build.sh demo    install what is missing, build (Release), run the demo
#   ./build.sh test    install what is missing, then build and run every test twice: on the
#                      Release build as the demo ships it, and on Debug with ASan + UBSan
#   ./build.sh bench   install what is missing, build (Release), run every benchmark family
#                      and write docs/performance.md + docs/performance.png (args: benchmark flags)
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
  libpng-dev libtiff-dev libjpeg62-turbo-dev python3 python3-numpy python3-pytest doxygen
  python3-dask python3-distributed python3-tqdm
  dpkg-dev file python3-pip python3-setuptools python3-build python3-wheel python3-venv
  libleptonica-dev python3-matplotlib
  python3-scipy python3-opencv python3-skimage tesseract-ocr tesseract-ocr-eng
  clang-14 libclang-rt-14-dev
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
    # The Release flags of the demo, in a folder of its own with the benchmarks.
    configure build/bench -DCMAKE_BUILD_TYPE=Release -DKX_SANITIZE=OFF -DKX_BUILD_TESTS=OFF -DKX_BUILD_BENCH=ON
    cmake --build build/bench -j "$JOBS"
    # Debian's python3 (matplotlib), not whatever python3 comes first.
    py=/usr/bin/python3; [ -x "$py" ] || py=python3
    "$py" bench/report.py --bench-dir build/bench/bench --out docs/performance.md -- "${@:2}" ;;
  *)
    sed -n '2,10p' "$0"; exit 2 ;;
esac
