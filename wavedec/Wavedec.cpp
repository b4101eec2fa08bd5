// Placeholder until the OpenJPEG binding lands: every stream is refused.
#include "Wavedec.h"

bool j2k_decodeImgInfo(unsigned char*, int, int& width, int& height, int& extra) {
    width = height = extra = 0;
    return false;
}

bool j2k_decode2Buffer(unsigned char*, int, unsigned char*, int) { return false; }
