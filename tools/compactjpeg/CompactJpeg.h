// Compact JPEG streams through libjpeg: an encoder that produces them and a
// reference decoder, for tests, benchmarks, the pyramid writer and the
// command-line tool. Not part of the reader libraries.
//
// A compact JPEG stream is a 6-byte header (u16 width, u16 height, u16
// quality, little-endian) followed by the entropy-coded data of one baseline
// JPEG scan with everything else fixed: 8-bit YCbCr, 4:2:0 sampling (MCU =
// four 8x8 luminance blocks, one Cb, one Cr), the standard Huffman tables of
// ITU-T T.81 Annex K.3, both quantisation tables equal to Table K.1 scaled
// by the quality (IJG scaling; quality 0 counts as 1, above 100 as 100), no
// restart markers, no byte stuffing and no end marker.
#ifndef VT_TOOLS_COMPACTJPEG_H
#define VT_TOOLS_COMPACTJPEG_H

#include <cstddef>
#include <vector>

namespace vt {
namespace compactjpeg {

// Encodes `width` x `height` pixels of 3 bytes each in R,G,B order, rows top
// to bottom without padding, as a compact JPEG stream. `quality` is stored
// in the header as its low 16 bits. Sizes 1..65535 (libjpeg accepts up to
// 65500). Returns an empty vector on failure.
std::vector<unsigned char> EncodeCompactJpeg(const unsigned char* rgb, int width, int height, int quality);

// Rewraps a compact stream as a standard baseline JPEG file (SOI, DQT, SOF0,
// DHT, SOS, stuffed entropy data, EOI) that any JPEG decoder reads. Returns
// an empty vector when `length` is shorter than the 6-byte header.
std::vector<unsigned char> WrapAsStandardJpeg(const unsigned char* compact, size_t length);

// Decodes a standard JPEG with libjpeg using the settings under which its
// output equals the compact decoder's byte for byte on encoder-made
// streams: the fast integer IDCT (JDCT_IFAST), no fancy upsampling (chroma
// replicated), and B,G,R (bytesPerPixel 3, JCS_EXT_BGR) or B,G,R,255
// (bytesPerPixel 4, JCS_EXT_BGRX) output, rows without padding. Returns
// false (and leaves the outputs unspecified) if libjpeg reports an error.
bool DecodeJpegReference(const unsigned char* jpeg, size_t length, int bytesPerPixel,
                         std::vector<unsigned char>& pixels, int& width, int& height);

// WrapAsStandardJpeg followed by DecodeJpegReference.
bool DecodeCompactJpegReference(const unsigned char* compact, size_t length, int bytesPerPixel,
                                std::vector<unsigned char>& pixels, int& width, int& height);

}  // namespace compactjpeg
}  // namespace vt

#endif  // VT_TOOLS_COMPACTJPEG_H
