// Second-generation image payloads (current edition): a compact JPEG color
// stream whose alpha block, when a flag says there is one, records its own
// lengths (format/PayloadFormat.h gives the layout). Decoded to DXT1 or DXT5
// mip chains only. The whole payload is validated before the destination is
// written.
#include "Veltrane.h"

#include <cstdint>
#include <memory>

#include "ImagePayload.h"
#include "dxt/DxtEncoder.h"
#include "jpeg/JpegDecoder.h"

namespace vt {
namespace image {

namespace {

using jpeg::CJpegDecoder;

constexpr int kCompactHeaderBytes = 6;

struct NewPayload {
    format::NewImageEnvelope envelope;
    const unsigned char* color;
    int width;
    int height;
    int headerLength;
};

// Reads the envelope and the compact JPEG header (into `jpeg`, ready to
// decode).
Refusal ReadNewEnvelope(const unsigned char* payload, unsigned long length, CJpegDecoder& jpeg, NewPayload& out) {
    const Refusal r = format::ReadNewImageEnvelope(payload, length, out.envelope);
    if (r != Refusal::kNone) return r;
    const std::uint64_t n = out.envelope.colorLength;
    out.color = payload + format::kNewImageColorOffset;
    int w = 0, h = 0, hl = 0;
    if (!jpeg.ReadHeader(out.color, static_cast<int>(n), w, h, hl)) return Refusal::kNoImageSize;
    if (hl < kCompactHeaderBytes || static_cast<std::uint64_t>(hl) > n) return Refusal::kNoImageSize;
    if (!UsableSize(w, h)) return Refusal::kNoImageSize;
    out.width = w;
    out.height = h;
    out.headerLength = hl;
    return Refusal::kNone;
}

}  // namespace

Refusal ReadNewImageInfo(const unsigned char* payload, unsigned long length, unsigned long& channels,
                         unsigned long& width, unsigned long& height) {
    CJpegDecoder jpeg;
    NewPayload p;
    const Refusal r = ReadNewEnvelope(payload, length, jpeg, p);
    if (r != Refusal::kNone) return r;
    channels = p.envelope.hasAlpha ? 4 : 3;
    width = static_cast<unsigned long>(p.width);
    height = static_cast<unsigned long>(p.height);
    return Refusal::kNone;
}

Refusal DecodeNewImagePayload(const unsigned char* payload, unsigned long length, unsigned char* destination,
                              int type) {
    if (payload == nullptr || destination == nullptr || length == 0) return Refusal::kNoPayload;
    if (type != OutputDXT1Mipmaps && type != OutputDXT5Mipmaps) return Refusal::kOutputNotProduced;
    CJpegDecoder jpeg;
    NewPayload p;
    const Refusal r = ReadNewEnvelope(payload, length, jpeg, p);
    if (r != Refusal::kNone) return r;

    const std::uint64_t pixelCount = static_cast<std::uint64_t>(p.width) * static_cast<std::uint64_t>(p.height);
    format::NewImageAlpha alpha;
    if (p.envelope.hasAlpha) {
        const Refusal a = format::ReadNewImageAlpha(payload, length, p.envelope, pixelCount, alpha);
        if (a != Refusal::kNone) return a;
        // A stream too short for the plane fails before the scratch image is allocated.
        if (!CanInflateTo(alpha.streamLength, pixelCount)) return Refusal::kAlphaNotInflating;
    }

    return DecodeToDxt(jpeg, p.color + p.headerLength, p.envelope.hasAlpha ? payload + alpha.streamOffset : nullptr,
                       alpha.streamLength, p.width, p.height, type, destination);
}

}  // namespace image
}  // namespace vt

bool CVeltrane::GetNewCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                                       unsigned long& width, unsigned long& height) {
    return vt::image::ReadNewImageInfo(payload, length, channels, width, height) == vt::format::Refusal::kNone;
}

bool CVeltrane::DecodeNewImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                               OutputType type) {
    return vt::image::DecodeNewImagePayload(payload, length, destination, type) == vt::format::Refusal::kNone;
}
