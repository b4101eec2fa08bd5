#include "TileDecode.h"

#include <cstring>

#include "Image.h"
#include "Payloads.h"
#include "format/PayloadFormat.h"

namespace vt {
namespace gdal {

namespace {

unsigned long Length(const Bytes& payload) { return static_cast<unsigned long>(payload.size()); }

bool SizeIs(unsigned long width, unsigned long height, int tileWidth, int tileHeight, std::string& why) {
    if (width == static_cast<unsigned long>(tileWidth) && height == static_cast<unsigned long>(tileHeight))
        return true;
    why = "its image is " + std::to_string(width) + " x " + std::to_string(height) + ", the file's tiles are " +
          std::to_string(tileWidth) + " x " + std::to_string(tileHeight);
    return false;
}

// An image envelope may or may not start with the leading tag byte; the file
// does not say which, the envelope's structure does.
bool DecodeImageEnvelope(CVeltrane& library, Bytes& payload, int width, int height, TilePixels& pixels,
                         std::string& why) {
    const bool leadingByte = kind::ImageHasLeadingByte(payload.data(), payload.size());
    unsigned long channels = 0, w = 0, h = 0;
    if (!library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, leadingByte)) {
        why = "it is not an image tile payload";
        return false;
    }
    if (!SizeIs(w, h, width, height, why)) return false;
    pixels.step = static_cast<int>(channels);
    pixels.alpha = channels == 4 ? 3 : -1;
    pixels.data.resize(static_cast<size_t>(width) * height * channels);
    if (!library.DecodeImage(payload.data(), Length(payload), pixels.data.data(),
                             channels == 4 ? OutputRGBA : OutputRGB, leadingByte)) {
        why = "its image does not decode";
        return false;
    }
    return true;
}

// Second-generation payloads decode to DXT mip chains only; the top level of
// the chain is the tile.
bool DecodeSecondGeneration(CVeltrane& library, Bytes& payload, int width, int height, TilePixels& pixels,
                            std::string& why) {
    unsigned long channels = 0, w = 0, h = 0;
    if (!library.GetNewCompressDataInfo(payload.data(), Length(payload), channels, w, h)) {
        why = "it is not a second-generation image payload";
        return false;
    }
    if (!SizeIs(w, h, width, height, why)) return false;
    bool dxt5 = channels == 4;
    Bytes chain(payloads::DxtChainBytes(width, height, dxt5));
    if (!library.DecodeNewImage(payload.data(), Length(payload), chain.data(),
                                dxt5 ? OutputDXT5Mipmaps : OutputDXT1Mipmaps)) {
        why = "its image or alpha block does not decode";
        return false;
    }
    pixels.data = payloads::DecodeDxt(chain.data(), width, height, dxt5).rgba;
    pixels.step = 4;
    pixels.alpha = dxt5 ? 3 : -1;  // blue, green, red as the library orders them
    return true;
}

// A DDS payload: three descriptor values, then a DDS file (magic, 124-byte
// header, texture data), possibly behind the leading tag byte.
bool ReadDdsHeader(const Bytes& payload, bool& leadingByte, format::DdsFileHeader& dds) {
    leadingByte = kind::DdsHasLeadingByte(payload.data(), payload.size());
    return format::ReadDdsFileHeader(payload.data(), payload.size(), leadingByte, dds) == format::Refusal::kNone;
}

bool DecodeDds(CVeltrane& library, Bytes& payload, int width, int height, TilePixels& pixels, std::string& why) {
    bool leadingByte = false;
    format::DdsFileHeader dds;
    if (!ReadDdsHeader(payload, leadingByte, dds)) {
        why = "it is not a DDS payload with a whole DXT1 or DXT5 texture";
        return false;
    }
    if (!SizeIs(static_cast<unsigned long>(dds.width), static_cast<unsigned long>(dds.height), width, height, why))
        return false;
    // The library copies everything behind the DDS file's start.
    Bytes texture(static_cast<size_t>(dds.dataLength));
    if (!library.DecodeDDSImage(payload.data(), Length(payload), texture.data(), leadingByte)) {
        why = "its texture data does not copy";
        return false;
    }
    pixels.data = payloads::DecodeDxt(texture.data(), width, height, dds.dxt5).rgba;
    pixels.step = 4;
    pixels.red = 0;  // DDS files hold red first
    pixels.blue = 2;
    pixels.alpha = dds.dxt5 ? 3 : -1;
    return true;
}

constexpr int kOrthophotoSide = 256;

bool DecodeOrthophoto(Bytes& payload, int width, int height, int id, TilePixels& pixels, std::string& why) {
    int ids[256];
    int count = CVeltrane::GetDOMCount(payload.data(), Length(payload), ids);
    if (count <= 0) {
        why = "the packet holds no orthophoto";
        return false;
    }
    if (id < 0) id = ids[0];
    if (!SizeIs(kOrthophotoSide, kOrthophotoSide, width, height, why)) return false;
    pixels.data.resize(static_cast<size_t>(width) * height * 3);
    if (!CVeltrane::GetDOMBuffer(payload.data(), Length(payload), id, pixels.data.data(), OutputRGB)) {
        why = "orthophoto " + std::to_string(id) + " is missing or does not decode";
        return false;
    }
    return true;
}

}  // namespace

bool DecodeTilePixels(CVeltrane& library, Kind kind, Bytes& payload, int width, int height, int orthophoto,
                      TilePixels& pixels, std::string& why) {
    pixels = TilePixels();
    switch (kind) {
        case Kind::Image: return DecodeImageEnvelope(library, payload, width, height, pixels, why);
        case Kind::Image2: return DecodeSecondGeneration(library, payload, width, height, pixels, why);
        case Kind::Dds: return DecodeDds(library, payload, width, height, pixels, why);
        case Kind::Dem:
        case Kind::Dom: return DecodeOrthophoto(payload, width, height, orthophoto, pixels, why);
        case Kind::Auto:
        case Kind::Terrain: break;
    }
    why = std::string("the driver does not decode ") + kind::KindDescription(kind);
    return false;
}

bool PayloadHasAlpha(CVeltrane& library, Kind kind, Bytes& payload) {
    unsigned long channels = 0, w = 0, h = 0;
    switch (kind) {
        case Kind::Image:
            return library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h,
                                               kind::ImageHasLeadingByte(payload.data(), payload.size())) &&
                   channels == 4;
        case Kind::Image2:
            return library.GetNewCompressDataInfo(payload.data(), Length(payload), channels, w, h) && channels == 4;
        case Kind::Dds: {
            bool leadingByte = false;
            format::DdsFileHeader dds;
            return ReadDdsHeader(payload, leadingByte, dds) && dds.dxt5;
        }
        default: return false;
    }
}

bool DecodeElevationGrid(Bytes& payload, std::vector<float>& samples, int& n, std::string& why) {
    // n is one byte: no grid holds more than 255 x 255 samples.
    constexpr int kLargestGrid = 1 + 4 * 255 * 255;
    int size = CVeltrane::GetDEMBufferSize(payload.data(), Length(payload));
    if (size <= 0) {
        why = "the packet holds no elevation grid";
        return false;
    }
    if (size > kLargestGrid) {
        why = "its elevation grid of " + std::to_string(size) + " bytes is larger than any grid";
        return false;
    }
    Bytes grid(static_cast<size_t>(size));
    if (!CVeltrane::GetDEMBuffer(payload.data(), Length(payload), grid.data())) {
        why = "its elevation grid does not inflate to its stated size";
        return false;
    }
    n = grid[0];
    if (n == 0 || static_cast<size_t>(1 + 4 * n * n) != grid.size()) {
        why = "its elevation grid of " + std::to_string(size) + " bytes does not hold " + std::to_string(n) +
              " x " + std::to_string(n) + " samples";
        return false;
    }
    samples.resize(static_cast<size_t>(n) * n);
    for (size_t i = 0; i < samples.size(); ++i) {
        std::uint32_t bits = payloads::GetU32(&grid[1 + 4 * i]);
        std::memcpy(&samples[i], &bits, 4);
    }
    return true;
}

}  // namespace gdal
}  // namespace vt
