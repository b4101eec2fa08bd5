// Internal pieces of the DXT encoder that the image encoders, the mip chain
// and the tests share: the forms, the per-block encoders in each form, the
// 2 x 2 averaging, and the image encoder with the form chosen by the caller.
//
// Forms: the portable form (DxtBlockPortable.h, DxtEncoder.cpp,
// DxtMipChain.cpp) and the SIMD form, whose variants live in files of their
// own, built with their instruction set (DxtEncoderSse2.cpp,
// DxtMipChainSse2.cpp; DxtEncoderAvx2.cpp, DxtMipChainAvx2.cpp;
// DxtEncoderAvx512.cpp, whose chains average with the AVX2 variant). Every
// form gives identical bytes for every input; the MMX availability flag
// picks portable or SIMD, the processor-feature mask the SIMD variant, once
// per image or chain.
#ifndef VELTRANE_DXT_INTERNAL_H
#define VELTRANE_DXT_INTERNAL_H

#include <cstdint>

#include "cpu/CpuFeatures.h"

// The per-block steps are small; inlining them into the image loop lets the
// endpoints stay in registers between steps.
#define VT_DXT_ALWAYS_INLINE inline __attribute__((always_inline))

namespace vt {
namespace dxt {

constexpr int kBlockBytes = 64;  // 4 x 4 pixels of 4 bytes, row-major

enum class Form { kPortable, kSse2, kAvx2, kAvx512 };

// The form of one image or chain: portable when the MMX availability flag is
// 0, else the SIMD variant of the widest instruction set the processor-
// feature mask has (AVX-512, AVX2, SSE2).
Form ChooseForm();

// One 4 x 4 block (64 bytes, row-major) to an 8-byte DXT1 color block or a
// 16-byte DXT5 block at `out`.
void EncodeDxt1BlockPortable(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockPortable(const uint8_t* block, uint8_t* out);
#if VT_HAVE_SSE2
void EncodeDxt1BlockSse2(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockSse2(const uint8_t* block, uint8_t* out);
#endif
#if VT_HAVE_AVX2
void EncodeDxt1BlockAvx2(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockAvx2(const uint8_t* block, uint8_t* out);
#endif
#if VT_HAVE_AVX512
void EncodeDxt1BlockAvx512(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockAvx512(const uint8_t* block, uint8_t* out);
#endif

// A whole image in one form (what EncodeDxt1Image / EncodeDxt5Image do
// after choosing it).
void EncodeImagePortable(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#if VT_HAVE_SSE2
void EncodeImageSse2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#endif
#if VT_HAVE_AVX2
void EncodeImageAvx2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#endif
#if VT_HAVE_AVX512
void EncodeImageAvx512(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#endif
void EncodeImage(Form form, const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5,
                 int* bytesWritten);

// One in-place 2 x 2 reduction of a mip chain. `pixels` holds the previous
// level, width x height (row stride 4 x width); the next level,
// NextMipSide(width) x NextMipSide(height), is written from the start of the
// same buffer. Each new byte is the truncated mean of the four bytes under it;
// source coordinates are clamped to the previous level, so a side of 1 (or an
// odd last column/row) never reaches outside it. `averageAlpha` false keeps
// byte 3 of every written pixel as it lay in the buffer. The SIMD form has
// an SSE2 and an AVX2 variant (one body, DxtMipAverageSimd.h).
void AverageMipLevelPortable(uint8_t* pixels, int width, int height, bool averageAlpha);
#if VT_HAVE_SSE2
void AverageMipLevelSse2(uint8_t* pixels, int width, int height, bool averageAlpha);
#endif
#if VT_HAVE_AVX2
void AverageMipLevelAvx2(uint8_t* pixels, int width, int height, bool averageAlpha);
#endif
// The portable averaging of the new pixels x = first .. newWidth - 1 of new
// row y: the SIMD variants hand their leftover columns to it.
void AverageMipRowTailPortable(uint8_t* pixels, int width, int height, int y, int first, bool averageAlpha);

// The side of the next mip level: halved, a side of 1 stays 1.
inline int NextMipSide(int side) { return side > 1 ? side >> 1 : 1; }

// A source row or column of the averaging, clamped to the previous level.
inline int ClampToLast(int value, int last) { return value < last ? value : last; }

}  // namespace dxt
}  // namespace vt

#endif  // VELTRANE_DXT_INTERNAL_H
