// SIMD form of the encoder, AVX-512 variant (DxtEncoderWide.h). This file
// is compiled with AVX-512 enabled (cmake/Isa.cmake) and runs only where the
// processor-feature mask has AVX-512.
#include "dxt/DxtInternal.h"

#if VT_HAVE_AVX512

#if !defined(__AVX512BW__) || !defined(__AVX512VL__)
#error "DxtEncoderAvx512.cpp must be compiled with AVX-512 enabled (see cmake/Isa.cmake)"
#endif

#include "dxt/DxtEncoderWide.h"

namespace vt {
namespace dxt {

void EncodeDxt1BlockAvx512(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockSimd(block, out); }
void EncodeDxt5BlockAvx512(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockSimd(block, out); }

void EncodeImageAvx512(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<WideForm>(pixels, output, width, height, dxt5, bytesWritten);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_AVX512
