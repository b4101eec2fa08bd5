// Compact JPEG decoder: portable inverse DCT and colour conversion, the
// reference for the SIMD forms.
#include <cstring>

#include "jpeg/JpegKernels.h"

namespace vt {
namespace jpeg {
namespace {

// The AAN (Arai, Agui, Nakajima) scaled 8-point IDCT in the arrangement of
// Pennebaker & Mitchell figure 4-8, with the multipliers 1.082392200,
// 1.414213562, 1.847759065 and 2.613125930 in 8-bit fixed point. The AAN
// scale factors are already folded into the dequantisation multipliers.
// Values are carried as uint32_t so that overflow on damaged data wraps
// (two's complement) instead of being undefined; products are shifted as
// signed values, i.e. rounded towards minus infinity.
constexpr int32_t kFix1_082392200 = 277;
constexpr int32_t kFix1_414213562 = 362;
constexpr int32_t kFix1_847759065 = 473;
constexpr int32_t kFix2_613125930 = 669;

inline uint32_t Mul(uint32_t x, int32_t c) {
    return static_cast<uint32_t>(static_cast<int32_t>(x * static_cast<uint32_t>(c)) >> 8);
}

inline void Butterfly(const uint32_t in[8], uint32_t out[8]) {
    // Even part.
    const uint32_t t10 = in[0] + in[4];
    const uint32_t t11 = in[0] - in[4];
    const uint32_t t13 = in[2] + in[6];
    const uint32_t t12 = Mul(in[2] - in[6], kFix1_414213562) - t13;
    const uint32_t e0 = t10 + t13;
    const uint32_t e3 = t10 - t13;
    const uint32_t e1 = t11 + t12;
    const uint32_t e2 = t11 - t12;
    // Odd part.
    const uint32_t z13 = in[5] + in[3];
    const uint32_t z10 = in[5] - in[3];
    const uint32_t z11 = in[1] + in[7];
    const uint32_t z12 = in[1] - in[7];
    const uint32_t o7 = z11 + z13;
    const uint32_t o11 = Mul(z11 - z13, kFix1_414213562);
    const uint32_t z5 = Mul(z10 + z12, kFix1_847759065);
    const uint32_t o10 = Mul(z12, kFix1_082392200) - z5;
    const uint32_t o12 = Mul(z10, -kFix2_613125930) + z5;
    const uint32_t o6 = o12 - o7;
    const uint32_t o5 = o11 - o6;
    const uint32_t o4 = o10 + o5;
    out[0] = e0 + o7;
    out[7] = e0 - o7;
    out[1] = e1 + o6;
    out[6] = e1 - o6;
    out[2] = e2 + o5;
    out[5] = e2 - o5;
    out[4] = e3 + o4;
    out[3] = e3 - o4;
}

// Drops the 2 fractional bits of the multipliers and the factor 8 of the
// 2-D transform, reads the low 10 bits as a signed value and clamps it + 128.
inline uint8_t RangeLimit(const uint8_t* rangeLimit, uint32_t x) {
    return rangeLimit[384 + ((x >> 5) & 1023)];
}

}  // namespace

void InverseDctPortable(const int16_t* coefficients, const uint16_t* multipliers, const uint8_t* rangeLimit,
                        uint8_t* samples) {
    uint32_t workspace[64];
    uint32_t in[8], out[8];
    for (int c = 0; c < 8; ++c) {
        for (int r = 0; r < 8; ++r)
            in[r] = static_cast<uint32_t>(coefficients[8 * r + c] * static_cast<int32_t>(multipliers[8 * r + c]));
        bool acZero = true;
        for (int r = 1; r < 8; ++r) acZero = acZero && coefficients[8 * r + c] == 0;
        if (acZero) {
            for (int r = 0; r < 8; ++r) workspace[8 * r + c] = in[0];
            continue;
        }
        Butterfly(in, out);
        for (int r = 0; r < 8; ++r) workspace[8 * r + c] = out[r];
    }
    for (int r = 0; r < 8; ++r) {
        const uint32_t* row = workspace + 8 * r;
        bool acZero = true;
        for (int k = 1; k < 8; ++k) acZero = acZero && row[k] == 0;
        if (acZero) {
            std::memset(samples + 8 * r, RangeLimit(rangeLimit, row[0]), 8);
            continue;
        }
        Butterfly(row, out);
        for (int k = 0; k < 8; ++k) samples[8 * r + k] = RangeLimit(rangeLimit, out[k]);
    }
}

namespace {

template <int BytesPerPixel>
void ConvertMcuPortable(const uint8_t* samples, const ColorTables& t, uint8_t* pixels, size_t stride) {
    const uint8_t* clamp = t.rangeLimit + 256;
    const uint8_t* cbBlock = samples + 256;
    const uint8_t* crBlock = samples + 320;
    for (int r = 0; r < 16; ++r) {
        const uint8_t* lumaRow = samples + 128 * (r >> 3) + 8 * (r & 7);
        uint8_t* out = pixels + static_cast<size_t>(r) * stride;
        for (int c = 0; c < 16; ++c) {
            const int y = lumaRow[64 * (c >> 3) + (c & 7)];
            const int cb = cbBlock[8 * (r >> 1) + (c >> 1)];
            const int cr = crBlock[8 * (r >> 1) + (c >> 1)];
            out[0] = clamp[y + t.cbToB[cb]];
            out[1] = clamp[y + ((t.cbToG[cb] + t.crToG[cr]) >> 16)];
            out[2] = clamp[y + t.crToR[cr]];
            if (BytesPerPixel == 4) out[3] = 255;
            out += BytesPerPixel;
        }
    }
}

}  // namespace

void ConvertMcu24Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<3>(samples, tables, pixels, stride);
}

void ConvertMcu32Portable(const uint8_t* samples, const ColorTables& tables, uint8_t* pixels, size_t stride) {
    ConvertMcuPortable<4>(samples, tables, pixels, stride);
}

}  // namespace jpeg
}  // namespace vt
