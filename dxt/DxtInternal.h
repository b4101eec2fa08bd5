// Internal pieces of the DXT encoder that the image encoders, the mip chain
// and the tests share: which SIMD form this build carries, the per-block
// encoders in both forms, the edge-block gathering and the 2 x 2 averaging.
//
// Every function here has a portable form and, on x86, a SIMD form whose name
// ends in Simd. The two give identical bytes for every input; the process-wide
// flag (MmxAvailable) picks one form once per image or chain.
#ifndef VELTRANE_DXT_INTERNAL_H
#define VELTRANE_DXT_INTERNAL_H

#include <cstdint>

// The SIMD form uses SSE2, which every x86-64 processor has. 32-bit x86
// builds get it when the compiler targets SSE2; everything else (and 32-bit
// builds without SSE2) compiles the portable form alone. Defining
// VT_DXT_HAVE_SIMD=0 builds the portable form alone on x86 too, which is how
// that configuration is checked here.
#if !defined(VT_DXT_HAVE_SIMD)
#if defined(__x86_64__) || (defined(__i386__) && defined(__SSE2__))
#define VT_DXT_HAVE_SIMD 1
#else
#define VT_DXT_HAVE_SIMD 0
#endif
#endif
// On x86-64 an AVX2 variant of the SIMD form is built too (one file compiled
// with AVX2 enabled) and used only where the processor reports AVX2 at load.
#if !defined(VT_DXT_HAVE_AVX2)
#if VT_DXT_HAVE_SIMD && defined(__x86_64__)
#define VT_DXT_HAVE_AVX2 1
#else
#define VT_DXT_HAVE_AVX2 0
#endif
#endif

// The per-block steps are small; inlining them into the image loop lets the
// endpoints stay in registers between steps.
#define VT_DXT_ALWAYS_INLINE inline __attribute__((always_inline))

namespace dxt {

constexpr int kBlockBytes = 64;  // 4 x 4 pixels of 4 bytes, row-major

// One 4 x 4 block (64 bytes, row-major) to an 8-byte DXT1 color block or a
// 16-byte DXT5 block at `out`.
void EncodeDxt1BlockPortable(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockPortable(const uint8_t* block, uint8_t* out);
#if VT_DXT_HAVE_SIMD
void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out);  // SSE2
void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out);
#endif
#if VT_DXT_HAVE_AVX2
void EncodeDxt1BlockAvx2(const uint8_t* block, uint8_t* out);
void EncodeDxt5BlockAvx2(const uint8_t* block, uint8_t* out);
#endif

// One in-place 2 x 2 reduction of a mip chain. `pixels` holds the previous
// level, width x height (row stride 4 x width); the next level,
// NextMipSide(width) x NextMipSide(height), is written from the start of the
// same buffer. Each new byte is the truncated mean of the four bytes under it;
// source coordinates are clamped to the previous level, so a side of 1 (or an
// odd last column/row) never reaches outside it. `averageAlpha` false keeps
// byte 3 of every written pixel as it lay in the buffer.
void AverageMipLevelPortable(uint8_t* pixels, int width, int height, bool averageAlpha);
#if VT_DXT_HAVE_SIMD
void AverageMipLevelSimd(uint8_t* pixels, int width, int height, bool averageAlpha);
#endif

// The side of the next mip level: halved, a side of 1 stays 1.
inline int NextMipSide(int side) { return side > 1 ? side >> 1 : 1; }

// The image encoders with the form chosen by the caller rather than by the
// flag; the mip chain reads the flag once and uses these for every level.
// EncodeImageSimd is the SIMD form: the AVX2 variant where the processor has
// AVX2, else the SSE2 one (the same bytes either way).
void EncodeImagePortable(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#if VT_DXT_HAVE_SIMD
void EncodeImageSimd(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
void EncodeImageSse2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#endif
#if VT_DXT_HAVE_AVX2
void EncodeImageAvx2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten);
#endif

}  // namespace dxt

#endif  // VELTRANE_DXT_INTERNAL_H
