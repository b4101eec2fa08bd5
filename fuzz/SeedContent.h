// Small, well-formed content for the fuzz seeds: a hill-shaded tile and its
// height field, from the same procedural terrain the sample pyramids use, and
// JPEG 2000 code streams of the less common kinds made from it.
#ifndef VELTRANE_FUZZ_SEED_CONTENT_H
#define VELTRANE_FUZZ_SEED_CONTENT_H

#include <algorithm>
#include <vector>

#include "J2kEncode.h"
#include "Payloads.h"
#include "Procedural.h"

namespace vt {
namespace fuzz {

inline payloads::Image SeedTile(int width, int height) {
    payloads::Area area;
    area.width = width;
    area.height = height;
    return payloads::RenderTerrain(area, payloads::HeightField(area), true);
}

inline std::vector<uint8_t> AlphaPlane(const payloads::Image& image) {
    std::vector<uint8_t> alpha(static_cast<size_t>(image.width) * image.height);
    for (size_t i = 0; i < alpha.size(); ++i) alpha[i] = image.rgba[4 * i + 3];
    return alpha;
}

// Code streams that take the codec binding's sample conversion off its common
// path (8-bit unsigned, full resolution), made by OpenJPEG's encoder from a
// side x side seed tile on an odd grid origin:
//   - colour at 12 bits with both chroma components sub-sampled 2 x 2,
//   - signed 16-bit grey,
//   - 4-bit grey with alpha,
//   - signed 10-bit colour with alpha sub-sampled 2 x 1 (JP2 file).
// `ratio` 0 codes losslessly, otherwise at that compression ratio.
inline std::vector<std::vector<uint8_t>> UnusualJpeg2000(int side, float ratio) {
    using j2kenc::Component;
    const payloads::Image tile = SeedTile(side, side);
    j2kenc::Options options = ratio > 0 ? j2kenc::Options::Ratio(ratio) : j2kenc::Options::Lossless();
    options.originX = 3;
    options.originY = 1;
    // One component from pixel byte `channel`, at `precision` bits.
    auto plane = [&](int channel, unsigned dx, unsigned dy, unsigned precision, bool isSigned) {
        Component c;
        c.dx = dx;
        c.dy = dy;
        c.precision = precision;
        c.isSigned = isSigned;
        c.alpha = channel == 3;
        const unsigned w = j2kenc::SampleCount(options.originX, side, dx);
        const unsigned h = j2kenc::SampleCount(options.originY, side, dy);
        for (unsigned j = 0; j < h; ++j)
            for (unsigned i = 0; i < w; ++i) {
                const int x = std::min<int>(static_cast<int>(i * dx), side - 1);
                const int y = std::min<int>(static_cast<int>(j * dy), side - 1);
                const int v = tile.Pixel(x, y)[channel];
                int s = precision >= 8 ? v << (precision - 8) : v >> (8 - precision);
                if (isSigned) s -= 1 << (precision - 1);
                c.samples.push_back(s);
            }
        return c;
    };
    const std::vector<std::vector<Component>> kinds = {
        {plane(2, 1, 1, 12, false), plane(1, 2, 2, 12, false), plane(0, 2, 2, 12, false)},
        {plane(1, 1, 1, 16, true)},
        {plane(1, 1, 1, 4, false), plane(3, 1, 1, 4, false)},
        {plane(2, 1, 1, 10, true), plane(1, 1, 1, 10, true), plane(0, 1, 1, 10, true), plane(3, 2, 1, 10, true)},
    };
    std::vector<std::vector<uint8_t>> streams;
    for (size_t k = 0; k < kinds.size(); ++k) {
        options.jp2 = k == 3;
        std::vector<uint8_t> stream;
        if (j2kenc::EncodePlanes(side, side, kinds[k], options, stream)) streams.push_back(std::move(stream));
    }
    return streams;
}

}  // namespace fuzz
}  // namespace vt

#endif  // VELTRANE_FUZZ_SEED_CONTENT_H
