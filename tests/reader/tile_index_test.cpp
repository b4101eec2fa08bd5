// Finding tiles in the index and reading their payloads.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "support/AllocationWatch.h"
#include "PyramidWriter.h"
#include "TilePyramids.h"
#include "Veltrane.h"
#include "support/TempDir.h"

namespace {

using vt::test::Fields;
using vt::test::FullPyramid;
using vt::test::PutLe;
using vt::test::TempDir;
using vt::test::TilePayload;
using vt::writer::PyramidWriter;

class TileIndex : public ::testing::Test {
protected:
    std::string Write(const std::vector<unsigned char>& bytes) {
        return dir_.Write("t" + std::to_string(count_++) + ".vtp", bytes);
    }
    TempDir dir_;
    int count_ = 0;
};

TEST_F(TileIndex, EntriesOfAThreeLevelIndexSitWhereTheLayoutSays) {
    // Built by hand, independently of the writer: sizes planted at the entry
    // offsets of tiles (2,0,0), (1,1,1) and (0,0,0).
    std::vector<unsigned char> bytes = vt::writer::SerializeHeader(Fields(3, 3));
    bytes.resize(320 + 21 * 12, 0);
    PutLe(bytes, 320 + 8, 111, 4);
    PutLe(bytes, 548 + 8, 222, 4);
    PutLe(bytes, 560 + 8, 333, 4);
    std::string file = Write(bytes);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = -1;
    ASSERT_TRUE(v.GetBlockImageSize(2, 0, 0, size));
    EXPECT_EQ(size, 111);
    ASSERT_TRUE(v.GetBlockImageSize(1, 1, 1, size));
    EXPECT_EQ(size, 222);
    ASSERT_TRUE(v.GetBlockImageSize(0, 0, 0, size));
    EXPECT_EQ(size, 333);
    ASSERT_TRUE(v.GetBlockImageSize(1, 0, 1, size));
    EXPECT_EQ(size, 0);
}

TEST_F(TileIndex, EveryTileReadsBackThroughBothOverloads) {
    std::string file = Write(FullPyramid(4).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    for (int l = 0; l < 4; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                std::vector<unsigned char> expected = TilePayload(l, x, y);
                int size = 0;
                ASSERT_TRUE(v.GetBlockImageSize(l, x, y, size));
                ASSERT_EQ(size, static_cast<int>(expected.size()));
                std::vector<unsigned char> buffer(size);
                int read = 0;
                ASSERT_TRUE(v.GetImage(l, x, y, buffer.data(), read));
                EXPECT_EQ(read, size);
                EXPECT_EQ(buffer, expected) << l << "/" << x << "/" << y;
                unsigned char* data = nullptr;
                read = 0;
                ASSERT_TRUE(v.GetImage(l, x, y, &data, read));
                ASSERT_EQ(read, size);
                EXPECT_EQ(std::vector<unsigned char>(data, data + read), expected);
                v.ReleaseBuffer();
            }
}

TEST_F(TileIndex, CoordinatesOutsideThePyramidFailWithSizeZero) {
    std::string file = Write(FullPyramid(3).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    const int bad[][3] = {{3, 0, 0}, {1, 2, 0}, {1, 0, 2}, {2, 4, 3}, {-1, 0, 0}, {1, -1, 0}, {1, 0, -1},
                          {-2147483647 - 1, 0, 0}, {2147483647, 0, 0}, {0, -2147483647 - 1, 0}};
    for (const auto& c : bad) {
        int size = 77;
        EXPECT_FALSE(v.GetBlockImageSize(c[0], c[1], c[2], size)) << c[0] << "," << c[1] << "," << c[2];
        EXPECT_EQ(size, 0);
        std::vector<unsigned char> buffer(64, 0xAA);
        size = 77;
        EXPECT_FALSE(v.GetImage(c[0], c[1], c[2], buffer.data(), size));
        EXPECT_EQ(size, 0);
        EXPECT_EQ(buffer, std::vector<unsigned char>(64, 0xAA));
        unsigned char* data = nullptr;
        size = 77;
        EXPECT_FALSE(v.GetImage(c[0], c[1], c[2], &data, size));
        v.ReleaseBuffer();
        EXPECT_EQ(size, 0);
    }
}

TEST_F(TileIndex, EmptyEntryHasSizeZeroAndNoPayload) {
    PyramidWriter w(Fields(2, 2));
    w.SetTile(1, 0, 0, {1, 2, 3});
    std::string file = Write(w.Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = -1;
    EXPECT_TRUE(v.GetBlockImageSize(1, 1, 1, size));
    EXPECT_EQ(size, 0);
    unsigned char buffer[4] = {7, 7, 7, 7};
    EXPECT_FALSE(v.GetImage(1, 1, 1, buffer, size));
    unsigned char* data = nullptr;
    EXPECT_FALSE(v.GetImage(1, 1, 1, &data, size));
    v.ReleaseBuffer();
    EXPECT_EQ(buffer[0], 7);
}

TEST_F(TileIndex, NullBufferFailsAndKeepsSize) {
    std::string file = Write(FullPyramid(2).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = 1234;
    EXPECT_FALSE(v.GetImage(0, 0, 0, static_cast<unsigned char*>(nullptr), size));
    EXPECT_EQ(size, 1234);
}

TEST_F(TileIndex, ReadsWithoutAnOpenFileFail) {
    CVeltrane v;
    int size = 5;
    EXPECT_FALSE(v.GetBlockImageSize(0, 0, 0, size));
    unsigned char* data = nullptr;
    EXPECT_FALSE(v.GetImage(0, 0, 0, &data, size));
    v.ReleaseBuffer();
}

TEST_F(TileIndex, EntryPastTheEndOfTheFileIsAFailure) {
    std::vector<unsigned char> bytes = FullPyramid(3).Build();
    CVeltrane first;
    std::string whole = Write(bytes);
    ASSERT_TRUE(first.Veltrane(whole.c_str()));
    int size = 0;
    ASSERT_TRUE(first.GetBlockImageSize(2, 0, 0, size));  // leaves a last entry behind
    ASSERT_GT(size, 0);

    bytes.resize(320 + 12 * 5 + 6);  // index cut inside entry 5
    std::string file = Write(bytes);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    ASSERT_TRUE(v.GetBlockImageSize(2, 0, 0, size));
    size = 55;
    EXPECT_FALSE(v.GetBlockImageSize(2, 1, 1, size));  // entry 5: cut short
    EXPECT_EQ(size, 0) << "a stale size leaked out";
    EXPECT_FALSE(v.GetBlockImageSize(0, 0, 0, size));  // wholly past the end
    std::vector<unsigned char> buffer(256);
    EXPECT_FALSE(v.GetImage(2, 1, 1, buffer.data(), size));
    unsigned char* data = nullptr;
    EXPECT_FALSE(v.GetImage(0, 0, 0, &data, size));
    v.ReleaseBuffer();
}

TEST_F(TileIndex, PayloadPastTheEndOrCutShortIsAFailure) {
    PyramidWriter w(Fields(1, 1));
    w.SetTile(0, 0, 0, std::vector<unsigned char>(100, 5));
    std::vector<unsigned char> bytes = w.Build();
    bytes.resize(bytes.size() - 1);  // payload one byte short
    std::string cut = Write(bytes);

    PyramidWriter far(Fields(1, 1));
    far.SetRawEntry(0, 1 << 20, 16);  // offset beyond the end
    std::string past = Write(far.Build());

    for (const std::string& file : {cut, past}) {
        CVeltrane v;
        ASSERT_TRUE(v.Veltrane(file.c_str()));
        int size = 0;
        ASSERT_TRUE(v.GetBlockImageSize(0, 0, 0, size));
        std::vector<unsigned char> buffer(size, 0xEE);
        EXPECT_FALSE(v.GetImage(0, 0, 0, buffer.data(), size)) << file;
        unsigned char* data = nullptr;
        EXPECT_FALSE(v.GetImage(0, 0, 0, &data, size)) << file;
        v.ReleaseBuffer();
    }
}

TEST_F(TileIndex, NegativeOffsetOrHugeSizeIsRefused) {
    PyramidWriter w(Fields(2, 2));
    w.SetRawEntry(1, -5, 4);
    w.SetRawEntry(2, 320, 0x80000000u);  // does not fit the int size
    std::string file = Write(w.Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    unsigned char buffer[8];
    int size = 0;
    EXPECT_FALSE(v.GetImage(1, 0, 0, buffer, size));
    EXPECT_FALSE(v.GetImage(1, 1, 0, buffer, size));
    unsigned char* data = nullptr;
    EXPECT_FALSE(v.GetImage(1, 1, 0, &data, size));
    v.ReleaseBuffer();
}

TEST_F(TileIndex, DifferentIndexLevelCountsAddressDifferentEntries) {
    // maxLevel 2, but GetImage counts 3 index levels: for tile (1,0,0) the
    // size lookup reads entry 0 and the payload read entry 16.
    PyramidWriter w(Fields(2, 3), 3);
    w.SetRawEntry(0, 0, 0);
    std::vector<unsigned char> bytes = w.Build();
    // Entry 0 claims 4 bytes; entry 16 points at 8 bytes of payload.
    size_t payloadAt = bytes.size();
    for (int i = 0; i < 8; ++i) bytes.push_back(static_cast<unsigned char>(0x40 + i));
    PutLe(bytes, 320 + 0 * 12, payloadAt, 8);
    PutLe(bytes, 320 + 0 * 12 + 8, 4, 4);
    PutLe(bytes, 320 + 16 * 12, payloadAt, 8);
    PutLe(bytes, 320 + 16 * 12 + 8, 8, 4);
    // Tile (1,1,0): size entry 1 claims 8, payload entry 17 holds 3 bytes.
    PutLe(bytes, 320 + 1 * 12, payloadAt, 8);
    PutLe(bytes, 320 + 1 * 12 + 8, 8, 4);
    PutLe(bytes, 320 + 17 * 12, payloadAt, 8);
    PutLe(bytes, 320 + 17 * 12 + 8, 3, 4);
    std::string file = Write(bytes);

    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = 0;
    ASSERT_TRUE(v.GetBlockImageSize(1, 0, 0, size));
    EXPECT_EQ(size, 4);
    // The payload entry is larger than the size the caller was told: refused
    // without writing a byte.
    std::vector<unsigned char> buffer(4, 0xCC);
    EXPECT_FALSE(v.GetImage(1, 0, 0, buffer.data(), size));
    EXPECT_EQ(buffer, std::vector<unsigned char>(4, 0xCC));
    // The object's own buffer has no such limit.
    unsigned char* data = nullptr;
    ASSERT_TRUE(v.GetImage(1, 0, 0, &data, size));
    EXPECT_EQ(size, 8);
    v.ReleaseBuffer();
    // A smaller payload entry fits and is read.
    ASSERT_TRUE(v.GetBlockImageSize(1, 1, 0, size));
    EXPECT_EQ(size, 8);
    std::vector<unsigned char> big(8, 0);
    ASSERT_TRUE(v.GetImage(1, 1, 0, big.data(), size));
    EXPECT_EQ(size, 3);
    EXPECT_EQ(big[0], 0x40);
    EXPECT_EQ(big[2], 0x42);
    EXPECT_EQ(big[3], 0);
}

TEST_F(TileIndex, DeepIndexPositionsUseSixtyFourBits) {
    // 16 levels: the level-0 entry lies at 320 + 4 * (4^16 - 4), past 2^34.
    // A sparse file holds just that entry and its payload.
    const long long entryAt = 320 + 4 * ((1LL << 32) - 4);
#if defined(_WIN32)
    (void)entryAt;
    GTEST_SKIP() << "a 17 GB file: Windows file systems hold it only written out in full";
#else
    std::string file = dir_.File("deep.vtp");
    int fd = ::open(file.c_str(), O_CREAT | O_WRONLY | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    std::vector<unsigned char> header = vt::writer::SerializeHeader(Fields(16, 16));
    ASSERT_EQ(::pwrite(fd, header.data(), header.size(), 0), 320);
    std::vector<unsigned char> entry(12 + 5);
    PutLe(entry, 0, entryAt + 12, 8);
    PutLe(entry, 8, 5, 4);
    std::memcpy(entry.data() + 12, "DEEP!", 5);
    if (::pwrite(fd, entry.data(), entry.size(), entryAt) != static_cast<ssize_t>(entry.size())) {
        ::close(fd);
        GTEST_SKIP() << "the file system here holds no sparse file that large";
    }
    ::close(fd);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = 0;
    ASSERT_TRUE(v.GetBlockImageSize(0, 0, 0, size));
    EXPECT_EQ(size, 5);
    char payload[5] = {};
    ASSERT_TRUE(v.GetImage(0, 0, 0, reinterpret_cast<unsigned char*>(payload), size));
    EXPECT_EQ(std::string(payload, 5), "DEEP!");
#endif
}

TEST_F(TileIndex, LevelCountsBeyondSixtyFourBitOffsetsFailEveryLookup) {
    std::string file = Write(vt::writer::SerializeHeader(Fields(32, 32)));
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = 9;
    EXPECT_FALSE(v.GetBlockImageSize(31, 0, 0, size));
    EXPECT_EQ(size, 0);
    EXPECT_FALSE(v.GetBlockImageSize(0, 0, 0, size));
    unsigned char byte;
    EXPECT_FALSE(v.GetImage(0, 0, 0, &byte, size));
}

TEST_F(TileIndex, ObjectBufferGrowsAndKeepsEachPayload) {
    PyramidWriter w(Fields(2, 2));
    std::vector<unsigned char> small(10, 1), large(5000);
    for (size_t i = 0; i < large.size(); ++i) large[i] = static_cast<unsigned char>(i);
    w.SetTile(1, 0, 0, small);
    w.SetTile(1, 1, 0, large);
    std::string file = Write(w.Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    for (int round = 0; round < 2; ++round) {
        unsigned char* data = nullptr;
        int size = 0;
        ASSERT_TRUE(v.GetImage(1, 0, 0, &data, size));
        EXPECT_EQ(std::vector<unsigned char>(data, data + size), small);
        v.ReleaseBuffer();
        ASSERT_TRUE(v.GetImage(1, 1, 0, &data, size));
        EXPECT_EQ(std::vector<unsigned char>(data, data + size), large);
        v.ReleaseBuffer();
    }
}

// A header claiming 21 or 22 levels puts the entries of the coarse levels past
// 16 TiB, beyond the largest offset ext4 accepts. Such a lookup must fail and
// touch nothing: a read taken from wherever the previous one ended handed the
// size of one entry to GetBlockImageSize and another entry's payload to
// GetImage, which then wrote 200 bytes into a buffer sized for 16.
TEST_F(TileIndex, EntryBeyondTheLargestFileOffsetFailsAndWritesNothing) {
    for (int levels : {21, 22}) {
        std::vector<unsigned char> bytes = vt::writer::SerializeHeader(Fields(levels, levels));
        bytes.resize(620, 0x5A);
        PutLe(bytes, 320, 420, 8);  // first entry of the file: 16 bytes at 420
        PutLe(bytes, 328, 16, 4);
        PutLe(bytes, 332, 420, 8);  // second: 200 bytes at 420
        PutLe(bytes, 340, 200, 4);
        std::string file = Write(bytes);
        for (int level = 0; level < 6; ++level) {
            CVeltrane v;
            ASSERT_TRUE(v.Veltrane(file.c_str()));
            int told = -1;
            EXPECT_FALSE(v.GetBlockImageSize(level, 0, 0, told)) << levels << " levels, level " << level;
            EXPECT_EQ(told, 0);
            const std::size_t room = static_cast<std::size_t>(std::max(told, 0));
            std::vector<unsigned char> buffer(room + 256, 0xA5);
            int size = -1;
            EXPECT_FALSE(v.GetImage(level, 0, 0, buffer.data(), size)) << levels << " levels, level " << level;
            EXPECT_EQ(size, 0);
            EXPECT_EQ(std::count(buffer.begin() + room, buffer.end(), 0xA5), 256)
                << "written beyond the size GetBlockImageSize reported";
            EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), static_cast<long>(buffer.size()))
                << "a failed read wrote into the buffer";
        }
    }
}

// An entry claiming 2^31 - 1 bytes in a 1 KB file: neither overload reads a
// byte or allocates more than the file could hold.
TEST_F(TileIndex, EntryLargerThanTheFileFailsWithoutAllocatingIt) {
    PyramidWriter w(Fields(1, 1));
    w.SetRawEntry(0, 332, 0x7FFFFFFF);
    std::vector<unsigned char> bytes = w.Build();
    bytes.resize(1024, 0x33);
    std::string file = Write(bytes);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    std::vector<unsigned char> buffer(2048, 0xA5);
    vt::test::AllocationWatch watch;
    int size = -1;
    const bool filled = v.GetImage(0, 0, 0, buffer.data(), size);
    const int filledSize = size;
    unsigned char* data = nullptr;
    size = -1;
    const bool pointed = v.GetImage(0, 0, 0, &data, size);
    v.ReleaseBuffer();
    const std::size_t largest = watch.Largest();
    EXPECT_FALSE(filled);
    EXPECT_EQ(filledSize, 0);
    EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xA5), 2048) << "a failed read wrote into the buffer";
    EXPECT_FALSE(pointed);
    EXPECT_EQ(size, 0);
    EXPECT_LE(largest, bytes.size());
}

// A tile read may reuse the entry this thread's size lookup just read, but
// never one read in another file: not after reopening, and not when a new
// object takes the storage of a destroyed one.
TEST_F(TileIndex, TileReadNeverUsesAnEntryOfAnotherFile) {
    std::string first = Write(FullPyramid(2).Build());
    PyramidWriter w(Fields(2, 2));
    w.SetTile(0, 0, 0, std::vector<unsigned char>(100, 1));  // moves tile (1,0,0) elsewhere
    w.SetTile(1, 0, 0, {9, 8, 7});
    std::string second = Write(w.Build());
    auto expectSecondFilesTile = [](CVeltrane& v) {
        std::vector<unsigned char> buffer(64, 0);
        int size = 0;
        ASSERT_TRUE(v.GetImage(1, 0, 0, buffer.data(), size));
        ASSERT_EQ(size, 3);
        const std::vector<unsigned char> expected{9, 8, 7};
        EXPECT_EQ(std::vector<unsigned char>(buffer.begin(), buffer.begin() + 3), expected);
    };
    int size = 0;
    {
        CVeltrane v;
        ASSERT_TRUE(v.Veltrane(first.c_str()));
        ASSERT_TRUE(v.GetBlockImageSize(1, 0, 0, size));
        ASSERT_TRUE(v.Veltrane(second.c_str()));
        expectSecondFilesTile(v);
    }
    std::optional<CVeltrane> slot;
    slot.emplace();
    ASSERT_TRUE(slot->Veltrane(first.c_str()));
    ASSERT_TRUE(slot->GetBlockImageSize(1, 0, 0, size));
    slot.reset();
    slot.emplace();
    ASSERT_TRUE(slot->Veltrane(second.c_str()));
    expectSecondFilesTile(*slot);
}

}  // namespace
