// Register operations of the DXT encoder's SIMD block steps, one struct per
// register width: Lanes128 (SSE2; one block per register) and, in files
// built with AVX2, Lanes256 (two blocks per register, one in each 128-bit
// lane). Every operation works within 128-bit lanes, so a step written once
// over these gives each lane exactly what the one-block step gives its block.
#ifndef VELTRANE_DXT_LANES_H
#define VELTRANE_DXT_LANES_H

#include "dxt/DxtInternal.h"

#if VT_HAVE_SSE2

#include <emmintrin.h>
#if defined(__AVX2__)
#include <immintrin.h>
#endif

#include <cstdint>

// Internal linkage: the AVX2 file compiles these with AVX2 enabled, and
// those copies must never stand in for the SSE2 ones.
namespace vt {
namespace dxt {
namespace {

struct Lanes128 {
    using Reg = __m128i;
    static Reg Zero() { return _mm_setzero_si128(); }
    // The same eight 16-bit values in every 128-bit lane.
    static Reg Words(short a, short b, short c, short d, short e, short f, short g, short h) {
        return _mm_setr_epi16(a, b, c, d, e, f, g, h);
    }
    static Reg Set16(short v) { return _mm_set1_epi16(v); }
    static Reg Set8(char v) { return _mm_set1_epi8(v); }
    static Reg MinU8(Reg a, Reg b) { return _mm_min_epu8(a, b); }
    static Reg MaxU8(Reg a, Reg b) { return _mm_max_epu8(a, b); }
    template <int kImm>
    static Reg Shuffle32(Reg a) { return _mm_shuffle_epi32(a, kImm); }
    template <int kImm>
    static Reg ShuffleLo16(Reg a) { return _mm_shufflelo_epi16(a, kImm); }
    template <int kImm>
    static Reg ShuffleHi16(Reg a) { return _mm_shufflehi_epi16(a, kImm); }
    static Reg UnpackLo8(Reg a, Reg b) { return _mm_unpacklo_epi8(a, b); }
    static Reg UnpackHi8(Reg a, Reg b) { return _mm_unpackhi_epi8(a, b); }
    static Reg UnpackLo32(Reg a, Reg b) { return _mm_unpacklo_epi32(a, b); }
    static Reg UnpackHi32(Reg a, Reg b) { return _mm_unpackhi_epi32(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm_unpacklo_epi64(a, b); }
    static Reg Add8(Reg a, Reg b) { return _mm_add_epi8(a, b); }
    static Reg Sub8(Reg a, Reg b) { return _mm_sub_epi8(a, b); }
    static Reg Add16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg Sub16(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
    static Reg MulLo16(Reg a, Reg b) { return _mm_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm_mulhi_epu16(a, b); }
    static Reg MulHiS16(Reg a, Reg b) { return _mm_mulhi_epi16(a, b); }
    template <int kBits>
    static Reg ShiftRight16(Reg a) { return _mm_srli_epi16(a, kBits); }
    template <int kBits>
    static Reg ShiftRight32(Reg a) { return _mm_srli_epi32(a, kBits); }
    template <int kBits>
    static Reg ShiftRight64(Reg a) { return _mm_srli_epi64(a, kBits); }
    template <int kBytes>
    static Reg ShiftRightBytes(Reg a) { return _mm_srli_si128(a, kBytes); }
    static Reg And(Reg a, Reg b) { return _mm_and_si128(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm_or_si128(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm_xor_si128(a, b); }
    static Reg PackUs16(Reg a, Reg b) { return _mm_packus_epi16(a, b); }
    static Reg PackS16(Reg a, Reg b) { return _mm_packs_epi16(a, b); }
    static Reg PackS32(Reg a, Reg b) { return _mm_packs_epi32(a, b); }
    static Reg Sad(Reg a, Reg b) { return _mm_sad_epu8(a, b); }
    static Reg CmpGt8(Reg a, Reg b) { return _mm_cmpgt_epi8(a, b); }
    static Reg CmpEq8(Reg a, Reg b) { return _mm_cmpeq_epi8(a, b); }
    static Reg CmpGt16(Reg a, Reg b) { return _mm_cmpgt_epi16(a, b); }
    static uint32_t MoveMask(Reg a) { return static_cast<uint32_t>(_mm_movemask_epi8(a)); }
};

#if defined(__AVX2__)
struct Lanes256 {
    using Reg = __m256i;
    static Reg Zero() { return _mm256_setzero_si256(); }
    static Reg Words(short a, short b, short c, short d, short e, short f, short g, short h) {
        return _mm256_setr_epi16(a, b, c, d, e, f, g, h, a, b, c, d, e, f, g, h);
    }
    static Reg Set16(short v) { return _mm256_set1_epi16(v); }
    static Reg Set8(char v) { return _mm256_set1_epi8(v); }
    static Reg MinU8(Reg a, Reg b) { return _mm256_min_epu8(a, b); }
    static Reg MaxU8(Reg a, Reg b) { return _mm256_max_epu8(a, b); }
    template <int kImm>
    static Reg Shuffle32(Reg a) { return _mm256_shuffle_epi32(a, kImm); }
    template <int kImm>
    static Reg ShuffleLo16(Reg a) { return _mm256_shufflelo_epi16(a, kImm); }
    template <int kImm>
    static Reg ShuffleHi16(Reg a) { return _mm256_shufflehi_epi16(a, kImm); }
    static Reg UnpackLo8(Reg a, Reg b) { return _mm256_unpacklo_epi8(a, b); }
    static Reg UnpackHi8(Reg a, Reg b) { return _mm256_unpackhi_epi8(a, b); }
    static Reg UnpackLo32(Reg a, Reg b) { return _mm256_unpacklo_epi32(a, b); }
    static Reg UnpackHi32(Reg a, Reg b) { return _mm256_unpackhi_epi32(a, b); }
    static Reg UnpackLo64(Reg a, Reg b) { return _mm256_unpacklo_epi64(a, b); }
    static Reg Add8(Reg a, Reg b) { return _mm256_add_epi8(a, b); }
    static Reg Sub8(Reg a, Reg b) { return _mm256_sub_epi8(a, b); }
    static Reg Add16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Sub16(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg MulLo16(Reg a, Reg b) { return _mm256_mullo_epi16(a, b); }
    static Reg MulHiU16(Reg a, Reg b) { return _mm256_mulhi_epu16(a, b); }
    static Reg MulHiS16(Reg a, Reg b) { return _mm256_mulhi_epi16(a, b); }
    template <int kBits>
    static Reg ShiftRight16(Reg a) { return _mm256_srli_epi16(a, kBits); }
    template <int kBits>
    static Reg ShiftRight32(Reg a) { return _mm256_srli_epi32(a, kBits); }
    template <int kBits>
    static Reg ShiftRight64(Reg a) { return _mm256_srli_epi64(a, kBits); }
    template <int kBytes>
    static Reg ShiftRightBytes(Reg a) { return _mm256_srli_si256(a, kBytes); }
    static Reg And(Reg a, Reg b) { return _mm256_and_si256(a, b); }
    static Reg Or(Reg a, Reg b) { return _mm256_or_si256(a, b); }
    static Reg Xor(Reg a, Reg b) { return _mm256_xor_si256(a, b); }
    static Reg PackUs16(Reg a, Reg b) { return _mm256_packus_epi16(a, b); }
    static Reg PackS16(Reg a, Reg b) { return _mm256_packs_epi16(a, b); }
    static Reg PackS32(Reg a, Reg b) { return _mm256_packs_epi32(a, b); }
    static Reg Sad(Reg a, Reg b) { return _mm256_sad_epu8(a, b); }
    static Reg CmpGt8(Reg a, Reg b) { return _mm256_cmpgt_epi8(a, b); }
    static Reg CmpEq8(Reg a, Reg b) { return _mm256_cmpeq_epi8(a, b); }
    static Reg CmpGt16(Reg a, Reg b) { return _mm256_cmpgt_epi16(a, b); }
    static uint32_t MoveMask(Reg a) { return static_cast<uint32_t>(_mm256_movemask_epi8(a)); }
};
#endif  // __AVX2__

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2

#endif  // VELTRANE_DXT_LANES_H
