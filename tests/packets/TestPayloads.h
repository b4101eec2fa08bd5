// Helpers for building payloads in tests: little-endian fields, zlib streams
// made with zlib's own compressor, and exact-size heap copies so that a read
// past the end of a payload lands outside its allocation (caught by ASan).
#ifndef VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H
#define VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H

#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

#include <zlib.h>

namespace vt_test {

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

// A zlib stream (RFC 1950) of `data`, as zlib's compress gives it.
inline Bytes Deflate(const Bytes& data) {
    uLongf size = compressBound(static_cast<uLong>(data.size()));
    Bytes out(size);
    if (compress(out.data(), &size, data.data(), static_cast<uLong>(data.size())) != Z_OK)
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
// beyond the last byte, so an over-read is an ASan error, not a silent read.
struct ExactCopy {
    explicit ExactCopy(const Bytes& bytes) : ExactCopy(bytes, bytes.size()) {}
    ExactCopy(const Bytes& bytes, std::size_t size)
        : storage(new unsigned char[size == 0 ? 1 : size]), length(size) {
        if (size != 0) std::memcpy(storage.get(), bytes.data(), size);
    }
    // The payload pointer; for length 0 a valid pointer to no bytes.
    unsigned char* data() { return storage.get(); }
    std::unique_ptr<unsigned char[]> storage;
    std::size_t length;
};

}  // namespace vt_test

#endif  // VELTRANE_TESTS_PACKETS_TEST_PAYLOADS_H
