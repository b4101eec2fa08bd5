// Compact JPEG decoder: the stream header and the per-stream tables (the
// dequantisation multipliers). The stream-independent tables are constants
// in JpegTables.h.
#include "jpeg/JpegDecoder.h"

#include "jpeg/JpegKernels.h"
#include "jpeg/JpegTables.h"

namespace vt {
namespace jpeg {

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
    BuildQuantTables();
}

void CJpegDecoder::BuildQuantTables() {
    unsigned q = quality;
    if (q == 0) q = 1;
    if (q > 100) q = 100;
    qualityScale = static_cast<uint16_t>(q < 50 ? 5000 / q : 200 - 2 * q);
    ScaleQuantTable(lumaQuant);
    ScaleQuantTable(chromaQuant);
    InverseDctBoundWeights(lumaQuant, lumaWeights);
    InverseDctBoundWeights(chromaQuant, chromaWeights);
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

}  // namespace jpeg
}  // namespace vt
