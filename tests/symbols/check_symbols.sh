#!/usr/bin/env bash
# check_symbols.sh LIBVELTRANE LIBORVANEL LIBWAVEDEC
# Compares the functions each library exports with the interface of its
# edition, member for member (overloads counted), and fails on any extra or
# missing one. Shared objects are read with nm; Windows DLLs (.dll) with
# $OBJDUMP -p (default objdump), whose export table must name the C functions
# exactly as they are written: no @N suffix, no leading underscore.
set -euo pipefail
veltrane=$1 orvanel=$2 wavedec=$3

exported() {
  case "$1" in
    *.dll)
      # The names of the export table's name pointer table, demangled.
      "${OBJDUMP:-objdump}" -p "$1" |
        awk '/^\[Ordinal\/Name Pointer\] Table/ { on = 1; next } on && /^\t\[ *[0-9]+\] / { print $NF; next }
             on && !/^\t/ { on = 0 }' | c++filt | sort ;;
    *)
      # Defined, exported functions, demangled, without parameter lists of C names.
      nm -D --defined-only -C "$1" | awk '$2 ~ /^[TW]$/ { $1=""; $2=""; sub(/^  /, ""); print }' | sort ;;
  esac
}

common=(
  "CVeltrane::CVeltrane()" "CVeltrane::CVeltrane()"
  "CVeltrane::~CVeltrane()" "CVeltrane::~CVeltrane()"
  "CVeltrane::operator=(CVeltrane const&)"
  "CVeltrane::Veltrane(char const*)"
  "CVeltrane::GetWktPrj(char*&)"
  "CVeltrane::GetImageGeoInfo(double&, double&, double&, double&)"
  "CVeltrane::GetFileGeoInfo(double&, double&, double&, double&)"
  "CVeltrane::GetImageSize(int&, int&)"
  "CVeltrane::GetMaxLevel()"
  "CVeltrane::GetBlockSize(unsigned long&, unsigned long&)"
  "CVeltrane::GetBlockImageSize(int, int, int, int&)"
  "CVeltrane::GetImage(int, int, int, unsigned char**, int&)"
  "CVeltrane::GetImage(int, int, int, unsigned char*, int&)"
  "CVeltrane::ReleaseBuffer()"
  "CVeltrane::FileSeekPos(void*, long long, unsigned long)"
  "CVeltrane::GetCompressDataInfo(unsigned char*, unsigned long, unsigned long&, unsigned long&, unsigned long&, bool)"
  "CVeltrane::DecodeImage(unsigned char*, unsigned long, unsigned char*, OutputType, bool)"
  "CVeltrane::GetDDSDataInfo(unsigned char*, unsigned long, unsigned long&, unsigned long&, unsigned long&, bool)"
  "CVeltrane::DecodeDDSImage(unsigned char*, unsigned long, unsigned char*, bool)"
  "CVeltrane::DecodeBuildingText(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::Uncompress(unsigned char*, unsigned long*, unsigned char const*, unsigned long)"
)
current=(
  "CVeltrane::GetNewCompressDataInfo(unsigned char*, unsigned long, unsigned long&, unsigned long&, unsigned long&)"
  "CVeltrane::DecodeNewImage(unsigned char*, unsigned long, unsigned char*, OutputType)"
  "CVeltrane::DecodeDDSImageOld(unsigned char*, unsigned long, unsigned char*, bool)"
  "CVeltrane::DecodeDDSToFile(unsigned char*, unsigned long, char const*)"
  "CVeltrane::GetDEMBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetDEMBuffer(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::GetDOMCount(unsigned char*, unsigned long, int*)"
  "CVeltrane::GetDOMBuffer(unsigned char*, unsigned long, int, unsigned char*, OutputType)"
  "JNA_GetDEMBufferSize"
  "JNA_GetDEMBuffer"
  "JNA_GetElevationInBuf"
)
terrain=(
  "CVeltrane::GetTerrianVersion(unsigned char*, unsigned char*)"
  "CVeltrane::DecodeImageTerrian(unsigned char*, unsigned long, unsigned char*, OutputType)"
  "CVeltrane::GetIndexBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetIndexBuffer(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::GetTinyIndexBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetTinyIndexBuffer(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::GetShapeIndexBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetShapeIndexBuffer(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::GetRoadIndexBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetRoadIndexBuffer(unsigned char*, unsigned long, unsigned char*)"
  "CVeltrane::GetDEMTBufferSize(unsigned char*, unsigned long)"
  "CVeltrane::GetDEMBuffer(unsigned char*, unsigned long, unsigned char*)"
)
# The plain C functions (Veltrane_c.h), the same in both editions.
c_api=(
  veltrane_status_string veltrane_open veltrane_close veltrane_get_header veltrane_get_wkt veltrane_get_extent
  veltrane_tile_size veltrane_read_tile veltrane_image_info veltrane_decode_image
)
codec=(
  "j2k_decodeImgInfo(unsigned char*, int, int&, int&, int&)"
  "j2k_decode2Buffer(unsigned char*, int, unsigned char*, int)"
)

status=0
compare() {
  local name=$1 lib=$2; shift 2
  local diff_out
  if ! diff_out=$(diff <(printf '%s\n' "$@" | sort) <(exported "$lib")); then
    echo "$name: exports differ from its interface ('<' missing, '>' extra):"
    echo "$diff_out"
    status=1
  else
    echo "$name: $# exported functions, as expected"
  fi
}
compare Veltrane "$veltrane" "${common[@]}" "${c_api[@]}" "${current[@]}"
compare Orvanel "$orvanel" "${common[@]}" "${c_api[@]}" "${terrain[@]}"
compare Wavedec "$wavedec" "${codec[@]}"
exit $status
