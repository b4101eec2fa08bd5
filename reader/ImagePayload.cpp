// Image tile payloads: the tagged envelope around a color stream and an
// optional zlib-packed alpha plane, decoded into DXT or plain pixel layouts.
//
// Envelope (little-endian, unaligned), t = 1 when the caller says a leading
// tag byte is present, L = payload length - t:
//   t        1  codec byte: 0 compact JPEG, 1 JPEG 2000
//   t + 1    4  primary length P (signed)
//   t + 5    P  primary stream
//   t + 5 + P   alpha stream (zlib, RFC 1950), present when L - 5 - P > 0
//
// A payload with an alpha stream always carries a compact JPEG color stream,
// whatever its codec byte; its alpha is only inflated for codec byte 0 (older
// writers stored other codec bytes there and expect opaque output). A payload
// without alpha must say 0 or 1: its size and its pixels both come from the
// codec it names, and any other byte would pair one codec's size with the
// other's pixels.
#include "Veltrane.h"

#include <cstring>
#include <memory>

#include "ImagePayload.h"
#include "dxt/DxtEncoder.h"
#include "format/ByteReader.h"
#include "format/InflateExact.h"
#include "jpeg/JpegDecoder.h"
#include "wavedec/Wavedec.h"

namespace vt {
namespace image {

bool MergeAlphaStream(const unsigned char* packed, std::uint64_t packedLength, unsigned char* pixels,
                      int width, int height) {
    // UsableSize keeps the count within 2^28, so it fits the 32-bit size.
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    std::unique_ptr<unsigned char[]> plane(new unsigned char[count]);
    if (!InflateExact(plane.get(), static_cast<std::uint32_t>(count), packed, packedLength)) return false;
    const unsigned char* a = plane.get();
    for (std::size_t i = 0; i < count; ++i) pixels[4 * i + 3] = a[i];
    return true;
}

}  // namespace image
}  // namespace vt

namespace {

using vt::image::UsableSize;

constexpr int kCompactHeaderBytes = 6;

struct Envelope {
    const unsigned char* primary;  // first byte of the color stream
    int primaryLength;             // P, known to be positive and to fit
    unsigned char codec;
    bool hasAlpha;
    const unsigned char* alpha;    // alpha stream, when hasAlpha
    std::uint64_t alphaLength;
};

// Reads the envelope of a payload of `length` bytes. False when the payload
// is too short for its five envelope bytes, or when P is not positive or the
// primary stream does not fit inside the payload.
bool ReadEnvelope(const unsigned char* payload, unsigned long length, bool hasLeadingByte, Envelope& e) {
    if (payload == nullptr) return false;
    const std::uint64_t t = hasLeadingByte ? 1 : 0;
    const std::uint64_t total = length;
    if (total < t + 5) return false;
    const std::uint64_t available = total - t - 5;  // L - 5
    const unsigned char* p = payload + t;
    const std::int32_t primaryLength = static_cast<std::int32_t>(vt::bytes::LoadU32LE(p + 1));
    if (primaryLength <= 0 || static_cast<std::uint64_t>(primaryLength) > available) return false;
    e.codec = p[0];
    e.primary = p + 5;
    e.primaryLength = primaryLength;
    e.alphaLength = available - static_cast<std::uint64_t>(primaryLength);
    e.hasAlpha = e.alphaLength > 0;
    e.alpha = e.primary + primaryLength;
    return true;
}

// True when the color stream is read by the compact JPEG decoder; false for
// JPEG 2000. Only meaningful for envelopes that AcceptedCodec admits.
bool UsesCompactJpeg(const Envelope& e) { return e.hasAlpha || e.codec == 0; }

bool AcceptedCodec(const Envelope& e) { return e.hasAlpha || e.codec == 0 || e.codec == 1; }

// Learns the image size from the codec that will decode the color stream.
// For compact JPEG the header is read into `jpeg`, which is then ready to
// decode. False when the size is unknown or unusable.
bool ReadDimensions(const Envelope& e, vt::jpeg::CJpegDecoder& jpeg, int& width, int& height, int& headerLength) {
    int w = 0, h = 0;
    if (UsesCompactJpeg(e)) {
        if (e.primaryLength < kCompactHeaderBytes) return false;
        int hl = 0;
        if (!jpeg.ReadHeader(e.primary, e.primaryLength, w, h, hl)) return false;
        if (hl < kCompactHeaderBytes || hl > e.primaryLength) return false;
        headerLength = hl;
    } else {
        int extra = 0;
        if (!j2k_decodeImgInfo(const_cast<unsigned char*>(e.primary), e.primaryLength, w, h, extra)) return false;
        headerLength = 0;
    }
    if (!UsableSize(w, h)) return false;
    width = w;
    height = h;
    return true;
}

// Which output types a payload produces: payloads with alpha give the DXT5
// chain and 4-byte pixels, the others everything else.
bool ProducesType(const Envelope& e, OutputType type) {
    switch (type) {
        case OutputDXT5Mipmaps:
        case OutputRGBA:
            return e.hasAlpha;
        case OutputDXT1:
        case OutputDXT1Mipmaps:
        case OutputRGB:
        case OutputRGB565:
            return !e.hasAlpha;
    }
    return false;  // values outside the enumeration
}

std::unique_ptr<unsigned char[]> AllocatePixels(int width, int height, int bytesPerPixel) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerPixel);
    return std::unique_ptr<unsigned char[]>(new unsigned char[bytes]);
}

// 24-bit blue-green-red to 16-bit 5:6:5 with blue in the top five bits,
// truncating each channel, stored low byte first.
void PackRgb565(const unsigned char* bgr, unsigned char* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned value = (static_cast<unsigned>(bgr[0] >> 3) << 11) |
                               (static_cast<unsigned>(bgr[1] >> 2) << 5) | static_cast<unsigned>(bgr[2] >> 3);
        out[0] = static_cast<unsigned char>(value & 0xFF);
        out[1] = static_cast<unsigned char>(value >> 8);
        bgr += 3;
        out += 2;
    }
}

// Writes one DXT1 level or the DXT1 chain of a 4-byte scratch image. The
// chain averages only the three color bytes: DXT1 ignores the fourth.
void EncodeDxt1Output(unsigned char* scratch, int width, int height, OutputType type, unsigned char* destination) {
    if (type == OutputDXT1) {
        int written = 0;
        vt::dxt::EncodeDxt1Image(scratch, destination, width, height, &written);
    } else {
        vt::dxt::EncodeDxtMipChain(scratch, width, height, vt::dxt::kDxt1, false, destination);
    }
}

bool DecodeAlphaPath(const Envelope& e, vt::jpeg::CJpegDecoder& jpeg, int headerLength, int width, int height,
                     unsigned char* destination, OutputType type) {
    std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 4);
    if (!jpeg.DecodeImage32(e.primary + headerLength, scratch.get())) return false;
    if (e.codec == 0 &&
        !vt::image::MergeAlphaStream(e.alpha, e.alphaLength, scratch.get(), width, height)) {
        return false;
    }
    if (type == OutputDXT5Mipmaps) {
        vt::dxt::EncodeDxtMipChain(scratch.get(), width, height, vt::dxt::kDxt5, true, destination);
    } else {
        std::memcpy(destination, scratch.get(),
                    static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    }
    return true;
}

bool DecodeCompactJpegPath(const Envelope& e, vt::jpeg::CJpegDecoder& jpeg, int headerLength, int width, int height,
                           unsigned char* destination, OutputType type) {
    const unsigned char* entropy = e.primary + headerLength;
    if (type == OutputRGB) return jpeg.DecodeImage24(entropy, destination);
    if (type == OutputRGB565) {
        std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 3);
        if (!jpeg.DecodeImage24(entropy, scratch.get())) return false;
        PackRgb565(scratch.get(), destination, static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        return true;
    }
    std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 4);
    if (!jpeg.DecodeImage32(entropy, scratch.get())) return false;
    EncodeDxt1Output(scratch.get(), width, height, type, destination);
    return true;
}

bool DecodeJpeg2000Path(const Envelope& e, int width, int height, unsigned char* destination, OutputType type) {
    unsigned char* stream = const_cast<unsigned char*>(e.primary);
    if (type == OutputRGB) return j2k_decode2Buffer(stream, e.primaryLength, destination, 1);
    if (type == OutputRGB565) return j2k_decode2Buffer(stream, e.primaryLength, destination, 0);
    std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 4);
    if (!j2k_decode2Buffer(stream, e.primaryLength, scratch.get(), 2)) return false;
    EncodeDxt1Output(scratch.get(), width, height, type, destination);
    return true;
}

}  // namespace

bool CVeltrane::GetCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                                    unsigned long& width, unsigned long& height, bool hasLeadingByte) {
    Envelope e;
    if (!ReadEnvelope(payload, length, hasLeadingByte, e) || !AcceptedCodec(e)) return false;
    vt::jpeg::CJpegDecoder jpeg;
    int w = 0, h = 0, headerLength = 0;
    if (!ReadDimensions(e, jpeg, w, h, headerLength)) return false;
    channels = e.hasAlpha ? 4 : 3;
    width = static_cast<unsigned long>(w);
    height = static_cast<unsigned long>(h);
    return true;
}

bool CVeltrane::DecodeImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                            OutputType type, bool hasLeadingByte) {
    if (payload == nullptr || destination == nullptr || length == 0) return false;
    Envelope e;
    if (!ReadEnvelope(payload, length, hasLeadingByte, e) || !AcceptedCodec(e)) return false;
    // An output the payload cannot give is refused before anything is decoded,
    // so the destination stays untouched.
    if (!ProducesType(e, type)) return false;
    vt::jpeg::CJpegDecoder jpeg;
    int width = 0, height = 0, headerLength = 0;
    if (!ReadDimensions(e, jpeg, width, height, headerLength)) return false;
    if (e.hasAlpha) return DecodeAlphaPath(e, jpeg, headerLength, width, height, destination, type);
    if (e.codec == 0) return DecodeCompactJpegPath(e, jpeg, headerLength, width, height, destination, type);
    return DecodeJpeg2000Path(e, width, height, destination, type);
}
