// The driver's red-blue swap: the shuffle form gives the plain form's bytes
// for every pixel count and never writes past the last pixel.
#include <gtest/gtest.h>

#include <vector>

#include "SwapRedBlue.h"

namespace {

TEST(SwapRedBlue, ShuffleFormEqualsPlainFormAndStaysInsideTheBuffer) {
    const unsigned char bgr[3] = {1, 2, 3};
    unsigned char rgb[3];
    vt::gdal::SwapRedBluePortable(bgr, rgb, 1, 3);
    EXPECT_EQ(std::vector<unsigned char>(rgb, rgb + 3), (std::vector<unsigned char>{3, 2, 1}));
    for (int step : {3, 4})
        for (size_t count = 0; count <= 70; ++count) {
            std::vector<unsigned char> in(count * step + 32);
            for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 7 + 1);
            std::vector<unsigned char> plain(count * step + 16, 0xEE), fast = plain;
            vt::gdal::SwapRedBluePortable(in.data(), plain.data(), count, step);
            vt::gdal::SwapRedBlue(in.data(), fast.data(), count, step);
            EXPECT_EQ(fast, plain) << "step " << step << ", " << count << " pixels";
        }
}

}  // namespace
