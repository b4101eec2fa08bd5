// veltrane bench FILE: decodes every tile of a file over and over, on 1, 2,
// ... N threads, and reports tiles and megapixels a second. The decode
// methods are reentrant, so the threads share one reader object and the
// payloads (read once up front); each thread has its own destination.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"
#include "Progress.h"
#include "format/PayloadFormat.h"

namespace vt {
namespace cli {

namespace {

struct BenchOptions : TileOptions {
    std::string layout = "default";
    int threads = 0;
    double seconds = 1.0;
};

struct Job {
    Bytes payload;
    size_t outputBytes = 0;
    double pixels = 0;
    OutputType type = OutputDXT1Mipmaps;
    bool leadingByte = false;
    int id = 0;
};

// One decode of `job` through the library call the kind uses.
bool Decode(CVeltrane& reader, Kind kind, Job& job, uint8_t* out) {
    unsigned long n = static_cast<unsigned long>(job.payload.size());
    uint8_t* p = job.payload.data();
    switch (kind) {
        case Kind::Image: return reader.DecodeImage(p, n, out, job.type, job.leadingByte);
#if !defined(VELTRANE_EDITION_TERRAIN)
        case Kind::Image2: return reader.DecodeNewImage(p, n, out, job.type);
        case Kind::Dom: return CVeltrane::GetDOMBuffer(p, n, job.id, out, job.type);
        case Kind::Dem: return CVeltrane::GetDEMBuffer(p, n, out);
        case Kind::Dds: return reader.DecodeDDSImage(p, n, out, job.leadingByte);
#else
        case Kind::Terrain: return reader.DecodeImageTerrian(p, n, out, job.type);
#endif
        default: return false;
    }
}

OutputType TypeOf(Layout layout) {
    switch (layout) {
        case Layout::Dxt1: return OutputDXT1;
        case Layout::Dxt5Mips: return OutputDXT5Mipmaps;
        case Layout::Rgb: return OutputRGB;
        case Layout::Rgb565: return OutputRGB565;
        case Layout::Rgba: return OutputRGBA;
        default: return OutputDXT1Mipmaps;
    }
}

int RunBench(const BenchOptions& o) {
    Layout layout = Layout::Default;
    if (o.layout != "default" && !ParseLayout(o.layout, layout)) Fail(kExitUsage, "unknown --layout " + o.layout);
    if (!(o.seconds > 0 && o.seconds <= 600)) Fail(kExitUsage, "--seconds must lie between 0 and 600");
    OpenPyramid open = OpenTiles(o);
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    // Read and check every payload once; bench only the good ones.
    std::vector<Job> jobs;
    int skipped = 0;
    uint64_t total = 0;
    for (int level = 0; level < pyramid.levels(); ++level) total += uint64_t{1} << (2 * level);
    Progress reading("bench: reading tiles", total);
    for (int level = 0; level < pyramid.levels(); ++level)
        for (int y = 0; y < (1 << level); ++y)
            for (int x = 0; x < (1 << level); ++x, reading.Advance()) {
                Job job;
                std::string why;
                if (pyramid.ReadTile(level, x, y, job.payload, why) != Pyramid::TileStatus::Ok) continue;
                // Images decode to their chain by default, DXT5 where they
                // carry alpha; an elevation grid has one layout.
                Layout want = layout;
                if (kind == Kind::Image && want == Layout::Default) {
                    format::ImageEnvelope e;
                    const bool leading = kind::ImageHasLeadingByte(job.payload.data(), job.payload.size());
                    format::ReadImageEnvelope(job.payload.data(), job.payload.size(), leading, e);
                    want = e.hasAlpha ? Layout::Dxt5Mips : Layout::Dxt1Mips;
                }
                if (kind == Kind::Dem) want = Layout::Default;
                Bytes probe = job.payload, out;
                TileInfo info;
                if (!DecodeTileLayout(kind, probe, -1, want, out, info, why)) {
                    ++skipped;
                    continue;
                }
                job.outputBytes = out.size();
                job.pixels = static_cast<double>(info.width) * info.height;
                job.type = TypeOf(want);
                if (kind == Kind::Image2 && want == Layout::Default)
                    job.type = info.channels == 4 ? OutputDXT5Mipmaps : OutputDXT1Mipmaps;
                job.leadingByte = info.leadingByte;
                job.id = info.id;
                jobs.push_back(std::move(job));
            }
    if (jobs.empty()) Fail(kExitFinding, o.file + ": no decodable tile to measure");
    if (skipped > 0) Say(o.file + ": " + std::to_string(skipped) + " tile(s) that do not decode are left out");

    int maxThreads = o.threads > 0 ? o.threads : static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<int> counts;
    for (int t = 1; t < maxThreads; t *= 2) counts.push_back(t);
    counts.push_back(maxThreads);

    std::printf("%s: %zu tiles as %s, layout %s, %.1f s per run\n", o.file.c_str(), jobs.size(), KindDescription(kind),
                layout == Layout::Default ? "default" : LayoutName(layout), o.seconds);
    std::printf("threads     tiles/s   megapixels/s   speed-up\n");
    std::fflush(stdout);
    constexpr int kSlices = 20;  // progress steps per run
    Progress progress("bench", counts.size() * kSlices);
    CVeltrane reader;
    double single = 0;
    for (int threads : counts) {
        std::atomic<bool> stop{false}, failed{false};
        std::vector<uint64_t> decodes(static_cast<size_t>(threads), 0);
        std::vector<double> pixels(static_cast<size_t>(threads), 0);
        std::vector<std::thread> pool;
        auto start = std::chrono::steady_clock::now();
        for (int t = 0; t < threads; ++t)
            pool.emplace_back([&, t] {
                std::vector<Job> mine = jobs;  // own copies: nothing shared but the reader
                size_t most = 0;
                for (const Job& j : mine) most = std::max(most, j.outputBytes);
                Bytes out(most);
                for (size_t i = static_cast<size_t>(t) % mine.size(); !stop.load(std::memory_order_relaxed);
                     i = (i + 1) % mine.size()) {
                    if (!Decode(reader, kind, mine[i], out.data())) failed = true;
                    ++decodes[static_cast<size_t>(t)];
                    pixels[static_cast<size_t>(t)] += mine[i].pixels;
                }
            });
        for (int slice = 1; slice <= kSlices; ++slice, progress.Advance())
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                            std::chrono::duration<double>(o.seconds * slice / kSlices)));
        stop = true;
        for (std::thread& th : pool) th.join();
        double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        uint64_t total = 0;
        double px = 0;
        for (int t = 0; t < threads; ++t) total += decodes[static_cast<size_t>(t)], px += pixels[static_cast<size_t>(t)];
        if (failed) Fail(kExitFinding, o.file + ": a decode that succeeded once failed when repeated");
        double rate = static_cast<double>(total) / elapsed;
        if (threads == 1) single = rate;
        Progress::Interrupt();
        std::printf("%7d  %10.1f  %13.1f  %8.2fx\n", threads, rate, px / elapsed / 1e6, single > 0 ? rate / single : 0.0);
        std::fflush(stdout);
    }
    return kExitOk;
}

}  // namespace

Command AddBench(CLI::App& app) {
    auto o = std::make_shared<BenchOptions>();
    CLI::App* sub = app.add_subcommand(
        "bench", "Decode every tile repeatedly on 1..N threads; print tiles/s and megapixels/s per thread count");
    AddTileOptions(sub, *o, "auto|image|image2|dem|dom|terrain|dds");
    sub->add_option("--layout", o->layout, "decoded layout: dxt1|dxt1mips|dxt5mips|rgb|rgb565|rgba")
        ->capture_default_str();
    sub->add_option("-j,--threads", o->threads, "most threads (default: the number of processors)");
    sub->add_option("--seconds", o->seconds, "seconds per thread count")->capture_default_str();
    Progress::AddQuietOption(sub);
    Describe(sub,
             "Reads every tile once, then decodes all of them over and over through the library on 1, 2, 4, ... up "
             "to --threads threads, --seconds each, and prints tiles and megapixels a second per thread count with "
             "the speed-up over one thread. Image tiles decode to their DXT mip chain unless --layout names another "
             "layout; tiles that do not decode are left out and counted.",
             {"veltrane bench city.vtp", "veltrane bench city.vtp -j 4 --seconds 3 --layout rgb"});
    return {sub, [o] { return RunBench(*o); }};
}

}  // namespace cli
}  // namespace vt
