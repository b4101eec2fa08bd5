// Image payloads and second-generation image payloads, every output type.
#include "FuzzTarget.h"
#include "SeedContent.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"

namespace {

using vt::fuzz::ExactCopy;

unsigned long OutputBytes(int type, unsigned long w, unsigned long h) {
    int iw = static_cast<int>(w), ih = static_cast<int>(h);
    switch (type) {
        case OutputDXT1: return ((w + 3) / 4) * ((h + 3) / 4) * 8;
        case OutputDXT1Mipmaps: return static_cast<unsigned long>(vt::dxt::DxtMipChainBytes(iw, ih, vt::dxt::kDxt1));
        case OutputDXT5Mipmaps: return static_cast<unsigned long>(vt::dxt::DxtMipChainBytes(iw, ih, vt::dxt::kDxt5));
        case OutputRGB: return w * h * 3;
        case OutputRGB565: return w * h * 2;
        case OutputRGBA: return w * h * 4;
        default: return 1;
    }
}

bool Plausible(unsigned long w, unsigned long h) { return w > 0 && h > 0 && w * h <= vt::fuzz::kMaxPixels; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> payload = ExactCopy(data, size);
    CVeltrane reader;
    for (bool lead : {false, true}) {
        unsigned long channels = 0, w = 0, h = 0;
        if (!reader.GetCompressDataInfo(payload.data(), payload.size(), channels, w, h, lead)) continue;
        if (!Plausible(w, h)) continue;
        for (int type = 0; type <= 6; ++type) {
            std::vector<uint8_t> destination(OutputBytes(type, w, h));
            reader.DecodeImage(payload.data(), payload.size(), destination.data(), static_cast<OutputType>(type), lead);
        }
    }
#if !defined(VELTRANE_EDITION_TERRAIN)
    unsigned long channels = 0, w = 0, h = 0;
    if (reader.GetNewCompressDataInfo(payload.data(), payload.size(), channels, w, h) && Plausible(w, h)) {
        for (int type = 0; type <= 5; ++type) {
            // The second-generation layouts are the two mip chains.
            unsigned long bytes = OutputBytes(type == OutputDXT5Mipmaps ? OutputDXT5Mipmaps : OutputDXT1Mipmaps, w, h);
            std::vector<uint8_t> destination(bytes);
            reader.DecodeNewImage(payload.data(), payload.size(), destination.data(), static_cast<OutputType>(type));
        }
    }
#endif
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    using namespace vt::payloads;
    Image tile = vt::fuzz::SeedTile(40, 24);
    Bytes alpha = vt::fuzz::AlphaPlane(tile);
    Bytes jpeg = EncodeCompactJpeg(tile, 60);
    Bytes j2k = EncodeJpeg2000(tile, false, 35.0f);
    return {
        ImagePayload(Codec::CompactJpeg, jpeg, nullptr, false),
        ImagePayload(Codec::CompactJpeg, jpeg, &alpha, true),
        ImagePayload(Codec::Jpeg2000, j2k, nullptr, false),
        NewImagePayload(jpeg, &alpha),
        NewImagePayload(jpeg, nullptr),
    };
}
