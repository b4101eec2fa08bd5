// Image payloads and second-generation image payloads. The variant picks the
// read path (envelope without or with the leading byte, second generation)
// and the output type, values outside the enumeration included.
#include "FuzzTarget.h"
#include "SeedContent.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"

namespace {

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

constexpr unsigned kPaths = 3;  // envelope, envelope after the leading byte, second generation
constexpr unsigned kTypes = 7;  // the six output types and one beyond them

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::Selected in = vt::fuzz::Select(data, size);
    std::vector<uint8_t>& payload = in.payload;
    const unsigned path = in.variant % kPaths;
    const auto type = static_cast<OutputType>((in.variant / kPaths) % kTypes);
    CVeltrane reader;
    unsigned long channels = 0, w = 0, h = 0;
    if (path < 2) {
        const bool lead = path == 1;
        if (!reader.GetCompressDataInfo(payload.data(), payload.size(), channels, w, h, lead)) return 0;
        if (!vt::fuzz::WithinPixelCap(w, h)) return 0;
        std::vector<uint8_t> destination(OutputBytes(type, w, h));
        reader.DecodeImage(payload.data(), payload.size(), destination.data(), type, lead);
    }
#if !defined(VELTRANE_EDITION_TERRAIN)
    if (path == 2) {
        if (!reader.GetNewCompressDataInfo(payload.data(), payload.size(), channels, w, h)) return 0;
        if (!vt::fuzz::WithinPixelCap(w, h)) return 0;
        // The second-generation layouts are the two mip chains.
        std::vector<uint8_t> destination(
            OutputBytes(type == OutputDXT5Mipmaps ? OutputDXT5Mipmaps : OutputDXT1Mipmaps, w, h));
        reader.DecodeNewImage(payload.data(), payload.size(), destination.data(), type);
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
    std::vector<Bytes> envelopes = {
        ImagePayload(Codec::CompactJpeg, jpeg, nullptr, false),
        ImagePayload(Codec::CompactJpeg, jpeg, &alpha, false),
        ImagePayload(Codec::Jpeg2000, j2k, nullptr, false),
    };
    for (const Bytes& stream : vt::fuzz::UnusualJpeg2000(24, 0))
        envelopes.push_back(ImagePayload(Codec::Jpeg2000, stream, nullptr, false));
    const std::vector<Bytes> second = {NewImagePayload(jpeg, &alpha), NewImagePayload(jpeg, nullptr)};

    // Each payload on its own path(s), under every output type.
    std::vector<Bytes> seeds;
    for (unsigned type = 0; type < kTypes; ++type) {
        auto add = [&](const Bytes& payload, unsigned path, bool lead, unsigned n) {
            Bytes seed{static_cast<uint8_t>(((type * kPaths + path) << 2) | (n % 4))};
            if (lead) seed.push_back(0x5a);
            seed.insert(seed.end(), payload.begin(), payload.end());
            seeds.push_back(std::move(seed));
        };
        unsigned n = type;
        for (const Bytes& e : envelopes) {
            add(e, 0, false, n++);
            add(e, 1, true, n++);
        }
        for (const Bytes& s : second) add(s, 2, false, n++);
    }
    return seeds;
}
