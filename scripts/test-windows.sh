#!/usr/bin/env bash
# Builds Veltrane.dll, Orvanel.dll and Wavedec.dll for 64- and 32-bit x86
# Windows with Debian's MinGW-w64 cross compilers, and the veltrane tool for
# both, checks both architectures' export tables, and runs the x86_64 test
# suite, the tool's Windows cases included, under Wine (wine64) from ctest.
# The i686 build is the libraries and the tool without tests: 32-bit Windows
# programs need 32-bit emulation, which these machines' kernels leave off, so
# its tests cannot run.
#
# Everything goes into build-windows/: deps/ (OpenJPEG, libjpeg-turbo,
# libpng built from Debian's sources; kept between runs), x86_64/ and i686/
# (rebuilt from scratch), wineprefix/ (Wine's C: drive for the tests).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$PWD/build-windows

# The cross compilers of the posix thread model (std::thread and std::mutex
# work), zlib for them, Wine, Debian's GoogleTest sources, and what unpacks
# Debian source packages.
bash scripts/install-deps.sh g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix libz-mingw-w64-dev wine64 \
  ninja-build googletest dpkg-dev
bash scripts/build-windows-deps.sh x86_64 "$top/deps" image
bash scripts/build-windows-deps.sh i686 "$top/deps" image

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver64
configure() {
  local arch=$1; shift
  rm -rf "$top/$arch"
  cmake -S . -B "$top/$arch" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-$arch.cmake" -DVELTRANE_WINDOWS_PREFIX="$top/deps/$arch" \
    -DVELTRANE_BUILD_BENCH=OFF "$@"
}

# x86_64: the libraries and the test suite, each test run by wine64 (through
# wine-run.sh, which starts again a program Wine failed to start).
configure x86_64 -DCMAKE_CROSSCOMPILING_EMULATOR="$PWD/scripts/wine-run.sh"
cmake --build "$top/x86_64" -j"$(nproc)"
# i686: the libraries and the tool.
configure i686 -DVELTRANE_BUILD_TESTS=OFF
cmake --build "$top/i686" -j"$(nproc)"

# Export tables of both architectures: every name exactly as declared.
for arch in x86_64 i686; do
  echo "test-windows: $arch export tables"
  OBJDUMP=$arch-w64-mingw32-objdump bash tests/symbols/check_symbols.sh \
    "$top/$arch/bin/Veltrane.dll" "$top/$arch/bin/Orvanel.dll" "$top/$arch/bin/Wavedec.dll"
done

# One Wine prefix and one wineserver for the whole run: the server is started
# persistent (-p) so that each test program does not start its own, and
# stopped at the end.
export WINEPREFIX=$top/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
"$wineserver" -k 2>/dev/null || true  # one left behind by an interrupted run would refuse -p
"$wineserver" -p
trap '"$wineserver" -k || true' EXIT
"$wine" cmd /c exit 0 >/dev/null 2>&1 || true  # creates the prefix once, before the tests race to
ctest --test-dir "$top/x86_64" --output-on-failure -j"$(nproc)"
