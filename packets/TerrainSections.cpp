// Terrain mesh buffers (terrain edition): the zlib-packed sections behind a
// terrain payload's terrain image, by presence bit: 0x01 index, 0x02 tiny
// index, 0x04 shape index, 0x08 road index, 0x10 elevation
// (format/PayloadFormat.h gives the layout). The sections' contents are
// handed out unread.
#include "Veltrane.h"

#include "format/InflateExact.h"
#include "format/PayloadFormat.h"

namespace {

using vt::format::kElevationSectionBit;
using vt::format::kIndexSectionBit;
using vt::format::kRoadIndexSectionBit;
using vt::format::kShapeIndexSectionBit;
using vt::format::kTinyIndexSectionBit;
using vt::format::Refusal;
using vt::format::TerrainSection;

int SectionSize(const unsigned char* payload, unsigned long length, unsigned int bit) {
    TerrainSection section;
    if (vt::format::FindTerrainSection(payload, length, bit, section) != Refusal::kNone) return 0;
    return static_cast<int>(section.inflatedSize);
}

bool InflateSection(const unsigned char* payload, unsigned long length, unsigned int bit,
                    unsigned char* destination) {
    TerrainSection section;
    if (vt::format::FindTerrainSection(payload, length, bit, section) != Refusal::kNone) return false;
    return vt::InflateExact(destination, section.inflatedSize, payload + section.streamOffset,
                            section.streamLength);
}

}  // namespace

int CVeltrane::GetIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kIndexSectionBit);
}

bool CVeltrane::GetIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kIndexSectionBit, destination);
}

int CVeltrane::GetTinyIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kTinyIndexSectionBit);
}

bool CVeltrane::GetTinyIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kTinyIndexSectionBit, destination);
}

int CVeltrane::GetShapeIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kShapeIndexSectionBit);
}

bool CVeltrane::GetShapeIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kShapeIndexSectionBit, destination);
}

int CVeltrane::GetRoadIndexBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kRoadIndexSectionBit);
}

bool CVeltrane::GetRoadIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kRoadIndexSectionBit, destination);
}

int CVeltrane::GetDEMTBufferSize(unsigned char* payload, unsigned long length) {
    return SectionSize(payload, length, kElevationSectionBit);
}

// In this edition GetDEMBuffer is an ordinary member and reads the terrain
// payload's elevation section (the current edition's static one reads a
// DEM/DOM packet instead).
bool CVeltrane::GetDEMBuffer(unsigned char* payload, unsigned long length, unsigned char* destination) {
    return InflateSection(payload, length, kElevationSectionBit, destination);
}
