// Reaches the decoder's private tables and steps from the tests.
#ifndef VT_TESTS_JPEG_TEST_ACCESS_H
#define VT_TESTS_JPEG_TEST_ACCESS_H

#include <cstdint>

#include "jpeg/JpegDecoder.h"
#include "jpeg/JpegEntropy.h"
#include "jpeg/JpegKernels.h"

struct CJpegDecoderTestAccess {
    static uint16_t QualityScale(const vt::jpeg::CJpegDecoder& d) { return d.qualityScale; }
    static const uint16_t* LumaQuant(const vt::jpeg::CJpegDecoder& d) { return d.lumaQuant; }
    static const uint16_t* ChromaQuant(const vt::jpeg::CJpegDecoder& d) { return d.chromaQuant; }
    static const uint16_t* LumaWeights(const vt::jpeg::CJpegDecoder& d) { return d.lumaWeights; }
    static int32_t BytesLeft(const vt::jpeg::CJpegDecoder& d) { return d.bytesLeft; }
    static int32_t DcPredY(const vt::jpeg::CJpegDecoder& d) { return d.dcPredY; }

    // Points the bit reader at entropy data (as the decode call does).
    static void Start(vt::jpeg::CJpegDecoder& d, const unsigned char* data) { d.nextByte = data; }
    static bool DecodeBlock(vt::jpeg::CJpegDecoder& d, int16_t* coefficients, int blockIndex) {
        vt::jpeg::CJpegDecoder::BitReader bits = d.LoadBitReader();
        int32_t& predictor = blockIndex < 4 ? d.dcPredY : (blockIndex == 4 ? d.dcPredCb : d.dcPredCr);
        const bool hasAc = d.DecodeBlock(bits, coefficients, blockIndex, predictor);
        d.StoreBitReader(bits);
        return hasAc;
    }
};

#endif
