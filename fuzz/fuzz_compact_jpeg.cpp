// The compact JPEG decoder on its own: header, entropy data, both pixel sizes
// (variant bit 0), every processor form.
#include "FuzzTarget.h"
#include "SeedContent.h"
#include "jpeg/JpegDecoder.h"

namespace {

// The portable kernels (inverse DCT, colour conversion) are scalar code that
// the fuzzing build checks operation by operation: there they are ten times
// as slow as the SIMD forms, 17 ms for a 128 x 128 image. The portable form
// takes images of up to 64 x 64 pixels, the SIMD forms up to the common cap.
constexpr unsigned long kMaxPortablePixels = 64 * 64;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    vt::fuzz::Selected in = vt::fuzz::Select(data, size);
    const std::vector<uint8_t>& stream = in.payload;
    const int streamLength = static_cast<int>(std::min<size_t>(stream.size(), 0x7fffffff));
    vt::jpeg::CJpegDecoder decoder;
    int w = 0, h = 0, headerLength = 0;
    if (!decoder.ReadHeader(stream.data(), streamLength, w, h, headerLength)) return 0;
    if (!vt::fuzz::WithinPixelCap(w, h)) return 0;
    if (in.form == 0 && static_cast<unsigned long>(w) * h > kMaxPortablePixels) return 0;
    const int bytes = in.variant % 2 ? 4 : 3;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * bytes);
    if (bytes == 3)
        decoder.DecodeImage24(stream.data() + headerLength, pixels.data());
    else
        decoder.DecodeImage32(stream.data() + headerLength, pixels.data());
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    using namespace vt::payloads;
    return vt::fuzz::WithSelectors({EncodeCompactJpeg(vt::fuzz::SeedTile(48, 32), 75),
                                    EncodeCompactJpeg(vt::fuzz::SeedTile(17, 9), 10),
                                    EncodeCompactJpeg(vt::fuzz::SeedTile(16, 16), 100)},
                                   2);
}
