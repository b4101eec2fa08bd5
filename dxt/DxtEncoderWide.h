// The DXT encoder's SIMD form on 256-bit registers: full blocks in
// horizontal pairs, one block per 128-bit lane, through the steps of
// DxtBlockSse2.h written over the register width. Built into two variants,
// each from a file compiled with its instruction set (cmake/Isa.cmake):
// AVX2 (DxtEncoderAvx2.cpp) and AVX-512 (DxtEncoderAvx512.cpp: the same
// code with the EVEX encodings and 32 vector registers, which keep both
// blocks' distances and palette in registers where AVX2's 16 spill them).
// A block left alone (the last of an odd count, and the blocks of the
// edges: a few per image) takes the one-block SIMD steps (DxtBlockSimd.h).
// Same bytes as the portable form for every block.
//
// Internal linkage on purpose: each variant's file compiles its own copy
// with its own instruction set.
#ifndef VELTRANE_DXT_ENCODER_WIDE_H
#define VELTRANE_DXT_ENCODER_WIDE_H

#include "dxt/DxtInternal.h"

#if VT_HAVE_AVX2

#if !defined(__AVX2__)
#error "DxtEncoderWide.h must be compiled with AVX2 enabled (see cmake/Isa.cmake)"
#endif

#include <immintrin.h>

#include <cstdint>
#include <cstring>

#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtTraversal.h"

namespace vt {
namespace dxt {
namespace {

// Two horizontally adjacent full blocks at once. Row r of the pair is one
// 256-bit load of 8 image pixels: block A (the left one) in the low 128-bit
// lane, block B in the high one. The steps are the SSE2 ones written over
// the register width (DxtBlockSse2.h), so each lane computes exactly what
// the one-block step computes for its block; two blocks per instruction
// halve the bounds, palette and alpha work and give the processor two
// independent chains.
//
// A pair's steps form one long chain (bounds, palette, distances, choice),
// too long for the processor to reach the next pair's independent work on
// its own; so a run of pairs is encoded in two overlapping stages: the
// bounds and palette of the next pair are worked out beside the distances
// of this one.
struct PairFront {
    __m256i rows[4];
    __m256i colors[4];
    uint32_t lowA, highA, lowB, highB;
    uint64_t fieldA, fieldB;  // DXT5 only
};

template <bool kDxt5>
VT_DXT_ALWAYS_INLINE void PairFrontStage(const uint8_t* topLeft, size_t stride, PairFront& f) {
    using L = Lanes256;
    for (int row = 0; row < 4; ++row)
        f.rows[row] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(topLeft + row * stride));
    const __m256i endpoints = BoundsLanes<L>(f.rows);
    PaletteColorsLanes<L>(endpoints, f.colors);
    const uint64_t endsA = Low64(_mm256_castsi256_si128(endpoints));
    const uint64_t endsB = Low64(_mm256_extracti128_si256(endpoints, 1));
    f.lowA = static_cast<uint32_t>(endsA);
    f.highA = static_cast<uint32_t>(endsA >> 32);
    f.lowB = static_cast<uint32_t>(endsB);
    f.highB = static_cast<uint32_t>(endsB >> 32);
    if (kDxt5) {
        f.fieldA = f.fieldB = kUniformAlphaField;
        if (!UniformAlpha(f.lowA, f.highA) || !UniformAlpha(f.lowB, f.highB)) {
            __m256i lo, hi;
            SpreadAlphaEndpointsLanes<L>(_mm256_srli_epi32(endpoints, 24), lo, hi);
            const __m256i count =
                CountAtOrBelowLanes<L>(BlockAlphasLanes<L>(f.rows), AlphaThresholdsLanes<L>(lo, hi));
            const __m256i field = AlphaFieldLanes<L>(PackIndexPairsLanes<L>(IndexFromCountLanes<L>(count)));
            f.fieldA = Low64(_mm256_castsi256_si128(field));
            f.fieldB = Low64(_mm256_extracti128_si256(field, 1));
        }
    }
}

template <bool kDxt5>
VT_DXT_ALWAYS_INLINE void PairBackStage(const PairFront& f, uint8_t* out) {
    uint32_t first, second;
    IndexMasksLanes<Lanes256>(f.rows, f.colors, first, second);
    // Block A's mask bits are the low 16 of each mask, block B's the high 16.
    const uint32_t wordA = (first & 0xFFFF) | (second << 16), wordB = (first >> 16) | (second & 0xFFFF0000u);
    if (kDxt5) {
        StoreU64(out, Dxt5AlphaBlock(f.lowA, f.highA, f.fieldA));
        StoreU64(out + 8, Dxt1ColorBlock(f.lowA, f.highA, wordA));
        StoreU64(out + 16, Dxt5AlphaBlock(f.lowB, f.highB, f.fieldB));
        StoreU64(out + 24, Dxt1ColorBlock(f.lowB, f.highB, wordB));
    } else {
        StoreU64(out, Dxt1ColorBlock(f.lowA, f.highA, wordA));
        StoreU64(out + 8, Dxt1ColorBlock(f.lowB, f.highB, wordB));
    }
}

// `pairs` (at least 1) pairs of full blocks from `topLeft` rightwards, in
// each of `blockRows` (at least 1) block rows from there down; the rows'
// blocks are written back to back, so an image whose block rows are pairs
// alone is one run for the two stages, without a restart per row.
template <bool kDxt5>
VT_DXT_ALWAYS_INLINE void EncodePairsWide(const uint8_t* topLeft, size_t stride, int pairs, int blockRows,
                                          uint8_t* out) {
    constexpr int kPairBytes = kDxt5 ? 32 : 16;
    PairFront current;
    PairFrontStage<kDxt5>(topLeft, stride, current);
    const uint8_t* rowStart = topLeft;
    int column = 0;
    for (long long left = static_cast<long long>(pairs) * blockRows - 1; left > 0; --left) {
        if (++column == pairs) {
            column = 0;
            rowStart += 4 * stride;
        }
        PairFront next;
        PairFrontStage<kDxt5>(rowStart + 32 * static_cast<size_t>(column), stride, next);
        PairBackStage<kDxt5>(current, out);
        out += kPairBytes;
        current = next;
    }
    PairBackStage<kDxt5>(current, out);
}

struct WideForm : SimdBlockForm {
    static constexpr bool kPairs = true;
    template <bool kDxt5>
    static void EncodePairs(const uint8_t* topLeft, int width, int pairs, int blockRows, uint8_t* out) {
        EncodePairsWide<kDxt5>(topLeft, static_cast<size_t>(width) * 4, pairs, blockRows, out);
    }
};

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX2

#endif  // VELTRANE_DXT_ENCODER_WIDE_H
