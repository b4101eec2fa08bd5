// DEM/DOM packets: sizing and inflating the elevation section, and the
// bilinear elevation lookup of the JNA entry points.
#include "Veltrane.h"

#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "packets/TestPayloads.h"

namespace {

using vt_test::Bytes;
using vt_test::ExactCopy;

// Elevation section: tag 1, U, Z, stream.
Bytes ElevationSection(std::uint32_t inflatedSize, const Bytes& stream) {
    Bytes s{1};
    vt_test::PutU32(s, inflatedSize);
    vt_test::PutU32(s, static_cast<std::uint32_t>(stream.size()));
    vt_test::Append(s, stream);
    return s;
}

// Orthophoto section with one entry (id 9) whose code stream is opaque here.
Bytes OrthophotoSection() {
    Bytes s{2, 1, 9};
    vt_test::PutU32(s, 6);
    vt_test::Append(s, Bytes{0xFF, 0x4F, 0xFF, 0x51, 0, 0});
    return s;
}

Bytes Packet(const Bytes& sections) {
    Bytes p{0xC3};  // leading tag byte, never examined
    vt_test::Append(p, sections);
    return p;
}

// An inflated grid: n, then n x n floats.
Bytes Grid(unsigned n, float (*value)(unsigned r, unsigned c)) {
    Bytes g{static_cast<unsigned char>(n)};
    for (unsigned r = 0; r < n; ++r)
        for (unsigned c = 0; c < n; ++c) vt_test::PutF32(g, value(r, c));
    return g;
}

float Distinct(unsigned r, unsigned c) { return 100.0f + 10.0f * r + c + 0.25f; }

int SizeOf(Bytes& packet, std::size_t length) {
    ExactCopy p(packet, length);
    const int size = CVeltrane::GetDEMBufferSize(p.data(), p.length);
    EXPECT_EQ(JNA_GetDEMBufferSize(p.data(), static_cast<int>(p.length)), size);
    return size;
}

// Inflates with both the member and the JNA entry point; they must agree.
bool Inflate(Bytes& packet, std::size_t length, Bytes& destination) {
    ExactCopy p(packet, length);
    Bytes second(destination.size(), 0);
    const bool ok = CVeltrane::GetDEMBuffer(p.data(), p.length, destination.data());
    EXPECT_EQ(JNA_GetDEMBuffer(p.data(), static_cast<int>(p.length), second.data()), ok);
    if (ok) {
        EXPECT_EQ(second, destination);
    }
    return ok;
}

// ---- packet layout -----------------------------------------------------------

TEST(DemPacket, ElevationSectionOnly) {
    const Bytes grid = Grid(5, Distinct);
    Bytes packet = Packet(ElevationSection(101, vt_test::Deflate(grid)));
    EXPECT_EQ(SizeOf(packet, packet.size()), 101);
    Bytes out(101, 0);
    ASSERT_TRUE(Inflate(packet, packet.size(), out));
    EXPECT_EQ(out, grid);
}

TEST(DemPacket, ElevationAndOrthophotoSections) {
    const Bytes grid = Grid(3, Distinct);
    Bytes sections = ElevationSection(37, vt_test::Deflate(grid));
    vt_test::Append(sections, OrthophotoSection());
    Bytes packet = Packet(sections);
    EXPECT_EQ(SizeOf(packet, packet.size()), 37);
    Bytes out(37, 0);
    ASSERT_TRUE(Inflate(packet, packet.size(), out));
    EXPECT_EQ(out, grid);
}

TEST(DemPacket, OrthophotoSectionOnlyHasNoElevation) {
    Bytes packet = Packet(OrthophotoSection());
    EXPECT_EQ(SizeOf(packet, packet.size()), 0);
    Bytes out(16, 0x5A);
    EXPECT_FALSE(Inflate(packet, packet.size(), out));
    EXPECT_EQ(out, Bytes(16, 0x5A));
}

TEST(DemPacket, NeitherSection) {
    // Any tag other than 1 means no elevation section, whatever follows.
    for (unsigned char tag : {0, 3, 0x81, 0xFF}) {
        Bytes sections = ElevationSection(37, vt_test::Deflate(Grid(3, Distinct)));
        sections[0] = tag;
        Bytes packet = Packet(sections);
        EXPECT_EQ(SizeOf(packet, packet.size()), 0) << int(tag);
        Bytes out(37, 0);
        EXPECT_FALSE(Inflate(packet, packet.size(), out)) << int(tag);
    }
}

TEST(DemPacket, SectionEndingExactlyAtThePacketLength) {
    const Bytes grid = Grid(4, Distinct);
    Bytes packet = Packet(ElevationSection(65, vt_test::Deflate(grid)));
    Bytes out(65, 0);
    EXPECT_EQ(SizeOf(packet, packet.size()), 65);
    EXPECT_TRUE(Inflate(packet, packet.size(), out));
    // One byte less: the stream runs past the length and nothing past it is read.
    EXPECT_EQ(SizeOf(packet, packet.size() - 1), 0);
    EXPECT_FALSE(Inflate(packet, packet.size() - 1, out));
}

TEST(DemPacket, PacketsTooShortForTheSectionHeader) {
    Bytes packet = Packet(ElevationSection(65, vt_test::Deflate(Grid(4, Distinct))));
    Bytes out(65, 0);
    for (std::size_t length = 0; length < 10; ++length) {
        EXPECT_EQ(SizeOf(packet, length), 0) << length;
        EXPECT_FALSE(Inflate(packet, length, out)) << length;
    }
    EXPECT_EQ(CVeltrane::GetDEMBufferSize(nullptr, 100), 0);
    EXPECT_FALSE(CVeltrane::GetDEMBuffer(nullptr, 100, out.data()));
}

TEST(DemPacket, StreamLengthPastThePacketIsRefused) {
    Bytes packet = Packet(ElevationSection(65, vt_test::Deflate(Grid(4, Distinct))));
    packet[6] = 0xFF;  // Z's top byte: the stream would run 4 GB past the end
    packet[9] = 0xFF;
    Bytes out(65, 0);
    EXPECT_EQ(SizeOf(packet, packet.size()), 0);
    EXPECT_FALSE(Inflate(packet, packet.size(), out));
}

TEST(DemPacket, DamagedStreamStillReportsItsSize) {
    const Bytes grid = Grid(4, Distinct);
    Bytes stream = vt_test::Deflate(grid);
    stream[stream.size() / 2] ^= 0xFF;
    stream.back() ^= 0x01;
    Bytes packet = Packet(ElevationSection(65, stream));
    EXPECT_EQ(SizeOf(packet, packet.size()), 65);
    Bytes out(65, 0);
    EXPECT_FALSE(Inflate(packet, packet.size(), out));
}

TEST(DemPacket, StreamCutShortIsRefused) {
    Bytes stream = vt_test::Deflate(Grid(4, Distinct));
    stream.resize(stream.size() - 3);  // loses part of the Adler-32
    Bytes packet = Packet(ElevationSection(65, stream));
    EXPECT_EQ(SizeOf(packet, packet.size()), 65);
    Bytes out(65, 0);
    EXPECT_FALSE(Inflate(packet, packet.size(), out));
}

TEST(DemPacket, StreamGivingFewerOrMoreBytesThanUIsRefused) {
    const Bytes grid = Grid(4, Distinct);  // 65 bytes
    for (std::uint32_t declared : {66u, 64u}) {
        Bytes packet = Packet(ElevationSection(declared, vt_test::Deflate(grid)));
        EXPECT_EQ(SizeOf(packet, packet.size()), static_cast<int>(declared));
        Bytes out(declared, 0);
        ExactCopy destination(out);  // a larger stream must not write past U
        ExactCopy p(packet);
        EXPECT_FALSE(CVeltrane::GetDEMBuffer(p.data(), p.length, destination.data())) << declared;
    }
}

TEST(DemPacket, EmptyGridSection) {
    Bytes packet = Packet(ElevationSection(0, vt_test::Deflate(Bytes{})));
    EXPECT_EQ(SizeOf(packet, packet.size()), 0);
    ExactCopy p(packet);
    EXPECT_TRUE(CVeltrane::GetDEMBuffer(p.data(), p.length, nullptr));
}

// ---- elevation lookup ----------------------------------------------------------

constexpr float kOne = 1.0f;
// 1 + m ulp: four samples whose blends round differently in single precision.
float Ulps(int m) { return kOne + m * std::ldexp(1.0f, -23); }

class Elevation : public ::testing::Test {
protected:
    // n = 4 over bounds (0, 0) - (100, 100): spacing 25, samples at x = 0, 25,
    // 50, 75 and y = 100, 75, 50, 25.
    void SetUp() override { grid = Grid(4, Distinct); }
    float At(double x, double y) {
        ExactCopy g(grid);
        return JNA_GetElevationInBuf(g.data(), 0, 0, 100, 100, x, y);
    }
    Bytes grid;
};

TEST_F(Elevation, PositionOnASampleReturnsThatSample) {
    EXPECT_EQ(At(0, 100), Distinct(0, 0));
    EXPECT_EQ(At(25, 75), Distinct(1, 1));
    EXPECT_EQ(At(50, 25), Distinct(3, 2));
    EXPECT_EQ(At(75, 50), Distinct(2, 3));
}

TEST_F(Elevation, MidCellBlendRoundsEachStepToSinglePrecision) {
    // Samples (0,0), (1,0), (0,1), (1,1) = 1 + 1, 2, 3, 4 ulp. Down the west
    // column 1.5 ulp rounds (to even) to 2, down the east column 3.5 to 4, and
    // across to 3 ulp; blending all four at once would give 2.5, rounding to 2.
    grid = Grid(4, [](unsigned r, unsigned c) -> float {
        if (r == 0 && c == 0) return Ulps(1);
        if (r == 1 && c == 0) return Ulps(2);
        if (r == 0 && c == 1) return Ulps(3);
        if (r == 1 && c == 1) return Ulps(4);
        return 0.0f;
    });
    EXPECT_EQ(At(12.5, 87.5), Ulps(3));
}

TEST_F(Elevation, PlainBilinearInsideTheGrid) {
    // Independent check: the samples are a plane, which bilinear interpolation
    // reproduces; compare in double with a single-precision tolerance.
    grid = Grid(4, [](unsigned r, unsigned c) { return 3.0f * c - 2.0f * r + 50.0f; });
    for (double x = 0; x <= 75; x += 3.7)
        for (double y = 25; y <= 100; y += 4.1) {
            const double c = x / 25, r = (100 - y) / 25;
            EXPECT_NEAR(At(x, y), 3 * c - 2 * r + 50, 1e-4) << x << "," << y;
        }
}

TEST_F(Elevation, EdgesAreInsideAndOneMillionthOutsideIsNot) {
    // West edge, a quarter of the way from row 1 to row 2; north edge, a
    // quarter of the way from column 1 to column 2.
    EXPECT_EQ(At(0, 68.75), static_cast<float>(double(Distinct(1, 0)) * 0.75 + double(Distinct(2, 0)) * 0.25));
    EXPECT_EQ(At(31.25, 100), static_cast<float>(double(Distinct(0, 1)) * 0.75 + double(Distinct(0, 2)) * 0.25));
    EXPECT_EQ(At(-1e-6, 60), 0.0f);
    EXPECT_EQ(At(100 + 1e-6, 60), 0.0f);
    EXPECT_EQ(At(30, 100 + 1e-6), 0.0f);
    EXPECT_EQ(At(30, -1e-6), 0.0f);
    EXPECT_NE(At(1e-6, 100 - 1e-6), 0.0f);
}

TEST_F(Elevation, EastAndSouthEdgesUseTheLastColumnAndRow) {
    // The grid holds only n x n samples: the neighbour past the last column or
    // row is the last one itself.
    EXPECT_EQ(At(100, 100), Distinct(0, 3));
    EXPECT_EQ(At(0, 0), Distinct(3, 0));
    EXPECT_EQ(At(100, 0), Distinct(3, 3));
    EXPECT_EQ(At(90, 100), Distinct(0, 3));   // last cell column: no blend eastward
    EXPECT_EQ(At(75, 10), Distinct(3, 3));    // last cell row
    EXPECT_EQ(At(100, 62.5), static_cast<float>(double(Distinct(1, 3)) * 0.5 + double(Distinct(2, 3)) * 0.5));
}

TEST_F(Elevation, EmptyGridGivesZero) {
    grid = Bytes{0};
    EXPECT_EQ(At(50, 50), 0.0f);
    EXPECT_EQ(At(0, 100), 0.0f);
}

TEST_F(Elevation, NonFiniteOrDegenerateInputsGiveZero) {
    ExactCopy g(grid);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    unsigned char* p = g.data();
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, 100, 100, nan, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, 100, 100, 50, nan), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, nan, 0, 100, 100, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, nan, 100, 100, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, nan, 100, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, 100, nan, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, -inf, 0, 100, 100, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, inf, 100, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, -inf, 100, inf, 50, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 0, inf, 100, inf, 50), 0.0f);
    EXPECT_EQ(JNA_GetElevationInBuf(p, -1e308, 0, 1e308, 100, 0, 50), 0.0f);  // width overflows
    EXPECT_EQ(JNA_GetElevationInBuf(p, 50, 0, 50, 100, 50, 50), 0.0f);       // zero width
    EXPECT_EQ(JNA_GetElevationInBuf(p, 0, 50, 100, 50, 50, 50), 0.0f);       // zero height
    EXPECT_EQ(JNA_GetElevationInBuf(p, 100, 0, 0, 100, 50, 50), 0.0f);       // negative width
    EXPECT_EQ(JNA_GetElevationInBuf(nullptr, 0, 0, 100, 100, 50, 50), 0.0f);
}

TEST_F(Elevation, TinyBoundsNeverReadOutsideTheGrid) {
    // A spacing that underflows to 0 must still land inside the grid.
    ExactCopy g(grid);
    const double tiny = std::numeric_limits<double>::denorm_min();
    for (double x : {0.0, tiny}) {
        const float v = JNA_GetElevationInBuf(g.data(), 0, 0, tiny, tiny, x, x);
        EXPECT_TRUE(std::isfinite(v));
    }
}

TEST(ElevationGrid, UnalignedBuffersGiveTheSameValues) {
    const Bytes grid = Grid(7, Distinct);
    // The grid at several addresses, each time ending at the end of its allocation.
    for (std::size_t shift = 0; shift < 8; ++shift) {
        Bytes placed(shift, 0xEE);
        vt_test::Append(placed, grid);
        ExactCopy buffer(placed);
        unsigned char* g = buffer.data() + shift;
        for (unsigned r = 0; r < 7; ++r)
            for (unsigned c = 0; c < 7; ++c)
                ASSERT_EQ(JNA_GetElevationInBuf(g, 0, 0, 7, 7, c, 7.0 - r), Distinct(r, c))
                    << "shift " << shift << " sample " << r << "," << c;
        EXPECT_EQ(JNA_GetElevationInBuf(g, 0, 0, 7, 7, 7, 0), Distinct(6, 6));
    }
}

TEST(ElevationGrid, LargestGridCornersStayInsideTheAllocation) {
    const Bytes grid = Grid(255, Distinct);
    ASSERT_EQ(grid.size(), 1u + 4u * 255u * 255u);
    ExactCopy g(grid);
    EXPECT_EQ(JNA_GetElevationInBuf(g.data(), -10, -10, 10, 10, 10, -10), Distinct(254, 254));
    EXPECT_EQ(JNA_GetElevationInBuf(g.data(), -10, -10, 10, 10, -10, 10), Distinct(0, 0));
    EXPECT_EQ(JNA_GetElevationInBuf(g.data(), -10, -10, 10, 10, 10, 10), Distinct(0, 254));
    EXPECT_EQ(JNA_GetElevationInBuf(g.data(), -10, -10, 10, 10, -10, -10), Distinct(254, 0));
}

TEST(ElevationGrid, InflatedPacketFeedsTheLookup) {
    // The calling order a JNA host uses: size, allocate, fill, sample.
    const Bytes grid = Grid(4, Distinct);
    Bytes packetBytes = Packet(ElevationSection(65, vt_test::Deflate(grid)));
    ExactCopy packet(packetBytes);
    const int size = JNA_GetDEMBufferSize(packet.data(), static_cast<int>(packet.length));
    ASSERT_EQ(size, 65);
    ExactCopy buffer(Bytes(static_cast<std::size_t>(size), 0));
    ASSERT_TRUE(JNA_GetDEMBuffer(packet.data(), static_cast<int>(packet.length), buffer.data()));
    EXPECT_EQ(JNA_GetElevationInBuf(buffer.data(), 0, 0, 100, 100, 25, 75), Distinct(1, 1));
}

}  // namespace
