// Shared material of the orthophoto and terrain image tests: 256 x 256 JPEG 2000
// code streams (encoded once per process), OpenJPEG's own pixels for them,
// and the checks every fixed-size image decoder must pass.
#ifndef VELTRANE_TESTS_ORTHO_FIXED_TILE_SUPPORT_H
#define VELTRANE_TESTS_ORTHO_FIXED_TILE_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "J2kEncode.h"
#include "payload/PayloadTestSupport.h"

namespace vt_fixed_tile_test {

using vt_payload_test::Bytes;

constexpr unsigned char kFill = 0xCD;

inline bool Untouched(const Bytes& b) {
    return std::all_of(b.begin(), b.end(), [](unsigned char c) { return c == kFill; });
}

struct Sample {
    Bytes stream;  // JPEG 2000 code stream
    Bytes bgra;    // what OpenJPEG decodes it to, blue-green-red-alpha
};

inline Sample MakeSample(const Bytes& rgb, int w, int h, const vt::j2kenc::Options& options) {
    std::vector<std::uint8_t> out;
    EXPECT_TRUE(vt::j2kenc::EncodeImage(rgb.data(), w, h, 3, options, out));
    Sample s;
    s.stream.assign(out.begin(), out.end());
    int rw = 0, rh = 0;
    EXPECT_TRUE(vt_payload_test::OpenJpegReference(s.stream, rw, rh, s.bgra));
    return s;
}

// A photograph (lossy) and the plasma image (lossless).
inline const Sample& Photo() {
    static const Sample s =
        MakeSample(vt_payload_test::LoadRgbCrop("board.jpg", 300, 150, 256, 256), 256, 256, vt::j2kenc::Options::Ratio(15));
    return s;
}
inline const Sample& Plasma() {
    static const Sample s =
        MakeSample(vt_payload_test::LoadRgbCrop("plasma.png", 0, 0, 256, 256), 256, 256, vt::j2kenc::Options::Lossless());
    return s;
}

// Lossless image made of 2 x 2 quads whose channel sums leave a remainder of
// 2 or 3: a truncating average and a rounding one differ on every quad. Some
// quads hold the literal examples 255, 255, 255, 254 (-> 254) and 1, 1, 1, 0
// (-> 0).
inline const Sample& Quads() {
    static const Sample s = [] {
        Bytes rgb(256 * 256 * 3);
        for (int qy = 0; qy < 128; ++qy) {
            for (int qx = 0; qx < 128; ++qx) {
                for (int c = 0; c < 3; ++c) {
                    int base = (qx * 3 + qy * 5 + c * 40) % 200 + 20;
                    int low = base, high = base + 1;  // 3 x high + low: remainder 3
                    if (qx < 8 && qy < 8) {
                        low = c == 1 ? 0 : 254;
                        high = c == 1 ? 1 : 255;
                    }
                    const int v[4] = {high, high, high, low};
                    for (int k = 0; k < 4; ++k) {
                        const int x = 2 * qx + (k & 1), y = 2 * qy + (k >> 1);
                        rgb[(static_cast<std::size_t>(y) * 256 + x) * 3 + c] = static_cast<unsigned char>(v[k]);
                    }
                }
            }
        }
        return MakeSample(rgb, 256, 256, vt::j2kenc::Options::Lossless());
    }();
    return s;
}

inline const Sample& Uniform() {
    static const Sample s = [] {
        Bytes rgb(256 * 256 * 3);
        for (std::size_t i = 0; i < rgb.size(); i += 3) {
            rgb[i] = 200;
            rgb[i + 1] = 90;
            rgb[i + 2] = 33;
        }
        return MakeSample(rgb, 256, 256, vt::j2kenc::Options::Lossless());
    }();
    return s;
}

// Valid code streams of images that are not 256 x 256.
inline std::vector<Bytes> OtherSizes() {
    std::vector<Bytes> out;
    const int sizes[][2] = {{128, 128}, {256, 128}, {255, 256}, {257, 256}, {256, 260}};
    for (const auto& s : sizes) {
        Bytes rgb(static_cast<std::size_t>(s[0]) * s[1] * 3, 77);
        std::vector<std::uint8_t> stream;
        EXPECT_TRUE(vt::j2kenc::EncodeImage(rgb.data(), s[0], s[1], 3, vt::j2kenc::Options::Ratio(20), stream));
        out.emplace_back(stream.begin(), stream.end());
    }
    return out;
}

// Code streams whose main header still gives 256 x 256 but that the codec
// cannot decode: cut inside the tile data, or with a damaged tile-part header.
inline std::vector<Bytes> Damaged() {
    const Bytes& s = Photo().stream;
    std::size_t sot = 0;
    for (std::size_t i = 0; i + 1 < s.size(); ++i) {
        if (s[i] == 0xFF && s[i + 1] == 0x90) {
            sot = i;
            break;
        }
    }
    EXPECT_NE(sot, 0u);
    Bytes half(s.begin(), s.begin() + static_cast<long>(s.size() / 2));
    Bytes badTile = s;
    badTile[sot + 4] = 0;
    badTile[sot + 5] = 9;  // tile index 9 of a one-tile image
    return {half, badTile};
}

inline void ExpectPixelsMatch(const Bytes& ref, const Bytes& rgb, const Bytes& packed, const Bytes& rgba) {
    for (std::size_t i = 0; i < 256 * 256; ++i) {
        for (int c = 0; c < 3; ++c) ASSERT_EQ(rgb[3 * i + c], ref[4 * i + c]) << i;
        const int value = (ref[4 * i] >> 3) << 11 | (ref[4 * i + 1] >> 2) << 5 | ref[4 * i + 2] >> 3;
        ASSERT_EQ(packed[2 * i] | packed[2 * i + 1] << 8, value) << i;
    }
    EXPECT_EQ(rgba, ref);
}

// `chain` is the truncating chain of `bgra` and not the rounding one.
inline void ExpectTruncatingChain(const Bytes& bgra, const Bytes& chain) {
    const Bytes truncating = vt_payload_test::ReferenceChain(bgra, 256, false, true);
    const Bytes rounding = vt_payload_test::ReferenceChain(bgra, 256, false, true, true);
    ASSERT_NE(truncating, rounding);
    EXPECT_EQ(chain, truncating);
}

// Every 8-byte block of the 43,704-byte chain is the same.
inline void ExpectOneBlockEverywhere(const Bytes& chain) {
    ASSERT_EQ(chain.size(), 43704u);
    for (std::size_t i = 8; i < chain.size(); i += 8) {
        ASSERT_TRUE(std::equal(chain.begin(), chain.begin() + 8, chain.begin() + static_cast<long>(i))) << i;
    }
}

class FixedTileTest : public ::testing::Test {};

}  // namespace vt_fixed_tile_test

#endif  // VELTRANE_TESTS_ORTHO_FIXED_TILE_SUPPORT_H
