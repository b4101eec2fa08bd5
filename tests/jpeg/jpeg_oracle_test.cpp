// The compact decoder against libjpeg: encoder-made streams of photo crops,
// decoded by libjpeg with the fast integer IDCT and replicated chroma, must
// give the same bytes. Run with JSIMD_FORCENONE=1 so that libjpeg uses its C
// paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "CompactJpeg.h"
#include "JpegTestImages.h"
#include "jpeg/JpegDecoder.h"
#include "support/CpuForms.h"

namespace {

using vt_jpeg_test::PhotoCrop;

struct Size {
    int width, height;
};

const int kQualities[] = {0, 1, 10, 50, 75, 90, 100, 101, 65535};

// Decodes with CJpegDecoder into a buffer of exactly the image's size,
// taking the stream from an exact-size copy, with the kernels of `form`
// (chosen through the processor-feature mask, as the decoder chooses them).
std::vector<uint8_t> DecodeOurs(const std::vector<uint8_t>& stream, int bytesPerPixel, const vt::test::CpuForm& form) {
    const std::vector<uint8_t> exact(stream);
    vt::test::ScopedCpuFeatures mask(form);
    vt::jpeg::CJpegDecoder decoder;
    int width = 0, height = 0, headerLength = 0;
    EXPECT_TRUE(decoder.ReadHeader(exact.data(), static_cast<int>(exact.size()), width, height, headerLength));
    EXPECT_EQ(headerLength, 6);
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * bytesPerPixel);
    const bool ok = bytesPerPixel == 3 ? decoder.DecodeImage24(exact.data() + headerLength, pixels.data())
                                       : decoder.DecodeImage32(exact.data() + headerLength, pixels.data());
    EXPECT_TRUE(ok);
    return pixels;
}

// Index of the first differing byte, or -1.
long FirstDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    if (a.size() != b.size()) return 0;
    for (size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

class OracleTest : public ::testing::TestWithParam<Size> {};

TEST_P(OracleTest, MatchesLibjpegFastIdctAtEveryQuality) {
    const Size size = GetParam();
    int variant = 0;
    for (int quality : kQualities) {
        SCOPED_TRACE("quality " + std::to_string(quality));
        const auto image = PhotoCrop(size.width, size.height, variant++);
        const auto stream = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), size.width, size.height, quality);
        ASSERT_GT(stream.size(), 6u);
        for (int bytesPerPixel : {3, 4}) {
            SCOPED_TRACE("bytes per pixel " + std::to_string(bytesPerPixel));
            std::vector<uint8_t> expected;
            int w = 0, h = 0;
            ASSERT_TRUE(vt::compactjpeg::DecodeCompactJpegReference(stream.data(), stream.size(), bytesPerPixel,
                                                                    expected, w, h));
            ASSERT_EQ(w, size.width);
            ASSERT_EQ(h, size.height);
            // The SIMD kernels' own tests (jpeg_reconstruct_test) say visibly
            // where they cannot run; here every form that runs is compared.
            for (const vt::test::CpuForm& form : vt::test::kCpuForms) {
                if (!vt::test::FormRuns(form)) continue;
                SCOPED_TRACE(std::string(form.name) + " kernels");
                const auto ours = DecodeOurs(stream, bytesPerPixel, form);
                const long diff = FirstDifference(ours, expected);
                ASSERT_EQ(diff, -1) << "pixel " << diff / bytesPerPixel << " ours " << int(ours[diff])
                                    << " libjpeg " << int(expected[diff]);
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, OracleTest,
                         ::testing::Values(Size{1, 1}, Size{3, 5}, Size{16, 16}, Size{17, 17}, Size{20, 20},
                                           Size{255, 257}, Size{256, 256}, Size{600, 400}),
                         [](const ::testing::TestParamInfo<Size>& info) {
                             return std::to_string(info.param.width) + "x" + std::to_string(info.param.height);
                         });

// The encoder's streams are really compact: no stuffed zero after 0xFF
// (libjpeg would have written one after every 0xFF data byte), so the
// wrapped stream is longer by exactly the number of 0xFF bytes.
TEST(CompactEncoder, RemovesByteStuffingAndMarkers) {
    const auto image = PhotoCrop(64, 48, 1);
    const auto stream = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), 64, 48, 90);
    ASSERT_GT(stream.size(), 6u);
    EXPECT_EQ(stream[0], 64);
    EXPECT_EQ(stream[1], 0);
    EXPECT_EQ(stream[2], 48);
    EXPECT_EQ(stream[4], 90);
    size_t ffCount = 0;
    for (size_t i = 6; i < stream.size(); ++i) ffCount += stream[i] == 0xFF;
    const auto wrapped = vt::compactjpeg::WrapAsStandardJpeg(stream.data(), stream.size());
    const auto empty = vt::compactjpeg::WrapAsStandardJpeg(stream.data(), 6);
    EXPECT_EQ(wrapped.size() - empty.size(), stream.size() - 6 + ffCount);
    EXPECT_TRUE(vt::compactjpeg::WrapAsStandardJpeg(stream.data(), 5).empty());
}

}  // namespace
