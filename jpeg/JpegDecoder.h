// CJpegDecoder: decoder for compact JPEG streams (a six-byte header followed
// by the entropy-coded data of a baseline 4:2:0 scan with fixed tables, no
// markers and no byte stuffing). Lives on the caller's stack, one per stream:
// ReadHeader, then one DecodeImage24 or DecodeImage32.
#ifndef VELTRANE_JPEG_DECODER_H
#define VELTRANE_JPEG_DECODER_H

class CJpegDecoder {
public:
    // Reads the header of the stream of `streamLength` bytes (header
    // included), prepares the tables and reports the image size and the
    // header's length (6). False for a stream that cannot be decoded.
    bool ReadHeader(const unsigned char* stream, int streamLength, int& width, int& height, int& headerLength);
    // Decode the whole image as blue-green-red (24) or blue-green-red-255
    // (32) pixels, rows top to bottom. `entropyData` = stream + headerLength.
    bool DecodeImage24(const unsigned char* entropyData, unsigned char* destination);
    bool DecodeImage32(const unsigned char* entropyData, unsigned char* destination);

    // (private state and the table/entropy/IDCT steps follow)
};

#endif  // VELTRANE_JPEG_DECODER_H
