// The image payload decoders' scratch images are sized from the color
// stream's header: an alpha stream too short to fill the image is refused
// before any of them is allocated, and no memory for one is a failure (false,
// destination untouched), never an exception.
#include <gtest/gtest.h>

#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "payload/PayloadTestSupport.h"
#include "support/AllocationWatch.h"

namespace {

using namespace vt_payload_test;
using vt::test::AllocationWatch;

constexpr unsigned char kFill = 0xCD;

// A compact JPEG stream of the header alone (width, height, quality 50):
// decoders read zero bits past the data, so it decodes to a full image.
Bytes HeaderOnly(int width, int height) {
    return Bytes{static_cast<unsigned char>(width), static_cast<unsigned char>(width >> 8),
                 static_cast<unsigned char>(height), static_cast<unsigned char>(height >> 8), 50, 0};
}

std::size_t OutputBytes(OutputType type, int w, int h) {
    switch (type) {
        case OutputDXT1: return static_cast<std::size_t>((w + 3) / 4) * ((h + 3) / 4) * 8;
        case OutputDXT1Mipmaps: return vt::dxt::DxtMipChainBytes(w, h, vt::dxt::kDxt1);
        case OutputDXT5Mipmaps: return vt::dxt::DxtMipChainBytes(w, h, vt::dxt::kDxt5);
        case OutputRGB565: return static_cast<std::size_t>(w) * h * 2;
        case OutputRGB: return static_cast<std::size_t>(w) * h * 3;
        default: return static_cast<std::size_t>(w) * h * 4;
    }
}

// Decodes under a watch that refuses allocations above `refuseAbove`; true
// when the decode succeeded. `largest` is the largest allocation it asked for.
bool Decode(const Bytes& payload, OutputType type, int w, int h, std::size_t refuseAbove, std::size_t& largest,
            bool& untouched) {
    Exact in(payload);
    Bytes destination(OutputBytes(type, w, h), kFill);
    CVeltrane v;
    bool ok = false;
    {
        AllocationWatch watch(refuseAbove);
        ok = v.DecodeImage(in.data(), in.size(), destination.data(), type, false);
        largest = watch.Largest();
    }
    untouched = true;
    for (unsigned char c : destination) untouched = untouched && c == kFill;
    return ok;
}

TEST(PayloadScratch, AlphaStreamTooShortForTheImageIsRefusedBeforeAnyScratch) {
    // 2048 x 2048 pixels would take a 16 MiB scratch image and a 4 MiB
    // plane; a zlib stream of a few bytes gives at most 1032 bytes a byte.
    const Bytes alpha = Deflate(Bytes(1000, 0x80));
    ASSERT_LT(alpha.size() * 1032, 2048u * 2048u);
    for (OutputType type : {OutputRGBA, OutputDXT5Mipmaps}) {
        std::size_t largest = 0;
        bool untouched = false;
        EXPECT_FALSE(Decode(Envelope(0, HeaderOnly(2048, 2048), alpha), type, 2048, 2048, SIZE_MAX, largest,
                            untouched));
        EXPECT_LT(largest, std::size_t{1} << 20) << type;
        EXPECT_TRUE(untouched);
    }
}

TEST(PayloadScratch, NoMemoryForTheScratchImageIsAFailureNotAnException) {
    // 1024 x 1024: a 4 MiB image for RGBA, a 1 MiB alpha plane, and for DXT
    // 64 KiB strips of 16 rows (and a 1 MiB second level for chains); all
    // refused above 32 KiB.
    const int side = 1024;
    const std::size_t limit = std::size_t{1} << 15;
    const Bytes color = HeaderOnly(side, side);
    const Bytes alpha = Deflate(Bytes(static_cast<std::size_t>(side) * side, 0x80));
    struct Case {
        Bytes payload;
        OutputType type;
    };
    const Case cases[] = {
        {Envelope(0, color), OutputDXT1},
        {Envelope(0, color), OutputDXT1Mipmaps},
        {Envelope(0, color, alpha), OutputRGBA},
        {Envelope(0, color, alpha), OutputDXT5Mipmaps},
    };
    for (const Case& c : cases) {
        std::size_t largest = 0;
        bool untouched = false;
        bool ok = true;
        EXPECT_NO_THROW(ok = Decode(c.payload, c.type, side, side, limit, largest, untouched)) << c.type;
        EXPECT_FALSE(ok) << c.type;
        EXPECT_TRUE(untouched) << c.type;
        EXPECT_GT(largest, limit) << c.type;
    }
    // And with memory, the same payloads decode.
    std::size_t largest = 0;
    bool untouched = false;
    EXPECT_TRUE(Decode(cases[3].payload, OutputDXT5Mipmaps, side, side, SIZE_MAX, largest, untouched));
}

}  // namespace
