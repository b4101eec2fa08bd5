// Tile reading as a host does it, GetBlockImageSize then the buffer-filling
// GetImage, against its floor: two positional reads of the same file, one of
// the 12-byte index entry and one of the payload it names. Both visit the same
// tiles in the same shuffled order, single-threaded and with 4 threads sharing
// one reader object (and one descriptor for the peer). The ratio of their
// tiles/s is the reader's overhead; 1.0 or more means none.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <vector>

#include "PyramidWriter.h"
#include "Veltrane.h"

namespace {

constexpr int kLevels = 7;  // 5,461 tiles

struct Tile {
    int level, x, y;
    long long entryAt;
};

// One pyramid per payload size, opened once by the reader and once by the
// peer, shared by every thread of a run.
struct SamplePyramid {
    explicit SamplePyramid(size_t payloadBytes) {
        path = "/tmp/veltrane_bench_reader_" + std::to_string(::getpid()) + "_" + std::to_string(payloadBytes) + ".vtp";
        vt::writer::HeaderFields fields;
        fields.wkt = "LOCAL_CS[\"bench\"]";
        fields.maxLevel = fields.indexLevels = kLevels;
        fields.imageWidth = fields.imageHeight = 256 << (kLevels - 1);
        vt::writer::PyramidWriter writer(fields);
        std::vector<unsigned char> payload(payloadBytes);
        for (size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<unsigned char>(i * 31 + 7);
        for (int l = 0; l < kLevels; ++l)
            for (int y = 0; y < (1 << l); ++y)
                for (int x = 0; x < (1 << l); ++x) {
                    writer.SetTile(l, x, y, payload);
                    tiles.push_back({l, x, y, static_cast<long long>(vt::writer::EntryOffset(kLevels, l, x, y))});
                }
        std::shuffle(tiles.begin(), tiles.end(), std::mt19937(7));
        ok = writer.WriteFile(path) && reader.Veltrane(path.c_str());
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ok = ok && fd >= 0;
    }
    ~SamplePyramid() {
        if (fd >= 0) ::close(fd);
        std::remove(path.c_str());
    }
    std::string path;
    std::vector<Tile> tiles;
    CVeltrane reader;
    int fd = -1;
    bool ok = false;
};

SamplePyramid& Pyramid(size_t payloadBytes) {
    static std::mutex lock;
    static std::map<size_t, std::unique_ptr<SamplePyramid>> made;
    std::lock_guard<std::mutex> hold(lock);
    std::unique_ptr<SamplePyramid>& p = made[payloadBytes];
    if (!p) p = std::make_unique<SamplePyramid>(payloadBytes);
    return *p;
}

// Runs `readTile` over the shuffled tiles, each thread from its own start.
template <typename ReadTile>
void ReadTiles(benchmark::State& state, ReadTile readTile) {
    SamplePyramid& p = Pyramid(static_cast<size_t>(state.range(0)));
    if (!p.ok) {
        state.SkipWithError("cannot write or open the sample pyramid");
        return;
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(state.range(0)));
    size_t next = static_cast<size_t>(state.thread_index()) * p.tiles.size() / 4;
    for (auto _ : state) {
        const Tile& t = p.tiles[next];
        if (++next == p.tiles.size()) next = 0;
        if (!readTile(p, t, buffer.data())) {
            state.SkipWithError("a tile read failed");
            break;
        }
        benchmark::DoNotOptimize(buffer.data());
    }
    state.counters["tiles/s"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}

void BM_GetBlockImageSizeAndGetImage(benchmark::State& state) {
    ReadTiles(state, [](SamplePyramid& p, const Tile& t, unsigned char* buffer) {
        int size = 0;
        return p.reader.GetBlockImageSize(t.level, t.x, t.y, size) &&
               p.reader.GetImage(t.level, t.x, t.y, buffer, size);
    });
}

void BM_TwoPreads(benchmark::State& state) {
    ReadTiles(state, [](SamplePyramid& p, const Tile& t, unsigned char* buffer) {
        unsigned char entry[12];
        if (::pread(p.fd, entry, 12, t.entryAt) != 12) return false;
        long long offset = 0;
        unsigned int size = 0;
        for (int i = 7; i >= 0; --i) offset = offset << 8 | entry[i];
        for (int i = 11; i >= 8; --i) size = size << 8 | entry[i];
        return ::pread(p.fd, buffer, size, offset) == static_cast<ssize_t>(size);
    });
}

BENCHMARK(BM_GetBlockImageSizeAndGetImage)->Arg(4096)->Arg(16384)->Threads(1)->Threads(4)->UseRealTime();
BENCHMARK(BM_TwoPreads)->Arg(4096)->Arg(16384)->Threads(1)->Threads(4)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
