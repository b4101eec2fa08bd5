// Internal pieces of the two image payload layouts (the tagged envelope and
// the second-generation payload): the decode steps with the reason for a
// refusal, which the CVeltrane members reduce to true or false. Not part of
// the API.
#ifndef VELTRANE_IMAGE_PAYLOAD_H
#define VELTRANE_IMAGE_PAYLOAD_H

#include <cstddef>
#include <cstdint>

#include "format/PayloadFormat.h"

namespace vt {
namespace image {

using format::Refusal;

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

// CVeltrane::GetCompressDataInfo and DecodeImage (ImagePayload.cpp).
Refusal ReadImageInfo(const unsigned char* payload, unsigned long length, bool hasLeadingByte,
                      unsigned long& channels, unsigned long& width, unsigned long& height);
Refusal DecodeImagePayload(const unsigned char* payload, unsigned long length, unsigned char* destination,
                           int type, bool hasLeadingByte);

// CVeltrane::GetNewCompressDataInfo and DecodeNewImage (NewImagePayload.cpp,
// current edition).
Refusal ReadNewImageInfo(const unsigned char* payload, unsigned long length, unsigned long& channels,
                         unsigned long& width, unsigned long& height);
Refusal DecodeNewImagePayload(const unsigned char* payload, unsigned long length, unsigned char* destination,
                              int type);

}  // namespace image
}  // namespace vt

#endif  // VELTRANE_IMAGE_PAYLOAD_H
