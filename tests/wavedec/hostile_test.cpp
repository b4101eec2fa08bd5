// Streams Wavedec cannot decode are refused: bad arguments, unknown formats,
// truncated, corrupted and random bytes. Every input sits at the very end of
// an exact-size allocation and every destination has exactly the size the
// header reported, so a read or write outside them stops the sanitizer build.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>

#include "WavedecTestUtil.h"

namespace {

using namespace wavedec_test;
using vt::j2kenc::Options;

// A small lossy tile with several code blocks and resolution levels.
const Bytes& SmallStream(bool jp2 = false) {
    static const Bytes codestream = Encode(Crop(LoadContent("pier.png"), 60, 60, 64, 48), Options::Ratio(8));
    static const Bytes file = [] {
        Options o = Options::Ratio(8);
        o.jp2 = true;
        return Encode(Crop(LoadContent("pier.png"), 60, 60, 64, 48), o);
    }();
    return jp2 ? file : codestream;
}

// Bytes past a destination's end that a decode must leave as they are: the
// sanitizer build catches any write past the end, this catches one in every
// build.
constexpr size_t kGuardBytes = 64;
constexpr std::uint8_t kGuard = 0xA5;

// Calls both entry points on the first `length` bytes of `stream`, copied to
// an exact-size allocation; decodes (into a destination of exactly the size
// the header gives, followed by guard bytes) only if the header was
// understood. Returns the decode's result.
bool TryDecode(const Bytes& stream, size_t length, int mode, bool* headerOk = nullptr) {
    std::unique_ptr<std::uint8_t[]> data(new std::uint8_t[length == 0 ? 1 : length]);
    std::copy(stream.begin(), stream.begin() + static_cast<std::ptrdiff_t>(length), data.get());
    int w = 0, h = 0, extra = 0;
    const bool info = j2k_decodeImgInfo(data.get(), static_cast<int>(length), w, h, extra);
    if (headerOk) *headerOk = info;
    if (!info) {
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
        return false;
    }
    const size_t size = static_cast<size_t>(w) * h * BytesPerPixel(mode);
    std::unique_ptr<std::uint8_t[]> dst(new std::uint8_t[size + kGuardBytes]);
    std::fill(dst.get() + size, dst.get() + size + kGuardBytes, kGuard);
    const bool decoded = j2k_decode2Buffer(data.get(), static_cast<int>(length), dst.get(), mode);
    for (size_t i = 0; i < kGuardBytes; ++i) {
        EXPECT_EQ(dst[size + i], kGuard) << "written " << i << " bytes past the " << w << " x " << h << " image";
        if (dst[size + i] != kGuard) break;
    }
    return decoded;
}

TEST(WavedecHostile, BadArgumentsAreRefused) {
    Bytes stream = SmallStream();
    const int n = static_cast<int>(stream.size());
    Bytes dst(64 * 48 * 4);
    int w = 7, h = 7, extra = 7;
    EXPECT_FALSE(j2k_decodeImgInfo(nullptr, n, w, h, extra));
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_FALSE(j2k_decodeImgInfo(stream.data(), 0, w, h, extra));
    EXPECT_FALSE(j2k_decodeImgInfo(stream.data(), -n, w, h, extra));
    EXPECT_FALSE(j2k_decode2Buffer(nullptr, n, dst.data(), 1));
    EXPECT_FALSE(j2k_decode2Buffer(stream.data(), n, nullptr, 1));
    EXPECT_FALSE(j2k_decode2Buffer(stream.data(), 0, dst.data(), 1));
    EXPECT_FALSE(j2k_decode2Buffer(stream.data(), -1, dst.data(), 1));
    for (int mode : {-1, 3, 4, 255}) {
        Bytes untouched(dst.size(), 0x5A);
        EXPECT_FALSE(j2k_decode2Buffer(stream.data(), n, untouched.data(), mode)) << mode;
        EXPECT_EQ(untouched, Bytes(dst.size(), 0x5A)) << mode;
    }
    // The same stream and buffer decode with a valid mode.
    EXPECT_TRUE(j2k_decode2Buffer(stream.data(), n, dst.data(), 2));
}

TEST(WavedecHostile, UnknownFormatsAreRefused) {
    // A JPEG start, a PNG signature, a code stream without SIZ, a JP2
    // signature with its last byte wrong, and a single SOC marker.
    const Bytes starts[] = {
        {0xFF, 0xD8, 0xFF, 0xE0, 0, 16, 'J', 'F', 'I', 'F', 0, 1, 1, 0},
        {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13},
        {0xFF, 0x4F, 0xFF, 0x52, 0, 12, 0, 0, 0, 1, 1, 5, 4, 4, 0, 0},
        {0, 0, 0, 12, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0B, 0, 0, 0, 20},
        {0xFF, 0x4F},
    };
    for (const Bytes& s : starts) {
        bool header = true;
        EXPECT_FALSE(TryDecode(s, s.size(), 1, &header));
        EXPECT_FALSE(header);
    }
}

// Every prefix of a stream shorter than the whole is refused: the decoder
// neither reads past the given length nor reports a half-decoded image.
TEST(WavedecHostile, TruncatedStreamsAreRefused) {
    for (bool jp2 : {false, true}) {
        const Bytes& stream = SmallStream(jp2);
        SCOPED_TRACE(jp2 ? "JP2" : "code stream");
        ASSERT_TRUE(TryDecode(stream, stream.size(), 2));
        int headerRead = 0;
        for (size_t length = 0; length < stream.size(); ++length) {
            // Every length through the headers, then a sample of the rest.
            if (length > 300 && length + 8 < stream.size() && length % 13 != 0) continue;
            bool header = false;
            EXPECT_FALSE(TryDecode(stream, length, length % 3 == 0 ? 2 : 1, &header)) << "length " << length;
            headerRead += header ? 1 : 0;
        }
        EXPECT_GT(headerRead, 50);  // most prefixes get as far as decoding
    }
}

// The main header is enough for the size; the pixels need the rest.
TEST(WavedecHostile, HeaderAloneGivesTheSizeButNoPixels) {
    const Bytes& stream = SmallStream();
    // The main header ends where the first tile-part (SOT, FF 90) begins; the
    // reader stops after that marker segment (12 bytes).
    size_t sot = 0;
    for (size_t i = 2; i + 1 < stream.size(); ++i)
        if (stream[i] == 0xFF && stream[i + 1] == 0x90) {
            sot = i;
            break;
        }
    ASSERT_GT(sot, 0u);
    bool header = false;
    EXPECT_FALSE(TryDecode(stream, sot + 12, 1, &header));
    EXPECT_TRUE(header);
    EXPECT_FALSE(TryDecode(stream, sot, 1, &header));
    EXPECT_FALSE(header);
}

// Bytes changed at random places: whatever the outcome, no access outside the
// buffers (the sanitizer build) and no write past the size the header gave
// (the guard bytes, in every build). The changes must reach both outcomes,
// or the test would no longer test what it says.
TEST(WavedecHostile, CorruptedStreamsNeverOverrun) {
    std::mt19937 rng(20261207);
    int decoded = 0, refused = 0;
    for (bool jp2 : {false, true}) {
        const Bytes& original = SmallStream(jp2);
        for (int trial = 0; trial < 150; ++trial) {
            Bytes s = original;
            const int changes = 1 + static_cast<int>(rng() % 4);
            for (int k = 0; k < changes; ++k) {
                // Mostly in the headers, where the structure is described.
                const size_t limit = (rng() % 2) ? std::min<size_t>(s.size(), 200) : s.size();
                s[rng() % limit] = static_cast<std::uint8_t>(rng());
            }
            (TryDecode(s, s.size(), static_cast<int>(trial % 3)) ? decoded : refused) += 1;
        }
    }
    EXPECT_GT(decoded, 0);
    EXPECT_GT(refused, 0);
}

// Sets the image and tile size in a code stream's SIZ segment (ITU-T T.800
// A.5.1: Xsiz at byte 8, Ysiz at 12, XTsiz at 24, YTsiz at 28, big-endian),
// by default one tile covering the image.
Bytes WithSize(Bytes s, std::uint32_t width, std::uint32_t height, std::uint32_t tileWidth = 0,
               std::uint32_t tileHeight = 0) {
    auto put = [&s](size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i) s[at + i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    };
    put(8, width);
    put(12, height);
    put(24, tileWidth ? tileWidth : width);
    put(28, tileHeight ? tileHeight : height);
    return s;
}

// The SIZ segment rewritten for `count` components (Csiz at byte 40, then
// three bytes per component from byte 42), each like the first.
Bytes WithComponents(const Bytes& s, unsigned count) {
    const size_t end = 4 + (static_cast<size_t>(s[4]) << 8 | s[5]);  // past the segment
    const size_t length = 38 + 3 * static_cast<size_t>(count);
    Bytes out(s.begin(), s.begin() + 42);
    out[4] = static_cast<std::uint8_t>(length >> 8);
    out[5] = static_cast<std::uint8_t>(length);
    out[40] = static_cast<std::uint8_t>(count >> 8);
    out[41] = static_cast<std::uint8_t>(count);
    for (unsigned c = 0; c < count; ++c) out.insert(out.end(), s.begin() + 42, s.begin() + 45);
    out.insert(out.end(), s.begin() + static_cast<std::ptrdiff_t>(end), s.end());
    return out;
}

// OpenJPEG sets up coding parameters for every tile and component of the main
// header before it reads a tile: a small stream must not get it to do that for
// more tiles than the stream can hold (a tile-part takes 14 bytes at least) or
// for more than 65,536 tiles times components.
TEST(WavedecHostile, TilingBeyondWhatTheStreamHoldsIsRefused) {
    const Bytes& stream = SmallStream();
    ASSERT_LT(stream.size(), 3072u * 14);
    int w = 0, h = 0, extra = 0;
    auto header = [&](Bytes s) { return j2k_decodeImgInfo(s.data(), static_cast<int>(s.size()), w, h, extra); };
    // The 64 x 48 image in 16 x 16 tiles (12) and in 1 x 1 tiles (3072).
    EXPECT_TRUE(header(WithSize(stream, 64, 48, 16, 16)));
    EXPECT_EQ(w, 64);
    Bytes tiny = WithSize(stream, 64, 48, 1, 1);
    EXPECT_FALSE(header(tiny));
    Bytes dst(64 * 48 * 4, 0x5A);
    EXPECT_FALSE(j2k_decode2Buffer(tiny.data(), static_cast<int>(tiny.size()), dst.data(), 2));
    EXPECT_EQ(dst, Bytes(64 * 48 * 4, 0x5A));
    // 16 tiles of 4096 components are allowed, of 4097 not.
    const Bytes sixteen = WithSize(stream, 64, 48, 16, 12);
    EXPECT_TRUE(header(WithComponents(sixteen, 4096)));
    EXPECT_EQ(extra, 4096);
    EXPECT_FALSE(header(WithComponents(sixteen, 4097)));
}

// Callers size buffers of width x height x 4 bytes in an int: larger images
// are refused before anything is decoded or written.
TEST(WavedecHostile, ImagesTooLargeForAnIntBufferAreRefused) {
    const Bytes& stream = SmallStream();
    ASSERT_EQ(stream[2], 0xFF);
    ASSERT_EQ(stream[3], 0x51);  // SIZ follows SOC
    int w = 0, h = 0, extra = 0;
    // 23170 x 23170 x 4 bytes fits an int, 23171 x 23171 x 4 does not.
    Bytes fits = WithSize(stream, 23170, 23170);
    EXPECT_TRUE(j2k_decodeImgInfo(fits.data(), static_cast<int>(fits.size()), w, h, extra));
    EXPECT_EQ(w, 23170);
    Bytes tooLarge = WithSize(stream, 23171, 23171);
    EXPECT_FALSE(j2k_decodeImgInfo(tooLarge.data(), static_cast<int>(tooLarge.size()), w, h, extra));
    Bytes dst(16, 0x5A);
    EXPECT_FALSE(j2k_decode2Buffer(tooLarge.data(), static_cast<int>(tooLarge.size()), dst.data(), 1));
    EXPECT_EQ(dst, Bytes(16, 0x5A));
}

TEST(WavedecHostile, RandomBytesAreRefused) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; ++trial) {
        Bytes s(1 + rng() % 600);
        for (auto& b : s) b = static_cast<std::uint8_t>(rng());
        // Half of them behind a valid code stream start, so that the header
        // parser is reached.
        if (trial % 2 == 0 && s.size() >= 4) {
            s[0] = 0xFF;
            s[1] = 0x4F;
            s[2] = 0xFF;
            s[3] = 0x51;
        }
        EXPECT_FALSE(TryDecode(s, s.size(), trial % 3)) << "trial " << trial;
    }
}

}  // namespace
