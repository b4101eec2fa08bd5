#!/usr/bin/env bash
# Tests of the veltrane command-line tool, one case per invocation:
#   cli_test.sh CASE VELTRANE WORKDIR CONTENTDIR [EMULATOR]
# The "samples" case writes the sample pyramids that the other cases read
# (a CTest fixture); every case works in WORKDIR/CASE. A tool built for
# another system (Windows) runs under EMULATOR (wine64).
set -uo pipefail

case_name=$1
VT=$2
WORK=$3
CONTENT=$4
if [ -n "${5:-}" ]; then
  emulator=$5 tool=$2
  run_emulated() { "$emulator" "$tool" "$@"; }
  VT=run_emulated
fi
SAMPLES=$WORK/samples
DIR=$WORK/$case_name
rm -rf "$DIR"
mkdir -p "$DIR"
cd "$DIR" || exit 1
# The reader opens files exclusively, as the format's hosts do: cases running
# at the same time each read their own copies of the samples.
if [ "$case_name" != samples ]; then
  mkdir -p s && cp "$SAMPLES"/*.vtp s/ || exit 1
  SAMPLES=$DIR/s
fi

failures=0
fail() { echo "FAIL: $*" >&2; failures=$((failures + 1)); }

# run EXPECTED_EXIT cmd...: runs the tool, keeps stdout/stderr in out.txt/err.txt.
run() {
  local expected=$1
  shift
  "$@" >out.txt 2>err.txt
  local rc=$?
  sed -i 's/\r$//' out.txt err.txt  # Windows ends its lines in CR LF
  if [ "$rc" -ne "$expected" ]; then
    fail "exit $rc (expected $expected): $*"
    sed 's/^/  stdout: /' out.txt | head -20 >&2
    sed 's/^/  stderr: /' err.txt | head -20 >&2
  fi
}
expect_out() { grep -q -- "$1" out.txt || fail "stdout lacks '$1'"; }
expect_err() { grep -q -- "$1" err.txt || fail "stderr lacks '$1': $(cat err.txt)"; }
one_err_line() {
  local n
  n=$(grep -c . err.txt)
  [ "$n" -eq 1 ] || fail "expected one line on stderr, got $n: $(cat err.txt)"
}
no_file() { for f in "$@"; do [ ! -e "$f" ] || fail "$f was left behind"; done; }
# Every line on stderr names the program, as in any Unix tool's messages.
err_prefixed() { ! grep -qv '^veltrane: ' err.txt || fail "stderr line without 'veltrane: ': $(grep -v '^veltrane: ' err.txt)"; }
# Runs the tool on a terminal (script(1) gives it one); what it drew goes to tty.txt.
# A failure shows the status and the last lines the terminal got.
on_terminal() {
  script -qec "$(printf '%q ' "$@")" /dev/null >tty.txt 2>&1 ||
    fail "on a terminal (status $?): $*: $(tail -n 3 tty.txt | cat -v)"
}

# Offset of a tile's index entry (levels = index levels of the file).
entry_offset() { # levels level x y
  local levels=$1 level=$2 x=$3 y=$4 sum=0 j
  for ((j = level + 1; j < levels; j++)); do sum=$((sum + (1 << (2 * j)))); done
  echo $((320 + 12 * (sum + (y << level) + x)))
}
read_u64() { od -An -t u8 -j "$2" -N 8 "$1" | tr -d ' '; }
# Writes little-endian bytes of a number at an offset.
put_le() { # file offset width value
  local file=$1 off=$2 width=$3 value=$4 i bytes=""
  for ((i = 0; i < width; i++)); do bytes+=$(printf '\\x%02x' $(((value >> (8 * i)) & 255))); done
  printf "$bytes" | dd of="$file" bs=1 seek="$off" conv=notrunc status=none
}
# ImageMagick's normalised RMSE of two images (0 equal, 1 opposite).
rmse() { compare -metric RMSE "$1" "$2" null: 2>&1 | sed -n 's/.*(\(.*\)).*/\1/p'; }
psnr() { compare -metric PSNR "$1" "$2" null: 2>&1 | awk '{print $1}'; }
less_than() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a + 0 < b + 0) }'; }

case $case_name in
samples)
  run 0 "$VT" sample "$SAMPLES"
  for f in image image2 dem terrain dds; do [ -s "$SAMPLES/$f.vtp" ] || fail "no $f.vtp"; done
  total=$(cat "$SAMPLES"/*.vtp | wc -c)
  [ "$total" -lt 6000000 ] || fail "samples take $total bytes"
  # Deterministic: a second run writes the same bytes.
  run 0 "$VT" sample again
  for f in "$SAMPLES"/*.vtp; do cmp -s "$f" "again/$(basename "$f")" || fail "$(basename "$f") differs between runs"; done
  ;;

info)
  run 0 "$VT" info "$SAMPLES/image.vtp"
  expect_out "image size      900 x 720 pixels"
  expect_out "tile size       256 x 256"
  expect_out "levels          3"
  expect_out 'GEOGCS\["WGS 84"'
  expect_out "image tiles"
  # level 2: 16 entries, the fourth row lies below the image and is empty
  grep -Eq '^ +2 +16 +1[0-2] ' out.txt || fail "level 2 counts: $(grep -E '^ +2 ' out.txt)"
  run 0 "$VT" info --json "$SAMPLES/dem.vtp"
  expect_out '"levels": 2'
  expect_out '"payloadKind": "dem"'
  expect_out '"imageExtent": {"west": 13, "north": 47.299999999999997'
  run 0 "$VT" info "$SAMPLES/terrain.vtp"
  expect_out "terrain payloads"
  ;;

verify)
  for f in image image2 dem terrain dds; do
    run 0 "$VT" verify "$SAMPLES/$f.vtp"
    expect_out " 0 bad"
    expect_err "no --kind given"
  done
  run 0 "$VT" verify --kind dom "$SAMPLES/dem.vtp"
  run 0 "$VT" verify --kind image --edition terrain "$SAMPLES/image.vtp"
  ;;

usage)
  # Bad usage of the command line, exit 2; each with one line naming the program.
  run 0 "$VT" --version
  grep -Eq '^veltrane [0-9]+\.[0-9]+\.[0-9]+$' out.txt || fail "--version printed: $(cat out.txt)"
  run 2 "$VT"
  expect_err "^veltrane: A subcommand is required (see 'veltrane --help')$"
  run 2 "$VT" info
  expect_err "^veltrane: FILE is required (see 'veltrane info --help')$"
  one_err_line
  run 2 "$VT" frobnicate
  expect_err "^veltrane: 'frobnicate' is not a command"
  run 2 "$VT" build x.png -o x.vtp --tile many
  expect_err "^veltrane: .*--tile.*(see 'veltrane build --help')$"
  one_err_line
  run 2 "$VT" extract "$SAMPLES/image.vtp" 3 0 0 -o x.png
  expect_err "level 3 out of range"
  one_err_line
  run 2 "$VT" extract "$SAMPLES/image.vtp" 1 2 0 -o x.png
  expect_err "tile 2/0 out of range"
  run 2 "$VT" extract "$SAMPLES/image.vtp" 1 0 0 -o x.png --kind heightmap
  run 2 "$VT" extract "$SAMPLES/image.vtp" 1 0 0 -o x.png --layout bgr
  # the wrong kind is a finding about the file, not a usage error
  run 1 "$VT" extract "$SAMPLES/image.vtp" 1 0 0 -o x.png --kind dem
  expect_err "image.vtp tile 1/0/0: not a DEM/DOM packet"
  one_err_line
  err_prefixed
  # Manual pages.
  run 0 "$VT" extract --help
  for section in NAME SYNOPSIS DESCRIPTION ARGUMENTS OPTIONS "EXIT STATUS" EXAMPLES; do
    grep -q "^$section\$" out.txt || fail "extract --help has no $section section"
  done
  expect_out "^    --layout TEXT"
  no_file x.png x.png.partial
  ;;

unreadable)
  # A file that cannot be read, for any reason, is a finding: exit 1.
  run 1 "$VT" info "$DIR/does-not-exist.vtp"
  expect_err "^veltrane: $DIR/does-not-exist.vtp: cannot open: No such file or directory$"
  mkdir folder.vtp
  run 1 "$VT" verify folder.vtp
  expect_err "^veltrane: folder.vtp: is a directory, not a pyramid file$"
  cp "$SAMPLES/image.vtp" locked.vtp
  chmod 000 locked.vtp
  as_user=()
  [ "$(id -u)" -ne 0 ] || as_user=(setpriv --reuid=65534 --regid=65534 --clear-groups)
  run 1 "${as_user[@]}" "$VT" info locked.vtp
  expect_err "^veltrane: locked.vtp: cannot open: Permission denied$"
  flock -x "$SAMPLES/dem.vtp" sleep 3 &
  sleep 0.5
  run 1 "$VT" info "$SAMPLES/dem.vtp"
  expect_err "^veltrane: .*dem.vtp: cannot open: the file is held open by another program$"
  wait
  run 1 "$VT" build "$DIR/none.png" -o none.vtp
  expect_err "^veltrane: $DIR/none.png: "
  no_file none.vtp
  run 1 "$VT" build "$CONTENT/pier.png" -o none.vtp --wkt-file "$DIR/none.prj"
  expect_err "^veltrane: $DIR/none.prj: cannot read the projection text"
  no_file none.vtp
  ;;

progress)
  # A bar on a terminal for the long commands, none with --quiet or into a file.
  for cmd in "verify $SAMPLES/image.vtp" "mosaic $SAMPLES/image.vtp 2 -o m.png" "build $CONTENT/pier.png -o p.vtp" \
    "bench $SAMPLES/image.vtp -j 1 --seconds 0.1"; do
    name=${cmd%% *}
    on_terminal "$VT" $cmd
    grep -q "$name \[#" tty.txt || fail "$name draws no progress bar on a terminal: $(cat -v tty.txt)"
    on_terminal "$VT" $cmd --quiet
    ! grep -q '\[#' tty.txt || fail "$name --quiet draws a progress bar"
    run 0 "$VT" $cmd
    ! grep -q '\[#' err.txt || fail "$name draws a progress bar into a file"
  done
  ;;

readme)
  # The README's table names every option of every command.
  readme=$CONTENT/../../README.md
  for cmd in sample build info extract mosaic verify elevation bench; do
    row=$(grep -m1 "^| \`veltrane $cmd " "$readme") || {
      fail "README has no row for veltrane $cmd"
      continue
    }
    "$VT" "$cmd" --help >help.txt
    for option in $(grep -Eo '^    (-[a-zA-Z], )?--[a-z-]+' help.txt | grep -Eo -- '--[a-z-]+'); do
      [ "$option" = --help ] || grep -q -- "\`$option\|/\`$option" <<<"$row" || fail "README: veltrane $cmd lacks $option"
    done
  done
  ;;

extract)
  run 0 "$VT" extract "$SAMPLES/image.vtp" 2 1 0 -o tile.png
  expect_err "guessed\|no --kind given"
  [ "$(identify -format '%wx%h' tile.png)" = 256x256 ] || fail "tile.png size"
  # Another tile over the same name: the new file replaces the old whole.
  cp tile.png before.png
  run 0 "$VT" extract "$SAMPLES/image.vtp" 2 0 0 -o tile.png
  cmp -s tile.png before.png && fail "tile.png was not replaced"
  [ "$(identify -format '%wx%h' tile.png)" = 256x256 ] || fail "replaced tile.png size"
  no_file tile.png.partial
  run 0 "$VT" extract --kind image "$SAMPLES/image.vtp" 2 1 0 -o tile.bin
  run 0 "$VT" extract --kind image "$SAMPLES/image.vtp" 2 1 0 -o tile.rgb --layout rgb
  [ "$(wc -c <tile.rgb)" -eq 196608 ] || fail "rgb layout size"
  run 0 "$VT" extract --kind image "$SAMPLES/image.vtp" 2 1 0 -o tile.565 --layout rgb565
  [ "$(wc -c <tile.565)" -eq 131072 ] || fail "rgb565 layout size"
  run 1 "$VT" extract --kind image "$SAMPLES/image.vtp" 2 1 0 -o tile.rgba --layout rgba
  expect_err "has no alpha"
  no_file tile.rgba tile.rgba.partial
  run 0 "$VT" extract --kind dom --id 2 "$SAMPLES/dem.vtp" 1 1 0 -o shade.png
  run 0 "$VT" extract "$SAMPLES/terrain.vtp" 1 0 1 -o terrain.png
  run 0 "$VT" extract "$SAMPLES/image2.vtp" 1 0 1 -o image2.png
  run 0 "$VT" extract "$SAMPLES/dds.vtp" 0 0 0 -o stored.dds
  ;;

dds)
  # DXT1 with mips from an opaque tile, DXT5 from one with alpha; read back by
  # ImageMagick and compared with the decoded pixels.
  for tile in "2 1 0" "2 0 2"; do
    set -- $tile
    run 0 "$VT" extract --kind image "$SAMPLES/image.vtp" "$1" "$2" "$3" -o t.png
    run 0 "$VT" extract --kind image "$SAMPLES/image.vtp" "$1" "$2" "$3" -o t.dds
    expect_out "9 mip levels"
    size=$(stat -c %s t.dds)
    [ "$size" -eq $((128 + 43704)) ] || [ "$size" -eq $((128 + 87408)) ] || fail "t.dds: $size bytes"
    convert 't.dds[0]' dds.png || fail "convert cannot read t.dds"
    r=$(rmse t.png dds.png)
    less_than "$r" 0.05 || fail "tile $tile: DDS differs from the pixels (RMSE $r)"
  done
  grep -q "DXT5" out.txt || fail "the alpha tile was not written as DXT5"
  run 0 "$VT" extract "$SAMPLES/terrain.vtp" 1 1 1 -o terrain.dds
  run 0 "$VT" extract "$SAMPLES/terrain.vtp" 1 1 1 -o terrain.png
  convert 'terrain.dds[0]' terrain-dds.png && r=$(rmse terrain.png terrain-dds.png)
  less_than "$r" 0.05 || fail "terrain DDS differs (RMSE $r)"
  ;;

mosaic)
  run 0 "$VT" mosaic "$SAMPLES/image.vtp" 2 -o m.png
  [ "$(identify -format '%wx%h' m.png)" = 900x720 ] || fail "mosaic size $(identify -format '%wx%h' m.png)"
  [ -s m.pgw ] && [ -s m.prj ] || fail "no world file or .prj"
  grep -q 'GEOGCS\["WGS 84"' m.prj || fail ".prj lacks the projection"
  mapfile -t w <m.pgw
  # pixel 1", top-left pixel centre half a pixel inside (13, 47.3)
  awk -v a="${w[0]}" -v e="${w[3]}" -v c="${w[4]}" -v f="${w[5]}" 'BEGIN {
    p = 1 / 3600; t = 1e-12
    ok = (a - p < t && p - a < t) && (e + p < t && -p - e < t) &&
         (c - (13 + p / 2) < t && (13 + p / 2) - c < t) && (f - (47.3 - p / 2) < t && (47.3 - p / 2) - f < t)
    exit !ok }' || fail "world file ${w[*]}"
  # transparent no-data corner (south-west), opaque north-east
  [ "$(convert m.png -format '%[fx:p{5,715}.a]' info:)" = 0 ] || fail "no-data corner is not transparent"
  [ "$(convert m.png -format '%[fx:p{890,5}.a]' info:)" = 1 ] || fail "north-east corner is not opaque"
  run 0 "$VT" mosaic "$SAMPLES/image.vtp" 0 -o m0.png
  [ "$(identify -format '%wx%h' m0.png)" = 225x180 ] || fail "level 0 mosaic size"
  run 0 "$VT" mosaic "$SAMPLES/dem.vtp" 1 -o dem.png --kind dom
  run 0 "$VT" mosaic "$SAMPLES/dem.vtp" 1 -o heights.png
  run 0 "$VT" mosaic "$SAMPLES/terrain.vtp" 1 -o terrain.png
  run 0 "$VT" mosaic "$SAMPLES/image2.vtp" 1 -o image2.png
  run 0 "$VT" mosaic "$SAMPLES/dds.vtp" 1 -o dds.png
  r=$(rmse dem.png dds.png)
  less_than "$r" 0.05 || fail "orthophoto and DDS mosaics of one area differ (RMSE $r)"
  ;;

build)
  src=$CONTENT/pier.png
  run 0 "$VT" build "$src" -o q90.vtp --quality 90 --bounds 1000 2000 1430 2277 --wkt 'LOCAL_CS["pier"]'
  run 0 "$VT" verify q90.vtp
  run 0 "$VT" mosaic q90.vtp 1 -o q90.png
  [ "$(identify -format '%wx%h' q90.png)" = 430x277 ] || fail "mosaic size"
  convert q90.png -alpha off q90-rgb.png
  p=$(psnr "$src" q90-rgb.png)
  less_than 32 "$p" || fail "JPEG q90 round trip PSNR $p dB"
  mapfile -t w <q90.pgw
  [ "${w[0]}" = 1 ] && [ "${w[3]}" = -1 ] && [ "${w[4]}" = 1000.5 ] && [ "${w[5]}" = 2276.5 ] || fail "world file ${w[*]}"
  run 0 "$VT" build "$src" -o lossless.vtp --codec j2k --tile 128
  run 0 "$VT" mosaic lossless.vtp 2 -o lossless.png
  convert lossless.png -alpha off lossless-rgb.png
  ae=$(compare -metric AE "$src" lossless-rgb.png null: 2>&1)
  [ "$ae" = 0 ] || fail "lossless JPEG 2000 round trip differs in $ae pixels"
  run 0 "$VT" build "$CONTENT/board.jpg" -o board.vtp
  expect_out "720 x 477 image"
  ;;

gis)
  # Georeferencing in and out through GDAL: a GeoTIFF's (and a PNG's world
  # file's) placement and coordinate system carried into the pyramid, and
  # the mosaic's GeoTIFF and PNG as gdalinfo reads them.
  gdal_translate -q -a_srs EPSG:4326 -a_ullr 10 50 10.43 49.723 "$CONTENT/pier.png" geo.tif || fail "gdal_translate"
  run 0 "$VT" build geo.tif -o geo.vtp
  run 0 "$VT" info --json geo.vtp
  expect_out '"imageExtent": {"west": 10, "north": 50'
  expect_out 'GEOGCS\[\\"WGS 84\\"'
  cp "$CONTENT/pier.png" world.png
  printf '2\n0\n0\n-2\n501\n999\n' >world.pgw
  run 0 "$VT" build world.png -o world.vtp
  run 0 "$VT" info --json world.vtp
  expect_out '"imageExtent": {"west": 500, "north": 1000, "east": 1360, "south": 446}'
  # the UTM system of gdalsrsinfo fits the header in none of its forms
  gdal_translate -q -a_srs EPSG:32633 -a_ullr 0 1000 430 723 "$CONTENT/pier.png" utm.tif || fail "gdal_translate"
  run 1 "$VT" build utm.tif -o utm.vtp
  expect_err "utm.tif: the projection text has [0-9]* bytes; the file header holds at most 255: a shorter WKT1 or ESRI form"
  one_err_line
  no_file utm.vtp

  run 0 "$VT" mosaic geo.vtp 1 -o m.tif
  gdalinfo m.tif >info.txt 2>&1 || fail "gdalinfo m.tif"
  grep -q 'GEOGCRS\["WGS 84"' info.txt || fail "m.tif has no coordinate system: $(cat info.txt)"
  grep -q 'Origin = (10.000000000000000,50.000000000000000)' info.txt || fail "m.tif origin: $(grep Origin info.txt)"
  run 0 "$VT" mosaic geo.vtp 1 -o m.png
  [ -s m.pgw ] && [ -s m.png.aux.xml ] || fail "no world file or auxiliary file beside m.png"
  gdalinfo m.png >info.txt 2>&1 || fail "gdalinfo m.png"
  grep -q 'GEOGCRS\["WGS 84"' info.txt || fail "m.png has no coordinate system: $(cat info.txt)"
  grep -q 'Origin = (10.000000000000000,50.000000000000000)' info.txt || fail "m.png origin: $(grep Origin info.txt)"
  # no projection text: a world file only, and stale side files gone
  run 0 "$VT" build "$CONTENT/pier.png" -o plain.vtp --bounds 0 0 430 277
  touch plain.prj plain.png.aux.xml
  run 0 "$VT" mosaic plain.vtp 1 -o plain.png
  [ -s plain.pgw ] || fail "no world file beside plain.png"
  no_file plain.prj plain.png.aux.xml

  # Refusals: bounds that a geographic system cannot hold, projection text
  # longer than the header holds.
  run 2 "$VT" build "$CONTENT/pier.png" -o x.vtp --bounds 170 80 200 100 --wkt 'GEOGCS["WGS 84",DATUM["WGS_1984",SPHEROID["WGS 84",6378137,298.257223563]],PRIMEM["Greenwich",0],UNIT["degree",0.0174532925199433]]'
  expect_err "^veltrane: --bounds: latitude 100 lies outside -90 to 90"
  one_err_line
  run 2 "$VT" build "$CONTENT/pier.png" -o x.vtp --wkt "$(gdalsrsinfo --single-line -o wkt1 EPSG:32633)"
  expect_err "^veltrane: the projection text has [0-9]* bytes; the file header holds at most 255: a shorter WKT1 or ESRI form of the same coordinate system is needed"
  one_err_line
  no_file x.vtp
  ;;

elevation)
  run 0 "$VT" elevation "$SAMPLES/dem.vtp" 1 0 0 13.05 47.25
  v=$(sed -n 's/.*: \([-0-9.]*\) (tile.*/\1/p' out.txt)
  less_than 300 "$v" && less_than "$v" 3500 || fail "elevation $v"
  run 0 "$VT" elevation "$SAMPLES/terrain.vtp" 1 0 0 13.05 47.25
  t=$(sed -n 's/.*: \([-0-9.]*\) (tile.*/\1/p' out.txt)
  awk -v a="$v" -v b="$t" 'BEGIN { d = a - b; exit !(d < 150 && d > -150) }' || fail "DEM $v vs terrain $t"
  run 2 "$VT" elevation "$SAMPLES/dem.vtp" 1 0 0 13.2 47.25
  expect_err "outside the tile"
  run 1 "$VT" elevation --kind image "$SAMPLES/image.vtp" 0 0 0 13.1 47.2
  expect_err "no elevation grid"
  ;;

damaged)
  # A file cut short inside its last payload.
  cp "$SAMPLES/image.vtp" cut.vtp
  truncate -s $(($(stat -c %s cut.vtp) - 3000)) cut.vtp
  run 1 "$VT" verify --kind image cut.vtp
  expect_out "payload cut short"
  tile=$(sed -n 's/.*cut.vtp tile \([0-9/]*\): payload cut short.*/\1/p' out.txt)
  [ -n "$tile" ] || fail "verify names no cut tile"
  run 1 "$VT" extract --kind image cut.vtp ${tile//\// } -o cut.png
  expect_err "cut.vtp tile $tile: payload cut short"
  one_err_line
  no_file cut.png cut.png.partial
  # An index entry pointing past the end of the file.
  cp "$SAMPLES/image.vtp" past.vtp
  put_le past.vtp "$(entry_offset 3 2 1 0)" 8 999999999
  run 1 "$VT" verify --kind image past.vtp
  expect_out "past.vtp tile 2/1/0: entry points past the end"
  run 1 "$VT" mosaic --kind image past.vtp 2 -o past.png
  expect_err "past.vtp tile 2/1/0"
  # A damaged payload: the primary length of tile 1/1/0 made negative.
  cp "$SAMPLES/image.vtp" bad.vtp
  at=$(read_u64 bad.vtp "$(entry_offset 3 1 1 0)")
  put_le bad.vtp $((at + 2)) 4 4294967295
  run 1 "$VT" verify --kind image bad.vtp
  expect_out "bad.vtp tile 1/1/0: primary stream length is not positive (-1 "
  expect_out " 1 bad"
  # A damaged alpha stream in the no-data corner tile 2/0/2.
  cp "$SAMPLES/image.vtp" alpha.vtp
  at=$(read_u64 alpha.vtp "$(entry_offset 3 2 0 2)")
  p=$(od -An -t u4 -j $((at + 2)) -N 4 alpha.vtp | tr -d ' ')
  put_le alpha.vtp $((at + 6 + p + 10)) 4 0
  run 1 "$VT" verify --kind image alpha.vtp
  expect_out "tile 2/0/2: alpha stream does not inflate"
  # The wrong kind: terrain payloads read as image tiles.
  run 1 "$VT" verify --kind image "$SAMPLES/terrain.vtp"
  expect_out "terrain.vtp tile 0/0/0"
  # Corrupt headers.
  head -c 200 "$SAMPLES/image.vtp" >short.vtp
  run 1 "$VT" info short.vtp
  expect_err "^veltrane: short.vtp: damaged header: the file has 200 bytes"
  one_err_line
  cp "$SAMPLES/image.vtp" levels.vtp
  put_le levels.vtp 312 4 99
  run 1 "$VT" verify levels.vtp
  expect_err "level count 99 out of range"
  # A header claiming 20 levels, whose index the file cannot hold: said at
  # once, never walked (4^19 tiles).
  put_le levels.vtp 312 8 $(((20 << 32) | 20))
  for cmd in "info levels.vtp" "verify levels.vtp" "mosaic --kind image levels.vtp 0 -o x.png" \
    "extract --kind image levels.vtp 0 0 0 -o x.png"; do
    run 1 "$VT" $cmd
    expect_err "^veltrane: levels.vtp: damaged header: 20 index levels need 366503875925 index entries, the file"
    one_err_line
  done
  # Payloads of no recognisable kind (zeroed) are a finding, not bad usage.
  cp "$SAMPLES/image.vtp" zeroed.vtp
  size=$(stat -c %s zeroed.vtp)
  dd if=/dev/zero of=zeroed.vtp bs=1 seek=572 count=$((size - 572)) conv=notrunc status=none
  run 1 "$VT" verify zeroed.vtp
  expect_err "^veltrane: zeroed.vtp: cannot tell the payload kind (from the first 4 payloads); name it with --kind"
  ;;

bench)
  run 0 "$VT" bench "$SAMPLES/image.vtp" -j 2 --seconds 0.1
  expect_out "tiles/s"
  grep -Eq '^ +2 ' out.txt || fail "no two-thread row"
  # an explicit layout decodes as much as the default does (no short cuts)
  run 0 "$VT" bench "$SAMPLES/image.vtp" -j 1 --seconds 0.1 --kind image --layout rgb565
  rate=$(awk '$1 == 1 { print $2 }' out.txt)
  less_than "$rate" 100000 || fail "implausible rate $rate tiles/s"
  run 0 "$VT" bench "$SAMPLES/terrain.vtp" -j 1 --seconds 0.1 --layout rgb
  expect_out "terrain payloads"
  ;;

*)
  fail "unknown case $case_name"
  ;;
esac

[ "$failures" -eq 0 ] && echo "cli $case_name: passed"
exit $((failures > 0))
