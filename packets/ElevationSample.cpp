// Bilinear elevation lookup: fx = |(x - minX) / ((maxX - minX) / n)| columns
// from the west edge, fy = |(maxY - y) / ((maxY - minY) / n)| rows from the
// north edge, all in double precision; indices truncated and clamped to
// 0 .. n - 1 (the neighbour past the last column or row is the last one
// itself, so only the n x n samples are read); weights fx - i and fy - j, at
// most 1; each column blended first and rounded to single precision, then the
// two blended across and rounded again.
//
// The SSE2 form keeps X in lane 0 and Y in lane 1 and performs the same IEEE
// operations lane by lane (sub, div, and, min, truncation), so the two forms
// give the same bits for every input.
#include "packets/ElevationSample.h"

#if !defined(VELTRANE_EDITION_TERRAIN)

#include <cfloat>

#include "packets/ByteReader.h"

#if VT_ELEVATION_HAVE_SSE2
#include <emmintrin.h>
#endif

namespace vt {
namespace {

// Bounds test shared by both forms. Every comparison is false for NaN, and an
// infinite bound makes the width or height infinite or NaN, so this one test
// also rejects those.
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

float SampleElevation_Portable(const unsigned char* grid, double minX, double minY, double maxX, double maxY,
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

#if VT_ELEVATION_HAVE_SSE2
float SampleElevation_SSE2(const unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
                           double y) {
    // Lane 0: X, lane 1: Y.
    const __m128d low = _mm_set_pd(minY, minX);
    const __m128d high = _mm_set_pd(maxY, maxX);
    const __m128d position = _mm_set_pd(y, x);
    const __m128d extent = _mm_sub_pd(high, low);
    // The same test as Usable(): these compares are all false for NaN.
    __m128d ok = _mm_and_pd(_mm_cmpge_pd(position, low), _mm_cmple_pd(position, high));
    ok = _mm_and_pd(ok, _mm_cmpgt_pd(extent, _mm_setzero_pd()));
    ok = _mm_and_pd(ok, _mm_cmple_pd(extent, _mm_set1_pd(DBL_MAX)));
    if (_mm_movemask_pd(ok) != 3 || grid == nullptr) return 0.0f;
    const unsigned int n = grid[0];
    if (n == 0) return 0.0f;
    const unsigned int last = n - 1;

    const __m128d samples = _mm_set1_pd(static_cast<double>(n));
    const __m128d spacing = _mm_div_pd(extent, samples);
    const __m128d offset = _mm_sub_pd(_mm_set_pd(maxY, x), _mm_set_pd(y, minX));
    __m128d f = _mm_div_pd(offset, spacing);
    f = _mm_andnot_pd(_mm_set1_pd(-0.0), f);  // |f|
    // minpd returns its second operand when either is NaN: NaN lands on n,
    // exactly as the portable comparison does.
    f = _mm_min_pd(f, samples);
    // trunc(min(f, n - 1)) equals min(trunc(f), n - 1) for f >= 0.
    const __m128i index = _mm_cvttpd_epi32(_mm_min_pd(f, _mm_set1_pd(static_cast<double>(last))));
    __m128d weight = _mm_sub_pd(f, _mm_cvtepi32_pd(index));
    weight = _mm_min_pd(weight, _mm_set1_pd(1.0));

    const unsigned int i = static_cast<unsigned int>(_mm_cvtsi128_si32(index));
    const unsigned int j = static_cast<unsigned int>(_mm_cvtsi128_si32(_mm_srli_si128(index, 4)));
    const unsigned int i1 = i < last ? i + 1 : last;
    const unsigned int j1 = j < last ? j + 1 : last;
    const unsigned char* s = grid + 1;
    // Lane 0: the west column (i), lane 1: the east column (i1).
    const __m128d north = _mm_set_pd(bytes::LoadF32LE(s + 4u * (j * n + i1)), bytes::LoadF32LE(s + 4u * (j * n + i)));
    const __m128d south =
        _mm_set_pd(bytes::LoadF32LE(s + 4u * (j1 * n + i1)), bytes::LoadF32LE(s + 4u * (j1 * n + i)));
    const __m128d wy = _mm_unpackhi_pd(weight, weight);
    __m128d column = _mm_add_pd(_mm_mul_pd(north, _mm_sub_pd(_mm_set1_pd(1.0), wy)), _mm_mul_pd(south, wy));
    column = _mm_cvtps_pd(_mm_cvtpd_ps(column));  // each column blend rounded to single precision
    const double wx = _mm_cvtsd_f64(weight);
    const double west = _mm_cvtsd_f64(column);
    const double east = _mm_cvtsd_f64(_mm_unpackhi_pd(column, column));
    return static_cast<float>(west * (1.0 - wx) + east * wx);
}
#endif

}  // namespace vt

#endif  // !VELTRANE_EDITION_TERRAIN
