// Mip chains: the in-place 2 x 2 averaging, AVX2 variant of the SIMD form
// (DxtMipAverageSimd.h), eight new pixels a step. Built with AVX2 enabled
// (cmake/Isa.cmake); same bytes as AverageMipLevelPortable.
#include "dxt/DxtInternal.h"

#if VT_HAVE_AVX2

#if !defined(__AVX2__)
#error "DxtMipChainAvx2.cpp must be compiled with AVX2 enabled (see cmake/Isa.cmake)"
#endif

#include <immintrin.h>

#include "dxt/DxtMipAverageSimd.h"

namespace vt {
namespace dxt {
namespace {

struct Avx2Average {
    using Reg = __m256i;
    static constexpr int kNewPixels = 8;
    static Reg Load(const uint8_t* p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)); }
    static void Store(uint8_t* p, Reg v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v); }
    static Reg Set1(int v) { return _mm256_set1_epi32(v); }
    static Reg WidenLo(Reg v) { return _mm256_unpacklo_epi8(v, _mm256_setzero_si256()); }
    static Reg WidenHi(Reg v) { return _mm256_unpackhi_epi8(v, _mm256_setzero_si256()); }
    static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
    static Reg UnpackHi64(Reg a, Reg b) { return _mm256_unpackhi_epi64(a, b); }
    static Reg Quarter(Reg v) { return _mm256_srli_epi16(v, 2); }
    // Per half the pack gives new pixels 0,1 | 4,5 (low) and 2,3 | 6,7
    // (high): quadwords 1 and 2 trade places.
    static Reg Pack(Reg a, Reg b) {
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(a, b), _MM_SHUFFLE(3, 1, 2, 0));
    }
    static Reg Select(Reg mask, Reg a, Reg b) { return _mm256_blendv_epi8(b, a, mask); }
};

}  // namespace

void AverageMipLevelAvx2(uint8_t* pixels, int width, int height, bool averageAlpha) {
    AverageMipLevelSimd<Avx2Average>(pixels, width, height, averageAlpha);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX2
