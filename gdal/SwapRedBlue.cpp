#include "SwapRedBlue.h"

#if defined(__x86_64__) || defined(__i386__)
#include <tmmintrin.h>
#define VT_SWAP_HAVE_SSSE3 1
#endif

namespace vt {
namespace gdal {

void SwapRedBluePortable(const unsigned char* in, unsigned char* out, std::size_t count, int step) {
    for (std::size_t i = 0; i < count; ++i, in += step, out += step) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (step == 4) out[3] = in[3];
    }
}

#if VT_SWAP_HAVE_SSSE3

namespace {

// 16 bytes at a time: five 3-byte pixels and one byte that the next step
// overwrites, or four 4-byte pixels. The loop stops while a whole 16 bytes
// remain on both sides; the plain form does the rest.
__attribute__((target("ssse3"))) std::size_t SwapRedBlueSsse3(const unsigned char* in, unsigned char* out,
                                                              std::size_t count, int step) {
    const std::size_t perStep = step == 3 ? 5 : 4;
    const __m128i order = step == 3 ? _mm_setr_epi8(2, 1, 0, 5, 4, 3, 8, 7, 6, 11, 10, 9, 14, 13, 12, 15)
                                    : _mm_setr_epi8(2, 1, 0, 3, 6, 5, 4, 7, 10, 9, 8, 11, 14, 13, 12, 15);
    std::size_t done = 0;
    for (; (count - done) * static_cast<std::size_t>(step) >= 16 + static_cast<std::size_t>(step);
         done += perStep) {
        const std::size_t at = done * static_cast<std::size_t>(step);
        __m128i pixels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + at));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), _mm_shuffle_epi8(pixels, order));
    }
    return done;
}

const bool kHaveSsse3 = __builtin_cpu_supports("ssse3");

}  // namespace

#endif

void SwapRedBlue(const unsigned char* in, unsigned char* out, std::size_t count, int step) {
    std::size_t done = 0;
#if VT_SWAP_HAVE_SSSE3
    if (kHaveSsse3 && count > 0) done = SwapRedBlueSsse3(in, out, count, step);
#endif
    SwapRedBluePortable(in + done * step, out + done * step, count - done, step);
}

}  // namespace gdal
}  // namespace vt
