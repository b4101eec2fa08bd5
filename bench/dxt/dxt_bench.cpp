// DXT1 / DXT5 encoding throughput in the portable and the SIMD form, beside
// stb_dxt (NORMAL mode) fed the same 4 x 4 blocks, on a 256 x 256 tile, a
// 2048 x 2048 image and a whole 256 x 256 mip chain. Counters: megapixels
// per second of source (mip chains: of the top level).
//
// Every benchmark checks its output before timing (our forms against each
// other, stb against a plausible byte count), so a broken build cannot post a
// figure.
#include <benchmark/benchmark.h>
#include <stb_dxt.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "dxt/DxtEncoder.h"
#include "dxt/DxtInternal.h"
#include "support/CpuForms.h"
#include "support/Photos.h"

namespace {

using namespace vt::dxt;

struct Image {
    int width = 0, height = 0;
    std::vector<uint8_t> pixels;
};

// A photograph as 4-byte pixels with an alpha plane taken from the picture
// (channel 1 three pixels to the right), tiled (mirrored, so that no seams
// appear) up to the wanted size.
Image LoadTiled(const char* name, int width, int height) {
    const vt::test::Photo& photo = vt::test::LoadPhoto(name, 4);
    const int w = photo.width, h = photo.height;
    const uint8_t* data = photo.pixels.data();
    Image image;
    image.width = width;
    image.height = height;
    image.pixels.resize(static_cast<size_t>(width) * height * 4);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            int sx = x % (2 * w), sy = y % (2 * h);
            if (sx >= w) sx = 2 * w - 1 - sx;
            if (sy >= h) sy = 2 * h - 1 - sy;
            const uint8_t* src = data + (static_cast<size_t>(sy) * w + sx) * 4;
            const uint8_t* right = data + (static_cast<size_t>(sy) * w + (sx + 3 < w ? sx + 3 : sx)) * 4;
            uint8_t* dst = &image.pixels[(static_cast<size_t>(y) * width + x) * 4];
            dst[0] = src[0], dst[1] = src[1], dst[2] = src[2], dst[3] = right[1];
        }
    return image;
}

const Image& Tile() {
    static const Image image = LoadTiled("plasma.png", 256, 256);
    return image;
}
const Image& Large() {
    static const Image image = LoadTiled("board.jpg", 2048, 2048);
    return image;
}

// 0: the portable form (the MMX availability flag cleared), 1: the SIMD
// form this processor runs.
class ScopedForm {
public:
    explicit ScopedForm(int simd) : mask_(simd ? ~0u : 0u) {}

private:
    vt::test::ScopedCpuFeatures mask_;
};

void SetRate(benchmark::State& state, double pixelsPerIteration) {
    state.counters["MP/s"] = benchmark::Counter(pixelsPerIteration * 1e-6 * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
}

int EncodeOurs(const Image& image, bool dxt5, uint8_t* out) {
    int n = 0;
    if (dxt5)
        EncodeDxt5Image(image.pixels.data(), out, image.width, image.height, &n);
    else
        EncodeDxt1Image(image.pixels.data(), out, image.width, image.height, &n);
    return n;
}

// stb_dxt with the same gathering: four 16-byte row copies into a 64-byte
// block buffer (these images are whole blocks).
int EncodeStb(const uint8_t* pixels, int width, int height, bool dxt5, uint8_t* out) {
    uint8_t block[64];
    uint8_t* cursor = out;
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int y = 0; y < height; y += 4)
        for (int x = 0; x < width; x += 4) {
            const uint8_t* topLeft = pixels + static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4;
            for (int r = 0; r < 4; ++r) std::memcpy(block + 16 * r, topLeft + r * stride, 16);
            stb_compress_dxt_block(cursor, block, dxt5 ? 1 : 0, STB_DXT_NORMAL);
            cursor += dxt5 ? 16 : 8;
        }
    return static_cast<int>(cursor - out);
}

// Arguments: 0 = 256 x 256 tile, 1 = 2048 x 2048 image; 0 = DXT1, 1 = DXT5.
const Image& Pick(int which) { return which ? Large() : Tile(); }

void BM_Encode(benchmark::State& state, int simd) {
    const Image& image = Pick(static_cast<int>(state.range(0)));
    const bool dxt5 = state.range(1) != 0;
    if (image.pixels.empty()) return state.SkipWithError("sample image missing");
    const size_t bytes = static_cast<size_t>(image.width) * image.height / (dxt5 ? 1 : 2);
    std::vector<uint8_t> out(bytes), other(bytes);
    {
        ScopedForm check(1 - simd);
        EncodeOurs(image, dxt5, other.data());
    }
    ScopedForm form(simd);
    if (EncodeOurs(image, dxt5, out.data()) != static_cast<int>(bytes) || out != other)
        return state.SkipWithError("forms disagree");
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeOurs(image, dxt5, out.data()));
        benchmark::ClobberMemory();
    }
    SetRate(state, static_cast<double>(image.width) * image.height);
}

void BM_EncodePortable(benchmark::State& state) { BM_Encode(state, 0); }
void BM_EncodeSimd(benchmark::State& state) { BM_Encode(state, 1); }

#if VT_HAVE_SSE2
// One variant of the SIMD form on its own (what a processor with that
// instruction set and no wider one runs when the flag is 1).
using ImageEncoder = void (*)(const uint8_t*, uint8_t*, int, int, bool, int*);
void EncodeVariant(benchmark::State& state, ImageEncoder encode, std::uint32_t features) {
    if (!vt::cpu::HasCpuFeature(features)) return state.SkipWithError("variant not on this processor");
    const Image& image = Pick(static_cast<int>(state.range(0)));
    const bool dxt5 = state.range(1) != 0;
    if (image.pixels.empty()) return state.SkipWithError("sample image missing");
    const size_t bytes = static_cast<size_t>(image.width) * image.height / (dxt5 ? 1 : 2);
    std::vector<uint8_t> out(bytes), portable(bytes);
    int n = 0;
    EncodeImagePortable(image.pixels.data(), portable.data(), image.width, image.height, dxt5, &n);
    encode(image.pixels.data(), out.data(), image.width, image.height, dxt5, &n);
    if (out != portable) return state.SkipWithError("forms disagree");
    for (auto _ : state) {
        encode(image.pixels.data(), out.data(), image.width, image.height, dxt5, &n);
        benchmark::DoNotOptimize(n);
        benchmark::ClobberMemory();
    }
    SetRate(state, static_cast<double>(image.width) * image.height);
}
void BM_EncodeSse2(benchmark::State& state) { EncodeVariant(state, EncodeImageSse2, vt::cpu::kCpuSse2); }
void BM_EncodeAvx2(benchmark::State& state) { EncodeVariant(state, EncodeImageAvx2, vt::cpu::kCpuAvx2); }
void BM_EncodeAvx512(benchmark::State& state) { EncodeVariant(state, EncodeImageAvx512, vt::cpu::kCpuAvx512); }
#endif

void BM_EncodeStb(benchmark::State& state) {
    const Image& image = Pick(static_cast<int>(state.range(0)));
    const bool dxt5 = state.range(1) != 0;
    if (image.pixels.empty()) return state.SkipWithError("sample image missing");
    std::vector<uint8_t> out(static_cast<size_t>(image.width) * image.height / (dxt5 ? 1 : 2));
    if (EncodeStb(image.pixels.data(), image.width, image.height, dxt5, out.data()) != static_cast<int>(out.size()))
        return state.SkipWithError("stb wrote an unexpected size");
    for (auto _ : state) {
        benchmark::DoNotOptimize(EncodeStb(image.pixels.data(), image.width, image.height, dxt5, out.data()));
        benchmark::ClobberMemory();
    }
    SetRate(state, static_cast<double>(image.width) * image.height);
}

// Mip chains of the 256 x 256 tile: each iteration copies the tile into the
// scratch (the chain averages in place), then builds all nine levels. DXT1
// averages all four bytes (the fixed chain of orthophoto and terrain images),
// DXT5 likewise.
void BM_MipChain(benchmark::State& state, int simd) {
    const Image& image = Tile();
    const bool dxt5 = state.range(0) != 0;
    if (image.pixels.empty()) return state.SkipWithError("sample image missing");
    const DxtFormat format = dxt5 ? kDxt5 : kDxt1;
    std::vector<uint8_t> scratch(image.pixels.size()), out(DxtMipChainBytes(256, 256, format)), other(out.size());
    auto build = [&](std::vector<uint8_t>& destination) {
        std::memcpy(scratch.data(), image.pixels.data(), scratch.size());
        return EncodeDxtMipChain(scratch.data(), 256, 256, format, true, destination.data());
    };
    {
        ScopedForm check(1 - simd);
        build(other);
    }
    ScopedForm form(simd);
    if (build(out) != static_cast<int>(out.size()) || out != other) return state.SkipWithError("forms disagree");
    for (auto _ : state) {
        benchmark::DoNotOptimize(build(out));
        benchmark::ClobberMemory();
    }
    SetRate(state, 256.0 * 256.0);
}

void BM_MipChainPortable(benchmark::State& state) { BM_MipChain(state, 0); }
void BM_MipChainSimd(benchmark::State& state) { BM_MipChain(state, 1); }

// The peer's chain: the same in-place truncating 2 x 2 average written
// plainly, stb_dxt for every level (levels below 4 x 4 padded by repetition).
void BM_MipChainStb(benchmark::State& state) {
    const Image& image = Tile();
    const bool dxt5 = state.range(0) != 0;
    if (image.pixels.empty()) return state.SkipWithError("sample image missing");
    std::vector<uint8_t> scratch(image.pixels.size()), out(DxtMipChainBytes(256, 256, dxt5 ? kDxt5 : kDxt1));
    auto build = [&]() {
        std::memcpy(scratch.data(), image.pixels.data(), scratch.size());
        uint8_t* cursor = out.data();
        for (int s = 256;; s >>= 1) {
            if (s >= 4) {
                cursor += EncodeStb(scratch.data(), s, s, dxt5, cursor);
            } else {
                uint8_t block[64];
                for (int p = 0; p < 16; ++p) std::memcpy(block + 4 * p, &scratch[((p / 4 % s) * s + p % 4 % s) * 4], 4);
                stb_compress_dxt_block(cursor, block, dxt5 ? 1 : 0, STB_DXT_NORMAL);
                cursor += dxt5 ? 16 : 8;
            }
            if (s == 1) break;
            const int half = s >> 1;
            for (int y = 0; y < half; ++y)
                for (int x = 0; x < half; ++x)
                    for (int c = 0; c < 4; ++c) {
                        const uint8_t* top = &scratch[(static_cast<size_t>(2 * y) * s + 2 * x) * 4 + c];
                        const uint8_t* bottom = top + static_cast<size_t>(s) * 4;
                        scratch[(static_cast<size_t>(y) * half + x) * 4 + c] =
                            static_cast<uint8_t>((top[0] + top[4] + bottom[0] + bottom[4]) >> 2);
                    }
        }
        return static_cast<int>(cursor - out.data());
    };
    if (build() != static_cast<int>(out.size())) return state.SkipWithError("stb chain has an unexpected size");
    for (auto _ : state) {
        benchmark::DoNotOptimize(build());
        benchmark::ClobberMemory();
    }
    SetRate(state, 256.0 * 256.0);
}

// Args: {image (0 tile, 1 large), format (0 DXT1, 1 DXT5)}.
#define VT_IMAGE_ARGS ArgsProduct({{0, 1}, {0, 1}})->ArgNames({"large", "dxt5"})
BENCHMARK(BM_EncodeStb)->VT_IMAGE_ARGS;
BENCHMARK(BM_EncodePortable)->VT_IMAGE_ARGS;
BENCHMARK(BM_EncodeSimd)->VT_IMAGE_ARGS;
#if VT_HAVE_SSE2
BENCHMARK(BM_EncodeSse2)->VT_IMAGE_ARGS;
BENCHMARK(BM_EncodeAvx2)->VT_IMAGE_ARGS;
BENCHMARK(BM_EncodeAvx512)->VT_IMAGE_ARGS;
#endif
BENCHMARK(BM_MipChainStb)->Arg(0)->Arg(1)->ArgName("dxt5");
BENCHMARK(BM_MipChainPortable)->Arg(0)->Arg(1)->ArgName("dxt5");
BENCHMARK(BM_MipChainSimd)->Arg(0)->Arg(1)->ArgName("dxt5");

}  // namespace

BENCHMARK_MAIN();
