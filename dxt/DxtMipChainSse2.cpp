// Mip chains: the in-place 2 x 2 averaging, SSE2 variant of the SIMD form
// (the one variant: the AVX2 encoder pairs with it too). Built with SSE2
// enabled (cmake/Isa.cmake); same bytes as AverageMipLevelPortable.
#include "dxt/DxtInternal.h"

#if VT_HAVE_SSE2

#include <emmintrin.h>

#include <cstddef>

namespace vt {
namespace dxt {

// Four new pixels per step from eight old pixels of each of the two source
// rows: bytes widened to 16-bit lanes, the 2 x 2 sums formed, shifted right
// by 2 and packed back (no saturation can occur: the mean is at most 255).
// All loads of a step precede its store, which lies at or below its sources.
// Columns left over (and a previous width of 1) take the per-pixel path.
void AverageMipLevelSse2(uint8_t* pixels, int width, int height, bool averageAlpha) {
    if (width <= 0 || height <= 0) return;
    const int newWidth = NextMipSide(width), newHeight = NextMipSide(height);
    const size_t stride = static_cast<size_t>(width) * 4;
    const int vectorWidth = width >= 2 ? newWidth & ~3 : 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i colorMask = _mm_set1_epi32(averageAlpha ? -1 : 0x00FFFFFF);
    for (int y = 0; y < newHeight; ++y) {
        const uint8_t* top = pixels + static_cast<size_t>(ClampToLast(2 * y, height - 1)) * stride;
        const uint8_t* bottom = pixels + static_cast<size_t>(ClampToLast(2 * y + 1, height - 1)) * stride;
        uint8_t* dst = pixels + static_cast<size_t>(y) * newWidth * 4;
        for (int x = 0; x < vectorWidth; x += 4) {
            const size_t at = static_cast<size_t>(x) * 8;  // old pixel 2x, in bytes
            const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
            const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at + 16));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at + 16));
            const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 4 * static_cast<size_t>(x)));
            // Column sums: s*lo = old pixels 0,1 (or 4,5), s*hi = 2,3 (6,7).
            const __m128i s0lo = _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero));
            const __m128i s0hi = _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero));
            const __m128i s1lo = _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero));
            const __m128i s1hi = _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero));
            // Even old pixels plus odd old pixels: new pixels 0,1 and 2,3.
            const __m128i n01 = _mm_add_epi16(_mm_unpacklo_epi64(s0lo, s0hi), _mm_unpackhi_epi64(s0lo, s0hi));
            const __m128i n23 = _mm_add_epi16(_mm_unpacklo_epi64(s1lo, s1hi), _mm_unpackhi_epi64(s1lo, s1hi));
            const __m128i mean = _mm_packus_epi16(_mm_srli_epi16(n01, 2), _mm_srli_epi16(n23, 2));
            const __m128i result =
                _mm_or_si128(_mm_and_si128(mean, colorMask), _mm_andnot_si128(colorMask, kept));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * static_cast<size_t>(x)), result);
        }
        if (vectorWidth < newWidth) AverageMipRowTailPortable(pixels, width, height, y, vectorWidth, averageAlpha);
    }
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2
