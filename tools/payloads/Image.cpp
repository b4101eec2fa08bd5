#include "Image.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

namespace vt {
namespace payloads {

Image FromBgr(const uint8_t* bgr, int width, int height) {
    Image image(width, height);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
        image.rgba[i * 4 + 0] = bgr[i * 3 + 2];
        image.rgba[i * 4 + 1] = bgr[i * 3 + 1];
        image.rgba[i * 4 + 2] = bgr[i * 3 + 0];
        image.rgba[i * 4 + 3] = 255;
    }
    return image;
}

Image FromBgra(const uint8_t* bgra, int width, int height) {
    Image image(width, height);
    for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
        image.rgba[i * 4 + 0] = bgra[i * 4 + 2];
        image.rgba[i * 4 + 1] = bgra[i * 4 + 1];
        image.rgba[i * 4 + 2] = bgra[i * 4 + 0];
        image.rgba[i * 4 + 3] = bgra[i * 4 + 3];
    }
    return image;
}

Image HalveImage(const Image& image) {
    Image half((image.width + 1) / 2, (image.height + 1) / 2);
    for (int y = 0; y < half.height; ++y) {
        int y0 = 2 * y, y1 = std::min(2 * y + 1, image.height - 1);
        for (int x = 0; x < half.width; ++x) {
            int x0 = 2 * x, x1 = std::min(2 * x + 1, image.width - 1);
            const uint8_t *a = image.Pixel(x0, y0), *b = image.Pixel(x1, y0), *c = image.Pixel(x0, y1),
                          *d = image.Pixel(x1, y1);
            uint8_t* out = half.Pixel(x, y);
            for (int ch = 0; ch < 4; ++ch) out[ch] = static_cast<uint8_t>((a[ch] + b[ch] + c[ch] + d[ch]) >> 2);
        }
    }
    return half;
}

std::vector<Image> LevelImages(const Image& finest, int levels) {
    std::vector<Image> out(static_cast<size_t>(levels));
    out.back() = finest;
    for (int l = levels - 2; l >= 0; --l) out[static_cast<size_t>(l)] = HalveImage(out[static_cast<size_t>(l) + 1]);
    return out;
}

std::vector<uint8_t> TileAlphaPlane(const Image& tile, const std::vector<uint8_t>& outside, bool& anyTransparent,
                                    bool& allTransparent) {
    std::vector<uint8_t> plane(static_cast<size_t>(tile.width) * tile.height);
    anyTransparent = false;
    allTransparent = true;
    for (size_t i = 0; i < plane.size(); ++i) {
        plane[i] = outside[i] ? 255 : tile.rgba[i * 4 + 3];
        if (!outside[i]) {
            anyTransparent = anyTransparent || plane[i] < 255;
            allTransparent = allTransparent && plane[i] == 0;
        }
    }
    return plane;
}

Image CutTile(const Image& image, int col, int row, int size, std::vector<uint8_t>* outside) {
    Image tile(size, size);
    if (outside != nullptr) outside->assign(static_cast<size_t>(size) * size, 0);
    for (int y = 0; y < size; ++y) {
        int sy = row * size + y;
        bool outY = sy >= image.height;
        int cy = std::min(sy, image.height - 1);
        for (int x = 0; x < size; ++x) {
            int sx = col * size + x;
            bool outX = sx >= image.width;
            int cx = std::min(sx, image.width - 1);
            std::memcpy(tile.Pixel(x, y), image.Pixel(cx, cy), 4);
            if (outside != nullptr && (outX || outY)) (*outside)[static_cast<size_t>(y) * size + x] = 1;
        }
    }
    return tile;
}

namespace {

// The four (or three) colors of a DXT color block. Byte 0 of each color is
// the field in bits 15-11 of the 5:6:5 endpoints.
void BlockColors(const uint8_t* block, bool alwaysFourColors, uint8_t colors[4][4]) {
    unsigned c0 = block[0] | block[1] << 8, c1 = block[2] | block[3] << 8;
    auto expand = [](unsigned c, uint8_t* out) {
        unsigned hi = (c >> 11) & 31, mid = (c >> 5) & 63, lo = c & 31;
        out[0] = static_cast<uint8_t>(hi << 3 | hi >> 2);
        out[1] = static_cast<uint8_t>(mid << 2 | mid >> 4);
        out[2] = static_cast<uint8_t>(lo << 3 | lo >> 2);
        out[3] = 255;
    };
    expand(c0, colors[0]);
    expand(c1, colors[1]);
    for (int ch = 0; ch < 3; ++ch) {
        int a = colors[0][ch], b = colors[1][ch];
        if (alwaysFourColors || c0 > c1) {
            colors[2][ch] = static_cast<uint8_t>((2 * a + b) / 3);
            colors[3][ch] = static_cast<uint8_t>((a + 2 * b) / 3);
        } else {
            colors[2][ch] = static_cast<uint8_t>((a + b) / 2);
            colors[3][ch] = 0;
        }
    }
    colors[2][3] = 255;
    colors[3][3] = (alwaysFourColors || c0 > c1) ? 255 : 0;
}

void BlockAlphas(const uint8_t* block, uint8_t alphas[8]) {
    int a0 = block[0], a1 = block[1];
    alphas[0] = static_cast<uint8_t>(a0);
    alphas[1] = static_cast<uint8_t>(a1);
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i) alphas[i + 1] = static_cast<uint8_t>(((7 - i) * a0 + i * a1) / 7);
    } else {
        for (int i = 1; i < 5; ++i) alphas[i + 1] = static_cast<uint8_t>(((5 - i) * a0 + i * a1) / 5);
        alphas[6] = 0;
        alphas[7] = 255;
    }
}

}  // namespace

Image DecodeDxt(const uint8_t* blocks, int width, int height, bool dxt5) {
    Image image(width, height);
    int bw = (width + 3) / 4, bh = (height + 3) / 4;
    size_t blockBytes = dxt5 ? 16 : 8;
    for (int by = 0; by < bh; ++by) {
        for (int bx = 0; bx < bw; ++bx) {
            const uint8_t* block = blocks + (static_cast<size_t>(by) * bw + bx) * blockBytes;
            uint8_t alphas[8] = {255, 255, 255, 255, 255, 255, 255, 255};
            uint64_t alphaBits = 0;
            if (dxt5) {
                BlockAlphas(block, alphas);
                for (int i = 0; i < 6; ++i) alphaBits |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
                block += 8;
            }
            uint8_t colors[4][4];
            BlockColors(block, dxt5, colors);
            uint32_t indices = block[4] | block[5] << 8 | block[6] << 16 | static_cast<uint32_t>(block[7]) << 24;
            for (int p = 0; p < 16; ++p) {
                int x = bx * 4 + (p & 3), y = by * 4 + (p >> 2);
                if (x >= width || y >= height) continue;
                uint8_t* out = image.Pixel(x, y);
                std::memcpy(out, colors[(indices >> (2 * p)) & 3], 4);
                if (dxt5) out[3] = alphas[(alphaBits >> (3 * p)) & 7];
            }
        }
    }
    return image;
}

double Psnr(const Image& a, const Image& b) {
    if (a.width != b.width || a.height != b.height) return 0.0;
    double sum = 0;
    size_t n = static_cast<size_t>(a.width) * a.height;
    for (size_t i = 0; i < n; ++i)
        for (int ch = 0; ch < 3; ++ch) {
            double d = static_cast<double>(a.rgba[i * 4 + ch]) - b.rgba[i * 4 + ch];
            sum += d * d;
        }
    if (sum == 0) return std::numeric_limits<double>::infinity();
    double mse = sum / (3.0 * static_cast<double>(n));
    return 10.0 * std::log10(255.0 * 255.0 / mse);
}

}  // namespace payloads
}  // namespace vt
