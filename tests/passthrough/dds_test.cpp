// DDS payloads: descriptor values, texture data cut out of the current and the
// old layout, and the embedded DDS file written to disk.
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include <gtest/gtest.h>

#include "Veltrane.h"
#include "packets/TestPayloads.h"
#include "support/TempDir.h"

namespace {

using vt_test::Bytes;
using vt_test::ExactCopy;

// Descriptor values 0x11223344, 0xA0B0C0D0, 7, behind an optional tag byte,
// followed by `body` bytes of pattern.
Bytes DdsPayload(bool leadingByte, std::size_t body) {
    Bytes p;
    if (leadingByte) p.push_back(0xEE);
    vt_test::PutU32(p, 0x11223344u);
    vt_test::PutU32(p, 0xA0B0C0D0u);
    vt_test::PutU32(p, 7u);
    vt_test::Append(p, vt_test::Pattern(body, 3));
    return p;
}

TEST(DdsInfo, ReadsTheThreeValuesWithAndWithoutTagByte) {
    CVeltrane reader;
    for (bool lead : {false, true}) {
        Bytes p = DdsPayload(lead, 0);
        ExactCopy payload(p);
        unsigned long v1 = 0, v2 = 0, v3 = 0;
        ASSERT_TRUE(reader.GetDDSDataInfo(payload.data(), payload.length, v1, v2, v3, lead)) << lead;
        EXPECT_EQ(v1, 0x11223344u);
        EXPECT_EQ(v2, 0xA0B0C0D0u);
        EXPECT_EQ(v3, 7u);
    }
}

TEST(DdsInfo, RefusesPayloadsTooShortForTheValues) {
    CVeltrane reader;
    for (bool lead : {false, true}) {
        Bytes p = DdsPayload(lead, 0);
        ExactCopy payload(p, p.size() - 1);
        unsigned long v1 = 1, v2 = 2, v3 = 3;
        EXPECT_FALSE(reader.GetDDSDataInfo(payload.data(), payload.length, v1, v2, v3, lead)) << lead;
        EXPECT_EQ(v1 + v2 + v3, 6u) << "outputs untouched";
    }
    unsigned long v1 = 0, v2 = 0, v3 = 0;
    EXPECT_FALSE(reader.GetDDSDataInfo(nullptr, 100, v1, v2, v3, false));
}

// Runs `decode` on an exact-size payload of `length` bytes and checks that it
// copied the bytes from `from` to the end, and nothing more.
template <typename Decode>
void ExpectCopiesTail(Decode decode, const Bytes& p, std::size_t from) {
    ExactCopy payload(p);
    const std::size_t copied = p.size() - from;
    Bytes destination(copied + 16, 0x5A);
    ASSERT_TRUE(decode(payload.data(), static_cast<unsigned long>(p.size()), destination.data()));
    EXPECT_TRUE(std::equal(p.begin() + from, p.end(), destination.begin()));
    for (std::size_t k = copied; k < destination.size(); ++k) ASSERT_EQ(destination[k], 0x5A) << k;
}

#if !defined(VELTRANE_EDITION_TERRAIN)

TEST(DdsImage, CurrentLayoutSkipsDescriptorsAndDdsFileStart) {
    CVeltrane reader;
    // N = 400: N - 140 bytes from offset 140; with the tag byte N - 141 from 141.
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImage(p, n, d, false);
    }, DdsPayload(false, 388), 140);
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImage(p, n, d, true);
    }, DdsPayload(true, 387), 141);
}

TEST(DdsImage, OldLayoutSkipsOnlyDescriptors) {
    CVeltrane reader;
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImageOld(p, n, d, false);
    }, DdsPayload(false, 100), 12);
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImageOld(p, n, d, true);
    }, DdsPayload(true, 100), 13);
}

TEST(DdsImage, PayloadShorterThanTheSkippedBytesIsRefused) {
    CVeltrane reader;
    Bytes destination(8, 0x5A);
    struct Case { bool old; bool lead; std::size_t skipped; };
    for (Case c : {Case{false, false, 140}, Case{false, true, 141}, Case{true, false, 12}, Case{true, true, 13}}) {
        Bytes p = DdsPayload(c.lead, 200);
        // One byte short of the skipped bytes: refused, nothing written.
        ExactCopy shortPayload(p, c.skipped - 1);
        bool ok = c.old ? reader.DecodeDDSImageOld(shortPayload.data(), shortPayload.length, destination.data(), c.lead)
                        : reader.DecodeDDSImage(shortPayload.data(), shortPayload.length, destination.data(), c.lead);
        EXPECT_FALSE(ok) << c.skipped;
        // Exactly the skipped bytes: an empty texture, copied as such.
        ExactCopy exact(p, c.skipped);
        ok = c.old ? reader.DecodeDDSImageOld(exact.data(), exact.length, destination.data(), c.lead)
                   : reader.DecodeDDSImage(exact.data(), exact.length, destination.data(), c.lead);
        EXPECT_TRUE(ok) << c.skipped;
    }
    EXPECT_EQ(destination, Bytes(8, 0x5A));
}

TEST(DdsImage, NullPointersAndZeroLengthAreRefused) {
    CVeltrane reader;
    Bytes p = DdsPayload(false, 300);
    Bytes destination(p.size());
    EXPECT_FALSE(reader.DecodeDDSImage(nullptr, 300, destination.data(), false));
    EXPECT_FALSE(reader.DecodeDDSImage(p.data(), static_cast<unsigned long>(p.size()), nullptr, false));
    EXPECT_FALSE(reader.DecodeDDSImage(p.data(), 0, destination.data(), false));
    EXPECT_FALSE(reader.DecodeDDSImageOld(nullptr, 300, destination.data(), false));
    EXPECT_FALSE(reader.DecodeDDSImageOld(p.data(), 0, destination.data(), false));
}

// ---- DDS file output -------------------------------------------------------

class DdsFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir = temp.path();
        ASSERT_FALSE(dir.empty());
    }
    static bool Exists(const std::string& path) { return std::filesystem::exists(path); }
    static Bytes ReadAll(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    vt::test::TempDir temp;
    std::string dir;
    CVeltrane reader;
};

TEST_F(DdsFile, WritesTheEmbeddedDdsFile) {
    Bytes p = DdsPayload(true, 128 + 4096);
    p[13] = 'D';  // the body is a DDS file; its bytes go out unchanged
    ExactCopy payload(p);
    const std::string path = dir + "/out.dds";
    ASSERT_TRUE(reader.DecodeDDSToFile(payload.data(), payload.length, path.c_str()));
    EXPECT_EQ(ReadAll(path), Bytes(p.begin() + 13, p.end()));
}

TEST_F(DdsFile, TruncatesAnExistingFile) {
    const std::string path = dir + "/out.dds";
    { std::ofstream(path, std::ios::binary) << std::string(10000, 'x'); }
    Bytes p = DdsPayload(true, 50);
    ASSERT_TRUE(reader.DecodeDDSToFile(p.data(), static_cast<unsigned long>(p.size()), path.c_str()));
    EXPECT_EQ(ReadAll(path), Bytes(p.begin() + 13, p.end()));
}

TEST_F(DdsFile, PathInMissingDirectoryFailsAndCreatesNothing) {
    Bytes p = DdsPayload(true, 200);
    const std::string path = dir + "/missing/out.dds";
    EXPECT_FALSE(reader.DecodeDDSToFile(p.data(), static_cast<unsigned long>(p.size()), path.c_str()));
    EXPECT_FALSE(Exists(dir + "/missing"));
    EXPECT_FALSE(Exists(path));
}

#if !defined(_WIN32)
// Needs a file size limit (POSIX rlimits): Linux only.
TEST_F(DdsFile, WriteThatDoesNotCompleteIsAFailure) {
    // A file size limit below the body makes the write stop part way (EFBIG
    // once SIGXFSZ is ignored), as a full disk would.
    const std::string path = dir + "/out.dds";
    struct rlimit saved;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedHandler)(int) = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limited = saved;
    limited.rlim_cur = 1000;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
    bool results[2];
    int k = 0;
    for (std::size_t body : {std::size_t{4000}, std::size_t{1} << 20}) {  // buffered and direct writes
        Bytes p = DdsPayload(true, body);
        results[k++] = reader.DecodeDDSToFile(p.data(), static_cast<unsigned long>(p.size()), path.c_str());
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, savedHandler);
    EXPECT_FALSE(results[0]);
    EXPECT_FALSE(results[1]);
}
#endif

TEST_F(DdsFile, ShortPayloadsAreRefusedWithoutCreatingTheFile) {
    const std::string path = dir + "/out.dds";
    Bytes p = DdsPayload(true, 0);  // 13 bytes: tag byte and descriptors only
    for (std::size_t length = 1; length < 13; ++length) {
        ExactCopy payload(p, length);
        EXPECT_FALSE(reader.DecodeDDSToFile(payload.data(), payload.length, path.c_str())) << length;
        EXPECT_FALSE(Exists(path)) << length;
    }
    EXPECT_FALSE(reader.DecodeDDSToFile(p.data(), 0, path.c_str()));
    EXPECT_FALSE(reader.DecodeDDSToFile(nullptr, 100, path.c_str()));
    EXPECT_FALSE(reader.DecodeDDSToFile(p.data(), 13, nullptr));
    EXPECT_FALSE(Exists(path));
    // Exactly 13 bytes: an empty body, written as an empty file.
    ExactCopy exact(p, 13);
    EXPECT_TRUE(reader.DecodeDDSToFile(exact.data(), exact.length, path.c_str()));
    ASSERT_TRUE(Exists(path));
    EXPECT_TRUE(ReadAll(path).empty());
}

#else  // terrain edition

TEST(DdsImage, TerrainEditionReadsTheOldLayout) {
    CVeltrane reader;
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImage(p, n, d, false);
    }, DdsPayload(false, 100), 12);
    ExpectCopiesTail([&](unsigned char* p, unsigned long n, unsigned char* d) {
        return reader.DecodeDDSImage(p, n, d, true);
    }, DdsPayload(true, 100), 13);
}

TEST(DdsImage, TerrainEditionRefusesShortPayloads) {
    CVeltrane reader;
    Bytes destination(8, 0x5A);
    for (bool lead : {false, true}) {
        Bytes p = DdsPayload(lead, 0);
        ExactCopy shortPayload(p, p.size() - 1);
        EXPECT_FALSE(reader.DecodeDDSImage(shortPayload.data(), shortPayload.length, destination.data(), lead));
        ExactCopy exact(p);
        EXPECT_TRUE(reader.DecodeDDSImage(exact.data(), exact.length, destination.data(), lead));
    }
    EXPECT_EQ(destination, Bytes(8, 0x5A));
    EXPECT_FALSE(reader.DecodeDDSImage(nullptr, 20, destination.data(), false));
    EXPECT_FALSE(reader.DecodeDDSImage(destination.data(), 0, destination.data(), false));
}

#endif

}  // namespace
