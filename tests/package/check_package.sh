#!/usr/bin/env bash
# Installs the build into a scratch prefix, then builds and runs a consumer
# program twice: through find_package(kxpre) and through pkg-config.
# usage: check_package.sh BUILD_DIR SOURCE_DIR C_COMPILER EXTRA_FLAGS
set -euo pipefail
build=$1 src=$2 cc=$3 flags=${4:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cmake --install "$build" --prefix "$work/prefix" >/dev/null
libdir=$(ls -d "$work"/prefix/lib* | head -n1)
export LD_LIBRARY_PATH="$libdir${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}"

cmake -S "$src" -B "$work/cm" -DCMAKE_PREFIX_PATH="$work/prefix" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" >/dev/null
cmake --build "$work/cm" >/dev/null
"$work/cm/consumer"

export PKG_CONFIG_PATH="$libdir/pkgconfig"
# shellcheck disable=SC2046,SC2086
"$cc" $flags "$src/consumer.c" -o "$work/pc-consumer" $(pkg-config --cflags --libs kxpre)
"$work/pc-consumer"
