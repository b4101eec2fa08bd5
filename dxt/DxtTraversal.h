// The image traversal shared by every form of the encoder: 4 x 4 blocks in
// raster order, full blocks copied straight from the image, the last block
// column and the last block row gathered with edge replication. One body for
// both formats and all forms; the form is a template argument, so the choice
// is made once per image, not per block.
//
// Internal linkage on purpose: the AVX2 file instantiates this with AVX2
// enabled, and that copy must never be linked in place of the baseline one.
#ifndef VELTRANE_DXT_TRAVERSAL_H
#define VELTRANE_DXT_TRAVERSAL_H

#include <cstdint>
#include <cstring>

namespace vt {
namespace dxt {
namespace {

// Fills the block buffer from the `columns` x `rows` pixels (1 to 4 each)
// whose top-left pixel is `topLeft` in an image `width` pixels wide, repeating
// the last column and then the last row: pixel (r, c) of the block is the
// image pixel at row min(r, rows - 1), column min(c, columns - 1). Reads only
// the pixels that exist.
inline void GatherEdgeBlock(const uint8_t* topLeft, int width, int columns, int rows, uint8_t* block) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int r = 0; r < rows; ++r) {
        uint8_t* dst = block + 16 * r;
        std::memcpy(dst, topLeft + r * stride, static_cast<size_t>(columns) * 4);
        for (int c = columns; c < 4; ++c) std::memcpy(dst + 4 * c, dst + 4 * (columns - 1), 4);
    }
    for (int r = rows; r < 4; ++r) std::memcpy(block + 16 * r, block + 16 * (rows - 1), 16);
}

// Form: static Copy(topLeft, width, block) for a full block and static
// Encode(block, out) writing kDxt5 ? 16 : 8 bytes; where kPairs is true,
// also EncodePairs(topLeft, width, pairs, blockRows, out) for `pairs` pairs
// of full blocks side by side in each of `blockRows` block rows, read
// straight from the image, writing them all back to back.
template <class Form, bool kDxt5>
void TraverseImage(const uint8_t* pixels, uint8_t* output, int width, int height, int* bytesWritten) {
    if (width <= 0 || height <= 0) {
        *bytesWritten = 0;
        return;
    }
    constexpr int kOutBytes = kDxt5 ? 16 : 8;
    const int fullWidth = (width / 4) * 4;
    const int restWidth = width - fullWidth;
    const size_t stride = static_cast<size_t>(width) * 4;
    alignas(16) uint8_t block[64];
    uint8_t* out = output;
    int y = 0;
    if constexpr (Form::kPairs) {
        // Block rows of pairs alone (the width a multiple of 8) go in one run.
        const int pairs = width / 8;
        const int blockRows = height / 4;
        if (width % 8 == 0 && blockRows > 0) {
            Form::template EncodePairs<kDxt5>(pixels, width, pairs, blockRows, out);
            out += 2 * kOutBytes * static_cast<size_t>(pairs) * blockRows;
            y = 4 * blockRows;
        }
    }
    for (; y < height; y += 4) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        const int rows = height - y < 4 ? height - y : 4;
        int x = 0;
        if constexpr (Form::kPairs) {
            const int pairs = fullWidth / 8;
            if (rows == 4 && pairs > 0) {
                Form::template EncodePairs<kDxt5>(row, width, pairs, 1, out);
                x = 8 * pairs;
                out += 2 * kOutBytes * pairs;
            }
        }
        for (; x < fullWidth; x += 4) {
            if (rows == 4)
                Form::Copy(row + 4 * static_cast<size_t>(x), width, block);
            else
                GatherEdgeBlock(row + 4 * static_cast<size_t>(x), width, 4, rows, block);
            Form::template Encode<kDxt5>(block, out);
            out += kOutBytes;
        }
        if (restWidth > 0) {
            GatherEdgeBlock(row + 4 * static_cast<size_t>(fullWidth), width, restWidth, rows, block);
            Form::template Encode<kDxt5>(block, out);
            out += kOutBytes;
        }
    }
    *bytesWritten = static_cast<int>(out - output);
}

template <class Form>
void TraverseImage(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    if (dxt5)
        TraverseImage<Form, true>(pixels, output, width, height, bytesWritten);
    else
        TraverseImage<Form, false>(pixels, output, width, height, bytesWritten);
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VELTRANE_DXT_TRAVERSAL_H
