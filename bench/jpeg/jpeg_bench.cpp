// Compact JPEG decoding speed beside libjpeg-turbo on the same content:
// 256x256 tiles and a 2048x2048 image cut from the sample photographs, at
// qualities 50, 75 and 90. Peers decode the equivalent standard JPEG:
// tjDecompress2 with default flags (SIMD, accurate IDCT, fancy upsampling)
// and the libjpeg API with the settings under which it gives our bytes
// (JDCT_IFAST, no fancy upsampling). Every figure is in megapixels/second.
#include <benchmark/benchmark.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include <jpeglib.h>
#include <turbojpeg.h>

#include "CompactJpeg.h"
#include "JpegTestImages.h"
#include "jpeg/JpegDecoder.h"
#include "support/CpuForms.h"

namespace {

struct Corpus {
    int width = 0, height = 0;
    std::vector<std::vector<uint8_t>> compact;   // compact streams
    std::vector<std::vector<uint8_t>> standard;  // the same, as standard JPEG files
};

// Tiles: eight 256x256 crops from the three photographs; large: one image.
const Corpus& GetCorpus(bool large, int quality) {
    static Corpus corpora[2][3];
    const int qi = quality == 50 ? 0 : quality == 75 ? 1 : 2;
    Corpus& c = corpora[large][qi];
    if (c.width == 0) {
        const int side = large ? 2048 : 256;
        const int count = large ? 1 : 8;
        c.width = c.height = side;
        for (int i = 0; i < count; ++i) {
            const auto image = vt_jpeg_test::PhotoCrop(side, side, i + 1);
            c.compact.push_back(vt::compactjpeg::EncodeCompactJpeg(image.rgb.data(), side, side, quality));
            c.standard.push_back(vt::compactjpeg::WrapAsStandardJpeg(c.compact.back().data(), c.compact.back().size()));
        }
    }
    return c;
}

void SetRate(benchmark::State& state, const Corpus& c) {
    state.counters["MP/s"] = benchmark::Counter(static_cast<double>(c.width) * c.height * c.compact.size() / 1e6,
                                                benchmark::Counter::kIsIterationInvariantRate);
}

// Ours with the kernels the processor selects (Portable = false) or with
// the portable kernels (the reference form, for comparison).
template <int BytesPerPixel, bool Portable = false>
void BM_Ours(benchmark::State& state) {
    const Corpus& c = GetCorpus(state.range(0) != 0, static_cast<int>(state.range(1)));
    std::vector<uint8_t> out(static_cast<size_t>(c.width) * c.height * BytesPerPixel);
    vt::test::ScopedCpuFeatures form(Portable ? 0u : ~0u);
    for (auto _ : state) {
        for (const auto& s : c.compact) {
            vt::jpeg::CJpegDecoder decoder;
            int w, h, headerLength;
            decoder.ReadHeader(s.data(), static_cast<int>(s.size()), w, h, headerLength);
            if (BytesPerPixel == 3)
                decoder.DecodeImage24(s.data() + headerLength, out.data());
            else
                decoder.DecodeImage32(s.data() + headerLength, out.data());
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    SetRate(state, c);
}

// The per-tile fixed cost before any pixel: reading a tile's header and
// preparing the decoder (the information calls pay it too).
void BM_ReadHeader(benchmark::State& state) {
    const Corpus& c = GetCorpus(false, static_cast<int>(state.range(0)));
    const std::vector<uint8_t>& s = c.compact.front();
    for (auto _ : state) {
        vt::jpeg::CJpegDecoder decoder;
        int w, h, headerLength;
        benchmark::DoNotOptimize(decoder.ReadHeader(s.data(), static_cast<int>(s.size()), w, h, headerLength));
        benchmark::DoNotOptimize(&decoder);
        benchmark::ClobberMemory();
    }
}

void BM_TjDecompress2(benchmark::State& state) {
    const Corpus& c = GetCorpus(state.range(0) != 0, static_cast<int>(state.range(1)));
    std::vector<uint8_t> out(static_cast<size_t>(c.width) * c.height * 3);
    tjhandle handle = tjInitDecompress();
    for (auto _ : state) {
        for (const auto& s : c.standard) {
            if (tjDecompress2(handle, s.data(), static_cast<unsigned long>(s.size()), out.data(), c.width, 0,
                              c.height, TJPF_BGR, 0) != 0) {
                state.SkipWithError("tjDecompress2 failed");
                break;
            }
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    tjDestroy(handle);
    SetRate(state, c);
}

struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};
void ErrorExit(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1); }

// libjpeg with the oracle's settings, one decompressor reused for all.
void BM_LibjpegIfast(benchmark::State& state) {
    const Corpus& c = GetCorpus(state.range(0) != 0, static_cast<int>(state.range(1)));
    std::vector<uint8_t> out(static_cast<size_t>(c.width) * c.height * 3);
    std::vector<JSAMPROW> rows(c.height);
    for (int y = 0; y < c.height; ++y) rows[y] = out.data() + static_cast<size_t>(y) * c.width * 3;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    jpeg_create_decompress(&cinfo);
    if (setjmp(err.jump)) {
        state.SkipWithError("libjpeg failed");
        jpeg_destroy_decompress(&cinfo);
        return;
    }
    for (auto _ : state) {
        for (const auto& s : c.standard) {
            jpeg_mem_src(&cinfo, s.data(), static_cast<unsigned long>(s.size()));
            jpeg_read_header(&cinfo, TRUE);
            cinfo.out_color_space = JCS_EXT_BGR;
            cinfo.dct_method = JDCT_IFAST;
            cinfo.do_fancy_upsampling = FALSE;
            jpeg_start_decompress(&cinfo);
            while (cinfo.output_scanline < cinfo.output_height)
                jpeg_read_scanlines(&cinfo, rows.data() + cinfo.output_scanline,
                                    cinfo.output_height - cinfo.output_scanline);
            jpeg_finish_decompress(&cinfo);
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    jpeg_destroy_decompress(&cinfo);
    SetRate(state, c);
}

void Sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"large", "q"});
    for (int large : {0, 1})
        for (int q : {50, 75, 90}) b->Args({large, q});
}

BENCHMARK_TEMPLATE(BM_Ours, 3)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Ours, 4)->Apply(Sizes);
BENCHMARK_TEMPLATE(BM_Ours, 3, true)->Name("BM_OursPortable<3>")->Apply(Sizes);
BENCHMARK(BM_ReadHeader)->ArgName("q")->Arg(75);
BENCHMARK(BM_TjDecompress2)->Apply(Sizes);
BENCHMARK(BM_LibjpegIfast)->Apply(Sizes);

}  // namespace

BENCHMARK_MAIN();
