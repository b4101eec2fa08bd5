#!/usr/bin/env bash
# check_install.sh BUILD_DIR CONSUMER_SOURCE SCRATCH
set -euo pipefail
build=$1 consumer=$2 scratch=$3
rm -rf "$scratch"
mkdir -p "$scratch"
# Staged under DESTDIR: the GDAL driver's destination is GDAL's own plugin
# folder, outside the prefix, and a test must not write into the system.
root=$scratch/root
DESTDIR=$root cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
prefix=$root$scratch/prefix

# find_package(Veltrane): both editions as imported targets.
cmake -S "$consumer" -B "$scratch/consumer" -DCMAKE_PREFIX_PATH="$prefix" \
  -DCMAKE_CXX_FLAGS="${CXXFLAGS_FOR_CONSUMER:-}" >/dev/null
cmake --build "$scratch/consumer" >/dev/null
export LD_LIBRARY_PATH=$prefix/lib:${LD_LIBRARY_PATH:-}
"$scratch/consumer/host_current"
"$scratch/consumer/host_terrain"

# pkg-config: one file per edition.
export PKG_CONFIG_PATH=$prefix/lib/pkgconfig
flags_current=$(pkg-config --cflags --libs veltrane)
flags_terrain=$(pkg-config --cflags --libs orvanel)
c++ -std=c++17 ${CXXFLAGS_FOR_CONSUMER:-} "$consumer/host_current.cpp" $flags_current -o "$scratch/pc_current"
c++ -std=c++17 ${CXXFLAGS_FOR_CONSUMER:-} "$consumer/host_terrain.cpp" $flags_terrain -o "$scratch/pc_terrain"
"$scratch/pc_current"
"$scratch/pc_terrain"
# The GDAL driver (when GDAL's development files were there to build it) in a
# gdalplugins folder, loadable by GDAL from there; the converter beside it.
plugin=$(find "$root" -name gdal_Veltrane.so)
if [ -n "$plugin" ]; then
  case "$plugin" in */gdalplugins/gdal_Veltrane.so) ;; *) echo "driver installed outside gdalplugins: $plugin" >&2; exit 1 ;; esac
  # (GDAL_PRELOAD: the sanitizer runtime a sanitized driver needs in gdalinfo.)
  GDAL_DRIVER_PATH=$(dirname "$plugin") LD_PRELOAD=${GDAL_PRELOAD:-} ASAN_OPTIONS=detect_leaks=0 \
    gdalinfo --format Veltrane | grep -q "Veltrane tile pyramid"
  "$prefix/bin/veltrane-convert" --help >/dev/null
fi
echo "install: find_package and pkg-config consumers built and ran"
