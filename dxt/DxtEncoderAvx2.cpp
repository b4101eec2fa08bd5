// SIMD form of the encoder, AVX2 variant. This file alone is compiled with
// AVX2 enabled and runs only where the processor reported AVX2 at load
// (CpuHasAvx2). It differs from the SSE2 variant in the color index step,
// which handles all 16 pixels in 256-bit registers; the bounds and alpha steps
// are the SSE2 ones, compiled here with the VEX encoding and the SSSE3 byte
// shuffle and multiply-add where DxtBlockSimd.h offers them. Same bytes as the
// portable form for every block.
#include "dxt/DxtInternal.h"

#if VT_DXT_HAVE_AVX2

#if !defined(__AVX2__)
#error "DxtEncoderAvx2.cpp must be compiled with AVX2 enabled (see dxt/CMakeLists.txt)"
#endif

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtTraversal.h"

namespace dxt {
namespace {

// Index word of the DXT1 color block; the palette is that of the SSE2 step
// (ColorPaletteSimd). Each pixel is zero-extended into a 64-bit quarter,
// so one sum-of-absolute-differences covers four pixels against one palette
// color (alpha included: it adds the same to all four distances).
//
// After the two packing steps the 16-bit distance lanes hold the pixels in
// the order 0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15 (one 128-bit half each);
// the index bits are put back in pixel order by one dword permutation.
VT_DXT_ALWAYS_INLINE uint32_t ColorIndexWordAvx2(const uint8_t* block, __m128i endpoints) {
    // P0 .. P3, each zero-extended to 64 bits, then each broadcast.
    const __m256i palette = _mm256_cvtepu32_epi64(ColorPaletteSimd(endpoints));
    const __m256i c0 = _mm256_permute4x64_epi64(palette, 0x00), c1 = _mm256_permute4x64_epi64(palette, 0x55);
    const __m256i c2 = _mm256_permute4x64_epi64(palette, 0xAA), c3 = _mm256_permute4x64_epi64(palette, 0xFF);

    __m256i spread[4];
    for (int row = 0; row < 4; ++row) spread[row] = _mm256_cvtepu32_epi64(LoadBlockRow(block, row));
    auto distances = [&spread](__m256i color) {
        const __m256i a = _mm256_sad_epu8(spread[0], color), b = _mm256_sad_epu8(spread[1], color);
        const __m256i c = _mm256_sad_epu8(spread[2], color), d = _mm256_sad_epu8(spread[3], color);
        return _mm256_packs_epi32(_mm256_packs_epi32(a, b), _mm256_packs_epi32(c, d));
    };
    const __m256i d0 = distances(c0), d1 = distances(c1), d2 = distances(c2), d3 = distances(c3);
    const __m256i d3below0 = _mm256_cmpgt_epi16(d0, d3);
    const __m256i h = _mm256_or_si256(_mm256_and_si256(_mm256_cmpgt_epi16(d1, d2), _mm256_cmpgt_epi16(d0, d2)),
                                      _mm256_and_si256(d3below0, _mm256_cmpgt_epi16(d1, d3)));
    const __m256i l = _mm256_and_si256(d3below0, _mm256_cmpgt_epi16(d2, d3));
    // Bytes L H per pixel, two pixels per dword, then the dwords in pixel
    // order: their sign bits are the index word.
    const __m256i lh = _mm256_packs_epi16(l, h);  // per half: 8 L bytes, 8 H bytes
    const __m256i pairs = _mm256_unpacklo_epi8(lh, _mm256_srli_si256(lh, 8));
    const __m256i ordered = _mm256_permutevar8x32_epi32(pairs, _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
    return static_cast<uint32_t>(_mm256_movemask_epi8(ordered));
}

struct Avx2ColorStep {
    static uint32_t IndexWord(const uint8_t* block, __m128i endpoints) {
        return ColorIndexWordAvx2(block, endpoints);
    }
};

struct Avx2Form {
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixelsSimd(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockWith<Avx2ColorStep>(block, out);
        else
            EncodeDxt1BlockWith<Avx2ColorStep>(block, out);
    }
};

}  // namespace

void EncodeDxt1BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockWith<Avx2ColorStep>(block, out); }
void EncodeDxt5BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockWith<Avx2ColorStep>(block, out); }

void EncodeImageAvx2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<Avx2Form>(pixels, output, width, height, dxt5, bytesWritten);
}

}  // namespace dxt

#endif  // VT_DXT_HAVE_AVX2
