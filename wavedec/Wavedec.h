// Wavedec: JPEG 2000 decoding for the tile readers.
//
// j2k_decodeImgInfo reports the size of a code stream's image;
// j2k_decode2Buffer decodes the whole image into a buffer the caller sized
// for it, in one of three layouts:
//   mode 0: 16-bit 5:6:5, blue in bits 15-11, red in bits 4-0, low byte first
//   mode 1: 3 bytes a pixel, blue, green, red
//   mode 2: 4 bytes a pixel, blue, green, red, alpha (255 without alpha)
// Rows are width pixels long with nothing between them. Both return false for
// a stream they cannot decode. Neither starts threads or prints anything.
#ifndef VELTRANE_WAVEDEC_H
#define VELTRANE_WAVEDEC_H

#if defined(_WIN32)
#  if defined(WAVEDEC_BUILDING)
#    define WAVEDEC_API __declspec(dllexport)
#  else
#    define WAVEDEC_API __declspec(dllimport)
#  endif
#else
#  define WAVEDEC_API __attribute__((visibility("default")))
#endif

WAVEDEC_API bool j2k_decodeImgInfo(unsigned char* data, int length, int& width, int& height, int& extra);
WAVEDEC_API bool j2k_decode2Buffer(unsigned char* data, int length, unsigned char* dst, int mode);

#endif  // VELTRANE_WAVEDEC_H
