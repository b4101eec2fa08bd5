// Terrain edition: terrain image in every layout and the five mesh sections.
#include "FuzzTarget.h"
#include "SeedContent.h"
#include "Veltrane.h"

// The variant picks the terrain image's output: 5:6:5, RGB, and RGBA and
// DXT1 (both of which give the DXT1 chain), and whether the image is decoded
// at all (DecodesFixedTile).
constexpr int kTerrainTypes[] = {OutputRGB565, OutputRGB, OutputRGBA, OutputDXT1};

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::Selected in = vt::fuzz::Select(data, size);
    uint8_t* p = in.payload.data();
    unsigned long n = in.payload.size();
    CVeltrane reader;
    if (n >= 5) {  // the version copy takes no length: five bytes it must have
        uint8_t version[6] = {};
        reader.GetTerrianVersion(p, version);
    }
    const int type = kTerrainTypes[in.variant % 4];
    const unsigned long bytes = type == OutputRGB565 ? 256 * 256 * 2
                                : type == OutputRGB  ? 256 * 256 * 3
                                                     : vt::fuzz::kFixedChainBytes;
    if (vt::fuzz::DecodesFixedTile(in.variant / 4, in.form, bytes == vt::fuzz::kFixedChainBytes)) {
        std::vector<uint8_t> destination(bytes);
        reader.DecodeImageTerrian(p, n, destination.data(), static_cast<OutputType>(type));
    }
    using SizeGetter = int (CVeltrane::*)(unsigned char*, unsigned long);
    using BufferGetter = bool (CVeltrane::*)(unsigned char*, unsigned long, unsigned char*);
    const std::pair<SizeGetter, BufferGetter> sections[] = {
        {&CVeltrane::GetIndexBufferSize, &CVeltrane::GetIndexBuffer},
        {&CVeltrane::GetTinyIndexBufferSize, &CVeltrane::GetTinyIndexBuffer},
        {&CVeltrane::GetShapeIndexBufferSize, &CVeltrane::GetShapeIndexBuffer},
        {&CVeltrane::GetRoadIndexBufferSize, &CVeltrane::GetRoadIndexBuffer},
        {&CVeltrane::GetDEMTBufferSize, &CVeltrane::GetDEMBuffer},
    };
    for (const auto& section : sections) {
        int u = (reader.*section.first)(p, n);
        if (u <= 0 || u > vt::fuzz::kMaxInflated) continue;
        std::vector<uint8_t> destination(static_cast<size_t>(u));
        (reader.*section.second)(p, n, destination.data());
    }
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    using namespace vt::payloads;
    Bytes j2k = EncodeJpeg2000(vt::fuzz::SeedTile(256, 256), false, 30.0f);
    Bytes indices(600), road(90), heights(17 * 17 * 4);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<uint8_t>(i);
    for (size_t i = 0; i < road.size(); ++i) road[i] = static_cast<uint8_t>(3 * i);
    for (size_t i = 0; i < heights.size(); ++i) heights[i] = static_cast<uint8_t>(i / 5);
    const std::array<uint8_t, 5> version = {'T', 'R', '0', '1', '0'};
    std::vector<Bytes> payloads = {
        TerrainPayload(version, j2k, {&indices, &indices, &indices, &road, &heights}),
        TerrainPayload(version, j2k, {nullptr, nullptr, nullptr, nullptr, &heights}),
        TerrainPayload(version, j2k, {&indices, nullptr, &indices, nullptr, nullptr}),
    };
    for (const Bytes& stream : vt::fuzz::UnusualJpeg2000(256, 200.0f))
        payloads.push_back(TerrainPayload(version, stream, {nullptr, nullptr, nullptr, nullptr, nullptr}));
    return vt::fuzz::WithSelectors(payloads, 4);
}
