// Terrain payloads (terrain edition): the terrain version and the terrain
// image, a 256 x 256 JPEG 2000 image (format/PayloadFormat.h gives the
// layout). The image decodes to 5:6:5 or 3-byte pixels, or to the DXT1 mip
// chain for every other output type; there is no 4-byte output for terrain
// images.
#include "Veltrane.h"

#include <cstring>

#include "FixedTileImage.h"
#include "format/PayloadFormat.h"

namespace {

constexpr std::size_t kVersionBytes = 5;

}  // namespace

void CVeltrane::GetTerrianVersion(unsigned char* payload, unsigned char* version) {
    if (payload == nullptr || version == nullptr) return;
    std::memcpy(version, payload, kVersionBytes);
}

bool CVeltrane::DecodeImageTerrian(unsigned char* payload, unsigned long length, unsigned char* destination,
                                   OutputType type) {
    if (destination == nullptr) return false;
    vt::format::TerrainImage image;
    if (vt::format::FindTerrainImage(payload, length, image) != vt::format::Refusal::kNone) return false;
    return vt::packets::DecodeFixedTile(payload + image.streamOffset, image.streamLength, destination,
                                        vt::packets::FixedTileOutputFor(type, false));
}
