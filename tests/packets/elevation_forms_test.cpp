// The portable and the SSE2 form of the elevation lookup give the same bits
// for every input: positions on samples, cell edges, the bounds' edges, just
// outside them, random positions and bounds of very different magnitudes,
// degenerate and non-finite bounds, and every grid side from 1 to 255.
#include "Veltrane.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "packets/ElevationSample.h"
#include "packets/TestPayloads.h"

namespace {

using vt_test::Bytes;
using vt_test::ExactCopy;

std::uint32_t Bits(float f) {
    std::uint32_t b;
    std::memcpy(&b, &f, 4);
    return b;
}

Bytes RandomGrid(unsigned n, std::mt19937& rng) {
    std::uniform_real_distribution<float> value(-500.0f, 9000.0f);
    Bytes g{static_cast<unsigned char>(n)};
    for (unsigned k = 0; k < n * n; ++k) vt_test::PutF32(g, value(rng));
    return g;
}

#if VT_HAVE_SSE2

void ExpectSameBits(const unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
                    double y) {
    const float portable = vt::SampleElevationPortable(grid, minX, minY, maxX, maxY, x, y);
    const float sse2 = vt::SampleElevationSse2(grid, minX, minY, maxX, maxY, x, y);
    ASSERT_EQ(Bits(portable), Bits(sse2)) << "bounds " << minX << " " << minY << " " << maxX << " " << maxY
                                          << " at " << x << ", " << y << ": " << portable << " vs " << sse2;
}

TEST(ElevationForms, SamplePositionsEdgesAndCellBorders) {
    std::mt19937 rng(7);
    for (unsigned n = 1; n <= 255; n += (n < 16 ? 1 : 17)) {
        ExactCopy grid(RandomGrid(n, rng));
        const double minX = -3.1, minY = 1e5, maxX = 17.9, maxY = 1e5 + 777.25;
        const double sx = (maxX - minX) / n, sy = (maxY - minY) / n;
        for (unsigned k = 0; k <= n; ++k) {
            for (double nudge : {0.0, 1e-9, -1e-9, 0.5}) {
                const double x = minX + (k + nudge) * sx, y = maxY - (k + nudge) * sy;
                ExpectSameBits(grid.data(), minX, minY, maxX, maxY, x, maxY - (n - k) * sy);
                ExpectSameBits(grid.data(), minX, minY, maxX, maxY, minX + (n - k) * sx, y);
                ExpectSameBits(grid.data(), minX, minY, maxX, maxY, x, y);
            }
        }
        for (double x : {minX, maxX, std::nextafter(minX, -1e9), std::nextafter(maxX, 1e9)})
            for (double y : {minY, maxY, std::nextafter(minY, -1e9), std::nextafter(maxY, 1e9)})
                ExpectSameBits(grid.data(), minX, minY, maxX, maxY, x, y);
    }
}

TEST(ElevationForms, RandomPositionsAndBounds) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::uniform_int_distribution<unsigned> side(1, 255);
    std::uniform_int_distribution<int> scale(-30, 30);
    for (int round = 0; round < 200; ++round) {
        const unsigned n = side(rng);
        ExactCopy grid(RandomGrid(n, rng));
        const double s = std::ldexp(1.0, scale(rng));
        const double minX = (unit(rng) - 0.5) * s, minY = (unit(rng) - 0.5) * s;
        const double maxX = minX + unit(rng) * s, maxY = minY + unit(rng) * s;
        for (int k = 0; k < 200; ++k) {
            const double x = minX + (unit(rng) * 1.02 - 0.01) * (maxX - minX);
            const double y = minY + (unit(rng) * 1.02 - 0.01) * (maxY - minY);
            ExpectSameBits(grid.data(), minX, minY, maxX, maxY, x, y);
        }
    }
}

TEST(ElevationForms, DegenerateAndNonFiniteInputs) {
    std::mt19937 rng(5);
    ExactCopy grid(RandomGrid(9, rng));
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    const double tiny = std::numeric_limits<double>::denorm_min();
    const double big = std::numeric_limits<double>::max();
    const std::vector<double> values = {0.0, -0.0, 1.0, -1.0, 100.0, tiny, -tiny, big, -big, inf, -inf, nan};
    for (double minX : values)
        for (double maxX : values)
            for (double x : values) {
                ExpectSameBits(grid.data(), minX, 0, maxX, 100, x, 50);
                ExpectSameBits(grid.data(), 0, minX, 100, maxX, 50, x);
            }
    ExactCopy empty(Bytes{0});
    ExpectSameBits(empty.data(), 0, 0, 1, 1, 0.5, 0.5);
    ExpectSameBits(nullptr, 0, 0, 1, 1, 0.5, 0.5);
}

#else

TEST(ElevationForms, PortableOnlyOnThisTarget) { GTEST_SKIP() << "no SSE2 form on this target"; }

#endif

}  // namespace
