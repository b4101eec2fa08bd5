// Whole blocks of the DXT encoder's SIMD form, one at a time, from the
// steps of DxtBlockSse2.h on 128-bit registers. Both variants use them: the
// SSE2 one for every block, the AVX2 one (built with its own instruction
// set) for the blocks it cannot encode in pairs.
#ifndef VELTRANE_DXT_BLOCK_SIMD_H
#define VELTRANE_DXT_BLOCK_SIMD_H

#include "dxt/DxtBlockSse2.h"

#if VT_HAVE_SSE2

// Internal linkage, as in DxtBlockSse2.h: each variant's file has its own copy.
namespace vt {
namespace dxt {
namespace {

// The seven alpha thresholds (bytes 0..6) from alpha1 and alpha0 spread
// into every 16-bit lane of `lo` and `hi`: (k a0 + (7 - k) a1) / 7 +
// (a0 - a1) / 14 in 16-bit lanes, with / 7 and / 14 as high-half multiplies
// by 0x2493 and 0x124A (exact for sums up to 7 x 255 and differences up to
// 255).
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg AlphaThresholdsLanes(typename L::Reg lo, typename L::Reg hi) {
    const auto weighted =
        L::Add16(L::MulLo16(hi, L::Words(0, 1, 2, 3, 4, 5, 6, 0)), L::MulLo16(lo, L::Words(7, 6, 5, 4, 3, 2, 1, 0)));
    const auto mid = L::MulHiS16(L::Sub16(hi, lo), L::Set16(0x124A));
    const auto t16 = L::Add16(L::MulHiS16(weighted, L::Set16(0x2493)), mid);
    return L::PackUs16(t16, t16);  // byte k: threshold k
}

// The 48-bit alpha index field (in the low bits of the result) from the
// endpoints register, straight from the bounds step (alpha1 in byte 3,
// alpha0 in byte 7).
VT_DXT_ALWAYS_INLINE uint64_t AlphaIndexFieldSimd(const uint8_t* block, __m128i endpoints) {
    __m128i lo, hi;
    SpreadAlphaEndpointsLanes<Lanes128>(_mm_srli_epi32(endpoints, 24), lo, hi);  // dwords: alpha1, alpha0, ...
    __m128i rows[4];
    LoadBlockRows(block, rows);
    const __m128i count =
        CountAtOrBelowLanes<Lanes128>(BlockAlphasLanes<Lanes128>(rows), AlphaThresholdsLanes<Lanes128>(lo, hi));
    const __m128i field = AlphaFieldLanes<Lanes128>(PackIndexPairsLanes<Lanes128>(IndexFromCountLanes<Lanes128>(count)));
    return Low64(field) & 0xFFFFFFFFFFFFull;
}

// The alpha half of the DXT5 block: alpha0 (the high endpoint's), alpha1
// (the low one's), the 48-bit index field.
inline uint64_t Dxt5AlphaBlock(uint32_t low, uint32_t high, uint64_t field) {
    return (high >> 24) | ((low >> 24) << 8) | ((field & 0xFFFFFFFFFFFFull) << 16);
}

// A block whose 16 alphas are equal (the alpha endpoints are equal only
// then: any range of 2 or more keeps them apart) has all seven thresholds at
// that alpha, every pixel at or below all of them, so index 1 everywhere.
// Opaque planes and no-data masks are mostly such blocks, so the encoders
// test for them and skip the alpha steps.
constexpr uint64_t kUniformAlphaField = 0x249249249249ull;

inline bool UniformAlpha(uint32_t low, uint32_t high) { return (low >> 24) == (high >> 24); }

// Whole blocks from the steps above, each 8 bytes written with one store:
// DXT1 = color0 (high endpoint), color1 (low), index word; DXT5 = alpha0,
// alpha1, alpha index field, then the DXT1 block of the same bounds.
inline void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out) {
    uint32_t low, high;
    __m128i endpoints;
    ColorAlphaBoundsSse2(block, low, high, endpoints);
    StoreU64(out, Dxt1ColorBlock(low, high, ColorIndexWordSse2(block, endpoints)));
}

inline void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out) {
    uint32_t low, high;
    __m128i endpoints;
    ColorAlphaBoundsSse2(block, low, high, endpoints);
    const uint64_t field = UniformAlpha(low, high) ? kUniformAlphaField : AlphaIndexFieldSimd(block, endpoints);
    StoreU64(out, Dxt5AlphaBlock(low, high, field));
    StoreU64(out + 8, Dxt1ColorBlock(low, high, ColorIndexWordSse2(block, endpoints)));
}

// The traversal form (DxtTraversal.h) of one block at a time, which the
// SSE2 variant runs for every block and the wider ones for the blocks they
// cannot encode in runs.
struct SimdBlockForm {
    static constexpr bool kPairs = false;
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixelsSse2(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockSimd(block, out);
        else
            EncodeDxt1BlockSimd(block, out);
    }
};

// The SSE2 alpha step on its own, as the portable SelectAlphaIndices writes
// it (for the step-level tests).
inline int SelectAlphaIndicesSse2(const uint8_t* block, uint32_t alpha1, uint32_t alpha0, uint8_t* out) {
    const uint64_t field =
        AlphaIndexFieldSimd(block, EndpointsFromBits(alpha1 << 24, alpha0 << 24));
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(field >> (8 * i));
    return 6;
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2

#endif  // VELTRANE_DXT_BLOCK_SIMD_H
