// SIMD form of the encoder, SSE2 variant: the block steps of DxtBlockSse2.h
// assembled into blocks (DxtBlockSimd.h) and run over the image by the shared
// traversal. Built with SSE2 enabled (cmake/Isa.cmake; the baseline on
// x86-64), run only where the MMX availability flag is set. Same bytes as
// the portable form for every block.
#include "dxt/DxtInternal.h"

#if VT_HAVE_SSE2

#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtTraversal.h"

namespace vt {
namespace dxt {

void EncodeDxt1BlockSse2(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockSimd(block, out); }
void EncodeDxt5BlockSse2(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockSimd(block, out); }

void EncodeImageSse2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<SimdBlockForm>(pixels, output, width, height, dxt5, bytesWritten);
}

}  // namespace dxt
}  // namespace vt

#endif  // VT_HAVE_SSE2
