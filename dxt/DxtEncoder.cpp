// DXT1 / DXT5 image encoding: the traversal of an image in 4 x 4 blocks with
// edge replication, the per-block encoders in both forms, and the process-wide
// flag that picks the form.
#include "dxt/DxtEncoder.h"

#include <cstring>

#include "cpu/CpuFeatures.h"
#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtInternal.h"
#include "dxt/DxtTraversal.h"

//----------------------------------------------------------------------------
// The MMX availability flag and its probe. The flag is the processor-feature
// mask's SSE2 bit (cpu/CpuFeatures.h), which the SIMD form needs: probed once
// at load, read-only afterwards but for the masks of test builds.

int DetectMmx() {
#if VT_DXT_HAVE_SIMD
    // A feature query in place of executing a guarded instruction.
    return (vt::cpu::ProbeCpuFeatures() & vt::cpu::kCpuSse2) != 0 ? 1 : 0;
#else
    return 0;
#endif
}

int MmxAvailable() {
#if VT_DXT_HAVE_SIMD
    return vt::cpu::HasCpuFeature(vt::cpu::kCpuSse2) ? 1 : 0;
#else
    return 0;
#endif
}

namespace dxt {

//----------------------------------------------------------------------------
// One block, both formats, both forms, in the order the block layouts fix:
// DXT1 = color0 (high endpoint), color1 (low endpoint), index word;
// DXT5 = alpha0, alpha1, alpha index field, then the DXT1 block of the same
// bounds.

void EncodeDxt1BlockPortable(const uint8_t* block, uint8_t* out) {
    uint8_t low[4] = {0, 0, 0, 0}, high[4] = {0, 0, 0, 0};
    FindColorBounds(block, low, high);
    PutU16(PackEndpoint565(high), out);
    PutU16(PackEndpoint565(low), out);
    SelectColorIndices(block, low, high, out);
}

void EncodeDxt5BlockPortable(const uint8_t* block, uint8_t* out) {
    uint8_t low[4], high[4];
    FindColorAlphaBounds(block, low, high);
    PutU8(high[3], out);
    PutU8(low[3], out);
    SelectAlphaIndices(block, low[3], high[3], out);
    PutU16(PackEndpoint565(high), out);
    PutU16(PackEndpoint565(low), out);
    SelectColorIndices(block, low, high, out);
}

#if VT_DXT_HAVE_SIMD
void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockWith<Sse2ColorStep>(block, out); }
void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockWith<Sse2ColorStep>(block, out); }
#endif

namespace {

struct PortableForm {
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixels(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockPortable(block, out);
        else
            EncodeDxt1BlockPortable(block, out);
    }
};

#if VT_DXT_HAVE_SIMD
struct Sse2Form {
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixelsSimd(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockWith<Sse2ColorStep>(block, out);
        else
            EncodeDxt1BlockWith<Sse2ColorStep>(block, out);
    }
};
#endif

}  // namespace

void EncodeImagePortable(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5,
                         int* bytesWritten) {
    TraverseImage<PortableForm>(pixels, output, width, height, dxt5, bytesWritten);
}

#if VT_DXT_HAVE_SIMD
void EncodeImageSse2(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    TraverseImage<Sse2Form>(pixels, output, width, height, dxt5, bytesWritten);
}

void EncodeImageSimd(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
#if VT_DXT_HAVE_AVX2
    if (vt::cpu::HasCpuFeature(vt::cpu::kCpuAvx2)) {
        EncodeImageAvx2(pixels, output, width, height, dxt5, bytesWritten);
        return;
    }
#endif
    EncodeImageSse2(pixels, output, width, height, dxt5, bytesWritten);
}
#endif

}  // namespace dxt

//----------------------------------------------------------------------------
// Entry points: the flag is read once per image.

static void EncodeWithFlag(const unsigned char* pixels, unsigned char* output, int width, int height, bool dxt5,
                           int* bytesWritten) {
#if VT_DXT_HAVE_SIMD
    if (MmxAvailable()) {
        dxt::EncodeImageSimd(pixels, output, width, height, dxt5, bytesWritten);
        return;
    }
#endif
    dxt::EncodeImagePortable(pixels, output, width, height, dxt5, bytesWritten);
}

void EncodeDxt1Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten) {
    EncodeWithFlag(pixels, output, width, height, false, bytesWritten);
}

void EncodeDxt5Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten) {
    EncodeWithFlag(pixels, output, width, height, true, bytesWritten);
}
