// Constant tables of the compact JPEG decoder: the ITU-T T.81 Annex K tables
// that a compact stream never carries, the AAN scale factors, the zig-zag
// order, sign extension, and everything derived from them that does not
// depend on the stream: the clamping table, the color conversion tables,
// the four decoding Huffman tables and the wide lookahead tables of the fast
// entropy decoder. All of them are built at compile time, once for every
// decoder; only the dequantisation multipliers, which follow the stream's
// quality, are built per stream (CJpegDecoder::ReadHeader).
#ifndef VELTRANE_JPEG_TABLES_H
#define VELTRANE_JPEG_TABLES_H

#include <cstdint>

namespace vt {
namespace jpeg {

// One Huffman table expanded for decoding (T.81 Annex C / F.2.2.3).
struct DerivedHuffmanTable {
    int32_t minCode[17];      // [l]: smallest code of length l
    int32_t maxCode[18];      // [l]: largest code of length l, -1 if none; [17] is a sentinel
    int32_t valueOffset[17];  // [l]: index in symbols of the first code of length l
    uint8_t codeCounts[17];   // the BITS list
    uint8_t symbols[256];     // HUFFVAL in code order
    int32_t lookLength[256];  // 8-bit lookahead: code length, 0 if longer than 8 bits
    uint8_t lookSymbol[256];  // 8-bit lookahead: symbol where lookLength != 0
};

// T.81 Table K.1 (luminance quantisation), natural row-major order. The
// chroma blocks use it too: compact streams have no chrominance table.
inline constexpr uint16_t kBaseQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

// AAN scale factors: entry 8u+v = 16384 * s(u) * s(v), s(0) = 1,
// s(k) = sqrt(2) * cos(k*pi/16), rounded.
inline constexpr uint16_t kAanScale[64] = {
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  22725, 31521, 29692, 26722, 22725, 17855, 12299, 6270,
    21407, 29692, 27969, 25172, 21407, 16819, 11585, 5906,  19266, 26722, 25172, 22654, 19266, 15137, 10426, 5315,
    16384, 22725, 21407, 19266, 16384, 12873, 8867,  4520,  12873, 17855, 16819, 15137, 12873, 10114, 6967,  3552,
    8867,  12299, 11585, 10426, 8867,  6967,  4799,  2446,  4520,  6270,  5906,  5315,  4520,  3552,  2446,  1247};

// Huffman table specifications of T.81 Annex K.3: BITS (entry 0 unused) and
// HUFFVAL. K.3 = DC luminance, K.4 = DC chrominance, K.5 = AC luminance,
// K.6 = AC chrominance.
inline constexpr uint8_t kDcLumaBits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
inline constexpr uint8_t kDcLumaValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
inline constexpr uint8_t kDcChromaBits[17] = {0, 0, 3, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0};
inline constexpr uint8_t kDcChromaValues[12] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};

inline constexpr uint8_t kAcLumaBits[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
inline constexpr uint8_t kAcLumaValues[162] = {
    0x01, 0x02, 0x03, 0x00, 0x04, 0x11, 0x05, 0x12, 0x21, 0x31, 0x41, 0x06, 0x13, 0x51, 0x61, 0x07, 0x22, 0x71,
    0x14, 0x32, 0x81, 0x91, 0xa1, 0x08, 0x23, 0x42, 0xb1, 0xc1, 0x15, 0x52, 0xd1, 0xf0, 0x24, 0x33, 0x62, 0x72,
    0x82, 0x09, 0x0a, 0x16, 0x17, 0x18, 0x19, 0x1a, 0x25, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x34, 0x35, 0x36, 0x37,
    0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58, 0x59,
    0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a, 0x83,
    0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a, 0xa2, 0xa3,
    0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba, 0xc2, 0xc3,
    0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda, 0xe1, 0xe2,
    0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf1, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

inline constexpr uint8_t kAcChromaBits[17] = {0, 0, 2, 1, 2, 4, 4, 3, 4, 7, 5, 4, 4, 0, 1, 2, 0x77};
inline constexpr uint8_t kAcChromaValues[162] = {
    0x00, 0x01, 0x02, 0x03, 0x11, 0x04, 0x05, 0x21, 0x31, 0x06, 0x12, 0x41, 0x51, 0x07, 0x61, 0x71, 0x13, 0x22,
    0x32, 0x81, 0x08, 0x14, 0x42, 0x91, 0xa1, 0xb1, 0xc1, 0x09, 0x23, 0x33, 0x52, 0xf0, 0x15, 0x62, 0x72, 0xd1,
    0x0a, 0x16, 0x24, 0x34, 0xe1, 0x25, 0xf1, 0x17, 0x18, 0x19, 0x1a, 0x26, 0x27, 0x28, 0x29, 0x2a, 0x35, 0x36,
    0x37, 0x38, 0x39, 0x3a, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48, 0x49, 0x4a, 0x53, 0x54, 0x55, 0x56, 0x57, 0x58,
    0x59, 0x5a, 0x63, 0x64, 0x65, 0x66, 0x67, 0x68, 0x69, 0x6a, 0x73, 0x74, 0x75, 0x76, 0x77, 0x78, 0x79, 0x7a,
    0x82, 0x83, 0x84, 0x85, 0x86, 0x87, 0x88, 0x89, 0x8a, 0x92, 0x93, 0x94, 0x95, 0x96, 0x97, 0x98, 0x99, 0x9a,
    0xa2, 0xa3, 0xa4, 0xa5, 0xa6, 0xa7, 0xa8, 0xa9, 0xaa, 0xb2, 0xb3, 0xb4, 0xb5, 0xb6, 0xb7, 0xb8, 0xb9, 0xba,
    0xc2, 0xc3, 0xc4, 0xc5, 0xc6, 0xc7, 0xc8, 0xc9, 0xca, 0xd2, 0xd3, 0xd4, 0xd5, 0xd6, 0xd7, 0xd8, 0xd9, 0xda,
    0xe2, 0xe3, 0xe4, 0xe5, 0xe6, 0xe7, 0xe8, 0xe9, 0xea, 0xf2, 0xf3, 0xf4, 0xf5, 0xf6, 0xf7, 0xf8, 0xf9, 0xfa};

// Coding order -> natural index (T.81 Figure A.6). Entries 64..95 are 63 so
// that a run overshooting the end of a block lands on the last coefficient:
// a symbol starts at position 62 at most and moves by at most 16, and a
// lookup of two symbols by at most 32.
inline constexpr int32_t kZigZag[96] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13,
    6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51, 58, 59, 52, 45, 38, 31,
    39, 46, 53, 60, 61, 54, 47, 55, 62, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63,
    63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63, 63};

// EXTEND (T.81 F.2.2.1): a raw s-bit value below 2^(s-1) stands for the
// negative value v + 1 - 2^s.
inline constexpr int32_t kExtendThreshold[16] = {0,   1,   2,    4,    8,    16,   32,   64,
                                                 128, 256, 512, 1024, 2048, 4096, 8192, 16384};
inline constexpr int32_t kExtendOffset[16] = {0,    -1,   -3,    -7,    -15,   -31,   -63,   -127,
                                              -255, -511, -1023, -2047, -4095, -8191, -16383, -32767};

// ---------------------------------------------------------------------------
// Wide lookahead tables of the fast entropy decoder, one per Huffman table.
//
// Indexed by the next kFastDcBits (DC tables) or kFastAcBits (AC tables)
// bits of the stream; 0 means "code longer than that": the caller falls
// back to the code-length search, which
// gives the same symbol. Otherwise bits 0-5 hold the number of bits to
// consume (6 bits, so that a 64-bit shift by the entry needs no mask), and:
// - with kFastValueIncluded (the value bits of the symbol fit in the
//   lookahead too), bits 0-5 count code and value bits and bits 16-31 hold
//   the sign-extended value; in an AC table bits 8-15 hold run + 1 (how far
//   the coefficient position moves, past the zeros onto the coefficient
//   itself). A DC difference of size 0 is the value 0.
// - with kFastAcEnd (AC tables) the code is the end of block;
// - with neither, bits 8-15 hold the symbol and its value bits follow in
//   the stream.
// The AC window is the wider one: AC symbols are most of the stream, and
// each bit more lets more coefficients (and pairs of them) decode with one
// lookup; the DC tables stay small, as all the tables must together stay
// well inside the first-level data cache.
inline constexpr int kFastDcBits = 10;
inline constexpr int kFastAcBits = 11;
inline constexpr uint32_t kFastValueIncluded = 1u << 6;
inline constexpr uint32_t kFastAcEnd = 1u << 7;

struct FastDcTable {
    static constexpr int kBits = kFastDcBits;
    uint32_t entry[1 << kBits];
};
struct FastAcTable {
    static constexpr int kBits = kFastAcBits;
    uint32_t entry[1 << kBits];
};

struct CanonicalCodes {
    uint8_t length[256];
    uint16_t code[256];
    int count;
};

// Canonical code assignment of T.81 Annex C (C.1, C.2).
constexpr CanonicalCodes MakeCanonicalCodes(const uint8_t* bits) {
    CanonicalCodes c{};
    int p = 0;
    unsigned code = 0;
    for (int l = 1; l <= 16; ++l) {
        for (int i = 0; i < bits[l]; ++i) {
            c.length[p] = static_cast<uint8_t>(l);
            c.code[p] = static_cast<uint16_t>(code);
            ++p;
            ++code;
        }
        code <<= 1;
    }
    c.count = p;
    return c;
}

template <class Table>
constexpr Table MakeFastLookupTable(const uint8_t* bits, const uint8_t* values, bool dc) {
    constexpr int kFastBits = Table::kBits;
    Table t{};
    const CanonicalCodes c = MakeCanonicalCodes(bits);
    for (int p = 0; p < c.count; ++p) {
        const int l = c.length[p];
        if (l > kFastBits) break;
        const int rs = values[p];
        const int s = rs & 15;
        const int first = c.code[p] << (kFastBits - l);
        for (int i = 0; i < (1 << (kFastBits - l)); ++i) {
            const int look = first + i;
            uint32_t e = static_cast<uint32_t>(l) | (static_cast<uint32_t>(rs) << 8);
            if (!dc && rs == 0) e |= kFastAcEnd;
            if ((dc || s != 0) && l + s <= kFastBits) {
                const int raw = s == 0 ? 0 : (look >> (kFastBits - l - s)) & ((1 << s) - 1);
                const int value = raw < kExtendThreshold[s] ? raw + kExtendOffset[s] : raw;
                e = static_cast<uint32_t>(l + s) | kFastValueIncluded |
                    (dc ? 0u : static_cast<uint32_t>((rs >> 4) + 1) << 8) |
                    (static_cast<uint32_t>(static_cast<uint16_t>(value)) << 16);
            }
            t.entry[look] = e;
        }
    }
    return t;
}

inline constexpr FastDcTable kFastDcLuma = MakeFastLookupTable<FastDcTable>(kDcLumaBits, kDcLumaValues, true);
inline constexpr FastDcTable kFastDcChroma = MakeFastLookupTable<FastDcTable>(kDcChromaBits, kDcChromaValues, true);
inline constexpr FastAcTable kFastAcLuma = MakeFastLookupTable<FastAcTable>(kAcLumaBits, kAcLumaValues, false);
inline constexpr FastAcTable kFastAcChroma = MakeFastLookupTable<FastAcTable>(kAcChromaBits, kAcChromaValues, false);

// The AC lookahead with symbol pairs, 32-bit entries (the table is read
// for every symbol, so it is kept as small as the single one would be).
// Entries whose first symbol is not a coefficient decoded with its value
// bits are the single-symbol entries of the same bits (FastAcTable).
// The others (kFastValueIncluded) hold:
//   bits 0-5   the bits to consume: the first symbol's code and value bits,
//              plus the second symbol's where the entry has one;
//   bits 8-12  the first coefficient's run + 1;
//   bit 13/14  kFastPairValue / kFastPairEnd: the second symbol, whose bits
//              lie wholly inside the kFastAcBits, is a coefficient with its
//              value bits / the end of block;
//   bits 15-19 the second coefficient's run + 1 (0 without one);
//   bits 20-31 the first value as a signed 12-bit number, or with
//              kFastPairValue the first value in bits 20-25 and the second
//              in bits 26-31, each a signed 6-bit number.
// A single value has at most kFastAcBits - 2 = 9 value bits (codes take at
// least 2), |v| <= 511; two coefficients make a pair entry only where both
// values fit their six bits (|v| <= 31), which nearly all pairs within
// eleven bits do. One lookup then moves the bit buffer past both symbols,
// halving the dependent chain of lookups in the short codes of busy blocks.
inline constexpr uint32_t kFastPairValue = 1u << 13;
inline constexpr uint32_t kFastPairEnd = 1u << 14;

struct FastAcPairTable {
    uint32_t entry[1 << kFastAcBits];
};

constexpr bool FitsSixBits(uint32_t value) {
    return static_cast<int16_t>(value) >= -32 && static_cast<int16_t>(value) <= 31;
}

constexpr FastAcPairTable MakeFastAcPairTable(const FastAcTable& single) {
    constexpr int kFastBits = kFastAcBits;
    FastAcPairTable t{};
    for (int look = 0; look < (1 << kFastBits); ++look) {
        const uint32_t first = single.entry[look];
        uint32_t e = first;
        if (first & kFastValueIncluded) {
            const uint32_t length = first & 63;
            const uint32_t value1 = (first >> 16) & 0xFFFF;
            // The bits after the first symbol, padded with zeros: an entry
            // for them is only trusted if it takes no more than the bits
            // that are really there.
            const uint32_t second = single.entry[(look << length) & ((1 << kFastBits) - 1)];
            const uint32_t secondLength = second & 63;
            const bool fits = second != 0 && length + secondLength <= kFastBits;
            e = kFastValueIncluded | (((first >> 8) & 0x1F) << 8);
            if (fits && (second & kFastValueIncluded) && FitsSixBits(value1) && FitsSixBits(second >> 16)) {
                const uint32_t value2 = (second >> 16) & 0xFFFF;
                e |= (length + secondLength) | kFastPairValue | (((second >> 8) & 0x1F) << 15) |
                     ((value1 & 0x3F) << 20) | ((value2 & 0x3F) << 26);
            } else if (fits && (second & kFastAcEnd)) {
                e |= (length + secondLength) | kFastPairEnd | ((value1 & 0xFFF) << 20);
            } else {
                e |= length | ((value1 & 0xFFF) << 20);
            }
        }
        t.entry[look] = e;
    }
    return t;
}

inline constexpr FastAcPairTable kFastAcPairLuma = MakeFastAcPairTable(kFastAcLuma);
inline constexpr FastAcPairTable kFastAcPairChroma = MakeFastAcPairTable(kFastAcChroma);

// ---------------------------------------------------------------------------
// Decoding Huffman tables: the T.81 Annex C code assignment and the F.2.2.3
// decoder tables (MINCODE, MAXCODE, VALPTR), plus an 8-bit lookahead that
// resolves the codes of up to 8 bits with one access. Entries for lengths
// without codes (and lookahead entries of longer codes) are never read.
constexpr DerivedHuffmanTable BuildDerivedTable(const uint8_t* bits, const uint8_t* values) {
    DerivedHuffmanTable table{};
    int count = 0;
    for (int l = 1; l <= 16; ++l) {
        table.codeCounts[l] = bits[l];
        count += bits[l];
    }
    for (int i = 0; i < count; ++i) table.symbols[i] = values[i];

    const CanonicalCodes codes = MakeCanonicalCodes(bits);
    int p = 0;
    for (int l = 1; l <= 16; ++l) {
        if (bits[l] > 0) {
            table.valueOffset[l] = p;
            table.minCode[l] = codes.code[p];
            p += bits[l];
            table.maxCode[l] = codes.code[p - 1];
        } else {
            table.maxCode[l] = -1;
        }
    }
    table.maxCode[17] = 0xFFFFF;

    p = 0;
    for (int l = 1; l <= 8; ++l) {
        for (int i = 0; i < bits[l]; ++i, ++p) {
            const int first = codes.code[p] << (8 - l);
            for (int j = 0; j < (1 << (8 - l)); ++j) {
                table.lookLength[first + j] = l;
                table.lookSymbol[first + j] = values[p];
            }
        }
    }
    return table;
}

inline constexpr DerivedHuffmanTable kDcLumaTable = BuildDerivedTable(kDcLumaBits, kDcLumaValues);
inline constexpr DerivedHuffmanTable kAcLumaTable = BuildDerivedTable(kAcLumaBits, kAcLumaValues);
inline constexpr DerivedHuffmanTable kDcChromaTable = BuildDerivedTable(kDcChromaBits, kDcChromaValues);
inline constexpr DerivedHuffmanTable kAcChromaTable = BuildDerivedTable(kAcChromaBits, kAcChromaValues);

// ---------------------------------------------------------------------------
// Clamping table, read through two windows: from entry 256 it clamps
// -256..639 to 0..255 (color conversion); from entry 384 it maps a 10-bit
// two's-complement value m to m + 128 clamped to 0..255 (inverse DCT), so
// that wildly out-of-range IDCT outputs wrap onto a clamped value instead of
// indexing outside the table.
//   0..255: 0   256..511: 0..255   512..895: 255   896..1279: 0   1280..1407: 0..127
struct RangeLimitTable {
    uint8_t entry[1408];
};

constexpr RangeLimitTable BuildRangeLimitTable() {
    RangeLimitTable t{};
    for (int i = 0; i < 256; ++i) t.entry[256 + i] = static_cast<uint8_t>(i);
    for (int i = 512; i < 896; ++i) t.entry[i] = 255;
    for (int i = 0; i < 128; ++i) t.entry[1280 + i] = static_cast<uint8_t>(i);
    return t;
}

inline constexpr RangeLimitTable kRangeLimit = BuildRangeLimitTable();

// ---------------------------------------------------------------------------
// JFIF YCbCr -> RGB in 16.16 fixed point:
//   R = Y + 1.40200 (Cr-128), G = Y - 0.34414 (Cb-128) - 0.71414 (Cr-128),
//   B = Y + 1.77200 (Cb-128),
// each coefficient x 65536 + 0.5, truncated. The green terms stay unshifted:
// the converter adds one of each and shifts the sum once.
struct ColorConversionTables {
    int32_t crToR[256];
    int32_t crToG[256];
    int32_t cbToB[256];
    int32_t cbToG[256];
};

constexpr ColorConversionTables BuildColorTables() {
    constexpr int32_t kCrR = 91881, kCbB = 116130, kCrG = 46802, kCbG = 22554;
    ColorConversionTables t{};
    for (int c = 0; c < 256; ++c) {
        const int32_t x = c - 128;
        t.crToR[c] = (kCrR * x + 32768) >> 16;
        t.cbToB[c] = (kCbB * x + 32768) >> 16;
        t.crToG[c] = -kCrG * x;
        t.cbToG[c] = -kCbG * x + 32768;
    }
    return t;
}

inline constexpr ColorConversionTables kColorConversion = BuildColorTables();

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_TABLES_H
