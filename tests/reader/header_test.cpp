// Opening pyramid files and reading their header back.
#include <gtest/gtest.h>

#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <array>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "PyramidWriter.h"
#include "Veltrane.h"
#include "support/TempDir.h"

namespace {

using vt::test::TempDir;
using vt::writer::HeaderFields;
using vt::writer::PyramidWriter;

const char kWkt[] =
    "PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
    "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],PROJECTION["
    "\"Transverse_Mercator\"],UNIT[\"metre\",1]]";

HeaderFields SampleFields() {
    HeaderFields f;
    f.wkt = kWkt;
    f.minX = 500000.0;
    f.minY = 5400000.0;
    f.maxX = 510240.0;   // 1000 px at 10.24 m
    f.maxY = 5406144.0;  // 600 px at 10.24 m
    f.imageWidth = 1000;
    f.imageHeight = 600;
    f.blockWidth = 256;
    f.blockHeight = 256;
    f.maxLevel = 3;
    f.indexLevels = 3;
    return f;
}

struct Geo {
    double left = -1, top = -1, width = -1, height = -1;
};

Geo ImageGeo(CVeltrane& v) {
    Geo g;
    v.GetImageGeoInfo(g.left, g.top, g.width, g.height);
    return g;
}

Geo FileGeo(CVeltrane& v) {
    Geo g;
    v.GetFileGeoInfo(g.left, g.top, g.width, g.height);
    return g;
}

void ExpectZeroedGetters(CVeltrane& v) {
    char* wkt = nullptr;
    v.GetWktPrj(wkt);
    ASSERT_NE(wkt, nullptr);
    EXPECT_STREQ(wkt, "");
    int w = -1, h = -1;
    v.GetImageSize(w, h);
    EXPECT_EQ(w, 0);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(v.GetMaxLevel(), 0);
    unsigned long bw = 7, bh = 7;
    v.GetBlockSize(bw, bh);
    EXPECT_EQ(bw, 0u);
    EXPECT_EQ(bh, 0u);
    Geo image = ImageGeo(v);
    EXPECT_EQ(image.left, 0.0);
    EXPECT_EQ(image.top, 0.0);
    EXPECT_EQ(image.width, 0.0);
    EXPECT_EQ(image.height, 0.0);
    Geo file = FileGeo(v);  // never NaN from 0 / 0
    EXPECT_EQ(file.left, 0.0);
    EXPECT_EQ(file.top, 0.0);
    EXPECT_EQ(file.width, 0.0);
    EXPECT_EQ(file.height, 0.0);
}

TEST(ReaderHeader, FreshObjectReportsZeroes) {
    CVeltrane v;
    ExpectZeroedGetters(v);
}

TEST(ReaderHeader, OpenReadsEveryField) {
    TempDir dir;
    std::string file = dir.Write("a.vtp", PyramidWriter(SampleFields()).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    char* wkt = nullptr;
    v.GetWktPrj(wkt);
    EXPECT_STREQ(wkt, kWkt);
    int w = 0, h = 0;
    v.GetImageSize(w, h);
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 600);
    EXPECT_EQ(v.GetMaxLevel(), 3);
    unsigned long bw = 0, bh = 0;
    v.GetBlockSize(bw, bh);
    EXPECT_EQ(bw, 256u);
    EXPECT_EQ(bh, 256u);
    Geo g = ImageGeo(v);
    EXPECT_EQ(g.left, 500000.0);
    EXPECT_EQ(g.top, 5406144.0);
    EXPECT_EQ(g.width, 10240.0);
    EXPECT_EQ(g.height, 6144.0);
}

TEST(ReaderHeader, LeadInBytesAreIgnored) {
    TempDir dir;
    const std::array<unsigned char, 8> leadIns[] = {
        {0, 0, 0, 0, 0, 0, 0, 0}, {'P', 'Y', 'R', 'A', 'M', 'I', 'D', '!'}, {0xff, 0x13, 0x80, 0x00, 0x7f, 0xfe, 1, 2}};
    int n = 0;
    for (const auto& leadIn : leadIns) {
        HeaderFields f = SampleFields();
        f.leadIn = leadIn;
        std::string file = dir.Write("lead" + std::to_string(n++) + ".vtp", PyramidWriter(f).Build());
        CVeltrane v;
        ASSERT_TRUE(v.Veltrane(file.c_str()));
        char* wkt = nullptr;
        v.GetWktPrj(wkt);
        EXPECT_STREQ(wkt, kWkt);
        EXPECT_EQ(v.GetMaxLevel(), 3);
        EXPECT_EQ(ImageGeo(v).width, 10240.0);
    }
}

TEST(ReaderHeader, WktPointerOnlyHandedOutWhenNull) {
    TempDir dir;
    std::string file = dir.Write("a.vtp", PyramidWriter(SampleFields()).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    char mine[4] = "abc";
    char* wkt = mine;
    v.GetWktPrj(wkt);
    EXPECT_EQ(wkt, mine);
    EXPECT_STREQ(mine, "abc");
    char* first = nullptr;
    char* second = nullptr;
    v.GetWktPrj(first);
    v.GetWktPrj(second);
    EXPECT_EQ(first, second);  // points into the object, stable
}

TEST(ReaderHeader, WktFillingItsFieldIsTerminatedWithinIt) {
    TempDir dir;
    HeaderFields f = SampleFields();
    f.wkt = std::string(300, 'W');
    f.terminateWkt = false;  // 256 bytes, no NUL
    std::string file = dir.Write("a.vtp", PyramidWriter(f).Build());
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    char* wkt = nullptr;
    v.GetWktPrj(wkt);
    ASSERT_NE(wkt, nullptr);
    EXPECT_EQ(std::strlen(wkt), 255u);
    // The fields behind the text are still read from their own offsets.
    EXPECT_EQ(v.GetMaxLevel(), 3);
}

TEST(ReaderHeader, FileGeoInfoFollowsTheLevelCount) {
    TempDir dir;
    struct Case {
        int maxLevel;
        double tiles;  // 2^(maxLevel-1), truncated
    } const cases[] = {{0, 0.0}, {1, 1.0}, {9, 256.0}, {-7, 0.0}, {INT_MIN, 0.0}};
    for (const Case& c : cases) {
        HeaderFields f = SampleFields();
        f.maxLevel = f.indexLevels = c.maxLevel;
        std::string file = dir.Write("l" + std::to_string(c.maxLevel) + ".vtp",
                                     vt::writer::SerializeHeader(f));
        CVeltrane v;
        ASSERT_TRUE(v.Veltrane(file.c_str()));
        Geo g = FileGeo(v);
        EXPECT_EQ(g.left, 500000.0);
        EXPECT_EQ(g.top, 5406144.0);
        EXPECT_EQ(g.width, (c.tiles * (10240.0 / 1000)) * 256) << "maxLevel " << c.maxLevel;
        EXPECT_EQ(g.height, (c.tiles * (6144.0 / 600)) * 256) << "maxLevel " << c.maxLevel;
    }
}

TEST(ReaderHeader, ZeroImageSizeGivesEmptyExtentNotNaN) {
    TempDir dir;
    HeaderFields f = SampleFields();
    f.imageWidth = 0;
    f.imageHeight = 0;
    std::string file = dir.Write("a.vtp", vt::writer::SerializeHeader(f));
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    Geo g = FileGeo(v);
    EXPECT_FALSE(std::isnan(g.width));
    EXPECT_FALSE(std::isnan(g.height));
    EXPECT_EQ(g.width, 0.0);
    EXPECT_EQ(g.height, 0.0);
    EXPECT_EQ(g.left, 500000.0);
}

TEST(ReaderHeader, HeaderOnlyFileOpensWithEmptyIndex) {
    TempDir dir;
    std::vector<unsigned char> bytes = vt::writer::SerializeHeader(SampleFields());
    ASSERT_EQ(bytes.size(), 320u);
    std::string file = dir.Write("a.vtp", bytes);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int size = 99;
    EXPECT_FALSE(v.GetBlockImageSize(0, 0, 0, size));  // no entry behind the header
    EXPECT_EQ(size, 0);
}

TEST(ReaderHeader, ShortFileOpensAndMissingFieldsStayZero) {
    TempDir dir;
    std::vector<unsigned char> bytes = vt::writer::SerializeHeader(SampleFields());
    bytes.resize(300);  // ends right after imageWidth
    std::string file = dir.Write("a.vtp", bytes);
    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(file.c_str()));
    int w = -1, h = -1;
    v.GetImageSize(w, h);
    EXPECT_EQ(w, 1000);
    EXPECT_EQ(h, 0);
    EXPECT_EQ(v.GetMaxLevel(), 0);
    EXPECT_EQ(ImageGeo(v).width, 10240.0);

    std::string tiny = dir.Write("tiny.vtp", {1, 2, 3});
    CVeltrane t;
    ASSERT_TRUE(t.Veltrane(tiny.c_str()));
    ExpectZeroedGetters(t);
}

TEST(ReaderHeader, OpenFailures) {
    TempDir dir;
    CVeltrane v;
    EXPECT_FALSE(v.Veltrane(nullptr));
    EXPECT_FALSE(v.Veltrane(dir.File("missing.vtp").c_str()));
    EXPECT_FALSE(v.Veltrane(dir.path().c_str()));  // a folder opens but cannot be read
    int size = 5;
    EXPECT_FALSE(v.GetBlockImageSize(0, 0, 0, size));
}

TEST(ReaderHeader, OpenIsExclusiveWithinTheProcess) {
    TempDir dir;
    std::string file = dir.Write("a.vtp", PyramidWriter(SampleFields()).Build());
    {
        CVeltrane first;
        ASSERT_TRUE(first.Veltrane(file.c_str()));
        CVeltrane second;
        EXPECT_FALSE(second.Veltrane(file.c_str()));
    }
    CVeltrane again;  // the first object's destructor let the file go
    EXPECT_TRUE(again.Veltrane(file.c_str()));
}

TEST(ReaderHeader, OpenIsExclusiveAcrossProcesses) {
    TempDir dir;
    std::string file = dir.Write("a.vtp", PyramidWriter(SampleFields()).Build());
    CVeltrane holder;
    ASSERT_TRUE(holder.Veltrane(file.c_str()));
#if defined(_WIN32)
    // Share mode 0 refuses every other opener, not only this library: the
    // command interpreter's `type` fails to read the file with a sharing
    // violation, and reads it once the holder has let it go.
    const std::string native = std::filesystem::path(file).make_preferred().string();
    const std::string type = "type \"" + native + "\" > NUL 2>&1";
    EXPECT_NE(std::system(type.c_str()), 0) << "a second process opened a file that is held open";
    holder.Veltrane(dir.File("missing.vtp").c_str());  // closes the file
    EXPECT_EQ(std::system(type.c_str()), 0);
#else
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        CVeltrane other;
        _exit(other.Veltrane(file.c_str()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a second process opened a file that is held open";
#endif
}

TEST(ReaderHeader, SecondOpenReplacesTheFirstFile) {
    TempDir dir;
    HeaderFields a = SampleFields();
    HeaderFields b = SampleFields();
    b.maxLevel = b.indexLevels = 1;
    b.wkt = "LOCAL_CS[\"b\"]";
    std::string fileA = dir.Write("a.vtp", PyramidWriter(a).Build());
    std::vector<unsigned char> shortB = vt::writer::SerializeHeader(b);
    shortB.resize(300);  // imageHeight and later fields missing
    std::string fileB = dir.Write("b.vtp", shortB);

    CVeltrane v;
    ASSERT_TRUE(v.Veltrane(fileA.c_str()));
    ASSERT_TRUE(v.Veltrane(fileB.c_str()));
    char* wkt = nullptr;
    v.GetWktPrj(wkt);
    EXPECT_STREQ(wkt, "LOCAL_CS[\"b\"]");
    EXPECT_EQ(v.GetMaxLevel(), 0);  // not the first file's 3
    CVeltrane other;
    EXPECT_TRUE(other.Veltrane(fileA.c_str())) << "the first file was not closed";
}

TEST(ReaderHeader, AssignmentCopiesTheHeaderButNotTheFile) {
    TempDir dir;
    HeaderFields a = SampleFields();
    PyramidWriter writerA(a);
    writerA.SetTile(0, 0, 0, {1, 2, 3, 4});
    std::string fileA = dir.Write("a.vtp", writerA.Build());
    HeaderFields b = SampleFields();  // same index shape, other image size
    b.imageWidth = 500;
    PyramidWriter writerB(b);
    writerB.SetTile(0, 0, 0, {9, 9});
    std::string fileB = dir.Write("b.vtp", writerB.Build());

    CVeltrane left;
    ASSERT_TRUE(left.Veltrane(fileB.c_str()));
    {
        CVeltrane right;
        ASSERT_TRUE(right.Veltrane(fileA.c_str()));
        unsigned char* data = nullptr;
        int size = 0;
        ASSERT_TRUE(right.GetImage(0, 0, 0, &data, size));
        right.ReleaseBuffer();
        left = right;
        int w = 0, h = 0;
        left.GetImageSize(w, h);
        EXPECT_EQ(w, 1000);
    }  // right is gone: its file closed, its buffer freed
    // left still reads through its own file handle and buffer.
    unsigned char* data = nullptr;
    int size = 0;
    EXPECT_TRUE(left.GetImage(0, 0, 0, &data, size));
    left.ReleaseBuffer();
    EXPECT_EQ(size, 2);
    CVeltrane third;
    EXPECT_TRUE(third.Veltrane(fileA.c_str()));
    EXPECT_FALSE(third.Veltrane(fileB.c_str()));  // still held by left

    CVeltrane self;
    CVeltrane& alias = self;  // assigned to itself, through a name the compiler cannot see through
    self = alias;
    ExpectZeroedGetters(self);
}

}  // namespace
