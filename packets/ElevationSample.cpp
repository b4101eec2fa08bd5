// Bilinear elevation lookup: fx = |(x - minX) / ((maxX - minX) / n)| columns
// from the west edge, fy = |(maxY - y) / ((maxY - minY) / n)| rows from the
// north edge, all in double precision; indices truncated and clamped to
// 0 .. n - 1 (the neighbour past the last column or row is the last one
// itself, so only the n x n samples are read); weights fx - i and fy - j, at
// most 1; each column blended first and rounded to single precision, then the
// two blended across and rounded again.
//
// The SSE2 form (ElevationSampleSse2.cpp) performs the same IEEE operations
// lane by lane, so the two forms give the same bits for every input.
#include "packets/ElevationSample.h"

#include <cfloat>

#include "format/ByteReader.h"

namespace vt {
namespace {

// Bounds test (the SSE2 form makes the same one in its lanes). Every
// comparison is false for NaN, and an infinite bound makes the width or
// height infinite or NaN, so this one test also rejects those.
inline bool Usable(const unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
                   double y) {
    const double width = maxX - minX;
    const double height = maxY - minY;
    const bool inside = (x >= minX) & (x <= maxX) & (y >= minY) & (y <= maxY) & (width > 0.0) &
                        (width <= DBL_MAX) & (height > 0.0) & (height <= DBL_MAX);
    return inside && grid != nullptr && grid[0] != 0;
}

// From the truncated positions on: clamping, weights, the four loads and the
// two-step blend. `column` and `row` are at most n.
inline float Blend(const unsigned char* grid, unsigned int n, double fx, double fy, unsigned int column,
                   unsigned int row) {
    const unsigned int last = n - 1;
    const unsigned int i = column < last ? column : last;
    const unsigned int j = row < last ? row : last;
    const unsigned int i1 = column + 1 < last ? column + 1 : last;
    const unsigned int j1 = row + 1 < last ? row + 1 : last;
    double wx = fx - i;
    double wy = fy - j;
    wx = wx > 1.0 ? 1.0 : wx;
    wy = wy > 1.0 ? 1.0 : wy;

    const unsigned char* samples = grid + 1;
    const double v00 = bytes::LoadF32LE(samples + 4u * (j * n + i));
    const double v01 = bytes::LoadF32LE(samples + 4u * (j * n + i1));
    const double v10 = bytes::LoadF32LE(samples + 4u * (j1 * n + i));
    const double v11 = bytes::LoadF32LE(samples + 4u * (j1 * n + i1));

    const float west = static_cast<float>(v00 * (1.0 - wy) + v10 * wy);
    const float east = static_cast<float>(v01 * (1.0 - wy) + v11 * wy);
    return static_cast<float>(static_cast<double>(west) * (1.0 - wx) + static_cast<double>(east) * wx);
}

}  // namespace

float SampleElevationPortable(const unsigned char* grid, double minX, double minY, double maxX, double maxY,
                              double x, double y) {
    if (!Usable(grid, minX, minY, maxX, maxY, x, y)) return 0.0f;
    const unsigned int n = grid[0];
    const double samples = static_cast<double>(n);
    const double spacingX = (maxX - minX) / samples;
    const double spacingY = (maxY - minY) / samples;
    double fx = (x - minX) / spacingX;
    double fy = (maxY - y) / spacingY;
    fx = fx < 0.0 ? -fx : fx;
    fy = fy < 0.0 ? -fy : fy;
    // Inside the bounds fx and fy lie in [0, n]; a spacing that underflows to
    // 0 can give infinity or NaN instead. Both land on n here (a NaN fails the
    // comparison), which keeps the conversion to an integer defined.
    fx = fx < samples ? fx : samples;
    fy = fy < samples ? fy : samples;
    return Blend(grid, n, fx, fy, static_cast<unsigned int>(fx), static_cast<unsigned int>(fy));
}

}  // namespace vt
