// A small BC1 / BC3 (DXT1 / DXT5) decoder written from the public block
// layouts (the DDS documentation's "Block compression" pages), kept apart from
// the encoder so that the tests can check what any decoder would show.
#ifndef VELTRANE_TESTS_DXT_BC_DECODER_H
#define VELTRANE_TESTS_DXT_BC_DECODER_H

#include <cstdint>
#include <vector>

namespace bctest {

struct Rgb {
    int c[3];
};

// The four colors of a BC1 block as a decoder expands them: 5- and 6-bit
// fields widened by bit replication, the thirds-points rounded down; the
// three-color mode when color0 <= color1.
inline void Bc1Palette(const uint8_t* block, Rgb palette[4]) {
    const unsigned color0 = block[0] | (block[1] << 8), color1 = block[2] | (block[3] << 8);
    auto expand = [](unsigned v, Rgb& out) {
        const unsigned r5 = (v >> 11) & 31, g6 = (v >> 5) & 63, b5 = v & 31;
        out.c[0] = static_cast<int>((r5 << 3) | (r5 >> 2));
        out.c[1] = static_cast<int>((g6 << 2) | (g6 >> 4));
        out.c[2] = static_cast<int>((b5 << 3) | (b5 >> 2));
    };
    expand(color0, palette[0]);
    expand(color1, palette[1]);
    for (int c = 0; c < 3; ++c) {
        if (color0 > color1) {
            palette[2].c[c] = (2 * palette[0].c[c] + palette[1].c[c]) / 3;
            palette[3].c[c] = (palette[0].c[c] + 2 * palette[1].c[c]) / 3;
        } else {
            palette[2].c[c] = (palette[0].c[c] + palette[1].c[c]) / 2;
            palette[3].c[c] = 0;
        }
    }
}

inline int Bc1Index(const uint8_t* block, int pixel) {
    const uint32_t word = block[4] | (block[5] << 8) | (block[6] << 16) | (static_cast<uint32_t>(block[7]) << 24);
    return static_cast<int>((word >> (2 * pixel)) & 3);
}

// The eight alphas of a BC3 alpha block, rounded down.
inline void Bc3AlphaPalette(const uint8_t* block, int palette[8]) {
    const int a0 = block[0], a1 = block[1];
    palette[0] = a0;
    palette[1] = a1;
    if (a0 > a1) {
        for (int i = 1; i < 7; ++i) palette[1 + i] = ((7 - i) * a0 + i * a1) / 7;
    } else {
        for (int i = 1; i < 5; ++i) palette[1 + i] = ((5 - i) * a0 + i * a1) / 5;
        palette[6] = 0;
        palette[7] = 255;
    }
}

inline int Bc3AlphaIndex(const uint8_t* block, int pixel) {
    uint64_t field = 0;
    for (int i = 0; i < 6; ++i) field |= static_cast<uint64_t>(block[2 + i]) << (8 * i);
    return static_cast<int>((field >> (3 * pixel)) & 7);
}

// Decodes a whole image (blocks in raster order) to 4-byte pixels; channel 3
// is 255 for BC1.
inline std::vector<uint8_t> DecodeImage(const uint8_t* data, int width, int height, bool bc3) {
    std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
    const int across = (width + 3) / 4, down = (height + 3) / 4;
    const int blockBytes = bc3 ? 16 : 8;
    for (int by = 0; by < down; ++by)
        for (int bx = 0; bx < across; ++bx) {
            const uint8_t* block = data + (static_cast<size_t>(by) * across + bx) * blockBytes;
            const uint8_t* color = bc3 ? block + 8 : block;
            Rgb palette[4];
            Bc1Palette(color, palette);
            int alphas[8] = {};
            if (bc3) Bc3AlphaPalette(block, alphas);
            for (int p = 0; p < 16; ++p) {
                const int x = bx * 4 + p % 4, y = by * 4 + p / 4;
                if (x >= width || y >= height) continue;
                uint8_t* px = &pixels[(static_cast<size_t>(y) * width + x) * 4];
                const Rgb& c = palette[Bc1Index(color, p)];
                for (int ch = 0; ch < 3; ++ch) px[ch] = static_cast<uint8_t>(c.c[ch]);
                px[3] = static_cast<uint8_t>(bc3 ? alphas[Bc3AlphaIndex(block, p)] : 255);
            }
        }
    return pixels;
}

}  // namespace bctest

#endif  // VELTRANE_TESTS_DXT_BC_DECODER_H
