// Image tile payloads: the tagged envelope around a color stream and an
// optional zlib-packed alpha plane (format/PayloadFormat.h gives its layout),
// decoded into DXT or plain pixel layouts.
#include "Veltrane.h"

#include <cstring>
#include <memory>

#include "ImagePayload.h"
#include "dxt/DxtEncoder.h"
#include "format/InflateExact.h"
#include "jpeg/JpegDecoder.h"
#include "wavedec/Wavedec.h"

namespace vt {
namespace image {

namespace {

// The alpha plane that `packed` inflates to, when there is one.
Refusal InflateAlphaPlane(const unsigned char* packed, std::uint64_t packedLength, int width, int height,
                          std::unique_ptr<unsigned char[]>& plane) {
    if (packed == nullptr) return Refusal::kNone;
    // UsableSize keeps the count within 2^28, so it fits the 32-bit size.
    const std::size_t count = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    if (!CanInflateTo(packedLength, count)) return Refusal::kAlphaNotInflating;
    plane.reset(NewScratch(count));
    if (!plane) return Refusal::kScratchUnavailable;
    if (!InflateExact(plane.get(), static_cast<std::uint32_t>(count), packed, packedLength))
        return Refusal::kAlphaNotInflating;
    return Refusal::kNone;
}

void EncodeStrip(void* encoder, unsigned char* strip, int rows) {
    static_cast<dxt::DxtStripEncoder*>(encoder)->AddStrip(strip, rows);
}

}  // namespace

Refusal DecodeWithAlpha(jpeg::CJpegDecoder& jpeg, const unsigned char* entropy, const unsigned char* packed,
                        std::uint64_t packedLength, int width, int height, unsigned char* pixels) {
    std::unique_ptr<unsigned char[]> plane;
    const Refusal r = InflateAlphaPlane(packed, packedLength, width, height, plane);
    if (r != Refusal::kNone) return r;
    return jpeg.DecodeImage32(entropy, pixels, plane.get()) ? Refusal::kNone : Refusal::kColorStreamUndecodable;
}

Refusal DecodeToDxt(jpeg::CJpegDecoder& jpeg, const unsigned char* entropy, const unsigned char* packed,
                    std::uint64_t packedLength, int width, int height, int type, unsigned char* destination) {
    std::unique_ptr<unsigned char[]> plane;
    const Refusal r = InflateAlphaPlane(packed, packedLength, width, height, plane);
    if (r != Refusal::kNone) return r;
    const dxt::DxtFormat format = type == OutputDXT5Mipmaps ? dxt::kDxt5 : dxt::kDxt1;
    const bool chain = type != OutputDXT1;
    // One row of MCUs: 16 pixel rows, or the whole of a shorter image.
    const std::size_t stripRows = height < 16 ? static_cast<std::size_t>(height) : 16;
    std::unique_ptr<unsigned char[]> strip(NewScratch(static_cast<std::size_t>(width) * stripRows * 4));
    std::unique_ptr<unsigned char[]> next;
    const int nextBytes = chain ? dxt::DxtNextLevelBytes(width, height) : 0;
    if (nextBytes > 0) next.reset(NewScratch(static_cast<std::size_t>(nextBytes)));
    if (!strip || (nextBytes > 0 && !next)) return Refusal::kScratchUnavailable;
    dxt::DxtStripEncoder encoder(width, height, format, destination, next.get());
    if (!jpeg.DecodeStrips32(entropy, strip.get(), plane.get(), EncodeStrip, &encoder))
        return Refusal::kColorStreamUndecodable;
    encoder.Finish();
    return Refusal::kNone;
}

namespace {

using format::ImageEnvelope;
using jpeg::CJpegDecoder;

constexpr int kCompactHeaderBytes = 6;

// The envelope with its streams located in the payload.
struct Streams {
    ImageEnvelope envelope;
    const unsigned char* primary;
    const unsigned char* alpha;
};

Refusal ReadStreams(const unsigned char* payload, unsigned long length, bool hasLeadingByte, Streams& s) {
    const Refusal r = format::ReadImageEnvelope(payload, length, hasLeadingByte, s.envelope);
    if (r != Refusal::kNone) return r;
    s.primary = payload + s.envelope.primaryOffset;
    s.alpha = payload + s.envelope.alphaOffset;
    return Refusal::kNone;
}

// Learns the image size from the codec that will decode the color stream.
// For compact JPEG the header is read into `jpeg`, which is then ready to
// decode.
Refusal ReadDimensions(const Streams& s, CJpegDecoder& jpeg, int& width, int& height, int& headerLength) {
    const int primaryLength = s.envelope.primaryLength;
    int w = 0, h = 0;
    if (s.envelope.UsesCompactJpeg()) {
        if (primaryLength < kCompactHeaderBytes) return Refusal::kNoImageSize;
        int hl = 0;
        if (!jpeg.ReadHeader(s.primary, primaryLength, w, h, hl)) return Refusal::kNoImageSize;
        if (hl < kCompactHeaderBytes || hl > primaryLength) return Refusal::kNoImageSize;
        headerLength = hl;
    } else {
        int extra = 0;
        if (!j2k_decodeImgInfo(const_cast<unsigned char*>(s.primary), primaryLength, w, h, extra))
            return Refusal::kNoImageSize;
        headerLength = 0;
    }
    if (!UsableSize(w, h)) return Refusal::kNoImageSize;
    width = w;
    height = h;
    return Refusal::kNone;
}

// A width x height scratch image, or null when there is no memory for it.
std::unique_ptr<unsigned char[]> AllocatePixels(int width, int height, int bytesPerPixel) {
    const std::size_t bytes =
        static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * static_cast<std::size_t>(bytesPerPixel);
    return std::unique_ptr<unsigned char[]>(NewScratch(bytes));
}

// Writes one DXT1 level or the DXT1 chain of a 4-byte scratch image. The
// chain averages only the three color bytes: DXT1 ignores the fourth.
void EncodeDxt1Output(unsigned char* scratch, int width, int height, int type, unsigned char* destination) {
    if (type == OutputDXT1) {
        int written = 0;
        dxt::EncodeDxt1Image(scratch, destination, width, height, &written);
    } else {
        dxt::EncodeDxtMipChain(scratch, width, height, dxt::kDxt1, false, destination);
    }
}

Refusal DecodeAlphaPath(const Streams& s, CJpegDecoder& jpeg, int headerLength, int width, int height,
                        unsigned char* destination, int type) {
    const bool inflates = s.envelope.InflatesAlpha();
    // An alpha stream too short for the image is refused before the scratch
    // image is allocated.
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * static_cast<std::uint64_t>(height);
    if (inflates && !CanInflateTo(s.envelope.alphaLength, pixels)) return Refusal::kAlphaNotInflating;
    const unsigned char* packed = inflates ? s.alpha : nullptr;
    if (type == OutputDXT5Mipmaps)
        return DecodeToDxt(jpeg, s.primary + headerLength, packed, s.envelope.alphaLength, width, height, type,
                           destination);
    std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 4);
    if (!scratch) return Refusal::kScratchUnavailable;
    const Refusal r =
        DecodeWithAlpha(jpeg, s.primary + headerLength, packed, s.envelope.alphaLength, width, height, scratch.get());
    if (r != Refusal::kNone) return r;
    std::memcpy(destination, scratch.get(), static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    return Refusal::kNone;
}

Refusal DecodeCompactJpegPath(const Streams& s, CJpegDecoder& jpeg, int headerLength, int width, int height,
                              unsigned char* destination, int type) {
    const unsigned char* entropy = s.primary + headerLength;
    if (type == OutputRGB)
        return jpeg.DecodeImage24(entropy, destination) ? Refusal::kNone : Refusal::kColorStreamUndecodable;
    if (type == OutputRGB565)
        return jpeg.DecodeImage16(entropy, destination) ? Refusal::kNone : Refusal::kColorStreamUndecodable;
    return DecodeToDxt(jpeg, entropy, nullptr, 0, width, height, type, destination);
}

Refusal DecodeJpeg2000Path(const Streams& s, int width, int height, unsigned char* destination, int type) {
    unsigned char* stream = const_cast<unsigned char*>(s.primary);
    const int length = s.envelope.primaryLength;
    bool decoded = false;
    if (type == OutputRGB) {
        decoded = j2k_decode2Buffer(stream, length, destination, 1);
    } else if (type == OutputRGB565) {
        decoded = j2k_decode2Buffer(stream, length, destination, 0);
    } else {
        std::unique_ptr<unsigned char[]> scratch = AllocatePixels(width, height, 4);
        if (!scratch) return Refusal::kScratchUnavailable;
        decoded = j2k_decode2Buffer(stream, length, scratch.get(), 2);
        if (decoded) EncodeDxt1Output(scratch.get(), width, height, type, destination);
    }
    return decoded ? Refusal::kNone : Refusal::kColorStreamUndecodable;
}

}  // namespace

Refusal ReadImageInfo(const unsigned char* payload, unsigned long length, bool hasLeadingByte,
                      unsigned long& channels, unsigned long& width, unsigned long& height) {
    Streams s;
    const Refusal r = ReadStreams(payload, length, hasLeadingByte, s);
    if (r != Refusal::kNone) return r;
    CJpegDecoder jpeg;
    int w = 0, h = 0, headerLength = 0;
    const Refusal d = ReadDimensions(s, jpeg, w, h, headerLength);
    if (d != Refusal::kNone) return d;
    channels = s.envelope.hasAlpha ? 4 : 3;
    width = static_cast<unsigned long>(w);
    height = static_cast<unsigned long>(h);
    return Refusal::kNone;
}

Refusal DecodeImagePayload(const unsigned char* payload, unsigned long length, unsigned char* destination,
                           int type, bool hasLeadingByte) {
    if (payload == nullptr || destination == nullptr || length == 0) return Refusal::kNoPayload;
    Streams s;
    const Refusal r = ReadStreams(payload, length, hasLeadingByte, s);
    if (r != Refusal::kNone) return r;
    // An output the payload cannot give is refused before anything is decoded,
    // so the destination stays untouched.
    if (!format::ImageGivesOutput(s.envelope.hasAlpha, type)) return Refusal::kOutputNotProduced;
    CJpegDecoder jpeg;
    int width = 0, height = 0, headerLength = 0;
    const Refusal d = ReadDimensions(s, jpeg, width, height, headerLength);
    if (d != Refusal::kNone) return d;
    if (s.envelope.hasAlpha) return DecodeAlphaPath(s, jpeg, headerLength, width, height, destination, type);
    if (s.envelope.codec == 0) return DecodeCompactJpegPath(s, jpeg, headerLength, width, height, destination, type);
    return DecodeJpeg2000Path(s, width, height, destination, type);
}

}  // namespace image
}  // namespace vt

bool CVeltrane::GetCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                                    unsigned long& width, unsigned long& height, bool hasLeadingByte) {
    return vt::image::ReadImageInfo(payload, length, hasLeadingByte, channels, width, height) ==
           vt::format::Refusal::kNone;
}

bool CVeltrane::DecodeImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                            OutputType type, bool hasLeadingByte) {
    return vt::image::DecodeImagePayload(payload, length, destination, type, hasLeadingByte) ==
           vt::format::Refusal::kNone;
}
