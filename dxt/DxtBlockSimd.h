// Block steps and whole blocks of the DXT encoder's SIMD form, written once
// for both of its variants: each template takes the variant's steps as a
// struct (Sse2Steps in DxtBlockSse2.h, Avx2Steps in DxtEncoderAvx2.cpp) and
// is instantiated in that variant's own file, so one body serves both and
// the two cannot drift apart.
#ifndef VELTRANE_DXT_BLOCK_SIMD_H
#define VELTRANE_DXT_BLOCK_SIMD_H

#include "dxt/DxtBlockSse2.h"

#if VT_HAVE_SSE2

// Internal linkage, as in DxtBlockSse2.h: each variant's file has its own copy.
namespace vt {
namespace dxt {
namespace {

// The seven alpha thresholds (bytes 0..6) from the endpoints register
// (alpha1 in byte 3, alpha0 in byte 7): (k a0 + (7 - k) a1) / 7 + (a0 - a1) / 14
// in 16-bit lanes, with / 7 and / 14 as high-half multiplies by 0x2493 and
// 0x124A (exact for sums up to 7 x 255 and differences up to 255).
// Steps::SpreadAlphaEndpoints puts alpha1 and alpha0 into every 16-bit lane
// of `lo` and `hi`.
template <class Steps>
VT_DXT_ALWAYS_INLINE __m128i AlphaThresholdsSimd(__m128i endpoints) {
    const __m128i a1a0 = _mm_srli_epi32(endpoints, 24);  // dwords: alpha1, alpha0, ...
    __m128i lo, hi;
    Steps::SpreadAlphaEndpoints(a1a0, lo, hi);
    const __m128i weighted = _mm_add_epi16(_mm_mullo_epi16(hi, _mm_setr_epi16(0, 1, 2, 3, 4, 5, 6, 0)),
                                           _mm_mullo_epi16(lo, _mm_setr_epi16(7, 6, 5, 4, 3, 2, 1, 0)));
    const __m128i mid = _mm_mulhi_epi16(_mm_sub_epi16(hi, lo), _mm_set1_epi16(0x124A));
    const __m128i t16 = _mm_add_epi16(_mm_mulhi_epi16(weighted, _mm_set1_epi16(0x2493)), mid);
    return _mm_packus_epi16(t16, t16);  // byte k: threshold k
}

// The 48-bit alpha index field (in the low bits of the result) from the
// endpoints register, straight from the bounds step.
template <class Steps>
VT_DXT_ALWAYS_INLINE uint64_t AlphaIndexFieldSimd(const uint8_t* block, __m128i endpoints) {
    const __m128i count = Steps::CountAtOrBelow(BlockAlphas(block), AlphaThresholdsSimd<Steps>(endpoints));
    __m128i packed = Steps::PackIndexPairs(Steps::IndexFromCount(count));
    // Dword pairs to 24 bits per qword, then the upper qword moved next to
    // the lower one: 48 bits in pixel order.
    packed = _mm_or_si128(_mm_and_si128(packed, _mm_set_epi32(0, -1, 0, -1)), _mm_srli_epi64(packed, 20));
    packed = _mm_or_si128(packed, _mm_srli_si128(packed, 5));
    alignas(16) uint8_t bytes[16];
    _mm_storel_epi64(reinterpret_cast<__m128i*>(bytes), packed);
    uint64_t field;
    std::memcpy(&field, bytes, 8);
    return field & 0xFFFFFFFFFFFFull;
}

// Whole blocks from the steps above, each 8 bytes written with one store:
// DXT1 = color0 (high endpoint), color1 (low), index word; DXT5 = alpha0,
// alpha1, alpha index field, then the DXT1 block of the same bounds.
// Steps::ColorIndexWord(block, endpoints) is the variant's color index step.
template <class Steps>
inline void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out) {
    uint32_t low, high;
    __m128i endpoints;
    ColorAlphaBoundsSse2(block, low, high, endpoints);
    StoreU64(out, PackEndpointBits565(high) | (PackEndpointBits565(low) << 16) |
                      (static_cast<uint64_t>(Steps::ColorIndexWord(block, endpoints)) << 32));
}

template <class Steps>
inline void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out) {
    uint32_t low, high;
    __m128i endpoints;
    ColorAlphaBoundsSse2(block, low, high, endpoints);
    StoreU64(out, (high >> 24) | ((low >> 24) << 8) | (AlphaIndexFieldSimd<Steps>(block, endpoints) << 16));
    StoreU64(out + 8, PackEndpointBits565(high) | (PackEndpointBits565(low) << 16) |
                          (static_cast<uint64_t>(Steps::ColorIndexWord(block, endpoints)) << 32));
}

// The SSE2 alpha step on its own, as the portable SelectAlphaIndices writes
// it (for the step-level tests).
inline int SelectAlphaIndicesSse2(const uint8_t* block, uint32_t alpha1, uint32_t alpha0, uint8_t* out) {
    const uint64_t field =
        AlphaIndexFieldSimd<Sse2Steps>(block, EndpointsFromBits(alpha1 << 24, alpha0 << 24));
    for (int i = 0; i < 6; ++i) out[i] = static_cast<uint8_t>(field >> (8 * i));
    return 6;
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2

#endif  // VELTRANE_DXT_BLOCK_SIMD_H
