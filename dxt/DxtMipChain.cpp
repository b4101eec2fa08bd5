// Mip chains: the in-place 2 x 2 averaging in both forms, and the chain
// itself (encode, average, encode ... down to 1 x 1, levels back to back).
#include <cstdint>
#include <cstring>

#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"

#if VT_DXT_HAVE_SIMD
#include <emmintrin.h>
#endif

namespace dxt {

namespace {

inline int Clamp(int value, int last) { return value < last ? value : last; }

// One new pixel (x, y) of the next level from the previous level's
// width x height pixels. Source coordinates are clamped, so a previous side of
// 1 averages a pixel with itself instead of reading past the level; for a
// side of 2 or more the clamp never takes effect (2x + 1 <= width - 1).
inline void AveragePixel(uint8_t* pixels, int width, int height, int newWidth, int x, int y, int channels) {
    const size_t stride = static_cast<size_t>(width) * 4;
    const uint8_t* top = pixels + static_cast<size_t>(Clamp(2 * y, height - 1)) * stride;
    const uint8_t* bottom = pixels + static_cast<size_t>(Clamp(2 * y + 1, height - 1)) * stride;
    const size_t left = static_cast<size_t>(Clamp(2 * x, width - 1)) * 4;
    const size_t right = static_cast<size_t>(Clamp(2 * x + 1, width - 1)) * 4;
    uint8_t* dst = pixels + (static_cast<size_t>(y) * newWidth + x) * 4;
    // Channel by channel, as the in-place order requires: dst may be one of
    // its own sources (pixel 0), but each byte is read before it is written.
    for (int c = 0; c < channels; ++c) {
        const unsigned sum = top[left + c] + top[right + c] + bottom[left + c] + bottom[right + c];
        dst[c] = static_cast<uint8_t>(sum >> 2);
    }
}

}  // namespace

// New pixels are written in raster order at index y x newWidth + x; every
// source of a later pixel lies at a higher index than every pixel written so
// far, so the reduction needs no second buffer.
void AverageMipLevelPortable(uint8_t* pixels, int width, int height, bool averageAlpha) {
    if (width <= 0 || height <= 0) return;
    const int newWidth = NextMipSide(width), newHeight = NextMipSide(height);
    const int channels = averageAlpha ? 4 : 3;
    for (int y = 0; y < newHeight; ++y)
        for (int x = 0; x < newWidth; ++x) AveragePixel(pixels, width, height, newWidth, x, y, channels);
}

#if VT_DXT_HAVE_SIMD
// Four new pixels per step from eight old pixels of each of the two source
// rows: bytes widened to 16-bit lanes, the 2 x 2 sums formed, shifted right
// by 2 and packed back (no saturation can occur: the mean is at most 255).
// All loads of a step precede its store, which lies at or below its sources.
// Columns left over (and a previous width of 1) take the per-pixel path.
void AverageMipLevelSimd(uint8_t* pixels, int width, int height, bool averageAlpha) {
    if (width <= 0 || height <= 0) return;
    const int newWidth = NextMipSide(width), newHeight = NextMipSide(height);
    const int channels = averageAlpha ? 4 : 3;
    const size_t stride = static_cast<size_t>(width) * 4;
    const int vectorWidth = width >= 2 ? newWidth & ~3 : 0;
    const __m128i zero = _mm_setzero_si128();
    const __m128i colorMask = _mm_set1_epi32(averageAlpha ? -1 : 0x00FFFFFF);
    for (int y = 0; y < newHeight; ++y) {
        const uint8_t* top = pixels + static_cast<size_t>(Clamp(2 * y, height - 1)) * stride;
        const uint8_t* bottom = pixels + static_cast<size_t>(Clamp(2 * y + 1, height - 1)) * stride;
        uint8_t* dst = pixels + static_cast<size_t>(y) * newWidth * 4;
        for (int x = 0; x < vectorWidth; x += 4) {
            const size_t at = static_cast<size_t>(x) * 8;  // old pixel 2x, in bytes
            const __m128i t0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at));
            const __m128i t1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + at + 16));
            const __m128i b0 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at));
            const __m128i b1 = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + at + 16));
            const __m128i kept = _mm_loadu_si128(reinterpret_cast<const __m128i*>(dst + 4 * static_cast<size_t>(x)));
            // Column sums: s*lo = old pixels 0,1 (or 4,5), s*hi = 2,3 (6,7).
            const __m128i s0lo = _mm_add_epi16(_mm_unpacklo_epi8(t0, zero), _mm_unpacklo_epi8(b0, zero));
            const __m128i s0hi = _mm_add_epi16(_mm_unpackhi_epi8(t0, zero), _mm_unpackhi_epi8(b0, zero));
            const __m128i s1lo = _mm_add_epi16(_mm_unpacklo_epi8(t1, zero), _mm_unpacklo_epi8(b1, zero));
            const __m128i s1hi = _mm_add_epi16(_mm_unpackhi_epi8(t1, zero), _mm_unpackhi_epi8(b1, zero));
            // Even old pixels plus odd old pixels: new pixels 0,1 and 2,3.
            const __m128i n01 = _mm_add_epi16(_mm_unpacklo_epi64(s0lo, s0hi), _mm_unpackhi_epi64(s0lo, s0hi));
            const __m128i n23 = _mm_add_epi16(_mm_unpacklo_epi64(s1lo, s1hi), _mm_unpackhi_epi64(s1lo, s1hi));
            const __m128i mean = _mm_packus_epi16(_mm_srli_epi16(n01, 2), _mm_srli_epi16(n23, 2));
            const __m128i result =
                _mm_or_si128(_mm_and_si128(mean, colorMask), _mm_andnot_si128(colorMask, kept));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 4 * static_cast<size_t>(x)), result);
        }
        for (int x = vectorWidth; x < newWidth; ++x) AveragePixel(pixels, width, height, newWidth, x, y, channels);
    }
}
#endif

}  // namespace dxt

int DxtMipChainBytes(int width, int height, DxtFormat format) {
    if (width <= 0 || height <= 0) return 0;
    const long long blockBytes = format == kDxt5 ? 16 : 8;
    long long total = 0;
    for (;;) {
        total += static_cast<long long>((width + 3) / 4) * ((height + 3) / 4) * blockBytes;
        if (width == 1 && height == 1) break;
        width = dxt::NextMipSide(width);
        height = dxt::NextMipSide(height);
    }
    return static_cast<int>(total);
}

int EncodeDxtMipChain(unsigned char* scratch, int width, int height, DxtFormat format, bool averageAlpha,
                      unsigned char* destination) {
    if (width <= 0 || height <= 0) return 0;
    const bool dxt5 = format == kDxt5;
    // The form is chosen once for the whole chain, encoder and averaging alike.
#if VT_DXT_HAVE_SIMD
    const bool simd = MmxAvailable() != 0;
#else
    const bool simd = false;
    (void)simd;
#endif
    long long offset = 0;
    for (;;) {
        int written = 0;
#if VT_DXT_HAVE_SIMD
        if (simd)
            dxt::EncodeImageSimd(scratch, destination + offset, width, height, dxt5, &written);
        else
#endif
            dxt::EncodeImagePortable(scratch, destination + offset, width, height, dxt5, &written);
        offset += written;
        if (width == 1 && height == 1) break;
#if VT_DXT_HAVE_SIMD
        if (simd)
            dxt::AverageMipLevelSimd(scratch, width, height, averageAlpha);
        else
#endif
            dxt::AverageMipLevelPortable(scratch, width, height, averageAlpha);
        width = dxt::NextMipSide(width);
        height = dxt::NextMipSide(height);
    }
    return static_cast<int>(offset);
}
