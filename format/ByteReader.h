// Little-endian, unaligned reads from payloads the host hands in, and the
// bounds test every reader of a payload makes before it touches a field.
// Shared by every payload reader, in reader/ and packets/ alike.
//
// Payload fields sit at arbitrary byte offsets (a DEM grid's samples start at
// offset 1, terrain sections follow variable-length streams), so every load
// goes through memcpy: no alignment is assumed, no type punning through
// pointers. Offsets and lengths are 64-bit so that a 32-bit field added to an
// offset can never wrap.
#ifndef VELTRANE_FORMAT_BYTE_READER_H
#define VELTRANE_FORMAT_BYTE_READER_H

#include <cstdint>
#include <cstring>

namespace vt {
namespace bytes {

// True when `count` bytes starting at `offset` lie inside a buffer of
// `length` bytes. Written so that no sum can overflow.
inline bool Fits(std::uint64_t length, std::uint64_t offset, std::uint64_t count) {
    return offset <= length && count <= length - offset;
}

inline std::uint16_t LoadU16LE(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

inline std::uint32_t LoadU32LE(const unsigned char* p) {
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    v = __builtin_bswap32(v);
#endif
    return v;
}

// An IEEE 754 single-precision value stored little-endian.
inline float LoadF32LE(const unsigned char* p) {
    std::uint32_t bits = LoadU32LE(p);
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

// A payload as pointer and length, with checked reads. A failed read leaves
// `out` untouched and returns false, so callers can chain the tests.
struct ByteSpan {
    const unsigned char* data;
    std::uint64_t length;

    bool Has(std::uint64_t offset, std::uint64_t count) const {
        return data != nullptr && Fits(length, offset, count);
    }
    bool ReadU8(std::uint64_t offset, unsigned int& out) const {
        if (!Has(offset, 1)) return false;
        out = data[offset];
        return true;
    }
    bool ReadU32(std::uint64_t offset, std::uint32_t& out) const {
        if (!Has(offset, 4)) return false;
        out = LoadU32LE(data + offset);
        return true;
    }
};

}  // namespace bytes
}  // namespace vt

#endif  // VELTRANE_FORMAT_BYTE_READER_H
