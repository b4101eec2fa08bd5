// Compact JPEG decoder: bit reader, Huffman decoding and block decoding
// (ITU-T T.81 F.2.2 without byte stuffing, markers or restart intervals).
// Defined inline: included only by the translation unit that runs the MCU
// loop, so that the whole entropy decoder inlines into it.
#ifndef VELTRANE_JPEG_ENTROPY_H
#define VELTRANE_JPEG_ENTROPY_H

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "jpeg/JpegDecoder.h"
#include "jpeg/JpegTables.h"

namespace vt {
namespace jpeg {

// Tops the accumulator up to 56..64 valid bits. Called only with fewer than
// 57 valid bits. With at least 8 bytes left, one unaligned big-endian load
// supplies them; it may also deposit the first bits of the following byte
// below the counted bits, which are the same bits the next refill ORs in.
// Near the end the bytes are taken one at a time, and once they are gone
// zero bits are shifted in: nothing past the stream is ever read.
inline void CJpegDecoder::FillBitBuffer(BitReader& bits) {
    if (bits.bytesLeft >= 8) {
        uint64_t word;
        std::memcpy(&word, bits.next, 8);
        word = __builtin_bswap64(word);
        bits.buffer |= word >> bits.count;
        const int taken = (63 - bits.count) >> 3;
        bits.next += taken;
        bits.bytesLeft -= taken;
        bits.count |= 56;
        return;
    }
    while (bits.count <= 56) {
        uint64_t byte = 0;
        if (bits.bytesLeft > 0) {
            byte = *bits.next++;
            --bits.bytesLeft;
        }
        bits.buffer |= byte << (56 - bits.count);
        bits.count += 8;
    }
}

// The next n bits (1 <= n <= 16) as an unsigned number.
inline int CJpegDecoder::GetBits(BitReader& bits, int n) {
    if (bits.count < n) FillBitBuffer(bits);
    const int value = static_cast<int>(bits.buffer >> (64 - n));
    bits.buffer <<= n;
    bits.count -= n;
    return value;
}

// Code-length search (T.81 F.2.2.3 DECODE), starting with a code of
// `firstLength` bits. A pattern that is no code within 16 bits decodes as
// symbol 0.
inline int CJpegDecoder::DecodeHuffmanSlow(BitReader& bits, const DerivedHuffmanTable& table, int firstLength) {
    int l = firstLength;
    int code = GetBits(bits, l);
    while (code > table.maxCode[l]) {
        code = (code << 1) | GetBits(bits, 1);
        ++l;
    }
    if (l > 16) return 0;
    return table.symbols[(table.valueOffset[l] + code - table.minCode[l]) & 0xFF];
}

// One symbol: codes of up to 8 bits through the lookahead, longer ones by
// the search. The refill always leaves at least 8 bits (zero bits past the
// end of the data), so the lookahead can always be used.
inline int CJpegDecoder::DecodeHuffman(BitReader& bits, const DerivedHuffmanTable& table) {
    if (bits.count < 16) FillBitBuffer(bits);
    const unsigned look = static_cast<unsigned>(bits.buffer >> 56);
    const int length = table.lookLength[look];
    if (length != 0) {
        bits.buffer <<= length;
        bits.count -= length;
        return table.lookSymbol[look];
    }
    return DecodeHuffmanSlow(bits, table, 9);
}

inline int CJpegDecoder::ExtendSign(int size, int bits) {
    return bits < kExtendThreshold[size] ? bits + kExtendOffset[size] : bits;
}

// Zeroes 64 coefficients. With SSE2, eight plain stores: a memset of this
// size may become `rep stos`, whose start-up cost is a block's worth of
// decoding.
inline void ClearBlock(int16_t* coefficients) {
#if defined(__SSE2__)
    // Written out: as a loop, the compiler turns it back into a memset.
    const __m128i zero = _mm_setzero_si128();
    __m128i* p = reinterpret_cast<__m128i*>(coefficients);
    _mm_storeu_si128(p + 0, zero);
    _mm_storeu_si128(p + 1, zero);
    _mm_storeu_si128(p + 2, zero);
    _mm_storeu_si128(p + 3, zero);
    _mm_storeu_si128(p + 4, zero);
    _mm_storeu_si128(p + 5, zero);
    _mm_storeu_si128(p + 6, zero);
    _mm_storeu_si128(p + 7, zero);
#else
    std::memset(coefficients, 0, 64 * sizeof(int16_t));
#endif
}

enum class AcStep { kValue, kZeros, kEnd };

// One AC symbol at coefficient position k: a coefficient (written, k moved
// past it), a run of sixteen zeros (ZRL) or the end of the block.
__attribute__((always_inline)) inline AcStep CJpegDecoder::DecodeAcSymbol(BitReader& bits, int16_t* coefficients,
                                                                          int& k, const DerivedHuffmanTable& acTable,
                                                                          const FastAcTable& fastAc) {
    if (bits.count < 26) FillBitBuffer(bits);  // 16-bit code + 10 value bits
    const uint32_t entry = fastAc.entry[bits.buffer >> (64 - kFastBits)];
    if (entry & kFastAcValueIncluded) {
        const int length = entry & 31;
        bits.buffer <<= length;
        bits.count -= length;
        k += (entry >> 5) & 31;  // run + 1
        coefficients[kZigZag[k - 1]] = static_cast<int16_t>(entry >> 16);
        return AcStep::kValue;
    }
    int symbol;
    if (entry != 0) {
        const int length = entry & 31;
        bits.buffer <<= length;
        bits.count -= length;
        symbol = (entry >> 5) & 0xFF;
    } else {
        symbol = DecodeHuffmanSlow(bits, acTable, kFastBits + 1);
    }
    const int run = symbol >> 4;
    const int size = symbol & 15;
    if (size != 0) {
        k += run;
        coefficients[kZigZag[k]] = static_cast<int16_t>(ExtendSign(size, GetBits(bits, size)));
        ++k;
        return AcStep::kValue;
    }
    if (run == 15) {
        k += 16;  // ZRL: sixteen zeros
        return AcStep::kZeros;
    }
    return AcStep::kEnd;
}

// Decodes the next block (index 0-3 luminance, 4 Cb, 5 Cr within its MCU)
// into 64 coefficients in natural order. The AC symbols are read by two
// copies of one loop: the first until a coefficient is written, the second
// after it, so that no flag is kept per coefficient.
__attribute__((always_inline)) inline bool CJpegDecoder::DecodeBlock(BitReader& bits, int16_t* coefficients, int blockIndex) {
    const bool luma = blockIndex < 4;
    const DerivedHuffmanTable& dcTable = luma ? kDcLumaTable : kDcChromaTable;
    const DerivedHuffmanTable& acTable = luma ? kAcLumaTable : kAcChromaTable;
    const FastAcTable& fastAc = luma ? kFastAcLuma : kFastAcChroma;
    int32_t& predictor = luma ? dcPredY : (blockIndex == 4 ? dcPredCb : dcPredCr);

    ClearBlock(coefficients);

    const int dcSize = DecodeHuffman(bits, dcTable);
    const int diff = dcSize != 0 ? ExtendSign(dcSize, GetBits(bits, dcSize)) : 0;
    // Hostile data can push the predictor round the 32-bit range: wrap.
    predictor = static_cast<int32_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(diff));
    coefficients[0] = static_cast<int16_t>(predictor);

    int k = 1;
    for (;;) {
        if (k >= 64) return false;
        const AcStep step = DecodeAcSymbol(bits, coefficients, k, acTable, fastAc);
        if (step == AcStep::kValue) break;
        if (step == AcStep::kEnd) return false;
    }
    while (k < 64 && DecodeAcSymbol(bits, coefficients, k, acTable, fastAc) != AcStep::kEnd) {
    }
    return true;
}

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_ENTROPY_H
