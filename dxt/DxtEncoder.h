// DXT1 / DXT5 encoding of 4-byte-per-pixel images, and the mip chains built
// from them. Internal to the library.
#ifndef VELTRANE_DXT_ENCODER_H
#define VELTRANE_DXT_ENCODER_H

namespace vt {
namespace dxt {

// Encode a width x height image of 4-byte pixels (row stride 4 x width) into
// ceil(w/4) x ceil(h/4) blocks in raster order; *bytesWritten receives the
// bytes written. The source is only read; edge blocks repeat the last row and
// column. Width or height 0 writes nothing.
void EncodeDxt1Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten);
void EncodeDxt5Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten);

enum DxtFormat { kDxt1 = 0, kDxt5 = 1 };

// Bytes of a mip chain of width x height in `format`: every level from the
// full size down to 1 x 1, each at least one block.
int DxtMipChainBytes(int width, int height, DxtFormat format);

// Encodes `scratch` (width x height, 4 bytes a pixel) and every 2 x 2 average
// below it, down to 1 x 1, back to back into `destination`. The averaging runs
// in place, so `scratch` is overwritten. `averageAlpha` false leaves byte 3 of
// the scratch pixels as it lies; true averages all four bytes. Returns the
// bytes written (DxtMipChainBytes).
int EncodeDxtMipChain(unsigned char* scratch, int width, int height, DxtFormat format, bool averageAlpha,
                      unsigned char* destination);

enum class Form;  // DxtInternal.h

// One DXT level, or a mip chain, whose full-size image arrives in strips of
// rows from the top (a decoder's rows of MCUs): each strip is encoded while
// it is still in the cache and, for a chain, averaged into the next level,
// so the full-size image is never stored whole. Same bytes as
// EncodeDxt1Image / EncodeDxt5Image, or EncodeDxtMipChain on the whole
// image (with all four bytes averaged; DXT1 blocks never look at byte 3,
// so a DXT1 chain is the same either way).
class DxtStripEncoder {
public:
    // `nextLevel`: DxtNextLevelBytes(width, height) bytes for a chain, null
    // for the one level. The form is chosen here, once for everything.
    DxtStripEncoder(int width, int height, DxtFormat format, unsigned char* destination, unsigned char* nextLevel);
    // The next `rows` rows: width x rows pixels of 4 bytes at `strip`. Every
    // strip but the last has a multiple of 4 rows. A chain averages the
    // strip in place, overwriting it.
    void AddStrip(unsigned char* strip, int rows);
    // Encodes the levels below the first; returns the bytes written in all.
    int Finish();

private:
    int width_, height_;
    bool dxt5_;
    Form form_;
    unsigned char* destination_;
    unsigned char* nextLevel_;
    long long offset_ = 0;
    int nextRows_ = 0;  // rows of the next level written so far
};

// Bytes of the second level of a width x height chain (4 bytes a pixel);
// 0 when the chain has one level (1 x 1).
int DxtNextLevelBytes(int width, int height);

// The MMX availability flag: 0 = portable forms, 1 = SIMD forms (of the
// encoders and of the mip averaging). It is the SSE2 bit of the processor-
// feature mask (cpu/CpuFeatures.h), probed once at load; DetectMmx() is the
// probe's answer, MmxAvailable() the flag as the encoders read it (which the
// feature mask of test builds can clear).
int DetectMmx();
int MmxAvailable();

}  // namespace dxt
}  // namespace vt

#endif  // VELTRANE_DXT_ENCODER_H
