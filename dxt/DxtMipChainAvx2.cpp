// Mip chains: the in-place 2 x 2 averaging, AVX2 variant of the SIMD form
// (DxtMipAverageSimd.h), eight new pixels a step, summed with byte shuffles
// and multiply-adds. Built with AVX2 enabled
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
    static Reg Select(Reg mask, Reg a, Reg b) { return _mm256_blendv_epi8(b, a, mask); }
    // Byte shuffles put each channel of two horizontal neighbours side by
    // side, and a multiply-add by ones sums them into 16-bit lanes: per
    // 128-bit half of 4 old pixels, the 4 channel sums of 2 new pixels.
    // Both rows added, shifted right by 2 (no saturation: the mean is at
    // most 255) and packed; per half the pack gives new pixels 0,1 | 4,5
    // (low) and 2,3 | 6,7 (high): quadwords 1 and 2 trade places.
    static Reg Means(const uint8_t* top, const uint8_t* bottom) {
        const __m256i pairUp = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15,  //
                                                0, 4, 1, 5, 2, 6, 3, 7, 8, 12, 9, 13, 10, 14, 11, 15);
        const __m256i ones = _mm256_set1_epi8(1);
        const auto sums = [&](const uint8_t* p) { return _mm256_maddubs_epi16(_mm256_shuffle_epi8(Load(p), pairUp), ones); };
        const __m256i low = _mm256_srli_epi16(_mm256_add_epi16(sums(top), sums(bottom)), 2);
        const __m256i high = _mm256_srli_epi16(_mm256_add_epi16(sums(top + 32), sums(bottom + 32)), 2);
        return _mm256_permute4x64_epi64(_mm256_packus_epi16(low, high), _MM_SHUFFLE(3, 1, 2, 0));
    }
};

}  // namespace

void AverageMipLevelAvx2(uint8_t* pixels, int width, int height, bool averageAlpha) {
    AverageMipLevelSimd<Avx2Average>(pixels, width, height, averageAlpha);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX2
