// SIMD form of the encoder, AVX2 variant (DxtEncoderWide.h). This file
// is compiled with AVX2 enabled (cmake/Isa.cmake) and runs only where the
// processor-feature mask has AVX2.
#include "dxt/DxtInternal.h"

#if VT_HAVE_AVX2

#include "dxt/DxtEncoderWide.h"

namespace vt {
namespace dxt {

void EncodeDxt1BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockSimd(block, out); }
void EncodeDxt5BlockAvx2(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockSimd(block, out); }

void EncodeImageAvx2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<WideForm>(pixels, output, width, height, dxt5, bytesWritten);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX2
