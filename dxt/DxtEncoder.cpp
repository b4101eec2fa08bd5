// DXT1 / DXT5 image encoding: the traversal of an image in 4 x 4 blocks with
// edge replication, the per-block encoders in both forms, and the process-wide
// flag that picks the form.
#include "dxt/DxtEncoder.h"

#include <atomic>
#include <cstring>

#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtInternal.h"
#include "dxt/DxtTraversal.h"

//----------------------------------------------------------------------------
// The availability flag and its probe.
//
// The flag lives in this file together with its initialiser, so any program
// that calls an encoder also links the initialiser and the probe runs at load,
// before an entry point can be called. Encoders that run before it (another
// file's static initialiser) read 0 and take the portable form, which gives
// the same bytes. It is written once at load and only read afterwards (the
// test setter aside); the atomic makes those reads race-free at no cost.

int DetectMmx() {
#if VT_DXT_HAVE_SIMD
    // A feature query in place of executing a guarded instruction. The SIMD
    // form needs SSE2; its AVX2 variant is chosen by a second query below.
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") ? 1 : 0;
#else
    return 0;
#endif
}

namespace {

#if VT_DXT_HAVE_AVX2
// Which variant of the SIMD form runs, asked at load beside the flag. (The
// query also checks that the operating system saves the AVX state.)
bool DetectAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
}
const bool g_cpuHasAvx2 = DetectAvx2();
#endif

std::atomic<int> g_mmxAvailable{DetectMmx()};
}  // namespace

int MmxAvailable() { return g_mmxAvailable.load(std::memory_order_relaxed); }

void SetMmxAvailableForTesting(int value) {
    // Never select a form this build or this processor does not have.
    g_mmxAvailable.store(value != 0 && DetectMmx() != 0 ? 1 : 0, std::memory_order_relaxed);
}

namespace dxt {

//----------------------------------------------------------------------------
// One block, both formats, both forms, in the order the block layouts fix:
// DXT1 = colour0 (high endpoint), colour1 (low endpoint), index word;
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
void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out) { EncodeDxt1BlockWith<Sse2ColourStep>(block, out); }
void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out) { EncodeDxt5BlockWith<Sse2ColourStep>(block, out); }
#endif

#if VT_DXT_HAVE_AVX2
bool CpuHasAvx2() { return g_cpuHasAvx2; }
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
            EncodeDxt5BlockWith<Sse2ColourStep>(block, out);
        else
            EncodeDxt1BlockWith<Sse2ColourStep>(block, out);
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
    if (g_cpuHasAvx2) {
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
