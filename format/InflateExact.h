// Inflation of a zlib stream (RFC 1950) whose inflated size is known: a
// section whose size the payload states in front of it (DEM/DOM packets,
// terrain payloads), or an alpha plane of width x height bytes (image
// payloads).
#ifndef VELTRANE_FORMAT_INFLATE_EXACT_H
#define VELTRANE_FORMAT_INFLATE_EXACT_H

#include <cstdint>

#include <zlib.h>

namespace vt {

// Inflates the `streamLength` bytes at `stream` straight into `destination`,
// which holds `expectedSize` bytes, in one pass as zlib's uncompress does.
// True only when the stream is complete and gives exactly `expectedSize`
// bytes: a stream that ends early, is damaged or would give more is refused
// (the destination may then hold part of the data). The caller has checked
// that the stream lies inside its payload.
inline bool InflateExact(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                         std::uint64_t streamLength) {
    if (destination == nullptr && expectedSize != 0) return false;
    // zlib takes the length as a uLong, which may be 32 bits wide.
    if (streamLength > static_cast<std::uint64_t>(static_cast<uLong>(-1))) return false;
    uLongf produced = expectedSize;
    int rc = uncompress(destination, &produced, stream, static_cast<uLong>(streamLength));
    return rc == Z_OK && produced == expectedSize;
}

}  // namespace vt

#endif  // VELTRANE_FORMAT_INFLATE_EXACT_H
