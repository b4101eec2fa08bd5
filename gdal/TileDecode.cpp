#include "TileDecode.h"

#include <cstring>

#include "Image.h"
#include "Payloads.h"

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
// does not say which. Both placements are tried, without the byte first.
bool DecodeImageEnvelope(CVeltrane& library, Bytes& payload, int width, int height, TilePixels& pixels,
                         std::string& why) {
    why = "it is not an image tile payload";
    for (bool leadingByte : {false, true}) {
        unsigned long channels = 0, w = 0, h = 0;
        if (!library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, leadingByte) ||
            !SizeIs(w, h, width, height, why))
            continue;
        pixels.step = static_cast<int>(channels);
        pixels.alpha = channels == 4 ? 3 : -1;
        pixels.data.resize(static_cast<size_t>(width) * height * channels);
        if (library.DecodeImage(payload.data(), Length(payload), pixels.data.data(),
                                channels == 4 ? OutputRGBA : OutputRGB, leadingByte))
            return true;
        why = "its image does not decode";
    }
    return false;
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
struct DdsTexture {
    bool leadingByte = false;
    unsigned long width = 0, height = 0;
    bool dxt5 = false;
};

bool ReadDdsHeader(const Bytes& payload, DdsTexture& dds) {
    for (size_t t : {0, 1}) {
        const unsigned char* h = payload.data() + t + 12;
        if (payload.size() < t + 140 || std::memcmp(h, "DDS ", 4) != 0 || payloads::GetU32(h + 4) != 124) continue;
        dds.leadingByte = t == 1;
        dds.height = payloads::GetU32(h + 12);
        dds.width = payloads::GetU32(h + 16);
        const unsigned char* fourCC = h + 84;
        dds.dxt5 = std::memcmp(fourCC, "DXT5", 4) == 0;
        return dds.dxt5 || std::memcmp(fourCC, "DXT1", 4) == 0;
    }
    return false;
}

bool DecodeDds(CVeltrane& library, Bytes& payload, int width, int height, TilePixels& pixels, std::string& why) {
    DdsTexture dds;
    if (!ReadDdsHeader(payload, dds)) {
        why = "it is not a DDS payload with a DXT1 or DXT5 texture";
        return false;
    }
    if (!SizeIs(dds.width, dds.height, width, height, why)) return false;
    size_t skipped = (dds.leadingByte ? 1 : 0) + 140;
    Bytes texture(payload.size() - skipped);
    if (texture.size() < payloads::DxtChainBytes(width, height, dds.dxt5, 1) ||
        !library.DecodeDDSImage(payload.data(), Length(payload), texture.data(), dds.leadingByte)) {
        why = "its texture data is cut short";
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

const char* KindName(Kind kind) {
    switch (kind) {
        case Kind::Image: return "image";
        case Kind::Image2: return "image2";
        case Kind::Dem: return "dem";
        case Kind::Dom: return "dom";
        case Kind::Dds: return "dds";
    }
    return "";
}

bool ParseKind(const std::string& text, Kind& kind) {
    for (Kind k : {Kind::Image, Kind::Image2, Kind::Dem, Kind::Dom, Kind::Dds})
        if (text == KindName(k)) {
            kind = k;
            return true;
        }
    return false;
}

bool DecodeTilePixels(CVeltrane& library, Kind kind, Bytes& payload, int width, int height, int orthophoto,
                      TilePixels& pixels, std::string& why) {
    pixels = TilePixels();
    switch (kind) {
        case Kind::Image: return DecodeImageEnvelope(library, payload, width, height, pixels, why);
        case Kind::Image2: return DecodeSecondGeneration(library, payload, width, height, pixels, why);
        case Kind::Dds: return DecodeDds(library, payload, width, height, pixels, why);
        case Kind::Dem:
        case Kind::Dom: return DecodeOrthophoto(payload, width, height, orthophoto, pixels, why);
    }
    return false;
}

bool PayloadHasAlpha(CVeltrane& library, Kind kind, Bytes& payload) {
    unsigned long channels = 0, w = 0, h = 0;
    switch (kind) {
        case Kind::Image:
            return (library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, false) ||
                    library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, true)) &&
                   channels == 4;
        case Kind::Image2:
            return library.GetNewCompressDataInfo(payload.data(), Length(payload), channels, w, h) && channels == 4;
        case Kind::Dds: {
            DdsTexture dds;
            return ReadDdsHeader(payload, dds) && dds.dxt5;
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

// Stands in for the command-line tool's kind guessing until that is a
// library of its own: asks the library's information members which layout
// the payload fits, most particular layout first.
bool GuessPayloadKind(CVeltrane& library, Bytes& payload, Kind& kind) {
    DdsTexture dds;
    unsigned long channels = 0, w = 0, h = 0;
    int ids[256];
    if (ReadDdsHeader(payload, dds)) {
        kind = Kind::Dds;
    } else if (CVeltrane::GetDEMBufferSize(payload.data(), Length(payload)) > 0) {
        kind = Kind::Dem;
    } else if (CVeltrane::GetDOMCount(payload.data(), Length(payload), ids) > 0) {
        kind = Kind::Dom;
    } else if (library.GetNewCompressDataInfo(payload.data(), Length(payload), channels, w, h) && channels == 4) {
        kind = Kind::Image2;  // without alpha it is byte for byte an envelope behind a tag byte
    } else if (library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, false) ||
               library.GetCompressDataInfo(payload.data(), Length(payload), channels, w, h, true)) {
        kind = Kind::Image;
    } else {
        return false;
    }
    return true;
}

}  // namespace gdal
}  // namespace vt
