// Second-generation image payloads (current edition): flag-driven alpha
// block with its own lengths, decoded to DXT1 or DXT5 mip chains only.
#include <gtest/gtest.h>

#include <vector>

#include "CompactJpeg.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "payload/PayloadTestSupport.h"
#include "support/AllocationWatch.h"

namespace {

using namespace vt_payload_test;
using vt::test::AllocationWatch;

constexpr unsigned char kFill = 0xCD;

struct Color {
    Bytes stream;
    Bytes bgra;
    Bytes plane;
};

const Color& Tile() {
    static const Color c = [] {
        Color c;
        const Bytes rgb = LoadRgbCrop("board.jpg", 400, 200, 256, 256);
        c.stream = vt::compactjpeg::EncodeCompactJpeg(rgb.data(), 256, 256, 70);
        std::vector<unsigned char> pixels;
        int w = 0, h = 0;
        EXPECT_TRUE(vt::compactjpeg::DecodeCompactJpegReference(c.stream.data(), c.stream.size(), 4, pixels, w, h));
        c.bgra.assign(pixels.begin(), pixels.end());
        c.plane = AlphaPlane(256, 256);
        return c;
    }();
    return c;
}

class NewPayloadTest : public ::testing::Test {
protected:
    bool Info(const Bytes& payload, unsigned long& ch, unsigned long& w, unsigned long& h) {
        Exact in(payload);
        return v.GetNewCompressDataInfo(in.data(), in.size(), ch, w, h);
    }
    bool Decode(const Bytes& payload, OutputType type, std::size_t size, Bytes& out) {
        Exact in(payload);
        Exact dst(Bytes(size, kFill));
        const bool ok = v.DecodeNewImage(in.data(), in.size(), dst.data(), type);
        out.assign(dst.data(), dst.data() + size);
        return ok;
    }
    static bool Untouched(const Bytes& b) {
        for (unsigned char c : b)
            if (c != kFill) return false;
        return true;
    }
    CVeltrane v;
    Bytes grey = FlatCompactJpeg(48, 20);
};

TEST_F(NewPayloadTest, ChannelCountFollowsTheFlag) {
    unsigned long ch = 0, w = 0, h = 0;
    const Bytes alpha = Deflate(Bytes(48 * 20, 9));
    for (unsigned char flag : {0, 1, 2, 0xFF}) {
        ASSERT_TRUE(Info(NewPayload(flag, grey, true, 48 * 20, alpha), ch, w, h)) << int(flag);
        EXPECT_EQ(ch, flag == 1 ? 4u : 3u);
        EXPECT_EQ(w, 48u);
        EXPECT_EQ(h, 20u);
    }
}

TEST_F(NewPayloadTest, ColorStreamEndingExactlyAtTheLength) {
    Bytes payload = NewPayload(0, grey, false, 0, Bytes());
    ASSERT_EQ(payload.size(), 6 + grey.size());
    unsigned long ch = 0, w = 0, h = 0;
    EXPECT_TRUE(Info(payload, ch, w, h));
    Bytes out;
    EXPECT_TRUE(Decode(payload, OutputDXT1Mipmaps, vt::dxt::DxtMipChainBytes(48, 20, vt::dxt::kDxt1), out));
    payload.pop_back();
    ch = w = h = 77;
    EXPECT_FALSE(Info(payload, ch, w, h));
    EXPECT_EQ(ch + w + h, 3 * 77u);
    EXPECT_FALSE(Decode(payload, OutputDXT1Mipmaps, vt::dxt::DxtMipChainBytes(48, 20, vt::dxt::kDxt1), out));
    EXPECT_TRUE(Untouched(out));
}

TEST_F(NewPayloadTest, MalformedPayloadsAreRefused) {
    unsigned long ch = 0, w = 0, h = 0;
    Bytes out;
    for (const Bytes& p : {Bytes{}, Bytes{0, 0}, Bytes{0, 0, 6, 0, 0}, NewPayload(0, FlatCompactJpeg(0, 8), false, 0, {}),
                           NewPayload(0, FlatCompactJpeg(8, 0), false, 0, {}), NewPayload(0, Bytes{8, 0, 8}, false, 0, {})}) {
        EXPECT_FALSE(Info(p, ch, w, h)) << p.size();
        EXPECT_FALSE(Decode(p, OutputDXT1Mipmaps, 64, out)) << p.size();
        EXPECT_TRUE(Untouched(out));
    }
    // A color length so large that 6 + N wraps in 32 bits.
    Bytes wrap = NewPayload(0, grey, false, 0, {});
    wrap[2] = wrap[3] = wrap[4] = wrap[5] = 0xFF;
    EXPECT_FALSE(Info(wrap, ch, w, h));
    EXPECT_FALSE(Decode(wrap, OutputDXT1Mipmaps, 64, out));
    EXPECT_FALSE(v.GetNewCompressDataInfo(nullptr, 40, ch, w, h));
    Exact in(NewPayload(0, grey, false, 0, {}));
    EXPECT_FALSE(v.DecodeNewImage(in.data(), in.size(), nullptr, OutputDXT1Mipmaps));
    EXPECT_FALSE(v.DecodeNewImage(in.data(), 0, in.data(), OutputDXT1Mipmaps));
}

TEST_F(NewPayloadTest, BadAlphaBlocksAreRefusedByTheDecodeOnly) {
    const std::uint32_t count = 48 * 20;
    const Bytes plane(count, 200);
    const Bytes alpha = Deflate(plane);
    Bytes damaged = alpha;
    damaged[damaged.size() / 2] ^= 0x40;
    struct Case {
        const char* name;
        Bytes payload;
    };
    Bytes pastLength = NewPayload(1, grey, true, count, alpha);
    pastLength.pop_back();  // A one byte longer than what is left
    Bytes headerCut = NewPayload(1, grey, false, 0, {});
    PutU32(headerCut, count);
    headerCut.push_back(0);  // only 5 of the 8 block header bytes
    const Case cases[] = {
        {"raw length one less", NewPayload(1, grey, true, count - 1, Deflate(Bytes(count - 1, 200)))},
        {"raw length one more", NewPayload(1, grey, true, count + 1, Deflate(Bytes(count + 1, 200)))},
        {"alpha stream past the length", pastLength},
        {"block header past the length", headerCut},
        {"no block at all", NewPayload(1, grey, false, 0, {})},
        {"inflates short", NewPayload(1, grey, true, count, Deflate(Bytes(count - 1, 200)))},
        {"inflates long", NewPayload(1, grey, true, count, Deflate(Bytes(count + 1, 200)))},
        {"damaged stream", NewPayload(1, grey, true, count, damaged)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        unsigned long ch = 0, w = 0, h = 0;
        EXPECT_TRUE(Info(c.payload, ch, w, h));
        EXPECT_EQ(ch, 4u);
        for (OutputType t : {OutputDXT1Mipmaps, OutputDXT5Mipmaps}) {
            Bytes out;
            EXPECT_FALSE(Decode(c.payload, t, vt::dxt::DxtMipChainBytes(48, 20, vt::dxt::kDxt5), out));
            EXPECT_TRUE(Untouched(out));
        }
    }
}

TEST_F(NewPayloadTest, OnlyTheTwoChainTypesAreProduced) {
    const Bytes payload = NewPayload(1, grey, true, 48 * 20, Deflate(Bytes(48 * 20, 3)));
    for (int t : {0, 3, 4, 5, 6, -1}) {
        Bytes out;
        EXPECT_FALSE(Decode(payload, static_cast<OutputType>(t), 48 * 20 * 4, out)) << t;
        EXPECT_TRUE(Untouched(out)) << t;
    }
}

TEST_F(NewPayloadTest, Dxt1ChainIsTheSameWithAndWithoutAValidAlphaBlock) {
    const Color& c = Tile();
    const Bytes expected = ReferenceChain(c.bgra, 256, false, false);
    ASSERT_EQ(expected.size(), 43704u);
    Bytes with, without;
    ASSERT_TRUE(Decode(NewPayload(1, c.stream, true, 65536, Deflate(c.plane)), OutputDXT1Mipmaps, 43704, with));
    ASSERT_TRUE(Decode(NewPayload(0, c.stream, false, 0, {}), OutputDXT1Mipmaps, 43704, without));
    EXPECT_EQ(with, expected);
    EXPECT_EQ(without, expected);
    // Flag 2 with a block behind the stream: the block is ignored.
    ASSERT_TRUE(Decode(NewPayload(2, c.stream, true, 1, Bytes{1, 2}), OutputDXT1Mipmaps, 43704, without));
    EXPECT_EQ(without, expected);
}

TEST_F(NewPayloadTest, Dxt5ChainCarriesTheAlphaPlane) {
    const Color& c = Tile();
    Bytes merged = c.bgra;
    for (std::size_t i = 0; i < c.plane.size(); ++i) merged[4 * i + 3] = c.plane[i];
    const Bytes expected = ReferenceChain(merged, 256, true, true);
    ASSERT_EQ(expected.size(), 87408u);
    Bytes got;
    ASSERT_TRUE(Decode(NewPayload(1, c.stream, true, 65536, Deflate(c.plane)), OutputDXT5Mipmaps, 87408, got));
    EXPECT_EQ(got, expected);
    // Without alpha the DXT5 chain is opaque.
    ASSERT_TRUE(Decode(NewPayload(0, c.stream, false, 0, {}), OutputDXT5Mipmaps, 87408, got));
    EXPECT_EQ(got, ReferenceChain(c.bgra, 256, true, true));
}

// The scratch image is sized from the color stream's header. An alpha stream
// too short to fill it (a zlib byte gives at most 1032 bytes) is refused
// before it is allocated, and no memory for it is a failure, not an exception.
TEST_F(NewPayloadTest, ScratchImageIsCheckedAndNeverThrown) {
    const Bytes huge{0x00, 0x10, 0x00, 0x10, 50, 0};  // 4096 x 4096, header only
    Exact shortAlpha(NewPayload(1, huge, true, 4096u * 4096u, Deflate(Bytes(1000, 9))));
    Bytes out(vt::dxt::DxtMipChainBytes(4096, 4096, vt::dxt::kDxt5), kFill);
    std::size_t largest = 0;
    {
        AllocationWatch watch;
        EXPECT_FALSE(v.DecodeNewImage(shortAlpha.data(), shortAlpha.size(), out.data(), OutputDXT5Mipmaps));
        largest = watch.Largest();
    }
    EXPECT_LT(largest, std::size_t{1} << 20);
    EXPECT_TRUE(Untouched(out));

    const Bytes side1024{0x00, 0x04, 0x00, 0x04, 50, 0};  // 64 KiB strips, a 1 MiB second level
    Exact opaque(NewPayload(0, side1024, false, 0, {}));
    out.assign(vt::dxt::DxtMipChainBytes(1024, 1024, vt::dxt::kDxt1), kFill);
    bool ok = true;
    {
        AllocationWatch watch(std::size_t{1} << 15);
        EXPECT_NO_THROW(ok = v.DecodeNewImage(opaque.data(), opaque.size(), out.data(), OutputDXT1Mipmaps));
    }
    EXPECT_FALSE(ok);
    EXPECT_TRUE(Untouched(out));
    EXPECT_TRUE(v.DecodeNewImage(opaque.data(), opaque.size(), out.data(), OutputDXT1Mipmaps));
}

}  // namespace
