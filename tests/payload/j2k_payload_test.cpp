// Image payloads whose primary stream is a JPEG 2000 code stream (codec byte
// 1): every output compared with OpenJPEG's own decode of the same stream.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "J2kEncode.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "payload/PayloadTestSupport.h"

namespace {

using namespace vt_payload_test;

Bytes EncodeJ2k(const Bytes& rgb, int w, int h, const vt::j2kenc::Options& options) {
    std::vector<std::uint8_t> out;
    if (!vt::j2kenc::EncodeImage(rgb.data(), w, h, 3, options, out)) return Bytes();
    return Bytes(out.begin(), out.end());
}

bool Decode(CVeltrane& v, const Bytes& payload, OutputType type, std::size_t size, Bytes& out) {
    Exact in(payload);
    Exact dst(Bytes(size, 0xCD));
    const bool ok = v.DecodeImage(in.data(), in.size(), dst.data(), type, false);
    out.assign(dst.data(), dst.data() + size);
    return ok;
}

class J2kPayloadTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        const Bytes rgb = LoadRgbCrop("board.jpg", 200, 100, 256, 256);
        stream_ = new Bytes(EncodeJ2k(rgb, 256, 256, vt::j2kenc::Options::Ratio(12)));
        reference_ = new Bytes();
        int w = 0, h = 0;
        ASSERT_TRUE(OpenJpegReference(*stream_, w, h, *reference_));
        ASSERT_EQ(w, 256);
        ASSERT_EQ(h, 256);
    }
    static void TearDownTestSuite() {
        delete stream_;
        delete reference_;
    }
    static Bytes* stream_;
    static Bytes* reference_;  // OpenJPEG's pixels as blue-green-red-alpha
    CVeltrane v;
};
Bytes* J2kPayloadTest::stream_ = nullptr;
Bytes* J2kPayloadTest::reference_ = nullptr;

TEST_F(J2kPayloadTest, InfoReportsTheCodeStreamSize) {
    Exact in(Envelope(1, *stream_, Bytes(), true));
    unsigned long ch = 0, w = 0, h = 0;
    ASSERT_TRUE(v.GetCompressDataInfo(in.data(), in.size(), ch, w, h, true));
    EXPECT_EQ(ch, 3u);
    EXPECT_EQ(w, 256u);
    EXPECT_EQ(h, 256u);
}

TEST_F(J2kPayloadTest, RgbAndRgb565MatchOpenJpeg) {
    Bytes rgb, packed;
    ASSERT_TRUE(Decode(v, Envelope(1, *stream_), OutputRGB, 256 * 256 * 3, rgb));
    ASSERT_TRUE(Decode(v, Envelope(1, *stream_), OutputRGB565, 256 * 256 * 2, packed));
    const Bytes& ref = *reference_;
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        ASSERT_EQ(rgb[3 * i + 0], ref[4 * i + 0]) << i;
        ASSERT_EQ(rgb[3 * i + 1], ref[4 * i + 1]) << i;
        ASSERT_EQ(rgb[3 * i + 2], ref[4 * i + 2]) << i;
        const int value = (ref[4 * i] >> 3) << 11 | (ref[4 * i + 1] >> 2) << 5 | ref[4 * i + 2] >> 3;
        ASSERT_EQ(packed[2 * i] | packed[2 * i + 1] << 8, value) << i;
    }
}

TEST_F(J2kPayloadTest, Dxt1LevelAndChainAreTheEncoderAppliedToOpenJpegPixels) {
    Bytes level(32768), got;
    int n = 0;
    vt::dxt::EncodeDxt1Image(reference_->data(), level.data(), 256, 256, &n);
    ASSERT_EQ(n, 32768);
    ASSERT_TRUE(Decode(v, Envelope(1, *stream_), OutputDXT1, 32768, got));
    EXPECT_EQ(got, level);

    // The 256 x 256 chain: 43,704 bytes, nine levels at fixed offsets, each
    // the truncated 2 x 2 average of the one before.
    const std::vector<std::size_t> offsets = ChainOffsets(256, false);
    const std::vector<std::size_t> expected = {0, 32768, 40960, 43008, 43520, 43648, 43680, 43688, 43696, 43704};
    ASSERT_EQ(offsets, expected);
    ASSERT_EQ(vt::dxt::DxtMipChainBytes(256, 256, vt::dxt::kDxt1), 43704);
    const Bytes chain = ReferenceChain(*reference_, 256, false, false);
    ASSERT_EQ(chain.size(), 43704u);
    ASSERT_TRUE(Decode(v, Envelope(1, *stream_), OutputDXT1Mipmaps, 43704, got));
    for (std::size_t l = 0; l + 1 < offsets.size(); ++l) {
        EXPECT_TRUE(std::equal(got.begin() + offsets[l], got.begin() + offsets[l + 1], chain.begin() + offsets[l]))
            << "level " << l;
    }
    // A rounding average gives other bytes somewhere: the comparison can fail.
    EXPECT_NE(ReferenceChain(*reference_, 256, false, false, true), chain);
}

TEST_F(J2kPayloadTest, OddSizedImageChainFollowsTheEncoder) {
    const Bytes rgb = LoadRgbCrop("pier.png", 100, 50, 50, 30);
    const Bytes stream = EncodeJ2k(rgb, 50, 30, vt::j2kenc::Options::Lossless());
    ASSERT_FALSE(stream.empty());
    Bytes scratch = RgbToBgra(rgb);  // lossless: OpenJPEG gives these pixels back
    Bytes expected(static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(50, 30, vt::dxt::kDxt1)));
    vt::dxt::EncodeDxtMipChain(scratch.data(), 50, 30, vt::dxt::kDxt1, false, expected.data());
    Bytes got;
    ASSERT_TRUE(Decode(v, Envelope(1, stream), OutputDXT1Mipmaps, expected.size(), got));
    EXPECT_EQ(got, expected);
}

TEST_F(J2kPayloadTest, StreamsTheCodecCannotReadAreFailures) {
    // Too short to hold a main header: no size can be learnt.
    Bytes head(stream_->begin(), stream_->begin() + 20);
    unsigned long ch = 0, w = 0, h = 0;
    Exact in(Envelope(1, head));
    EXPECT_FALSE(v.GetCompressDataInfo(in.data(), in.size(), ch, w, h, false));
    Bytes out;
    EXPECT_FALSE(Decode(v, Envelope(1, head), OutputRGB, 256 * 256 * 3, out));
    // Garbage where the code stream should be.
    Bytes garbage(200, 0x3C);
    EXPECT_FALSE(Decode(v, Envelope(1, garbage), OutputDXT1, 32768, out));
}

TEST_F(J2kPayloadTest, ConcurrentDecodesFromOneObjectMatchSingleThreaded) {
    Bytes single;
    ASSERT_TRUE(Decode(v, Envelope(1, *stream_), OutputDXT1Mipmaps, 43704, single));
    const Bytes payload = Envelope(1, *stream_);
    std::vector<Bytes> results(4);
    std::vector<char> ok(4, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            Bytes in = payload;
            results[t].assign(43704, 0);
            ok[t] = v.DecodeImage(in.data(), static_cast<unsigned long>(in.size()), results[t].data(),
                                  OutputDXT1Mipmaps, false);
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        EXPECT_TRUE(ok[t]);
        EXPECT_EQ(results[t], single) << t;
    }
}

}  // namespace
