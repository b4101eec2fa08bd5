#include "PayloadFormat.h"

#include <cstring>

#include "Wavedec.h"

namespace vt {
namespace cli {

using payloads::GetU16;
using payloads::GetU32;

const char* const kTerrainSectionNames[5] = {"index", "tiny index", "shape index", "road index", "elevation"};

bool IsJ2kStream(const uint8_t* p, size_t length) {
    // SOC marker followed by the SIZ marker (ITU-T T.800 A.4.1, A.5.1).
    return length >= 4 && p[0] == 0xFF && p[1] == 0x4F && p[2] == 0xFF && p[3] == 0x51;
}

bool IsZlibStream(const uint8_t* p, size_t length) {
    // RFC 1950: deflate method, header check bits.
    return length >= 2 && (p[0] & 0x0F) == 8 && (p[0] >> 4) <= 7 && ((p[0] << 8) | p[1]) % 31 == 0;
}

bool J2kImageSize(uint8_t* p, size_t length, int& width, int& height) {
    if (!IsJ2kStream(p, length) || length > 0x7FFFFFFF) return false;
    int extra = 0;
    width = height = 0;
    return j2k_decodeImgInfo(p, static_cast<int>(length), width, height, extra) && width > 0 && height > 0;
}

bool CompactJpegSize(const uint8_t* p, size_t length, int& width, int& height) {
    if (length < 7) return false;  // a header and at least one byte of data
    width = GetU16(p);
    height = GetU16(p + 2);
    return width > 0 && height > 0;
}

namespace {

bool ParseEnvelopeAt(Bytes& payload, bool leading, Envelope& e, std::string& why) {
    size_t t = leading ? 1 : 0;
    if (payload.size() < t + 5) {
        why = "payload of " + std::to_string(payload.size()) + " bytes is too short for an image envelope";
        return false;
    }
    size_t l = payload.size() - t;
    const uint8_t* p = payload.data() + t;
    int32_t primary = static_cast<int32_t>(GetU32(p + 1));
    e.leadingByte = leading;
    e.codec = p[0];
    if (e.codec != 0 && e.codec != 1) {
        why = "unknown codec byte " + std::to_string(e.codec);
        return false;
    }
    if (primary <= 0 || static_cast<size_t>(primary) + 5 > l) {
        why = "primary stream length " + std::to_string(primary) + " does not fit the " + std::to_string(l) +
              "-byte payload";
        return false;
    }
    e.primaryAt = t + 5;
    e.primaryLength = static_cast<size_t>(primary);
    e.alphaAt = e.primaryAt + e.primaryLength;
    e.alphaLength = payload.size() - e.alphaAt;
    uint8_t* stream = payload.data() + e.primaryAt;
    if (e.codec == 0) {
        if (!CompactJpegSize(stream, e.primaryLength, e.width, e.height)) {
            why = "compact JPEG header gives no image size";
            return false;
        }
    } else {
        if (!IsJ2kStream(stream, e.primaryLength)) {
            why = "codec byte says JPEG 2000 but the stream does not start with one";
            return false;
        }
        if (e.alphaLength > 0) {
            why = "JPEG 2000 tile with an alpha stream (only compact JPEG tiles carry alpha)";
            return false;
        }
        if (!J2kImageSize(stream, e.primaryLength, e.width, e.height)) {
            why = "JPEG 2000 stream has no readable main header";
            return false;
        }
    }
    if (e.alphaLength > 0 && !IsZlibStream(payload.data() + e.alphaAt, e.alphaLength)) {
        why = "alpha stream is not a zlib stream";
        return false;
    }
    return true;
}

}  // namespace

bool ParseEnvelope(Bytes& payload, Envelope& envelope, std::string& why) {
    std::string whyWithout, whyWith;
    if (ParseEnvelopeAt(payload, false, envelope, whyWithout)) return true;
    if (ParseEnvelopeAt(payload, true, envelope, whyWith)) return true;
    // Report the reading that got further: with a tag byte when the codec
    // byte sits at offset 1.
    why = (payload.size() > 1 && payload[1] <= 1) ? whyWith : whyWithout;
    return false;
}

bool ParseNewImage(const Bytes& payload, NewImage& image, std::string& why) {
    if (payload.size() < 6) {
        why = "payload too short for a second-generation image";
        return false;
    }
    image.alpha = payload[1] == 1;
    image.colorLength = GetU32(&payload[2]);
    if (6 + static_cast<uint64_t>(image.colorLength) > payload.size()) {
        why = "color stream length " + std::to_string(image.colorLength) + " runs past the payload";
        return false;
    }
    if (!CompactJpegSize(&payload[6], image.colorLength, image.width, image.height)) {
        why = "compact JPEG header gives no image size";
        return false;
    }
    if (!image.alpha) return true;
    size_t at = 6 + image.colorLength;
    if (at + 8 > payload.size()) {
        why = "alpha block header runs past the payload";
        return false;
    }
    image.alphaRaw = GetU32(&payload[at]);
    image.alphaPacked = GetU32(&payload[at + 4]);
    if (image.alphaRaw != static_cast<uint32_t>(image.width) * static_cast<uint32_t>(image.height)) {
        why = "alpha plane of " + std::to_string(image.alphaRaw) + " bytes does not match the image size";
        return false;
    }
    if (at + 8 + static_cast<uint64_t>(image.alphaPacked) > payload.size() ||
        !IsZlibStream(&payload[at + 8], image.alphaPacked)) {
        why = "alpha stream runs past the payload or is not a zlib stream";
        return false;
    }
    return true;
}

bool ParsePacket(const Bytes& payload, Packet& packet, std::string& why) {
    if (payload.size() < 2 || (payload[1] != 1 && payload[1] != 2)) {
        why = "not a DEM/DOM packet (no section tag at offset 1)";
        return false;
    }
    size_t p = 1;
    if (payload[1] == 1) {
        if (payload.size() < 10) {
            why = "elevation section header runs past the packet";
            return false;
        }
        packet.hasGrid = true;
        packet.gridBytes = GetU32(&payload[2]);
        packet.gridPacked = GetU32(&payload[6]);
        if (10 + static_cast<uint64_t>(packet.gridPacked) > payload.size() ||
            !IsZlibStream(&payload[10], packet.gridPacked)) {
            why = "elevation stream runs past the packet or is not a zlib stream";
            return false;
        }
        if (packet.gridBytes < 1 || packet.gridBytes > 1 + 4u * 255 * 255) {
            why = "elevation grid size " + std::to_string(packet.gridBytes) + " is not that of a grid";
            return false;
        }
        p = 10 + packet.gridPacked;
        if (p == payload.size()) return true;  // elevation only
    }
    if (p + 2 > payload.size() || payload[p] != 2) {
        why = "no orthophoto section where one must stand";
        return false;
    }
    packet.hasOrthophotos = true;
    size_t count = payload[p + 1], at = p + 2;
    for (size_t i = 0; i < count; ++i) {
        if (at + 5 > payload.size()) {
            why = "orthophoto entry " + std::to_string(i) + " runs past the packet";
            return false;
        }
        Packet::Ortho ortho{payload[at], at + 5, GetU32(&payload[at + 1])};
        if (ortho.at + static_cast<uint64_t>(ortho.length) > payload.size()) {
            why = "orthophoto " + std::to_string(ortho.id) + " runs past the packet";
            return false;
        }
        if (!IsJ2kStream(&payload[ortho.at], ortho.length)) {
            why = "orthophoto " + std::to_string(ortho.id) + " is not a JPEG 2000 code stream";
            return false;
        }
        packet.orthophotos.push_back(ortho);
        at = ortho.at + ortho.length;
    }
    return true;
}

bool ParseTerrain(const Bytes& payload, Terrain& terrain, std::string& why) {
    if (payload.size() < 10) {
        why = "payload too short for a terrain payload";
        return false;
    }
    terrain.flags = payload[5];
    terrain.imageLength = GetU32(&payload[6]);
    if (10 + static_cast<uint64_t>(terrain.imageLength) > payload.size() ||
        !IsJ2kStream(&payload[10], terrain.imageLength)) {
        why = "terrain image runs past the payload or is not a JPEG 2000 code stream";
        return false;
    }
    uint64_t o = 10 + terrain.imageLength;
    for (int k = 0; k < 5; ++k) {
        if (!(terrain.flags & (1u << k))) continue;
        if (o + 8 > payload.size()) {
            why = std::string(kTerrainSectionNames[k]) + " section runs past the payload";
            return false;
        }
        terrain.sectionBytes[k] = GetU32(&payload[o]);
        uint32_t packed = GetU32(&payload[o + 4]);
        if (o + 8 + packed > payload.size() || !IsZlibStream(&payload[o + 8], packed) ||
            terrain.sectionBytes[k] > (64u << 20)) {
            why = std::string(kTerrainSectionNames[k]) + " section runs past the payload or is damaged";
            return false;
        }
        o += 8 + static_cast<uint64_t>(packed);
    }
    return true;
}

bool ParseDds(const Bytes& payload, DdsInfo& dds, std::string& why) {
    size_t t;
    if (payload.size() >= 16 && std::memcmp(&payload[12], "DDS ", 4) == 0) {
        t = 0;
    } else if (payload.size() >= 17 && std::memcmp(&payload[13], "DDS ", 4) == 0) {
        t = 1;
    } else {
        why = "no DDS file behind the descriptor values";
        return false;
    }
    dds.leadingByte = t == 1;
    if (payload.size() < t + 140) {
        why = "DDS header cut short";
        return false;
    }
    const uint8_t* h = &payload[t + 16];  // the 124-byte header
    if (GetU32(h) != 124) {
        why = "DDS header size is not 124";
        return false;
    }
    dds.height = static_cast<int>(GetU32(h + 8));
    dds.width = static_cast<int>(GetU32(h + 12));
    dds.mipCount = static_cast<int>(GetU32(h + 24));
    if (dds.mipCount < 1) dds.mipCount = 1;
    const uint8_t* fourCC = h + 80;  // pixel format at 72, its code at 80
    if (std::memcmp(fourCC, "DXT1", 4) == 0) {
        dds.dxt5 = false;
    } else if (std::memcmp(fourCC, "DXT5", 4) == 0) {
        dds.dxt5 = true;
    } else {
        why = "DDS texture is neither DXT1 nor DXT5";
        return false;
    }
    if (dds.width < 1 || dds.height < 1 || dds.width > 16384 || dds.height > 16384 ||
        dds.mipCount > payloads::MipLevelCount(dds.width, dds.height)) {
        why = "DDS texture size out of range";
        return false;
    }
    dds.dataAt = t + 140;
    dds.dataLength = payload.size() - dds.dataAt;
    if (dds.dataLength < payloads::DxtChainBytes(dds.width, dds.height, dds.dxt5, dds.mipCount)) {
        why = "DDS texture data cut short";
        return false;
    }
    return true;
}

}  // namespace cli
}  // namespace vt
