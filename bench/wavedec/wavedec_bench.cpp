// Decoding a 256 x 256 lossy JPEG 2000 tile: Wavedec (header, then decode, as
// the readers call it) to B-G-R (mode 1), B-G-R-A (mode 2) and 5:6:5 (mode 0),
// beside the peer, OpenJPEG decoding the same code stream from memory into its
// own opj_image_t (no pixel layout conversion). Both decode on the calling thread. Tiles per second (of CPU
// time) are in the "tiles/s" counter.
//
// Tiles: "photo" is a crop of board.jpg (fine detail), "plasma" the fractal
// plasma; both at 10:1.
#include <benchmark/benchmark.h>

#include <openjpeg.h>

#include <cstring>

#include "wavedec/WavedecTestUtil.h"

namespace {

using namespace wavedec_test;

const Bytes& Tile(int which) {
    static const Bytes photo =
        Encode(Crop(LoadContent("board.jpg"), 300, 150, 256, 256), vt::j2kenc::Options::Ratio(10));
    static const Bytes plasma = Encode(LoadContent("plasma.png"), vt::j2kenc::Options::Ratio(10));
    return which == 0 ? photo : plasma;
}

void Label(benchmark::State& state, const Bytes& stream) {
    state.SetLabel(std::string(state.range(0) == 0 ? "photo" : "plasma") + ", " +
                   std::to_string(stream.size()) + " bytes");
    state.counters["tiles/s"] = benchmark::Counter(static_cast<double>(state.iterations()),
                                                   benchmark::Counter::kIsRate);
}

void BM_Wavedec(benchmark::State& state, int mode) {
    Bytes stream = Tile(static_cast<int>(state.range(0)));
    if (stream.empty()) {
        state.SkipWithError("encoding failed");
        return;
    }
    Bytes dst(256 * 256 * 4);
    for (auto _ : state) {
        int w = 0, h = 0, extra = 0;
        j2k_decodeImgInfo(stream.data(), static_cast<int>(stream.size()), w, h, extra);
        if (!j2k_decode2Buffer(stream.data(), static_cast<int>(stream.size()), dst.data(), mode)) {
            state.SkipWithError("decode failed");
            return;
        }
        benchmark::DoNotOptimize(dst.data());
    }
    Label(state, stream);
}

// The header alone, as the readers ask for the size before every decode.
void BM_WavedecInfo(benchmark::State& state) {
    Bytes stream = Tile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        int w = 0, h = 0, extra = 0;
        benchmark::DoNotOptimize(j2k_decodeImgInfo(stream.data(), static_cast<int>(stream.size()), w, h, extra));
    }
    Label(state, stream);
}

void BM_WavedecMode1(benchmark::State& state) { BM_Wavedec(state, 1); }
void BM_WavedecMode2(benchmark::State& state) { BM_Wavedec(state, 2); }
void BM_WavedecMode0(benchmark::State& state) { BM_Wavedec(state, 0); }

// The peer: OpenJPEG's API as an application would call it on a buffer.
struct Source {
    const std::uint8_t* data;
    OPJ_SIZE_T length, position;
};

OPJ_SIZE_T PeerRead(void* buffer, OPJ_SIZE_T n, void* user) {
    Source* s = static_cast<Source*>(user);
    if (s->position >= s->length) return static_cast<OPJ_SIZE_T>(-1);
    if (n > s->length - s->position) n = s->length - s->position;
    std::memcpy(buffer, s->data + s->position, n);
    s->position += n;
    return n;
}
OPJ_OFF_T PeerSkip(OPJ_OFF_T n, void* user) {
    Source* s = static_cast<Source*>(user);
    s->position += static_cast<OPJ_SIZE_T>(n);
    return n;
}
OPJ_BOOL PeerSeek(OPJ_OFF_T n, void* user) {
    static_cast<Source*>(user)->position = static_cast<OPJ_SIZE_T>(n);
    return OPJ_TRUE;
}

void BM_OpenJpegToImage(benchmark::State& state) {
    const Bytes& stream = Tile(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        Source src{stream.data(), stream.size(), 0};
        opj_codec_t* codec = opj_create_decompress(OPJ_CODEC_J2K);
        opj_dparameters_t p;
        opj_set_default_decoder_parameters(&p);
        opj_setup_decoder(codec, &p);
        opj_codec_set_threads(codec, 0);
        // A stream buffer of the code stream's size, as Wavedec uses (the
        // default 1 MB buffer costs a large allocation per tile).
        opj_stream_t* s = opj_stream_create(stream.size(), OPJ_TRUE);
        opj_stream_set_user_data(s, &src, nullptr);
        opj_stream_set_user_data_length(s, stream.size());
        opj_stream_set_read_function(s, PeerRead);
        opj_stream_set_skip_function(s, PeerSkip);
        opj_stream_set_seek_function(s, PeerSeek);
        opj_image_t* image = nullptr;
        const bool ok = opj_read_header(s, codec, &image) && opj_decode(codec, s, image) &&
                        opj_end_decompress(codec, s);
        benchmark::DoNotOptimize(image);
        opj_image_destroy(image);
        opj_stream_destroy(s);
        opj_destroy_codec(codec);
        if (!ok) {
            state.SkipWithError("decode failed");
            return;
        }
    }
    Label(state, stream);
}

}  // namespace

BENCHMARK(BM_OpenJpegToImage)->Arg(0)->Arg(1);
BENCHMARK(BM_WavedecMode1)->Arg(0)->Arg(1);
BENCHMARK(BM_WavedecMode2)->Arg(0)->Arg(1);
BENCHMARK(BM_WavedecMode0)->Arg(0)->Arg(1);
BENCHMARK(BM_WavedecInfo)->Arg(0)->Arg(1);

BENCHMARK_MAIN();
