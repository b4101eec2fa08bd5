// Exact-size inflation: libdeflate (what the library uses where the build has
// it) against zlib's uncompress (the reference, and what the library uses
// elsewhere). Every stream must get the same verdict from both and, when
// accepted, the same bytes: alpha planes and elevation grids as the tests,
// the tools and the fuzz seeds make them, at every compression level, and
// the same streams damaged: truncated, corrupted byte by byte, with a wrong
// check value, asking for a preset dictionary, with trailing bytes, and
// with the expected size off by one either way.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "Payloads.h"
#include "Procedural.h"
#include "format/InflateExact.h"
#include "support/Bytes.h"
#include "support/Photos.h"

namespace {

using vt::test::Bytes;

struct Plain {
    std::string name;
    Bytes bytes;
};

// Raw contents: alpha planes (opaque, a no-data mask, gradients with hard
// edges, noise, a photograph's channel) and elevation grids.
std::vector<Plain> Contents() {
    std::vector<Plain> out;
    std::mt19937 rng(3);
    for (int side : {1, 3, 64, 256}) {
        const std::size_t n = static_cast<std::size_t>(side) * side;
        out.push_back({"opaque" + std::to_string(side), Bytes(n, 255)});
        Bytes noise(n);
        for (auto& b : noise) b = static_cast<unsigned char>(rng());
        out.push_back({"noise" + std::to_string(side), noise});
        Bytes edges(n);
        for (int y = 0; y < side; ++y)
            for (int x = 0; x < side; ++x)
                edges[static_cast<std::size_t>(y) * side + x] =
                    static_cast<unsigned char>(y < side / 2 ? x * 255 / side : ((x / 8 + y / 8) & 1) * 255);
        out.push_back({"edges" + std::to_string(side), edges});
    }
    // The fuzz seeds' tiles: a procedural terrain with a no-data strip.
    vt::payloads::Area area;
    area.width = area.height = 256;
    const std::vector<float> heights = vt::payloads::HeightField(area);
    const vt::payloads::Image tile = vt::payloads::RenderTerrain(area, heights, true);
    Bytes mask(static_cast<std::size_t>(tile.width) * tile.height);
    for (std::size_t i = 0; i < mask.size(); ++i) mask[i] = tile.rgba[4 * i + 3];
    out.push_back({"nodata-mask", mask});
    // Elevation grids (the section the DEM/DOM packets inflate).
    vt::payloads::Area gridArea;
    gridArea.width = gridArea.height = 255;
    const std::vector<float> samples = vt::payloads::HeightField(gridArea);
    Bytes grid(samples.size() * 4);
    std::memcpy(grid.data(), samples.data(), grid.size());
    out.push_back({"grid", grid});
    // A photograph's green channel.
    const vt::test::Photo& photo = vt::test::LoadPhoto("plasma.png", 4);
    Bytes green(static_cast<std::size_t>(photo.width) * photo.height);
    for (std::size_t i = 0; i < green.size(); ++i) green[i] = photo.pixels[4 * i + 1];
    out.push_back({"photo", green});
    return out;
}

// Both inflaters on one stream; they must agree on the verdict and, when
// they accept it, on every byte. With `intact` (the content of the stream
// before it was damaged) one divergence is allowed: libdeflate decodes the
// length symbols 286 and 287 of a fixed-code block, which zlib calls
// invalid, as length 258; where the damage only turned one such code into
// another, libdeflate accepts the stream, and its bytes must then be the
// intact content (the Adler-32 check value vouches for them).
void ExpectSameVerdict(const Bytes& stream, std::uint32_t size, const std::string& what, bool* accepted = nullptr,
                       const Bytes* intact = nullptr) {
    // Exact-size copies and destinations: any over-read or over-write is
    // outside its allocation (ASan).
    std::unique_ptr<unsigned char[]> in(new unsigned char[stream.size() + (stream.empty() ? 1 : 0)]);
    if (!stream.empty()) std::memcpy(in.get(), stream.data(), stream.size());
    std::unique_ptr<unsigned char[]> a(new unsigned char[size + 1]), b(new unsigned char[size + 1]);
    const bool byZlib = vt::InflateExactZlib(a.get(), size, in.get(), stream.size());
    const bool byLibdeflate = vt::InflateExactLibdeflate(b.get(), size, in.get(), stream.size());
    if (accepted != nullptr) *accepted = byZlib;
    if (!byZlib && byLibdeflate && intact != nullptr) {
        ASSERT_EQ(size, intact->size()) << what;
        ASSERT_EQ(0, std::memcmp(b.get(), intact->data(), size)) << what << ": libdeflate accepted other bytes";
        return;
    }
    ASSERT_EQ(byZlib, byLibdeflate) << what;
    if (byZlib) {
        ASSERT_EQ(0, std::memcmp(a.get(), b.get(), size)) << what;
    }
}

// The zlib stream of `data` with a preset dictionary (FDICT set, DICTID in
// the header).
Bytes DeflateWithDictionary(const Bytes& data) {
    z_stream z{};
    EXPECT_EQ(deflateInit(&z, 6), Z_OK);
    static const unsigned char kDictionary[] = "alpha plane dictionary";
    deflateSetDictionary(&z, kDictionary, sizeof kDictionary);
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())));
    z.next_in = const_cast<unsigned char*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&z, Z_FINISH), Z_STREAM_END);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

TEST(InflateDifferential, WellFormedStreamsAtEveryLevel) {
    for (const Plain& p : Contents()) {
        for (int level = 0; level <= 9; ++level) {
            const Bytes stream = vt::test::Deflate(p.bytes, level);
            bool accepted = false;
            ExpectSameVerdict(stream, static_cast<std::uint32_t>(p.bytes.size()), p.name, &accepted);
            EXPECT_TRUE(accepted) << p.name << " level " << level;
            // Off by one either way: refused by both.
            const auto size = static_cast<std::uint32_t>(p.bytes.size());
            ExpectSameVerdict(stream, size + 1, p.name + " one more expected", &accepted);
            EXPECT_FALSE(accepted);
            if (size > 0) {
                ExpectSameVerdict(stream, size - 1, p.name + " one fewer expected", &accepted);
                EXPECT_FALSE(accepted);
            }
        }
    }
}

TEST(InflateDifferential, TruncatedStreams) {
    for (const Plain& p : Contents()) {
        const Bytes stream = vt::test::Deflate(p.bytes);
        const auto size = static_cast<std::uint32_t>(p.bytes.size());
        for (std::size_t keep = 0; keep < stream.size(); keep += 1 + stream.size() / 97) {
            bool accepted = true;
            ExpectSameVerdict(Bytes(stream.begin(), stream.begin() + static_cast<long>(keep)), size,
                              p.name + " first " + std::to_string(keep), &accepted);
            EXPECT_FALSE(accepted);
        }
        for (std::size_t keep : {stream.size() - 1, stream.size() - 4}) {
            bool accepted = true;
            ExpectSameVerdict(Bytes(stream.begin(), stream.begin() + static_cast<long>(keep)), size,
                              p.name + " without check bytes", &accepted);
            EXPECT_FALSE(accepted);
        }
    }
}

TEST(InflateDifferential, WrongCheckValueHeaderAndDictionary) {
    for (const Plain& p : Contents()) {
        const Bytes stream = vt::test::Deflate(p.bytes);
        const auto size = static_cast<std::uint32_t>(p.bytes.size());
        bool accepted = true;
        for (int k = 1; k <= 4; ++k) {  // each byte of the Adler-32 value
            Bytes wrong = stream;
            wrong[wrong.size() - k] ^= 0x01;
            ExpectSameVerdict(wrong, size, p.name + " check byte", &accepted);
            EXPECT_FALSE(accepted);
        }
        Bytes header = stream;
        header[1] ^= 0x01;  // FCHECK no longer makes the header a multiple of 31
        ExpectSameVerdict(header, size, p.name + " header check", &accepted);
        EXPECT_FALSE(accepted);
        Bytes method = stream;
        method[0] = 0x79;  // CM 9, CINFO 7: not deflate; FCHECK made right
        method[1] = static_cast<unsigned char>((31 - (0x7900 % 31)) % 31);
        ExpectSameVerdict(method, size, p.name + " method", &accepted);
        EXPECT_FALSE(accepted);
        ExpectSameVerdict(DeflateWithDictionary(p.bytes), size, p.name + " preset dictionary", &accepted);
        EXPECT_FALSE(accepted);
    }
}

TEST(InflateDifferential, TrailingBytesAreIgnoredByBoth) {
    for (const Plain& p : Contents()) {
        Bytes stream = vt::test::Deflate(p.bytes);
        stream.insert(stream.end(), {0x00, 0xFF, 0x78, 0x9C, 0x12});
        bool accepted = false;
        ExpectSameVerdict(stream, static_cast<std::uint32_t>(p.bytes.size()), p.name + " trailing", &accepted);
        EXPECT_TRUE(accepted);
    }
}

// A short stream missing its last byte, where that byte is zero: an
// inflater that reads zero bytes past the end (as both may while refilling)
// must still refuse a footer that lies partly outside the stream.
TEST(InflateDifferential, FooterEndingInAZeroByteMustBeComplete) {
    Bytes plane(4096, 255);
    Bytes stream;
    for (unsigned value = 0; value < 256 * 256; ++value) {
        plane[0] = static_cast<unsigned char>(value);
        plane[1] = static_cast<unsigned char>(value >> 8);
        stream = vt::test::Deflate(plane);
        if (stream.back() == 0) break;
    }
    ASSERT_EQ(stream.back(), 0) << "no plane found whose check value ends in a zero byte";
    bool accepted = false;
    ExpectSameVerdict(stream, static_cast<std::uint32_t>(plane.size()), "whole", &accepted);
    ASSERT_TRUE(accepted);
    stream.pop_back();
    ExpectSameVerdict(stream, static_cast<std::uint32_t>(plane.size()), "without its zero byte", &accepted);
    EXPECT_FALSE(accepted);
}

// Damage at random places: single flipped bits, overwritten bytes and
// overwritten runs. Most such streams are refused; whatever the verdict,
// both give it.
TEST(InflateDifferential, CorruptedStreams) {
    std::mt19937 rng(11);
    for (const Plain& p : Contents()) {
        const Bytes stream = vt::test::Deflate(p.bytes, static_cast<int>(rng() % 10));
        const auto size = static_cast<std::uint32_t>(p.bytes.size());
        for (int trial = 0; trial < 200; ++trial) {
            Bytes damaged = stream;
            const std::size_t at = rng() % damaged.size();
            if (trial % 3 == 0) {
                damaged[at] ^= static_cast<unsigned char>(1u << (rng() % 8));
            } else if (trial % 3 == 1) {
                damaged[at] = static_cast<unsigned char>(rng());
            } else {
                for (std::size_t k = at; k < damaged.size() && k < at + 8; ++k) damaged[k] = static_cast<unsigned char>(rng());
            }
            ExpectSameVerdict(damaged, size, p.name + " trial " + std::to_string(trial), nullptr, &p.bytes);
        }
    }
}

// The divergence itself, made by hand: a fixed-code block with the literal
// 'a' and then length symbol 286 at distance 1. libdeflate takes 286 as
// length 258 and gives 259 bytes of 'a', which the check value confirms;
// zlib refuses the symbol.
TEST(InflateDifferential, LengthSymbol286IsTheOneDivergence) {
    std::vector<int> bits;
    auto huffman = [&](unsigned code, int n) {  // codes go most significant bit first
        for (int i = n - 1; i >= 0; --i) bits.push_back((code >> i) & 1);
    };
    bits.push_back(1);  // BFINAL
    bits.push_back(1);  // BTYPE 01 (fixed codes), least significant bit first
    bits.push_back(0);
    huffman(0x30 + 'a', 8);      // literal 'a'
    huffman(0xC0 + 286 - 280, 8);  // length symbol 286
    huffman(0, 5);               // distance code 0: distance 1
    huffman(0, 7);               // end of block
    Bytes stream = {0x78, 0x01};
    for (std::size_t i = 0; i < bits.size(); i += 8) {
        unsigned char byte = 0;
        for (std::size_t k = 0; k < 8 && i + k < bits.size(); ++k) byte |= static_cast<unsigned char>(bits[i + k] << k);
        stream.push_back(byte);
    }
    const Bytes content(259, 'a');
    const uLong adler = adler32(adler32(0, nullptr, 0), content.data(), static_cast<uInt>(content.size()));
    for (int k = 3; k >= 0; --k) stream.push_back(static_cast<unsigned char>(adler >> (8 * k)));
    Bytes out(content.size());
    EXPECT_FALSE(vt::InflateExactZlib(out.data(), 259, stream.data(), stream.size()));
    ASSERT_TRUE(vt::InflateExactLibdeflate(out.data(), 259, stream.data(), stream.size()));
    EXPECT_EQ(out, content);
}

// Random bytes behind a valid header: deflate data that is garbage.
TEST(InflateDifferential, GarbageBehindAValidHeader) {
    std::mt19937 rng(12);
    for (int trial = 0; trial < 2000; ++trial) {
        Bytes stream = {0x78, 0x9C};
        const std::size_t length = rng() % 64;
        for (std::size_t k = 0; k < length; ++k) stream.push_back(static_cast<unsigned char>(rng()));
        ExpectSameVerdict(stream, static_cast<std::uint32_t>(rng() % 300), "trial " + std::to_string(trial));
    }
}

}  // namespace
