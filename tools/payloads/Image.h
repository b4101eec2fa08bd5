// In-memory images for the tools: 8-bit RGBA pixels in red, green, blue,
// alpha order (the natural order of PNG), rows top to bottom. The reader
// library hands out blue-green-red pixels; the converters here turn those
// around.
#ifndef VELTRANE_TOOLS_PAYLOADS_IMAGE_H
#define VELTRANE_TOOLS_PAYLOADS_IMAGE_H

#include <cstdint>
#include <string>
#include <vector>

namespace vt {
namespace payloads {

struct Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgba;  // width x height x 4

    Image() = default;
    Image(int w, int h) : width(w), height(h), rgba(static_cast<size_t>(w) * h * 4, 0) {}
    uint8_t* Pixel(int x, int y) { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    const uint8_t* Pixel(int x, int y) const { return &rgba[(static_cast<size_t>(y) * width + x) * 4]; }
    bool empty() const { return width <= 0 || height <= 0; }
};

// Image files are read and written by tools/imagefile.

// Pixel conversions from the library's layouts.
Image FromBgr(const uint8_t* bgr, int width, int height);
Image FromBgra(const uint8_t* bgra, int width, int height);

// The 2 x 2 average of `image` (sides rounded up; a missing right column or
// bottom row repeats the last one). Every channel is averaged, with rounding
// down as the reader's mip chains do.
Image HalveImage(const Image& image);

// Copies the `size` x `size` tile at (col, row) out of `image`. Pixels beyond
// the image repeat its last column and row (so that codecs see smooth edges);
// `outside` receives for each tile pixel whether it lies beyond the image.
Image CutTile(const Image& image, int col, int row, int size, std::vector<uint8_t>* outside = nullptr);

// The levels of a pyramid over `finest`, coarsest first: the last is
// `finest` itself, each one before it the 2 x 2 average (HalveImage) of the
// next.
std::vector<Image> LevelImages(const Image& finest, int levels);

// The alpha plane of a tile cut with CutTile: the image's alpha inside the
// image, opaque in the padding beyond its east and south edges (which a
// mosaic crops away). `anyTransparent` says whether an inside pixel is not
// opaque, `allTransparent` whether every inside pixel has alpha 0.
std::vector<uint8_t> TileAlphaPlane(const Image& tile, const std::vector<uint8_t>& outside, bool& anyTransparent,
                                    bool& allTransparent);

// Decodes DXT1 / DXT5 (BC1 / BC3) blocks of a width x height level to RGBA.
Image DecodeDxt(const uint8_t* blocks, int width, int height, bool dxt5);

// Peak signal-to-noise ratio of the color channels of two same-size images;
// infinity when they are equal.
double Psnr(const Image& a, const Image& b);

}  // namespace payloads
}  // namespace vt

#endif  // VELTRANE_TOOLS_PAYLOADS_IMAGE_H
