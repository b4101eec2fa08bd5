#!/usr/bin/env bash
# run_first.sh FIRST VELTRANE WORKDIR: the README's first program on the sample
# pyramid's opaque tile 2/1/0 and its no-data corner tile 2/0/2 (alpha plane).
set -euo pipefail
first=$1 vt=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
"$vt" sample "$work" >/dev/null
"$first" "$work/image.vtp" 2 1 0 >"$work/opaque.txt"
"$first" "$work/image.vtp" 2 0 2 >"$work/alpha.txt"
grep -q '^GEOGCS\["WGS 84"' "$work/opaque.txt"
grep -qx '256 x 256 pixels, 3 channels' "$work/opaque.txt"
grep -qx '256 x 256 pixels, 4 channels' "$work/alpha.txt"
# A tile the file does not have is reported, not decoded.
if "$first" "$work/image.vtp" 3 0 0 2>"$work/err.txt"; then exit 1; fi
grep -qx 'first: no such tile' "$work/err.txt"
echo "readme: the first program ran on both kinds of image tile"
