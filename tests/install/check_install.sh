#!/usr/bin/env bash
# check_install.sh BUILD_DIR CONSUMER_SOURCE SCRATCH FIRST_PROGRAM
# Installs the project into a scratch prefix and uses it as a user would, with
# no LD_LIBRARY_PATH: hosts built through find_package(Veltrane) and through
# pkg-config run from there, the README's first program among them, and the
# installed tool reads a sample it wrote.
set -euo pipefail
build=$1 consumer=$2 scratch=$3 first=$4
rm -rf "$scratch"
mkdir -p "$scratch"
unset LD_LIBRARY_PATH
# Staged under DESTDIR: the GDAL driver's destination is GDAL's own plugin
# folder, outside the prefix, and a test must not write into the system.
# (It also proves that the installed files find each other wherever they lie.)
root=$scratch/root
DESTDIR=$root cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
prefix=$root$scratch/prefix

# The installed tool, its terrain helper found beside it in bin/.
vt=$prefix/bin/veltrane
"$vt" sample "$scratch/samples" >/dev/null
"$vt" info "$scratch/samples/image.vtp" | grep -q "levels          3"
"$vt" verify "$scratch/samples/terrain.vtp" 2>/dev/null | grep -q " 0 bad"
# (The terrain helper's elevation lookup loads the current edition's library.)
"$vt" elevation "$scratch/samples/terrain.vtp" 1 0 0 13.05 47.25 2>/dev/null | grep -q "(tile"

# find_package(Veltrane): both editions as imported targets.
cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="${CXXFLAGS_FOR_CONSUMER:-}" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
"$scratch/consumer/host_current"
"$scratch/consumer/host_terrain"

# pkg-config: one file per edition; the README's command line as it stands.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
cxx() { c++ -std=c++17 ${CXXFLAGS_FOR_CONSUMER:-} "$@"; }
cxx "$consumer/host_current.cpp" $(pkg-config --cflags --libs veltrane) -o "$scratch/pc_current"
cxx "$consumer/host_terrain.cpp" $(pkg-config --cflags --libs orvanel) -o "$scratch/pc_terrain"
cxx "$first" $(pkg-config --cflags --libs veltrane) -o "$scratch/first"
"$scratch/pc_current"
"$scratch/pc_terrain"
"$scratch/first" "$scratch/samples/image.vtp" 2 0 2 | grep -qx "256 x 256 pixels, 4 channels"
# Python's ctypes loads the library (and through it libWavedec) by its path.
# (GDAL_PRELOAD: the sanitizer runtime that sanitized libraries need in an
# uninstrumented program.)
LD_PRELOAD=${GDAL_PRELOAD:-} ASAN_OPTIONS=detect_leaks=0 \
  python3 -c "import ctypes, sys; ctypes.CDLL(sys.argv[1])" "$prefix/lib/libVeltrane.so"
# A static link's needs are listed for pkg-config --static.
pkg-config --static --libs veltrane | grep -q -- "-lWavedec.*-lz"
# The GDAL driver (when GDAL's development files were there to build it) in a
# gdalplugins folder, loadable by GDAL from there; the converter beside it.
plugin=$(find "$root" -name gdal_Veltrane.so)
if [ -n "$plugin" ]; then
  case "$plugin" in */gdalplugins/gdal_Veltrane.so) ;; *) echo "driver installed outside gdalplugins: $plugin" >&2; exit 1 ;; esac
  # (GDAL_PRELOAD: the sanitizer runtime a sanitized driver needs in gdalinfo.
  # The driver lies outside the prefix and its RUNPATH names the configured
  # prefix, not this staged copy of it: LD_LIBRARY_PATH stands in for that.)
  GDAL_DRIVER_PATH=$(dirname "$plugin") LD_PRELOAD=${GDAL_PRELOAD:-} ASAN_OPTIONS=detect_leaks=0 \
    LD_LIBRARY_PATH=$prefix/lib gdalinfo --format Veltrane | grep -q "Veltrane tile pyramid"
  "$prefix/bin/veltrane-convert" --help >/dev/null
fi
echo "install: the tool, find_package and pkg-config consumers ran from the prefix"
