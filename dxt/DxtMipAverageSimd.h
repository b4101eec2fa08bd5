// The in-place 2 x 2 mip averaging of the SIMD form, written once for its
// SSE2 and AVX2 variants: the template takes the variant's register
// operations as a struct (Sse2Average in DxtMipChainSse2.cpp, Avx2Average in
// DxtMipChainAvx2.cpp) and is instantiated in that variant's file.
// Internal linkage, so each file has its own copy.
#ifndef VELTRANE_DXT_MIP_AVERAGE_SIMD_H
#define VELTRANE_DXT_MIP_AVERAGE_SIMD_H

#include <cstddef>
#include <cstdint>

#include "dxt/DxtInternal.h"

namespace vt {
namespace dxt {
namespace {

// Ops::kNewPixels means from twice as many old pixels of each of the two
// source rows, by widening: bytes widened to 16-bit lanes, the 2 x 2 sums
// formed, shifted right by 2 and packed back (no saturation can occur: the
// mean is at most 255). Each 128-bit half works on its own; Ops::Pack puts
// the halves' pixels back in order. Needs no byte shuffle, so SSE2 has it.
template <class Ops>
VT_DXT_ALWAYS_INLINE typename Ops::Reg WidenedMeans(const uint8_t* top, const uint8_t* bottom) {
    using Reg = typename Ops::Reg;
    constexpr int kStep = Ops::kNewPixels;
    const Reg t0 = Ops::Load(top), t1 = Ops::Load(top + 4 * kStep);
    const Reg b0 = Ops::Load(bottom), b1 = Ops::Load(bottom + 4 * kStep);
    // Column sums: s*lo = old pixels 0,1 of each half, s*hi = 2,3.
    const Reg s0lo = Ops::Add16(Ops::WidenLo(t0), Ops::WidenLo(b0));
    const Reg s0hi = Ops::Add16(Ops::WidenHi(t0), Ops::WidenHi(b0));
    const Reg s1lo = Ops::Add16(Ops::WidenLo(t1), Ops::WidenLo(b1));
    const Reg s1hi = Ops::Add16(Ops::WidenHi(t1), Ops::WidenHi(b1));
    // Even old pixels plus odd old pixels: two new pixels per half.
    const Reg n0 = Ops::Add16(Ops::UnpackLo64(s0lo, s0hi), Ops::UnpackHi64(s0lo, s0hi));
    const Reg n1 = Ops::Add16(Ops::UnpackLo64(s1lo, s1hi), Ops::UnpackHi64(s1lo, s1hi));
    return Ops::Pack(Ops::Quarter(n0), Ops::Quarter(n1));
}

// Ops::kNewPixels new pixels per step (Ops::Means, from the two source
// rows). All loads of a step precede its store, which lies at or below its
// sources. Columns left over (and a previous width of 1) take the
// per-pixel path.
template <class Ops>
void AverageMipLevelSimd(uint8_t* pixels, int width, int height, bool averageAlpha) {
    using Reg = typename Ops::Reg;
    constexpr int kStep = Ops::kNewPixels;
    if (width <= 0 || height <= 0) return;
    const int newWidth = NextMipSide(width), newHeight = NextMipSide(height);
    const size_t stride = static_cast<size_t>(width) * 4;
    const int vectorWidth = width >= 2 ? newWidth & ~(kStep - 1) : 0;
    const Reg colorMask = Ops::Set1(averageAlpha ? -1 : 0x00FFFFFF);
    for (int y = 0; y < newHeight; ++y) {
        const uint8_t* top = pixels + static_cast<size_t>(ClampToLast(2 * y, height - 1)) * stride;
        const uint8_t* bottom = pixels + static_cast<size_t>(ClampToLast(2 * y + 1, height - 1)) * stride;
        uint8_t* dst = pixels + static_cast<size_t>(y) * newWidth * 4;
        for (int x = 0; x < vectorWidth; x += kStep) {
            const size_t at = static_cast<size_t>(x) * 8;  // old pixel 2x, in bytes
            const Reg mean = Ops::Means(top + at, bottom + at);
            uint8_t* to = dst + 4 * static_cast<size_t>(x);
            Ops::Store(to, averageAlpha ? mean : Ops::Select(colorMask, mean, Ops::Load(to)));
        }
        if (vectorWidth < newWidth) AverageMipRowTailPortable(pixels, width, height, y, vectorWidth, averageAlpha);
    }
}

}  // namespace
}  // namespace dxt
}  // namespace vt

#endif  // VELTRANE_DXT_MIP_AVERAGE_SIMD_H
