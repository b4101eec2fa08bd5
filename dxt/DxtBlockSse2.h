// Block steps of the DXT encoder's SIMD form, written once over the register
// width (DxtLanes.h): with 128-bit registers they are the SSE2 variant's
// steps for one block; the AVX2 variant runs the same steps on 256-bit
// registers for two blocks side by side (DxtEncoderAvx2.cpp).
// DxtBlockSimd.h assembles whole blocks one at a time.
//
// Each step gives the same bytes as its portable namesake in
// DxtBlockPortable.h; the comments say where the arithmetic differs in form
// and why the result cannot. No division: the divisions by 3, 7 and 14 are
// 16-bit multiplies keeping the high half, exact over the ranges that occur
// (checked exhaustively by the tests).
//
// Lane diagrams list the lowest lane first; p0..p15 are the block's pixels.
#ifndef VELTRANE_DXT_BLOCK_SSE2_H
#define VELTRANE_DXT_BLOCK_SSE2_H

#include "dxt/DxtInternal.h"
#include "dxt/DxtLanes.h"

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

// The steps below are written over a register width (L: Lanes128 or
// Lanes256 of DxtLanes.h); `rows` are the block's four rows of four pixels,
// one register each (two blocks side by side with Lanes256).

// All four channels at once: byte-wise min/max over the four rows, then over
// the four pixels of the row result; the inset in 16-bit lanes. Result:
// bytes 0-3 the low endpoint, bytes 4-7 the high one, channel 0 first.
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg BoundsLanes(const typename L::Reg* rows) {
    using Reg = typename L::Reg;
    Reg mn = L::MinU8(L::MinU8(rows[0], rows[1]), L::MinU8(rows[2], rows[3]));
    Reg mx = L::MaxU8(L::MaxU8(rows[0], rows[1]), L::MaxU8(rows[2], rows[3]));
    mn = L::MinU8(mn, L::template Shuffle32<_MM_SHUFFLE(1, 0, 3, 2)>(mn));
    mx = L::MaxU8(mx, L::template Shuffle32<_MM_SHUFFLE(1, 0, 3, 2)>(mx));
    mn = L::MinU8(mn, L::template Shuffle32<_MM_SHUFFLE(2, 3, 0, 1)>(mn));
    mx = L::MaxU8(mx, L::template Shuffle32<_MM_SHUFFLE(2, 3, 0, 1)>(mx));
    // 16-bit lanes: min c0..c3, max c0..c3.
    const Reg zero = L::Zero();
    const Reg both = L::UnpackLo8(L::UnpackLo32(mn, mx), zero);
    const Reg swapped = L::template Shuffle32<_MM_SHUFFLE(1, 0, 3, 2)>(both);  // max, min
    const Reg inset = L::template ShiftRight16<4>(L::Sub16(swapped, both));    // lanes 0-3: range >> 4
    // Lanes 0-3: min + inset (low); lanes 4-7: max - inset (high).
    const Reg insetBoth = L::UnpackLo64(inset, inset);
    const Reg sign = L::Words(0, 0, 0, 0, -1, -1, -1, -1);
    const Reg moved = L::Sub16(L::Xor(insetBoth, sign), sign);  // +inset, -inset
    return L::PackUs16(L::Add16(both, moved), zero);
}

// The color palette P0 (from the high endpoint), P1, P2, P3 as the four
// 32-bit lanes of the result, channel 3 zero: the endpoint bytes masked to
// what the 5:6:5 word keeps, their top bits ORed in below (a high-half
// multiply by 2^11 / 2^10 is the shift right by 5 / 6), then
// (2 P0 + P1) / 3 and (P0 + 2 P1) / 3 as a signed high-half multiply by
// 0x5556 (exact for every sum up to 765).
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg PaletteLanes(typename L::Reg endpoints) {
    using Reg = typename L::Reg;
    // 16-bit lanes: P0 c0..c3 (high), P1 c0..c3 (low).
    Reg ends = L::UnpackLo8(L::template Shuffle32<_MM_SHUFFLE(3, 2, 0, 1)>(endpoints), L::Zero());
    ends = L::And(ends, L::Words(0xF8, 0xFC, 0xF8, 0, 0xF8, 0xFC, 0xF8, 0));
    ends = L::Or(ends, L::MulHiU16(ends, L::Words(1 << 11, 1 << 10, 1 << 11, 0, 1 << 11, 1 << 10, 1 << 11, 0)));
    // Lanes 0-3: 2 P0 + P1, lanes 4-7: P0 + 2 P1.
    const Reg sums = L::Add16(L::Add16(ends, ends), L::template Shuffle32<_MM_SHUFFLE(1, 0, 3, 2)>(ends));
    return L::PackUs16(ends, L::MulHiS16(sums, L::Set16(0x5556)));
}

// Distances of eight pixels (two per `spread` register, each alone in a
// 64-bit half) to one palette color (channel 3 zero) as 16-bit lanes in pixel
// order. The sum-of-absolute-differences instruction also adds the pixel's
// alpha; that adds the same amount to all four distances of a pixel and
// changes no comparison (sums stay below 1021).
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg DistancesLanes(const typename L::Reg* spread, typename L::Reg color) {
    return L::PackS32(L::PackS32(L::Sad(spread[0], color), L::Sad(spread[1], color)),
                      L::PackS32(L::Sad(spread[2], color), L::Sad(spread[3], color)));
}

// The comparison network on eight pixels: H and L as 0 / -1 lanes.
template <class L>
VT_DXT_ALWAYS_INLINE void ChooseLanes(typename L::Reg d0, typename L::Reg d1, typename L::Reg d2,
                                      typename L::Reg d3, typename L::Reg& h, typename L::Reg& l) {
    const typename L::Reg d3below0 = L::CmpGt16(d0, d3);
    h = L::Or(L::And(L::CmpGt16(d1, d2), L::CmpGt16(d0, d2)), L::And(d3below0, L::CmpGt16(d1, d3)));
    l = L::And(d3below0, L::CmpGt16(d2, d3));
}

// Each palette color alone in the low half of both 64-bit halves of a
// register, ready for the distances: colors[k] = Pk, 0, Pk, 0.
template <class L>
VT_DXT_ALWAYS_INLINE void PaletteColorsLanes(typename L::Reg endpoints, typename L::Reg* colors) {
    using Reg = typename L::Reg;
    const Reg zero = L::Zero();
    const Reg palette = PaletteLanes<L>(endpoints);
    const Reg p01 = L::UnpackLo32(palette, zero);  // P0, 0, P1, 0
    const Reg p23 = L::UnpackHi32(palette, zero);  // P2, 0, P3, 0
    colors[0] = L::template Shuffle32<_MM_SHUFFLE(1, 0, 1, 0)>(p01);
    colors[1] = L::template Shuffle32<_MM_SHUFFLE(3, 2, 3, 2)>(p01);
    colors[2] = L::template Shuffle32<_MM_SHUFFLE(1, 0, 1, 0)>(p23);
    colors[3] = L::template Shuffle32<_MM_SHUFFLE(3, 2, 3, 2)>(p23);
}

// The index bits of the DXT1 color block as two byte masks: `first` for
// pixels 0-7, `second` for 8-15, 16 bits per 128-bit lane (lane 0 lowest).
template <class L>
VT_DXT_ALWAYS_INLINE void IndexMasksLanes(const typename L::Reg* rows, const typename L::Reg* colors,
                                          uint32_t& first, uint32_t& second) {
    using Reg = typename L::Reg;
    const Reg zero = L::Zero();
    // spread[2r] = p(4r), 0, p(4r+1), 0; spread[2r+1] = p(4r+2), 0, p(4r+3), 0.
    Reg spread[8];
    for (int row = 0; row < 4; ++row) {
        spread[2 * row] = L::UnpackLo32(rows[row], zero);
        spread[2 * row + 1] = L::UnpackHi32(rows[row], zero);
    }
    Reg hFirst, lFirst, hSecond, lSecond;
    ChooseLanes<L>(DistancesLanes<L>(spread, colors[0]), DistancesLanes<L>(spread, colors[1]),
                   DistancesLanes<L>(spread, colors[2]), DistancesLanes<L>(spread, colors[3]), hFirst, lFirst);
    ChooseLanes<L>(DistancesLanes<L>(spread + 4, colors[0]), DistancesLanes<L>(spread + 4, colors[1]),
                   DistancesLanes<L>(spread + 4, colors[2]), DistancesLanes<L>(spread + 4, colors[3]), hSecond,
                   lSecond);
    // Bytes L0 H0 L1 H1 ...: their sign bits are the index word's bits.
    const Reg hBytes = L::PackS16(hFirst, hSecond), lBytes = L::PackS16(lFirst, lSecond);
    first = L::MoveMask(L::UnpackLo8(lBytes, hBytes));
    second = L::MoveMask(L::UnpackHi8(lBytes, hBytes));
}

template <class L>
VT_DXT_ALWAYS_INLINE void ColorIndexMasksLanes(const typename L::Reg* rows, typename L::Reg endpoints,
                                               uint32_t& first, uint32_t& second) {
    typename L::Reg colors[4];
    PaletteColorsLanes<L>(endpoints, colors);
    IndexMasksLanes<L>(rows, colors, first, second);
}

// The low 64 bits of a register (also where 32-bit x86 has no 64-bit move).
inline uint64_t Low64(__m128i v) {
#if defined(__x86_64__) || defined(_M_X64)
    return static_cast<uint64_t>(_mm_cvtsi128_si64(v));
#else
    uint64_t bits;
    _mm_storel_epi64(reinterpret_cast<__m128i*>(&bits), v);
    return bits;
#endif
}

inline void LoadBlockRows(const uint8_t* block, __m128i* rows) {
    for (int row = 0; row < 4; ++row) rows[row] = LoadBlockRow(block, row);
}

// The bounds step of one block; the endpoints come back as 32-bit values,
// channel 0 in the low byte, and in `endpoints` as BoundsLanes gives them.
VT_DXT_ALWAYS_INLINE void ColorAlphaBoundsSse2(const uint8_t* block, uint32_t& lowBits, uint32_t& highBits,
                                               __m128i& endpoints) {
    __m128i rows[4];
    LoadBlockRows(block, rows);
    endpoints = BoundsLanes<Lanes128>(rows);
    lowBits = static_cast<uint32_t>(_mm_cvtsi128_si32(endpoints));
    highBits = static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(endpoints, 4)));
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

// The DXT1 color block from the endpoints and the index word.
inline uint64_t Dxt1ColorBlock(uint32_t low, uint32_t high, uint32_t indices) {
    return PackEndpointBits565(high) | (PackEndpointBits565(low) << 16) | (static_cast<uint64_t>(indices) << 32);
}

// The index word of the DXT1 color block.
VT_DXT_ALWAYS_INLINE uint32_t ColorIndexWordSse2(const uint8_t* block, __m128i endpoints) {
    __m128i rows[4];
    LoadBlockRows(block, rows);
    uint32_t first, second;
    ColorIndexMasksLanes<Lanes128>(rows, endpoints, first, second);
    return first | (second << 16);
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
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg BlockAlphasLanes(const typename L::Reg* rows) {
    const auto a01 = L::PackS32(L::template ShiftRight32<24>(rows[0]), L::template ShiftRight32<24>(rows[1]));
    const auto a23 = L::PackS32(L::template ShiftRight32<24>(rows[2]), L::template ShiftRight32<24>(rows[3]));
    return L::PackUs16(a01, a23);
}

// Byte k of t (each byte doubled into its word, `tw`) in all 16 bytes.
template <class L, int k>
VT_DXT_ALWAYS_INLINE typename L::Reg BroadcastThreshold(typename L::Reg tw) {
    if constexpr (k < 4) {
        return L::template Shuffle32<0x00>(L::template ShuffleLo16<k * 0x55>(tw));
    } else {
        return L::template Shuffle32<0xAA>(L::template ShuffleHi16<(k - 4) * 0x55>(tw));
    }
}

// Per pixel: how many of the seven thresholds (bytes 0..6 of t) its alpha
// does not exceed. alpha <= t  <=>  min(alpha, t) == alpha; each hit adds -1.
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg CountAtOrBelowLanes(typename L::Reg alphas, typename L::Reg t) {
    using Reg = typename L::Reg;
    const Reg tw = L::UnpackLo8(t, t);
    auto hits = [&alphas](Reg threshold) { return L::CmpEq8(L::MinU8(alphas, threshold), alphas); };
    const Reg negated = L::Add8(
        L::Add8(L::Add8(hits(BroadcastThreshold<L, 0>(tw)), hits(BroadcastThreshold<L, 1>(tw))),
                L::Add8(hits(BroadcastThreshold<L, 2>(tw)), hits(BroadcastThreshold<L, 3>(tw)))),
        L::Add8(L::Add8(hits(BroadcastThreshold<L, 4>(tw)), hits(BroadcastThreshold<L, 5>(tw))),
                hits(BroadcastThreshold<L, 6>(tw))));
    return L::Sub8(L::Zero(), negated);
}

// index = v ^ 1 where v < 2, with v = (count + 1) & 7: counts 0 .. 7
// give 0, 2, 3, 4, 5, 6, 7, 1.
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg IndexFromCountLanes(typename L::Reg count) {
    const auto v = L::And(L::Add8(count, L::Set8(1)), L::Set8(7));
    return L::Xor(v, L::And(L::CmpGt8(L::Set8(2), v), L::Set8(1)));
}

// The 3-bit indices of byte pairs to 6 bits per word, then word pairs to
// 12 bits per dword.
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg PackIndexPairsLanes(typename L::Reg index) {
    const auto packed = L::Or(L::And(index, L::Set16(0x00FF)), L::template ShiftRight16<5>(index));
    return L::Or(L::And(packed, L::Words(-1, 0, -1, 0, -1, 0, -1, 0)), L::template ShiftRight32<10>(packed));
}

// 12 bits per dword to the 48-bit alpha index field in the low bits of each
// 128-bit lane: dword pairs to 24 bits per qword, then the upper qword moved
// next to the lower one.
template <class L>
VT_DXT_ALWAYS_INLINE typename L::Reg AlphaFieldLanes(typename L::Reg packed) {
    packed = L::Or(L::And(packed, L::Words(-1, -1, 0, 0, -1, -1, 0, 0)), L::template ShiftRight64<20>(packed));
    return L::Or(packed, L::template ShiftRightBytes<5>(packed));
}

// alpha1 and alpha0 (dwords 0 and 1 of `a1a0`) into every 16-bit lane of
// `lo` and `hi`.
template <class L>
VT_DXT_ALWAYS_INLINE void SpreadAlphaEndpointsLanes(typename L::Reg a1a0, typename L::Reg& lo,
                                                    typename L::Reg& hi) {
    lo = L::template Shuffle32<0>(L::template ShuffleLo16<0x00>(a1a0));
    hi = L::template Shuffle32<0>(L::template ShuffleLo16<0xAA>(a1a0));
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2

#endif  // VELTRANE_DXT_BLOCK_SSE2_H
