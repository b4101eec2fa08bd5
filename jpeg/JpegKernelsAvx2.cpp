// Compact JPEG decoder: AVX2 inverse DCT and color conversion, the latter
// two pixel rows per register (built with AVX2 enabled, cmake/Isa.cmake;
// called only where the processor-feature mask has AVX2). Each yields the
// same bytes as its portable twin in JpegKernelsPortable.cpp.
#include "jpeg/JpegKernels.h"

#if VT_HAVE_AVX2

#if !defined(__AVX2__)
#error "JpegKernelsAvx2.cpp must be compiled with AVX2 enabled (see cmake/Isa.cmake)"
#endif

#include <immintrin.h>

#include "jpeg/JpegKernelsSimd.h"

namespace vt {
namespace jpeg {
namespace {

// 32-bit lanes for the shared butterfly (JpegKernelsSimd.h). Mul: x * c,
// low 32 bits (wrapping exactly like the portable form), then an arithmetic
// shift by the 8 fractional bits of c.
struct Avx2Lanes {
    using Reg = __m256i;
    static Reg Add(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm256_sub_epi32(a, b); }
    static Reg Mul(Reg x, int32_t c) { return _mm256_srai_epi32(_mm256_mullo_epi32(x, _mm256_set1_epi32(c)), 8); }
};

// 8x8 transpose of 32-bit elements: v[i] lane j -> v[j] lane i.
inline void Transpose8x8(__m256i v[8]) {
    const __m256i t0 = _mm256_unpacklo_epi32(v[0], v[1]);  // 00 10 01 11 | 04 14 05 15
    const __m256i t1 = _mm256_unpackhi_epi32(v[0], v[1]);  // 02 12 03 13 | 06 16 07 17
    const __m256i t2 = _mm256_unpacklo_epi32(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi32(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi32(v[4], v[5]);
    const __m256i t5 = _mm256_unpackhi_epi32(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi32(v[6], v[7]);
    const __m256i t7 = _mm256_unpackhi_epi32(v[6], v[7]);
    const __m256i u0 = _mm256_unpacklo_epi64(t0, t2);  // 00 10 20 30 | 04 14 24 34
    const __m256i u1 = _mm256_unpackhi_epi64(t0, t2);  // 01 11 21 31 | 05 15 25 35
    const __m256i u2 = _mm256_unpacklo_epi64(t1, t3);  // 02 .. | 06 ..
    const __m256i u3 = _mm256_unpackhi_epi64(t1, t3);  // 03 .. | 07 ..
    const __m256i u4 = _mm256_unpacklo_epi64(t4, t6);  // 40 50 60 70 | 44 54 64 74
    const __m256i u5 = _mm256_unpackhi_epi64(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi64(t5, t7);
    const __m256i u7 = _mm256_unpackhi_epi64(t5, t7);
    v[0] = _mm256_permute2x128_si256(u0, u4, 0x20);
    v[4] = _mm256_permute2x128_si256(u0, u4, 0x31);
    v[1] = _mm256_permute2x128_si256(u1, u5, 0x20);
    v[5] = _mm256_permute2x128_si256(u1, u5, 0x31);
    v[2] = _mm256_permute2x128_si256(u2, u6, 0x20);
    v[6] = _mm256_permute2x128_si256(u2, u6, 0x31);
    v[3] = _mm256_permute2x128_si256(u3, u7, 0x20);
    v[7] = _mm256_permute2x128_si256(u3, u7, 0x31);
}

// The range-limit table's IDCT window as arithmetic: bits 5..14 of x as a
// signed 10-bit number, plus 128 (the pack instructions then clamp).
inline __m256i RangeLimit(__m256i x) {
    return _mm256_add_epi32(_mm256_srai_epi32(_mm256_slli_epi32(x, 17), 22), _mm256_set1_epi32(128));
}

}  // namespace

void InverseDctAvx2(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t*, uint8_t* samples) {
    __m256i v[8];
    // Dequantise: the multipliers (at most 1962) fit a signed 16-bit lane,
    // so pmaddwd of (coefficient, sign) by (multiplier, 0) is the product.
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m256i c = _mm256_cvtepi16_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(coefficients + 8 * r)));
        const __m256i m = _mm256_cvtepu16_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(multipliers + 8 * r)));
        v[r] = _mm256_madd_epi16(c, m);
    }
    // Columns: lane j of v[r] is row r of column j. The all-zero shortcuts
    // of the portable form give the butterfly's values, so none is needed.
    Butterfly<Avx2Lanes>(v);
    Transpose8x8(v);
    // Rows: lane r of v[k] is element k of row r.
    Butterfly<Avx2Lanes>(v);
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k) v[k] = RangeLimit(v[k]);
    // Saturating packs clamp to 0..255; then transpose the 8x8 bytes back
    // to row order. a: lane0 = v0..v3 for rows 0-3, lane1 = rows 4-7 (byte
    // 4k + r); b likewise for v4..v7.
    const __m256i a = _mm256_packus_epi16(_mm256_packs_epi32(v[0], v[1]), _mm256_packs_epi32(v[2], v[3]));
    const __m256i b = _mm256_packus_epi16(_mm256_packs_epi32(v[4], v[5]), _mm256_packs_epi32(v[6], v[7]));
    const __m256i byRow = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5,
                                           9, 13, 2, 6, 10, 14, 3, 7, 11, 15);
    const __m256i a2 = _mm256_shuffle_epi8(a, byRow);  // row r, columns 0-3 at 4r (r mod 4)
    const __m256i b2 = _mm256_shuffle_epi8(b, byRow);  // row r, columns 4-7
    const __m256i rows0145 = _mm256_unpacklo_epi32(a2, b2);
    const __m256i rows2367 = _mm256_unpackhi_epi32(a2, b2);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples),
                        _mm256_permute2x128_si256(rows0145, rows2367, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samples + 32),
                        _mm256_permute2x128_si256(rows0145, rows2367, 0x31));
}

// ---------------------------------------------------------------------------
// Two blocks at once in 16-bit lanes: the low 128 bits of each register
// belong to block A, the high ones to block B.
//
// Why 16 bits give the 32-bit form's bytes: additions and subtractions
// agree with the 32-bit values modulo 2^16, and the output takes bits 5-14
// of each value only, so wrapping is harmless there. A product M(x, c) is
// exact as long as x itself fits 16 bits: with c = 256 q + r, r in
// -128..127, floor(x c / 256) = q x + floor(x r / 256), and the second term
// is the high half of x times (r << 8). The values that are multiplied are
// sums of at most four butterfly inputs with signs (i2 - i6, i1 + i7 - i5 - i3,
// i5 - i3 + i1 - i7, i1 - i7, i5 - i3), never involving inputs 0 and 4.
// Column pass: they are bounded by the sum of |coefficient x multiplier|
// over the block. Row pass: its inputs are column outputs; output r of the
// column butterfly is sum_k a(r, k) i_k minus the rounding of its five
// products, with |a(r, k)| <= g(k) and a rounding total below 5
// (InverseDctBoundWeights), so |column output| <= sum_k g(k) |i_k| + 5, and
// columns 0 and 4 never reach a row-pass product. Hence with
//   V = sum over the block of |coefficient| x weight   (weights >= m x g)
// every multiplied value of both passes is at most V + 20; a pair runs in
// 16 bits when V + 20 <= 32767 for both blocks, else each block takes the
// 32-bit form. In the 32-bit form nothing wraps for such blocks either, so
// both compute the exact values modulo 2^16.
namespace {

constexpr int kPairBound = 32767 - 20;

struct Avx2Lanes16 {
    using Reg = __m256i;
    static Reg Add(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg Sub(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg Mul(Reg x, int32_t c) {
        const int32_t q = (c + 128) >> 8;  // arithmetic: rounds -541 / 256 down to -3
        const int32_t r = c - 256 * q;     // -128..127
        return _mm256_add_epi16(_mm256_mullo_epi16(x, _mm256_set1_epi16(static_cast<int16_t>(q))),
                                _mm256_mulhi_epi16(x, _mm256_set1_epi16(static_cast<int16_t>(r * 256))));
    }
};

// 8x8 transpose of 16-bit elements within each 128-bit half.
inline void Transpose8x8Epi16(__m256i v[8]) {
    const __m256i t0 = _mm256_unpacklo_epi16(v[0], v[1]);  // 00 10 01 11 02 12 03 13
    const __m256i t1 = _mm256_unpackhi_epi16(v[0], v[1]);  // 04 14 05 15 06 16 07 17
    const __m256i t2 = _mm256_unpacklo_epi16(v[2], v[3]);
    const __m256i t3 = _mm256_unpackhi_epi16(v[2], v[3]);
    const __m256i t4 = _mm256_unpacklo_epi16(v[4], v[5]);
    const __m256i t5 = _mm256_unpackhi_epi16(v[4], v[5]);
    const __m256i t6 = _mm256_unpacklo_epi16(v[6], v[7]);
    const __m256i t7 = _mm256_unpackhi_epi16(v[6], v[7]);
    const __m256i u0 = _mm256_unpacklo_epi32(t0, t2);  // 00 10 20 30 01 11 21 31
    const __m256i u1 = _mm256_unpackhi_epi32(t0, t2);  // 02 .. 03 ..
    const __m256i u2 = _mm256_unpacklo_epi32(t1, t3);  // 04 .. 05 ..
    const __m256i u3 = _mm256_unpackhi_epi32(t1, t3);  // 06 .. 07 ..
    const __m256i u4 = _mm256_unpacklo_epi32(t4, t6);  // 40 50 60 70 41 51 61 71
    const __m256i u5 = _mm256_unpackhi_epi32(t4, t6);
    const __m256i u6 = _mm256_unpacklo_epi32(t5, t7);
    const __m256i u7 = _mm256_unpackhi_epi32(t5, t7);
    v[0] = _mm256_unpacklo_epi64(u0, u4);
    v[1] = _mm256_unpackhi_epi64(u0, u4);
    v[2] = _mm256_unpacklo_epi64(u1, u5);
    v[3] = _mm256_unpackhi_epi64(u1, u5);
    v[4] = _mm256_unpacklo_epi64(u2, u6);
    v[5] = _mm256_unpackhi_epi64(u2, u6);
    v[6] = _mm256_unpacklo_epi64(u3, u7);
    v[7] = _mm256_unpackhi_epi64(u3, u7);
}

inline __m256i LoadPair(const int16_t* a, const int16_t* b) {
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(b), reinterpret_cast<const __m128i*>(a));
}

inline __m256i Broadcast(const uint16_t* row) {
    return _mm256_broadcastsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)));
}

}  // namespace

void InverseDctPairAvx2(const int16_t* coefficientsA, const int16_t* coefficientsB, const uint16_t* multipliers,
                        const uint16_t* weights, const uint8_t* rangeLimit, uint8_t* samplesA, uint8_t* samplesB) {
    // Dequantise modulo 2^16 and sum |coefficient| x weight: products as
    // unsigned 32-bit values split into halves; any high half or a
    // saturated sum of low halves above the bound sends the pair to the
    // 32-bit form. (|-32768| is 32768 as an unsigned lane.)
    __m256i v[8];
    __m256i high = _mm256_setzero_si256(), total = _mm256_setzero_si256();
#pragma GCC unroll 8
    for (int r = 0; r < 8; ++r) {
        const __m256i c = LoadPair(coefficientsA + 8 * r, coefficientsB + 8 * r);
        const __m256i w = Broadcast(weights + 8 * r);
        v[r] = _mm256_mullo_epi16(c, Broadcast(multipliers + 8 * r));
        const __m256i magnitude = _mm256_abs_epi16(c);
        high = _mm256_or_si256(high, _mm256_mulhi_epu16(magnitude, w));
        total = _mm256_adds_epu16(total, _mm256_mullo_epi16(magnitude, w));
    }
    // Sum the eight lanes of each half (saturating): every lane ends at
    // most at its half's total, lane 0 at the total itself.
    total = _mm256_adds_epu16(total, _mm256_srli_si256(total, 8));
    total = _mm256_adds_epu16(total, _mm256_srli_si256(total, 4));
    total = _mm256_adds_epu16(total, _mm256_srli_si256(total, 2));
    const __m256i over = _mm256_or_si256(high, _mm256_subs_epu16(total, _mm256_set1_epi16(kPairBound)));
    if (!_mm256_testz_si256(over, over)) {
        InverseDctAvx2(coefficientsA, multipliers, rangeLimit, samplesA);
        InverseDctAvx2(coefficientsB, multipliers, rangeLimit, samplesB);
        return;
    }
    // Columns (lane j of v[r]: row r of column j), then rows (lane r of
    // v[k]: element k of row r).
    Butterfly<Avx2Lanes16>(v);
    Transpose8x8Epi16(v);
    Butterfly<Avx2Lanes16>(v);
    // Bits 5-14 as a signed 10-bit number, plus 128; the pack clamps.
#pragma GCC unroll 8
    for (int k = 0; k < 8; ++k)
        v[k] = _mm256_add_epi16(_mm256_srai_epi16(_mm256_slli_epi16(v[k], 1), 6), _mm256_set1_epi16(128));
    // Back to row order: p[j] holds columns j and j + 4 (8 rows each) per
    // half; three rounds of interleaving give rows 0-1, 2-3, 4-5, 6-7.
    const __m256i p0 = _mm256_packus_epi16(v[0], v[4]), p1 = _mm256_packus_epi16(v[1], v[5]);
    const __m256i p2 = _mm256_packus_epi16(v[2], v[6]), p3 = _mm256_packus_epi16(v[3], v[7]);
    const __m256i c01 = _mm256_unpacklo_epi8(p0, p1), c45 = _mm256_unpackhi_epi8(p0, p1);  // (c0 c1), (c4 c5) per row
    const __m256i c23 = _mm256_unpacklo_epi8(p2, p3), c67 = _mm256_unpackhi_epi8(p2, p3);
    const __m256i left03 = _mm256_unpacklo_epi16(c01, c23), left47 = _mm256_unpackhi_epi16(c01, c23);
    const __m256i right03 = _mm256_unpacklo_epi16(c45, c67), right47 = _mm256_unpackhi_epi16(c45, c67);
    const __m256i rows01 = _mm256_unpacklo_epi32(left03, right03), rows23 = _mm256_unpackhi_epi32(left03, right03);
    const __m256i rows45 = _mm256_unpacklo_epi32(left47, right47), rows67 = _mm256_unpackhi_epi32(left47, right47);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samplesA), _mm256_permute2x128_si256(rows01, rows23, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samplesA + 32), _mm256_permute2x128_si256(rows45, rows67, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samplesB), _mm256_permute2x128_si256(rows01, rows23, 0x31));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(samplesB + 32), _mm256_permute2x128_si256(rows45, rows67, 0x31));
}

namespace {

// pshufb masks that scatter 16 bytes of one channel into 48 bytes of B,G,R
// triplets: output byte g of the row (chunk g / 16) is channel g % 3 of
// pixel g / 3; -128 writes zero.
struct InterleaveMasks {
    alignas(16) int8_t m[3][3][16];  // [chunk][channel][byte]
};

constexpr InterleaveMasks MakeInterleaveMasks() {
    InterleaveMasks masks{};
    for (int chunk = 0; chunk < 3; ++chunk)
        for (int channel = 0; channel < 3; ++channel)
            for (int i = 0; i < 16; ++i) {
                const int g = 16 * chunk + i;
                masks.m[chunk][channel][i] = static_cast<int8_t>(g % 3 == channel ? g / 3 : -128);
            }
    return masks;
}

constexpr InterleaveMasks kInterleave = MakeInterleaveMasks();

// Two pixel rows that share their chroma (2j and 2j + 1) at once: each
// channel register holds 16 bytes of the upper row in its low half and 16
// of the lower row in its high half.
struct TwoRows {
    __m256i b, g, r;
};

// The chroma offsets of one chroma row, each doubled to cover two pixels.
inline __m256i Spread(__m128i offsets) {
    return _mm256_setr_m128i(_mm_unpacklo_epi16(offsets, offsets), _mm_unpackhi_epi16(offsets, offsets));
}

// Y of the 16 pixels of one row (8 in the left block, 8 in the right one).
inline __m256i LoadLuma(const uint8_t* left) {
    return _mm256_cvtepu8_epi16(_mm_unpacklo_epi64(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(left)),
                                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(left + 64))));
}

// Y + offset, clamped to bytes by the saturating pack; the pack works per
// 128-bit half, so quadwords 1 and 2 trade places afterwards.
inline __m256i Channel(__m256i upper, __m256i lower, __m256i offset) {
    const __m256i packed = _mm256_packus_epi16(_mm256_add_epi16(upper, offset), _mm256_add_epi16(lower, offset));
    return _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
}

inline void Store2(__m256i v, uint8_t* upper, uint8_t* lower) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(upper), _mm256_castsi256_si128(v));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lower), _mm256_extracti128_si256(v, 1));
}

inline void StoreRows24(const TwoRows& p, uint8_t* upper, uint8_t* lower) {
#pragma GCC unroll 3
    for (int chunk = 0; chunk < 3; ++chunk) {
        const __m256i mb = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[chunk][0])));
        const __m256i mg = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[chunk][1])));
        const __m256i mr = _mm256_broadcastsi128_si256(_mm_load_si128(reinterpret_cast<const __m128i*>(kInterleave.m[chunk][2])));
        const __m256i v = _mm256_or_si256(_mm256_or_si256(_mm256_shuffle_epi8(p.b, mb), _mm256_shuffle_epi8(p.g, mg)),
                                          _mm256_shuffle_epi8(p.r, mr));
        Store2(v, upper + 16 * chunk, lower + 16 * chunk);
    }
}

inline void StoreRows32(const TwoRows& p, __m256i alpha, uint8_t* upper, uint8_t* lower) {
    const __m256i bgLo = _mm256_unpacklo_epi8(p.b, p.g), bgHi = _mm256_unpackhi_epi8(p.b, p.g);
    const __m256i raLo = _mm256_unpacklo_epi8(p.r, alpha), raHi = _mm256_unpackhi_epi8(p.r, alpha);
    Store2(_mm256_unpacklo_epi16(bgLo, raLo), upper, lower);
    Store2(_mm256_unpackhi_epi16(bgLo, raLo), upper + 16, lower + 16);
    Store2(_mm256_unpacklo_epi16(bgHi, raHi), upper + 32, lower + 32);
    Store2(_mm256_unpackhi_epi16(bgHi, raHi), upper + 48, lower + 48);
}

// 5:6:5 words as in StoreRow16 of the SSE2 form (JpegKernelsSse2.cpp).
inline void StoreRows16(const TwoRows& p, uint8_t* upper, uint8_t* lower) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i highFive = _mm256_set1_epi16(0xF8), highSix = _mm256_set1_epi16(0xFC);
    for (int half = 0; half < 2; ++half) {
        const __m256i b = half ? _mm256_unpackhi_epi8(p.b, zero) : _mm256_unpacklo_epi8(p.b, zero);
        const __m256i g = half ? _mm256_unpackhi_epi8(p.g, zero) : _mm256_unpacklo_epi8(p.g, zero);
        const __m256i r = half ? _mm256_unpackhi_epi8(p.r, zero) : _mm256_unpacklo_epi8(p.r, zero);
        const __m256i v = _mm256_or_si256(_mm256_or_si256(_mm256_slli_epi16(_mm256_and_si256(b, highFive), 8),
                                                          _mm256_slli_epi16(_mm256_and_si256(g, highSix), 3)),
                                          _mm256_srli_epi16(r, 3));
        Store2(v, upper + 16 * half, lower + 16 * half);
    }
}

// The shared chroma arithmetic on both 128-bit halves: two chroma rows.
struct Avx2ChromaLanes {
    using Reg = __m256i;
    struct Offsets {
        Reg blue, green, red;
    };
    static Reg UnpackloEpi16(Reg a, Reg b) { return _mm256_unpacklo_epi16(a, b); }
    static Reg UnpackhiEpi16(Reg a, Reg b) { return _mm256_unpackhi_epi16(a, b); }
    static Reg MaddEpi16(Reg a, Reg b) { return _mm256_madd_epi16(a, b); }
    static Reg AddEpi32(Reg a, Reg b) { return _mm256_add_epi32(a, b); }
    static Reg SraiEpi32By16(Reg a) { return _mm256_srai_epi32(a, 16); }
    static Reg PacksEpi32(Reg a, Reg b) { return _mm256_packs_epi32(a, b); }
    static Reg AddEpi16(Reg a, Reg b) { return _mm256_add_epi16(a, b); }
    static Reg SubEpi16(Reg a, Reg b) { return _mm256_sub_epi16(a, b); }
    static Reg Set1Epi16(int16_t v) { return _mm256_set1_epi16(v); }
    static Reg Set1Epi32(int32_t v) { return _mm256_set1_epi32(v); }
    static Reg Zero() { return _mm256_setzero_si256(); }
};

// Chroma rows j and j + 1: the low halves hold row j's offsets.
inline Avx2ChromaLanes::Offsets ComputeChromaOffsets2(const uint8_t* cb, const uint8_t* cr) {
    const __m256i bias = _mm256_set1_epi16(128);
    const __m256i xb = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cb))), bias);
    const __m256i xr = _mm256_sub_epi16(_mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cr))), bias);
    return ChromaOffsetsFromCentred<Avx2ChromaLanes>(xb, xr);
}

template <int BytesPerPixel>
inline void ConvertMcuAvx2(const uint8_t* samples, uint8_t* pixels, size_t stride, const uint8_t* alpha = nullptr,
                           size_t alphaStride = 0) {
    for (int j2 = 0; j2 < 8; j2 += 2) {
        const Avx2ChromaLanes::Offsets both = ComputeChromaOffsets2(samples + 256 + 8 * j2, samples + 320 + 8 * j2);
#pragma GCC unroll 2
        for (int half = 0; half < 2; ++half) {
            const auto pick = [half](__m256i v) {
                return half ? _mm256_extracti128_si256(v, 1) : _mm256_castsi256_si128(v);
            };
            const int r = 2 * (j2 + half);
            const uint8_t* luma = samples + 128 * (r >> 3) + 8 * (r & 7);
            const __m256i upper = LoadLuma(luma), lower = LoadLuma(luma + 8);
            TwoRows p;
            p.b = Channel(upper, lower, Spread(pick(both.blue)));
            p.g = Channel(upper, lower, Spread(pick(both.green)));
            p.r = Channel(upper, lower, Spread(pick(both.red)));
            uint8_t* out = pixels + static_cast<size_t>(r) * stride;
            if (BytesPerPixel == 4) {
                const __m256i a =
                    alpha ? _mm256_loadu2_m128i(
                                reinterpret_cast<const __m128i*>(alpha + static_cast<size_t>(r + 1) * alphaStride),
                                reinterpret_cast<const __m128i*>(alpha + static_cast<size_t>(r) * alphaStride))
                          : _mm256_set1_epi8(-1);
                StoreRows32(p, a, out, out + stride);
            } else if (BytesPerPixel == 3) {
                StoreRows24(p, out, out + stride);
            } else {
                StoreRows16(p, out, out + stride);
            }
        }
    }
}

}  // namespace

void ConvertMcu16Avx2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuAvx2<2>(samples, pixels, stride);
}

void ConvertMcu24Avx2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuAvx2<3>(samples, pixels, stride);
}

void ConvertMcu32Avx2(const uint8_t* samples, const ColorTables&, uint8_t* pixels, size_t stride) {
    ConvertMcuAvx2<4>(samples, pixels, stride);
}

void ConvertMcu32AlphaAvx2(const uint8_t* samples, const ColorTables&, const uint8_t* alpha, size_t alphaStride,
                           uint8_t* pixels, size_t stride) {
    ConvertMcuAvx2<4>(samples, pixels, stride, alpha, alphaStride);
}

}  // namespace jpeg
}  // namespace vt

#endif  // VT_HAVE_AVX2
