// Bilinear elevation lookup in an inflated elevation grid, in two forms that
// give identical results: a portable one and an SSE2 one that does the X and
// Y halves of the arithmetic side by side (one packed division per step
// instead of two). Both are called once per vertex by hosts, so they allocate
// nothing and read exactly four samples.
#ifndef VELTRANE_PACKETS_ELEVATION_SAMPLE_H
#define VELTRANE_PACKETS_ELEVATION_SAMPLE_H

#include "cpu/CpuFeatures.h"

namespace vt {

// Grid: byte 0 holds n, then n x n little-endian floats from offset 1, rows
// north to south. Returns the elevation at (x, y), or 0 outside the bounds
// (edges inside), for n = 0, a null grid, and bounds that are not finite or
// have no area.
float SampleElevationPortable(const unsigned char* grid, double minX, double minY, double maxX, double maxY,
                              double x, double y);
#if VT_HAVE_SSE2
float SampleElevationSse2(const unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
                          double y);
#endif

}  // namespace vt

#endif  // VELTRANE_PACKETS_ELEVATION_SAMPLE_H
