#!/usr/bin/env bash
# Installs the build at a scratch prefix that is not a system folder, then,
# with a clean environment (no LD_LIBRARY_PATH, nothing but PATH), builds and
# runs a consumer program through find_package(kxpre) and through pkg-config,
# and runs the installed kxpipe.
#   check_package.sh install BUILD_DIR SOURCE_DIR C_COMPILER VERSION [FLAGS]
#   check_package.sh deb     ...   the same on the Debian package cpack makes,
#                                  unpacked with dpkg-deb -x
set -euo pipefail
mode=$1 build=$2 src=$3 cc=$4 version=$5 flags=${6:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
clean=(env -i PATH=/usr/bin:/bin)
if [ -n "$flags" ]; then  # a sanitizer build: its leak report is not the question here
  clean+=(ASAN_OPTIONS=detect_leaks=0)
fi
fail() { echo "check_package: $*" >&2; exit 1; }

case "$mode" in
  install)
    cmake --install "$build" --prefix "$work/prefix" >/dev/null
    prefix=$work/prefix ;;
  deb)
    cpack --config "$build/CPackConfig.cmake" -G DEB -B "$work/deb" >/dev/null
    deb=$(ls "$work"/deb/*.deb)
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "package $(basename "$deb"), Depends: $depends"
    for need in libopencv-core libopencv-imgproc libfreetype libpng16 libtiff libjpeg62-turbo libc6; do
      [[ $depends == *"$need"* ]] || fail "the package does not depend on $need"
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    dpkg-deb -x "$deb" "$work/root"
    prefix=$work/root/usr ;;
  *) fail "unknown mode $mode" ;;
esac
pcdir=$(dirname "$(find "$prefix" -name kxpre.pc)")
libdir=$(dirname "$pcdir")

# find_package: OpenCV's headers must not be needed (they are hidden here).
"${clean[@]}" cmake -S "$src" -B "$work/cm" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_C_FLAGS="$flags" -DCMAKE_EXE_LINKER_FLAGS="$flags" -DCMAKE_IGNORE_PATH=/usr/include/opencv4 \
  -DKX_EXPECTED_VERSION="$version" >/dev/null
"${clean[@]}" cmake --build "$work/cm" >/dev/null
"${clean[@]}" "$work/cm/consumer" "$work"

# pkg-config: the link the README shows, as it is; the run needs the library
# folder as the program's runtime path, as for any library outside the
# system folders.
pc=("${clean[@]}" PKG_CONFIG_PATH="$pcdir" pkg-config)
[ "$("${pc[@]}" --modversion kxpre)" = "$version" ] || fail "pkg-config version is not $version"
# shellcheck disable=SC2046,SC2086
"${clean[@]}" "$cc" $flags "$src/consumer.c" -DKX_EXPECTED_VERSION="\"$version\"" -o "$work/pc-consumer" \
  $("${pc[@]}" --cflags --libs kxpre)
# shellcheck disable=SC2046,SC2086
"${clean[@]}" "$cc" $flags "$src/consumer.c" -DKX_EXPECTED_VERSION="\"$version\"" -o "$work/pc-consumer" \
  $("${pc[@]}" --cflags --libs kxpre) -Wl,-rpath,"$("${pc[@]}" --variable=libdir kxpre)"
"${clean[@]}" "$work/pc-consumer" "$work"

# The installed programs and libraries take their libraries from the
# installed tree, not from anywhere else on the machine.
for f in "$prefix/bin/kxpipe" "$work/cm/consumer" "$work/pc-consumer"; do
  resolved=$("${clean[@]}" ldd "$f" | awk '$1 ~ /^libkx(pre|text|io)\.so\.0$/ { print $3 }')
  [ "$(echo "$resolved" | wc -w)" -eq 3 ] || fail "$f: libkxpre, libkxtext or libkxio not found"
  for r in $resolved; do
    [[ $(realpath "$r") == "$(realpath "$libdir")"/* ]] || fail "$f loads $r, not the installed one"
  done
done

# The installed kxpipe on a small grey picture, through a TIFF file.
printf 'P5\n4 2\n255\n\000\100\200\377\377\200\100\000' >"$work/in.pgm"
"${clean[@]}" "$prefix/bin/kxpipe" "$work/in.pgm" "$work/mid.tif" invert
"${clean[@]}" "$prefix/bin/kxpipe" "$work/mid.tif" "$work/out.pgm" clip 1 0 3 1
[ "$(tail -c 6 "$work/out.pgm" | od -An -tx1 | tr -d ' \n')" = "bf7f007fbfff" ] ||
  fail "kxpipe's result is not the inverted and clipped picture"
echo "installed package ($mode) works from $prefix"
