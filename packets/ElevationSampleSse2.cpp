// Bilinear elevation lookup, SSE2 form: X in lane 0 and Y in lane 1, with
// the portable form's IEEE operations performed lane by lane (sub, div, and,
// min, truncation), so the two forms give the same bits for every input. One
// packed division per step instead of two. Built with SSE2 enabled
// (cmake/Isa.cmake).
#include "packets/ElevationSample.h"

#if VT_HAVE_SSE2

#include <emmintrin.h>

#include <cfloat>

#include "format/ByteReader.h"

namespace vt {

float SampleElevationSse2(const unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
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

}  // namespace vt

#endif  // VT_HAVE_SSE2
