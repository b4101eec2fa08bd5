// Building masks expanded to a byte per bit, and zlib blocks inflated for the
// host through the static Uncompress.
#include <zlib.h>

#include <gtest/gtest.h>

#include "Veltrane.h"
#include "packets/TestPayloads.h"

namespace {

using vt_test::Bytes;
using vt_test::ExactCopy;

TEST(BuildingMask, ExpandsMostSignificantBitFirst) {
    CVeltrane reader;
    ExactCopy bits(Bytes{0xA5, 0xC0});
    Bytes mask(10, 0x77);
    ExactCopy out(mask);
    ASSERT_TRUE(reader.DecodeBuildingText(out.data(), 10, bits.data()));
    EXPECT_EQ(Bytes(out.data(), out.data() + 10), (Bytes{255, 0, 255, 0, 0, 255, 0, 255, 255, 255}));
}

TEST(BuildingMask, CountZeroWritesNothing) {
    CVeltrane reader;
    unsigned char bits[1] = {0xFF};
    unsigned char mask[4] = {1, 2, 3, 4};
    EXPECT_TRUE(reader.DecodeBuildingText(mask, 0, bits));
    EXPECT_EQ(Bytes(mask, mask + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_TRUE(reader.DecodeBuildingText(nullptr, 0, nullptr));
}

TEST(BuildingMask, EveryCountReadsOnlyItsBytesAndWritesOnlyCountBytes) {
    // Counts around byte boundaries, source and destination of exact size.
    CVeltrane reader;
    const Bytes source = vt_test::Pattern(8, 11);
    for (unsigned long count = 1; count <= 64; ++count) {
        ExactCopy bits(source, (count + 7) / 8);
        ExactCopy mask(Bytes(count, 0x77));
        ASSERT_TRUE(reader.DecodeBuildingText(mask.data(), count, bits.data()));
        for (unsigned long i = 0; i < count; ++i) {
            const bool set = (source[i / 8] >> (7 - i % 8)) & 1;
            ASSERT_EQ(mask.data()[i], set ? 255 : 0) << "count " << count << " bit " << i;
        }
    }
}

TEST(BuildingMask, NullPointersWithBitsToExpandAreRefused) {
    CVeltrane reader;
    unsigned char bits[1] = {0xFF};
    unsigned char mask[8] = {};
    EXPECT_FALSE(reader.DecodeBuildingText(nullptr, 8, bits));
    EXPECT_FALSE(reader.DecodeBuildingText(mask, 8, nullptr));
}

TEST(Uncompress, InflatesAndReportsTheLength) {
    const Bytes data = vt_test::Pattern(5000, 1);
    ExactCopy stream(vt_test::Deflate(data));
    Bytes out(6000, 0);
    unsigned long length = static_cast<unsigned long>(out.size());
    EXPECT_EQ(CVeltrane::Uncompress(out.data(), &length, stream.data(), stream.length), Z_OK);
    EXPECT_EQ(length, data.size());
    EXPECT_TRUE(std::equal(data.begin(), data.end(), out.begin()));
}

TEST(Uncompress, DestinationTooSmallGivesBufErrorAndKeepsCapacity) {
    const Bytes data = vt_test::Pattern(5000, 2);
    ExactCopy stream(vt_test::Deflate(data));
    // (A capacity of 0 is zlib's own special case: it inflates into a one-byte
    // scratch and reports Z_DATA_ERROR; its codes are passed on unchanged.)
    for (unsigned long capacity : {1ul, 100ul, 4999ul}) {
        ExactCopy out(Bytes(capacity, 0));
        unsigned long length = capacity;
        EXPECT_EQ(CVeltrane::Uncompress(out.data(), &length, stream.data(), stream.length), Z_BUF_ERROR) << capacity;
        EXPECT_EQ(length, capacity);
    }
}

TEST(Uncompress, DamagedOrIncompleteStreamGivesDataErrorAndKeepsCapacity) {
    const Bytes data = vt_test::Pattern(5000, 3);
    const Bytes good = vt_test::Deflate(data);
    Bytes damaged = good;
    damaged[damaged.size() - 1] ^= 0x01;  // Adler-32 no longer matches
    Bytes badHeader = good;
    badHeader[0] = 0x79;  // compression method 9 (not deflate)
    for (const Bytes& candidate : {damaged, badHeader, Bytes(good.begin(), good.begin() + good.size() / 2), Bytes{}}) {
        ExactCopy stream(candidate);
        Bytes out(8000, 0);
        unsigned long length = 8000;
        EXPECT_EQ(CVeltrane::Uncompress(out.data(), &length, stream.data(), stream.length), Z_DATA_ERROR)
            << candidate.size();
        EXPECT_EQ(length, 8000ul);
    }
}

TEST(Uncompress, MissingLengthIsAStreamError) {
    const Bytes stream = vt_test::Deflate(Bytes{1, 2, 3});
    unsigned char out[3];
    EXPECT_EQ(CVeltrane::Uncompress(out, nullptr, stream.data(), static_cast<unsigned long>(stream.size())),
              Z_STREAM_ERROR);
}

}  // namespace
