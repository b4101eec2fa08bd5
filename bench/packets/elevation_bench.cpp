// Elevation lookups per second (JNA_GetElevationInBuf is called once per
// vertex by its hosts), beside a plain bilinear lookup on an aligned float
// array as the peer, and the DEM packet's inflation beside zlib's uncompress.
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <zlib.h>

#include "Veltrane.h"
#include "packets/ElevationSample.h"
#include "packets/TestPayloads.h"

namespace {

constexpr unsigned kSide = 64;
constexpr double kMin = 1000.0, kMax = 1256.0;

vt_test::Bytes MakeGrid() {
    vt_test::Bytes g{static_cast<unsigned char>(kSide)};
    for (unsigned r = 0; r < kSide; ++r)
        for (unsigned c = 0; c < kSide; ++c) vt_test::PutF32(g, 300.0f + 20.0f * std::sin(0.1f * r) * std::cos(0.13f * c));
    return g;
}

struct Positions {
    std::vector<double> x, y;
};

Positions MakePositions(std::size_t count) {
    std::mt19937 rng(42);
    std::uniform_real_distribution<double> d(kMin, kMax);
    Positions p;
    for (std::size_t k = 0; k < count; ++k) {
        p.x.push_back(d(rng));
        p.y.push_back(d(rng));
    }
    return p;
}

void BM_ElevationInBuf(benchmark::State& state) {
    vt_test::Bytes grid = MakeGrid();
    const Positions pos = MakePositions(4096);
    for (auto _ : state) {
        float sum = 0;
        for (std::size_t k = 0; k < pos.x.size(); ++k)
            sum += JNA_GetElevationInBuf(grid.data(), kMin, kMin, kMax, kMax, pos.x[k], pos.y[k]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pos.x.size()));
}
BENCHMARK(BM_ElevationInBuf);

// The portable form the exported entry point would use without SSE2.
void BM_ElevationPortable(benchmark::State& state) {
    vt_test::Bytes grid = MakeGrid();
    const Positions pos = MakePositions(4096);
    for (auto _ : state) {
        float sum = 0;
        for (std::size_t k = 0; k < pos.x.size(); ++k)
            sum += vt::SampleElevationPortable(grid.data(), kMin, kMin, kMax, kMax, pos.x[k], pos.y[k]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pos.x.size()));
}
BENCHMARK(BM_ElevationPortable);

// Peer: the textbook lookup a host would write over an aligned float array,
// clamped at the edges, without the packet layout.
__attribute__((noinline)) float PlainBilinear(const float* g, unsigned n, double minX, double minY, double maxX,
                                               double maxY, double x, double y) {
    if (x < minX || x > maxX || y < minY || y > maxY) return 0.0f;
    const double fx = (x - minX) * n / (maxX - minX), fy = (maxY - y) * n / (maxY - minY);
    const unsigned i = std::min(static_cast<unsigned>(fx), n - 1), j = std::min(static_cast<unsigned>(fy), n - 1);
    const unsigned i1 = std::min(i + 1, n - 1), j1 = std::min(j + 1, n - 1);
    const double wx = std::min(fx - i, 1.0), wy = std::min(fy - j, 1.0);
    const double a = g[j * n + i] * (1 - wy) + g[j1 * n + i] * wy;
    const double b = g[j * n + i1] * (1 - wy) + g[j1 * n + i1] * wy;
    return static_cast<float>(a * (1 - wx) + b * wx);
}

void BM_PeerPlainBilinear(benchmark::State& state) {
    vt_test::Bytes bytes = MakeGrid();
    std::vector<float> grid(kSide * kSide);
    std::memcpy(grid.data(), bytes.data() + 1, grid.size() * 4);
    const Positions pos = MakePositions(4096);
    for (auto _ : state) {
        float sum = 0;
        for (std::size_t k = 0; k < pos.x.size(); ++k)
            sum += PlainBilinear(grid.data(), kSide, kMin, kMin, kMax, kMax, pos.x[k], pos.y[k]);
        benchmark::DoNotOptimize(sum);
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pos.x.size()));
}
BENCHMARK(BM_PeerPlainBilinear);

// A 255 x 255 grid, the largest a packet holds.
vt_test::Bytes LargestPacket(vt_test::Bytes& gridOut) {
    gridOut = {255};
    for (unsigned k = 0; k < 255u * 255u; ++k) vt_test::PutF32(gridOut, 200.0f + static_cast<float>(k % 977) * 0.5f);
    const vt_test::Bytes stream = vt_test::Deflate(gridOut);
    vt_test::Bytes p{0, 1};
    vt_test::PutU32(p, static_cast<std::uint32_t>(gridOut.size()));
    vt_test::PutU32(p, static_cast<std::uint32_t>(stream.size()));
    vt_test::Append(p, stream);
    return p;
}

void BM_GetDEMBuffer(benchmark::State& state) {
    vt_test::Bytes grid;
    vt_test::Bytes packet = LargestPacket(grid);
    std::vector<unsigned char> out(grid.size());
    for (auto _ : state) {
        const bool ok = CVeltrane::GetDEMBuffer(packet.data(), static_cast<unsigned long>(packet.size()), out.data());
        benchmark::DoNotOptimize(ok);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * grid.size()));
}
BENCHMARK(BM_GetDEMBuffer);

void BM_PeerZlibUncompress(benchmark::State& state) {
    vt_test::Bytes grid;
    vt_test::Bytes packet = LargestPacket(grid);
    std::vector<unsigned char> out(grid.size());
    for (auto _ : state) {
        uLongf length = static_cast<uLongf>(out.size());
        const int rc = uncompress(out.data(), &length, packet.data() + 10, static_cast<uLong>(packet.size() - 10));
        benchmark::DoNotOptimize(rc);
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * grid.size()));
}
BENCHMARK(BM_PeerZlibUncompress);

}  // namespace

BENCHMARK_MAIN();
