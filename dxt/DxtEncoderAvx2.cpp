// SIMD form of the encoder, AVX2 variant. This file is compiled with AVX2
// enabled (cmake/Isa.cmake) and runs only where the processor-feature mask
// has AVX2. Full blocks go in horizontal pairs through the steps of
// DxtBlockSse2.h on 256-bit registers, one block per 128-bit lane
// (EncodePairAvx2). A block left alone (the last of an odd count, and the
// blocks of the edges) takes the one-block steps, where Avx2Steps differs
// from the SSE2 variant: the color index step handles all 16 pixels in
// 256-bit registers, and the alpha step counts two thresholds per
// instruction and uses the SSSE3 byte shuffle and multiply-add. Same bytes
// as the portable form for every block.
#include "dxt/DxtInternal.h"

#if VT_HAVE_AVX2

#if !defined(__AVX2__)
#error "DxtEncoderAvx2.cpp must be compiled with AVX2 enabled (see cmake/Isa.cmake)"
#endif

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtTraversal.h"

namespace vt {
namespace dxt {
namespace {

// Index word of the DXT1 color block; the palette is that of the SSE2 step
// (PaletteLanes). Each pixel is zero-extended into a 64-bit quarter,
// so one sum-of-absolute-differences covers four pixels against one palette
// color (alpha included: it adds the same to all four distances).
//
// After the two packing steps the 16-bit distance lanes hold the pixels in
// the order 0 1 4 5 8 9 12 13 | 2 3 6 7 10 11 14 15 (one 128-bit half each);
// the index bits are put back in pixel order by one dword permutation.
VT_DXT_ALWAYS_INLINE uint32_t ColorIndexWordAvx2(const uint8_t* block, __m128i endpoints) {
    // P0 .. P3, each zero-extended to 64 bits, then each broadcast.
    const __m256i palette = _mm256_cvtepu32_epi64(PaletteLanes<Lanes128>(endpoints));
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

// The steps that differ from the SSE2 variant (the shape of Sse2Steps).
struct Avx2Steps {
    static uint32_t ColorIndexWord(const uint8_t* block, __m128i endpoints) {
        return ColorIndexWordAvx2(block, endpoints);
    }

    static void SpreadAlphaEndpoints(__m128i a1a0, __m128i& lo, __m128i& hi) {
        lo = _mm_broadcastw_epi16(a1a0);
        hi = _mm_broadcastw_epi16(_mm_srli_si128(a1a0, 4));
    }

    // Two thresholds per 256-bit step: the alphas in both halves, threshold
    // k in the low half and k + 1 in the high one (the last step holds t6 in
    // both and counts its low half only). A hit is -1; the sum is -count.
    static __m128i CountAtOrBelow(__m128i alphas, __m128i t) {
        const __m256i alphas2 = _mm256_broadcastsi128_si256(alphas);
        const __m256i t2 = _mm256_broadcastsi128_si256(t);
        auto pick = [&t2](long long k0, long long k1) {
            const long long bytes = 0x0101010101010101ll;
            return _mm256_shuffle_epi8(t2, _mm256_set_epi64x(k1 * bytes, k1 * bytes, k0 * bytes, k0 * bytes));
        };
        auto hits = [&alphas2](__m256i threshold) {
            return _mm256_cmpeq_epi8(_mm256_min_epu8(alphas2, threshold), alphas2);
        };
        const __m256i pairs =
            _mm256_add_epi8(_mm256_add_epi8(hits(pick(0, 1)), hits(pick(2, 3))), hits(pick(4, 5)));
        const __m128i last = _mm256_castsi256_si128(hits(pick(6, 6)));
        const __m128i negated =
            _mm_add_epi8(_mm_add_epi8(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1)), last);
        return _mm_sub_epi8(_mm_setzero_si128(), negated);
    }

    // Counts 0 .. 7 to the indices 0, 2, 3, 4, 5, 6, 7, 1 by one byte shuffle.
    static __m128i IndexFromCount(__m128i count) {
        return _mm_shuffle_epi8(_mm_setr_epi8(0, 2, 3, 4, 5, 6, 7, 1, 0, 0, 0, 0, 0, 0, 0, 0), count);
    }

    // Byte pairs to 6 bits per word (lo + 8 hi), word pairs to 12 bits per
    // dword (lo + 64 hi), by multiply-adds.
    static __m128i PackIndexPairs(__m128i index) {
        const __m128i packed = _mm_maddubs_epi16(index, _mm_set1_epi16(0x0801));
        return _mm_madd_epi16(packed, _mm_set1_epi32(0x00400001));
    }
};

// Two horizontally adjacent full blocks at once. Row r of the pair is one
// 256-bit load of 8 image pixels: block A (the left one) in the low 128-bit
// lane, block B in the high one. The steps are the SSE2 ones written over
// the register width (DxtBlockSse2.h), so each lane computes exactly what
// the one-block step computes for its block; two blocks per instruction
// halve the bounds, palette and alpha work and give the processor two
// independent chains.
template <bool kDxt5>
VT_DXT_ALWAYS_INLINE void EncodePairAvx2(const uint8_t* topLeft, size_t stride, uint8_t* out) {
    using L = Lanes256;
    __m256i rows[4];
    for (int row = 0; row < 4; ++row)
        rows[row] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(topLeft + row * stride));
    const __m256i endpoints = BoundsLanes<L>(rows);
    uint32_t first, second;
    ColorIndexMasksLanes<L>(rows, endpoints, first, second);
    // Block A's mask bits are the low 16 of each mask, block B's the high 16.
    const uint32_t wordA = (first & 0xFFFF) | (second << 16), wordB = (first >> 16) | (second & 0xFFFF0000u);
    const uint64_t endsA = Low64(_mm256_castsi256_si128(endpoints));
    const uint64_t endsB = Low64(_mm256_extracti128_si256(endpoints, 1));
    const uint32_t lowA = static_cast<uint32_t>(endsA), highA = static_cast<uint32_t>(endsA >> 32);
    const uint32_t lowB = static_cast<uint32_t>(endsB), highB = static_cast<uint32_t>(endsB >> 32);
    if (kDxt5) {
        uint64_t fieldA = kUniformAlphaField, fieldB = kUniformAlphaField;
        if (!UniformAlpha(lowA, highA) || !UniformAlpha(lowB, highB)) {
            __m256i lo, hi;
            SpreadAlphaEndpointsLanes<L>(_mm256_srli_epi32(endpoints, 24), lo, hi);
            const __m256i count =
                CountAtOrBelowLanes<L>(BlockAlphasLanes<L>(rows), AlphaThresholdsLanes<L>(lo, hi));
            const __m256i field = AlphaFieldLanes<L>(PackIndexPairsLanes<L>(IndexFromCountLanes<L>(count)));
            fieldA = Low64(_mm256_castsi256_si128(field));
            fieldB = Low64(_mm256_extracti128_si256(field, 1));
        }
        StoreU64(out, Dxt5AlphaBlock(lowA, highA, fieldA));
        StoreU64(out + 8, Dxt1ColorBlock(lowA, highA, wordA));
        StoreU64(out + 16, Dxt5AlphaBlock(lowB, highB, fieldB));
        StoreU64(out + 24, Dxt1ColorBlock(lowB, highB, wordB));
    } else {
        StoreU64(out, Dxt1ColorBlock(lowA, highA, wordA));
        StoreU64(out + 8, Dxt1ColorBlock(lowB, highB, wordB));
    }
}

struct Avx2Form {
    static constexpr bool kPairs = true;
    template <bool kDxt5>
    static void EncodePair(const uint8_t* topLeft, int width, uint8_t* out) {
        EncodePairAvx2<kDxt5>(topLeft, static_cast<size_t>(width) * 4, out);
    }
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixelsSse2(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockSimd<Avx2Steps>(block, out);
        else
            EncodeDxt1BlockSimd<Avx2Steps>(block, out);
    }
};

}  // namespace

void EncodeDxt1BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockSimd<Avx2Steps>(block, out); }
void EncodeDxt5BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockSimd<Avx2Steps>(block, out); }

void EncodeImageAvx2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<Avx2Form>(pixels, output, width, height, dxt5, bytesWritten);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX2
