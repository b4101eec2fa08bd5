// The layouts of every tile payload kind, parsed in one place: the library's
// decode members and the command-line tool both read payloads through these
// functions, so that both judge a payload by the same rules and name what is
// wrong with it in the same terms (Refusal).
//
// Each function checks every offset against the payload's length (in 64
// bits, so no sum wraps) before it reads a field, reads nothing outside the
// payload, and returns kNone or the first reason it finds. Parsing is
// structure only: whether a stream decodes is for the decoders to say.
//
// Integers are little-endian and unaligned throughout.
#ifndef VELTRANE_FORMAT_PAYLOAD_FORMAT_H
#define VELTRANE_FORMAT_PAYLOAD_FORMAT_H

#include <cstdint>

namespace vt {
namespace format {

// Why a payload (or the part of it asked for) cannot be read.
enum class Refusal : std::uint8_t {
    kNone = 0,
    kNoPayload,                  // no bytes at all
    kTooShort,                   // shorter than the fixed fields of its layout
    // Image payload envelope.
    kPrimaryLengthNotPositive,   // P <= 0
    kPrimaryPastEnd,             // P > payload length - 5
    kUnknownCodec,               // no alpha stream and a codec byte other than 0 or 1
    kNoImageSize,                // the color stream's header gives no usable image size
    kOutputNotProduced,          // the payload does not give the output type asked for
    kColorStreamUndecodable,     // the color stream does not decode
    kAlphaNotInflating,          // the alpha stream does not inflate to width x height bytes
    kScratchUnavailable,         // a scratch image could not be allocated
    // Second-generation image payload.
    kColorStreamPastEnd,         // 6 + N > payload length
    kColorStreamLength,          // N shorter than a compact JPEG header, or beyond 2^31 - 1
    kAlphaBlockPastEnd,          // the alpha block's two lengths run past the payload
    kAlphaSizeMismatch,          // alphaRawLength differs from width x height
    kAlphaStreamPastEnd,         // the alpha stream runs past the payload
    // DEM/DOM packet.
    kNotAPacket,                 // byte 1 tags neither an elevation nor an orthophoto section
    kNoElevationSection,         // the packet starts with another section
    kElevationPastEnd,           // the elevation section runs past the packet
    kElevationNotInflating,      // the grid does not inflate to its stated size
    kNoOrthophotoSection,        // no orthophoto section where one must stand
    kOrthophotoPastEnd,          // an orthophoto entry or its code stream runs past the packet
    kNoSuchOrthophoto,           // no orthophoto with the id asked for
    // Terrain payload.
    kTerrainImagePastEnd,        // the terrain image runs past the payload
    kSectionAbsent,              // the section's presence bit is clear
    kSectionPastEnd,             // the section, or one in front of it, runs past the payload
    kSectionNotInflating,        // the section does not inflate to its stated size
    // Orthophotos and terrain images.
    kFixedTileUndecodable,       // not a decodable 256 x 256 JPEG 2000 image
    // DDS payload.
    kDdsBodyTooShort,            // shorter than the bytes a copy steps over
    kNotADdsFile,                // no "DDS " file with a 124-byte header behind the descriptor values
    kDdsNotDxt,                  // the DDS texture is neither DXT1 nor DXT5
    kDdsSizeOutOfRange,          // texture size or mip count out of range
    kDdsDataCutShort,            // less texture data than the header describes
};

// The reason in a few words, for messages ("primary stream length is not
// positive").
const char* RefusalText(Refusal refusal);

//----------------------------------------------------------------------------
// Image payload envelope, t = 1 with the leading tag byte, L = length - t:
//   t        1  codec byte: 0 compact JPEG, 1 JPEG 2000
//   t + 1    4  primary length P (signed)
//   t + 5    P  primary (color) stream
//   t + 5 + P   alpha stream (zlib), present when L - 5 - P > 0
// A payload with an alpha stream carries a compact JPEG color stream whatever
// its codec byte says, and its alpha is inflated only for codec byte 0 (older
// writers stored other codec bytes there and expect opaque output). A payload
// without alpha must name codec 0 or 1: its size and its pixels both come
// from the codec it names.
struct ImageEnvelope {
    std::int32_t primaryLength = 0;  // P as stored (also on a refusal, once read)
    unsigned char codec = 0;
    std::uint64_t primaryOffset = 0;
    bool hasAlpha = false;
    std::uint64_t alphaOffset = 0;
    std::uint64_t alphaLength = 0;

    bool UsesCompactJpeg() const { return hasAlpha || codec == 0; }
    bool InflatesAlpha() const { return hasAlpha && codec == 0; }
};
Refusal ReadImageEnvelope(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte,
                          ImageEnvelope& out);

// Whether an image payload gives the output type (an OutputType value):
// payloads with alpha the DXT5 chain and 4-byte pixels, the others the DXT1
// level and chain, 3-byte and 5:6:5 pixels; values outside the enumeration
// nothing.
bool ImageGivesOutput(bool hasAlpha, int outputType);

//----------------------------------------------------------------------------
// Second-generation image payload:
//   0        1  not read
//   1        1  alphaFlag: 1 = an alpha block follows the color stream
//   2        4  N, color stream length (unsigned)
//   6        N  compact JPEG stream
//   6 + N    4  alphaRawLength, must equal width x height
//   10 + N   4  A, zlib stream length
//   14 + N   A  zlib stream of the alpha plane
constexpr std::uint64_t kNewImageColorOffset = 6;

struct NewImageEnvelope {
    bool hasAlpha = false;
    std::uint64_t colorLength = 0;  // N
};
Refusal ReadNewImageEnvelope(const unsigned char* payload, std::uint64_t length, NewImageEnvelope& out);

struct NewImageAlpha {
    std::uint32_t rawLength = 0;
    std::uint64_t streamOffset = 0;
    std::uint64_t streamLength = 0;  // A
};
// The alpha block of a payload whose envelope says it has one, for an image
// of `pixelCount` pixels.
Refusal ReadNewImageAlpha(const unsigned char* payload, std::uint64_t length, const NewImageEnvelope& envelope,
                          std::uint64_t pixelCount, NewImageAlpha& out);

//----------------------------------------------------------------------------
// DDS payload: [tag byte, t] three u32 descriptor values, then the body: in
// the current layout a whole DDS file (the 4-byte magic and the 124-byte
// header, then the texture data), in the old layout the texture data alone.
constexpr std::uint64_t kDdsDescriptorBytes = 12;
constexpr std::uint64_t kDdsFileStart = 128;

struct DdsPayload {
    std::uint32_t value1 = 0, value2 = 0, value3 = 0;
    std::uint64_t bodyOffset = 0;  // t + 12
};
Refusal ReadDdsPayload(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte, DdsPayload& out);

// Where the texture data of a DDS payload starts: behind the descriptor
// values, and behind the DDS file start as well in the current layout.
Refusal DdsTextureOffset(std::uint64_t length, bool hasLeadingByte, bool currentLayout, std::uint64_t& offset);

// The DDS file inside a current-layout payload, as far as a reader of its
// texture needs it (the library copies it without looking).
struct DdsFileHeader {
    int width = 0, height = 0, mipCount = 1;
    bool dxt5 = false;
    std::uint64_t dataOffset = 0, dataLength = 0;  // within the payload
};
Refusal ReadDdsFileHeader(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte,
                          DdsFileHeader& out);

//----------------------------------------------------------------------------
// DEM/DOM packet: byte 0 the leading tag byte, byte 1 the first section's tag
// (1 elevation, 2 orthophotos).
//   Elevation section: U (inflated size) at 2, Z (stream length) at 6, Z
//   bytes of zlib stream at 10; an orthophoto section may follow at 10 + Z.
//   Orthophoto section: tag 2, count N (1 byte), N entries of id (1 byte),
//   S (u32) and S bytes of JPEG 2000 code stream.
constexpr unsigned kElevationTag = 1;
constexpr unsigned kOrthophotoTag = 2;

// The tag at byte 1: kNotAPacket unless it is 1 or 2.
Refusal ReadPacketTag(const unsigned char* packet, std::uint64_t length, unsigned& tag);

struct ElevationSection {
    std::uint32_t inflatedSize = 0;
    std::uint32_t streamLength = 0;
    std::uint64_t streamOffset = 10;
};
Refusal FindElevationSection(const unsigned char* packet, std::uint64_t length, ElevationSection& out);

struct OrthophotoSection {
    std::uint64_t firstEntry = 0;
    unsigned count = 0;
};
Refusal FindOrthophotoSection(const unsigned char* packet, std::uint64_t length, OrthophotoSection& out);

struct OrthophotoEntry {
    unsigned id = 0;
    std::uint64_t streamOffset = 0;
    std::uint64_t streamLength = 0;
    std::uint64_t next = 0;  // where the following entry starts
};
Refusal ReadOrthophotoEntry(const unsigned char* packet, std::uint64_t length, std::uint64_t offset,
                            OrthophotoEntry& out);

//----------------------------------------------------------------------------
// Terrain payload: 5 bytes of terrain version, the presence flags F at 5, the
// terrain image length L at 6, L bytes of JPEG 2000 code stream at 10, then
// the sections whose bits are set in F, back to back in bit order, each U
// (inflated size), Z (stream length) and Z bytes of zlib stream. Bits 0x20,
// 0x40 and 0x80 mean nothing.
constexpr unsigned kIndexSectionBit = 0x01;
constexpr unsigned kTinyIndexSectionBit = 0x02;
constexpr unsigned kShapeIndexSectionBit = 0x04;
constexpr unsigned kRoadIndexSectionBit = 0x08;
constexpr unsigned kElevationSectionBit = 0x10;
constexpr unsigned kTerrainSectionBits[5] = {kIndexSectionBit, kTinyIndexSectionBit, kShapeIndexSectionBit,
                                             kRoadIndexSectionBit, kElevationSectionBit};
extern const char* const kTerrainSectionNames[5];  // "index", ..., "elevation", in bit order

struct TerrainImage {
    unsigned flags = 0;
    std::uint64_t streamOffset = 10;
    std::uint64_t streamLength = 0;
};
Refusal FindTerrainImage(const unsigned char* payload, std::uint64_t length, TerrainImage& out);

struct TerrainSection {
    std::uint32_t inflatedSize = 0;
    std::uint32_t streamLength = 0;
    std::uint64_t streamOffset = 0;
};
// The section of presence bit `bit` (one of kTerrainSectionBits).
Refusal FindTerrainSection(const unsigned char* payload, std::uint64_t length, unsigned bit, TerrainSection& out);

}  // namespace format
}  // namespace vt

#endif  // VELTRANE_FORMAT_PAYLOAD_FORMAT_H
