// Decoding of the fixed-size JPEG 2000 images that orthophoto packets and
// terrain payloads carry: always 256 x 256 pixels, written as plain pixels or
// as the nine-level DXT1 mip chain (43,704 bytes). Internal to the library.
#ifndef VELTRANE_FIXED_TILE_IMAGE_H
#define VELTRANE_FIXED_TILE_IMAGE_H

#include <cstdint>

#include "Veltrane.h"

namespace vt {
namespace packets {

constexpr int kFixedTileSide = 256;
// 32,768 + 8,192 + 2,048 + 512 + 128 + 32 + 8 + 8 + 8.
constexpr int kFixedTileChainBytes = 43704;

enum class FixedTileOutput {
    kRgb565,    // codec mode 0, 2 bytes a pixel
    kRgb,       // codec mode 1, 3 bytes a pixel
    kRgba,      // codec mode 2, 4 bytes a pixel
    kDxt1Chain  // DXT1 levels 256 x 256 down to 1 x 1
};

// The layout a decode method's output type asks for: 5:6:5 and 3-byte pixels,
// 4-byte pixels where the payload offers them (orthophotos do, terrain
// images do not), and the DXT1 chain for every other type, values outside
// the enumeration included.
FixedTileOutput FixedTileOutputFor(OutputType type, bool offersRgba);

// Decodes the JPEG 2000 code stream of `length` bytes. The stream must hold a
// 256 x 256 image (the destinations are sized for nothing else): any other
// size, a stream the codec cannot read, or a failed decode gives false. On
// the chain path a failed decode, or no memory for its scratch image, leaves
// the destination untouched.
bool DecodeFixedTile(const unsigned char* stream, std::uint64_t length, unsigned char* destination,
                     FixedTileOutput output);

}  // namespace packets
}  // namespace vt

#endif  // VELTRANE_FIXED_TILE_IMAGE_H
