// The payload layouts (see PayloadFormat.h for each one's fields).
#include "format/PayloadFormat.h"

#include <cstring>

#include "format/ByteReader.h"

namespace vt {
namespace format {

using bytes::ByteSpan;
using bytes::LoadU32LE;

const char* RefusalText(Refusal refusal) {
    switch (refusal) {
        case Refusal::kNone: return "readable";
        case Refusal::kNoPayload: return "empty payload";
        case Refusal::kTooShort: return "payload too short for its layout";
        case Refusal::kPrimaryLengthNotPositive: return "primary stream length is not positive";
        case Refusal::kPrimaryPastEnd: return "primary stream length runs past the payload";
        case Refusal::kUnknownCodec: return "codec byte names neither compact JPEG nor JPEG 2000";
        case Refusal::kNoImageSize: return "the color stream's header gives no usable image size";
        case Refusal::kOutputNotProduced: return "the payload does not give that output layout";
        case Refusal::kColorStreamUndecodable: return "color stream does not decode";
        case Refusal::kAlphaNotInflating: return "alpha stream does not inflate to the image size";
        case Refusal::kScratchUnavailable: return "not enough memory for the image";
        case Refusal::kColorStreamPastEnd: return "color stream runs past the payload";
        case Refusal::kColorStreamLength: return "color stream length out of range";
        case Refusal::kAlphaBlockPastEnd: return "alpha block header runs past the payload";
        case Refusal::kAlphaSizeMismatch: return "alpha plane size does not match the image size";
        case Refusal::kAlphaStreamPastEnd: return "alpha stream runs past the payload";
        case Refusal::kNotAPacket: return "not a DEM/DOM packet (no section tag at offset 1)";
        case Refusal::kNoElevationSection: return "the packet holds no elevation grid";
        case Refusal::kElevationPastEnd: return "elevation section runs past the packet";
        case Refusal::kElevationNotInflating: return "elevation grid does not inflate to its stated size";
        case Refusal::kNoOrthophotoSection: return "the packet holds no orthophoto section";
        case Refusal::kOrthophotoPastEnd: return "orthophoto entry runs past the packet";
        case Refusal::kNoSuchOrthophoto: return "no orthophoto with that id";
        case Refusal::kTerrainImagePastEnd: return "terrain image runs past the payload";
        case Refusal::kSectionAbsent: return "the payload holds no such section";
        case Refusal::kSectionPastEnd: return "section runs past the payload";
        case Refusal::kSectionNotInflating: return "section does not inflate to its stated size";
        case Refusal::kFixedTileUndecodable: return "not a decodable 256 x 256 JPEG 2000 image";
        case Refusal::kDdsBodyTooShort: return "DDS payload shorter than its headers";
        case Refusal::kNotADdsFile: return "no DDS file behind the descriptor values";
        case Refusal::kDdsNotDxt: return "DDS texture is neither DXT1 nor DXT5";
        case Refusal::kDdsSizeOutOfRange: return "DDS texture size out of range";
        case Refusal::kDdsDataCutShort: return "DDS texture data cut short";
    }
    return "unreadable payload";
}

//----------------------------------------------------------------------------
// Image payloads.

Refusal ReadImageEnvelope(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte,
                          ImageEnvelope& out) {
    if (payload == nullptr || length == 0) return Refusal::kNoPayload;
    const std::uint64_t t = hasLeadingByte ? 1 : 0;
    if (length < t + 5) return Refusal::kTooShort;
    const std::uint64_t available = length - t - 5;  // L - 5
    out.codec = payload[t];
    out.primaryLength = static_cast<std::int32_t>(LoadU32LE(payload + t + 1));
    if (out.primaryLength <= 0) return Refusal::kPrimaryLengthNotPositive;
    if (static_cast<std::uint64_t>(out.primaryLength) > available) return Refusal::kPrimaryPastEnd;
    out.primaryOffset = t + 5;
    out.alphaOffset = out.primaryOffset + static_cast<std::uint64_t>(out.primaryLength);
    out.alphaLength = available - static_cast<std::uint64_t>(out.primaryLength);
    out.hasAlpha = out.alphaLength > 0;
    if (!out.hasAlpha && out.codec != 0 && out.codec != 1) return Refusal::kUnknownCodec;
    return Refusal::kNone;
}

bool ImageGivesOutput(bool hasAlpha, int outputType) {
    switch (outputType) {
        case 2:  // OutputDXT5Mipmaps
        case 5:  // OutputRGBA
            return hasAlpha;
        case 0:  // OutputDXT1
        case 1:  // OutputDXT1Mipmaps
        case 3:  // OutputRGB
        case 4:  // OutputRGB565
            return !hasAlpha;
        default:
            return false;
    }
}

Refusal ReadNewImageEnvelope(const unsigned char* payload, std::uint64_t length, NewImageEnvelope& out) {
    if (payload == nullptr || length == 0) return Refusal::kNoPayload;
    if (length < kNewImageColorOffset) return Refusal::kTooShort;
    const std::uint64_t n = LoadU32LE(payload + 2);
    if (kNewImageColorOffset + n > length) return Refusal::kColorStreamPastEnd;
    // A compact JPEG stream holds at least its 6-byte header; the decoder
    // takes its length as a signed 32-bit value.
    if (n < 6 || n > 0x7FFFFFFFu) return Refusal::kColorStreamLength;
    out.hasAlpha = payload[1] == 1;
    out.colorLength = n;
    return Refusal::kNone;
}

Refusal ReadNewImageAlpha(const unsigned char* payload, std::uint64_t length, const NewImageEnvelope& envelope,
                          std::uint64_t pixelCount, NewImageAlpha& out) {
    // The block's two length fields must lie inside the payload before they
    // are read, and the stream they describe as well.
    const ByteSpan span{payload, length};
    const std::uint64_t block = kNewImageColorOffset + envelope.colorLength;
    std::uint32_t streamLength = 0;
    if (!span.ReadU32(block, out.rawLength) || !span.ReadU32(block + 4, streamLength))
        return Refusal::kAlphaBlockPastEnd;
    if (out.rawLength != pixelCount) return Refusal::kAlphaSizeMismatch;
    out.streamOffset = block + 8;
    out.streamLength = streamLength;
    if (!span.Has(out.streamOffset, out.streamLength)) return Refusal::kAlphaStreamPastEnd;
    return Refusal::kNone;
}

//----------------------------------------------------------------------------
// DDS payloads.

Refusal ReadDdsPayload(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte, DdsPayload& out) {
    if (payload == nullptr || length == 0) return Refusal::kNoPayload;
    const std::uint64_t t = hasLeadingByte ? 1 : 0;
    if (!bytes::Fits(length, t, kDdsDescriptorBytes)) return Refusal::kTooShort;
    out.value1 = LoadU32LE(payload + t);
    out.value2 = LoadU32LE(payload + t + 4);
    out.value3 = LoadU32LE(payload + t + 8);
    out.bodyOffset = t + kDdsDescriptorBytes;
    return Refusal::kNone;
}

Refusal DdsTextureOffset(std::uint64_t length, bool hasLeadingByte, bool currentLayout, std::uint64_t& offset) {
    const std::uint64_t skipped = (hasLeadingByte ? 1 : 0) + kDdsDescriptorBytes + (currentLayout ? kDdsFileStart : 0);
    if (length < skipped) return Refusal::kDdsBodyTooShort;
    offset = skipped;
    return Refusal::kNone;
}

namespace {

// Bytes of `levels` DXT levels of a width x height texture, halving down
// (a side of 1 stays 1), every level at least one block.
std::uint64_t DxtLevelBytes(std::uint64_t width, std::uint64_t height, bool dxt5, int levels) {
    std::uint64_t total = 0;
    for (int l = 0; l < levels; ++l) {
        total += ((width + 3) / 4) * ((height + 3) / 4) * (dxt5 ? 16 : 8);
        width = width > 1 ? width / 2 : 1;
        height = height > 1 ? height / 2 : 1;
    }
    return total;
}

int FullChainLevels(int width, int height) {
    int levels = 1;
    for (int side = width > height ? width : height; side > 1; side /= 2) ++levels;
    return levels;
}

}  // namespace

Refusal ReadDdsFileHeader(const unsigned char* payload, std::uint64_t length, bool hasLeadingByte,
                          DdsFileHeader& out) {
    DdsPayload dds;
    const Refusal r = ReadDdsPayload(payload, length, hasLeadingByte, dds);
    if (r != Refusal::kNone) return r;
    const ByteSpan span{payload, length};
    const std::uint64_t file = dds.bodyOffset;
    if (!span.Has(file, kDdsFileStart) || std::memcmp(payload + file, "DDS ", 4) != 0 ||
        LoadU32LE(payload + file + 4) != 124) {
        return Refusal::kNotADdsFile;
    }
    const unsigned char* h = payload + file + 4;  // the 124-byte header
    const std::uint32_t height = LoadU32LE(h + 8), width = LoadU32LE(h + 12), mips = LoadU32LE(h + 24);
    const unsigned char* fourCC = h + 80;  // pixel format at 72, its code at 80
    if (std::memcmp(fourCC, "DXT1", 4) == 0)
        out.dxt5 = false;
    else if (std::memcmp(fourCC, "DXT5", 4) == 0)
        out.dxt5 = true;
    else
        return Refusal::kDdsNotDxt;
    if (width < 1 || height < 1 || width > 16384 || height > 16384) return Refusal::kDdsSizeOutOfRange;
    out.width = static_cast<int>(width);
    out.height = static_cast<int>(height);
    out.mipCount = mips < 1 ? 1 : static_cast<int>(mips > 64 ? 64 : mips);
    if (mips > static_cast<std::uint32_t>(FullChainLevels(out.width, out.height))) return Refusal::kDdsSizeOutOfRange;
    out.dataOffset = file + kDdsFileStart;
    out.dataLength = length - out.dataOffset;
    if (out.dataLength < DxtLevelBytes(width, height, out.dxt5, out.mipCount)) return Refusal::kDdsDataCutShort;
    return Refusal::kNone;
}

//----------------------------------------------------------------------------
// DEM/DOM packets.

Refusal ReadPacketTag(const unsigned char* packet, std::uint64_t length, unsigned& tag) {
    const ByteSpan span{packet, length};
    if (!span.ReadU8(1, tag) || (tag != kElevationTag && tag != kOrthophotoTag)) return Refusal::kNotAPacket;
    return Refusal::kNone;
}

Refusal FindElevationSection(const unsigned char* packet, std::uint64_t length, ElevationSection& out) {
    const ByteSpan span{packet, length};
    unsigned tag = 0;
    if (!span.ReadU8(1, tag) || tag != kElevationTag) return Refusal::kNoElevationSection;
    if (!span.ReadU32(2, out.inflatedSize) || !span.ReadU32(6, out.streamLength)) return Refusal::kElevationPastEnd;
    out.streamOffset = 10;
    if (!span.Has(out.streamOffset, out.streamLength)) return Refusal::kElevationPastEnd;
    return Refusal::kNone;
}

// The orthophoto section stands at byte 1, or behind an elevation section
// whose stream it follows; only the section's own two bytes are checked here.
Refusal FindOrthophotoSection(const unsigned char* packet, std::uint64_t length, OrthophotoSection& out) {
    if (packet == nullptr || length <= 1) return Refusal::kNoOrthophotoSection;
    std::uint64_t p = 1;
    if (packet[1] == kElevationTag) {
        if (length < 10) return Refusal::kNoOrthophotoSection;  // no room for U and Z
        p = 10 + static_cast<std::uint64_t>(LoadU32LE(packet + 6));
        if (p >= length) return Refusal::kNoOrthophotoSection;
    }
    if (packet[p] != kOrthophotoTag || p + 2 > length) return Refusal::kNoOrthophotoSection;
    out.count = packet[p + 1];
    out.firstEntry = p + 2;
    return Refusal::kNone;
}

Refusal ReadOrthophotoEntry(const unsigned char* packet, std::uint64_t length, std::uint64_t offset,
                            OrthophotoEntry& out) {
    const ByteSpan span{packet, length};
    std::uint32_t streamLength = 0;
    if (!span.Has(offset, 5) || !span.ReadU32(offset + 1, streamLength)) return Refusal::kOrthophotoPastEnd;
    out.id = packet[offset];
    out.streamOffset = offset + 5;
    out.streamLength = streamLength;
    if (!span.Has(out.streamOffset, out.streamLength)) return Refusal::kOrthophotoPastEnd;
    out.next = out.streamOffset + out.streamLength;
    return Refusal::kNone;
}

//----------------------------------------------------------------------------
// Terrain payloads.

const char* const kTerrainSectionNames[5] = {"index", "tiny index", "shape index", "road index", "elevation"};

Refusal FindTerrainImage(const unsigned char* payload, std::uint64_t length, TerrainImage& out) {
    if (payload == nullptr || length == 0) return Refusal::kNoPayload;
    if (length < 10) return Refusal::kTooShort;
    out.flags = payload[5];
    out.streamOffset = 10;
    out.streamLength = LoadU32LE(payload + 6);
    if (out.streamOffset + out.streamLength > length) return Refusal::kTerrainImagePastEnd;
    return Refusal::kNone;
}

// Sizes are summed in 64 bits (at most six 32-bit lengths), so no offset
// wraps.
Refusal FindTerrainSection(const unsigned char* payload, std::uint64_t length, unsigned bit, TerrainSection& out) {
    const ByteSpan span{payload, length};
    unsigned flags = 0;
    std::uint32_t imageLength = 0;
    if (!span.ReadU8(5, flags) || (flags & bit) == 0) return Refusal::kSectionAbsent;
    if (!span.ReadU32(6, imageLength)) return Refusal::kSectionPastEnd;
    std::uint64_t offset = 10 + static_cast<std::uint64_t>(imageLength);
    for (unsigned earlier = kTerrainSectionBits[0]; earlier < bit; earlier <<= 1) {
        if ((flags & earlier) == 0) continue;
        std::uint32_t streamLength = 0;
        if (!span.ReadU32(offset + 4, streamLength)) return Refusal::kSectionPastEnd;
        offset += 8 + static_cast<std::uint64_t>(streamLength);
    }
    if (!span.ReadU32(offset, out.inflatedSize) || !span.ReadU32(offset + 4, out.streamLength))
        return Refusal::kSectionPastEnd;
    out.streamOffset = offset + 8;
    if (!span.Has(out.streamOffset, out.streamLength)) return Refusal::kSectionPastEnd;
    return Refusal::kNone;
}

}  // namespace format
}  // namespace vt
