// Exact-size inflation (InflateExact.h) with zlib and, where the build has
// it, libdeflate.
#include "format/InflateExact.h"

#include <cstring>

#include <zlib.h>

#if VT_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

namespace vt {

bool InflateExactZlib(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                      std::uint64_t streamLength) {
    if (destination == nullptr && expectedSize != 0) return false;
    // zlib takes the length as a uLong, which may be 32 bits wide.
    if (streamLength > static_cast<std::uint64_t>(static_cast<uLong>(-1))) return false;
    // uncompress takes a destination of 0 bytes as its cue to inflate into
    // a byte of its own and reports 0 bytes even when the stream gave one:
    // a 1-byte stream would pass as an empty one. A byte of ours instead.
    unsigned char spare = 0;
    unsigned char* const target = expectedSize != 0 ? destination : &spare;
    uLongf produced = expectedSize != 0 ? expectedSize : 1;
    const int rc = uncompress(target, &produced, stream, static_cast<uLong>(streamLength));
    return rc == Z_OK && produced == expectedSize;
}

#if VT_HAVE_LIBDEFLATE
namespace {

// libdeflate's fast loop (whole-word refills, word-wide match copies) runs
// only while a few dozen input bytes remain beyond the bit reader; below
// that it decodes a symbol and copies a match a byte at a time. An alpha
// plane of one value packs to a hundred bytes or so (long runs at distance
// 1), so it would inflate entirely in that slow loop, at about a byte a
// nanosecond. Such short streams are inflated from a copy followed by zero
// bytes (what the decoder supplies past the end in any case), and the
// stream is then held to the bytes it really has: it must end, check value
// included, within them, or it is refused as it would have been without
// the copy.
constexpr std::size_t kShortStream = 4096;
constexpr std::size_t kStreamPadding = 64;

}  // namespace

// Without the produced size, libdeflate succeeds only when the stream fills
// the destination exactly; a stream that would give more is refused
// (INSUFFICIENT_SPACE), one that gives less too (SHORT_OUTPUT), and so is a
// preset dictionary (BAD_DATA), as in zlib. One decompressor per call: the
// library keeps no state between calls.
bool InflateExactLibdeflate(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                            std::uint64_t streamLength) {
    if (destination == nullptr && expectedSize != 0) return false;
    if (streamLength > static_cast<std::uint64_t>(static_cast<std::size_t>(-1))) return false;
    libdeflate_decompressor* d = libdeflate_alloc_decompressor();
    if (d == nullptr) return InflateExactZlib(destination, expectedSize, stream, streamLength);
    const std::size_t length = static_cast<std::size_t>(streamLength);
    libdeflate_result r;
    if (length < kShortStream) {
        unsigned char padded[kShortStream + kStreamPadding];
        if (length != 0) std::memcpy(padded, stream, length);
        std::memset(padded + length, 0, kStreamPadding);
        std::size_t consumed = 0;
        r = libdeflate_zlib_decompress_ex(d, padded, length + kStreamPadding, destination, expectedSize, &consumed,
                                          nullptr);
        if (consumed > length) r = LIBDEFLATE_BAD_DATA;
    } else {
        r = libdeflate_zlib_decompress(d, stream, length, destination, expectedSize, nullptr);
    }
    libdeflate_free_decompressor(d);
    return r == LIBDEFLATE_SUCCESS;
}
#endif

bool InflateExact(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                  std::uint64_t streamLength) {
#if VT_HAVE_LIBDEFLATE
    return InflateExactLibdeflate(destination, expectedSize, stream, streamLength);
#else
    return InflateExactZlib(destination, expectedSize, stream, streamLength);
#endif
}

}  // namespace vt
