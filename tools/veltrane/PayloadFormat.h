// Structural parsing of every payload kind, done by the tool before it hands
// a payload to the library. The library trusts lengths and sizes that a
// damaged file can get wrong (it decodes into buffers the caller sized from
// them); these checks make sure every size is consistent first, and give the
// user a reason when it is not.
#ifndef VELTRANE_TOOLS_VELTRANE_PAYLOAD_FORMAT_H
#define VELTRANE_TOOLS_VELTRANE_PAYLOAD_FORMAT_H

#include <cstdint>
#include <string>
#include <vector>

#include "Payloads.h"

namespace vt {
namespace cli {

using payloads::Bytes;

bool IsJ2kStream(const uint8_t* p, size_t length);
bool IsZlibStream(const uint8_t* p, size_t length);
// Image size of a JPEG 2000 code stream (through the codec library).
bool J2kImageSize(uint8_t* p, size_t length, int& width, int& height);
// Width and height from a compact JPEG header; false when either is 0.
bool CompactJpegSize(const uint8_t* p, size_t length, int& width, int& height);

// Image payload envelope, with or without the leading tag byte.
struct Envelope {
    bool leadingByte = false;
    int codec = 0;
    size_t primaryAt = 0, primaryLength = 0;
    size_t alphaAt = 0, alphaLength = 0;  // alphaLength 0: no alpha stream
    int width = 0, height = 0;
};
// Tries both placements of the envelope; `why` explains a failure.
bool ParseEnvelope(Bytes& payload, Envelope& envelope, std::string& why);

// Second-generation image payload.
struct NewImage {
    bool alpha = false;
    size_t colorLength = 0;
    uint32_t alphaRaw = 0, alphaPacked = 0;
    int width = 0, height = 0;
};
bool ParseNewImage(const Bytes& payload, NewImage& image, std::string& why);

// DEM/DOM packet: its elevation section and its orthophoto entries.
struct Packet {
    bool hasGrid = false;
    uint32_t gridBytes = 0, gridPacked = 0;
    bool hasOrthophotos = false;
    struct Ortho {
        int id;
        size_t at, length;
    };
    std::vector<Ortho> orthophotos;
};
bool ParsePacket(const Bytes& payload, Packet& packet, std::string& why);

// Terrain payload: the terrain image and the present sections.
struct Terrain {
    size_t imageLength = 0;
    uint8_t flags = 0;
    uint32_t sectionBytes[5] = {0, 0, 0, 0, 0};
};
bool ParseTerrain(const Bytes& payload, Terrain& terrain, std::string& why);
extern const char* const kTerrainSectionNames[5];

// DDS payload of the current layout (descriptor values, then a DDS file).
struct DdsInfo {
    bool leadingByte = false;
    int width = 0, height = 0, mipCount = 1;
    bool dxt5 = false;
    size_t dataAt = 0, dataLength = 0;
};
bool ParseDds(const Bytes& payload, DdsInfo& dds, std::string& why);

}  // namespace cli
}  // namespace vt

#endif  // VELTRANE_TOOLS_VELTRANE_PAYLOAD_FORMAT_H
