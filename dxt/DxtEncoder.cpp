// DXT1 / DXT5 image encoding: the MMX availability flag, the portable form of
// the per-block encoders and of the image traversal, and the entry points,
// which read the flag once per image and run one form for the whole image.
// The SIMD form's variants are in DxtEncoderSse2.cpp and DxtEncoderAvx2.cpp.
#include "dxt/DxtEncoder.h"

#include "cpu/CpuFeatures.h"
#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtInternal.h"
#include "dxt/DxtTraversal.h"

namespace vt {
namespace dxt {

//----------------------------------------------------------------------------
// The MMX availability flag and its probe. The flag is the processor-feature
// mask's SSE2 bit (cpu/CpuFeatures.h), which the SIMD form needs: probed once
// at load, read-only afterwards but for the masks of test builds.

int DetectMmx() {
#if VT_HAVE_SSE2
    // A feature query in place of executing a guarded instruction.
    return (cpu::ProbeCpuFeatures() & cpu::kCpuSse2) != 0 ? 1 : 0;
#else
    return 0;
#endif
}

int MmxAvailable() {
#if VT_HAVE_SSE2
    return cpu::HasCpuFeature(cpu::kCpuSse2) ? 1 : 0;
#else
    return 0;
#endif
}

Form ChooseForm() {
#if VT_HAVE_SSE2
    const std::uint32_t features = cpu::CpuFeatures();
    if ((features & cpu::kCpuSse2) == 0) return Form::kPortable;
#if VT_HAVE_AVX512
    if (features & cpu::kCpuAvx512) return Form::kAvx512;
#endif
#if VT_HAVE_AVX2
    if (features & cpu::kCpuAvx2) return Form::kAvx2;
#endif
    return Form::kSse2;
#else
    return Form::kPortable;
#endif
}

//----------------------------------------------------------------------------
// One block, both formats, portable form, in the order the block layouts fix:
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

namespace {

struct PortableForm {
    static constexpr bool kPairs = false;
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixels(topLeft, width, block); }
    template <bool kDxt5>
    static void Encode(const uint8_t* block, uint8_t* out) {
        if (kDxt5)
            EncodeDxt5BlockPortable(block, out);
        else
            EncodeDxt1BlockPortable(block, out);
    }
};

}  // namespace

void EncodeImagePortable(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5,
                         int* bytesWritten) {
    TraverseImage<PortableForm>(pixels, output, width, height, dxt5, bytesWritten);
}

void EncodeImage(Form form, const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5,
                 int* bytesWritten) {
    switch (form) {
#if VT_HAVE_AVX512
        case Form::kAvx512:
            EncodeImageAvx512(pixels, output, width, height, dxt5, bytesWritten);
            return;
#endif
#if VT_HAVE_AVX2
        case Form::kAvx2:
            EncodeImageAvx2(pixels, output, width, height, dxt5, bytesWritten);
            return;
#endif
#if VT_HAVE_SSE2
        case Form::kSse2:
            EncodeImageSse2(pixels, output, width, height, dxt5, bytesWritten);
            return;
#endif
        default:
            EncodeImagePortable(pixels, output, width, height, dxt5, bytesWritten);
            return;
    }
}

//----------------------------------------------------------------------------
// Entry points: the flag is read once per image.

void EncodeDxt1Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten) {
    EncodeImage(ChooseForm(), pixels, output, width, height, false, bytesWritten);
}

void EncodeDxt5Image(const unsigned char* pixels, unsigned char* output, int width, int height, int* bytesWritten) {
    EncodeImage(ChooseForm(), pixels, output, width, height, true, bytesWritten);
}

}  // namespace dxt
}  // namespace vt
