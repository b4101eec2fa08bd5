// Writes what the C host program and the Python ctypes test read:
//   DIR/sample.vtp     the C entry point tests' pyramid (CapiSample.h)
//   DIR/expected.rgb   tile (1, 1, 0) decoded to OutputRGB through the C++ API
#include <cstdio>
#include <string>

#include "Veltrane.h"
#include "capi/CapiSample.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: capi_fixture DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    const std::string pyramid = dir + "/sample.vtp";
    if (!vt_capi_test::SamplePyramid().WriteFile(pyramid)) return 1;

    CVeltrane reader;
    int size = 0;
    if (!reader.Veltrane(pyramid.c_str()) || !reader.GetBlockImageSize(1, 1, 0, size) || size <= 0) return 1;
    std::vector<unsigned char> tile(static_cast<std::size_t>(size));
    unsigned long channels = 0, width = 0, height = 0;
    if (!reader.GetImage(1, 1, 0, tile.data(), size) ||
        !reader.GetCompressDataInfo(tile.data(), tile.size(), channels, width, height, true))
        return 1;
    std::vector<unsigned char> rgb(width * height * 3);
    if (!reader.DecodeImage(tile.data(), tile.size(), rgb.data(), OutputRGB, true)) return 1;
    return vt::writer::WriteBytes(dir + "/expected.rgb", rgb) ? 0 : 1;
}
