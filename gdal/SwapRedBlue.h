// The library hands out pixels as blue, green, red (and alpha); GDAL callers
// that read pixel-interleaved buffers want red first. Swapping the two is the
// one pass the driver adds over a decoded tile, so it has a byte-shuffle form
// for processors with SSSE3 (every x86-64 processor of the last fifteen years)
// beside the plain one.
#ifndef VELTRANE_GDAL_SWAP_RED_BLUE_H
#define VELTRANE_GDAL_SWAP_RED_BLUE_H

#include <cstddef>

namespace vt {
namespace gdal {

// Copies `count` pixels of `step` bytes (3 or 4) from `in` to `out` with the
// first and third byte of each exchanged. The buffers must not overlap.
void SwapRedBlue(const unsigned char* in, unsigned char* out, std::size_t count, int step);

// The plain form, whatever the processor (for checking the shuffle form).
void SwapRedBluePortable(const unsigned char* in, unsigned char* out, std::size_t count, int step);

}  // namespace gdal
}  // namespace vt

#endif  // VELTRANE_GDAL_SWAP_RED_BLUE_H
