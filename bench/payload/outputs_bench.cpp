// Every output of the image payload decoder beside its peer, through the
// public API (CVeltrane::DecodeImage), with ours and the peer timed in the
// same rounds: each iteration runs every contestant once, in alternating
// order, so that a loaded machine slows them alike, and each is timed by the
// processor time of this thread, which time spent waiting for the processor
// on a shared machine does not inflate. Counters per
// contestant: megapixels per second (of the top level), and x_<name> = that
// contestant's time over the first one's (above 1: the first is faster).
//
// Content: eight 256 x 256 crops of the sample photographs (or one
// 2048 x 2048 image) as compact JPEG at the given quality; the peer decodes
// the same image wrapped as a standard JPEG (PeerPipeline.h). DXT5 tiles
// carry four kinds of alpha plane in turn: fully opaque, a no-data mask
// (opaque with a transparent corner), a gradient with hard-edged squares,
// and a noisy plane taken from the picture.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <turbojpeg.h>

#include "CompactJpeg.h"
#include "JpegTestImages.h"
#include "PeerPipeline.h"
#include "Veltrane.h"
#include "payload/PayloadTestSupport.h"
#include "support/CpuForms.h"

namespace {

using vt_payload_test::Bytes;

struct Corpus {
    int side = 0;
    std::vector<Bytes> plain;     // envelope: compact JPEG
    std::vector<Bytes> withAlpha; // envelope: compact JPEG + alpha
    std::vector<Bytes> standard;  // the color image as a standard JPEG
    std::vector<Bytes> alpha;     // the alpha plane's zlib stream
};

Bytes MakeAlpha(int kind, const vt_jpeg_test::RgbImage& image) {
    const int side = image.width;
    Bytes plane(static_cast<std::size_t>(side) * side, 255);
    if (kind == 1) {
        for (int y = 0; y < side / 3; ++y) std::memset(&plane[static_cast<std::size_t>(y) * side], 0, side / 2);
    } else if (kind == 2) {
        plane = vt_payload_test::AlphaPlane(side, side);
    } else if (kind == 3) {
        for (std::size_t i = 0; i < plane.size(); ++i) plane[i] = image.rgb[3 * i + 1];
    }
    return vt_payload_test::Deflate(plane);
}

const Corpus& GetCorpus(bool large, int quality) {
    static Corpus corpora[2][101];
    Corpus& c = corpora[large][quality];
    if (c.side == 0) {
        c.side = large ? 2048 : 256;
        const int count = large ? 1 : 8;
        for (int i = 0; i < count; ++i) {
            const auto image = vt_jpeg_test::PhotoCrop(c.side, c.side, i + 1);
            const Bytes compact = vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), c.side, c.side, quality);
            const auto standard = vt::compactjpeg::WrapAsStandardJpeg(compact.data(), compact.size());
            c.standard.emplace_back(standard.begin(), standard.end());
            c.alpha.push_back(MakeAlpha(i % 4, image));
            c.plain.push_back(vt_payload_test::Envelope(0, compact));
            c.withAlpha.push_back(vt_payload_test::Envelope(0, compact, c.alpha.back()));
        }
    }
    return c;
}

struct Contestant {
    std::string name;
    std::function<void()> run;
};

// Runs the contestants in the same rounds and reports their rates and their
// times relative to the first.
double ThreadSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

void Contest(benchmark::State& state, double pixelsPerRound, const std::vector<Contestant>& contestants) {
    std::vector<double> seconds(contestants.size(), 0.0);
    bool reverse = false;
    for (auto _ : state) {
        for (std::size_t k = 0; k < contestants.size(); ++k) {
            const std::size_t i = reverse ? contestants.size() - 1 - k : k;
            const double start = ThreadSeconds();
            contestants[i].run();
            benchmark::ClobberMemory();
            seconds[i] += ThreadSeconds() - start;
        }
        reverse = !reverse;
    }
    const double rounds = static_cast<double>(state.iterations());
    for (std::size_t i = 0; i < contestants.size(); ++i) {
        state.counters[contestants[i].name + "_MP/s"] = pixelsPerRound * rounds / seconds[i] / 1e6;
        if (i > 0) state.counters["x_" + contestants[i].name] = seconds[i] / seconds[0];
    }
}

// Ours: every payload of the corpus decoded to `type`.
std::function<void()> Ours(const std::vector<Bytes>& payloads, OutputType type, Bytes& out) {
    auto reader = std::make_shared<CVeltrane>();
    return [reader, &payloads, type, &out] {
        for (const Bytes& p : payloads) {
            if (!reader->DecodeImage(const_cast<unsigned char*>(p.data()), static_cast<unsigned long>(p.size()),
                                        out.data(), type, false))
                std::abort();
        }
        benchmark::DoNotOptimize(out.data());
    };
}

struct Peer {
    tjhandle tj = tjInitDecompress();
    Bytes pixels, half, plane, out;
    explicit Peer(int side)
        : pixels(static_cast<std::size_t>(side) * side * 4), half(pixels.size()), plane(pixels.size() / 4),
          out(pixels.size() * 2) {}
    ~Peer() { tjDestroy(tj); }
};

double Pixels(const Corpus& c) { return static_cast<double>(c.side) * c.side * static_cast<double>(c.plain.size()); }

// Row 1 and 2: OutputRGB against tjDecompress2 (BGR).
void BM_Rgb(benchmark::State& state) {
    const Corpus& c = GetCorpus(state.range(0) != 0, static_cast<int>(state.range(1)));
    Bytes out(static_cast<std::size_t>(c.side) * c.side * 4);
    Peer peer(c.side);
    Contest(state, Pixels(c),
            {{"ours", Ours(c.plain, OutputRGB, out)},
             {"tj", [&] {
                  for (const Bytes& s : c.standard) vt_bench::PeerJpeg(peer.tj, s, c.side, c.side, peer.pixels.data(), 3);
              }}});
}

// Row 3: OutputRGB565 against tjDecompress2 (BGR) and our own OutputRGB.
void BM_Rgb565(benchmark::State& state) {
    const Corpus& c = GetCorpus(state.range(0) != 0, static_cast<int>(state.range(1)));
    Bytes out(static_cast<std::size_t>(c.side) * c.side * 4);
    Peer peer(c.side);
    Contest(state, Pixels(c),
            {{"ours565", Ours(c.plain, OutputRGB565, out)},
             {"tj", [&] {
                  for (const Bytes& s : c.standard) vt_bench::PeerJpeg(peer.tj, s, c.side, c.side, peer.pixels.data(), 3);
              }},
             {"oursRgb", Ours(c.plain, OutputRGB, out)}});
}

// Row 4: OutputDXT5Mipmaps against TurboJPEG + zlib + stb_dxt.
void BM_Dxt5Chain(benchmark::State& state) {
    const Corpus& c = GetCorpus(false, static_cast<int>(state.range(0)));
    Bytes out(static_cast<std::size_t>(c.side) * c.side * 2);
    Peer peer(c.side);
    const std::size_t count = static_cast<std::size_t>(c.side) * c.side;
    Contest(state, Pixels(c),
            {{"ours", Ours(c.withAlpha, OutputDXT5Mipmaps, out)},
             {"peer", [&] {
                  for (std::size_t i = 0; i < c.standard.size(); ++i) {
                      vt_bench::PeerJpeg(peer.tj, c.standard[i], c.side, c.side, peer.pixels.data(), 4);
                      vt_bench::PeerInflateAlpha(c.alpha[i], peer.plane.data(), peer.pixels.data(), count);
                      vt_bench::PeerStbChain(peer.pixels.data(), peer.half.data(), c.side, peer.out.data(), true);
                  }
              }}});
}

// Row 5: OutputDXT1Mipmaps against TurboJPEG + stb_dxt.
void BM_Dxt1Chain(benchmark::State& state) {
    const Corpus& c = GetCorpus(false, static_cast<int>(state.range(0)));
    Bytes out(static_cast<std::size_t>(c.side) * c.side * 2);
    Peer peer(c.side);
    Contest(state, Pixels(c),
            {{"ours", Ours(c.plain, OutputDXT1Mipmaps, out)},
             {"peer", [&] {
                  for (const Bytes& s : c.standard) {
                      vt_bench::PeerJpeg(peer.tj, s, c.side, c.side, peer.pixels.data(), 4);
                      vt_bench::PeerStbChain(peer.pixels.data(), peer.half.data(), c.side, peer.out.data(), false);
                  }
              }}});
}

// Row 6: the DXT1 encode rate, time of OutputDXT1 minus that of OutputRGB,
// against stb_dxt (NORMAL) encoding the same image (as TurboJPEG decodes it).
// encodeRatio = stb's time over our derived encode time.
void BM_Dxt1EncodeRate(benchmark::State& state) {
    const Corpus& c = GetCorpus(true, static_cast<int>(state.range(0)));
    Bytes out(static_cast<std::size_t>(c.side) * c.side * 4);
    Peer peer(c.side);
    vt_bench::PeerJpeg(peer.tj, c.standard[0], c.side, c.side, peer.pixels.data(), 4);
    Contest(state, Pixels(c),
            {{"oursDxt1", Ours(c.plain, OutputDXT1, out)},
             {"oursRgb", Ours(c.plain, OutputRGB, out)},
             {"stb", [&] { vt_bench::PeerStbLevel(peer.pixels.data(), c.side, c.side, peer.out.data(), false); }}});
    const double dxt1 = 1.0, rgb = state.counters["x_oursRgb"], stb = state.counters["x_stb"];
    state.counters["encodeRatio"] = stb / (dxt1 - rgb);
}

// Row 7: OutputRGB with the SSE2 forms alone (AVX2 masked off), against
// tjDecompress2 (which keeps its own best SIMD).
void BM_RgbSse2(benchmark::State& state) {
    vt::test::ScopedCpuFeatures form(vt::test::kSse2Form);
    BM_Rgb(state);
}

void Qualities(benchmark::internal::Benchmark* b) {
    b->ArgName("q");
    for (int q : {50, 75, 90}) b->Arg(q);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"large", "q"});
    for (int q : {50, 75, 90}) b->Args({0, q});
    b->Args({1, 75});
}

BENCHMARK(BM_Rgb)->Apply(Sizes);
BENCHMARK(BM_Rgb565)->ArgNames({"large", "q"})->Args({1, 75});
BENCHMARK(BM_Dxt5Chain)->Apply(Qualities);
BENCHMARK(BM_Dxt1Chain)->Apply(Qualities);
BENCHMARK(BM_Dxt1EncodeRate)->ArgName("q")->Arg(75);
BENCHMARK(BM_RgbSse2)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
