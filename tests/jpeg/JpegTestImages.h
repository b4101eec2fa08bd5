// Photo-like RGB test images cut from the sample photographs.
#ifndef VT_TESTS_JPEG_TEST_IMAGES_H
#define VT_TESTS_JPEG_TEST_IMAGES_H

#include <cstdint>
#include <vector>

namespace vt_jpeg_test {

struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // R,G,B, rows without padding
};

// A width x height image cut from one of the sample photographs (chosen by
// `variant`), mirrored at the photo's edges where it is larger than the
// photo. Aborts the test program if the photographs cannot be read.
RgbImage PhotoCrop(int width, int height, int variant);

}  // namespace vt_jpeg_test

#endif
