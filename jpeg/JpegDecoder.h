// CJpegDecoder: decoder for compact JPEG streams (a six-byte header followed
// by the entropy-coded data of a baseline 4:2:0 scan with fixed tables, no
// markers and no byte stuffing). Lives on the caller's stack, one per stream:
// ReadHeader, then one DecodeImage24 or DecodeImage32.
//
// Stream layout (integers little-endian):
//   0  u16 width     (0 is invalid)
//   2  u16 height    (0 is invalid)
//   4  u16 quality   (scales ITU-T T.81 Table K.1; 0 counts as 1, >100 as 100)
//   6  entropy-coded data: MCUs of 16x16 pixels in raster order, each four
//      luminance blocks then Cb then Cr, coded with the Huffman tables of
//      T.81 Annex K.3; every byte is data (0xFF is not special).
//
// The decoder never reads a byte outside the stream it was given: bits that
// are asked for after the data runs out are zero bits, and a damaged or
// truncated stream still yields a complete image.
#ifndef VELTRANE_JPEG_DECODER_H
#define VELTRANE_JPEG_DECODER_H

#include <cstddef>
#include <cstdint>

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

struct CJpegDecoderTestAccess;

class CJpegDecoder {
public:
    // Reads the header of the stream of `streamLength` bytes (header
    // included), prepares the tables and reports the image size and the
    // header's length (6). False for a stream that cannot be decoded.
    bool ReadHeader(const unsigned char* stream, int streamLength, int& width, int& height, int& headerLength);
    // Decode the whole image as blue-green-red (24) or blue-green-red-255
    // (32) pixels, rows top to bottom. `entropyData` = stream + headerLength.
    bool DecodeImage24(const unsigned char* entropyData, unsigned char* destination);
    bool DecodeImage32(const unsigned char* entropyData, unsigned char* destination);

private:
    friend struct CJpegDecoderTestAccess;

    // Table construction (JpegTables.cpp).
    void InitTables();
    void BuildRangeLimitTable();
    void BuildColorTables();
    void BuildQuantTables();
    void ScaleQuantTable(uint16_t* table);
    void BuildHuffmanTables();
    static void BuildDerivedTable(const uint8_t* bits, const uint8_t* values, DerivedHuffmanTable& table);

    // Entropy decoding (JpegEntropy.h, inlined into the MCU loop). The bit
    // reader's fields are copied into a BitReader for the length of one MCU
    // so that they live in registers; Load/Store move them.
    struct BitReader {
        uint64_t buffer;
        int32_t count;
        int32_t bytesLeft;
        const unsigned char* next;
    };
    BitReader LoadBitReader() const { return {bitBuffer, bitCount, bytesLeft, nextByte}; }
    void StoreBitReader(const BitReader& bits) {
        bitBuffer = bits.buffer;
        bitCount = bits.count;
        bytesLeft = bits.bytesLeft;
        nextByte = bits.next;
    }
    static void FillBitBuffer(BitReader& bits);
    static int GetBits(BitReader& bits, int n);
    static int DecodeHuffman(BitReader& bits, const DerivedHuffmanTable& table);
    static int DecodeHuffmanSlow(BitReader& bits, const DerivedHuffmanTable& table, int firstLength);
    static int ExtendSign(int size, int bits);
    // Decodes the next block into 64 coefficients in natural order; returns
    // true when the block holds any non-zero AC coefficient.
    bool DecodeBlock(BitReader& bits, int16_t* coefficients, int blockIndex);

    // Reconstruction (JpegDecoder.cpp). `Kernels` selects the portable or
    // the SIMD form of the inverse DCT and of the colour conversion.
    template <class Kernels>
    void InverseDct(const int16_t* coefficients, bool hasAc, uint8_t* samples, int blockIndex);
    template <class Kernels, int BytesPerPixel>
    void ConvertMcu(const uint8_t* samples, uint8_t* pixels, size_t stride);
    template <class Kernels, int BytesPerPixel>
    void DecodeMcu(uint8_t* pixels, size_t stride);
    template <class Kernels, int BytesPerPixel>
    bool DecodeImage(const unsigned char* entropyData, unsigned char* destination);

    uint16_t quality;
    uint16_t qualityScale;
    uint8_t rangeLimit[1408];
    int32_t crToR[256];
    int32_t crToG[256];
    int32_t cbToB[256];
    int32_t cbToG[256];
    uint16_t lumaQuant[64];
    uint16_t chromaQuant[64];
    DerivedHuffmanTable dcLumaTable;
    DerivedHuffmanTable acLumaTable;
    DerivedHuffmanTable dcChromaTable;
    DerivedHuffmanTable acChromaTable;
    uint16_t width;
    uint16_t height;
    int32_t dcPredY;
    int32_t dcPredCb;
    int32_t dcPredCr;
    // Bit reader. The accumulator is 64 bits wide and holds its valid bits
    // at the top (oldest bit highest), so that one unaligned 8-byte load
    // refills it for several symbols. `bitCount` counts the valid bits; once
    // the data is exhausted it keeps counting zero bits that are shifted in.
    int32_t bitCount;
    uint64_t bitBuffer;
    int32_t bytesLeft;
    const unsigned char* nextByte;
};

#endif  // VELTRANE_JPEG_DECODER_H
