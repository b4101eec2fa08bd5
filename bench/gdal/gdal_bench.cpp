// A whole level read through GDAL, three ways, on one photograph-like image
// of 2400 x 1800 pixels in 256 x 256 tiles at JPEG quality 75:
//   - from a pyramid file of compact JPEG tiles, through the Veltrane driver;
//   - from a tiled JPEG GeoTIFF (TILED=YES, COMPRESS=JPEG, 256 x 256 blocks),
//     as gdal_translate writes it with those options (RGB JPEG), and with
//     PHOTOMETRIC=YCBCR (4:2:0 like compact JPEG);
//   - by the library alone, tile by tile into one image, as `veltrane mosaic`
//     decodes a level (without its PNG encoding), and by the command itself.
// Each read opens the dataset anew, so no block comes from an earlier read.
// The driver should be at least as fast as the GeoTIFFs and within 1.2x of
// the library alone.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <cpl_conv.h>
#include <gdal.h>

#include "CompactJpeg.h"
#include "JpegTestImages.h"
#include "Payloads.h"
#include "PyramidWriter.h"
#include "Veltrane.h"

namespace {

constexpr int kWidth = 2400, kHeight = 1800, kTile = 256, kLevels = 5, kQuality = 75;
const std::string kFolder = "/tmp/veltrane_bench_gdal";

struct Files {
    std::string pyramid, tiff, tiffYcbcr;
};

// The tile at (col, row) of `image`, edge pixels repeated beyond the image.
std::vector<unsigned char> Tile(const vt_jpeg_test::RgbImage& image, int col, int row) {
    std::vector<unsigned char> rgb(static_cast<size_t>(kTile) * kTile * 3);
    for (int y = 0; y < kTile; ++y)
        for (int x = 0; x < kTile; ++x) {
            int sx = std::min(col * kTile + x, image.width - 1), sy = std::min(row * kTile + y, image.height - 1);
            std::memcpy(&rgb[(static_cast<size_t>(y) * kTile + x) * 3],
                        &image.rgb[(static_cast<size_t>(sy) * image.width + sx) * 3], 3);
        }
    return rgb;
}

void WriteGeoTiff(GDALDatasetH source, const std::string& path, bool ycbcr) {
    std::vector<std::string> options = {"TILED=YES", "COMPRESS=JPEG", "BLOCKXSIZE=256", "BLOCKYSIZE=256",
                                        "JPEG_QUALITY=" + std::to_string(kQuality)};
    if (ycbcr) options.push_back("PHOTOMETRIC=YCBCR");
    std::vector<char*> list;
    for (std::string& o : options) list.push_back(&o[0]);
    list.push_back(nullptr);
    GDALClose(GDALCreateCopy(GDALGetDriverByName("GTiff"), path.c_str(), source, FALSE, list.data(), nullptr,
                             nullptr));
}

const Files& GetFiles() {
    static Files files;
    if (!files.pyramid.empty()) return files;
    CPLSetConfigOption("GDAL_DRIVER_PATH", VT_GDAL_DRIVER_DIR);
    GDALAllRegister();
    std::system(("mkdir -p " + kFolder).c_str());
    vt_jpeg_test::RgbImage image = vt_jpeg_test::PhotoCrop(kWidth, kHeight, 1);

    // Only the finest level is filled: the reads below touch nothing else.
    vt::writer::HeaderFields fields;
    fields.wkt = "LOCAL_CS[\"bench\"]";
    fields.maxX = kWidth;
    fields.maxY = kHeight;
    fields.imageWidth = kWidth;
    fields.imageHeight = kHeight;
    fields.maxLevel = fields.indexLevels = kLevels;
    vt::writer::PyramidWriter writer(fields);
    for (int row = 0; row * kTile < kHeight; ++row)
        for (int col = 0; col * kTile < kWidth; ++col) {
            std::vector<unsigned char> rgb = Tile(image, col, row);
            writer.SetTile(kLevels - 1, col, row,
                           vt::payloads::ImagePayload(vt::payloads::Codec::CompactJpeg,
                                                      vt::compactjpeg::EncodeCompactJpeg(rgb.data(), kTile, kTile,
                                                                                         kQuality),
                                                      nullptr, true));
        }
    files.pyramid = kFolder + "/photo.vtp";
    writer.WriteFile(files.pyramid);

    GDALDatasetH source = GDALCreate(GDALGetDriverByName("MEM"), "", kWidth, kHeight, 3, GDT_Byte, nullptr);
    if (GDALDatasetRasterIO(source, GF_Write, 0, 0, kWidth, kHeight, image.rgb.data(), kWidth, kHeight, GDT_Byte,
                            3, nullptr, 3, kWidth * 3, 1) != CE_None)
        std::abort();
    files.tiff = kFolder + "/photo.tif";
    files.tiffYcbcr = kFolder + "/photo_ycbcr.tif";
    WriteGeoTiff(source, files.tiff, false);
    WriteGeoTiff(source, files.tiffYcbcr, true);
    GDALClose(source);
    return files;
}

void SetRate(benchmark::State& state) {
    state.counters["MP/s"] =
        benchmark::Counter(static_cast<double>(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// The whole image, three bands, pixel-interleaved, as gdal_translate reads it.
void ReadThroughGdal(benchmark::State& state, const std::string& path) {
    std::vector<unsigned char> rgb(static_cast<size_t>(kWidth) * kHeight * 3);
    int bands[3] = {1, 2, 3};
    for (auto _ : state) {
        GDALDatasetH ds = GDALOpen(path.c_str(), GA_ReadOnly);
        if (ds == nullptr || GDALDatasetRasterIO(ds, GF_Read, 0, 0, kWidth, kHeight, rgb.data(), kWidth, kHeight,
                                                 GDT_Byte, 3, bands, 3, kWidth * 3, 1) != CE_None) {
            state.SkipWithError(("GDAL cannot read " + path).c_str());
            break;
        }
        GDALClose(ds);
        benchmark::DoNotOptimize(rgb.data());
    }
    SetRate(state);
}

void BM_GdalPyramid(benchmark::State& state) { ReadThroughGdal(state, GetFiles().pyramid); }
void BM_GdalGeoTiffJpeg(benchmark::State& state) { ReadThroughGdal(state, GetFiles().tiff); }
void BM_GdalGeoTiffJpegYcbcr(benchmark::State& state) { ReadThroughGdal(state, GetFiles().tiffYcbcr); }

// The library alone: each tile read and decoded to blue-green-red, then
// stitched into one image, cropped to it.
void BM_LibraryMosaic(benchmark::State& state) {
    const Files& files = GetFiles();
    std::vector<unsigned char> mosaic(static_cast<size_t>(kWidth) * kHeight * 3);
    std::vector<unsigned char> payload, tile(static_cast<size_t>(kTile) * kTile * 3);
    for (auto _ : state) {
        CVeltrane reader;
        if (!reader.Veltrane(files.pyramid.c_str())) {
            state.SkipWithError("cannot open the pyramid");
            break;
        }
        for (int row = 0; row * kTile < kHeight; ++row)
            for (int col = 0; col * kTile < kWidth; ++col) {
                int size = 0;
                reader.GetBlockImageSize(kLevels - 1, col, row, size);
                payload.resize(static_cast<size_t>(size));
                reader.GetImage(kLevels - 1, col, row, payload.data(), size);
                unsigned long channels = 0, w = 0, h = 0, length = static_cast<unsigned long>(size);
                reader.GetCompressDataInfo(payload.data(), length, channels, w, h, true);
                reader.DecodeImage(payload.data(), length, tile.data(), OutputRGB, true);
                int columns = std::min(kTile, kWidth - col * kTile), rows = std::min(kTile, kHeight - row * kTile);
                for (int r = 0; r < rows; ++r)
                    std::memcpy(&mosaic[((static_cast<size_t>(row) * kTile + r) * kWidth + col * kTile) * 3],
                                &tile[static_cast<size_t>(r) * kTile * 3], static_cast<size_t>(columns) * 3);
            }
        benchmark::DoNotOptimize(mosaic.data());
    }
    SetRate(state);
}

// `veltrane mosaic` as a user runs it: a process that also encodes the PNG.
void BM_VeltraneMosaicCommand(benchmark::State& state) {
    const Files& files = GetFiles();
    std::string command = std::string("\"") + VT_TOOL + "\" mosaic " + files.pyramid + " " +
                          std::to_string(kLevels - 1) + " -o " + kFolder + "/mosaic.png > /dev/null 2>&1";
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("veltrane mosaic failed");
            break;
        }
    SetRate(state);
}

BENCHMARK(BM_GdalPyramid)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdalGeoTiffJpeg)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_GdalGeoTiffJpegYcbcr)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_LibraryMosaic)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_VeltraneMosaicCommand)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
