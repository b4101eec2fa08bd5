// Inflation of a zlib-packed section (RFC 1950) whose inflated size the
// payload states in front of it. Shared by the DEM/DOM packet and the terrain
// payload readers.
#ifndef VELTRANE_PACKETS_INFLATE_EXACT_H
#define VELTRANE_PACKETS_INFLATE_EXACT_H

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
    uLongf produced = expectedSize;
    int rc = uncompress(destination, &produced, stream, static_cast<uLong>(streamLength));
    return rc == Z_OK && produced == expectedSize;
}

}  // namespace vt

#endif  // VELTRANE_PACKETS_INFLATE_EXACT_H
