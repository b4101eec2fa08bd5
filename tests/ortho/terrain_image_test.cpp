// Terrain payloads (terrain edition): the five-byte terrain version and the
// terrain image, decoded into pixels or into the fixed 256 x 256 DXT1 chain.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "Veltrane.h"
#include "ortho/FixedTileTestSupport.h"

namespace {

using namespace vt_payload_test;
using namespace vt_fixed_tile_test;

// Version, presence flags, L, the image, then sections for the flagged bits.
Bytes Terrain(const Bytes& image, unsigned char flags = 0) {
    Bytes p{'T', 'R', '0', '4', '2', flags};
    PutU32(p, static_cast<std::uint32_t>(image.size()));
    Append(p, image);
    for (int bit = 0; bit < 5; ++bit) {
        if (!(flags & (1 << bit))) continue;
        const Bytes section(64, static_cast<unsigned char>(bit));
        const Bytes z = Deflate(section);
        PutU32(p, static_cast<std::uint32_t>(section.size()));
        PutU32(p, static_cast<std::uint32_t>(z.size()));
        Append(p, z);
    }
    return p;
}

bool Decode(const Bytes& payload, OutputType type, std::size_t size, Bytes& out) {
    CVeltrane v;
    Exact in(payload);
    Exact dst(Bytes(size, kFill));
    const bool ok = v.DecodeImageTerrian(in.data(), in.size(), dst.data(), type);
    out.assign(dst.data(), dst.data() + size);
    return ok;
}

class TerrainImageTest : public FixedTileTest {};

TEST_F(TerrainImageTest, VersionCopiesExactlyFiveBytes) {
    CVeltrane v;
    Exact in(Terrain(Plasma().stream));
    unsigned char version[8];
    std::memset(version, 0xEE, sizeof version);
    v.GetTerrianVersion(in.data(), version);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(version), 5), "TR042");
    EXPECT_EQ(version[5], 0xEE);
    EXPECT_EQ(version[6], 0xEE);
    v.GetTerrianVersion(in.data(), nullptr);  // ignored
    // A payload of exactly five bytes is enough.
    Exact five(Bytes{1, 2, 3, 4, 5});
    v.GetTerrianVersion(five.data(), version);
    EXPECT_EQ(version[4], 5);
    EXPECT_EQ(version[5], 0xEE);
}

TEST_F(TerrainImageTest, PixelOutputsMatchOpenJpeg) {
    Bytes rgb, packed;
    ASSERT_TRUE(Decode(Terrain(Photo().stream, 0x1F), OutputRGB, 256 * 256 * 3, rgb));
    ASSERT_TRUE(Decode(Terrain(Photo().stream, 0x1F), OutputRGB565, 256 * 256 * 2, packed));
    ExpectPixelsMatch(Photo().bgra, rgb, packed, Photo().bgra);
}

TEST_F(TerrainImageTest, RgbaAndEveryOtherTypeGiveTheDxt1Chain) {
    const Bytes expected = ReferenceChain(Photo().bgra, 256, false, true);
    for (int t : {5, 0, 1, 2, 7, -3}) {
        Bytes out;
        ASSERT_TRUE(Decode(Terrain(Photo().stream, 0x05), static_cast<OutputType>(t), 43704, out)) << t;
        EXPECT_EQ(out, expected) << t;
    }
}

TEST_F(TerrainImageTest, PresenceFlagsDoNotChangeTheImage) {
    Bytes bare, full;
    ASSERT_TRUE(Decode(Terrain(Plasma().stream, 0x00), OutputRGB, 256 * 256 * 3, bare));
    ASSERT_TRUE(Decode(Terrain(Plasma().stream, 0x1F), OutputRGB, 256 * 256 * 3, full));
    EXPECT_EQ(bare, full);
    ASSERT_TRUE(Decode(Terrain(Plasma().stream, 0xF1), OutputDXT1, 43704, full));
    EXPECT_EQ(full, ReferenceChain(Plasma().bgra, 256, false, true));
}

TEST_F(TerrainImageTest, ChainAveragesTruncateAndUniformStaysUniform) {
    Bytes out;
    ASSERT_TRUE(Decode(Terrain(Quads().stream), OutputDXT1Mipmaps, 43704, out));
    ExpectTruncatingChain(Quads().bgra, out);
    ASSERT_TRUE(Decode(Terrain(Uniform().stream), OutputRGBA, 43704, out));
    ExpectOneBlockEverywhere(out);
}

TEST_F(TerrainImageTest, RefusedPayloads) {
    Bytes out;
    CVeltrane v;
    Exact in(Terrain(Plasma().stream));
    unsigned char dst[16];
    EXPECT_FALSE(v.DecodeImageTerrian(nullptr, in.size(), dst, OutputRGB));
    EXPECT_FALSE(v.DecodeImageTerrian(in.data(), in.size(), nullptr, OutputRGB));
    EXPECT_FALSE(v.DecodeImageTerrian(in.data(), 0, dst, OutputRGB));
    // Shorter than the ten bytes in front of the image, and an image that
    // runs past the length.
    const Bytes whole = Terrain(Plasma().stream);
    for (std::size_t n : {std::size_t{1}, std::size_t{9}, std::size_t{10}, whole.size() - 1}) {
        EXPECT_FALSE(Decode(Bytes(whole.begin(), whole.begin() + static_cast<long>(n)), OutputDXT1, 43704, out)) << n;
        EXPECT_TRUE(Untouched(out));
    }
    // Images of another size, on every output type.
    for (const Bytes& stream : OtherSizes()) {
        for (int t = 0; t <= 6; ++t) {
            EXPECT_FALSE(Decode(Terrain(stream), static_cast<OutputType>(t), 256 * 256 * 4, out)) << t;
            EXPECT_TRUE(Untouched(out));
        }
    }
    // Streams the codec cannot decode.
    for (const Bytes& stream : Damaged()) {
        EXPECT_FALSE(Decode(Terrain(stream), OutputRGB565, 256 * 256 * 2, out));
        EXPECT_FALSE(Decode(Terrain(stream), OutputDXT1Mipmaps, 43704, out));
        EXPECT_TRUE(Untouched(out));
    }
}

TEST_F(TerrainImageTest, ConcurrentDecodesFromOneObjectMatchSingleThreaded) {
    const Bytes payload = Terrain(Photo().stream, 0x1F);
    Bytes single;
    ASSERT_TRUE(Decode(payload, OutputDXT1Mipmaps, 43704, single));
    CVeltrane v;
    std::vector<Bytes> results(4, Bytes(43704));
    std::vector<char> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Bytes in = payload;
            ok[t] = v.DecodeImageTerrian(in.data(), static_cast<unsigned long>(in.size()), results[t].data(),
                                         OutputDXT1Mipmaps);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_TRUE(ok[t]);
        EXPECT_EQ(results[t], single) << t;
    }
}

}  // namespace
