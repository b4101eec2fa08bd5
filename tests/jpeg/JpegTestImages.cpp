// Photo-like RGB test images cut from the sample photographs.
#include "JpegTestImages.h"

#include "support/Photos.h"

namespace vt_jpeg_test {
namespace {

const RgbImage& Photo(int index) {
    static const char* const kNames[3] = {"pier.png", "board.jpg", "plasma.png"};
    static RgbImage photos[3];
    RgbImage& photo = photos[index];
    if (photo.width == 0) {
        const vt::test::Photo& source = vt::test::LoadPhoto(kNames[index], 3);
        photo.rgb = source.pixels;
        photo.width = source.width;
        photo.height = source.height;
    }
    return photo;
}

int Mirror(int v, int size) {
    const int period = 2 * size;
    v %= period;
    return v < size ? v : period - 1 - v;
}

}  // namespace

RgbImage PhotoCrop(int width, int height, int variant) {
    const RgbImage& photo = Photo(variant % 3);
    const int x0 = (variant * 37) % photo.width;
    const int y0 = (variant * 23) % photo.height;
    RgbImage out;
    out.width = width;
    out.height = height;
    out.rgb.resize(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        const int sy = Mirror(y0 + y, photo.height);
        for (int x = 0; x < width; ++x) {
            const int sx = Mirror(x0 + x, photo.width);
            const uint8_t* s = &photo.rgb[(static_cast<size_t>(sy) * photo.width + sx) * 3];
            uint8_t* d = &out.rgb[(static_cast<size_t>(y) * width + x) * 3];
            d[0] = s[0];
            d[1] = s[1];
            d[2] = s[2];
        }
    }
    return out;
}

}  // namespace vt_jpeg_test
