// The compact JPEG decoder on its own: header, entropy data, both pixel sizes.
#include "FuzzTarget.h"
#include "SeedContent.h"
#include "jpeg/JpegDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<uint8_t> stream = vt::fuzz::ExactCopy(data, size);
    int streamLength = static_cast<int>(std::min<size_t>(stream.size(), 0x7fffffff));
    for (int bytes : {3, 4}) {
        vt::jpeg::CJpegDecoder decoder;
        int w = 0, h = 0, headerLength = 0;
        if (!decoder.ReadHeader(stream.data(), streamLength, w, h, headerLength)) return 0;
        if (w <= 0 || h <= 0 || static_cast<unsigned long>(w) * h > vt::fuzz::kMaxPixels) return 0;
        std::vector<uint8_t> pixels(static_cast<size_t>(w) * h * bytes);
        if (bytes == 3)
            decoder.DecodeImage24(stream.data() + headerLength, pixels.data());
        else
            decoder.DecodeImage32(stream.data() + headerLength, pixels.data());
    }
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    using namespace vt::payloads;
    return {EncodeCompactJpeg(vt::fuzz::SeedTile(48, 32), 75), EncodeCompactJpeg(vt::fuzz::SeedTile(17, 9), 10),
            EncodeCompactJpeg(vt::fuzz::SeedTile(16, 16), 100)};
}
