// Payload kinds by structure. Each kind's layout is read by the library's own
// parser; on top of that a kind must look like itself where the parser does
// not look (a JPEG 2000 code stream starts with SOC and SIZ, a zlib stream
// with a valid header, a compact JPEG header gives a size), since the
// layouts are close enough that random bytes of one kind can parse as
// another.
#include "PayloadKind.h"

#include "format/PayloadFormat.h"

namespace vt {
namespace kind {

namespace {

using format::Refusal;

struct KindText {
    Kind kind;
    const char* name;
    const char* description;
};

constexpr KindText kKinds[] = {
    {Kind::Auto, "auto", "unknown payloads"},
    {Kind::Image, "image", "image tiles (compact JPEG or JPEG 2000, optional alpha)"},
    {Kind::Image2, "image2", "second-generation image tiles"},
    {Kind::Dem, "dem", "DEM/DOM packets with an elevation grid"},
    {Kind::Dom, "dom", "DEM/DOM packets with orthophotos only"},
    {Kind::Terrain, "terrain", "terrain payloads"},
    {Kind::Dds, "dds", "DDS textures"},
};

const KindText& TextOf(Kind kind) {
    for (const KindText& k : kKinds)
        if (k.kind == kind) return k;
    return kKinds[0];
}

bool Fits(std::uint64_t length, std::uint64_t offset, std::uint64_t count) {
    return offset <= length && count <= length - offset;
}

// SOC marker followed by the SIZ marker (ITU-T T.800 A.4.1, A.5.1).
bool LooksLikeJ2k(const unsigned char* payload, std::uint64_t length, std::uint64_t offset, std::uint64_t count) {
    if (!Fits(length, offset, count) || count < 4) return false;
    const unsigned char* p = payload + offset;
    return p[0] == 0xFF && p[1] == 0x4F && p[2] == 0xFF && p[3] == 0x51;
}

// RFC 1950: deflate method, header check bits.
bool LooksLikeZlib(const unsigned char* payload, std::uint64_t length, std::uint64_t offset, std::uint64_t count) {
    if (!Fits(length, offset, count) || count < 2) return false;
    const unsigned char* p = payload + offset;
    return (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && ((p[0] << 8) | p[1]) % 31 == 0;
}

// A compact JPEG header with a size, and at least one byte of data.
bool LooksLikeCompactJpeg(const unsigned char* payload, std::uint64_t length, std::uint64_t offset,
                          std::uint64_t count) {
    if (!Fits(length, offset, count) || count < 7) return false;
    const unsigned char* p = payload + offset;
    return (p[0] | p[1]) != 0 && (p[2] | p[3]) != 0;
}

// The envelope read with or without the tag byte, and whether its streams
// look like what the envelope says they are.
bool ImageFits(const unsigned char* payload, std::uint64_t length, bool leadingByte, bool& looksRight) {
    format::ImageEnvelope e;
    if (format::ReadImageEnvelope(payload, length, leadingByte, e) != Refusal::kNone) return false;
    const std::uint64_t primaryLength = static_cast<std::uint64_t>(e.primaryLength);
    looksRight = e.UsesCompactJpeg() ? LooksLikeCompactJpeg(payload, length, e.primaryOffset, primaryLength)
                                     : LooksLikeJ2k(payload, length, e.primaryOffset, primaryLength);
    if (e.InflatesAlpha()) looksRight = looksRight && LooksLikeZlib(payload, length, e.alphaOffset, e.alphaLength);
    return true;
}

bool LooksLikeTerrain(const unsigned char* payload, std::uint64_t length) {
    format::TerrainImage image;
    if (format::FindTerrainImage(payload, length, image) != Refusal::kNone) return false;
    // A terrain payload's image starts at offset 10; an image envelope's at
    // 5 or 6, so the two never both fit. Flag bits above the five sections
    // are not set by writers.
    if ((image.flags & 0xE0) != 0 || !LooksLikeJ2k(payload, length, image.streamOffset, image.streamLength))
        return false;
    for (unsigned bit : format::kTerrainSectionBits) {
        if ((image.flags & bit) == 0) continue;
        format::TerrainSection section;
        if (format::FindTerrainSection(payload, length, bit, section) != Refusal::kNone ||
            !LooksLikeZlib(payload, length, section.streamOffset, section.streamLength) ||
            section.inflatedSize > (64u << 20)) {
            return false;
        }
    }
    return true;
}

// A DEM/DOM packet: an elevation section whose grid has a plausible size,
// an orthophoto section of JPEG 2000 images, or both (the orthophotos behind
// the grid). Returns Dem, Dom or Auto.
Kind PacketKind(const unsigned char* payload, std::uint64_t length) {
    unsigned tag = 0;
    if (format::ReadPacketTag(payload, length, tag) != Refusal::kNone) return Kind::Auto;
    bool grid = false;
    if (tag == format::kElevationTag) {
        format::ElevationSection e;
        if (format::FindElevationSection(payload, length, e) != Refusal::kNone ||
            !LooksLikeZlib(payload, length, e.streamOffset, e.streamLength) || e.inflatedSize < 1 ||
            e.inflatedSize > 1 + 4u * 255 * 255) {
            return Kind::Auto;
        }
        if (e.streamOffset + e.streamLength == length) return Kind::Dem;  // the grid alone
        grid = true;
    }
    format::OrthophotoSection section;
    if (format::FindOrthophotoSection(payload, length, section) != Refusal::kNone) return Kind::Auto;
    std::uint64_t offset = section.firstEntry;
    for (unsigned i = 0; i < section.count; ++i) {
        format::OrthophotoEntry entry;
        if (format::ReadOrthophotoEntry(payload, length, offset, entry) != Refusal::kNone ||
            !LooksLikeJ2k(payload, length, entry.streamOffset, entry.streamLength)) {
            return Kind::Auto;
        }
        offset = entry.next;
    }
    if (grid) return Kind::Dem;
    return section.count > 0 ? Kind::Dom : Kind::Auto;
}

// A second-generation payload with an alpha block. Without one it is byte
// for byte an image envelope behind a tag byte, and taken as that.
bool LooksLikeImage2WithAlpha(const unsigned char* payload, std::uint64_t length) {
    format::NewImageEnvelope e;
    if (format::ReadNewImageEnvelope(payload, length, e) != Refusal::kNone || !e.hasAlpha ||
        !LooksLikeCompactJpeg(payload, length, format::kNewImageColorOffset, e.colorLength)) {
        return false;
    }
    const unsigned char* header = payload + format::kNewImageColorOffset;
    const std::uint64_t pixels = static_cast<std::uint64_t>(header[0] | header[1] << 8) *
                                 static_cast<std::uint64_t>(header[2] | header[3] << 8);
    format::NewImageAlpha alpha;
    return format::ReadNewImageAlpha(payload, length, e, pixels, alpha) == Refusal::kNone &&
           LooksLikeZlib(payload, length, alpha.streamOffset, alpha.streamLength);
}

}  // namespace

const char* KindName(Kind kind) { return TextOf(kind).name; }

const char* KindDescription(Kind kind) { return TextOf(kind).description; }

bool ParseKind(const std::string& name, Kind& kind) {
    for (const KindText& k : kKinds)
        if (name == k.name) {
            kind = k.kind;
            return true;
        }
    return false;
}

bool ImageHasLeadingByte(const unsigned char* payload, std::uint64_t length) {
    bool looksRightWithout = false, looksRightWith = false;
    const bool without = ImageFits(payload, length, false, looksRightWithout);
    const bool with = ImageFits(payload, length, true, looksRightWith);
    if (without && looksRightWithout) return false;
    if (with && looksRightWith) return true;
    if (without != with) return with;
    // Neither reading (or both) fits: the one that gets further is the one
    // whose codec byte, at offset 0 or 1, names a codec.
    return length > 1 && payload != nullptr && payload[1] <= 1;
}

bool DdsHasLeadingByte(const unsigned char* payload, std::uint64_t length) {
    auto magicAt = [&](std::uint64_t at) {
        return Fits(length, at, 4) && payload[at] == 'D' && payload[at + 1] == 'D' && payload[at + 2] == 'S' &&
               payload[at + 3] == ' ';
    };
    return payload != nullptr && !magicAt(format::kDdsDescriptorBytes) && magicAt(format::kDdsDescriptorBytes + 1);
}

Kind GuessPayloadKind(const unsigned char* payload, std::uint64_t length) {
    if (payload == nullptr || length == 0) return Kind::Auto;
    if (LooksLikeTerrain(payload, length)) return Kind::Terrain;
    format::DdsFileHeader dds;
    if (format::ReadDdsFileHeader(payload, length, DdsHasLeadingByte(payload, length), dds) == Refusal::kNone)
        return Kind::Dds;
    const Kind packet = PacketKind(payload, length);
    if (packet != Kind::Auto) return packet;
    if (LooksLikeImage2WithAlpha(payload, length)) return Kind::Image2;
    bool looksRight = false;
    if (ImageFits(payload, length, ImageHasLeadingByte(payload, length), looksRight) && looksRight)
        return Kind::Image;
    return Kind::Auto;
}

std::vector<std::vector<unsigned char>> FirstPayloads(int levels, const TileReader& readTile) {
    constexpr std::size_t kPayloadsLookedAt = 4;
    std::vector<std::vector<unsigned char>> found;
    std::vector<unsigned char> payload;
    for (int level = 0; level < levels && level < 31 && found.size() < kPayloadsLookedAt; ++level) {
        const int n = 1 << level;
        for (int y = 0; y < n && found.size() < kPayloadsLookedAt; ++y)
            for (int x = 0; x < n && found.size() < kPayloadsLookedAt; ++x) {
                payload.clear();
                if (readTile(level, x, y, payload) && !payload.empty()) found.push_back(payload);
            }
    }
    return found;
}

Kind GuessKindOf(const std::vector<std::vector<unsigned char>>& payloads) {
    Kind found = Kind::Auto;
    for (const std::vector<unsigned char>& payload : payloads) {
        const Kind kind = GuessPayloadKind(payload.data(), payload.size());
        if (kind == Kind::Auto) continue;
        if (found == Kind::Auto || (found == Kind::Dom && kind == Kind::Dem)) found = kind;
    }
    return found;
}

Kind GuessFileKind(int levels, const TileReader& readTile, std::string& evidence) {
    const std::vector<std::vector<unsigned char>> payloads = FirstPayloads(levels, readTile);
    evidence = payloads.empty() ? "no readable payload"
                                : "from the first " + std::to_string(payloads.size()) + " payloads";
    return GuessKindOf(payloads);
}

}  // namespace kind
}  // namespace vt
