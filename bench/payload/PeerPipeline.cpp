// The peer pipeline of the payload benchmarks (PeerPipeline.h).
#include "PeerPipeline.h"

#include <cstdlib>
#include <cstring>

#include <zlib.h>

#define STB_DXT_STATIC
#define STB_DXT_IMPLEMENTATION
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include "stb_dxt.h"
#pragma GCC diagnostic pop

namespace vt_bench {

void PeerJpeg(tjhandle tj, const std::vector<unsigned char>& jpeg, int width, int height, unsigned char* pixels,
              int pixelBytes) {
    if (tjDecompress2(tj, jpeg.data(), static_cast<unsigned long>(jpeg.size()), pixels, width, width * pixelBytes,
                      height, pixelBytes == 4 ? TJPF_BGRA : TJPF_BGR, 0) != 0) {
        std::abort();
    }
}

void PeerInflateAlpha(const std::vector<unsigned char>& alpha, unsigned char* plane, unsigned char* pixels,
                      std::size_t count) {
    uLongf n = static_cast<uLongf>(count);
    if (uncompress(plane, &n, alpha.data(), static_cast<uLong>(alpha.size())) != Z_OK || n != count) std::abort();
    for (std::size_t i = 0; i < count; ++i) pixels[4 * i + 3] = plane[i];
}

std::size_t PeerStbLevel(const unsigned char* pixels, int width, int height, unsigned char* out, bool dxt5) {
    unsigned char* const start = out;
    for (int by = 0; by < height; by += 4) {
        for (int bx = 0; bx < width; bx += 4) {
            unsigned char block[64];
            for (int y = 0; y < 4; ++y) {
                const int sy = by + y < height ? by + y : height - 1;
                const unsigned char* row = pixels + static_cast<std::size_t>(sy) * width * 4;
                if (bx + 4 <= width) {
                    std::memcpy(block + y * 16, row + static_cast<std::size_t>(bx) * 4, 16);
                    continue;
                }
                for (int x = 0; x < 4; ++x) {
                    const int sx = bx + x < width ? bx + x : width - 1;
                    std::memcpy(block + (y * 4 + x) * 4, row + static_cast<std::size_t>(sx) * 4, 4);
                }
            }
            stb_compress_dxt_block(out, block, dxt5 ? 1 : 0, STB_DXT_NORMAL);
            out += dxt5 ? 16 : 8;
        }
    }
    return static_cast<std::size_t>(out - start);
}

void PeerStbChain(unsigned char* pixels, unsigned char* half, int side, unsigned char* out, bool dxt5) {
    while (true) {
        out += PeerStbLevel(pixels, side, side, out, dxt5);
        if (side == 1) break;
        const int next = side / 2;
        for (int y = 0; y < next; ++y) {
            for (int x = 0; x < next; ++x) {
                for (int c = 0; c < 4; ++c) {
                    const unsigned char* p = pixels + (static_cast<std::size_t>(2 * y) * side + 2 * x) * 4 + c;
                    half[(static_cast<std::size_t>(y) * next + x) * 4 + c] =
                        static_cast<unsigned char>((p[0] + p[4] + p[side * 4] + p[side * 4 + 4]) >> 2);
                }
            }
        }
        std::memcpy(pixels, half, static_cast<std::size_t>(next) * next * 4);
        side = next;
    }
}

}  // namespace vt_bench
