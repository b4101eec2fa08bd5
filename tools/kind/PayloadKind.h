// Which kind of payload a pyramid file holds. The file does not say (the
// host that wrote it knows); this looks at the structure of the first
// payloads, through the library's own payload parser (format/PayloadFormat.h),
// and takes the kind whose layout they fit. Shared by the command-line tool
// and the GDAL driver; it needs neither, only the payload bytes.
#ifndef VELTRANE_TOOLS_KIND_PAYLOAD_KIND_H
#define VELTRANE_TOOLS_KIND_PAYLOAD_KIND_H

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "Veltrane.h"

namespace vt {
namespace kind {

enum class Kind { Auto, Image, Image2, Dem, Dom, Terrain, Dds };

const char* KindName(Kind kind);         // "image", "image2", "dem", "dom", "terrain", "dds"; "auto"
const char* KindDescription(Kind kind);  // "image tiles (compact JPEG or JPEG 2000, optional alpha)", ...
bool ParseKind(const std::string& name, Kind& kind);
// Whether the terrain edition (Orvanel) reads the kind; the current edition
// reads every other one.
inline bool KindOfTerrainEdition(Kind kind) { return kind == Kind::Terrain; }

// The kind one payload looks like; Auto when it fits none.
Kind GuessPayloadKind(const unsigned char* payload, std::uint64_t length);

// Whether an image payload (or a DDS payload) starts with the leading tag
// byte, as far as its structure tells: the decode members must be told.
bool ImageHasLeadingByte(const unsigned char* payload, std::uint64_t length);
bool DdsHasLeadingByte(const unsigned char* payload, std::uint64_t length);

// Reads the payload of tile (level, column, row) into `payload`; false when
// there is none or it cannot be read.
using TileReader = std::function<bool(int level, int column, int row, std::vector<unsigned char>& payload)>;

// The first present payloads of a pyramid of `levels` levels, coarsest
// level first, row by row: the ones a guess looks at (at most 4).
std::vector<std::vector<unsigned char>> FirstPayloads(int levels, const TileReader& readTile);

// The kind a file's payloads look like; Auto when none fits. Packets with
// and without a grid may mix in one file: a grid anywhere makes it Dem.
Kind GuessKindOf(const std::vector<std::vector<unsigned char>>& payloads);

// Looks at the first present payloads of a pyramid of `levels` levels,
// coarsest first, and names the kind they look like; Auto when nothing fits.
// `evidence` says what was looked at ("from the first 4 payloads").
Kind GuessFileKind(int levels, const TileReader& readTile, std::string& evidence);

// The same through an open reader object.
inline Kind GuessFileKind(CVeltrane& reader, std::string& evidence) {
    return GuessFileKind(
        reader.GetMaxLevel(),
        [&reader](int level, int column, int row, std::vector<unsigned char>& payload) {
            constexpr int kLargestPayload = 256 << 20;  // larger sizes come from damaged entries
            int size = 0;
            if (!reader.GetBlockImageSize(level, column, row, size) || size <= 0 || size > kLargestPayload)
                return false;
            payload.resize(static_cast<std::size_t>(size));
            int got = size;
            return reader.GetImage(level, column, row, payload.data(), got) && got == size;
        },
        evidence);
}

}  // namespace kind
}  // namespace vt

#endif  // VELTRANE_TOOLS_KIND_PAYLOAD_KIND_H
