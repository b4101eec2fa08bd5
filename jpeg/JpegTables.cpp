// Compact JPEG decoder: the stream header and the construction of the
// clamping, colour, dequantisation and Huffman tables.
#include "jpeg/JpegDecoder.h"

#include <cstring>

#include "jpeg/JpegTables.h"

using namespace vt::jpeg;

bool CJpegDecoder::ReadHeader(const unsigned char* stream, int streamLength, int& widthOut, int& heightOut,
                              int& headerLength) {
    headerLength = 6;
    // A stream shorter than its header holds no complete header: reject it
    // rather than read past its end.
    if (stream == nullptr || streamLength < 6) {
        bytesLeft = 0;
        return false;
    }
    width = static_cast<uint16_t>(stream[0] | (stream[1] << 8));
    height = static_cast<uint16_t>(stream[2] | (stream[3] << 8));
    quality = static_cast<uint16_t>(stream[4] | (stream[5] << 8));
    bytesLeft = streamLength - 6;
    if (width == 0 || height == 0) return false;
    widthOut = width;
    heightOut = height;
    InitTables();
    return true;
}

void CJpegDecoder::InitTables() {
    dcPredY = 0;
    dcPredCb = 0;
    dcPredCr = 0;
    bitCount = 0;
    bitBuffer = 0;
    nextByte = nullptr;
    BuildRangeLimitTable();
    BuildColorTables();
    BuildQuantTables();
    BuildHuffmanTables();
}

// Clamping table, read through two windows: from entry 256 it clamps
// -256..639 to 0..255 (colour conversion); from entry 384 it maps a 10-bit
// two's-complement value m to m + 128 clamped to 0..255 (inverse DCT), so
// that wildly out-of-range IDCT outputs wrap onto a clamped value instead of
// indexing outside the table.
void CJpegDecoder::BuildRangeLimitTable() {
    std::memset(rangeLimit, 0, 256);
    for (int i = 0; i < 256; ++i) rangeLimit[256 + i] = static_cast<uint8_t>(i);
    std::memset(rangeLimit + 512, 255, 384);
    std::memset(rangeLimit + 896, 0, 384);
    for (int i = 0; i < 128; ++i) rangeLimit[1280 + i] = static_cast<uint8_t>(i);
}

// JFIF YCbCr -> RGB in 16.16 fixed point:
//   R = Y + 1.40200 (Cr-128), G = Y - 0.34414 (Cb-128) - 0.71414 (Cr-128),
//   B = Y + 1.77200 (Cb-128).
// The green terms stay unshifted; the converter adds them and shifts once.
void CJpegDecoder::BuildColorTables() {
    constexpr int32_t kCrR = 91881, kCbB = 116130, kCrG = 46802, kCbG = 22554;
    for (int c = 0; c < 256; ++c) {
        const int32_t x = c - 128;
        crToR[c] = (kCrR * x + 32768) >> 16;
        cbToB[c] = (kCbB * x + 32768) >> 16;
        crToG[c] = -kCrG * x;
        cbToG[c] = -kCbG * x + 32768;
    }
}

void CJpegDecoder::BuildQuantTables() {
    unsigned q = quality;
    if (q == 0) q = 1;
    if (q > 100) q = 100;
    qualityScale = static_cast<uint16_t>(q < 50 ? 5000 / q : 200 - 2 * q);
    ScaleQuantTable(lumaQuant);
    ScaleQuantTable(chromaQuant);
}

// Scales Table K.1 by the quality (the IJG convention) and folds in the AAN
// scale factors, keeping two fractional bits (14 - 12) that the inverse
// DCT's final shift removes.
void CJpegDecoder::ScaleQuantTable(uint16_t* table) {
    for (int i = 0; i < 64; ++i) {
        int32_t v = (static_cast<int32_t>(qualityScale) * kBaseQuant[i] + 50) / 100;
        if (v <= 0) v = 1;
        if (v > 255) v = 255;
        table[i] = static_cast<uint16_t>((v * kAanScale[i] + 2048) >> 12);
    }
}

void CJpegDecoder::BuildHuffmanTables() {
    BuildDerivedTable(kDcLumaBits, kDcLumaValues, dcLumaTable);
    BuildDerivedTable(kAcLumaBits, kAcLumaValues, acLumaTable);
    BuildDerivedTable(kDcChromaBits, kDcChromaValues, dcChromaTable);
    BuildDerivedTable(kAcChromaBits, kAcChromaValues, acChromaTable);
}

// T.81 Annex C code assignment and the F.2.2.3 decoder tables (MINCODE,
// MAXCODE, VALPTR), plus an 8-bit lookahead for the short codes.
void CJpegDecoder::BuildDerivedTable(const uint8_t* bits, const uint8_t* values, DerivedHuffmanTable& table) {
    std::memcpy(table.codeCounts, bits, 17);
    table.codeCounts[0] = 0;
    int count = 0;
    for (int l = 1; l <= 16; ++l) count += bits[l];
    std::memcpy(table.symbols, values, static_cast<size_t>(count));

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

    std::memset(table.lookLength, 0, sizeof(table.lookLength));
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
}
