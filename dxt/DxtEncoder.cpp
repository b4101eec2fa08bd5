// DXT1 / DXT5 image encoding: the traversal of an image in 4 x 4 blocks with
// edge replication, the per-block encoders in both forms, and the process-wide
// flag that picks the form.
#include "dxt/DxtEncoder.h"

#include <atomic>
#include <cstring>

#include "dxt/DxtBlockPortable.h"
#include "dxt/DxtBlockSimd.h"
#include "dxt/DxtInternal.h"

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
    // forms use SSE2 and nothing newer.
    __builtin_cpu_init();
    return __builtin_cpu_supports("sse2") ? 1 : 0;
#else
    return 0;
#endif
}

namespace {
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
void EncodeDxt1BlockSimd(const uint8_t* block, uint8_t* out) {
    uint8_t low[4], high[4];
    FindColorAlphaBoundsSimd(block, low, high);
    PutU16(PackEndpoint565(high), out);
    PutU16(PackEndpoint565(low), out);
    out += SelectColorIndicesSimd(block, low, high, out);
}

void EncodeDxt5BlockSimd(const uint8_t* block, uint8_t* out) {
    uint8_t low[4], high[4];
    FindColorAlphaBoundsSimd(block, low, high);
    PutU8(high[3], out);
    PutU8(low[3], out);
    out += SelectAlphaIndicesSimd(block, low[3], high[3], out);
    PutU16(PackEndpoint565(high), out);
    PutU16(PackEndpoint565(low), out);
    out += SelectColorIndicesSimd(block, low, high, out);
}
#endif

void GatherEdgeBlock(const uint8_t* topLeft, int width, int columns, int rows, uint8_t* block) {
    const size_t stride = static_cast<size_t>(width) * 4;
    for (int r = 0; r < rows; ++r) {
        uint8_t* dst = block + 16 * r;
        std::memcpy(dst, topLeft + r * stride, static_cast<size_t>(columns) * 4);
        for (int c = columns; c < 4; ++c) std::memcpy(dst + 4 * c, dst + 4 * (columns - 1), 4);
    }
    for (int r = rows; r < 4; ++r) std::memcpy(block + 16 * r, block + 16 * (rows - 1), 16);
}

namespace {

//----------------------------------------------------------------------------
// The traversal, one body for both formats and both forms. Full blocks are
// copied straight from the image; only the last block column and the last
// block row are gathered with replication. The form is a template argument,
// fixed for the whole image.

struct PortableForm {
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixels(topLeft, width, block); }
    static void Encode(const uint8_t* block, uint8_t* out, bool dxt5) {
        if (dxt5)
            EncodeDxt5BlockPortable(block, out);
        else
            EncodeDxt1BlockPortable(block, out);
    }
};

#if VT_DXT_HAVE_SIMD
struct SimdForm {
    static void Copy(const uint8_t* topLeft, int width, uint8_t* block) { CopyBlockPixelsSimd(topLeft, width, block); }
    static void Encode(const uint8_t* block, uint8_t* out, bool dxt5) {
        if (dxt5)
            EncodeDxt5BlockSimd(block, out);
        else
            EncodeDxt1BlockSimd(block, out);
    }
};
#endif

template <class Form, bool kDxt5>
void EncodeImage(const uint8_t* pixels, uint8_t* output, int width, int height, int* bytesWritten) {
    if (width <= 0 || height <= 0) {
        *bytesWritten = 0;
        return;
    }
    constexpr int kOutBytes = kDxt5 ? 16 : 8;
    const int fullWidth = (width / 4) * 4;
    const int restWidth = width - fullWidth;
    const size_t stride = static_cast<size_t>(width) * 4;
    alignas(16) uint8_t block[kBlockBytes];
    uint8_t* out = output;
    for (int y = 0; y < height; y += 4) {
        const uint8_t* row = pixels + static_cast<size_t>(y) * stride;
        const int rows = height - y < 4 ? height - y : 4;
        for (int x = 0; x < fullWidth; x += 4) {
            if (rows == 4)
                Form::Copy(row + 4 * static_cast<size_t>(x), width, block);
            else
                GatherEdgeBlock(row + 4 * static_cast<size_t>(x), width, 4, rows, block);
            Form::Encode(block, out, kDxt5);
            out += kOutBytes;
        }
        if (restWidth > 0) {
            GatherEdgeBlock(row + 4 * static_cast<size_t>(fullWidth), width, restWidth, rows, block);
            Form::Encode(block, out, kDxt5);
            out += kOutBytes;
        }
    }
    *bytesWritten = static_cast<int>(out - output);
}

}  // namespace

void EncodeImagePortable(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5,
                         int* bytesWritten) {
    if (dxt5)
        EncodeImage<PortableForm, true>(pixels, output, width, height, bytesWritten);
    else
        EncodeImage<PortableForm, false>(pixels, output, width, height, bytesWritten);
}

#if VT_DXT_HAVE_SIMD
void EncodeImageSimd(const uint8_t* pixels, uint8_t* output, int width, int height, bool dxt5, int* bytesWritten) {
    if (dxt5)
        EncodeImage<SimdForm, true>(pixels, output, width, height, bytesWritten);
    else
        EncodeImage<SimdForm, false>(pixels, output, width, height, bytesWritten);
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
