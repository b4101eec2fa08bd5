// Reading one object from several threads: the buffer-filling reads need no
// lock of the caller's, the pointer-returning overload serialises its users.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "TilePyramids.h"
#include "Veltrane.h"
#include "support/TempDir.h"

namespace {

using vt::test::FullPyramid;
using vt::test::TempDir;
using vt::test::TilePayload;

class ReaderThreads : public ::testing::Test {
protected:
    void Open(int levels) {
        std::string file = dir_.Write("p.vtp", FullPyramid(levels).Build());
        ASSERT_TRUE(v_.Veltrane(file.c_str()));
    }
    TempDir dir_;
    CVeltrane v_;
};

struct Tile {
    int level, x, y;
    std::vector<unsigned char> payload;
};

// Eight threads share one object and each reads 10,000 tiles picked at random,
// by the three ways a host reads: size lookup then buffer read, buffer read
// alone (sized from what the host already knows), pointer overload. Every
// payload must be the one the writer put at that tile.
TEST_F(ReaderThreads, EightThreadsReadRandomTilesFromOneObject) {
    const int levels = 6;
    Open(levels);
    std::vector<Tile> tiles;
    for (int l = 0; l < levels; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) tiles.push_back({l, x, y, TilePayload(l, x, y)});

    std::atomic<int> wrong{0}, reads{0};
    auto reader = [&](unsigned seed) {
        std::mt19937 pick(seed);
        std::uniform_int_distribution<size_t> any(0, tiles.size() - 1);
        const unsigned char guard = 0xA5;
        for (int i = 0; i < 10000; ++i) {
            const Tile& t = tiles[any(pick)];
            const int expected = static_cast<int>(t.payload.size());
            bool ok = true;
            if (i % 16 == 15) {
                unsigned char* data = nullptr;
                int size = 0;
                ok = v_.GetImage(t.level, t.x, t.y, &data, size) && size == expected &&
                     std::equal(t.payload.begin(), t.payload.end(), data);
                v_.ReleaseBuffer();
            } else {
                int size = expected;
                if (i % 2 == 0) ok = v_.GetBlockImageSize(t.level, t.x, t.y, size) && size == expected;
                std::vector<unsigned char> buffer(expected + 16, guard);
                ok = ok && v_.GetImage(t.level, t.x, t.y, buffer.data(), size) && size == expected &&
                     std::equal(t.payload.begin(), t.payload.end(), buffer.begin()) &&
                     std::count(buffer.begin() + expected, buffer.end(), guard) == 16;
            }
            if (!ok) ++wrong;
            ++reads;
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < 8; ++t) threads.emplace_back(reader, 1000 + t);
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(reads.load(), 80000);
    EXPECT_EQ(wrong.load(), 0) << "reads that failed or delivered another tile's bytes";
}

// The pointer-returning overload holds the object's lock until ReleaseBuffer,
// failures included; a second thread waits until then.
void ExpectSecondReaderWaits(CVeltrane& v, bool firstCallSucceeds) {
    unsigned char* data = nullptr;
    int size = 0;
    bool first = firstCallSucceeds ? v.GetImage(0, 0, 0, &data, size) : v.GetImage(5, 0, 0, &data, size);
    EXPECT_EQ(first, firstCallSucceeds);
    std::vector<unsigned char> seen = firstCallSucceeds ? std::vector<unsigned char>(data, data + size)
                                                        : std::vector<unsigned char>();
    std::atomic<bool> entered{false};
    std::thread second([&] {
        unsigned char* other = nullptr;
        int otherSize = 0;
        bool ok = v.GetImage(1, 1, 1, &other, otherSize);
        entered = true;
        EXPECT_TRUE(ok);
        v.ReleaseBuffer();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(entered.load()) << "the second reader did not wait for ReleaseBuffer";
    if (firstCallSucceeds) {
        EXPECT_EQ(std::vector<unsigned char>(data, data + size), seen);
    }
    v.ReleaseBuffer();
    second.join();
    EXPECT_TRUE(entered.load());
}

TEST_F(ReaderThreads, PointerOverloadSerialisesThreads) {
    Open(2);
    ExpectSecondReaderWaits(v_, true);
}

TEST_F(ReaderThreads, FailedPointerCallStillHoldsTheLock) {
    Open(2);
    ExpectSecondReaderWaits(v_, false);
}

TEST_F(ReaderThreads, OwningThreadMayEnterTwice) {
    Open(2);
    unsigned char* data = nullptr;
    int size = 0;
    ASSERT_TRUE(v_.GetImage(0, 0, 0, &data, size));
    ASSERT_TRUE(v_.GetImage(1, 0, 1, &data, size));
    EXPECT_EQ(std::vector<unsigned char>(data, data + size), TilePayload(1, 0, 1));
    v_.ReleaseBuffer();
    v_.ReleaseBuffer();
}

}  // namespace
