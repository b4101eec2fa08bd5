// Tile reading: GetBlockImageSize and the buffer-filling GetImage over every
// tile of a written pyramid.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "PyramidWriter.h"
#include "Veltrane.h"

namespace {

std::string WriteSamplePyramid(int levels, size_t payloadBytes) {
    vt::writer::HeaderFields fields;
    fields.wkt = "LOCAL_CS[\"bench\"]";
    fields.maxLevel = fields.indexLevels = levels;
    fields.imageWidth = fields.imageHeight = 256 << (levels - 1);
    vt::writer::PyramidWriter writer(fields);
    std::vector<unsigned char> payload(payloadBytes);
    for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 31 + 7);
    for (int l = 0; l < levels; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) writer.SetTile(l, x, y, payload);
    std::string path = "/tmp/veltrane_bench_reader.pyr";
    writer.WriteFile(path);
    return path;
}

void BM_ReadEveryTile(benchmark::State& state) {
    const int levels = 5;
    std::string path = WriteSamplePyramid(levels, static_cast<size_t>(state.range(0)));
    CVeltrane reader;
    if (!reader.Veltrane(path.c_str())) {
        state.SkipWithError("cannot open the written pyramid");
        return;
    }
    std::vector<unsigned char> buffer;
    int64_t tiles = 0;
    for (auto _ : state) {
        for (int l = 0; l < levels; ++l)
            for (int y = 0; y < (1 << l); ++y)
                for (int x = 0; x < (1 << l); ++x) {
                    int size = 0;
                    if (!reader.GetBlockImageSize(l, x, y, size)) state.SkipWithError("size lookup failed");
                    if (buffer.size() < static_cast<size_t>(size)) buffer.resize(size);
                    if (!reader.GetImage(l, x, y, buffer.data(), size)) state.SkipWithError("read failed");
                    ++tiles;
                }
    }
    state.counters["tiles/s"] = benchmark::Counter(static_cast<double>(tiles), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(tiles * state.range(0));
    std::remove(path.c_str());
}
BENCHMARK(BM_ReadEveryTile)->Arg(4096)->Arg(20000);

}  // namespace

BENCHMARK_MAIN();
