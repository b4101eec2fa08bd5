// Compact JPEG decoder: the bodies of the SIMD kernels, written once for the
// SSE2 and the AVX2 form. Included only by JpegKernelsSse2.cpp and
// JpegKernelsAvx2.cpp, each built with its own instruction set: everything
// here has internal linkage, so each file gets its own copy and no AVX2
// instruction can reach the SSE2 form through a shared inline function.
//
// Templates take the form's lane operations as a struct (Lanes): Reg, and
// Add, Sub and Mul on 32-bit lanes, Mul wrapping exactly like the portable
// form's 32-bit products. Every kernel gives the bytes of its portable twin
// in JpegKernelsPortable.cpp.
#ifndef VELTRANE_JPEG_KERNELS_SIMD_H
#define VELTRANE_JPEG_KERNELS_SIMD_H

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>

#include "jpeg/JpegKernels.h"

namespace vt {
namespace jpeg {
namespace {

// ---------------------------------------------------------------------------
// Inverse DCT: the AAN butterfly on eight registers; lane j of v[i] is input
// i of the j-th one-dimensional transform.
template <class Lanes>
inline void Butterfly(typename Lanes::Reg v[8]) {
    using L = Lanes;
    const auto t10 = L::Add(v[0], v[4]);
    const auto t11 = L::Sub(v[0], v[4]);
    const auto t13 = L::Add(v[2], v[6]);
    const auto t12 = L::Sub(L::Mul(L::Sub(v[2], v[6]), kFix1_414213562), t13);
    const auto e0 = L::Add(t10, t13);
    const auto e3 = L::Sub(t10, t13);
    const auto e1 = L::Add(t11, t12);
    const auto e2 = L::Sub(t11, t12);
    const auto z13 = L::Add(v[5], v[3]);
    const auto z10 = L::Sub(v[5], v[3]);
    const auto z11 = L::Add(v[1], v[7]);
    const auto z12 = L::Sub(v[1], v[7]);
    const auto o7 = L::Add(z11, z13);
    const auto o11 = L::Mul(L::Sub(z11, z13), kFix1_414213562);
    const auto z5 = L::Mul(L::Add(z10, z12), kFix1_847759065);
    const auto o10 = L::Sub(L::Mul(z12, kFix1_082392200), z5);
    const auto o12 = L::Add(L::Mul(z10, -kFix2_613125930), z5);
    const auto o6 = L::Sub(o12, o7);
    const auto o5 = L::Sub(o11, o6);
    const auto o4 = L::Add(o10, o5);
    v[0] = L::Add(e0, o7);
    v[7] = L::Sub(e0, o7);
    v[1] = L::Add(e1, o6);
    v[6] = L::Sub(e1, o6);
    v[2] = L::Add(e2, o5);
    v[5] = L::Sub(e2, o5);
    v[4] = L::Add(e3, o4);
    v[3] = L::Sub(e3, o4);
}

// ---------------------------------------------------------------------------
// Color conversion: the chroma offsets. Templates take the form's 16-bit
// lane operations as a struct (ChromaLanes): Reg, and the SSE2
// instructions of the same names, on 128-bit registers (one chroma row of
// eight samples) or on each 128-bit half of an AVX2 register (two rows).
//
// Color offsets of eight chroma sample pairs, computed with the same
// integers as the decoder's tables (multipliers split so that every factor
// fits a signed 16-bit lane of pmaddwd):
//   116130 x + 32768 = 131072 x + (-14942 x + 2 * 16384)
//    91881 x + 32768 =  65536 x + ( 26345 x + 2 * 16384)
//   -22554 b + 32768 - 46802 r = -65536 r + (-22554 b + 18734 r) + 32768
template <class L>
inline typename L::Reg MaddShift16(typename L::Reg a, typename L::Reg b, typename L::Reg factors,
                                   typename L::Reg add) {
    const auto lo = L::AddEpi32(L::MaddEpi16(L::UnpackloEpi16(a, b), factors), add);
    const auto hi = L::AddEpi32(L::MaddEpi16(L::UnpackhiEpi16(a, b), factors), add);
    return L::PacksEpi32(L::SraiEpi32By16(lo), L::SraiEpi32By16(hi));
}

// xb, xr: Cb - 128 and Cr - 128 as 16-bit lanes.
template <class L>
inline typename L::Offsets ChromaOffsetsFromCentred(typename L::Reg xb, typename L::Reg xr) {
    const auto two = L::Set1Epi16(2);
    const auto none = L::Zero();
    typename L::Offsets o;
    o.blue = L::AddEpi16(L::AddEpi16(xb, xb),
                         MaddShift16<L>(xb, two, L::Set1Epi32((16384 << 16) | (-14942 & 0xFFFF)), none));
    o.red = L::AddEpi16(xr, MaddShift16<L>(xr, two, L::Set1Epi32((16384 << 16) | 26345), none));
    o.green = L::SubEpi16(MaddShift16<L>(xb, xr, L::Set1Epi32((18734 << 16) | (-22554 & 0xFFFF)), L::Set1Epi32(32768)),
                          xr);
    return o;
}

struct Sse2ChromaLanes {
    using Reg = __m128i;
    struct Offsets {
        Reg blue, green, red;
    };
    static Reg UnpackloEpi16(Reg a, Reg b) { return _mm_unpacklo_epi16(a, b); }
    static Reg UnpackhiEpi16(Reg a, Reg b) { return _mm_unpackhi_epi16(a, b); }
    static Reg MaddEpi16(Reg a, Reg b) { return _mm_madd_epi16(a, b); }
    static Reg AddEpi32(Reg a, Reg b) { return _mm_add_epi32(a, b); }
    static Reg SraiEpi32By16(Reg a) { return _mm_srai_epi32(a, 16); }
    static Reg PacksEpi32(Reg a, Reg b) { return _mm_packs_epi32(a, b); }
    static Reg AddEpi16(Reg a, Reg b) { return _mm_add_epi16(a, b); }
    static Reg SubEpi16(Reg a, Reg b) { return _mm_sub_epi16(a, b); }
    static Reg Set1Epi16(int16_t v) { return _mm_set1_epi16(v); }
    static Reg Set1Epi32(int32_t v) { return _mm_set1_epi32(v); }
    static Reg Zero() { return _mm_setzero_si128(); }
};

using ChromaOffsets = Sse2ChromaLanes::Offsets;

// The offsets of one chroma row (eight Cb and eight Cr samples).
inline ChromaOffsets ComputeChromaOffsets(const uint8_t* cb, const uint8_t* cr) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bias = _mm_set1_epi16(128);
    const __m128i xb = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cb)), zero), bias);
    const __m128i xr = _mm_sub_epi16(_mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(cr)), zero), bias);
    return ChromaOffsetsFromCentred<Sse2ChromaLanes>(xb, xr);
}

}  // namespace
}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_KERNELS_SIMD_H
