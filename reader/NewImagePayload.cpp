// Second-generation image payloads: a compact JPEG color stream whose alpha
// block, when a flag says there is one, records its own lengths. Decoded to
// DXT1 or DXT5 mip chains only.
//
// Layout (little-endian, unaligned):
//   0        1  not read
//   1        1  alphaFlag: 1 = an alpha block follows the color stream
//   2        4  N, color stream length (unsigned)
//   6        N  compact JPEG stream (6-byte header, entropy-coded data)
//   6 + N    4  alphaRawLength, must equal width x height
//   10 + N   4  A, zlib stream length
//   14 + N   A  zlib stream (RFC 1950) of the alpha plane
// Every offset is checked against the payload length in 64 bits before it is
// read, and the whole payload is validated before the destination is written.
#include "Veltrane.h"

#include <cstdint>
#include <memory>

#include "ImagePayload.h"
#include "dxt/DxtEncoder.h"
#include "format/ByteReader.h"
#include "jpeg/JpegDecoder.h"

namespace {

constexpr std::uint64_t kColorOffset = 6;
constexpr std::uint64_t kAlphaBlockHeader = 8;
constexpr int kCompactHeaderBytes = 6;

struct NewPayload {
    bool hasAlpha;
    const unsigned char* color;
    std::uint64_t colorLength;  // N
    int width;
    int height;
    int headerLength;
};

// Reads the flag, the color stream's length and the compact JPEG header
// (into `jpeg`, ready to decode). False for a payload too short for its
// fields, a color stream that runs past `length`, or a header without a
// usable size.
bool ReadNewEnvelope(const unsigned char* payload, unsigned long length, vt::jpeg::CJpegDecoder& jpeg, NewPayload& out) {
    if (payload == nullptr || length < kColorOffset) return false;
    const std::uint64_t total = length;
    const std::uint64_t n = vt::bytes::LoadU32LE(payload + 2);
    if (kColorOffset + n > total) return false;
    if (n < static_cast<std::uint64_t>(kCompactHeaderBytes) || n > 0x7FFFFFFFu) return false;
    int w = 0, h = 0, hl = 0;
    if (!jpeg.ReadHeader(payload + kColorOffset, static_cast<int>(n), w, h, hl)) return false;
    if (hl < kCompactHeaderBytes || static_cast<std::uint64_t>(hl) > n) return false;
    if (!vt::image::UsableSize(w, h)) return false;
    out.hasAlpha = payload[1] == 1;
    out.color = payload + kColorOffset;
    out.colorLength = n;
    out.width = w;
    out.height = h;
    out.headerLength = hl;
    return true;
}

}  // namespace

bool CVeltrane::GetNewCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                                       unsigned long& width, unsigned long& height) {
    vt::jpeg::CJpegDecoder jpeg;
    NewPayload p;
    if (!ReadNewEnvelope(payload, length, jpeg, p)) return false;
    channels = p.hasAlpha ? 4 : 3;
    width = static_cast<unsigned long>(p.width);
    height = static_cast<unsigned long>(p.height);
    return true;
}

bool CVeltrane::DecodeNewImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                               OutputType type) {
    if (payload == nullptr || destination == nullptr || length == 0) return false;
    if (type != OutputDXT1Mipmaps && type != OutputDXT5Mipmaps) return false;
    vt::jpeg::CJpegDecoder jpeg;
    NewPayload p;
    if (!ReadNewEnvelope(payload, length, jpeg, p)) return false;

    const std::uint64_t pixelCount = static_cast<std::uint64_t>(p.width) * static_cast<std::uint64_t>(p.height);
    const unsigned char* alphaStream = nullptr;
    std::uint64_t alphaLength = 0;
    if (p.hasAlpha) {
        // The block's two length fields must lie inside the payload before
        // they are read, and the stream they describe as well.
        const std::uint64_t block = kColorOffset + p.colorLength;
        if (block + kAlphaBlockHeader > length) return false;
        if (vt::bytes::LoadU32LE(payload + block) != pixelCount) return false;
        alphaLength = vt::bytes::LoadU32LE(payload + block + 4);
        if (block + kAlphaBlockHeader + alphaLength > length) return false;
        alphaStream = payload + block + kAlphaBlockHeader;
    }

    std::unique_ptr<unsigned char[]> scratch(new unsigned char[static_cast<std::size_t>(pixelCount) * 4]);
    if (!jpeg.DecodeImage32(p.color + p.headerLength, scratch.get())) return false;
    if (p.hasAlpha && !vt::image::MergeAlphaStream(alphaStream, alphaLength, scratch.get(), p.width, p.height)) {
        return false;
    }
    if (type == OutputDXT1Mipmaps) {
        vt::dxt::EncodeDxtMipChain(scratch.get(), p.width, p.height, vt::dxt::kDxt1, false, destination);
    } else {
        vt::dxt::EncodeDxtMipChain(scratch.get(), p.width, p.height, vt::dxt::kDxt5, true, destination);
    }
    return true;
}
