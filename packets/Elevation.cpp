// DEM/DOM packets: the elevation section, and the undecorated entry points
// that Java callers bind through JNA.
//
// Packet: byte 0 is the leading tag byte (never examined); byte 1 tags the
// first section, 1 for elevation, 2 for orthophotos. The elevation section is
// U (inflated size, 4 bytes LE) at offset 2, Z (stream length, 4 bytes LE) at
// offset 6 and Z bytes of zlib stream at offset 10.
//
// Inflated grid: byte 0 holds n, the samples per side, then n x n little-endian
// floats row by row from north to south, west to east, starting at offset 1
// (so never 4-byte aligned). Sample (r, c) stands at x = minX + c * (maxX - minX)
// / n and y = maxY - r * (maxY - minY) / n.
#include "Veltrane.h"

#if !defined(VELTRANE_EDITION_TERRAIN)

#include <cfloat>
#include <cstdint>

#include "packets/ByteReader.h"
#include "packets/InflateExact.h"

namespace {

constexpr unsigned int kElevationTag = 1;
constexpr std::uint64_t kSizeOffset = 2;
constexpr std::uint64_t kStreamLengthOffset = 6;
constexpr std::uint64_t kStreamOffset = 10;

struct ElevationSection {
    std::uint32_t inflatedSize;
    std::uint32_t streamLength;
};

// Finds the elevation section. Refuses a packet that does not start with one,
// and one whose section (header and stream) runs past the packet's length:
// nothing outside the packet is ever read.
bool FindElevationSection(const unsigned char* packet, unsigned long length, ElevationSection& section) {
    const vt::bytes::ByteSpan span{packet, length};
    unsigned int tag = 0;
    if (!span.ReadU8(1, tag) || tag != kElevationTag) return false;
    if (!span.ReadU32(kSizeOffset, section.inflatedSize)) return false;
    if (!span.ReadU32(kStreamLengthOffset, section.streamLength)) return false;
    return span.Has(kStreamOffset, section.streamLength);
}

}  // namespace

int CVeltrane::GetDEMBufferSize(unsigned char* packet, unsigned long length) {
    ElevationSection section;
    if (!FindElevationSection(packet, length, section)) return 0;
    return static_cast<int>(section.inflatedSize);
}

bool CVeltrane::GetDEMBuffer(unsigned char* packet, unsigned long length, unsigned char* destination) {
    ElevationSection section;
    if (!FindElevationSection(packet, length, section)) return false;
    return vt::InflateExact(destination, section.inflatedSize, packet + kStreamOffset, section.streamLength);
}

extern "C" {

// The JNA entry points take the length as a Java int; it is read as the
// unsigned 32-bit value it holds.
VELTRANE_API int JNA_GetDEMBufferSize(unsigned char* packet, int length) {
    return CVeltrane::GetDEMBufferSize(packet, static_cast<unsigned long>(static_cast<std::uint32_t>(length)));
}

VELTRANE_API bool JNA_GetDEMBuffer(unsigned char* packet, int length, unsigned char* destination) {
    return CVeltrane::GetDEMBuffer(packet, static_cast<unsigned long>(static_cast<std::uint32_t>(length)),
                                   destination);
}

// Bilinear elevation at (x, y) inside the bounds [minX, maxX] x [minY, maxY]
// (edges included); 0 outside them, for an empty grid, and for bounds that are
// not finite or have no area. Called once per vertex, so it is kept to straight
// arithmetic: no allocation, four sample loads, every index clamped into the
// grid so that the east and south edges blend the last row/column with itself.
VELTRANE_API float JNA_GetElevationInBuf(unsigned char* grid, double minX, double minY, double maxX, double maxY,
                                         double x, double y) {
    const double width = maxX - minX;
    const double height = maxY - minY;
    // Every comparison is false for NaN, and an infinite bound makes the width
    // or height infinite or NaN, so this one test also rejects those.
    const bool inside = (x >= minX) & (x <= maxX) & (y >= minY) & (y <= maxY) & (width > 0.0) &
                        (width <= DBL_MAX) & (height > 0.0) & (height <= DBL_MAX);
    if (!inside || grid == nullptr) return 0.0f;
    const unsigned int n = grid[0];
    if (n == 0) return 0.0f;

    const double samples = static_cast<double>(n);
    const double spacingX = width / samples;
    const double spacingY = height / samples;
    double fx = (x - minX) / spacingX;
    double fy = (maxY - y) / spacingY;
    fx = fx < 0.0 ? -fx : fx;
    fy = fy < 0.0 ? -fy : fy;
    // Inside the bounds fx and fy lie in [0, n]; a spacing that underflows to
    // 0 can give infinity or NaN instead. Both land on n here (a NaN fails the
    // comparison), which keeps the conversion to an integer defined.
    fx = fx < samples ? fx : samples;
    fy = fy < samples ? fy : samples;

    const unsigned int last = n - 1;
    const unsigned int column = static_cast<unsigned int>(fx);
    const unsigned int row = static_cast<unsigned int>(fy);
    const unsigned int i = column < last ? column : last;
    const unsigned int j = row < last ? row : last;
    const unsigned int i1 = column + 1 < last ? column + 1 : last;
    const unsigned int j1 = row + 1 < last ? row + 1 : last;
    double wx = fx - i;
    double wy = fy - j;
    wx = wx > 1.0 ? 1.0 : wx;
    wy = wy > 1.0 ? 1.0 : wy;

    const unsigned char* samplesStart = grid + 1;
    const double v00 = vt::bytes::LoadF32LE(samplesStart + 4u * (j * n + i));
    const double v01 = vt::bytes::LoadF32LE(samplesStart + 4u * (j * n + i1));
    const double v10 = vt::bytes::LoadF32LE(samplesStart + 4u * (j1 * n + i));
    const double v11 = vt::bytes::LoadF32LE(samplesStart + 4u * (j1 * n + i1));

    // Down each column first, each blend rounded to single precision, then across.
    const float west = static_cast<float>(v00 * (1.0 - wy) + v10 * wy);
    const float east = static_cast<float>(v01 * (1.0 - wy) + v11 * wy);
    return static_cast<float>(static_cast<double>(west) * (1.0 - wx) + static_cast<double>(east) * wx);
}

}  // extern "C"

#endif  // !VELTRANE_EDITION_TERRAIN
