// Byte-level helpers for building payloads in tests: little-endian fields,
// zlib streams made with zlib's own compressor, filler, and exact-size heap
// copies so that a read past the end of a payload lands outside its
// allocation (an ASan error, not a silent read).
#ifndef VELTRANE_TESTS_SUPPORT_BYTES_H
#define VELTRANE_TESTS_SUPPORT_BYTES_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <zlib.h>

namespace vt {
namespace test {

using Bytes = std::vector<unsigned char>;

inline void PutU32(Bytes& out, std::uint32_t v) {
    for (int k = 0; k < 4; ++k) out.push_back(static_cast<unsigned char>(v >> (8 * k)));
}

inline void PutF32(Bytes& out, float f) {
    std::uint32_t bits;
    std::memcpy(&bits, &f, 4);
    PutU32(out, bits);
}

inline void Append(Bytes& out, const Bytes& more) { out.insert(out.end(), more.begin(), more.end()); }

// A zlib stream (RFC 1950) of `data` at `level` (6 is zlib's default).
inline Bytes Deflate(const Bytes& data, int level = 6) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress2(out.data(), &size, data.data(), static_cast<uLong>(data.size()), level) != Z_OK)
        throw std::runtime_error("compress failed");
    out.resize(size);
    return out;
}

// Deterministic, non-repeating filler so that misplaced bytes show.
inline Bytes Pattern(std::size_t size, unsigned seed) {
    Bytes out(size);
    std::uint32_t s = seed * 2654435761u + 12345u;
    for (auto& b : out) {
        s = s * 1103515245u + 12345u;
        b = static_cast<unsigned char>(s >> 16);
    }
    return out;
}

// An exact-size heap copy of the first `size` bytes of `bytes`: nothing lies
// beyond the last byte. For size 0 one byte is allocated so that the pointer
// is valid for an empty payload.
struct ExactCopy {
    explicit ExactCopy(const Bytes& bytes) : ExactCopy(bytes, bytes.size()) {}
    ExactCopy(const Bytes& bytes, std::size_t size)
        : storage(new unsigned char[size == 0 ? 1 : size]), length(size) {
        if (size != 0) std::memcpy(storage.get(), bytes.data(), size);
    }
    unsigned char* data() { return storage.get(); }
    unsigned long size() const { return static_cast<unsigned long>(length); }
    std::unique_ptr<unsigned char[]> storage;
    std::size_t length;
};

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_SUPPORT_BYTES_H
