// Current edition's packet and pass-through members: DEM/DOM packets (grid,
// elevation lookups, orthophotos), DDS payloads, building masks, zlib blocks.
#include <cmath>

#include "FuzzTarget.h"
#include "SeedContent.h"
#include "Veltrane.h"

namespace {

// The orthophoto outputs: RGB, RGBA, 5:6:5, and an out-of-range value (the
// DXT1 chain).
constexpr int kOrthophotoTypes[] = {OutputRGB, OutputRGBA, OutputRGB565, 7};

unsigned long OrthophotoBytes(int type) {
    switch (type) {
        case OutputRGB565: return 256 * 256 * 2;
        case OutputRGB: return 256 * 256 * 3;
        case OutputRGBA: return 256 * 256 * 4;
        default: return vt::fuzz::kFixedChainBytes;
    }
}

// The variant picks one orthophoto of the packet (first or second), its
// output type and whether it is decoded at all (DecodesFixedTile).
void Packets(uint8_t* p, unsigned long n, unsigned form, unsigned variant) {
    int u = CVeltrane::GetDEMBufferSize(p, n);
    if (u > 0 && u <= vt::fuzz::kMaxInflated) {
        std::vector<uint8_t> grid(static_cast<size_t>(u));
        if (CVeltrane::GetDEMBuffer(p, n, grid.data()) && grid.size() >= 1 &&
            grid.size() >= 1 + 4u * grid[0] * grid[0]) {
            const double positions[][2] = {{0, 0}, {50, 50}, {100, 100}, {99.999, 0.001}, {-1, 50}, {NAN, 1}};
            for (const auto& at : positions) JNA_GetElevationInBuf(grid.data(), 0, 0, 100, 100, at[0], at[1]);
        }
        JNA_GetDEMBuffer(p, static_cast<int>(n), grid.data());
    }
    JNA_GetDEMBufferSize(p, static_cast<int>(n));

    int ids[255];
    const int count = CVeltrane::GetDOMCount(p, n, ids);
    const int which = static_cast<int>(variant / 4 % 2);
    const int type = kOrthophotoTypes[variant % 4];
    const bool chain = OrthophotoBytes(type) == vt::fuzz::kFixedChainBytes;
    if (which < count && vt::fuzz::DecodesFixedTile(variant / 8, form, chain)) {
        std::vector<uint8_t> destination(OrthophotoBytes(type));
        CVeltrane::GetDOMBuffer(p, n, ids[which], destination.data(), static_cast<OutputType>(type));
    }
}

void PassThrough(CVeltrane& reader, uint8_t* p, unsigned long n) {
    for (bool lead : {false, true}) {
        unsigned long v1, v2, v3;
        reader.GetDDSDataInfo(p, n, v1, v2, v3, lead);
        unsigned long t = lead ? 1 : 0;
        std::vector<uint8_t> current(n > t + 140 ? n - t - 140 : 1), old(n > t + 12 ? n - t - 12 : 1);
        reader.DecodeDDSImage(p, n, current.data(), lead);
        reader.DecodeDDSImageOld(p, n, old.data(), lead);
    }
    unsigned long count = std::min<unsigned long>(n * 8, 4096);
    std::vector<uint8_t> mask(count + 1);
    reader.DecodeBuildingText(mask.data(), count, p);
    std::vector<uint8_t> inflated(65536);
    unsigned long capacity = inflated.size();
    CVeltrane::Uncompress(inflated.data(), &capacity, p, n);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::Selected in = vt::fuzz::Select(data, size);
    CVeltrane reader;
    Packets(in.payload.data(), in.payload.size(), in.form, in.variant);
    PassThrough(reader, in.payload.data(), in.payload.size());
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    using namespace vt::payloads;
    Area area;
    area.width = area.height = 9;
    std::vector<float> heights = HeightField(area);
    Bytes grid = ElevationGrid(9, heights);
    Bytes ortho = EncodeJpeg2000(vt::fuzz::SeedTile(256, 256), false, 30.0f);
    std::vector<uint8_t> texture(64, 0x5a);
    Bytes dds = DdsFile(8, 8, false, 1, texture.data(), texture.size());
    std::vector<uint8_t> block(300);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(i * 7);
    std::vector<Bytes> packets = {
        DemDomPacket(&grid, {}),
        DemDomPacket(&grid, {{3, ortho}}),
        DemDomPacket(nullptr, {{1, ortho}, {2, ortho}}),
    };
    const std::vector<Bytes> unusual = vt::fuzz::UnusualJpeg2000(256, 200.0f);
    for (size_t i = 0; i + 1 < unusual.size(); i += 2)
        packets.push_back(DemDomPacket(nullptr, {{4, unusual[i]}, {5, unusual[i + 1]}}));
    std::vector<Bytes> seeds = vt::fuzz::WithSelectors(packets, 8);
    const std::vector<Bytes> others = vt::fuzz::WithSelectors(
        {DdsPayload(1, 2, 3, dds, true, false), DdsPayload(4, 5, 6, dds, false, true), Deflate(block.data(), block.size())},
        1);
    seeds.insert(seeds.end(), others.begin(), others.end());
    return seeds;
}
