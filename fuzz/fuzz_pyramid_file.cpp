// Pyramid files: open arbitrary bytes as a file, read the header and every
// tile of the first levels through both read paths.
#include <unistd.h>  // getpid (MinGW-w64 has it too)

#include <cstdio>
#include <filesystem>
#include <string>

#include "FuzzTarget.h"
#include "PyramidWriter.h"
#include "Veltrane.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path =
        (std::filesystem::temp_directory_path() / ("veltrane-fuzz-" + std::to_string(getpid()) + ".vtp")).string();
    if (!vt::writer::WriteBytes(path, std::vector<uint8_t>(data, data + size))) return 0;
    {
        CVeltrane reader;
        if (reader.Veltrane(path.c_str())) {
            char* wkt = nullptr;
            reader.GetWktPrj(wkt);
            double l, t, w, h;
            reader.GetImageGeoInfo(l, t, w, h);
            reader.GetFileGeoInfo(l, t, w, h);
            int levels = std::min(reader.GetMaxLevel(), vt::fuzz::kMaxLevels);
            for (int level = 0; level < levels; ++level)
                for (int y = 0; y < (1 << level); ++y)
                    for (int x = 0; x < (1 << level); ++x) {
                        int tileSize = 0;
                        if (!reader.GetBlockImageSize(level, x, y, tileSize) || tileSize <= 0 ||
                            tileSize > vt::fuzz::kMaxTileBytes)
                            continue;
                        std::vector<uint8_t> buffer(static_cast<size_t>(tileSize));
                        reader.GetImage(level, x, y, buffer.data(), tileSize);
                        unsigned char* shared = nullptr;
                        int sharedSize = 0;
                        reader.GetImage(level, x, y, &shared, sharedSize);
                        reader.ReleaseBuffer();
                    }
        }
    }
    std::remove(path.c_str());
    return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
    vt::writer::HeaderFields fields;
    fields.wkt = "LOCAL_CS[\"fuzz\"]";
    fields.maxX = fields.maxY = 100;
    fields.imageWidth = fields.imageHeight = 512;
    fields.maxLevel = fields.indexLevels = 2;
    vt::writer::PyramidWriter writer(fields);
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) writer.SetTile(1, x, y, std::vector<uint8_t>(20 + x + y, 0x11));
    writer.SetTile(0, 0, 0, {1, 2, 3});
    fields.indexLevels = 3;
    vt::writer::PyramidWriter odd(fields, 3);
    odd.SetTile(2, 3, 3, {4, 5});
    return {writer.Build(), odd.Build()};
}
