// Image payloads holding compact JPEG streams of photographs, with and
// without an alpha plane: every output against libjpeg's decode of the same
// stream (rewrapped as a standard JPEG) and the DXT encoder applied to it.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "CompactJpeg.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "payload/PayloadTestSupport.h"

namespace {

using namespace vt_payload_test;

struct Photo {
    int w, h;
    Bytes stream;  // compact JPEG
    Bytes bgra;    // libjpeg's pixels, fourth byte 255
    Bytes plane;   // alpha plane
};

Photo MakePhoto(const char* file, int x, int y, int w, int h, int quality) {
    Photo p{w, h, {}, {}, AlphaPlane(w, h)};
    const Bytes rgb = LoadRgbCrop(file, x, y, w, h);
    p.stream = vt::compactjpeg::EncodeCompactJpeg(rgb.data(), w, h, quality);
    std::vector<unsigned char> pixels;
    int rw = 0, rh = 0;
    EXPECT_TRUE(vt::compactjpeg::DecodeCompactJpegReference(p.stream.data(), p.stream.size(), 4, pixels, rw, rh));
    EXPECT_EQ(rw, w);
    EXPECT_EQ(rh, h);
    p.bgra.assign(pixels.begin(), pixels.end());
    return p;
}

const Photo& Tile() {
    static const Photo p = MakePhoto("pier.png", 120, 10, 256, 256, 75);
    return p;
}

Bytes WithAlpha(const Photo& p) {
    Bytes out = p.bgra;
    for (std::size_t i = 0; i < p.plane.size(); ++i) out[4 * i + 3] = p.plane[i];
    return out;
}

bool Decode(const Bytes& payload, OutputType type, std::size_t size, Bytes& out, bool leading = false) {
    CVeltrane v;
    Exact in(payload);
    Exact dst(Bytes(size, 0xCD));
    const bool ok = v.DecodeImage(in.data(), in.size(), dst.data(), type, leading);
    out.assign(dst.data(), dst.data() + size);
    return ok;
}

TEST(PhotoPayload, RgbAnd565MatchLibjpeg) {
    const Photo& p = Tile();
    Bytes rgb, packed;
    ASSERT_TRUE(Decode(Envelope(0, p.stream), OutputRGB, 256 * 256 * 3, rgb));
    ASSERT_TRUE(Decode(Envelope(0, p.stream, Bytes(), true), OutputRGB565, 256 * 256 * 2, packed, true));
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(rgb[3 * i + c], p.bgra[4 * i + c]) << i;
        const int value = (p.bgra[4 * i] >> 3) << 11 | (p.bgra[4 * i + 1] >> 2) << 5 | p.bgra[4 * i + 2] >> 3;
        ASSERT_EQ(packed[2 * i] | packed[2 * i + 1] << 8, value) << i;
    }
}

TEST(PhotoPayload, Dxt1LevelAndChainOf256Tile) {
    const Photo& p = Tile();
    Bytes level(32768), got;
    int n = 0;
    vt::dxt::EncodeDxt1Image(p.bgra.data(), level.data(), 256, 256, &n);
    ASSERT_TRUE(Decode(Envelope(0, p.stream), OutputDXT1, 32768, got));
    EXPECT_EQ(got, level);
    const Bytes chain = ReferenceChain(p.bgra, 256, false, false);
    ASSERT_EQ(chain.size(), 43704u);
    ASSERT_TRUE(Decode(Envelope(0, p.stream), OutputDXT1Mipmaps, 43704, got));
    EXPECT_EQ(got, chain);
}

TEST(PhotoPayload, AlphaTileGivesRgbaAndTheDxt5Chain) {
    const Photo& p = Tile();
    const Bytes payload = Envelope(0, p.stream, Deflate(p.plane), true, 0x00);
    const Bytes merged = WithAlpha(p);
    Bytes rgba, chain;
    ASSERT_TRUE(Decode(payload, OutputRGBA, 256 * 256 * 4, rgba, true));
    EXPECT_EQ(rgba, merged);

    // 87,408 bytes: levels at 0, 65,536, 81,920, ... each the truncated 2 x 2
    // average of all four bytes.
    const std::vector<std::size_t> offsets = ChainOffsets(256, true);
    EXPECT_EQ(offsets[1], 65536u);
    EXPECT_EQ(offsets.back(), 87408u);
    ASSERT_EQ(vt::dxt::DxtMipChainBytes(256, 256, vt::dxt::kDxt5), 87408);
    const Bytes expected = ReferenceChain(merged, 256, true, true);
    ASSERT_TRUE(Decode(payload, OutputDXT5Mipmaps, 87408, chain, true));
    EXPECT_EQ(chain, expected);
    // Alpha left out of the averaging would give other bytes.
    EXPECT_NE(ReferenceChain(merged, 256, true, false), expected);
}

TEST(PhotoPayload, OddSizedAlphaImageChainFollowsTheEncoder) {
    const Photo p = MakePhoto("board.jpg", 33, 71, 100, 60, 60);
    Bytes scratch = WithAlpha(p);
    Bytes expected(static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(100, 60, vt::dxt::kDxt5)));
    vt::dxt::EncodeDxtMipChain(scratch.data(), 100, 60, vt::dxt::kDxt5, true, expected.data());
    Bytes got;
    ASSERT_TRUE(Decode(Envelope(0, p.stream, Deflate(p.plane)), OutputDXT5Mipmaps, expected.size(), got));
    EXPECT_EQ(got, expected);
    CVeltrane v;
    Exact in(Envelope(0, p.stream, Deflate(p.plane)));
    unsigned long ch = 0, w = 0, h = 0;
    ASSERT_TRUE(v.GetCompressDataInfo(in.data(), in.size(), ch, w, h, false));
    EXPECT_EQ(ch, 4u);
    EXPECT_EQ(w, 100u);
    EXPECT_EQ(h, 60u);
}

TEST(PhotoPayload, ShortEntropyDataStillDecodes) {
    const Photo& p = Tile();
    Bytes cut(p.stream.begin(), p.stream.begin() + static_cast<long>(p.stream.size() / 3));
    Bytes got;
    EXPECT_TRUE(Decode(Envelope(0, cut), OutputRGB, 256 * 256 * 3, got));
    EXPECT_TRUE(Decode(Envelope(0, cut, Deflate(p.plane)), OutputDXT5Mipmaps, 87408, got));
}

TEST(PhotoPayload, ConcurrentDecodesFromOneObjectMatchSingleThreaded) {
    const Photo& p = Tile();
    const Bytes alphaPayload = Envelope(0, p.stream, Deflate(p.plane));
    const Bytes plainPayload = Envelope(0, p.stream);
    Bytes chain5, rgb;
    ASSERT_TRUE(Decode(alphaPayload, OutputDXT5Mipmaps, 87408, chain5));
    ASSERT_TRUE(Decode(plainPayload, OutputRGB, 256 * 256 * 3, rgb));
    CVeltrane v;
    std::vector<Bytes> results(4);
    std::vector<char> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            const bool dxt = (t % 2) == 0;
            Bytes in = dxt ? alphaPayload : plainPayload;
            results[t].assign(dxt ? 87408 : 256 * 256 * 3, 0);
            for (int round = 0; round < 3 && (round == 0 || ok[t]); ++round) {
                ok[t] = v.DecodeImage(in.data(), static_cast<unsigned long>(in.size()), results[t].data(),
                                      dxt ? OutputDXT5Mipmaps : OutputRGB, false);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_TRUE(ok[t]);
        EXPECT_EQ(results[t], (t % 2) == 0 ? chain5 : rgb) << t;
    }
}

}  // namespace
