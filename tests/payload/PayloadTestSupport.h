// Helpers for the image payload tests: payload builders, sample photographs,
// zlib streams, exact-size copies (so that ASan sees any over-read), a
// reference JPEG 2000 decode straight through OpenJPEG and reference mip
// chains built level by level.
#ifndef VELTRANE_TESTS_PAYLOAD_SUPPORT_H
#define VELTRANE_TESTS_PAYLOAD_SUPPORT_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "support/Bytes.h"

namespace vt_payload_test {

using vt::test::Append;
using vt::test::Bytes;
using vt::test::Deflate;
using vt::test::PutU32;
using Exact = vt::test::ExactCopy;

// Tile payload envelope: [tag] codec, P (LE), primary stream, alpha stream.
Bytes Envelope(unsigned char codec, const Bytes& primary, const Bytes& alpha = Bytes(), bool leadingByte = false,
               unsigned char tag = 0xA5);

// Second-generation payload: byte 0, alphaFlag, N, color stream, then (when
// `withAlphaBlock`) alphaRawLength, A and the alpha stream.
Bytes NewPayload(unsigned char alphaFlag, const Bytes& color, bool withAlphaBlock, std::uint32_t alphaRawLength,
                 const Bytes& alphaStream);

// A crop of one of the sample photographs as 3-byte R,G,B pixels, rows top
// to bottom. Aborts the test program when the file cannot be read.
Bytes LoadRgbCrop(const std::string& file, int x, int y, int width, int height);

// R,G,B pixels to the library's blue-green-red(-alpha) layouts and back.
Bytes RgbToBgra(const Bytes& rgb, unsigned char alpha = 255);

// A deterministic alpha plane with smooth and hard-edged parts.
Bytes AlphaPlane(int width, int height);

// A compact JPEG stream made by hand, without an encoder: every block holds
// only a DC coefficient, all luminance blocks `lumaDc` (0 .. 127) and both
// chroma blocks 0. At quality 50 (multiplier 64) the image decodes to the grey
// clamp(2 x lumaDc + 128): 0 gives (128, 128, 128), 64 gives white.
Bytes FlatCompactJpeg(int width, int height, int quality = 50, int lumaDc = 0);

// Decodes a JPEG 2000 code stream with OpenJPEG directly, as 4-byte
// blue-green-red-alpha pixels (alpha 255 without a fourth component). Only
// 8-bit, unsigned, full-resolution components are handled (what the tests
// encode).
bool OpenJpegReference(const Bytes& stream, int& width, int& height, Bytes& bgra);

// A square power-of-two image's mip chain built independently: each level the
// truncated 2 x 2 average of the one before (byte 3 averaged only when
// `averageAlpha`), each encoded on its own with EncodeDxt1Image or
// EncodeDxt5Image and appended. `rounding` adds 2 before the shift instead
// (used to show that a test can tell the two apart).
Bytes ReferenceChain(Bytes bgra, int side, bool dxt5, bool averageAlpha, bool rounding = false);

// Byte offsets of each level of a chain of a square power-of-two image.
std::vector<std::size_t> ChainOffsets(int side, bool dxt5);

}  // namespace vt_payload_test

#endif  // VELTRANE_TESTS_PAYLOAD_SUPPORT_H
