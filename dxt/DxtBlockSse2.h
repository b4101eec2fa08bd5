// Block steps of the DXT encoder, SSE2 variant of the SIMD form.
//
// Each step gives the same bytes as its portable namesake in
// DxtBlockPortable.h; the comments say where the arithmetic differs in form
// and why the result cannot. No division: the divisions by 3, 7 and 14 are
// 16-bit multiplies keeping the high half, exact over the ranges that occur
// (checked exhaustively by the tests). The AVX2 variant (DxtEncoderAvx2.cpp)
// reuses these steps and replaces a few with its own; DxtBlockSimd.h
// assembles whole blocks from either set.
//
// Lane diagrams list the lowest lane first; p0..p15 are the block's pixels.
#ifndef VELTRANE_DXT_BLOCK_SSE2_H
#define VELTRANE_DXT_BLOCK_SSE2_H

#include "dxt/DxtInternal.h"

#if VT_HAVE_SSE2

#include <emmintrin.h>

#include <cstdint>
#include <cstring>

// The steps have internal linkage: the AVX2 file compiles them with AVX2
// enabled, and those copies must never stand in for the SSE2 ones.
namespace vt {
namespace dxt {
namespace {

inline __m128i LoadBlockRow(const uint8_t* block, int row) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(block + 16 * row));
}

inline void CopyBlockPixelsSse2(const uint8_t* topLeft, int width, uint8_t* block) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int row = 0; row < 4; ++row)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(block + 16 * row),
                         _mm_loadu_si128(reinterpret_cast<const __m128i*>(topLeft + row * stride)));
}

// All four channels at once: byte-wise min/max over the four rows, then over
// the four pixels of the row result; the inset in 16-bit lanes. The endpoints
// come back as 32-bit values, channel 0 in the low byte.
// `endpoints` keeps them in a register too: bytes 0-3 low, 4-7 high.
VT_DXT_ALWAYS_INLINE void ColorAlphaBoundsSse2(const uint8_t* block, uint32_t& lowBits, uint32_t& highBits,
                                               __m128i& endpoints) {
    const __m128i r0 = LoadBlockRow(block, 0), r1 = LoadBlockRow(block, 1);
    const __m128i r2 = LoadBlockRow(block, 2), r3 = LoadBlockRow(block, 3);
    __m128i mn = _mm_min_epu8(_mm_min_epu8(r0, r1), _mm_min_epu8(r2, r3));
    __m128i mx = _mm_max_epu8(_mm_max_epu8(r0, r1), _mm_max_epu8(r2, r3));
    mn = _mm_min_epu8(mn, _mm_shuffle_epi32(mn, _MM_SHUFFLE(1, 0, 3, 2)));
    mx = _mm_max_epu8(mx, _mm_shuffle_epi32(mx, _MM_SHUFFLE(1, 0, 3, 2)));
    mn = _mm_min_epu8(mn, _mm_shuffle_epi32(mn, _MM_SHUFFLE(2, 3, 0, 1)));
    mx = _mm_max_epu8(mx, _mm_shuffle_epi32(mx, _MM_SHUFFLE(2, 3, 0, 1)));
    // 16-bit lanes: min c0..c3, max c0..c3.
    const __m128i zero = _mm_setzero_si128();
    const __m128i both = _mm_unpacklo_epi8(_mm_unpacklo_epi32(mn, mx), zero);
    const __m128i swapped = _mm_shuffle_epi32(both, _MM_SHUFFLE(1, 0, 3, 2));  // max, min
    const __m128i inset = _mm_srli_epi16(_mm_sub_epi16(swapped, both), 4);     // lanes 0-3: range >> 4
    // Lanes 0-3: min + inset (low); lanes 4-7: max - inset (high).
    const __m128i insetBoth = _mm_unpacklo_epi64(inset, inset);
    const __m128i sign = _mm_set_epi16(-1, -1, -1, -1, 0, 0, 0, 0);
    const __m128i moved = _mm_sub_epi16(_mm_xor_si128(insetBoth, sign), sign);  // +inset, -inset
    const __m128i ends = _mm_packus_epi16(_mm_add_epi16(both, moved), zero);
    endpoints = ends;
    lowBits = static_cast<uint32_t>(_mm_cvtsi128_si32(ends));
    highBits = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(ends, 4)));
}

// The endpoints register from 32-bit values.
inline __m128i EndpointsFromBits(uint32_t lowBits, uint32_t highBits) {
    return _mm_unpacklo_epi32(_mm_cvtsi32_si128(static_cast<int>(lowBits)), _mm_cvtsi32_si128(static_cast<int>(highBits)));
}

inline void FindColorAlphaBoundsSse2(const uint8_t* block, uint8_t* low, uint8_t* high) {
    uint32_t lowBits, highBits;
    __m128i endpoints;
    ColorAlphaBoundsSse2(block, lowBits, highBits, endpoints);
    std::memcpy(low, &lowBits, 4);
    std::memcpy(high, &highBits, 4);
}

// PackEndpoint565 of an endpoint held as a 32-bit value (channel 0 lowest).
inline uint32_t PackEndpointBits565(uint32_t color) {
    return ((color & 0xF8) << 8) | ((color >> 5) & 0x7E0) | ((color >> 19) & 0x1F);
}

// The color palette P0 (from the high endpoint), P1, P2, P3 as the four
// 32-bit lanes of the result, channel 3 zero: the endpoint bytes masked to
// what the 5:6:5 word keeps, their top bits ORed in below (a high-half
// multiply by 2^11 / 2^10 is the shift right by 5 / 6), then
// (2 P0 + P1) / 3 and (P0 + 2 P1) / 3 as a signed high-half multiply by
// 0x5556 (exact for every sum up to 765).
VT_DXT_ALWAYS_INLINE __m128i ColorPaletteSse2(__m128i endpoints) {
    const __m128i zero = _mm_setzero_si128();
    __m128i ends = _mm_unpacklo_epi8(_mm_shuffle_epi32(endpoints, _MM_SHUFFLE(3, 2, 0, 1)),
                                     zero);  // 16-bit lanes: P0 c0..c3 (high), P1 c0..c3 (low)
    ends = _mm_and_si128(ends, _mm_setr_epi16(0xF8, 0xFC, 0xF8, 0, 0xF8, 0xFC, 0xF8, 0));
    ends = _mm_or_si128(ends, _mm_mulhi_epu16(ends, _mm_setr_epi16(1 << 11, 1 << 10, 1 << 11, 0, 1 << 11, 1 << 10,
                                                                       1 << 11, 0)));
    // Lanes 0-3: 2 P0 + P1, lanes 4-7: P0 + 2 P1.
    const __m128i sums = _mm_add_epi16(_mm_add_epi16(ends, ends), _mm_shuffle_epi32(ends, _MM_SHUFFLE(1, 0, 3, 2)));
    const __m128i thirds = _mm_mulhi_epi16(sums, _mm_set1_epi16(0x5556));
    return _mm_packus_epi16(ends, thirds);
}

// Distances of the 16 pixels to one palette color (channel 3 of the color
// is 0) as 16-bit lanes, pixels 0-7 in `first`, 8-15 in `second`. The
// sum-of-absolute-differences instruction sees one pixel per 64-bit half, so
// it also adds the pixel's alpha; that adds the same amount to all four
// distances of a pixel and changes no comparison (sums stay below 1021).
struct Distances {
    __m128i first, second;
};

inline Distances PaletteDistances(const __m128i* spread, __m128i color) {
    Distances d;
    d.first = _mm_packs_epi32(
        _mm_packs_epi32(_mm_sad_epu8(spread[0], color), _mm_sad_epu8(spread[1], color)),
        _mm_packs_epi32(_mm_sad_epu8(spread[2], color), _mm_sad_epu8(spread[3], color)));
    d.second = _mm_packs_epi32(
        _mm_packs_epi32(_mm_sad_epu8(spread[4], color), _mm_sad_epu8(spread[5], color)),
        _mm_packs_epi32(_mm_sad_epu8(spread[6], color), _mm_sad_epu8(spread[7], color)));
    return d;
}

// The comparison network on eight pixels: H and L as 0 / -1 lanes.
inline void ChooseIndices(__m128i d0, __m128i d1, __m128i d2, __m128i d3, __m128i& h, __m128i& l) {
    const __m128i d3below0 = _mm_cmpgt_epi16(d0, d3);
    h = _mm_or_si128(_mm_and_si128(_mm_cmpgt_epi16(d1, d2), _mm_cmpgt_epi16(d0, d2)),
                     _mm_and_si128(d3below0, _mm_cmpgt_epi16(d1, d3)));
    l = _mm_and_si128(d3below0, _mm_cmpgt_epi16(d2, d3));
}

// The index word of the DXT1 color block.
VT_DXT_ALWAYS_INLINE uint32_t ColorIndexWordSse2(const uint8_t* block, __m128i endpoints) {
    const __m128i zero = _mm_setzero_si128();
    // Each palette color alone in the low half of both 64-bit halves.
    const __m128i palette = ColorPaletteSse2(endpoints);
    const __m128i p01 = _mm_unpacklo_epi32(palette, zero);  // P0, 0, P1, 0
    const __m128i p23 = _mm_unpackhi_epi32(palette, zero);  // P2, 0, P3, 0
    const __m128i c0 = _mm_shuffle_epi32(p01, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128i c1 = _mm_shuffle_epi32(p01, _MM_SHUFFLE(3, 2, 3, 2));
    const __m128i c2 = _mm_shuffle_epi32(p23, _MM_SHUFFLE(1, 0, 1, 0));
    const __m128i c3 = _mm_shuffle_epi32(p23, _MM_SHUFFLE(3, 2, 3, 2));

    // spread[2r] = p(4r), 0, p(4r+1), 0; spread[2r+1] = p(4r+2), 0, p(4r+3), 0.
    __m128i spread[8];
    for (int row = 0; row < 4; ++row) {
        const __m128i r = LoadBlockRow(block, row);
        spread[2 * row] = _mm_unpacklo_epi32(r, zero);
        spread[2 * row + 1] = _mm_unpackhi_epi32(r, zero);
    }
    const Distances d0 = PaletteDistances(spread, c0), d1 = PaletteDistances(spread, c1);
    const Distances d2 = PaletteDistances(spread, c2), d3 = PaletteDistances(spread, c3);
    __m128i hFirst, lFirst, hSecond, lSecond;
    ChooseIndices(d0.first, d1.first, d2.first, d3.first, hFirst, lFirst);
    ChooseIndices(d0.second, d1.second, d2.second, d3.second, hSecond, lSecond);
    // Bytes L0 H0 L1 H1 ...: their sign bits are the index word's bits.
    const __m128i hBytes = _mm_packs_epi16(hFirst, hSecond);
    const __m128i lBytes = _mm_packs_epi16(lFirst, lSecond);
    return static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpacklo_epi8(lBytes, hBytes))) |
           (static_cast<uint32_t>(_mm_movemask_epi8(_mm_unpackhi_epi8(lBytes, hBytes))) << 16);
}

// Little-endian stores of the SIMD form (x86 only, so a plain copy).
inline void StoreU32(uint8_t* out, uint32_t value) { std::memcpy(out, &value, 4); }
inline void StoreU64(uint8_t* out, uint64_t value) { std::memcpy(out, &value, 8); }

inline int SelectColorIndicesSse2(const uint8_t* block, const uint8_t* low, const uint8_t* high, uint8_t* out) {
    uint32_t lowBits, highBits;
    std::memcpy(&lowBits, low, 4);
    std::memcpy(&highBits, high, 4);
    StoreU32(out, ColorIndexWordSse2(block, EndpointsFromBits(lowBits, highBits)));
    return 4;
}

// The 16 alphas of the block as bytes, in pixel order.
inline __m128i BlockAlphas(const uint8_t* block) {
    const __m128i a01 = _mm_packs_epi32(_mm_srli_epi32(LoadBlockRow(block, 0), 24),
                                        _mm_srli_epi32(LoadBlockRow(block, 1), 24));
    const __m128i a23 = _mm_packs_epi32(_mm_srli_epi32(LoadBlockRow(block, 2), 24),
                                        _mm_srli_epi32(LoadBlockRow(block, 3), 24));
    return _mm_packus_epi16(a01, a23);
}

// Byte k of t (each byte doubled into its word, `tw`) in all 16 bytes.
template <int k>
inline __m128i BroadcastThreshold(__m128i tw) {
    if constexpr (k < 4) {
        return _mm_shuffle_epi32(_mm_shufflelo_epi16(tw, k * 0x55), 0x00);
    } else {
        return _mm_shuffle_epi32(_mm_shufflehi_epi16(tw, (k - 4) * 0x55), 0xAA);
    }
}

// The steps that differ between the variants, SSE2 forms, as the templates
// of DxtBlockSimd.h take them. The AVX2 variant has a struct of the same
// shape (Avx2Steps, DxtEncoderAvx2.cpp).
struct Sse2Steps {
    static uint32_t ColorIndexWord(const uint8_t* block, __m128i endpoints) {
        return ColorIndexWordSse2(block, endpoints);
    }

    static void SpreadAlphaEndpoints(__m128i a1a0, __m128i& lo, __m128i& hi) {
        lo = _mm_shuffle_epi32(_mm_shufflelo_epi16(a1a0, 0x00), 0);
        hi = _mm_shuffle_epi32(_mm_shufflelo_epi16(a1a0, 0xAA), 0);
    }

    // Per pixel: how many of the seven thresholds its alpha does not exceed.
    // alpha <= t  <=>  min(alpha, t) == alpha; each hit adds -1.
    static __m128i CountAtOrBelow(__m128i alphas, __m128i t) {
        const __m128i tw = _mm_unpacklo_epi8(t, t);
        const __m128i t0 = BroadcastThreshold<0>(tw), t1 = BroadcastThreshold<1>(tw);
        const __m128i t2 = BroadcastThreshold<2>(tw), t3 = BroadcastThreshold<3>(tw);
        const __m128i t4 = BroadcastThreshold<4>(tw), t5 = BroadcastThreshold<5>(tw);
        const __m128i t6 = BroadcastThreshold<6>(tw);
        auto hits = [&alphas](__m128i threshold) {
            return _mm_cmpeq_epi8(_mm_min_epu8(alphas, threshold), alphas);
        };
        const __m128i negated =
            _mm_add_epi8(_mm_add_epi8(_mm_add_epi8(hits(t0), hits(t1)), _mm_add_epi8(hits(t2), hits(t3))),
                         _mm_add_epi8(_mm_add_epi8(hits(t4), hits(t5)), hits(t6)));
        return _mm_sub_epi8(_mm_setzero_si128(), negated);
    }

    // index = v ^ 1 where v < 2, with v = (count + 1) & 7: counts 0 .. 7
    // give 0, 2, 3, 4, 5, 6, 7, 1.
    static __m128i IndexFromCount(__m128i count) {
        const __m128i v = _mm_and_si128(_mm_add_epi8(count, _mm_set1_epi8(1)), _mm_set1_epi8(7));
        return _mm_xor_si128(v, _mm_and_si128(_mm_cmpgt_epi8(_mm_set1_epi8(2), v), _mm_set1_epi8(1)));
    }

    // The 3-bit indices of byte pairs to 6 bits per word, then word pairs
    // to 12 bits per dword.
    static __m128i PackIndexPairs(__m128i index) {
        const __m128i packed = _mm_or_si128(_mm_and_si128(index, _mm_set1_epi16(0x00FF)), _mm_srli_epi16(index, 5));
        return _mm_or_si128(_mm_and_si128(packed, _mm_set1_epi32(0xFFFF)), _mm_srli_epi32(packed, 10));
    }
};

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2

#endif  // VELTRANE_DXT_BLOCK_SSE2_H
