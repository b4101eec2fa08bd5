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

struct CJpegDecoderTestAccess;

namespace vt {
namespace jpeg {

struct DerivedHuffmanTable;  // jpeg/JpegTables.h
struct FastAcTable;
struct FastAcPairTable;
enum class AcStep;           // jpeg/JpegEntropy.h

class CJpegDecoder {
public:
    // Reads the header of the stream of `streamLength` bytes (header
    // included), prepares the decoder (predictors, bit reader, the
    // dequantisation multipliers of the stream's quality) and reports the
    // image size and the header's length (6). False for a stream that cannot
    // be decoded. The other tables are constants shared by every decoder
    // (jpeg/JpegTables.h).
    bool ReadHeader(const unsigned char* stream, int streamLength, int& width, int& height, int& headerLength);
    // Decode the whole image as blue-green-red (24), blue-green-red-255 (32)
    // or 5:6:5 (16: blue >> 3 in bits 15-11, green >> 2 in 10-5, red >> 3 in
    // 4-0, low byte first) pixels, rows top to bottom. `entropyData` =
    // stream + headerLength. The 16-bit pixels are the 24-bit ones packed.
    bool DecodeImage16(const unsigned char* entropyData, unsigned char* destination);
    bool DecodeImage24(const unsigned char* entropyData, unsigned char* destination);
    // With `alpha` (width x height bytes, rows top to bottom), byte 3 of
    // each 32-bit pixel comes from it instead of being 255.
    bool DecodeImage32(const unsigned char* entropyData, unsigned char* destination,
                       const unsigned char* alpha = nullptr);
    // The 32-bit pixels one MCU row at a time: each row of MCUs (16 pixel
    // rows, fewer at the bottom) is decoded into `strip` (width x 16 pixels,
    // or width x height for a shorter image; row stride 4 x width) and
    // handed to `sink` with its row count before the next one is decoded,
    // so a consumer of the pixels (the DXT encoder) reads them while they
    // are still in the cache and no whole image is ever stored. The sink
    // may overwrite the strip.
    using StripSink = void (*)(void* context, unsigned char* strip, int rows);
    bool DecodeStrips32(const unsigned char* entropyData, unsigned char* strip, const unsigned char* alpha,
                        StripSink sink, void* context);

private:
    friend struct ::CJpegDecoderTestAccess;

    // Per-stream preparation (JpegTables.cpp): the decoding state and the
    // dequantisation multipliers, the only tables that follow the stream.
    void InitTables();
    void BuildQuantTables();
    void ScaleQuantTable(uint16_t* table);

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
    struct SlowSymbol {
        BitReader bits;
        int symbol;
    };
    static SlowSymbol DecodeHuffmanSlow(BitReader bits, const DerivedHuffmanTable& table, int firstLength);
    static int ExtendSign(int size, int bits);
    static AcStep DecodeAcSymbol(BitReader& bits, int16_t* coefficients, uint32_t& last,
                                 const DerivedHuffmanTable& acTable, const FastAcPairTable& fastAc,
                                 const FastAcTable& singleAc);
    // Decodes the next block into 64 coefficients in natural order, with
    // `predictor` the DC predictor of its component; returns false when the
    // block holds no AC coefficient (true: it may hold some).
    bool DecodeBlock(BitReader& bits, int16_t* coefficients, int blockIndex, int32_t& predictor);

    // Reconstruction (JpegDecoder.cpp). `Kernels` selects the portable or
    // a SIMD form of the inverse DCT and of the color conversion.
    template <class Kernels>
    void InverseDct(const int16_t* coefficients, bool hasAc, uint8_t* samples, int blockIndex);
    template <class Kernels>
    void InverseDctPair(const int16_t* coefficients, const bool* hasAc, uint8_t* samples, int blockIndex);
    template <class Kernels, int BytesPerPixel>
    void DecodeMcu(uint8_t* pixels, size_t stride, const uint8_t* alpha, size_t alphaStride);
    // Without a sink the MCU rows land at their places in `destination`
    // (the whole image); with one, each in turn at its start (a strip).
    template <class Kernels, int BytesPerPixel>
    bool DecodeImage(const unsigned char* entropyData, unsigned char* destination, const uint8_t* alpha,
                     StripSink sink, void* context);
    template <int BytesPerPixel>
    bool DecodeImageAnyForm(const unsigned char* entropyData, unsigned char* destination, const uint8_t* alpha,
                            StripSink sink = nullptr, void* context = nullptr);

    uint16_t quality;
    uint16_t qualityScale;
    uint16_t lumaQuant[64];
    uint16_t chromaQuant[64];
    // Bound weights of the multipliers for the pair inverse DCT
    // (InverseDctBoundWeights, jpeg/JpegKernels.h).
    uint16_t lumaWeights[64];
    uint16_t chromaWeights[64];
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

}  // namespace jpeg
}  // namespace vt

#endif  // VELTRANE_JPEG_DECODER_H
