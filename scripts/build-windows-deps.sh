#!/usr/bin/env bash
# Builds, for one Windows architecture, the libraries that Debian ships no
# MinGW-w64 build of, from Debian's own source packages, as static archives:
#   scripts/build-windows-deps.sh ARCH DEPS [image]
# ARCH is x86_64 or i686. Sources are unpacked once into DEPS/src, each
# library is installed into DEPS/ARCH and marked done there, so a second run
# builds nothing. Always OpenJPEG (linked into Wavedec.dll; its encoder also
# makes the tests' code streams) and stb's headers (the tests' photo loader);
# with `image` also libjpeg-turbo and libpng, which the tests' JPEG oracle,
# the payload builders and the veltrane tool use, and CLI11's headers (the
# tool's command line).
set -euo pipefail
arch=$1
deps=$(realpath -m "$2")
image=${3:-}
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=$deps/$arch
toolchain=$root/cmake/mingw-w64-$arch.cmake
[ -f "$toolchain" ] || { echo "build-windows-deps: no toolchain for $arch" >&2; exit 2; }
mkdir -p "$deps/src" "$prefix"

# `apt-get source` needs a deb-src entry: one is added beside the machine's
# Debian sources when there is none.
add_source_list() {
  grep -rqsE '^(deb-src|Types:.*deb-src)' /etc/apt/sources.list /etc/apt/sources.list.d/ && return 0
  local as_root=()
  [ "$(id -u)" -eq 0 ] || as_root=(sudo)
  echo "build-windows-deps: adding Debian's source package list (/etc/apt/sources.list.d/debian-src.sources)" >&2
  "${as_root[@]}" tee /etc/apt/sources.list.d/debian-src.sources >/dev/null <<'SOURCES'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SOURCES
  "${as_root[@]}" apt-get update -qq >&2
}

# The unpacked (and patched) Debian source of a package, fetched once.
source_of() {
  local package=$1 dir
  dir=$(find "$deps/src" -maxdepth 1 -type d -name "$2-*" | head -n1)
  if [ -z "$dir" ]; then
    add_source_list
    (cd "$deps/src" && apt-get source -qq "$package" >/dev/null 2>&1) ||
      { echo "build-windows-deps: apt-get source $package failed (is there a deb-src entry?)" >&2; exit 1; }
    dir=$(find "$deps/src" -maxdepth 1 -type d -name "$2-*" | head -n1)
  fi
  echo "$dir"
}

# Configures, builds and installs one CMake project into the prefix, once.
build() {
  local name=$1 src=$2; shift 2
  [ -f "$prefix/.$name.done" ] && return 0
  echo "build-windows-deps: $name for $arch"
  rm -rf "$deps/build/$arch/$name"
  cmake -S "$src" -B "$deps/build/$arch/$name" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DCMAKE_POSITION_INDEPENDENT_CODE=ON "$@" >/dev/null
  cmake --build "$deps/build/$arch/$name" -j"$(nproc)" >/dev/null
  cmake --install "$deps/build/$arch/$name" >/dev/null
  rm -rf "$deps/build/$arch/$name"
  touch "$prefix/.$name.done"
}

build openjpeg "$(source_of openjpeg2 openjpeg2)" \
  -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON -DBUILD_CODEC=OFF -DBUILD_TESTING=OFF -DBUILD_DOC=OFF
# A static OpenJPEG on Windows is used with OPJ_STATIC defined (otherwise its
# header declares every function imported from a DLL).
grep -q OPJ_STATIC "$prefix/lib/pkgconfig/libopenjp2.pc" ||
  sed -i 's/^Cflags: .*/& -DOPJ_STATIC/' "$prefix/lib/pkgconfig/libopenjp2.pc"

# stb: Debian's headers, and the image loader compiled into libstb.a as
# Debian's libstb compiles it.
if [ ! -f "$prefix/.stb.done" ]; then
  mkdir -p "$prefix/include" "$prefix/lib/pkgconfig" "$deps/build/$arch"
  cp -r /usr/include/stb "$prefix/include/"
  printf '#define STB_IMAGE_IMPLEMENTATION\n#include <stb_image.h>\n' > "$deps/build/$arch/stb_image.c"
  "$arch-w64-mingw32-gcc-posix" -O2 -I"$prefix/include/stb" -c "$deps/build/$arch/stb_image.c" \
    -o "$deps/build/$arch/stb_image.o"
  "$arch-w64-mingw32-ar" rcs "$prefix/lib/libstb.a" "$deps/build/$arch/stb_image.o"
  sed "s|^prefix=.*|prefix=$prefix|; s|^libdir=.*|libdir=\${prefix}/lib|" \
    "$(pkg-config --variable=pcfiledir stb)/stb.pc" > "$prefix/lib/pkgconfig/stb.pc"
  touch "$prefix/.stb.done"
fi

if [ "$image" = image ]; then
  # CLI11 is headers alone: Debian's, with its CMake package file (which finds
  # them relative to itself), copied into the prefix.
  if [ ! -f "$prefix/.cli11.done" ]; then
    mkdir -p "$prefix/include" "$prefix/share/cmake"
    cp -r /usr/include/CLI "$prefix/include/"
    cp -r /usr/share/cmake/CLI11 "$prefix/share/cmake/"
    touch "$prefix/.cli11.done"
  fi
  build libjpeg-turbo "$(source_of libjpeg-turbo libjpeg-turbo)" \
    -DENABLE_SHARED=OFF -DENABLE_STATIC=ON -DWITH_SIMD=OFF -DWITH_TURBOJPEG=ON -DWITH_JAVA=OFF
  build libpng "$(source_of libpng1.6 libpng1.6)" \
    -DPNG_SHARED=OFF -DPNG_STATIC=ON -DPNG_TESTS=OFF -DPNG_EXECUTABLES=OFF -DSKIP_INSTALL_PROGRAMS=ON
fi
