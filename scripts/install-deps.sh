#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need.
# Idempotent: packages already present are not fetched again. Arguments name
# further packages a script needs besides (scripts/fuzz.sh: clang).
set -euo pipefail

packages=(
  cmake g++ make pkg-config
  zlib1g-dev libdeflate-dev libopenjp2-7-dev libopenjp2-tools
  libgtest-dev libgmock-dev libbenchmark-dev
  libjpeg62-turbo-dev libturbojpeg0-dev libpng-dev libstb-dev libcli11-dev
  default-jdk-headless libjna-java imagemagick
  libgdal-dev gdal-bin python3-gdal python3-rasterio python3-numpy python3-pytest
  python3-distributed python3-dask python3-tqdm
  "$@"
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

as_root=()
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps: run as root (or install sudo) to install: ${missing[*]}" >&2; exit 1; }
  as_root=(sudo)
fi
echo "install-deps: installing ${missing[*]}"
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -qq
"${as_root[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
