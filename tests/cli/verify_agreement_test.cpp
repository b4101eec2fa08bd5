// `veltrane verify` and the library agree on every tile: verify calls a tile
// bad exactly when the library's own members refuse it, on the sample
// pyramids and on damaged copies of them, and where the payload's layout is
// at fault it says so in the library's terms (format::RefusalText).
//
// The library's verdict is reached here through the public API alone, as a
// host reaches it, with the payload parser only for what a host must be
// told (the leading tag byte, which terrain sections are present). Each
// edition's program covers the kinds that edition reads; `veltrane` hands
// terrain payloads to `veltrane-terrain` by itself.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <sys/wait.h>

#include "PayloadKind.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "format/PayloadFormat.h"
#include "support/TempDir.h"

namespace {

using Bytes = std::vector<unsigned char>;
using vt::format::Refusal;
using vt::kind::Kind;

struct Tile {
    int level, x, y;
    bool operator<(const Tile& o) const {
        return std::array<int, 3>{level, x, y} < std::array<int, 3>{o.level, o.x, o.y};
    }
};
std::string Name(const Tile& t) {
    return std::to_string(t.level) + "/" + std::to_string(t.x) + "/" + std::to_string(t.y);
}

// Runs a command, returns its standard output and exit status.
std::string Run(const std::string& command, int& status) {
    std::string out;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    status = ::pclose(pipe);
    return out;
}

const vt::test::TempDir& Samples() {
    static const vt::test::TempDir dir;
    static const bool written = [] {
        int status = -1;
        Run(std::string(VT_VELTRANE_TOOL) + " sample " + dir.path(), status);
        return status == 0;
    }();
    EXPECT_TRUE(written) << "veltrane sample failed";
    return dir;
}

// ---- the pyramid file, as far as a damaging test needs it -----------------------

struct Pyramid {
    Bytes bytes;
    int levels = 0;

    // The byte offset of a tile's 12-byte index entry (offset u64, size u32).
    size_t Entry(const Tile& t) const {
        uint64_t number = 0;
        for (int j = t.level + 1; j < levels; ++j) number += uint64_t{1} << (2 * j);
        number += (static_cast<uint64_t>(t.y) << t.level) + static_cast<uint64_t>(t.x);
        return static_cast<size_t>(320 + 12 * number);
    }
    uint64_t Offset(const Tile& t) const {
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i) v = v << 8 | bytes[Entry(t) + i];
        return v;
    }
    uint32_t Size(const Tile& t) const {
        uint32_t v;
        std::memcpy(&v, &bytes[Entry(t) + 8], 4);
        return v;
    }
    void SetSize(const Tile& t, uint32_t size) { std::memcpy(&bytes[Entry(t) + 8], &size, 4); }
    unsigned char* Payload(const Tile& t) { return &bytes[static_cast<size_t>(Offset(t))]; }
    std::vector<Tile> Present() const {
        std::vector<Tile> tiles;
        for (int l = 0; l < levels; ++l)
            for (int y = 0; y < (1 << l); ++y)
                for (int x = 0; x < (1 << l); ++x)
                    if (Size({l, x, y}) > 0) tiles.push_back({l, x, y});
        return tiles;
    }
};

Pyramid Load(const std::string& path) {
    Pyramid p;
    p.bytes = vt::test::ReadAll(path);
    std::memcpy(&p.levels, &p.bytes[316], 4);  // indexLevels, the header's last field
    return p;
}

void PutU32(unsigned char* at, uint32_t v) { std::memcpy(at, &v, 4); }
uint32_t GetU32(const unsigned char* at) {
    uint32_t v;
    std::memcpy(&v, at, 4);
    return v;
}

// ---- the library's verdict ---------------------------------------------------------

bool LibraryDecodes(CVeltrane& reader, Kind kind, Bytes& p) {
    unsigned char* data = p.data();
    const unsigned long n = static_cast<unsigned long>(p.size());
    unsigned long channels = 0, w = 0, h = 0;
    Bytes out;
    switch (kind) {
        case Kind::Image: {
            const bool leading = vt::kind::ImageHasLeadingByte(data, n);
            if (!reader.GetCompressDataInfo(data, n, channels, w, h, leading)) return false;
            out.resize(w * h * channels);
            return reader.DecodeImage(data, n, out.data(), channels == 4 ? OutputRGBA : OutputRGB, leading);
        }
#if !defined(VELTRANE_EDITION_TERRAIN)
        case Kind::Image2:
            if (!reader.GetNewCompressDataInfo(data, n, channels, w, h)) return false;
            out.resize(static_cast<size_t>(vt::dxt::DxtMipChainBytes(static_cast<int>(w), static_cast<int>(h),
                                                                     vt::dxt::kDxt5)));
            return reader.DecodeNewImage(data, n, out.data(), channels == 4 ? OutputDXT5Mipmaps : OutputDXT1Mipmaps);
        case Kind::Dem:
        case Kind::Dom: {
            unsigned tag = 0;
            if (vt::format::ReadPacketTag(data, n, tag) != Refusal::kNone) return false;
            if (tag == vt::format::kElevationTag) {
                out.resize(static_cast<size_t>(CVeltrane::GetDEMBufferSize(data, n)) + 1);
                if (!CVeltrane::GetDEMBuffer(data, n, out.data())) return false;
            }
            int ids[256];
            const int count = CVeltrane::GetDOMCount(data, n, ids);
            if (tag == vt::format::kOrthophotoTag && count == 0) return false;
            out.resize(256 * 256 * 4);
            for (int i = 0; i < count; ++i)
                if (!CVeltrane::GetDOMBuffer(data, n, ids[i], out.data(), OutputRGBA)) return false;
            return true;
        }
        case Kind::Dds: {
            const bool leading = vt::kind::DdsHasLeadingByte(data, n);
            unsigned long v1, v2, v3;
            out.resize(n + 1);
            return reader.GetDDSDataInfo(data, n, v1, v2, v3, leading) &&
                   reader.DecodeDDSImage(data, n, out.data(), leading);
        }
#else
        case Kind::Terrain: {
            out.resize(256 * 256 * 3);
            if (!reader.DecodeImageTerrian(data, n, out.data(), OutputRGB)) return false;
            vt::format::TerrainImage image;
            vt::format::FindTerrainImage(data, n, image);
            using Size = int (CVeltrane::*)(unsigned char*, unsigned long);
            using Get = bool (CVeltrane::*)(unsigned char*, unsigned long, unsigned char*);
            const std::array<std::pair<Size, Get>, 5> getters = {
                {{&CVeltrane::GetIndexBufferSize, &CVeltrane::GetIndexBuffer},
                 {&CVeltrane::GetTinyIndexBufferSize, &CVeltrane::GetTinyIndexBuffer},
                 {&CVeltrane::GetShapeIndexBufferSize, &CVeltrane::GetShapeIndexBuffer},
                 {&CVeltrane::GetRoadIndexBufferSize, &CVeltrane::GetRoadIndexBuffer},
                 {&CVeltrane::GetDEMTBufferSize, &CVeltrane::GetDEMBuffer}}};
            for (int k = 0; k < 5; ++k) {
                if (!(image.flags & vt::format::kTerrainSectionBits[k])) continue;
                out.assign(static_cast<size_t>((reader.*getters[k].first)(data, n)) + 1, 0);
                if (!(reader.*getters[k].second)(data, n, out.data())) return false;
            }
            return true;
        }
#endif
        default:
            return false;
    }
}

// The tiles the library refuses: their payload cannot be read, or a member
// refuses it.
std::set<Tile> LibraryRefuses(const std::string& path, Kind kind) {
    std::set<Tile> bad;
    CVeltrane reader;
    EXPECT_TRUE(reader.Veltrane(path.c_str())) << path;
    for (int l = 0; l < reader.GetMaxLevel(); ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                int size = 0;
                if (!reader.GetBlockImageSize(l, x, y, size) || size == 0) continue;  // missing
                Bytes payload(static_cast<size_t>(size > 0 && size < (64 << 20) ? size : 1));
                int got = size;
                if (size < 0 || size >= (64 << 20) || !reader.GetImage(l, x, y, payload.data(), got) ||
                    got != size || !LibraryDecodes(reader, kind, payload))
                    bad.insert({l, x, y});
            }
    return bad;
}

// `veltrane verify --kind K FILE`: the tiles it calls bad, with its reasons.
std::map<Tile, std::string> VerifyCallsBad(const std::string& path, Kind kind) {
    int status = -1;
    const std::string out =
        Run(std::string(VT_VELTRANE_TOOL) + " verify --kind " + vt::kind::KindName(kind) + " " + path, status);
    std::map<Tile, std::string> bad;
    const std::regex line("BAD .* tile ([0-9]+)/([0-9]+)/([0-9]+): (.*)");
    size_t start = 0;
    for (size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        std::smatch m;
        const std::string text = out.substr(start, end - start);
        if (std::regex_match(text, m, line))
            bad[{std::stoi(m[1]), std::stoi(m[2]), std::stoi(m[3])}] = m[4];
    }
    EXPECT_EQ(WEXITSTATUS(status), bad.empty() ? 0 : 1) << out;
    return bad;
}

// The layout refusal of a payload as the library's parser names it (kNone
// where the layout is sound and a decode step refused).
Refusal LayoutRefusal(Kind kind, const Bytes& p) {
    switch (kind) {
        case Kind::Image: {
            vt::format::ImageEnvelope e;
            return vt::format::ReadImageEnvelope(p.data(), p.size(), vt::kind::ImageHasLeadingByte(p.data(), p.size()),
                                                 e);
        }
        case Kind::Image2: {
            vt::format::NewImageEnvelope e;
            return vt::format::ReadNewImageEnvelope(p.data(), p.size(), e);
        }
        case Kind::Dem: {
            unsigned tag;
            return vt::format::ReadPacketTag(p.data(), p.size(), tag);
        }
        case Kind::Terrain: {
            vt::format::TerrainImage image;
            return vt::format::FindTerrainImage(p.data(), p.size(), image);
        }
        default:
            return Refusal::kNone;
    }
}

// Writes `pyramid` as `name`, checks the agreement on it, and returns how many
// tiles were refused (so that a damaging step can be seen to bite).
size_t ExpectAgreement(const vt::test::TempDir& dir, const std::string& name, Pyramid& pyramid, Kind kind) {
    SCOPED_TRACE(name);
    const std::string path = dir.Write(name, pyramid.bytes);
    const std::map<Tile, std::string> verify = VerifyCallsBad(path, kind);
    const std::set<Tile> library = LibraryRefuses(path, kind);
    std::set<Tile> verifyTiles;
    for (const auto& entry : verify) verifyTiles.insert(entry.first);
    for (const Tile& t : library) EXPECT_TRUE(verifyTiles.count(t)) << "verify passes tile " << Name(t);
    for (const Tile& t : verifyTiles)
        EXPECT_TRUE(library.count(t)) << "verify calls tile " << Name(t) << " bad: " << verify.at(t);
    for (const auto& entry : verify) {
        const Tile& t = entry.first;
        if (t.level >= pyramid.levels || pyramid.Offset(t) + pyramid.Size(t) > pyramid.bytes.size()) continue;
        const Bytes payload(pyramid.Payload(t), pyramid.Payload(t) + pyramid.Size(t));
        const Refusal r = LayoutRefusal(kind, payload);
        if (r != Refusal::kNone) {
            EXPECT_NE(entry.second.find(vt::format::RefusalText(r)), std::string::npos)
                << "tile " << Name(t) << ": " << entry.second;
        }
    }
    return library.size();
}

// Every tile with one byte changed at a position that moves from tile to
// tile: damage the test does not choose, of every kind.
void FlipOneByteInEveryTile(Pyramid& p) {
    int k = 0;
    for (const Tile& t : p.Present()) {
        const uint32_t size = p.Size(t);
        p.Payload(t)[(37u * static_cast<uint32_t>(++k) + 5) % size] ^= 0x5A;
    }
}

// ---- the kinds of this edition ----------------------------------------------------------

#if !defined(VELTRANE_EDITION_TERRAIN)

TEST(VerifyAgreement, ImageTiles) {
    const std::string source = Samples().File("image.vtp");
    Pyramid clean = Load(source);
    vt::test::TempDir dir;
    EXPECT_EQ(ExpectAgreement(dir, "clean.vtp", clean, Kind::Image), 0u);

    // Tiles of each sort, as the parser sees them (the samples carry the tag byte).
    std::vector<Tile> alpha, jpeg, j2k;
    for (const Tile& t : clean.Present()) {
        vt::format::ImageEnvelope e;
        ASSERT_EQ(vt::format::ReadImageEnvelope(clean.Payload(t), clean.Size(t), true, e), Refusal::kNone);
        (e.hasAlpha ? alpha : e.codec == 0 ? jpeg : j2k).push_back(t);
    }
    ASSERT_GE(alpha.size(), 3u);
    ASSERT_GE(jpeg.size(), 3u);
    ASSERT_GE(j2k.size(), 2u);

    Pyramid damaged = clean;
    PutU32(damaged.Payload(jpeg[0]) + 2, 0xFFFFFFFFu);  // P = -1
    damaged.Payload(jpeg[1])[1] = 7;                   // no codec
    PutU32(damaged.Payload(jpeg[2]) + 2, GetU32(clean.Payload(jpeg[2]) + 2) - 1);  // 1-byte "alpha stream"
    {
        unsigned char* p = damaged.Payload(alpha[0]);  // the alpha stream's deflate data zeroed
        std::memset(p + 6 + GetU32(p + 2) + 2, 0, 8);
    }
    damaged.Payload(alpha[1])[1] = 2;  // older writers: alpha kept opaque, still read
    damaged.Payload(alpha[2])[1] = 1;  // a JPEG 2000 codec byte with alpha: read as compact JPEG
    damaged.Payload(j2k[0])[1] = 0;    // a JPEG 2000 stream read as compact JPEG
    std::memset(damaged.Payload(j2k[1]) + 200, 0xEE, 64);  // damaged code blocks
    EXPECT_GE(ExpectAgreement(dir, "damaged.vtp", damaged, Kind::Image), 3u);

    Pyramid flipped = clean;
    FlipOneByteInEveryTile(flipped);
    ExpectAgreement(dir, "flipped.vtp", flipped, Kind::Image);

    Pyramid cut = clean;
    cut.bytes.resize(cut.bytes.size() - 3000);  // the last payload cut short
    EXPECT_GE(ExpectAgreement(dir, "cut.vtp", cut, Kind::Image), 1u);
}

TEST(VerifyAgreement, SecondGenerationImageTiles) {
    Pyramid clean = Load(Samples().File("image2.vtp"));
    vt::test::TempDir dir;
    EXPECT_EQ(ExpectAgreement(dir, "clean.vtp", clean, Kind::Image2), 0u);
    std::vector<Tile> alpha, opaque;
    for (const Tile& t : clean.Present()) (clean.Payload(t)[1] == 1 ? alpha : opaque).push_back(t);
    ASSERT_GE(alpha.size(), 2u);
    ASSERT_GE(opaque.size(), 1u);

    Pyramid damaged = clean;
    unsigned char* a = damaged.Payload(alpha[0]);
    PutU32(a + 6 + GetU32(a + 2), GetU32(a + 6 + GetU32(a + 2)) - 1);  // alphaRawLength off by one
    unsigned char* b = damaged.Payload(alpha[1]);
    std::memset(b + 6 + GetU32(b + 2) + 10, 0, 6);  // the alpha stream's header zeroed
    PutU32(damaged.Payload(opaque[0]) + 2, damaged.Size(opaque[0]));  // color stream past the end
    EXPECT_EQ(ExpectAgreement(dir, "damaged.vtp", damaged, Kind::Image2), 3u);

    Pyramid flipped = clean;
    FlipOneByteInEveryTile(flipped);
    ExpectAgreement(dir, "flipped.vtp", flipped, Kind::Image2);
}

TEST(VerifyAgreement, DemDomPackets) {
    Pyramid clean = Load(Samples().File("dem.vtp"));
    vt::test::TempDir dir;
    EXPECT_EQ(ExpectAgreement(dir, "clean.vtp", clean, Kind::Dem), 0u);
    const std::vector<Tile> tiles = clean.Present();
    ASSERT_GE(tiles.size(), 5u);

    Pyramid damaged = clean;
    damaged.Payload(tiles[0])[1] = 3;  // no section tag
    unsigned char* p = damaged.Payload(tiles[1]);
    PutU32(p + 6, damaged.Size(tiles[1]));  // the grid's stream past the end
    p = damaged.Payload(tiles[2]);
    std::memset(p + 12, 0, 8);  // the grid's deflate data zeroed
    p = damaged.Payload(tiles[3]);
    const uint32_t grid = GetU32(p + 6);
    p[10 + grid] = 7;  // the orthophoto section's tag: the grid alone remains, still read
    p = damaged.Payload(tiles[4]);
    PutU32(p + 10 + GetU32(p + 6) + 2 + 1 + 8 + 4, 4096);  // the first orthophoto's image width
    EXPECT_EQ(ExpectAgreement(dir, "damaged.vtp", damaged, Kind::Dem), 4u);

    Pyramid flipped = clean;
    FlipOneByteInEveryTile(flipped);
    ExpectAgreement(dir, "flipped.vtp", flipped, Kind::Dem);
}

TEST(VerifyAgreement, DdsTextures) {
    Pyramid clean = Load(Samples().File("dds.vtp"));
    vt::test::TempDir dir;
    EXPECT_EQ(ExpectAgreement(dir, "clean.vtp", clean, Kind::Dds), 0u);
    const std::vector<Tile> tiles = clean.Present();
    ASSERT_GE(tiles.size(), 2u);
    Pyramid damaged = clean;
    std::memcpy(damaged.Payload(tiles[0]) + 13, "XXXX", 4);  // no DDS magic: copied all the same
    damaged.SetSize(tiles[1], 100);                           // shorter than the bytes stepped over
    EXPECT_EQ(ExpectAgreement(dir, "damaged.vtp", damaged, Kind::Dds), 1u);
}

#else

TEST(VerifyAgreement, TerrainPayloads) {
    Pyramid clean = Load(Samples().File("terrain.vtp"));
    vt::test::TempDir dir;
    EXPECT_EQ(ExpectAgreement(dir, "clean.vtp", clean, Kind::Terrain), 0u);
    const std::vector<Tile> tiles = clean.Present();
    ASSERT_GE(tiles.size(), 5u);

    Pyramid damaged = clean;
    PutU32(damaged.Payload(tiles[0]) + 6, damaged.Size(tiles[0]));  // the image past the end
    unsigned char* p = damaged.Payload(tiles[1]);
    const uint32_t image = GetU32(p + 6);
    PutU32(p + 10 + image + 4, damaged.Size(tiles[1]));  // the index section past the end
    p = damaged.Payload(tiles[2]);
    std::memset(p + 10 + GetU32(p + 6) + 10, 0, 8);  // the index section's deflate data zeroed
    damaged.Payload(tiles[3])[5] |= 0x20;  // a presence bit that means nothing
    p = damaged.Payload(tiles[4]);
    PutU32(p + 10 + 8, 4096);  // the image's width: no longer 256 x 256
    EXPECT_EQ(ExpectAgreement(dir, "damaged.vtp", damaged, Kind::Terrain), 4u);

    Pyramid flipped = clean;
    FlipOneByteInEveryTile(flipped);
    ExpectAgreement(dir, "flipped.vtp", flipped, Kind::Terrain);
}

#endif

}  // namespace
