// Mip chains: the in-place 2 x 2 averaging, portable form, and the chain
// itself (encode, average, encode ... down to 1 x 1, levels back to back).
// The averaging's SIMD form is in DxtMipChainSse2.cpp and DxtMipChainAvx2.cpp.
#include <cstdint>
#include <cstring>

#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"

namespace vt {
namespace dxt {

namespace {

// One new pixel (x, y) of the next level from the previous level's
// width x height pixels. Source coordinates are clamped, so a previous side of
// 1 averages a pixel with itself instead of reading past the level; for a
// side of 2 or more the clamp never takes effect (2x + 1 <= width - 1).
inline void AveragePixel(uint8_t* pixels, int width, int height, int newWidth, int x, int y, int channels) {
    const size_t stride = static_cast<size_t>(width) * 4;
    const uint8_t* top = pixels + static_cast<size_t>(ClampToLast(2 * y, height - 1)) * stride;
    const uint8_t* bottom = pixels + static_cast<size_t>(ClampToLast(2 * y + 1, height - 1)) * stride;
    const size_t left = static_cast<size_t>(ClampToLast(2 * x, width - 1)) * 4;
    const size_t right = static_cast<size_t>(ClampToLast(2 * x + 1, width - 1)) * 4;
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

void AverageMipRowTailPortable(uint8_t* pixels, int width, int height, int y, int first, bool averageAlpha) {
    const int newWidth = NextMipSide(width);
    const int channels = averageAlpha ? 4 : 3;
    for (int x = first; x < newWidth; ++x) AveragePixel(pixels, width, height, newWidth, x, y, channels);
}

int DxtMipChainBytes(int width, int height, DxtFormat format) {
    if (width <= 0 || height <= 0) return 0;
    const long long blockBytes = format == kDxt5 ? 16 : 8;
    long long total = 0;
    for (;;) {
        total += static_cast<long long>((width + 3) / 4) * ((height + 3) / 4) * blockBytes;
        if (width == 1 && height == 1) break;
        width = NextMipSide(width);
        height = NextMipSide(height);
    }
    return static_cast<int>(total);
}

namespace {

void AverageMipLevel(Form form, uint8_t* pixels, int width, int height, bool averageAlpha) {
    switch (form) {
#if VT_HAVE_AVX2
        case Form::kAvx512:  // the averaging has no wider variant
        case Form::kAvx2:
            AverageMipLevelAvx2(pixels, width, height, averageAlpha);
            return;
#endif
#if VT_HAVE_SSE2
        case Form::kSse2:
            AverageMipLevelSse2(pixels, width, height, averageAlpha);
            return;
#endif
        default:
            AverageMipLevelPortable(pixels, width, height, averageAlpha);
            return;
    }
}

int EncodeChain(Form form, unsigned char* scratch, int width, int height, bool dxt5, bool averageAlpha,
                unsigned char* destination) {
    long long offset = 0;
    for (;;) {
        int written = 0;
        EncodeImage(form, scratch, destination + offset, width, height, dxt5, &written);
        offset += written;
        if (width == 1 && height == 1) break;
        AverageMipLevel(form, scratch, width, height, averageAlpha);
        width = NextMipSide(width);
        height = NextMipSide(height);
    }
    return static_cast<int>(offset);
}

}  // namespace

int EncodeDxtMipChain(unsigned char* scratch, int width, int height, DxtFormat format, bool averageAlpha,
                      unsigned char* destination) {
    if (width <= 0 || height <= 0) return 0;
    // The form is chosen once for the whole chain, encoder and averaging
    // alike.
    return EncodeChain(ChooseForm(), scratch, width, height, format == kDxt5, averageAlpha, destination);
}

int DxtNextLevelBytes(int width, int height) {
    if (width <= 0 || height <= 0 || (width == 1 && height == 1)) return 0;
    return NextMipSide(width) * NextMipSide(height) * 4;
}

DxtStripEncoder::DxtStripEncoder(int width, int height, DxtFormat format, unsigned char* destination,
                                 unsigned char* nextLevel)
    : width_(width), height_(height), dxt5_(format == kDxt5), form_(ChooseForm()),
      destination_(destination), nextLevel_(DxtNextLevelBytes(width, height) > 0 ? nextLevel : nullptr) {}

// Blocks never straddle two strips (every strip but the last has a multiple
// of 4 rows), and the in-place averaging of a strip gives exactly the rows
// the whole image's averaging gives for it: new row j of the strip comes
// from its rows 2j and 2j + 1, the latter clamped to the strip's last row,
// which is the image's last row wherever the clamp takes effect. A strip of
// r rows gives r / 2 new rows (a one-row image gives its one row). All four
// bytes are averaged, for DXT1 too: its blocks never read byte 3, and a
// whole-word average needs no merge with the bytes it would keep.
void DxtStripEncoder::AddStrip(unsigned char* strip, int rows) {
    int written = 0;
    EncodeImage(form_, strip, destination_ + offset_, width_, rows, dxt5_, &written);
    offset_ += written;
    if (nextLevel_ == nullptr) return;
    const int newRows = height_ == 1 ? 1 : rows / 2;
    if (newRows == 0) return;
    AverageMipLevel(form_, strip, width_, rows, true);
    const std::size_t rowBytes = static_cast<std::size_t>(NextMipSide(width_)) * 4;
    std::memcpy(nextLevel_ + static_cast<std::size_t>(nextRows_) * rowBytes, strip, newRows * rowBytes);
    nextRows_ += newRows;
}

int DxtStripEncoder::Finish() {
    if (nextLevel_ != nullptr)
        offset_ += EncodeChain(form_, nextLevel_, NextMipSide(width_), NextMipSide(height_), dxt5_, true,
                               destination_ + offset_);
    return static_cast<int>(offset_);
}

}  // namespace dxt
}  // namespace vt
