// Terrain payloads: the terrain version and the terrain image.
//
// Layout (little-endian, unaligned): 5 bytes terrain version, 1 byte section
// presence flags, L (u32) the terrain image's length, L bytes of JPEG 2000
// code stream (a 256 x 256 image), then the zlib-packed terrain sections.
// The image decodes to 5:6:5 or 3-byte pixels, or to the DXT1 mip chain for
// every other output type; there is no 4-byte output for terrain images.
#include "Veltrane.h"

#include <cstdint>
#include <cstring>

#include "format/ByteReader.h"
#include "FixedTileImage.h"

namespace {

constexpr std::uint64_t kImageOffset = 10;
constexpr std::size_t kVersionBytes = 5;

}  // namespace

void CVeltrane::GetTerrianVersion(unsigned char* payload, unsigned char* version) {
    if (payload == nullptr || version == nullptr) return;
    std::memcpy(version, payload, kVersionBytes);
}

bool CVeltrane::DecodeImageTerrian(unsigned char* payload, unsigned long length, unsigned char* destination,
                                   OutputType type) {
    if (payload == nullptr || destination == nullptr || length == 0) return false;
    const std::uint64_t total = length;
    if (total < kImageOffset) return false;
    const std::uint64_t imageLength = vt::bytes::LoadU32LE(payload + 6);
    if (kImageOffset + imageLength > total) return false;
    return vt::packets::DecodeFixedTile(payload + kImageOffset, imageLength, destination,
                                        vt::packets::FixedTileOutputFor(type, false));
}
