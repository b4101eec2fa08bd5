// The two color codecs of image payloads, over the project's encoders.
#include "Payloads.h"

#include <stdexcept>

#include "CompactJpeg.h"
#include "J2kEncode.h"

namespace vt {
namespace payloads {

static Bytes Rgb(const Image& tile) {
    Bytes rgb(static_cast<size_t>(tile.width) * tile.height * 3);
    for (size_t i = 0, n = static_cast<size_t>(tile.width) * tile.height; i < n; ++i)
        for (int ch = 0; ch < 3; ++ch) rgb[i * 3 + ch] = tile.rgba[i * 4 + ch];
    return rgb;
}

Bytes EncodeJpeg2000(const Image& tile, bool lossless, float psnr) {
    Bytes rgb = Rgb(tile), out;
    j2kenc::Options options = lossless ? j2kenc::Options::Lossless() : j2kenc::Options::Quality(psnr);
    if (!j2kenc::EncodeImage(rgb.data(), tile.width, tile.height, 3, options, out))
        throw std::runtime_error("JPEG 2000 encoding failed");
    return out;
}

Bytes EncodeCompactJpeg(const Image& tile, int quality) {
    Bytes rgb = Rgb(tile);
    Bytes out = compactjpeg::EncodeCompactJpeg(rgb.data(), tile.width, tile.height, quality);
    if (out.empty()) throw std::runtime_error("compact JPEG encoding failed");
    return out;
}

}  // namespace payloads
}  // namespace vt
