// Decoding of tile payloads through the library, after the structural checks
// of PayloadFormat. Every destination is sized from values the checks have
// confirmed (tile-sized images, grid sizes matching their sample count).
#include <algorithm>
#include <cmath>

#include "Common.h"
#include "PayloadFormat.h"
#include "Wavedec.h"

namespace vt {
namespace cli {

namespace {

unsigned long Len(const Bytes& b) { return static_cast<unsigned long>(b.size()); }

// Whether the codec decodes a JPEG 2000 stream of a known size (the library
// does not report a failed decode: its destination just stays as it was).
bool J2kDecodes(uint8_t* stream, size_t length, int width, int height) {
    Bytes rgb(static_cast<size_t>(width) * height * 3);
    return length <= 0x7FFFFFFF && j2k_decode2Buffer(stream, static_cast<int>(length), rgb.data(), 1);
}

bool CheckSize(int width, int height, int tileSize, std::string& why) {
    if (width == tileSize && height == tileSize) return true;
    why = "tile image is " + std::to_string(width) + " x " + std::to_string(height) + ", the file's tiles are " +
          std::to_string(tileSize) + " x " + std::to_string(tileSize);
    return false;
}

// ---- image envelope (both editions) -----------------------------------------------

bool PrepareImage(Bytes& payload, int tileSize, Envelope& e, TileInfo& info, std::string& why) {
    if (!ParseEnvelope(payload, e, why) || !CheckSize(e.width, e.height, tileSize, why)) return false;
    CVeltrane reader;
    unsigned long channels = 0, w = 0, h = 0;
    reader.GetCompressDataInfo(payload.data(), Len(payload), channels, w, h, e.leadingByte);
    if (w != static_cast<unsigned long>(e.width) || h != static_cast<unsigned long>(e.height)) {
        why = "the library reads a different image size from the payload";
        return false;
    }
    info = {e.width, e.height, static_cast<int>(channels)};
    if (e.alphaLength > 0) {
        // The library does not report a damaged alpha stream; inflate it here.
        Bytes plane(static_cast<size_t>(e.width) * e.height);
        unsigned long planeLength = Len(plane);
        if (CVeltrane::Uncompress(plane.data(), &planeLength, payload.data() + e.alphaAt,
                                  static_cast<unsigned long>(e.alphaLength)) != 0 ||
            planeLength != plane.size()) {
            why = "alpha stream does not inflate to the image size";
            return false;
        }
    }
    return true;
}

bool ImageLayout(Bytes& payload, int tileSize, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    Envelope e;
    if (!PrepareImage(payload, tileSize, e, info, why)) return false;
    bool alpha = info.channels == 4;
    if (layout == Layout::Default) layout = alpha ? Layout::Rgba : Layout::Rgb;
    OutputType type;
    size_t pixels = static_cast<size_t>(info.width) * info.height, bytes = 0;
    switch (layout) {
        case Layout::Dxt1: type = OutputDXT1; bytes = payloads::DxtChainBytes(info.width, info.height, false, 1); break;
        case Layout::Dxt1Mips: type = OutputDXT1Mipmaps; bytes = payloads::DxtChainBytes(info.width, info.height, false); break;
        case Layout::Dxt5Mips: type = OutputDXT5Mipmaps; bytes = payloads::DxtChainBytes(info.width, info.height, true); break;
        case Layout::Rgb: type = OutputRGB; bytes = pixels * 3; break;
        case Layout::Rgb565: type = OutputRGB565; bytes = pixels * 2; break;
        default: type = OutputRGBA; bytes = pixels * 4; break;
    }
    bool wantsAlpha = type == OutputDXT5Mipmaps || type == OutputRGBA;
    if (wantsAlpha != alpha) {
        why = std::string("the tile ") + (alpha ? "carries" : "has no") + " alpha; the library gives " +
              (alpha ? "dxt5mips or rgba" : "dxt1, dxt1mips, rgb or rgb565") + " for it, not " + LayoutName(layout);
        return false;
    }
    out.assign(bytes, 0);
    CVeltrane reader;
    if (!reader.DecodeImage(payload.data(), Len(payload), out.data(), type, e.leadingByte)) {
        why = "the library could not decode the payload";
        return false;
    }
    return true;
}

#if !defined(VELTRANE_EDITION_TERRAIN)

// ---- current edition: second-generation images, packets, DDS ------------------

bool Image2Layout(Bytes& payload, int tileSize, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    NewImage n;
    if (!ParseNewImage(payload, n, why) || !CheckSize(n.width, n.height, tileSize, why)) return false;
    CVeltrane reader;
    unsigned long channels = 0, w = 0, h = 0;
    if (!reader.GetNewCompressDataInfo(payload.data(), Len(payload), channels, w, h)) {
        why = "the library rejects the payload";
        return false;
    }
    info = {n.width, n.height, static_cast<int>(channels)};
    if (layout == Layout::Default) layout = n.alpha ? Layout::Dxt5Mips : Layout::Dxt1Mips;
    if (layout != Layout::Dxt1Mips && layout != Layout::Dxt5Mips) {
        why = "second-generation tiles decode to dxt1mips or dxt5mips only";
        return false;
    }
    bool dxt5 = layout == Layout::Dxt5Mips;
    out.assign(payloads::DxtChainBytes(n.width, n.height, dxt5), 0);
    if (!reader.DecodeNewImage(payload.data(), Len(payload), out.data(), dxt5 ? OutputDXT5Mipmaps : OutputDXT1Mipmaps)) {
        why = "decode failed (the alpha block does not inflate to the image size)";
        return false;
    }
    return true;
}

bool PacketOrtho(Bytes& payload, int id, Packet& packet, const Packet::Ortho*& chosen, std::string& why) {
    if (!ParsePacket(payload, packet, why)) return false;
    if (packet.orthophotos.empty()) {
        why = "the packet holds no orthophoto";
        return false;
    }
    chosen = nullptr;
    for (const Packet::Ortho& o : packet.orthophotos)
        if (chosen == nullptr && (id < 0 || o.id == id)) chosen = &o;
    if (chosen == nullptr) {
        why = "no orthophoto with id " + std::to_string(id);
        return false;
    }
    int ids[256];
    if (CVeltrane::GetDOMCount(payload.data(), Len(payload), ids) != static_cast<int>(packet.orthophotos.size())) {
        why = "the library lists a different number of orthophotos";
        return false;
    }
    for (const Packet::Ortho& o : packet.orthophotos) {
        int w = 0, h = 0;
        if (!J2kImageSize(payload.data() + o.at, o.length, w, h)) {
            why = "orthophoto " + std::to_string(o.id) + " has no readable JPEG 2000 header";
            return false;
        }
        if (w != 256 || h != 256) {
            why = "orthophoto " + std::to_string(o.id) + " is " + std::to_string(w) + " x " + std::to_string(h) +
                  ", orthophotos are 256 x 256";
            return false;
        }
    }
    return true;
}

bool DomLayout(Bytes& payload, int tileSize, int id, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    Packet packet;
    const Packet::Ortho* o = nullptr;
    (void)tileSize;  // orthophotos are 256 x 256 whatever the file's tiles
    if (!PacketOrtho(payload, id, packet, o, why)) return false;
    info = {256, 256, 3};
    OutputType type = OutputDXT1Mipmaps;
    size_t bytes = payloads::DxtChainBytes(256, 256, false);
    if (layout == Layout::Default || layout == Layout::Rgba) type = OutputRGBA, bytes = 256 * 256 * 4;
    if (layout == Layout::Rgb) type = OutputRGB, bytes = 256 * 256 * 3;
    if (layout == Layout::Rgb565) type = OutputRGB565, bytes = 256 * 256 * 2;
    if (layout == Layout::Dxt5Mips) {
        why = "orthophotos decode to the DXT1 chain, not dxt5mips";
        return false;
    }
    out.assign(bytes, 0);
    if (!CVeltrane::GetDOMBuffer(payload.data(), Len(payload), o->id, out.data(), type)) {
        why = "the library could not find orthophoto " + std::to_string(o->id);
        return false;
    }
    return true;
}

bool DemGrid(Bytes& payload, Bytes& grid, std::string& why) {
    Packet packet;
    if (!ParsePacket(payload, packet, why)) return false;
    if (!packet.hasGrid) {
        why = "the packet holds no elevation grid";
        return false;
    }
    int size = CVeltrane::GetDEMBufferSize(payload.data(), Len(payload));
    if (size != static_cast<int>(packet.gridBytes)) {
        why = "the library reads a different grid size";
        return false;
    }
    grid.assign(static_cast<size_t>(size), 0);
    if (!CVeltrane::GetDEMBuffer(payload.data(), Len(payload), grid.data())) {
        why = "elevation grid does not inflate to its stated size";
        return false;
    }
    size_t n = grid[0];
    if (1 + 4 * n * n != grid.size()) {
        why = "elevation grid of " + std::to_string(grid.size()) + " bytes does not hold " + std::to_string(n) +
              " x " + std::to_string(n) + " samples";
        return false;
    }
    return true;
}

bool DdsLayout(Bytes& payload, Bytes& out, DdsInfo& dds, std::string& why) {
    if (!ParseDds(payload, dds, why)) return false;
    CVeltrane reader;
    unsigned long v1, v2, v3;
    reader.GetDDSDataInfo(payload.data(), Len(payload), v1, v2, v3, dds.leadingByte);
    out.assign(dds.dataLength, 0);
    if (!reader.DecodeDDSImage(payload.data(), Len(payload), out.data(), dds.leadingByte)) {
        why = "the library could not copy the texture";
        return false;
    }
    return true;
}

#else

// ---- terrain edition ------------------------------------------------------------------

bool TerrainLayout(Bytes& payload, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    Terrain t;
    if (!ParseTerrain(payload, t, why)) return false;
    int w = 0, h = 0;
    if (!J2kImageSize(payload.data() + 10, t.imageLength, w, h) || w != 256 || h != 256) {
        why = "terrain image is not a readable 256 x 256 JPEG 2000 image";
        return false;
    }
    info = {256, 256, 3};
    OutputType type = OutputDXT1Mipmaps;
    size_t bytes = payloads::DxtChainBytes(256, 256, false);
    if (layout == Layout::Default || layout == Layout::Rgb) type = OutputRGB, bytes = 256 * 256 * 3;
    if (layout == Layout::Rgb565) type = OutputRGB565, bytes = 256 * 256 * 2;
    if (layout == Layout::Rgba || layout == Layout::Dxt5Mips) {
        why = "terrain images decode to rgb, rgb565 or the DXT1 chain";
        return false;
    }
    out.assign(bytes, 0);
    CVeltrane reader;
    if (!reader.DecodeImageTerrian(payload.data(), Len(payload), out.data(), type)) {
        why = "the library could not decode the terrain image";
        return false;
    }
    return true;
}

// The five getter pairs, by section bit.
int SectionSize(CVeltrane& r, int k, Bytes& p) {
    unsigned long n = Len(p);
    switch (k) {
        case 0: return r.GetIndexBufferSize(p.data(), n);
        case 1: return r.GetTinyIndexBufferSize(p.data(), n);
        case 2: return r.GetShapeIndexBufferSize(p.data(), n);
        case 3: return r.GetRoadIndexBufferSize(p.data(), n);
        default: return r.GetDEMTBufferSize(p.data(), n);
    }
}

bool SectionBuffer(CVeltrane& r, int k, Bytes& p, uint8_t* out) {
    unsigned long n = Len(p);
    switch (k) {
        case 0: return r.GetIndexBuffer(p.data(), n, out);
        case 1: return r.GetTinyIndexBuffer(p.data(), n, out);
        case 2: return r.GetShapeIndexBuffer(p.data(), n, out);
        case 3: return r.GetRoadIndexBuffer(p.data(), n, out);
        default: return r.GetDEMBuffer(p.data(), n, out);
    }
}

bool TerrainSections(Bytes& payload, std::string& why, Bytes* elevation) {
    Terrain t;
    if (!ParseTerrain(payload, t, why)) return false;
    CVeltrane reader;
    for (int k = 0; k < 5; ++k) {
        if (!(t.flags & (1u << k))) continue;
        int size = SectionSize(reader, k, payload);
        if (size != static_cast<int>(t.sectionBytes[k])) {
            why = std::string("the library reads a different size for the ") + kTerrainSectionNames[k] + " section";
            return false;
        }
        Bytes buffer(static_cast<size_t>(size) + 1);
        if (!SectionBuffer(reader, k, payload, buffer.data())) {
            why = std::string(kTerrainSectionNames[k]) + " section does not inflate to its stated size";
            return false;
        }
        buffer.resize(static_cast<size_t>(size));
        if (k == 4 && elevation != nullptr) *elevation = buffer;
    }
    return true;
}

#endif

Layout DxtLayoutFor(Kind kind, Layout layout) {
    if (layout == Layout::Dxt1 || layout == Layout::Dxt1Mips || layout == Layout::Dxt5Mips) return layout;
    (void)kind;
    return Layout::Default;
}

}  // namespace

bool DecodeTileLayout(Kind kind, Bytes& payload, int tileSize, int id, Layout layout, Bytes& out, TileInfo& info,
                      std::string& why) {
    (void)id;
    switch (kind) {
        case Kind::Image: return ImageLayout(payload, tileSize, layout, out, info, why);
#if !defined(VELTRANE_EDITION_TERRAIN)
        case Kind::Image2: return Image2Layout(payload, tileSize, layout, out, info, why);
        case Kind::Dom: return DomLayout(payload, tileSize, id, layout, out, info, why);
        case Kind::Dds: {
            DdsInfo dds;
            if (!DdsLayout(payload, out, dds, why)) return false;
            info = {dds.width, dds.height, dds.dxt5 ? 4 : 3};
            return true;
        }
        case Kind::Dem: {
            if (!DemGrid(payload, out, why)) return false;
            info = {out[0], out[0], 1};
            return true;
        }
#else
        case Kind::Terrain: return TerrainLayout(payload, layout, out, info, why);
#endif
        default: why = std::string("--kind ") + KindName(kind) + " is not read by this edition"; return false;
    }
}

bool ElevationGridOf(Kind kind, Bytes& payload, Bytes& grid, std::string& why) {
#if !defined(VELTRANE_EDITION_TERRAIN)
    if (kind == Kind::Dem || kind == Kind::Dom) return DemGrid(payload, grid, why);
#else
    if (kind == Kind::Terrain) {
        grid.clear();
        if (!TerrainSections(payload, why, &grid)) return false;
        size_t n = grid.empty() ? 0 : grid[0];
        if (grid.empty() || 1 + 4 * n * n != grid.size()) {
            why = "the terrain payload holds no elevation grid";
            return false;
        }
        return true;
    }
#endif
    why = std::string(KindDescription(kind)) + " hold no elevation grid";
    return false;
}

bool DecodeTileDxt(Kind kind, Bytes& payload, int tileSize, int id, Layout layout, DxtTexture& texture,
                   std::string& why) {
    TileInfo info;
    Layout want = DxtLayoutFor(kind, layout);
    if (kind == Kind::Image && want == Layout::Default) {
        Envelope e;
        if (!ParseEnvelope(payload, e, why)) return false;
        want = e.alphaLength > 0 ? Layout::Dxt5Mips : Layout::Dxt1Mips;
    }
    // Orthophotos and terrain images come as the fixed DXT1 chain.
    if ((kind == Kind::Dom || kind == Kind::Terrain) && want == Layout::Default) want = Layout::Dxt1Mips;
    if (kind == Kind::Dem) {
        why = "an elevation grid has no texture; use --kind dom for the orthophotos";
        return false;
    }
    if (!DecodeTileLayout(kind, payload, tileSize, id, kind == Kind::Dds ? Layout::Default : want, texture.blocks,
                          info, why))
        return false;
    texture.width = info.width;
    texture.height = info.height;
    if (kind == Kind::Dds) {
        DdsInfo dds;
        ParseDds(payload, dds, why);
        texture.dxt5 = dds.dxt5;
        texture.mipCount = dds.mipCount;
        return true;  // stored textures are standard DDS data already
    }
    texture.dxt5 = want == Layout::Dxt5Mips;
    texture.mipCount = want == Layout::Dxt1 ? 1 : payloads::MipLevelCount(info.width, info.height);
    if (kind == Kind::Image2 && want == Layout::Default) texture.dxt5 = info.channels == 4;
    payloads::SwapRedBlueInDxt(texture.blocks.data(), texture.blocks.size(), texture.dxt5);
    return true;
}

bool DecodeTileImage(Kind kind, Bytes& payload, int tileSize, int id, Image& image, std::string& why) {
    Bytes out;
    TileInfo info;
    switch (kind) {
        case Kind::Image:
        case Kind::Terrain:
        case Kind::Dom:
            if (!DecodeTileLayout(kind, payload, tileSize, id, Layout::Default, out, info, why)) return false;
            if (out.size() == static_cast<size_t>(info.width) * info.height * 4)
                image = payloads::FromBgra(out.data(), info.width, info.height);
            else
                image = payloads::FromBgr(out.data(), info.width, info.height);
            return true;
        case Kind::Image2:
            if (!DecodeTileLayout(kind, payload, tileSize, id, Layout::Default, out, info, why)) return false;
            image = payloads::FromBgra(payloads::DecodeDxt(out.data(), info.width, info.height, info.channels == 4)
                                           .rgba.data(),
                                       info.width, info.height);
            return true;
        case Kind::Dds: {
            DxtTexture texture;
            if (!DecodeTileDxt(kind, payload, tileSize, id, Layout::Default, texture, why)) return false;
            image = payloads::DecodeDxt(texture.blocks.data(), texture.width, texture.height, texture.dxt5);
            return true;
        }
        case Kind::Dem: {
#if !defined(VELTRANE_EDITION_TERRAIN)
            if (!DemGrid(payload, out, why)) return false;
            // A grey elevation image, 16 m a grey step, sampled at the pixel
            // centres with the library's bilinear lookup over unit bounds.
            image = Image(tileSize, tileSize);
            for (int y = 0; y < tileSize; ++y)
                for (int x = 0; x < tileSize; ++x) {
                    double u = (x + 0.5) / tileSize, v = 1.0 - (y + 0.5) / tileSize;
                    float e = JNA_GetElevationInBuf(out.data(), 0, 0, 1, 1, u, v);
                    uint8_t g = static_cast<uint8_t>(std::clamp(std::lround(e / 16.0), 0L, 255L));
                    uint8_t* p = image.Pixel(x, y);
                    p[0] = p[1] = p[2] = g;
                    p[3] = 255;
                }
            return true;
#endif
        }
        [[fallthrough]];
        default: why = std::string("--kind ") + KindName(kind) + " is not read by this edition"; return false;
    }
}

bool VerifyPayload(Kind kind, Bytes& payload, int tileSize, std::string& why) {
    Image image;
#if !defined(VELTRANE_EDITION_TERRAIN)
    if (kind == Kind::Dem || kind == Kind::Dom) {
        Packet packet;
        Bytes grid;
        if (!ParsePacket(payload, packet, why)) return false;
        if (packet.hasGrid && !DemGrid(payload, grid, why)) return false;
        for (const Packet::Ortho& o : packet.orthophotos) {
            if (!DecodeTileImage(Kind::Dom, payload, tileSize, o.id, image, why)) return false;
            if (!J2kDecodes(payload.data() + o.at, o.length, 256, 256)) {
                why = "orthophoto " + std::to_string(o.id) + " does not decode";
                return false;
            }
        }
        return true;
    }
#else
    if (kind == Kind::Terrain) {
        Terrain t;
        if (!TerrainSections(payload, why, nullptr) || !ParseTerrain(payload, t, why)) return false;
        if (!J2kDecodes(payload.data() + 10, t.imageLength, 256, 256)) {
            why = "terrain image does not decode";
            return false;
        }
    }
#endif
    if (kind == Kind::Dds) {
        DxtTexture texture;
        return DecodeTileDxt(kind, payload, tileSize, -1, Layout::Default, texture, why);
    }
    if (!DecodeTileImage(kind, payload, tileSize, -1, image, why)) return false;
    // A JPEG 2000 stream the codec cannot decode leaves the library's output
    // untouched; ask the codec directly so that verify can name it.
    Envelope e;
    if (kind == Kind::Image && ParseEnvelope(payload, e, why) && e.codec == 1 &&
        !J2kDecodes(payload.data() + e.primaryAt, e.primaryLength, e.width, e.height)) {
        why = "JPEG 2000 stream does not decode";
        return false;
    }
    return true;
}

}  // namespace cli
}  // namespace vt
