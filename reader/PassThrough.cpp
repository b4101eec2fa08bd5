// Pass-through payloads: DDS texture data that is cut out or written to disk
// as stored, bit-packed building masks, and zlib blocks inflated for the host.
//
// DDS payload: [tag byte, when the caller says so] three little-endian 32-bit
// descriptor values, then the body. In the current layout the body is a whole
// DDS file (the "DDS " magic and the 124-byte DDS_HEADER, then the texture
// data); in the old layout, which the terrain edition reads, the body is the
// texture data alone. None of these members uses the object's state.
#include "Veltrane.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include <zlib.h>

#include "format/PayloadFormat.h"

namespace {

using vt::format::Refusal;

// Copies what follows the bytes a layout steps over (the descriptor values,
// and in the current layout the DDS file start). A payload too short to hold
// them is refused rather than read past.
bool CopyTexture(const unsigned char* payload, unsigned long length, unsigned char* destination,
                 bool hasLeadingByte, bool currentLayout) {
    if (payload == nullptr || destination == nullptr || length == 0) return false;
    std::uint64_t offset = 0;
    if (vt::format::DdsTextureOffset(length, hasLeadingByte, currentLayout, offset) != Refusal::kNone) return false;
    std::memcpy(destination, payload + offset, length - offset);
    return true;
}

}  // namespace

bool CVeltrane::GetDDSDataInfo(unsigned char* payload, unsigned long length, unsigned long& value1,
                               unsigned long& value2, unsigned long& value3, bool hasLeadingByte) {
    vt::format::DdsPayload dds;
    if (vt::format::ReadDdsPayload(payload, length, hasLeadingByte, dds) != Refusal::kNone) return false;
    value1 = dds.value1;
    value2 = dds.value2;
    value3 = dds.value3;
    return true;
}

#if !defined(VELTRANE_EDITION_TERRAIN)

bool CVeltrane::DecodeDDSImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                               bool hasLeadingByte) {
    return CopyTexture(payload, length, destination, hasLeadingByte, true);
}

bool CVeltrane::DecodeDDSImageOld(unsigned char* payload, unsigned long length, unsigned char* destination,
                                  bool hasLeadingByte) {
    return CopyTexture(payload, length, destination, hasLeadingByte, false);
}

// Writes the embedded DDS file. The payload always carries the tag byte here.
// A file that cannot be created or written whole is reported as a failure. A
// partly written file is left as it is: the path may name something that is
// not ours to delete (a device, a file the host keeps), and false tells the
// host not to use it.
bool CVeltrane::DecodeDDSToFile(unsigned char* payload, unsigned long length, const char* path) {
    if (payload == nullptr || length == 0 || path == nullptr) return false;
    std::uint64_t offset = 0;
    if (vt::format::DdsTextureOffset(length, true, false, offset) != Refusal::kNone) return false;
    std::FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    const std::size_t bodyLength = static_cast<std::size_t>(length - offset);
    const bool written = std::fwrite(payload + offset, 1, bodyLength, file) == bodyLength;
    const bool closed = std::fclose(file) == 0;
    return written && closed;
}

#else  // terrain edition: its DDS payloads use the old layout

bool CVeltrane::DecodeDDSImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                               bool hasLeadingByte) {
    return CopyTexture(payload, length, destination, hasLeadingByte, false);
}

#endif

// Building mask: bit i is bit (7 - i % 8) of byte i / 8, most significant bit
// first; each becomes one byte, 255 when set, 0 when clear.
bool CVeltrane::DecodeBuildingText(unsigned char* mask, unsigned long count, unsigned char* bits) {
    if (count == 0) return true;
    if (mask == nullptr || bits == nullptr) return false;
    const unsigned long wholeBytes = count / 8;
    for (unsigned long b = 0; b < wholeBytes; ++b) {
        const unsigned int packed = bits[b];
        unsigned char* out = mask + b * 8;
        for (int k = 0; k < 8; ++k) out[k] = static_cast<unsigned char>(0u - ((packed >> (7 - k)) & 1u));
    }
    const unsigned long rest = count % 8;
    if (rest != 0) {
        const unsigned int packed = bits[wholeBytes];
        unsigned char* out = mask + wholeBytes * 8;
        for (unsigned long k = 0; k < rest; ++k)
            out[k] = static_cast<unsigned char>(0u - ((packed >> (7 - k)) & 1u));
    }
    return true;
}

// One zlib stream (RFC 1950) inflated in one pass, with zlib's own result
// codes: Z_OK (0), Z_DATA_ERROR (-3), Z_MEM_ERROR (-4), Z_BUF_ERROR (-5).
// zlib stores the length it produced even when it fails; the host is promised
// its capacity back on failure, so that is restored.
int CVeltrane::Uncompress(unsigned char* destination, unsigned long* destinationLength, const unsigned char* source,
                          unsigned long sourceLength) {
    if (destinationLength == nullptr) return Z_STREAM_ERROR;
    const unsigned long capacity = *destinationLength;
    uLongf produced = capacity;
    const int rc = uncompress(destination, &produced, source, sourceLength);
    *destinationLength = rc == Z_OK ? produced : capacity;
    return rc;
}
