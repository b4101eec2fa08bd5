// Internal pieces of the two image payload layouts (the tagged envelope and
// the second-generation payload): the decode steps with the reason for a
// refusal, which the CVeltrane members reduce to true or false. Not part of
// the API.
#ifndef VELTRANE_IMAGE_PAYLOAD_H
#define VELTRANE_IMAGE_PAYLOAD_H

#include <cstddef>
#include <cstdint>
#include <new>

#include "format/PayloadFormat.h"
#include "jpeg/JpegDecoder.h"

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

// The most a zlib stream can give per byte it holds: deflate codes at best a
// 258-byte match in two bits (the 1032:1 bound zlib documents).
constexpr std::uint64_t kMaxInflateRatio = 1032;

// False when a zlib stream of `packedLength` bytes cannot inflate to
// `count` bytes whatever it holds: such an alpha plane is refused before any
// scratch image is allocated for it.
inline bool CanInflateTo(std::uint64_t packedLength, std::uint64_t count) {
    return packedLength >= count / kMaxInflateRatio + (count % kMaxInflateRatio != 0 ? 1 : 0);
}

// A scratch buffer of `bytes` bytes, or null when there is no memory for it:
// the decoders fail with kScratchUnavailable rather than throw.
inline unsigned char* NewScratch(std::size_t bytes) { return new (std::nothrow) unsigned char[bytes]; }

// Decodes a compact JPEG image (`jpeg` has read its header; `entropy` is
// its entropy-coded data) into width x height 4-byte pixels whose byte 3 is
// the alpha plane that the zlib stream `packed` (packedLength bytes)
// inflates to, or 255 when `packed` is null. The plane is inflated first and
// written together with the colors, so the pixels are stored once. Refused,
// with `pixels` untouched, unless the stream inflates completely to exactly
// width x height bytes (kAlphaNotInflating), or when there is no memory for
// the plane (kScratchUnavailable).
Refusal DecodeWithAlpha(jpeg::CJpegDecoder& jpeg, const unsigned char* entropy, const unsigned char* packed,
                        std::uint64_t packedLength, int width, int height, unsigned char* pixels);

// Decodes a compact JPEG image as DecodeWithAlpha does (`packed` null: no
// alpha) straight into DXT: `type` OutputDXT1 (one level), OutputDXT1Mipmaps
// or OutputDXT5Mipmaps. The image goes from the decoder to the encoder one
// row of MCUs at a time, so no full-size scratch image is stored.
Refusal DecodeToDxt(jpeg::CJpegDecoder& jpeg, const unsigned char* entropy, const unsigned char* packed,
                    std::uint64_t packedLength, int width, int height, int type, unsigned char* destination);

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
