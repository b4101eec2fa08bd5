// The fixed 256 x 256 tile images of orthophoto packets and terrain payloads.
//
// The DXT1 chain is built in one 256 x 256 x 4 scratch: the full level is
// encoded, then each level is replaced in place by the 2 x 2 average of the
// one before (all four bytes averaged, sums truncated) and encoded behind it.
#include "FixedTileImage.h"

#include <memory>
#include <new>

#include "dxt/DxtEncoder.h"
#include "wavedec/Wavedec.h"

namespace vt {
namespace packets {

FixedTileOutput FixedTileOutputFor(OutputType type, bool offersRgba) {
    switch (type) {
        case OutputRGB565:
            return FixedTileOutput::kRgb565;
        case OutputRGB:
            return FixedTileOutput::kRgb;
        case OutputRGBA:
            return offersRgba ? FixedTileOutput::kRgba : FixedTileOutput::kDxt1Chain;
        default:
            return FixedTileOutput::kDxt1Chain;
    }
}

bool DecodeFixedTile(const unsigned char* stream, std::uint64_t length, unsigned char* destination,
                     FixedTileOutput output) {
    if (stream == nullptr || destination == nullptr || length == 0 || length > 0x7FFFFFFFu) return false;
    unsigned char* data = const_cast<unsigned char*>(stream);
    const int size = static_cast<int>(length);
    int width = 0, height = 0, extra = 0;
    if (!j2k_decodeImgInfo(data, size, width, height, extra)) return false;
    if (width != kFixedTileSide || height != kFixedTileSide) return false;
    switch (output) {
        case FixedTileOutput::kRgb565:
            return j2k_decode2Buffer(data, size, destination, 0);
        case FixedTileOutput::kRgb:
            return j2k_decode2Buffer(data, size, destination, 1);
        case FixedTileOutput::kRgba:
            return j2k_decode2Buffer(data, size, destination, 2);
        case FixedTileOutput::kDxt1Chain:
            break;
    }
    std::unique_ptr<unsigned char[]> scratch(new (std::nothrow) unsigned char[kFixedTileSide * kFixedTileSide * 4]);
    if (!scratch || !j2k_decode2Buffer(data, size, scratch.get(), 2)) return false;
    vt::dxt::EncodeDxtMipChain(scratch.get(), kFixedTileSide, kFixedTileSide, vt::dxt::kDxt1, true, destination);
    return true;
}

}  // namespace packets
}  // namespace vt
