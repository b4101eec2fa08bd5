#include "Payloads.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include <zlib.h>

namespace vt {
namespace payloads {

void PutU16(Bytes& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(Bytes& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

Bytes Deflate(const uint8_t* data, size_t size) {
    uLongf bound = compressBound(static_cast<uLong>(size));
    Bytes out(bound);
    if (compress2(out.data(), &bound, data, static_cast<uLong>(size), 9) != Z_OK)
        throw std::runtime_error("zlib compression failed");
    out.resize(bound);
    return out;
}

static void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

Bytes ImagePayload(Codec codec, const Bytes& primary, const Bytes* alphaPlane, bool leadingByte) {
    Bytes out;
    if (leadingByte) out.push_back(0);
    out.push_back(static_cast<uint8_t>(codec));
    PutU32(out, static_cast<uint32_t>(primary.size()));
    Append(out, primary);
    if (alphaPlane != nullptr) Append(out, Deflate(alphaPlane->data(), alphaPlane->size()));
    return out;
}

Bytes NewImagePayload(const Bytes& compactJpeg, const Bytes* alphaPlane) {
    Bytes out;
    out.push_back(0);
    out.push_back(alphaPlane != nullptr ? 1 : 0);
    PutU32(out, static_cast<uint32_t>(compactJpeg.size()));
    Append(out, compactJpeg);
    if (alphaPlane != nullptr) {
        Bytes packed = Deflate(alphaPlane->data(), alphaPlane->size());
        PutU32(out, static_cast<uint32_t>(alphaPlane->size()));
        PutU32(out, static_cast<uint32_t>(packed.size()));
        Append(out, packed);
    }
    return out;
}

Bytes ElevationGrid(int n, const std::vector<float>& samples) {
    Bytes out;
    out.push_back(static_cast<uint8_t>(n));
    for (size_t i = 0; i < static_cast<size_t>(n) * n; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &samples[i], 4);
        PutU32(out, bits);
    }
    return out;
}

Bytes DemDomPacket(const Bytes* grid, const std::vector<std::pair<uint8_t, Bytes>>& orthophotos) {
    Bytes out;
    out.push_back(0);  // leading tag byte
    if (grid != nullptr) {
        Bytes packed = Deflate(grid->data(), grid->size());
        out.push_back(1);
        PutU32(out, static_cast<uint32_t>(grid->size()));
        PutU32(out, static_cast<uint32_t>(packed.size()));
        Append(out, packed);
    }
    if (!orthophotos.empty()) {
        out.push_back(2);
        out.push_back(static_cast<uint8_t>(orthophotos.size()));
        for (const auto& entry : orthophotos) {
            out.push_back(entry.first);
            PutU32(out, static_cast<uint32_t>(entry.second.size()));
            Append(out, entry.second);
        }
    }
    return out;
}

Bytes TerrainPayload(const std::array<uint8_t, 5>& version, const Bytes& j2k,
                     const std::array<const Bytes*, 5>& sections) {
    Bytes out(version.begin(), version.end());
    uint8_t flags = 0;
    for (int k = 0; k < 5; ++k)
        if (sections[k] != nullptr) flags |= static_cast<uint8_t>(1u << k);
    out.push_back(flags);
    PutU32(out, static_cast<uint32_t>(j2k.size()));
    Append(out, j2k);
    for (int k = 0; k < 5; ++k) {
        if (sections[k] == nullptr) continue;
        Bytes packed = Deflate(sections[k]->data(), sections[k]->size());
        PutU32(out, static_cast<uint32_t>(sections[k]->size()));
        PutU32(out, static_cast<uint32_t>(packed.size()));
        Append(out, packed);
    }
    return out;
}

int MipLevelCount(int width, int height) {
    int levels = 1;
    for (int side = std::max(width, height); side > 1; side >>= 1) ++levels;
    return levels;
}

size_t DxtChainBytes(int width, int height, bool dxt5, int levels) {
    if (levels < 0) levels = MipLevelCount(width, height);
    size_t total = 0;
    for (int i = 0; i < levels; ++i) {
        total += static_cast<size_t>((width + 3) / 4) * ((height + 3) / 4) * (dxt5 ? 16 : 8);
        width = width > 1 ? width >> 1 : 1;
        height = height > 1 ? height >> 1 : 1;
    }
    return total;
}

Bytes DdsFile(int width, int height, bool dxt5, int mipCount, const uint8_t* data, size_t size) {
    Bytes out = {'D', 'D', 'S', ' '};
    uint32_t flags = 0x1 | 0x2 | 0x4 | 0x1000 | 0x80000;  // caps, height, width, pixel format, linear size
    if (mipCount > 1) flags |= 0x20000;                    // mip map count
    PutU32(out, 124);
    PutU32(out, flags);
    PutU32(out, static_cast<uint32_t>(height));
    PutU32(out, static_cast<uint32_t>(width));
    PutU32(out, static_cast<uint32_t>(DxtChainBytes(width, height, dxt5, 1)));
    PutU32(out, 0);  // depth
    PutU32(out, static_cast<uint32_t>(mipCount));
    for (int i = 0; i < 11; ++i) PutU32(out, 0);
    // Pixel format: 32 bytes, a four-character code.
    PutU32(out, 32);
    PutU32(out, 0x4);
    out.push_back('D');
    out.push_back('X');
    out.push_back('T');
    out.push_back(dxt5 ? '5' : '1');
    for (int i = 0; i < 5; ++i) PutU32(out, 0);
    uint32_t caps = 0x1000;                        // texture
    if (mipCount > 1) caps |= 0x8 | 0x400000;      // complex, mip map
    PutU32(out, caps);
    for (int i = 0; i < 4; ++i) PutU32(out, 0);
    out.insert(out.end(), data, data + size);
    return out;
}

Bytes DdsPayload(uint32_t v1, uint32_t v2, uint32_t v3, const Bytes& ddsFile, bool leadingByte, bool oldLayout) {
    Bytes out;
    if (leadingByte) out.push_back(0);
    PutU32(out, v1);
    PutU32(out, v2);
    PutU32(out, v3);
    out.insert(out.end(), ddsFile.begin() + (oldLayout ? 128 : 0), ddsFile.end());
    return out;
}

void SwapRedBlueInDxt(uint8_t* blocks, size_t size, bool dxt5) {
    size_t blockBytes = dxt5 ? 16 : 8;
    for (size_t at = 0; at + blockBytes <= size; at += blockBytes) {
        uint8_t* block = blocks + at + (dxt5 ? 8 : 0);
        unsigned c0 = GetU16(block), c1 = GetU16(block + 2);
        auto swap = [](unsigned c) { return (c & 0x07E0u) | (c >> 11) | ((c & 31u) << 11); };
        unsigned s0 = swap(c0), s1 = swap(c1);
        if ((c0 > c1) != (s0 > s1)) {
            // The endpoint order selects the DXT1 block mode: keep the mode by
            // exchanging the endpoints and renumbering the indices.
            bool fourColors = dxt5 || c0 > c1;
            std::swap(s0, s1);
            uint32_t indices = GetU32(block + 4), remapped = 0;
            for (int p = 0; p < 16; ++p) {
                uint32_t i = (indices >> (2 * p)) & 3;
                if (fourColors || i < 2) i ^= 1;
                remapped |= i << (2 * p);
            }
            for (int k = 0; k < 4; ++k) block[4 + k] = static_cast<uint8_t>(remapped >> (8 * k));
        }
        block[0] = static_cast<uint8_t>(s0);
        block[1] = static_cast<uint8_t>(s0 >> 8);
        block[2] = static_cast<uint8_t>(s1);
        block[3] = static_cast<uint8_t>(s1 >> 8);
    }
}

}  // namespace payloads
}  // namespace vt
