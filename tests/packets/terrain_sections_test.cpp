// Terrain payloads: locating, sizing and inflating the five zlib-packed
// sections behind the terrain image.
#include "Veltrane.h"

#include <array>

#include <gtest/gtest.h>

#include "packets/TestPayloads.h"

namespace {

using vt_test::Bytes;
using vt_test::ExactCopy;

constexpr std::array<unsigned, 5> kBits = {0x01, 0x02, 0x04, 0x08, 0x10};

struct Section {
    Bytes inflated;           // contents (distinct per section)
    std::uint32_t declared;   // U as stored
    Bytes stream;             // zlib stream as stored
};

Section MakeSection(unsigned bit, std::size_t size) {
    Section s;
    s.inflated = vt_test::Pattern(size, bit);
    s.declared = static_cast<std::uint32_t>(size);
    s.stream = vt_test::Deflate(s.inflated);
    return s;
}

// Version "TV123", flags, L and an opaque image of L bytes, then the sections
// in bit order. `sections[k]` is written when bit k is set in `layoutBits`;
// `flags` is what is stored (it may carry extra bits).
Bytes TerrainPayload(unsigned flags, unsigned layoutBits, const std::array<Section, 5>& sections,
                     std::size_t imageLength = 37) {
    Bytes p{'T', 'V', '1', '2', '3', static_cast<unsigned char>(flags)};
    vt_test::PutU32(p, static_cast<std::uint32_t>(imageLength));
    vt_test::Append(p, vt_test::Pattern(imageLength, 99));
    for (std::size_t k = 0; k < 5; ++k) {
        if ((layoutBits & kBits[k]) == 0) continue;
        vt_test::PutU32(p, sections[k].declared);
        vt_test::PutU32(p, static_cast<std::uint32_t>(sections[k].stream.size()));
        vt_test::Append(p, sections[k].stream);
    }
    return p;
}

std::array<Section, 5> DistinctSections() {
    return {MakeSection(0x01, 300), MakeSection(0x02, 120), MakeSection(0x04, 513), MakeSection(0x08, 64),
            MakeSection(0x10, 1 + 4 * 9 * 9)};
}

int SizeOf(CVeltrane& r, unsigned bit, unsigned char* p, unsigned long n) {
    switch (bit) {
        case 0x01: return r.GetIndexBufferSize(p, n);
        case 0x02: return r.GetTinyIndexBufferSize(p, n);
        case 0x04: return r.GetShapeIndexBufferSize(p, n);
        case 0x08: return r.GetRoadIndexBufferSize(p, n);
        default: return r.GetDEMTBufferSize(p, n);
    }
}

bool BufferOf(CVeltrane& r, unsigned bit, unsigned char* p, unsigned long n, unsigned char* d) {
    switch (bit) {
        case 0x01: return r.GetIndexBuffer(p, n, d);
        case 0x02: return r.GetTinyIndexBuffer(p, n, d);
        case 0x04: return r.GetShapeIndexBuffer(p, n, d);
        case 0x08: return r.GetRoadIndexBuffer(p, n, d);
        default: return r.GetDEMBuffer(p, n, d);
    }
}

// Every getter pair on an exact-size payload: present sections give their U
// and their contents, absent ones 0 and false with the destination untouched.
void ExpectSections(const Bytes& bytes, unsigned present, const std::array<Section, 5>& sections) {
    CVeltrane reader;
    ExactCopy payload(bytes);
    for (std::size_t k = 0; k < 5; ++k) {
        const unsigned bit = kBits[k];
        Bytes out(sections[k].inflated.size(), 0x5A);
        if (present & bit) {
            EXPECT_EQ(SizeOf(reader, bit, payload.data(), payload.length), static_cast<int>(sections[k].declared))
                << "bit " << bit;
            ExactCopy destination(out);
            ASSERT_TRUE(BufferOf(reader, bit, payload.data(), payload.length, destination.data())) << "bit " << bit;
            EXPECT_TRUE(std::equal(sections[k].inflated.begin(), sections[k].inflated.end(), destination.data()))
                << "bit " << bit;
        } else {
            EXPECT_EQ(SizeOf(reader, bit, payload.data(), payload.length), 0) << "bit " << bit;
            EXPECT_FALSE(BufferOf(reader, bit, payload.data(), payload.length, out.data())) << "bit " << bit;
            EXPECT_EQ(out, Bytes(out.size(), 0x5A)) << "bit " << bit;
        }
    }
}

TEST(TerrainSections, ElevationOnlyStartsRightAfterTheImage) {
    const auto sections = DistinctSections();
    const Bytes p = TerrainPayload(0x10, 0x10, sections);
    const std::size_t at = 10 + 37;
    Bytes expectedU;
    vt_test::PutU32(expectedU, 1 + 4 * 9 * 9);
    ASSERT_EQ(Bytes(p.begin() + at, p.begin() + at + 4), expectedU);
    ExpectSections(p, 0x10, sections);
}

TEST(TerrainSections, AllFiveSections) {
    const auto sections = DistinctSections();
    ExpectSections(TerrainPayload(0x1F, 0x1F, sections), 0x1F, sections);
}

TEST(TerrainSections, IndexAndShapeIndexOnly) {
    const auto sections = DistinctSections();
    ExpectSections(TerrainPayload(0x05, 0x05, sections), 0x05, sections);
}

TEST(TerrainSections, UnusedFlagBitsNeitherSelectNorShift) {
    const auto sections = DistinctSections();
    // 0xF1 holds 0x10 and 0x01 besides the unused bits: read as 0x11.
    ExpectSections(TerrainPayload(0xF1, 0x11, sections), 0x11, sections);
    ExpectSections(TerrainPayload(0xE0, 0x00, sections), 0x00, sections);
}

TEST(TerrainSections, EmptyImageAndEmptySections) {
    auto sections = DistinctSections();
    sections[1] = MakeSection(0x02, 0);
    const Bytes p = TerrainPayload(0x1F, 0x1F, sections, 0);
    ExpectSections(p, 0x1F, sections);
}

TEST(TerrainSections, StreamGivingFewerBytesThanUFailsWhileTheSizeStaysU) {
    auto sections = DistinctSections();
    sections[2].declared += 1;  // the stream inflates completely to U - 1 bytes
    CVeltrane reader;
    ExactCopy payload(TerrainPayload(0x1F, 0x1F, sections));
    EXPECT_EQ(reader.GetShapeIndexBufferSize(payload.data(), payload.length), 514);
    Bytes out(514);
    EXPECT_FALSE(reader.GetShapeIndexBuffer(payload.data(), payload.length, out.data()));
    // The neighbours are unaffected.
    Bytes road(64);
    EXPECT_TRUE(reader.GetRoadIndexBuffer(payload.data(), payload.length, road.data()));
    EXPECT_EQ(road, sections[3].inflated);
}

TEST(TerrainSections, StreamGivingMoreBytesThanUFailsWithoutWritingPastU) {
    auto sections = DistinctSections();
    sections[0].declared -= 1;
    CVeltrane reader;
    ExactCopy payload(TerrainPayload(0x01, 0x01, sections));
    EXPECT_EQ(reader.GetIndexBufferSize(payload.data(), payload.length), 299);
    ExactCopy destination(Bytes(299, 0));
    EXPECT_FALSE(reader.GetIndexBuffer(payload.data(), payload.length, destination.data()));
}

TEST(TerrainSections, DamagedStreamStillGivesItsSize) {
    auto sections = DistinctSections();
    sections[4].stream[sections[4].stream.size() / 2] ^= 0x55;
    sections[4].stream.back() ^= 0x01;
    CVeltrane reader;
    ExactCopy payload(TerrainPayload(0x1F, 0x1F, sections));
    EXPECT_EQ(reader.GetDEMTBufferSize(payload.data(), payload.length), 325);
    Bytes out(325);
    EXPECT_FALSE(reader.GetDEMBuffer(payload.data(), payload.length, out.data()));
}

TEST(TerrainSections, LastSectionEndingExactlyAtTheLengthAndOneByteShort) {
    const auto sections = DistinctSections();
    const Bytes p = TerrainPayload(0x1F, 0x1F, sections);
    CVeltrane reader;
    Bytes out(325);
    {
        ExactCopy payload(p);
        EXPECT_EQ(reader.GetDEMTBufferSize(payload.data(), payload.length), 325);
        EXPECT_TRUE(reader.GetDEMBuffer(payload.data(), payload.length, out.data()));
    }
    ExactCopy cut(p, p.size() - 1);
    EXPECT_EQ(reader.GetDEMTBufferSize(cut.data(), cut.length), 0);
    EXPECT_FALSE(reader.GetDEMBuffer(cut.data(), cut.length, out.data()));
    // The sections in front are whole and still read.
    EXPECT_EQ(reader.GetRoadIndexBufferSize(cut.data(), cut.length), 64);
}

TEST(TerrainSections, NothingIsReadPastTheLength) {
    // Every prefix of the payload, in an exact-size allocation: each getter
    // either finds its section whole inside the prefix or reports 0 / false.
    const auto sections = DistinctSections();
    const Bytes p = TerrainPayload(0x1F, 0x1F, sections, 3);
    CVeltrane reader;
    std::array<std::size_t, 5> ends{};
    std::size_t o = 10 + 3;
    for (std::size_t k = 0; k < 5; ++k) ends[k] = o += 8 + sections[k].stream.size();
    Bytes out(600);
    for (std::size_t length = 0; length <= p.size(); ++length) {
        ExactCopy payload(p, length);
        for (std::size_t k = 0; k < 5; ++k) {
            const bool whole = length >= ends[k];
            ASSERT_EQ(SizeOf(reader, kBits[k], payload.data(), payload.length),
                      whole ? static_cast<int>(sections[k].declared) : 0) << length;
            ASSERT_EQ(BufferOf(reader, kBits[k], payload.data(), payload.length, out.data()), whole) << length;
        }
    }
}

TEST(TerrainSections, ImageOrStreamLengthsPastTheEndAreRefused) {
    const auto sections = DistinctSections();
    CVeltrane reader;
    Bytes out(600);
    Bytes p = TerrainPayload(0x1F, 0x1F, sections);
    p[9] = 0xFF;  // L near 4 GB
    ExactCopy huge(p);
    for (unsigned bit : kBits) {
        EXPECT_EQ(SizeOf(reader, bit, huge.data(), huge.length), 0);
        EXPECT_FALSE(BufferOf(reader, bit, huge.data(), huge.length, out.data()));
    }
    p = TerrainPayload(0x1F, 0x1F, sections);
    p[10 + 37 + 7] = 0xFF;  // Z of the index section near 4 GB
    ExactCopy longStream(p);
    for (unsigned bit : kBits) {
        EXPECT_EQ(SizeOf(reader, bit, longStream.data(), longStream.length), 0);
        EXPECT_FALSE(BufferOf(reader, bit, longStream.data(), longStream.length, out.data()));
    }
    for (unsigned bit : kBits) EXPECT_EQ(SizeOf(reader, bit, nullptr, 1000), 0);
    EXPECT_FALSE(reader.GetIndexBuffer(nullptr, 1000, out.data()));
}

TEST(TerrainSections, NullDestinationIsRefused) {
    const auto sections = DistinctSections();
    CVeltrane reader;
    ExactCopy payload(TerrainPayload(0x01, 0x01, sections));
    EXPECT_FALSE(reader.GetIndexBuffer(payload.data(), payload.length, nullptr));
}

}  // namespace
