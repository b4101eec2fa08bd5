// The image payload envelope: codec byte, primary length, optional leading tag
// byte and alpha stream; which output types each payload kind produces; the
// refusals of malformed payloads. Built in both editions.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "J2kEncode.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "jpeg/JpegDecoder.h"
#include "payload/PayloadTestSupport.h"

namespace {

using namespace vt_payload_test;

constexpr unsigned char kFill = 0xCD;

bool Untouched(const Bytes& b) {
    for (unsigned char c : b)
        if (c != kFill) return false;
    return true;
}

// Decodes `payload` (held in an exact-size block) into a destination of
// exactly `size` bytes, pre-filled with kFill.
bool Decode(CVeltrane& v, const Bytes& payload, OutputType type, std::size_t size, Bytes& out, bool leading = false) {
    Exact in(payload);
    Exact dst(Bytes(size, kFill));
    const bool ok = v.DecodeImage(in.data(), in.size(), dst.data(), type, leading);
    out.assign(dst.data(), dst.data() + size);
    return ok;
}

bool Info(CVeltrane& v, const Bytes& payload, unsigned long& ch, unsigned long& w, unsigned long& h,
          bool leading = false) {
    Exact in(payload);
    return v.GetCompressDataInfo(in.data(), in.size(), ch, w, h, leading);
}

class EnvelopeTest : public ::testing::Test {
protected:
    CVeltrane v;
    Bytes grey = FlatCompactJpeg(32, 16);  // 6 + 2 MCUs x 4 bytes = 14 bytes
};

TEST_F(EnvelopeTest, ChannelCountIsThreeAtPPlus5AndFourOneByteLater) {
    ASSERT_EQ(grey.size(), 14u);
    Bytes payload = Envelope(0, grey);
    ASSERT_EQ(payload.size(), grey.size() + 5);
    unsigned long ch = 0, w = 0, h = 0;
    ASSERT_TRUE(Info(v, payload, ch, w, h));
    EXPECT_EQ(ch, 3u);
    EXPECT_EQ(w, 32u);
    EXPECT_EQ(h, 16u);
    payload.push_back(0x78);  // one byte more: an alpha stream
    ASSERT_TRUE(Info(v, payload, ch, w, h));
    EXPECT_EQ(ch, 4u);

    // With the leading tag byte and the flag: P + 6 bytes is still 3 channels.
    Bytes tagged = Envelope(0, grey, Bytes(), true);
    ASSERT_EQ(tagged.size(), grey.size() + 6);
    ASSERT_TRUE(Info(v, tagged, ch, w, h, true));
    EXPECT_EQ(ch, 3u);
    tagged.push_back(0x78);
    ASSERT_TRUE(Info(v, tagged, ch, w, h, true));
    EXPECT_EQ(ch, 4u);
}

TEST_F(EnvelopeTest, LeadingTagByteIsSkippedUnexamined) {
    Bytes plain, tagged, tagged2;
    ASSERT_TRUE(Decode(v, Envelope(0, grey), OutputRGB, 32 * 16 * 3, plain));
    ASSERT_TRUE(Decode(v, Envelope(0, grey, Bytes(), true, 0x00), OutputRGB, 32 * 16 * 3, tagged, true));
    ASSERT_TRUE(Decode(v, Envelope(0, grey, Bytes(), true, 0xFF), OutputRGB, 32 * 16 * 3, tagged2, true));
    EXPECT_EQ(plain, tagged);
    EXPECT_EQ(plain, tagged2);
    EXPECT_EQ(plain, Bytes(32 * 16 * 3, 128));
    // Without the flag every field shifts by one: the tag is taken for the
    // codec byte and the length no longer fits.
    Bytes out;
    EXPECT_FALSE(Decode(v, Envelope(0, grey, Bytes(), true, 0xA5), OutputRGB, 32 * 16 * 3, out, false));
}

TEST_F(EnvelopeTest, PrimaryLengthNotPositiveOrPastThePayloadIsRefused) {
    Bytes good = Envelope(0, grey);
    auto withP = [&](std::uint32_t p) {
        Bytes b = good;
        for (int k = 0; k < 4; ++k) b[1 + k] = static_cast<unsigned char>(p >> (8 * k));
        return b;
    };
    const std::uint32_t length = static_cast<std::uint32_t>(good.size());
    for (std::uint32_t p : {0u, 0xFFFFFFFFu, 0x80000000u, length - 4, length, 0x7FFFFFFFu}) {
        SCOPED_TRACE(p);
        Bytes out;
        EXPECT_FALSE(Decode(v, withP(p), OutputRGB, 32 * 16 * 3, out));
        EXPECT_TRUE(Untouched(out));
        unsigned long ch = 7, w = 7, h = 7;
        EXPECT_FALSE(Info(v, withP(p), ch, w, h));
    }
    // P = L - 5 exactly fits.
    Bytes out;
    EXPECT_TRUE(Decode(v, withP(length - 5), OutputRGB, 32 * 16 * 3, out));
}

TEST_F(EnvelopeTest, PayloadsShorterThanTheEnvelopeAreRefused) {
    unsigned long ch = 0, w = 0, h = 0;
    for (std::size_t n = 0; n < 5; ++n) {
        Bytes b(n, 0);
        EXPECT_FALSE(Info(v, b, ch, w, h)) << n;
        Bytes tagged(n + 1, 0);
        EXPECT_FALSE(Info(v, tagged, ch, w, h, true)) << n;
        Bytes out;
        if (n > 0) {
            EXPECT_FALSE(Decode(v, b, OutputRGB, 16, out)) << n;
        }
    }
    EXPECT_FALSE(v.GetCompressDataInfo(nullptr, 20, ch, w, h, false));
    unsigned char dst[4];
    Exact in(Envelope(0, grey));
    EXPECT_FALSE(v.DecodeImage(nullptr, in.size(), dst, OutputRGB, false));
    EXPECT_FALSE(v.DecodeImage(in.data(), in.size(), nullptr, OutputRGB, false));
    EXPECT_FALSE(v.DecodeImage(in.data(), 0, dst, OutputRGB, false));
}

TEST_F(EnvelopeTest, InvalidCompactHeaderIsRefused) {
    unsigned long ch = 9, w = 9, h = 9;
    Bytes out;
    for (Bytes stream : {FlatCompactJpeg(0, 16), FlatCompactJpeg(16, 0)}) {
        EXPECT_FALSE(Info(v, Envelope(0, stream), ch, w, h));
        EXPECT_FALSE(Decode(v, Envelope(0, stream), OutputRGB, 16 * 16 * 3, out));
        EXPECT_TRUE(Untouched(out));
        // The same with an alpha stream behind it.
        EXPECT_FALSE(Info(v, Envelope(0, stream, Deflate(Bytes(256, 1))), ch, w, h));
        EXPECT_FALSE(Decode(v, Envelope(0, stream, Deflate(Bytes(256, 1))), OutputRGBA, 16 * 16 * 4, out));
    }
    // A color stream shorter than its 6-byte header.
    for (std::size_t n = 1; n < 6; ++n) {
        Bytes stream(grey.begin(), grey.begin() + static_cast<long>(n));
        EXPECT_FALSE(Info(v, Envelope(0, stream), ch, w, h)) << n;
        EXPECT_FALSE(Decode(v, Envelope(0, stream), OutputRGB, 32 * 16 * 3, out)) << n;
        EXPECT_FALSE(Decode(v, Envelope(1, stream, Bytes{1}), OutputRGBA, 32 * 16 * 4, out)) << n;
    }
    EXPECT_EQ(ch, 9u);
    EXPECT_EQ(w, 9u);
    EXPECT_EQ(h, 9u);
}

TEST_F(EnvelopeTest, AbsurdImageSizesAreRefused) {
    // 65535 x 65535 would need a 16 GiB scratch image; 16384 x 16384 (1 GiB)
    // is the largest size accepted.
    unsigned long ch = 0, w = 0, h = 0;
    const Bytes huge{0xFF, 0xFF, 0xFF, 0xFF, 50, 0, 0x28, 0xA2, 0x8A, 0x00};
    const Bytes wide{0x01, 0x40, 0x01, 0x40, 50, 0, 0x28, 0xA2, 0x8A, 0x00};  // 16385 x 16385
    const Bytes limit{0x00, 0x40, 0x00, 0x40, 50, 0, 0x28, 0xA2, 0x8A, 0x00};  // 16384 x 16384
    for (const Bytes& stream : {huge, wide}) {
        EXPECT_FALSE(Info(v, Envelope(0, stream), ch, w, h));
        EXPECT_FALSE(Info(v, Envelope(0, stream, Bytes{1}), ch, w, h));
        Bytes out;
        EXPECT_FALSE(Decode(v, Envelope(0, stream), OutputDXT1, 64, out));
        EXPECT_FALSE(Decode(v, Envelope(0, stream, Deflate(Bytes(16, 0))), OutputDXT5Mipmaps, 64, out));
        EXPECT_TRUE(Untouched(out));
    }
    ASSERT_TRUE(Info(v, Envelope(0, limit), ch, w, h));
    EXPECT_EQ(w, 16384u);
    EXPECT_EQ(h, 16384u);
}

TEST_F(EnvelopeTest, CodecByteOtherThanZeroOrOneWithoutAlphaIsRefused) {
    unsigned long ch = 0, w = 0, h = 0;
    for (unsigned char codec : {2, 7, 0x80, 0xFF}) {
        EXPECT_FALSE(Info(v, Envelope(codec, grey), ch, w, h)) << int(codec);
        for (int t = 0; t <= 5; ++t) {
            Bytes out;
            EXPECT_FALSE(Decode(v, Envelope(codec, grey), static_cast<OutputType>(t), 32 * 16 * 4, out));
            EXPECT_TRUE(Untouched(out));
        }
    }
}

TEST_F(EnvelopeTest, AlphaWithAnyCodecByteReadsCompactJpegAndInflatesOnlyForCodecZero) {
    const Bytes plane = AlphaPlane(32, 16);
    const Bytes alpha = Deflate(plane);
    unsigned long ch = 0, w = 0, h = 0;
    for (unsigned char codec : {0, 1, 2, 0xFF}) {
        SCOPED_TRACE(int(codec));
        ASSERT_TRUE(Info(v, Envelope(codec, grey, alpha), ch, w, h));
        EXPECT_EQ(ch, 4u);
        EXPECT_EQ(w, 32u);
        EXPECT_EQ(h, 16u);
        Bytes out;
        ASSERT_TRUE(Decode(v, Envelope(codec, grey, alpha), OutputRGBA, 32 * 16 * 4, out));
        for (std::size_t i = 0; i < 32 * 16; ++i) {
            ASSERT_EQ(out[4 * i], 128);
            ASSERT_EQ(out[4 * i + 3], codec == 0 ? plane[i] : 255) << i;
        }
    }
    // Codec byte 1 with a stream that is no zlib stream at all: not inflated.
    Bytes out;
    EXPECT_TRUE(Decode(v, Envelope(1, grey, Bytes{1, 2, 3}), OutputRGBA, 32 * 16 * 4, out));
}

TEST_F(EnvelopeTest, AlphaThatDoesNotInflateToExactlyTheImageIsAFailure) {
    const Bytes plane = AlphaPlane(32, 16);
    Bytes shortPlane(plane.begin(), plane.end() - 1);
    Bytes longPlane = plane;
    longPlane.push_back(7);
    Bytes damaged = Deflate(plane);
    damaged[damaged.size() / 2] ^= 0x55;
    Bytes truncated = Deflate(plane);
    truncated.resize(truncated.size() - 3);
    for (const Bytes& alpha : {Deflate(shortPlane), Deflate(longPlane), damaged, truncated, Bytes{0x00}}) {
        for (OutputType t : {OutputRGBA, OutputDXT5Mipmaps}) {
            Bytes out;
            const std::size_t size = t == OutputRGBA ? 32 * 16 * 4 : vt::dxt::DxtMipChainBytes(32, 16, vt::dxt::kDxt5);
            EXPECT_FALSE(Decode(v, Envelope(0, grey, alpha), t, size, out));
            EXPECT_TRUE(Untouched(out));
        }
    }
}

// Every cell of the output table: what each payload kind gives for each
// type, and that the cells without output leave the destination untouched.
TEST_F(EnvelopeTest, OutputTableEveryCell) {
    const int w = 32, h = 16;
    Bytes rgb(static_cast<std::size_t>(w) * h * 3);
    for (std::size_t i = 0; i < rgb.size(); ++i) rgb[i] = static_cast<unsigned char>(i * 7 + i / 96);
    std::vector<std::uint8_t> j2k;
    ASSERT_TRUE(vt::j2kenc::EncodeImage(rgb.data(), w, h, 3, vt::j2kenc::Options::Lossless(), j2k));
    const Bytes plane = AlphaPlane(w, h);
    struct Kind {
        const char* name;
        Bytes payload;
        std::vector<int> produced;
    };
    const Kind kinds[] = {
        {"alpha", Envelope(0, grey, Deflate(plane)), {OutputDXT5Mipmaps, OutputRGBA}},
        {"compact jpeg", Envelope(0, grey), {OutputDXT1, OutputDXT1Mipmaps, OutputRGB, OutputRGB565}},
        {"jpeg 2000", Envelope(1, Bytes(j2k.begin(), j2k.end())), {OutputDXT1, OutputDXT1Mipmaps, OutputRGB, OutputRGB565}},
    };
    const std::size_t maxSize = static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(w, h, vt::dxt::kDxt5)) + w * h * 4;
    for (const Kind& kind : kinds) {
        for (int t = -1; t <= 7; ++t) {
            SCOPED_TRACE(std::string(kind.name) + " type " + std::to_string(t));
            bool expected = false;
            for (int p : kind.produced) expected |= p == t;
            Bytes out;
            EXPECT_EQ(Decode(v, kind.payload, static_cast<OutputType>(t), maxSize, out), expected);
            EXPECT_EQ(Untouched(out), !expected);
        }
    }
}

TEST_F(EnvelopeTest, CompactJpegOutputsMatchTheDecoderAndEncoder) {
    // White (DC 64) at 20 x 12: a size that is neither a multiple of 16 nor a
    // power of two. Every output is checked against the decoder's own pixels.
    for (int dc : {0, 64}) {
        const Bytes stream = FlatCompactJpeg(20, 12, 50, dc);
        const Bytes payload = Envelope(0, stream);
        const unsigned char grey = dc == 0 ? 128 : 255;
        Bytes rgb, packed, dxt1, chain;
        ASSERT_TRUE(Decode(v, payload, OutputRGB, 20 * 12 * 3, rgb));
        EXPECT_EQ(rgb, Bytes(20 * 12 * 3, grey));
        ASSERT_TRUE(Decode(v, payload, OutputRGB565, 20 * 12 * 2, packed));
        // (255, 255, 255) packs to 0xFFFF; (128, 128, 128) to 16 << 11 | 32 << 5 | 16.
        const unsigned expected565 = dc == 0 ? 0x8410u : 0xFFFFu;
        for (std::size_t i = 0; i < 20 * 12; ++i) {
            ASSERT_EQ(packed[2 * i] | packed[2 * i + 1] << 8, static_cast<int>(expected565)) << i;
        }
        Bytes bgra(20 * 12 * 4, grey);
        for (std::size_t i = 3; i < bgra.size(); i += 4) bgra[i] = 255;
        Bytes level(static_cast<std::size_t>(5 * 3 * 8));
        int n = 0;
        vt::dxt::EncodeDxt1Image(bgra.data(), level.data(), 20, 12, &n);
        ASSERT_TRUE(Decode(v, payload, OutputDXT1, level.size(), dxt1));
        EXPECT_EQ(dxt1, level);
        Bytes expectedChain(static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(20, 12, vt::dxt::kDxt1)));
        vt::dxt::EncodeDxtMipChain(bgra.data(), 20, 12, vt::dxt::kDxt1, false, expectedChain.data());
        ASSERT_TRUE(Decode(v, payload, OutputDXT1Mipmaps, expectedChain.size(), chain));
        EXPECT_EQ(chain, expectedChain);
    }
}

}  // namespace
