// Mip chains: the in-place 2 x 2 averaging, SSE2 variant of the SIMD form
// (DxtMipAverageSimd.h), four new pixels a step. Built with SSE2 enabled
// (cmake/Isa.cmake); same bytes as AverageMipLevelPortable.
#include "dxt/DxtInternal.h"

#if VT_HAVE_SSE2

#include <emmintrin.h>

#include "dxt/DxtMipAverageSimd.h"

namespace vt {
namespace dxt {
namespace {

struct Sse2Average {
    using Reg = __m128i;
    static constexpr int kNewPixels = 4;
    static Reg Load(const uint8_t* p) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p)); }
    static void Store(uint8_t* p, Reg v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v); }
    static Reg Set1(int v) { return _mm_set1_epi32(v); }
    static Reg WidenLo(Reg v) { return _mm_unpacklo_epi8(v, _mm_setzero_si128()); }
    static Reg WidenHi(Reg v) { return _mm_unpackhi_epi8(v, _mm_setzero_si128()); }
    static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm_unpacklo_epi64(a, b); }
    static Reg UnpackHi64(Reg a, Reg b) { return _mm_unpackhi_epi64(a, b); }
    static Reg Quarter(Reg v) { return _mm_srli_epi16(v, 2); }
    static Reg Pack(Reg a, Reg b) { return _mm_packus_epi16(a, b); }
    static Reg Select(Reg mask, Reg a, Reg b) { return _mm_or_si128(_mm_and_si128(a, mask), _mm_andnot_si128(mask, b)); }
    static Reg Means(const uint8_t* top, const uint8_t* bottom) { return WidenedMeans<Sse2Average>(top, bottom); }
};

}  // namespace

void AverageMipLevelSse2(uint8_t* pixels, int width, int height, bool averageAlpha) {
    AverageMipLevelSimd<Sse2Average>(pixels, width, height, averageAlpha);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2
