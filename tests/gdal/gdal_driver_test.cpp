// The GDAL driver loaded by GDAL: datasets of one file share the library's
// exclusive file, and datasets read on several threads at once give what one
// thread reads alone.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gdal.h>
#include <unistd.h>

#include "Veltrane.h"

namespace {

const char* const kSamples[] = {"image", "image2", "dds", "dem"};

class GdalDriver : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        GDALAllRegister();
        std::string command = std::string("\"") + VT_TOOL + "\" sample \"" + Folder() + "\" > /dev/null";
        ASSERT_EQ(std::system(("mkdir -p \"" + Folder() + "\" && " + command).c_str()), 0);
    }
    // One folder per process: ctest runs the cases side by side.
    static std::string Folder() { return std::string(VT_SCRATCH) + "/" + std::to_string(::getpid()); }
    static std::string Sample(const std::string& name) { return Folder() + "/" + name + ".vtp"; }
};

// Every level of every band of a dataset (finest first), and of its mask
// when it has no alpha band.
std::vector<unsigned char> ReadAllLevels(GDALDatasetH ds) {
    std::vector<unsigned char> out;
    int bands = GDALGetRasterCount(ds);
    int overviews = GDALGetOverviewCount(GDALGetRasterBand(ds, 1));
    for (int level = -1; level < overviews; ++level)
        for (int b = 0; b <= bands; ++b) {
            GDALRasterBandH band = GDALGetRasterBand(ds, b == bands ? 1 : b + 1);
            if (b == bands) band = GDALGetMaskBand(band);
            if (level >= 0) band = GDALGetOverview(band, level);
            int w = GDALGetRasterBandXSize(band), h = GDALGetRasterBandYSize(band);
            size_t at = out.size();
            out.resize(at + static_cast<size_t>(w) * h);
            EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, w, h, &out[at], w, h, GDT_Byte, 0, 0), CE_None);
        }
    return out;
}

std::vector<float> ReadElevation(GDALDatasetH ds) {
    GDALRasterBandH band = GDALGetRasterBand(ds, 1);
    int w = GDALGetRasterBandXSize(band), h = GDALGetRasterBandYSize(band);
    std::vector<float> out(static_cast<size_t>(w) * h);
    EXPECT_EQ(GDALRasterIO(band, GF_Read, 0, 0, w, h, out.data(), w, h, GDT_Float32, 0, 0), CE_None);
    return out;
}

TEST_F(GdalDriver, DatasetsOfOneFileShareItAndTheLastToCloseReleasesIt) {
    std::string path = Sample("dem");
    GDALDatasetH first = GDALOpen(path.c_str(), GA_ReadOnly);
    GDALDatasetH second = GDALOpen(("Veltrane:elevation:" + path).c_str(), GA_ReadOnly);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    CVeltrane other;
    EXPECT_FALSE(other.Veltrane(path.c_str()));  // the file is held, exclusively
    GDALClose(first);
    EXPECT_FALSE(other.Veltrane(path.c_str()));
    GDALClose(second);
    EXPECT_TRUE(other.Veltrane(path.c_str()));
}

TEST_F(GdalDriver, DatasetsReadOnManyThreadsAtOnceGiveWhatOneThreadReads) {
    std::vector<std::vector<unsigned char>> expected;
    for (const char* name : kSamples) {
        GDALDatasetH ds = GDALOpen(Sample(name).c_str(), GA_ReadOnly);
        ASSERT_NE(ds, nullptr) << name;
        expected.push_back(ReadAllLevels(ds));
        GDALClose(ds);
    }
    std::string elevationName = "Veltrane:elevation:" + Sample("dem");
    GDALDatasetH elevation = GDALOpen(elevationName.c_str(), GA_ReadOnly);
    ASSERT_NE(elevation, nullptr);
    std::vector<float> expectedElevation = ReadElevation(elevation);
    GDALClose(elevation);

    // A block cache far smaller than the files keeps every thread decoding.
    GIntBig cache = GDALGetCacheMax64();
    GDALSetCacheMax64(512 * 1024);
    constexpr int kThreads = 8, kRounds = 3;
    std::vector<int> mismatches(kThreads, 0);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int round = 0; round < kRounds; ++round)
                for (size_t i = 0; i < expected.size(); ++i) {
                    size_t s = (i + static_cast<size_t>(t)) % expected.size();  // threads start on different files
                    GDALDatasetH ds = GDALOpen(Sample(kSamples[s]).c_str(), GA_ReadOnly);
                    GDALDatasetH grids = GDALOpen(elevationName.c_str(), GA_ReadOnly);
                    if (ds == nullptr || grids == nullptr || ReadAllLevels(ds) != expected[s] ||
                        ReadElevation(grids) != expectedElevation)
                        ++mismatches[static_cast<size_t>(t)];
                    if (ds != nullptr) GDALClose(ds);
                    if (grids != nullptr) GDALClose(grids);
                }
        });
    for (std::thread& thread : threads) thread.join();
    GDALSetCacheMax64(cache);
    EXPECT_EQ(mismatches, std::vector<int>(kThreads, 0));
}

}  // namespace
