#!/usr/bin/env bash
# Builds the library and its tools, writes the sample pyramids and shows the
# library at work on them: header and georeferencing, a check of every tile,
# a georeferenced PNG mosaic, a DDS texture, an elevation lookup and a short
# throughput figure. Outputs go to out/demo/ (or the folder given as $1).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
out=${1:-out/demo}

bash scripts/install-deps.sh
build=${VELTRANE_DEMO_BUILD_DIR:-build}
echo "== building the libraries and the veltrane tool in $build/"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)" --target Veltrane Orvanel veltrane veltrane-terrain >/dev/null
vt=$(cd "$build" && pwd)/tools/veltrane/veltrane

rm -rf "$out"
mkdir -p "$out"
out=$(cd "$out" && pwd)
cd "$out"

# section TITLE ARGS...: shows and runs `veltrane ARGS...`.
section() { printf '\n== %s\n$ veltrane %s\n' "$1" "${*:2}"; "$vt" "${@:2}"; }

section "write the sample pyramids" sample samples
for f in image dem terrain; do
  section "header and georeferencing of $f.vtp" info samples/$f.vtp
done
for f in image image2 dem terrain dds; do
  section "verify every tile of $f.vtp" verify samples/$f.vtp
done
section "PNG mosaic of level 2 with world file, .prj and .png.aux.xml" mosaic samples/image.vtp 2 -o image-level2.png
echo "world file image-level2.pgw:"
sed 's/^/  /' image-level2.pgw
section "GeoTIFF mosaic of level 2" mosaic samples/image.vtp 2 -o image-level2.tif
section "orthophoto mosaic of the DEM/DOM packets" mosaic samples/dem.vtp 1 --kind dom -o dem-orthophoto.png
section "DXT5 texture (with mips) of a tile with a no-data mask" extract samples/image.vtp 2 0 2 -o tile-2-0-2.dds
section "DXT1 texture of a terrain tile (terrain edition)" extract samples/terrain.vtp 1 1 0 -o terrain-1-1-0.dds
section "tile 2/0/2 as PNG (transparent where the mask says no data)" extract samples/image.vtp 2 0 2 -o tile-2-0-2.png
section "elevation at 13.07 E, 47.26 N" elevation samples/dem.vtp 1 0 0 13.07 47.26
section "decode throughput (DXT mip chains, 0.5 s per thread count)" bench samples/image.vtp --seconds 0.5

cat <<EOF

== outputs in $out
  samples/*.vtp            the sample pyramids (image, image2, dem, terrain, dds)
  image-level2.png         mosaic of level 2, with image-level2.pgw (world file), image-level2.prj and
                           image-level2.png.aux.xml (the coordinate system, where GDAL and QGIS look for it)
  image-level2.tif         the same mosaic as a GeoTIFF
  dem-orthophoto.png       orthophoto mosaic of the DEM/DOM packets, with .pgw, .prj and .png.aux.xml
  tile-2-0-2.dds           DXT5 texture with 9 mip levels (open it in any DDS viewer)
  terrain-1-1-0.dds        DXT1 texture of a terrain payload
  tile-2-0-2.png           the same image tile as PNG
The tool: $vt --help
EOF
