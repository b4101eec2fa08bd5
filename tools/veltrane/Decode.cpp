// Decoding of tile payloads through the library. The payload is read with the
// library's own parser (format/PayloadFormat.h) only to learn what the decode
// members must be told (the leading tag byte, the orthophoto ids, the
// terrain sections present) and, when a member refuses, why: every verdict
// is the library's, every reason is named in the library's terms.
#include <algorithm>
#include <cmath>

#include "Common.h"
#include "format/InflateExact.h"
#include "format/PayloadFormat.h"

namespace vt {
namespace cli {

using format::Refusal;
using format::RefusalText;

namespace {

unsigned long Len(const Bytes& b) { return static_cast<unsigned long>(b.size()); }

bool Refuse(Refusal refusal, std::string& why) {
    why = RefusalText(refusal);
    return false;
}

// ---- image payloads (both editions) ----------------------------------------

// Why the library could not decode an image payload whose envelope and size
// it read: an alpha stream that does not inflate, or a color stream that
// does not decode.
Refusal ImageDecodeRefusal(const Bytes& payload, const format::ImageEnvelope& e, unsigned long pixels) {
    if (e.InflatesAlpha()) {
        Bytes plane(pixels);
        if (!InflateExact(plane.data(), static_cast<uint32_t>(pixels), payload.data() + e.alphaOffset,
                          e.alphaLength))
            return Refusal::kAlphaNotInflating;
    }
    return Refusal::kColorStreamUndecodable;
}

OutputType ImageOutputType(Layout layout) {
    switch (layout) {
        case Layout::Dxt1: return OutputDXT1;
        case Layout::Dxt1Mips: return OutputDXT1Mipmaps;
        case Layout::Dxt5Mips: return OutputDXT5Mipmaps;
        case Layout::Rgb: return OutputRGB;
        case Layout::Rgb565: return OutputRGB565;
        default: return OutputRGBA;
    }
}

size_t ImageOutputBytes(OutputType type, int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * height;
    switch (type) {
        case OutputDXT1: return payloads::DxtChainBytes(width, height, false, 1);
        case OutputDXT1Mipmaps: return payloads::DxtChainBytes(width, height, false);
        case OutputDXT5Mipmaps: return payloads::DxtChainBytes(width, height, true);
        case OutputRGB: return pixels * 3;
        case OutputRGB565: return pixels * 2;
        default: return pixels * 4;
    }
}

bool ImageLayout(Bytes& payload, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    info.leadingByte = kind::ImageHasLeadingByte(payload.data(), payload.size());
    format::ImageEnvelope e;
    const Refusal r = format::ReadImageEnvelope(payload.data(), payload.size(), info.leadingByte, e);
    if (r == Refusal::kPrimaryLengthNotPositive || r == Refusal::kPrimaryPastEnd) {
        why = std::string(RefusalText(r)) + " (" + std::to_string(e.primaryLength) + " in a " +
              std::to_string(payload.size()) + "-byte payload)";
        return false;
    }
    if (r != Refusal::kNone) return Refuse(r, why);
    CVeltrane reader;
    unsigned long channels = 0, w = 0, h = 0;
    if (!reader.GetCompressDataInfo(payload.data(), Len(payload), channels, w, h, info.leadingByte))
        return Refuse(Refusal::kNoImageSize, why);
    info.width = static_cast<int>(w);
    info.height = static_cast<int>(h);
    info.channels = static_cast<int>(channels);
    const bool alpha = channels == 4;
    if (layout == Layout::Default) layout = alpha ? Layout::Rgba : Layout::Rgb;
    const OutputType type = ImageOutputType(layout);
    if (!format::ImageGivesOutput(alpha, type)) {
        why = std::string("the tile ") + (alpha ? "carries" : "has no") + " alpha; the library gives " +
              (alpha ? "dxt5mips or rgba" : "dxt1, dxt1mips, rgb or rgb565") + " for it, not " + LayoutName(layout);
        return false;
    }
    out.assign(ImageOutputBytes(type, info.width, info.height), 0);
    if (!reader.DecodeImage(payload.data(), Len(payload), out.data(), type, info.leadingByte))
        return Refuse(ImageDecodeRefusal(payload, e, w * h), why);
    return true;
}

#if !defined(VELTRANE_EDITION_TERRAIN)

// ---- current edition: second-generation images, packets, DDS ------------------

bool Image2Layout(Bytes& payload, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    format::NewImageEnvelope e;
    const Refusal r = format::ReadNewImageEnvelope(payload.data(), payload.size(), e);
    if (r != Refusal::kNone) return Refuse(r, why);
    CVeltrane reader;
    unsigned long channels = 0, w = 0, h = 0;
    if (!reader.GetNewCompressDataInfo(payload.data(), Len(payload), channels, w, h))
        return Refuse(Refusal::kNoImageSize, why);
    info = {static_cast<int>(w), static_cast<int>(h), static_cast<int>(channels)};
    if (layout == Layout::Default) layout = e.hasAlpha ? Layout::Dxt5Mips : Layout::Dxt1Mips;
    if (layout != Layout::Dxt1Mips && layout != Layout::Dxt5Mips) {
        why = "second-generation tiles decode to dxt1mips or dxt5mips only";
        return false;
    }
    const bool dxt5 = layout == Layout::Dxt5Mips;
    out.assign(payloads::DxtChainBytes(info.width, info.height, dxt5), 0);
    if (reader.DecodeNewImage(payload.data(), Len(payload), out.data(), dxt5 ? OutputDXT5Mipmaps : OutputDXT1Mipmaps))
        return true;
    format::NewImageAlpha alpha;
    Refusal refusal = Refusal::kColorStreamUndecodable;
    if (e.hasAlpha) {
        refusal = format::ReadNewImageAlpha(payload.data(), payload.size(), e, w * h, alpha);
        if (refusal == Refusal::kNone) {
            Bytes plane(w * h);
            refusal = InflateExact(plane.data(), alpha.rawLength, payload.data() + alpha.streamOffset,
                                   alpha.streamLength)
                          ? Refusal::kColorStreamUndecodable
                          : Refusal::kAlphaNotInflating;
        }
    }
    return Refuse(refusal, why);
}

// The ids of the packet's orthophotos, as the library lists them, each once.
bool OrthophotoIds(Bytes& payload, std::vector<int>& ids, std::string& why) {
    unsigned tag = 0;
    Refusal r = format::ReadPacketTag(payload.data(), payload.size(), tag);
    if (r != Refusal::kNone) return Refuse(r, why);
    format::OrthophotoSection section;
    r = format::FindOrthophotoSection(payload.data(), payload.size(), section);
    if (r != Refusal::kNone) return Refuse(r, why);
    int listed[256];
    const int count = CVeltrane::GetDOMCount(payload.data(), Len(payload), listed);
    if (count == 0 && section.count > 0) return Refuse(Refusal::kOrthophotoPastEnd, why);
    ids.clear();
    for (int i = 0; i < count; ++i)
        if (std::find(ids.begin(), ids.end(), listed[i]) == ids.end()) ids.push_back(listed[i]);
    return true;
}

bool DomLayout(Bytes& payload, int id, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    std::vector<int> ids;
    if (!OrthophotoIds(payload, ids, why)) return false;
    if (ids.empty()) {
        why = "the packet holds no orthophoto";
        return false;
    }
    if (id < 0) id = ids.front();
    if (std::find(ids.begin(), ids.end(), id) == ids.end()) {
        why = std::string(RefusalText(Refusal::kNoSuchOrthophoto)) + " (" + std::to_string(id) + ")";
        return false;
    }
    info = {256, 256, 3};
    info.id = id;
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
    if (!CVeltrane::GetDOMBuffer(payload.data(), Len(payload), id, out.data(), type)) {
        why = "orthophoto " + std::to_string(id) + ": " + RefusalText(Refusal::kFixedTileUndecodable);
        return false;
    }
    return true;
}

// The packet's inflated elevation grid, as the library gives it.
bool PacketGrid(Bytes& payload, Bytes& grid, std::string& why) {
    unsigned tag = 0;
    Refusal r = format::ReadPacketTag(payload.data(), payload.size(), tag);
    if (r != Refusal::kNone) return Refuse(r, why);
    format::ElevationSection section;
    r = format::FindElevationSection(payload.data(), payload.size(), section);
    if (r != Refusal::kNone) return Refuse(r, why);
    grid.assign(static_cast<size_t>(CVeltrane::GetDEMBufferSize(payload.data(), Len(payload))), 0);
    if (!CVeltrane::GetDEMBuffer(payload.data(), Len(payload), grid.data()))
        return Refuse(Refusal::kElevationNotInflating, why);
    return true;
}

bool DdsLayout(Bytes& payload, Bytes& out, TileInfo& info, std::string& why) {
    info.leadingByte = kind::DdsHasLeadingByte(payload.data(), payload.size());
    CVeltrane reader;
    unsigned long v1, v2, v3;
    std::uint64_t offset = 0;
    if (!reader.GetDDSDataInfo(payload.data(), Len(payload), v1, v2, v3, info.leadingByte)) {
        format::DdsPayload dds;
        return Refuse(format::ReadDdsPayload(payload.data(), payload.size(), info.leadingByte, dds), why);
    }
    const Refusal r = format::DdsTextureOffset(payload.size(), info.leadingByte, true, offset);
    if (r != Refusal::kNone) return Refuse(r, why);
    out.assign(payload.size() - offset, 0);
    if (!reader.DecodeDDSImage(payload.data(), Len(payload), out.data(), info.leadingByte))
        return Refuse(Refusal::kDdsBodyTooShort, why);
    return true;
}

#else

// ---- terrain edition ------------------------------------------------------------------

bool TerrainLayout(Bytes& payload, Layout layout, Bytes& out, TileInfo& info, std::string& why) {
    format::TerrainImage image;
    const Refusal r = format::FindTerrainImage(payload.data(), payload.size(), image);
    if (r != Refusal::kNone) return Refuse(r, why);
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
    if (!reader.DecodeImageTerrian(payload.data(), Len(payload), out.data(), type))
        return Refuse(Refusal::kFixedTileUndecodable, why);
    return true;
}

// The five getter pairs, in the order of the presence bits.
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

// Inflates every section the presence flags announce; the elevation section
// goes to `elevation` when asked for.
bool TerrainSections(Bytes& payload, std::string& why, Bytes* elevation) {
    format::TerrainImage image;
    const Refusal r = format::FindTerrainImage(payload.data(), payload.size(), image);
    if (r != Refusal::kNone) return Refuse(r, why);
    CVeltrane reader;
    for (int k = 0; k < 5; ++k) {
        if (!(image.flags & format::kTerrainSectionBits[k])) continue;
        format::TerrainSection section;
        const Refusal s =
            format::FindTerrainSection(payload.data(), payload.size(), format::kTerrainSectionBits[k], section);
        Bytes buffer(static_cast<size_t>(SectionSize(reader, k, payload)) + 1);
        if (s != Refusal::kNone || !SectionBuffer(reader, k, payload, buffer.data())) {
            why = std::string(format::kTerrainSectionNames[k]) + " section: " +
                  RefusalText(s != Refusal::kNone ? s : Refusal::kSectionNotInflating);
            return false;
        }
        buffer.pop_back();
        if (k == 4 && elevation != nullptr) *elevation = buffer;
    }
    return true;
}

#endif

// An elevation grid the tool can sample: byte 0 holds n, then n x n floats.
// (The library's lookup trusts the grid; the tool checks it before use.)
bool CheckGridShape(const Bytes& grid, std::string& why) {
    const size_t n = grid.empty() ? 0 : grid[0];
    if (grid.empty() || 1 + 4 * n * n != grid.size()) {
        why = "elevation grid of " + std::to_string(grid.size()) + " bytes does not hold " + std::to_string(n) +
              " x " + std::to_string(n) + " samples";
        return false;
    }
    return true;
}

}  // namespace

bool DecodeTileLayout(Kind kind, Bytes& payload, int id, Layout layout, Bytes& out, TileInfo& info,
                      std::string& why) {
    (void)id;  // orthophotos are read by the current edition only
    switch (kind) {
        case Kind::Image: return ImageLayout(payload, layout, out, info, why);
#if !defined(VELTRANE_EDITION_TERRAIN)
        case Kind::Image2: return Image2Layout(payload, layout, out, info, why);
        case Kind::Dom: return DomLayout(payload, id, layout, out, info, why);
        case Kind::Dds: {
            if (!DdsLayout(payload, out, info, why)) return false;
            format::DdsFileHeader dds;
            const Refusal r = format::ReadDdsFileHeader(payload.data(), payload.size(), info.leadingByte, dds);
            if (r != Refusal::kNone) return Refuse(r, why);
            info.width = dds.width;
            info.height = dds.height;
            info.channels = dds.dxt5 ? 4 : 3;
            return true;
        }
        case Kind::Dem: {
            if (!PacketGrid(payload, out, why) || !CheckGridShape(out, why)) return false;
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
    if (kind == Kind::Dem || kind == Kind::Dom) return PacketGrid(payload, grid, why) && CheckGridShape(grid, why);
#else
    if (kind == Kind::Terrain) {
        grid.clear();
        if (!TerrainSections(payload, why, &grid)) return false;
        if (grid.empty()) {
            why = "the terrain payload holds no elevation grid";
            return false;
        }
        return CheckGridShape(grid, why);
    }
#endif
    why = std::string(KindDescription(kind)) + " hold no elevation grid";
    return false;
}

bool DecodeTileDxt(Kind kind, Bytes& payload, int id, Layout layout, DxtTexture& texture, std::string& why) {
    if (kind == Kind::Dem) {
        why = "an elevation grid has no texture; use --kind dom for the orthophotos";
        return false;
    }
    TileInfo info;
    if (kind == Kind::Dds) {
        // Stored textures are standard DDS data already.
        if (!DecodeTileLayout(kind, payload, id, Layout::Default, texture.blocks, info, why)) return false;
        format::DdsFileHeader dds;
        format::ReadDdsFileHeader(payload.data(), payload.size(), info.leadingByte, dds);
        texture = {dds.width, dds.height, dds.mipCount, dds.dxt5, std::move(texture.blocks)};
        return true;
    }
    Layout want = layout;
    if (want != Layout::Dxt1 && want != Layout::Dxt1Mips && want != Layout::Dxt5Mips) {
        // By default: the chain of the payload's own kind, DXT5 where it
        // carries alpha (the DXT1 chain for orthophotos and terrain images).
        want = Layout::Dxt1Mips;
        if (kind == Kind::Image) {
            format::ImageEnvelope e;
            const bool leading = kind::ImageHasLeadingByte(payload.data(), payload.size());
            if (format::ReadImageEnvelope(payload.data(), payload.size(), leading, e) == Refusal::kNone &&
                e.hasAlpha)
                want = Layout::Dxt5Mips;
        }
        if (kind == Kind::Image2) want = Layout::Default;
    }
    if (!DecodeTileLayout(kind, payload, id, want, texture.blocks, info, why)) return false;
    texture.width = info.width;
    texture.height = info.height;
    texture.dxt5 = want == Layout::Dxt5Mips || (want == Layout::Default && info.channels == 4);
    texture.mipCount = want == Layout::Dxt1 ? 1 : payloads::MipLevelCount(info.width, info.height);
    payloads::SwapRedBlueInDxt(texture.blocks.data(), texture.blocks.size(), texture.dxt5);
    return true;
}

bool DecodeTileImage(Kind kind, Bytes& payload, int tileSize, int id, Image& image, std::string& why) {
    (void)tileSize;  // elevation grids are drawn by the current edition only
    Bytes out;
    TileInfo info;
    switch (kind) {
        case Kind::Image:
        case Kind::Terrain:
        case Kind::Dom:
            if (!DecodeTileLayout(kind, payload, id, Layout::Default, out, info, why)) return false;
            if (out.size() == static_cast<size_t>(info.width) * info.height * 4)
                image = payloads::FromBgra(out.data(), info.width, info.height);
            else
                image = payloads::FromBgr(out.data(), info.width, info.height);
            return true;
        case Kind::Image2:
            if (!DecodeTileLayout(kind, payload, id, Layout::Default, out, info, why)) return false;
            image = payloads::FromBgra(payloads::DecodeDxt(out.data(), info.width, info.height, info.channels == 4)
                                           .rgba.data(),
                                       info.width, info.height);
            return true;
        case Kind::Dds: {
            DxtTexture texture;
            if (!DecodeTileDxt(kind, payload, id, Layout::Default, texture, why)) return false;
            image = payloads::DecodeDxt(texture.blocks.data(), texture.width, texture.height, texture.dxt5);
            return true;
        }
        case Kind::Dem: {
#if !defined(VELTRANE_EDITION_TERRAIN)
            if (!ElevationGridOf(kind, payload, out, why)) return false;
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

// The library's verdict on a payload of `kind`: every decode member a host
// would call for it succeeds, into the layout a host would ask for first.
bool VerifyPayload(Kind kind, Bytes& payload, std::string& why) {
    Bytes out;
    TileInfo info;
#if !defined(VELTRANE_EDITION_TERRAIN)
    if (kind == Kind::Dem || kind == Kind::Dom) {
        unsigned tag = 0;
        const Refusal r = format::ReadPacketTag(payload.data(), payload.size(), tag);
        if (r != Refusal::kNone) return Refuse(r, why);
        std::vector<int> ids;
        if (tag == format::kElevationTag && !PacketGrid(payload, out, why)) return false;
        if (tag == format::kOrthophotoTag && !OrthophotoIds(payload, ids, why)) return false;
        if (tag == format::kElevationTag) OrthophotoIds(payload, ids, why);  // a grid may come alone
        if (tag == format::kOrthophotoTag && ids.empty()) return Refuse(Refusal::kNoOrthophotoSection, why);
        for (int id : ids)
            if (!DomLayout(payload, id, Layout::Default, out, info, why)) return false;
        return true;
    }
#else
    if (kind == Kind::Terrain && !TerrainSections(payload, why, nullptr)) return false;
#endif
#if !defined(VELTRANE_EDITION_TERRAIN)
    if (kind == Kind::Dds) return DdsLayout(payload, out, info, why);  // the library copies, it reads no header
#endif
    if (kind == Kind::Image || kind == Kind::Image2 || kind == Kind::Terrain)
        return DecodeTileLayout(kind, payload, -1, Layout::Default, out, info, why);
    why = std::string("--kind ") + KindName(kind) + " is not read by this edition";
    return false;
}

}  // namespace cli
}  // namespace vt
