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

// Tops the accumulator up to 56..63 valid bits; with more than 56 it may
// add nothing. With at least 8 bytes left, one unaligned big-endian load
// supplies them; it may also deposit the first bits of the following byte
// below the counted bits, which are the same bits the next refill ORs in
// (the counted bits always end where the byte at `next` starts). Near the
// end the bytes are taken one at a time, and once they are gone zero bits
// are shifted in: nothing past the stream is ever read.
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
// The reader goes in and comes back by value: were its address passed to
// this rarely taken (and so not inlined) path, the block decoder could no
// longer keep the reader in registers.
inline CJpegDecoder::SlowSymbol CJpegDecoder::DecodeHuffmanSlow(BitReader bits, const DerivedHuffmanTable& table,
                                                                int firstLength) {
    int l = firstLength;
    int code = GetBits(bits, l);
    while (code > table.maxCode[l]) {
        code = (code << 1) | GetBits(bits, 1);
        ++l;
    }
    if (l > 16) return {bits, 0};
    return {bits, table.symbols[(table.valueOffset[l] + code - table.minCode[l]) & 0xFF]};
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
    const SlowSymbol slow = DecodeHuffmanSlow(bits, table, 9);
    bits = slow.bits;
    return slow.symbol;
}

// Without a branch: the sign of a difference is as good as random.
inline int CJpegDecoder::ExtendSign(int size, int bits) {
    const int negative = (bits - kExtendThreshold[size]) >> 31;  // all ones below the threshold
    return bits + (kExtendOffset[size] & negative);
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

// The block decoder refills the bit buffer at fixed points instead of
// testing the count before every symbol (a test whose outcome follows the
// data, and so is often mispredicted): after a refill at least 56 bits are
// valid, the DC symbol and each AC symbol of the fast path take at most
// kFastDcBits or kFastAcBits of them, and every other path ends with a
// refill of its own. So the kLookupsPerRefill lookups after a refill (the DC
// symbol and four AC lookups at the start of a block, five AC lookups after
// that) each find at least the bits their lookahead needs.
inline constexpr int kLookupsPerRefill = 5;
static_assert(56 - kFastDcBits - kFastAcBits * (kLookupsPerRefill - 2) >= kFastAcBits, "lookahead past the valid bits");
static_assert(56 - kFastAcBits * (kLookupsPerRefill - 1) >= kFastAcBits, "lookahead past the valid bits");

// One AC symbol (or two: FastAcPairTable) after zig-zag position `last`
// (the last coefficient written or skipped; 0 for the DC term): a
// coefficient (written, `last` moved onto it), a run of sixteen zeros (ZRL)
// or the end of the block. A position past 63 lands on one of kZigZag's
// extra entries, that is coefficient 63. Needs at least kFastAcBits valid bits.
__attribute__((always_inline)) inline AcStep CJpegDecoder::DecodeAcSymbol(BitReader& bits, int16_t* coefficients,
                                                                          uint32_t& last,
                                                                          const DerivedHuffmanTable& acTable,
                                                                          const FastAcPairTable& fastAc,
                                                                          const FastAcTable& singleAc) {
    const uint32_t look = static_cast<uint32_t>(bits.buffer >> (64 - kFastAcBits));
    const uint32_t entry = fastAc.entry[look];
    // The shift takes the entry's low six bits, which the x86 shift
    // instruction masks by itself: no masking on the bit buffer's
    // dependency chain. (The count never exceeds 31: masked apart.)
    if (entry & kFastValueIncluded) {
        const uint64_t before = bits.buffer;
        bits.buffer <<= entry & 63;
        bits.count -= static_cast<int32_t>(entry & 31);
        last += (entry >> 8) & 0x1F;  // run + 1
        const uint32_t first = last;
        const int32_t word = static_cast<int32_t>(entry);
        const int32_t value1 = (entry & kFastPairValue) ? static_cast<int32_t>(entry << 6) >> 26 : word >> 20;
        // The second coefficient first (where there is none, its run is 0:
        // the first coefficient's place, which the next store overwrites),
        // then the first. Where both land on coefficient 63, the first wins.
        last += (entry >> 15) & 0x1F;
        coefficients[static_cast<uint32_t>(kZigZag[last])] = static_cast<int16_t>(word >> 26);
        coefficients[static_cast<uint32_t>(kZigZag[first])] = static_cast<int16_t>(value1);
        if (first >= 63 && (entry & (kFastPairValue | kFastPairEnd))) [[unlikely]] {
            // The first coefficient was the block's last position: the
            // second symbol belongs to the next block. Take it back (the
            // one-symbol entry of the same bits gives the first's length).
            const uint32_t firstLength = singleAc.entry[look] & 63;
            bits.buffer = before << firstLength;
            bits.count += static_cast<int32_t>((entry & 31) - firstLength);
            last = first;
            return AcStep::kValue;
        }
        return (entry & kFastPairEnd) ? AcStep::kEnd : AcStep::kValue;
    }
    if (entry & kFastAcEnd) {
        bits.buffer <<= entry & 63;
        bits.count -= static_cast<int32_t>(entry & 31);
        return AcStep::kEnd;
    }
    int symbol;
    if (entry != 0) {
        bits.buffer <<= entry & 63;
        bits.count -= static_cast<int32_t>(entry & 31);
        symbol = (entry >> 8) & 0xFF;
    } else {
        const SlowSymbol slow = DecodeHuffmanSlow(bits, acTable, kFastAcBits + 1);
        bits = slow.bits;
        symbol = slow.symbol;
    }
    const int run = symbol >> 4;
    const int size = symbol & 15;
    AcStep step = AcStep::kEnd;
    if (size != 0) {
        last += static_cast<uint32_t>(run) + 1;
        coefficients[static_cast<uint32_t>(kZigZag[last])] = static_cast<int16_t>(ExtendSign(size, GetBits(bits, size)));
        step = AcStep::kValue;
    } else if (run == 15) {
        last += 16;  // ZRL: sixteen zeros
        step = AcStep::kZeros;
    }
    FillBitBuffer(bits);
    return step;
}

// Decodes the next block (index 0-3 luminance, 4 Cb, 5 Cr within its MCU)
// into 64 coefficients in natural order. False when the first AC symbol
// ends the block (no AC coefficients); true means there may be some.
__attribute__((always_inline)) inline bool CJpegDecoder::DecodeBlock(BitReader& bits, int16_t* coefficients, int blockIndex,
                                                                       int32_t& predictor) {
    const bool luma = blockIndex < 4;
    const DerivedHuffmanTable& dcTable = luma ? kDcLumaTable : kDcChromaTable;
    const DerivedHuffmanTable& acTable = luma ? kAcLumaTable : kAcChromaTable;
    const FastDcTable& fastDc = luma ? kFastDcLuma : kFastDcChroma;
    const FastAcPairTable& fastAc = luma ? kFastAcPairLuma : kFastAcPairChroma;
    const FastAcTable& singleAc = luma ? kFastAcLuma : kFastAcChroma;

    ClearBlock(coefficients);
    FillBitBuffer(bits);

    int32_t diff;
    const uint32_t dcEntry = fastDc.entry[bits.buffer >> (64 - kFastDcBits)];
    if (dcEntry & kFastValueIncluded) {
        bits.buffer <<= dcEntry & 63;
        bits.count -= static_cast<int32_t>(dcEntry & 31);
        diff = static_cast<int16_t>(dcEntry >> 16);
    } else {
        const int dcSize = DecodeHuffman(bits, dcTable);
        diff = dcSize != 0 ? ExtendSign(dcSize, GetBits(bits, dcSize)) : 0;
        FillBitBuffer(bits);
    }
    // Hostile data can push the predictor round the 32-bit range: wrap.
    predictor = static_cast<int32_t>(static_cast<uint32_t>(predictor) + static_cast<uint32_t>(diff));
    coefficients[0] = static_cast<int16_t>(predictor);

    uint32_t last = 0;
    // The block ends here without a coefficient only where the end came
    // first (a lookup may also have written one and then met the end).
    if (DecodeAcSymbol(bits, coefficients, last, acTable, fastAc, singleAc) == AcStep::kEnd) return last != 0;
#pragma GCC unroll 4
    for (int i = 2; i < kLookupsPerRefill; ++i)
        if (last >= 63 || DecodeAcSymbol(bits, coefficients, last, acTable, fastAc, singleAc) == AcStep::kEnd) return true;
    for (;;) {
        FillBitBuffer(bits);
#pragma GCC unroll 5
        for (int i = 0; i < kLookupsPerRefill; ++i)
            if (last >= 63 || DecodeAcSymbol(bits, coefficients, last, acTable, fastAc, singleAc) == AcStep::kEnd) return true;
    }
}

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_ENTROPY_H
