// Internal helpers shared by the two image payload layouts (the tagged
// envelope and the second-generation payload). Not part of the API.
#ifndef VELTRANE_IMAGE_PAYLOAD_H
#define VELTRANE_IMAGE_PAYLOAD_H

#include <cstddef>
#include <cstdint>

namespace vt {
namespace image {

// Largest scratch image a decode allocates: 2^28 pixels of 4 bytes (1 GiB),
// e.g. 16384 x 16384. Anything larger is not a tile; refusing it also keeps
// every byte count of the image and of its mip chains inside an int.
constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

// True when a width x height image can be decoded: both sides positive and
// the pixel count within kMaxPixels.
inline bool UsableSize(long long width, long long height) {
    return width > 0 && height > 0 && width <= static_cast<long long>(kMaxPixels) &&
           height <= static_cast<long long>(kMaxPixels) &&
           static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height) <= kMaxPixels;
}

// Inflates the zlib stream `packed` (packedLength bytes) into a plane of
// width x height bytes and stores it as byte 3 of each 4-byte pixel of
// `pixels`. True only when the stream inflated completely to exactly
// width x height bytes; on false `pixels` is unchanged.
bool MergeAlphaStream(const unsigned char* packed, std::uint64_t packedLength, unsigned char* pixels,
                      int width, int height);

}  // namespace image
}  // namespace vt

#endif  // VELTRANE_IMAGE_PAYLOAD_H
