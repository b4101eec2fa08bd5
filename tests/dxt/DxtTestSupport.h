// Helpers shared by the DXT tests: forcing the form, sample images, and the
// reference block gathering (clamping to the image edge).
#ifndef VELTRANE_TESTS_DXT_SUPPORT_H
#define VELTRANE_TESTS_DXT_SUPPORT_H

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "dxt/DxtEncoder.h"
#include "support/CpuForms.h"
#include "support/Photos.h"

namespace dxttest {

// Forces the form for the lifetime of the object: 0 the portable form (the
// MMX availability flag cleared), 1 the SIMD form this processor runs.
class ScopedForm {
public:
    explicit ScopedForm(int simd) : mask_(simd ? ~0u : 0u) {}

private:
    vt::test::ScopedCpuFeatures mask_;
};

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;  // 4 bytes a pixel
};

// A sample photograph as 4-byte pixels, with an alpha plane made from the
// picture itself (channel 1 of the pixel three to the right), so that alpha
// carries natural detail too.
inline Image LoadSample(const std::string& name) {
    const vt::test::Photo& photo = vt::test::LoadPhoto(name, 4);
    Image image;
    image.width = photo.width;
    image.height = photo.height;
    image.pixels = photo.pixels;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const int from = x + 3 < image.width ? x + 3 : x;
            image.pixels[(static_cast<size_t>(y) * image.width + x) * 4 + 3] =
                image.pixels[(static_cast<size_t>(y) * image.width + from) * 4 + 1];
        }
    return image;
}

// The top-left crop of an image.
inline Image Crop(const Image& source, int width, int height) {
    Image crop;
    crop.width = width;
    crop.height = height;
    crop.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 4; ++c)
                crop.pixels[(static_cast<size_t>(y) * width + x) * 4 + c] =
                    source.pixels[(static_cast<size_t>(y) * source.width + x) * 4 + c];
    return crop;
}

inline std::vector<uint8_t> RandomBytes(size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> bytes(count);
    for (auto& b : bytes) b = static_cast<uint8_t>(rng());
    return bytes;
}

// Block (bx, by) of an image as the encoder must see it: pixel (r, c) is the
// image pixel at row min(4 by + r, height - 1), column min(4 bx + c, width - 1).
inline void ClampedBlock(const uint8_t* pixels, int width, int height, int bx, int by, uint8_t* block) {
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            const int y = 4 * by + r < height ? 4 * by + r : height - 1;
            const int x = 4 * bx + c < width ? 4 * bx + c : width - 1;
            for (int k = 0; k < 4; ++k) block[16 * r + 4 * c + k] = pixels[(static_cast<size_t>(y) * width + x) * 4 + k];
        }
}

inline std::string Hex(const uint8_t* bytes, size_t count) {
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        if (i) text += ' ';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 15];
    }
    return text;
}

}  // namespace dxttest

#endif  // VELTRANE_TESTS_DXT_SUPPORT_H
