// Builders for every kind of tile payload the reader decodes, and the DDS
// file container. Used by `veltrane sample`, `veltrane build` and the tests.
//
// All multi-byte integers are little-endian. The layouts:
//   image payload      [tag] codec(1) P(4) primary(P) [zlib alpha plane]
//   second generation  0 alphaFlag(1) N(4) compact-jpeg(N) [raw(4) A(4) zlib(A)]
//   DEM/DOM packet     tag 1 U(4) Z(4) zlib grid(Z)   and/or   2 count(1) {id(1) S(4) j2k(S)}...
//   elevation grid     n(1) then n x n float32 samples, rows north to south
//   terrain payload    version(5) flags(1) L(4) j2k(L) then per set flag bit U(4) Z(4) zlib(Z)
//   DDS payload        [tag] value1(4) value2(4) value3(4) then a DDS file (or, old
//                      layout, only the texture data)
#ifndef VELTRANE_TOOLS_PAYLOADS_PAYLOADS_H
#define VELTRANE_TOOLS_PAYLOADS_PAYLOADS_H

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "Image.h"

namespace vt {
namespace payloads {

using Bytes = std::vector<uint8_t>;

void PutU16(Bytes& out, uint32_t v);
void PutU32(Bytes& out, uint32_t v);
uint32_t GetU32(const uint8_t* p);
uint16_t GetU16(const uint8_t* p);

// A zlib stream (RFC 1950) of `size` bytes at best compression.
Bytes Deflate(const uint8_t* data, size_t size);

enum class Codec : uint8_t { CompactJpeg = 0, Jpeg2000 = 1 };

// Image payload envelope. `alphaPlane` (width x height bytes, may be null)
// is packed with zlib behind the primary stream.
Bytes ImagePayload(Codec codec, const Bytes& primary, const Bytes* alphaPlane, bool leadingByte);
// Second-generation image payload.
Bytes NewImagePayload(const Bytes& compactJpeg, const Bytes* alphaPlane);

// Elevation grid of n x n samples (n <= 255), rows north to south.
Bytes ElevationGrid(int n, const std::vector<float>& samples);
// DEM/DOM packet: the elevation section when `grid` is not null, then the
// orthophoto section when `orthophotos` is not empty.
Bytes DemDomPacket(const Bytes* grid, const std::vector<std::pair<uint8_t, Bytes>>& orthophotos);

// Terrain payload. sections[k] (may be null) is the inflated content of the
// section of flag bit 1 << k: index, tiny index, shape index, road index,
// elevation.
Bytes TerrainPayload(const std::array<uint8_t, 5>& version, const Bytes& j2k,
                     const std::array<const Bytes*, 5>& sections);

// DDS container: the 4-byte magic and the 124-byte header for a DXT1 or DXT5
// texture of `mipCount` levels, followed by `data`.
Bytes DdsFile(int width, int height, bool dxt5, int mipCount, const uint8_t* data, size_t size);
// Bytes of a DXT mip chain of width x height down to 1 x 1 (or `levels` levels).
size_t DxtChainBytes(int width, int height, bool dxt5, int levels = -1);
int MipLevelCount(int width, int height);
// DDS payload: three descriptor values, then the DDS file (current layout) or
// only the texture data behind the file's 128-byte start (old layout).
Bytes DdsPayload(uint32_t v1, uint32_t v2, uint32_t v3, const Bytes& ddsFile, bool leadingByte, bool oldLayout);

// The reader's DXT blocks carry the first pixel byte (blue) in the top bits of
// their 5:6:5 endpoints; standard DDS readers take those bits as red. This
// swaps the two fields in every color block of a chain (and restores the
// endpoint order that selects the DXT1 block mode) so that common texture
// tools show the right colors.
void SwapRedBlueInDxt(uint8_t* blocks, size_t size, bool dxt5);

// Codecs for the payloads. Color only: alpha travels separately.
Bytes EncodeCompactJpeg(const Image& tile, int quality);
Bytes EncodeJpeg2000(const Image& tile, bool lossless, float psnr = 40.0f);

}  // namespace payloads
}  // namespace vt

#endif  // VELTRANE_TOOLS_PAYLOADS_PAYLOADS_H
