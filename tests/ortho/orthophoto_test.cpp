// Orthophoto sections of DEM/DOM packets (current edition): listing the ids,
// decoding an entry into pixels or into the fixed 256 x 256 DXT1 mip chain.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "ortho/FixedTileTestSupport.h"
#include "support/CpuForms.h"

namespace {

using namespace vt_payload_test;
using namespace vt_fixed_tile_test;

struct Entry {
    unsigned char id;
    Bytes stream;
};

// Byte 0 leading tag, then an optional elevation section, then the
// orthophoto section (tag 2, N, entries).
Bytes Packet(const std::vector<Entry>& entries, bool withElevation, unsigned char orthoTag = 2) {
    Bytes p{0x00};
    if (withElevation) {
        const Bytes grid(1 + 4 * 4, 0x11);
        const Bytes z = Deflate(grid);
        p.push_back(1);
        PutU32(p, static_cast<std::uint32_t>(grid.size()));
        PutU32(p, static_cast<std::uint32_t>(z.size()));
        Append(p, z);
    }
    p.push_back(orthoTag);
    p.push_back(static_cast<unsigned char>(entries.size()));
    for (const Entry& e : entries) {
        p.push_back(e.id);
        PutU32(p, static_cast<std::uint32_t>(e.stream.size()));
        Append(p, e.stream);
    }
    return p;
}

int Count(const Bytes& packet, std::vector<int>& ids) {
    Exact in(packet);
    ids.assign(255, -7);
    return CVeltrane::GetDOMCount(in.data(), in.size(), ids.data());
}

bool Buffer(const Bytes& packet, int id, OutputType type, std::size_t size, Bytes& out) {
    Exact in(packet);
    Exact dst(Bytes(size, kFill));
    const bool ok = CVeltrane::GetDOMBuffer(in.data(), in.size(), id, dst.data(), type);
    out.assign(dst.data(), dst.data() + size);
    return ok;
}

class OrthophotoTest : public FixedTileTest {};

TEST_F(OrthophotoTest, SectionWithAndWithoutElevation) {
    for (bool elevation : {false, true}) {
        SCOPED_TRACE(elevation);
        const Bytes packet = Packet({{9, Photo().stream}, {3, Plasma().stream}}, elevation);
        std::vector<int> ids;
        ASSERT_EQ(Count(packet, ids), 2);
        EXPECT_EQ(ids[0], 9);
        EXPECT_EQ(ids[1], 3);
        EXPECT_EQ(ids[2], -7);
        Bytes out;
        ASSERT_TRUE(Buffer(packet, 3, OutputRGBA, 256 * 256 * 4, out));
        EXPECT_EQ(out, Plasma().bgra);
    }
}

TEST_F(OrthophotoTest, PacketsWithoutASectionGiveNothing) {
    std::vector<int> ids;
    Bytes out;
    // Neither section (byte 1 neither 1 nor 2), and a wrong tag after the
    // elevation section.
    for (const Bytes& packet : {Packet({{1, Photo().stream}}, false, 3), Packet({{1, Photo().stream}}, true, 5)}) {
        EXPECT_EQ(Count(packet, ids), 0);
        EXPECT_EQ(ids[0], -7);
        EXPECT_FALSE(Buffer(packet, 1, OutputRGB, 256 * 256 * 3, out));
        EXPECT_TRUE(Untouched(out));
    }
    // An elevation section ending exactly at the packet's length.
    Bytes elevationOnly = Packet({}, true);
    elevationOnly.resize(elevationOnly.size() - 2);
    EXPECT_EQ(Count(elevationOnly, ids), 0);
    EXPECT_FALSE(Buffer(elevationOnly, 0, OutputRGB, 16, out));
    // Too short for anything.
    for (const Bytes& tiny : {Bytes{0x00}, Bytes{0x00, 0x02}, Bytes{0x00, 0x01, 0, 0, 0, 0, 0}}) {
        EXPECT_EQ(Count(tiny, ids), 0);
        EXPECT_FALSE(Buffer(tiny, 0, OutputRGB, 16, out));
    }
    // N = 0: 0, nothing written, no id found.
    EXPECT_EQ(Count(Packet({}, false), ids), 0);
    EXPECT_EQ(ids[0], -7);
    EXPECT_FALSE(Buffer(Packet({}, false), 0, OutputRGB, 16, out));
}

TEST_F(OrthophotoTest, DuplicateIdsAreListedTwiceAndTheFirstIsDecoded) {
    const Bytes packet = Packet({{4, Plasma().stream}, {200, Photo().stream}, {4, Photo().stream}}, true);
    std::vector<int> ids;
    ASSERT_EQ(Count(packet, ids), 3);
    EXPECT_EQ(ids[0], 4);
    EXPECT_EQ(ids[1], 200);
    EXPECT_EQ(ids[2], 4);
    Bytes out;
    ASSERT_TRUE(Buffer(packet, 4, OutputRGBA, 256 * 256 * 4, out));
    EXPECT_EQ(out, Plasma().bgra);
    ASSERT_TRUE(Buffer(packet, 200, OutputRGBA, 256 * 256 * 4, out));
    EXPECT_EQ(out, Photo().bgra);
    for (int id : {5, -1, 256, 4 + 256}) {
        EXPECT_FALSE(Buffer(packet, id, OutputRGBA, 256 * 256 * 4, out)) << id;
        EXPECT_TRUE(Untouched(out));
    }
}

TEST_F(OrthophotoTest, PixelOutputsMatchOpenJpeg) {
    const Bytes packet = Packet({{1, Photo().stream}}, false);
    Bytes rgb, packed, rgba;
    ASSERT_TRUE(Buffer(packet, 1, OutputRGB, 256 * 256 * 3, rgb));
    ASSERT_TRUE(Buffer(packet, 1, OutputRGB565, 256 * 256 * 2, packed));
    ASSERT_TRUE(Buffer(packet, 1, OutputRGBA, 256 * 256 * 4, rgba));
    ExpectPixelsMatch(Photo().bgra, rgb, packed, rgba);
}

TEST_F(OrthophotoTest, FourComponentStreamHandsItsAlphaToRgba) {
    Bytes rgba(256 * 256 * 4);
    const Bytes rgb = LoadRgbCrop("pier.png", 0, 0, 256, 256);
    const Bytes plane = AlphaPlane(256, 256);
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        for (int c = 0; c < 3; ++c) rgba[4 * i + c] = rgb[3 * i + c];
        rgba[4 * i + 3] = plane[i];
    }
    std::vector<std::uint8_t> stream;
    ASSERT_TRUE(vt::j2kenc::EncodeImage(rgba.data(), 256, 256, 4, vt::j2kenc::Options::Lossless(), stream));
    const Bytes packet = Packet({{1, Bytes(stream.begin(), stream.end())}}, false);
    Bytes out;
    ASSERT_TRUE(Buffer(packet, 1, OutputRGBA, 256 * 256 * 4, out));
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        ASSERT_EQ(out[4 * i + 0], rgb[3 * i + 2]) << i;
        ASSERT_EQ(out[4 * i + 2], rgb[3 * i + 0]) << i;
        ASSERT_EQ(out[4 * i + 3], plane[i]) << i;
    }
    // The DXT1 chain does not depend on the fourth byte.
    Bytes opaque = RgbToBgra(rgb), chain;
    ASSERT_TRUE(Buffer(packet, 1, OutputDXT1Mipmaps, 43704, chain));
    EXPECT_EQ(chain, ReferenceChain(opaque, 256, false, true));
}

TEST_F(OrthophotoTest, EveryOtherTypeGivesTheDxt1Chain) {
    const Bytes packet = Packet({{1, Photo().stream}}, true);
    const Bytes expected = ReferenceChain(Photo().bgra, 256, false, true);
    ASSERT_EQ(expected.size(), 43704u);
    // Both forms of the averaging (and of the block encoder) give the same chain.
    for (const vt::test::CpuForm& form : vt::test::kCpuForms) {
        vt::test::ScopedCpuFeatures mask(form);
        for (int t : {0, 1, 2, 6, 7, -1, 1000}) {
            Bytes out;
            ASSERT_TRUE(Buffer(packet, 1, static_cast<OutputType>(t), 43704, out)) << t;
            EXPECT_EQ(out, expected) << "type " << t << ", " << form.name << " form";
        }
    }
}

TEST_F(OrthophotoTest, ChainAveragesTruncate) {
    const Bytes packet = Packet({{1, Quads().stream}}, false);
    Bytes out;
    ASSERT_TRUE(Buffer(packet, 1, OutputDXT1Mipmaps, 43704, out));
    ExpectTruncatingChain(Quads().bgra, out);
}

TEST_F(OrthophotoTest, UniformImageGivesOneColorAtEveryLevel) {
    Bytes out;
    ASSERT_TRUE(Buffer(Packet({{1, Uniform().stream}}, false), 1, OutputDXT1, 43704, out));
    ExpectOneBlockEverywhere(out);
}

TEST_F(OrthophotoTest, CodeStreamsOfAnotherSizeAreRefused) {
    for (const Bytes& stream : OtherSizes()) {
        const Bytes packet = Packet({{1, stream}}, false);
        for (int t = 0; t <= 7; ++t) {
            Bytes out;
            EXPECT_FALSE(Buffer(packet, 1, static_cast<OutputType>(t), 256 * 256 * 4, out)) << t;
            EXPECT_TRUE(Untouched(out)) << t;
        }
    }
}

TEST_F(OrthophotoTest, EntriesRunningPastTheLengthAreNotRead) {
    const Bytes whole = Packet({{1, Plasma().stream}, {2, Photo().stream}}, true);
    std::vector<int> ids;
    Bytes out;
    // Cut inside the second code stream, inside its length field, after its id.
    for (std::size_t cut : {std::size_t{1}, std::size_t{100}, Photo().stream.size(), Photo().stream.size() + 2,
                            Photo().stream.size() + 4}) {
        Bytes packet(whole.begin(), whole.end() - static_cast<long>(cut));
        EXPECT_EQ(Count(packet, ids), 0) << cut;
        EXPECT_EQ(ids[0], -7);
        EXPECT_FALSE(Buffer(packet, 2, OutputRGBA, 256 * 256 * 4, out)) << cut;
        EXPECT_TRUE(Untouched(out));
        // The complete first entry still decodes.
        EXPECT_TRUE(Buffer(packet, 1, OutputRGBA, 256 * 256 * 4, out)) << cut;
    }
    // A stored length far past the packet.
    Bytes huge = Packet({{1, Plasma().stream}}, false);
    huge[4] = 0xFF;
    huge[5] = 0xFF;
    huge[6] = 0xFF;
    EXPECT_EQ(Count(huge, ids), 0);
    EXPECT_FALSE(Buffer(huge, 1, OutputDXT1, 43704, out));
}

TEST_F(OrthophotoTest, FailedCodecDecodeIsAFailure) {
    for (const Bytes& stream : Damaged()) {
        const Bytes packet = Packet({{1, stream}}, false);
        Bytes out;
        EXPECT_FALSE(Buffer(packet, 1, OutputRGB, 256 * 256 * 3, out));
        EXPECT_FALSE(Buffer(packet, 1, OutputDXT1Mipmaps, 43704, out));
        EXPECT_TRUE(Untouched(out));
    }
}

TEST_F(OrthophotoTest, ConcurrentDecodesMatchSingleThreaded) {
    const Bytes packet = Packet({{1, Photo().stream}, {2, Plasma().stream}}, true);
    Bytes one, two;
    ASSERT_TRUE(Buffer(packet, 1, OutputDXT1Mipmaps, 43704, one));
    ASSERT_TRUE(Buffer(packet, 2, OutputRGB, 256 * 256 * 3, two));
    std::vector<Bytes> results(4);
    std::vector<char> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Bytes in = packet;
            const bool chain = (t % 2) == 0;
            results[t].assign(chain ? 43704 : 256 * 256 * 3, 0);
            ok[t] = CVeltrane::GetDOMBuffer(in.data(), static_cast<unsigned long>(in.size()), chain ? 1 : 2,
                                            results[t].data(), chain ? OutputDXT1Mipmaps : OutputRGB);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_TRUE(ok[t]);
        EXPECT_EQ(results[t], (t % 2) == 0 ? one : two) << t;
    }
}

}  // namespace
