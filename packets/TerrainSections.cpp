// Terrain mesh buffers: the zlib-packed sections behind a terrain payload's
// terrain image.
//
// Terrain payload: 5 bytes of terrain version, the presence flags F at offset
// 5, the terrain image length L at offset 6 and the image at offset 10. Then
// come the sections whose bits are set in F, back to back in bit order:
// 0x01 index, 0x02 tiny index, 0x04 shape index, 0x08 road index,
// 0x10 elevation. Each section is U (inflated size, 4 bytes LE), Z (stream
// length, 4 bytes LE) and Z bytes of zlib stream. Bits 0x20, 0x40 and 0x80
// mean nothing. The sections' contents are handed out unread.
#include "Veltrane.h"

#include <cstdint>

#include "format/ByteReader.h"
#include "format/InflateExact.h"

namespace {

constexpr std::uint64_t kFlagsOffset = 5;
constexpr std::uint64_t kImageLengthOffset = 6;
constexpr std::uint64_t kImageOffset = 10;
constexpr std::uint64_t kSectionHeaderBytes = 8;

constexpr unsigned int kIndexSection = 0x01;
constexpr unsigned int kTinyIndexSection = 0x02;
constexpr unsigned int kShapeIndexSection = 0x04;
constexpr unsigned int kRoadIndexSection = 0x08;
constexpr unsigned int kElevationSection = 0x10;

struct TerrainSection {
    std::uint32_t inflatedSize;
    std::uint32_t streamLength;
    std::uint64_t streamOffset;
};

// Locates the section of flag bit `bit`: absent when its bit is clear, and
// unusable when it, or anything in front of it, runs past the payload's
// length. Sizes are summed in 64 bits (at most six 32-bit lengths), so no
// offset wraps.
bool FindSection(const unsigned char* payload, unsigned long length, unsigned int bit, TerrainSection& section) {
    const vt::bytes::ByteSpan span{payload, length};
    unsigned int flags = 0;
    std::uint32_t imageLength = 0;
    if (!span.ReadU8(kFlagsOffset, flags) || (flags & bit) == 0) return false;
    if (!span.ReadU32(kImageLengthOffset, imageLength)) return false;
    std::uint64_t offset = kImageOffset + imageLength;
    for (unsigned int earlier = kIndexSection; earlier < bit; earlier <<= 1) {
        if ((flags & earlier) == 0) continue;
        std::uint32_t streamLength = 0;
        if (!span.ReadU32(offset + 4, streamLength)) return false;
        offset += kSectionHeaderBytes + streamLength;
    }
    if (!span.ReadU32(offset, section.inflatedSize)) return false;
    if (!span.ReadU32(offset + 4, section.streamLength)) return false;
    section.streamOffset = offset + kSectionHeaderBytes;
    return span.Has(section.streamOffset, section.streamLength);
}

int SectionSize(const unsigned char* payload, unsigned long length, unsigned int bit) {
    TerrainSection section;
    if (!FindSection(payload, length, bit, section)) return 0;
    return static_cast<int>(section.inflatedSize);
}

bool InflateSection(const unsigned char* payload, unsigned long length, unsigned int bit,
                    unsigned char* destination) {
    TerrainSection section;
    if (!FindSection(payload, length, bit, section)) return false;
    return vt::InflateExact(destination, section.inflatedSize, payload + section.streamOffset,
                            section.streamLength);
}

}  // namespace

int CVeltrane::GetIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kIndexSection);
}

bool CVeltrane::GetIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kIndexSection, destination);
}

int CVeltrane::GetTinyIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kTinyIndexSection);
}

bool CVeltrane::GetTinyIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kTinyIndexSection, destination);
}

int CVeltrane::GetShapeIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kShapeIndexSection);
}

bool CVeltrane::GetShapeIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kShapeIndexSection, destination);
}

int CVeltrane::GetRoadIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kRoadIndexSection);
}

bool CVeltrane::GetRoadIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kRoadIndexSection, destination);
}

int CVeltrane::GetDEMTBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kElevationSection);
}

// In this edition GetDEMBuffer is an ordinary member and reads the terrain
// payload's elevation section (the current edition's static one reads a
// DEM/DOM packet instead).
bool CVeltrane::GetDEMBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kElevationSection, destination);
}
