// Compact JPEG decoder: the MCU loop, reconstruction and pixel output.
#include "jpeg/JpegDecoder.h"

#include <cstring>

#include "cpu/CpuFeatures.h"
#include "jpeg/JpegEntropy.h"
#include "jpeg/JpegKernels.h"
#include "jpeg/JpegTables.h"

namespace vt {
namespace jpeg {

// Dequantise and inverse-transform one block. A block without AC terms is
// flat: every sample is the clamped DC value (what the transform gives).
template <class Kernels>
inline void CJpegDecoder::InverseDct(const int16_t* coefficients, bool hasAc, uint8_t* samples, int blockIndex) {
    const uint16_t* multipliers = blockIndex < 4 ? lumaQuant : chromaQuant;
    if (!hasAc) {
        const uint32_t dc = static_cast<uint32_t>(coefficients[0] * static_cast<int32_t>(multipliers[0]));
        std::memset(samples, kRangeLimit.entry[384 + ((dc >> 5) & 1023)], 64);
        return;
    }
    Kernels::InverseDct(coefficients, multipliers, kRangeLimit.entry, samples);
}

// Blocks `blockIndex` and the next one (both luminance, or Cb and Cr),
// together where both have AC terms.
template <class Kernels>
inline void CJpegDecoder::InverseDctPair(const int16_t* coefficients, const bool* hasAc, uint8_t* samples,
                                         int blockIndex) {
    if (hasAc[0] && hasAc[1]) {
        const bool luma = blockIndex < 4;
        Kernels::InverseDctPair(coefficients, coefficients + 64, luma ? lumaQuant : chromaQuant,
                                luma ? lumaWeights : chromaWeights, kRangeLimit.entry, samples, samples + 64);
        return;
    }
    InverseDct<Kernels>(coefficients, hasAc[0], samples, blockIndex);
    InverseDct<Kernels>(coefficients + 64, hasAc[1], samples + 64, blockIndex + 1);
}

template <class Kernels, int BytesPerPixel>
inline void CJpegDecoder::DecodeMcu(uint8_t* pixels, size_t stride, const uint8_t* alpha, size_t alphaStride) {
    // All six blocks are entropy-decoded first, with the bit reader in
    // registers, then transformed: the order of independent work only.
    alignas(32) int16_t coefficients[6][64];
    alignas(32) uint8_t samples[6 * 64];
    bool hasAc[6];
    // The reader and the predictors live in registers for the MCU.
    BitReader bits = LoadBitReader();
    int32_t predictors[3] = {dcPredY, dcPredCb, dcPredCr};
#pragma GCC unroll 6
    for (int b = 0; b < 6; ++b) hasAc[b] = DecodeBlock(bits, coefficients[b], b, predictors[b < 4 ? 0 : b - 3]);
    StoreBitReader(bits);
    dcPredY = predictors[0];
    dcPredCb = predictors[1];
    dcPredCr = predictors[2];
#pragma GCC unroll 3
    for (int b = 0; b < 6; b += 2) InverseDctPair<Kernels>(coefficients[b], hasAc + b, samples + 64 * b, b);
    Kernels::template ConvertMcu<BytesPerPixel>(samples, kColorTables, pixels, stride, alpha, alphaStride);
}

// MCUs in raster order. An MCU that lies wholly inside the image is
// converted straight into the destination; one that reaches past the right
// or bottom edge goes through a 16x16 buffer and only its inside part is
// copied, so rows keep exactly width pixels. Its alpha values likewise come
// through a 16x16 buffer, so that no row of the plane is read past its end.
template <class Kernels, int BytesPerPixel>
bool CJpegDecoder::DecodeImage(const unsigned char* entropyData, unsigned char* destination, const uint8_t* alpha,
                               StripSink sink, void* context) {
    if (entropyData == nullptr || destination == nullptr) return false;
    const int mcuColumns = (width + 15) >> 4;
    const int mcuRows = (height + 15) >> 4;
    const size_t rowStride = static_cast<size_t>(width) * BytesPerPixel;
    nextByte = entropyData;
    alignas(32) uint8_t edge[16 * 16 * BytesPerPixel];
    alignas(16) uint8_t edgeAlpha[16 * 16];
    for (int my = 0; my < mcuRows; ++my) {
        const int y0 = 16 * my;
        const int rows = y0 + 16 > height ? height - y0 : 16;
        uint8_t* rowBase = sink ? destination : destination + static_cast<size_t>(y0) * rowStride;
        for (int mx = 0; mx < mcuColumns; ++mx) {
            const int x0 = 16 * mx;
            const int columns = x0 + 16 > width ? width - x0 : 16;
            uint8_t* target = rowBase + static_cast<size_t>(x0) * BytesPerPixel;
            const uint8_t* mcuAlpha = alpha ? alpha + static_cast<size_t>(y0) * width + x0 : nullptr;
            if (rows == 16 && columns == 16) {
                DecodeMcu<Kernels, BytesPerPixel>(target, rowStride, mcuAlpha, width);
                continue;
            }
            if (mcuAlpha) {
                std::memset(edgeAlpha, 255, sizeof edgeAlpha);
                for (int r = 0; r < rows; ++r)
                    std::memcpy(edgeAlpha + 16 * r, mcuAlpha + static_cast<size_t>(r) * width, static_cast<size_t>(columns));
                mcuAlpha = edgeAlpha;
            }
            DecodeMcu<Kernels, BytesPerPixel>(edge, 16 * BytesPerPixel, mcuAlpha, 16);
            for (int r = 0; r < rows; ++r)
                std::memcpy(target + static_cast<size_t>(r) * rowStride, edge + r * 16 * BytesPerPixel,
                            static_cast<size_t>(columns) * BytesPerPixel);
        }
        if (sink) sink(context, destination, rows);
    }
    return true;
}

// The form is chosen once per image: AVX2 where the processor-feature mask
// has it, else SSE2, else portable.
template <int BytesPerPixel>
bool CJpegDecoder::DecodeImageAnyForm(const unsigned char* entropyData, unsigned char* destination,
                                      const uint8_t* alpha, StripSink sink, void* context) {
#if VT_HAVE_AVX2
    if (vt::cpu::HasCpuFeature(vt::cpu::kCpuAvx2))
        return DecodeImage<Avx2Kernels, BytesPerPixel>(entropyData, destination, alpha, sink, context);
#endif
#if VT_HAVE_SSE2
    if (vt::cpu::HasCpuFeature(vt::cpu::kCpuSse2))
        return DecodeImage<Sse2Kernels, BytesPerPixel>(entropyData, destination, alpha, sink, context);
#endif
    return DecodeImage<PortableKernels, BytesPerPixel>(entropyData, destination, alpha, sink, context);
}

bool CJpegDecoder::DecodeImage16(const unsigned char* entropyData, unsigned char* destination) {
    return DecodeImageAnyForm<2>(entropyData, destination, nullptr);
}

bool CJpegDecoder::DecodeImage24(const unsigned char* entropyData, unsigned char* destination) {
    return DecodeImageAnyForm<3>(entropyData, destination, nullptr);
}

bool CJpegDecoder::DecodeImage32(const unsigned char* entropyData, unsigned char* destination,
                                 const unsigned char* alpha) {
    return DecodeImageAnyForm<4>(entropyData, destination, alpha);
}

bool CJpegDecoder::DecodeStrips32(const unsigned char* entropyData, unsigned char* strip, const unsigned char* alpha,
                                  StripSink sink, void* context) {
    if (sink == nullptr) return false;
    return DecodeImageAnyForm<4>(entropyData, strip, alpha, sink, context);
}

}  // namespace jpeg
}  // namespace vt
