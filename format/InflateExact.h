// Inflation of a zlib stream (RFC 1950) whose inflated size is known: a
// section whose size the payload states in front of it (DEM/DOM packets,
// terrain payloads), or an alpha plane of width x height bytes (image
// payloads).
#ifndef VELTRANE_FORMAT_INFLATE_EXACT_H
#define VELTRANE_FORMAT_INFLATE_EXACT_H

#include <cstdint>

namespace vt {

// Inflates the `streamLength` bytes at `stream` straight into `destination`,
// which holds `expectedSize` bytes, in one pass as zlib's uncompress does.
// True only when the stream is complete (header, data and Adler-32 check
// value) and gives exactly `expectedSize` bytes: a stream that ends early, is
// damaged, asks for a preset dictionary or would give more is refused (the
// destination may then hold part of the data). Bytes after the end of the
// stream are ignored. The caller has checked that the stream lies inside its
// payload.
//
// Where the build has libdeflate (VT_HAVE_LIBDEFLATE), it does the work: a
// whole-buffer inflater into an exactly sized buffer is what it is made for,
// and it is several times faster than zlib's streaming inflate on alpha
// planes. Elsewhere zlib's uncompress does. Both accept and refuse the same
// streams with the same bytes (tests/format: the differential test).
bool InflateExact(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                  std::uint64_t streamLength);

// The two inflaters on their own, for the differential test.
bool InflateExactZlib(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                      std::uint64_t streamLength);
#if VT_HAVE_LIBDEFLATE
bool InflateExactLibdeflate(unsigned char* destination, std::uint32_t expectedSize, const unsigned char* stream,
                            std::uint64_t streamLength);
#endif

}  // namespace vt

#endif  // VELTRANE_FORMAT_INFLATE_EXACT_H
