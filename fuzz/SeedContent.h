// Small, well-formed content for the fuzz seeds: a hill-shaded tile and its
// height field, from the same procedural terrain the sample pyramids use.
#ifndef VELTRANE_FUZZ_SEED_CONTENT_H
#define VELTRANE_FUZZ_SEED_CONTENT_H

#include <vector>

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

}  // namespace fuzz
}  // namespace vt

#endif  // VELTRANE_FUZZ_SEED_CONTENT_H
