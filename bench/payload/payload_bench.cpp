// Image payload decoding per 256 x 256 tile (items/s = tiles/s), beside a peer
// pipeline built from the libraries a host would otherwise combine: TurboJPEG
// (default flags) decoding the same image as a standard JPEG, zlib inflating
// the alpha plane, and stb_dxt (NORMAL) encoding the mip chain. The peer's
// parts are also timed alone. Last, the orthophoto DXT1 chain, split into the
// JPEG 2000 decode and the chain.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include <turbojpeg.h>

#include "CompactJpeg.h"
#include "J2kEncode.h"
#include "PeerPipeline.h"
#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "payload/PayloadTestSupport.h"
#include "wavedec/Wavedec.h"

namespace {

using vt_payload_test::Bytes;

constexpr int kSide = 256;
constexpr std::size_t kPixels = kSide * kSide;

struct Content {
    Bytes compact;      // compact JPEG stream, quality 75
    Bytes standard;     // the same image as a standard JPEG file
    Bytes alpha;        // zlib stream of the alpha plane
    Bytes j2k;          // JPEG 2000 code stream, 12:1
    Bytes alphaPayload;  // envelope: compact JPEG + alpha
    Bytes plainPayload;  // envelope: compact JPEG
    Bytes j2kPayload;    // envelope: JPEG 2000
    Bytes domPacket;     // DEM/DOM packet with one orthophoto
};

const Content& Tile() {
    static const Content c = [] {
        Content c;
        const Bytes rgb = vt_payload_test::LoadRgbCrop("board.jpg", 200, 100, kSide, kSide);
        c.compact = vt::compactjpeg::EncodeCompactJpeg(rgb.data(), kSide, kSide, 75);
        const std::vector<unsigned char> standard = vt::compactjpeg::WrapAsStandardJpeg(c.compact.data(), c.compact.size());
        c.standard.assign(standard.begin(), standard.end());
        c.alpha = vt_payload_test::Deflate(vt_payload_test::AlphaPlane(kSide, kSide));
        std::vector<std::uint8_t> j2k;
        vt::j2kenc::EncodeImage(rgb.data(), kSide, kSide, 3, vt::j2kenc::Options::Ratio(12), j2k);
        c.j2k.assign(j2k.begin(), j2k.end());
        c.alphaPayload = vt_payload_test::Envelope(0, c.compact, c.alpha);
        c.plainPayload = vt_payload_test::Envelope(0, c.compact);
        c.j2kPayload = vt_payload_test::Envelope(1, c.j2k);
        c.domPacket = {0x00, 0x02, 0x01, 0x07};
        vt_payload_test::PutU32(c.domPacket, static_cast<std::uint32_t>(c.j2k.size()));
        vt_payload_test::Append(c.domPacket, c.j2k);
        return c;
    }();
    return c;
}

void DecodeOurs(benchmark::State& state, const Bytes& payload, OutputType type, std::size_t size) {
    CVeltrane v;
    Bytes in = payload;
    Bytes out(size);
    for (auto _ : state) {
        if (!v.DecodeImage(in.data(), static_cast<unsigned long>(in.size()), out.data(), type, false)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Ours_JpegAlpha_Dxt5Chain(benchmark::State& s) { DecodeOurs(s, Tile().alphaPayload, OutputDXT5Mipmaps, 87408); }
void BM_Ours_Jpeg_Dxt1Chain(benchmark::State& s) { DecodeOurs(s, Tile().plainPayload, OutputDXT1Mipmaps, 43704); }
void BM_Ours_Jpeg_RGB(benchmark::State& s) { DecodeOurs(s, Tile().plainPayload, OutputRGB, kPixels * 3); }
void BM_Ours_J2k_RGB(benchmark::State& s) { DecodeOurs(s, Tile().j2kPayload, OutputRGB, kPixels * 3); }

// ---- the peer pipeline (PeerPipeline.h) --------------------------------

using vt_bench::PeerStbChain;

void PeerJpeg(tjhandle tj, const Bytes& jpeg, unsigned char* pixels, int pixelBytes) {
    vt_bench::PeerJpeg(tj, jpeg, kSide, kSide, pixels, pixelBytes);
}

void PeerInflateAlpha(const Bytes& alpha, unsigned char* plane, unsigned char* pixels) {
    vt_bench::PeerInflateAlpha(alpha, plane, pixels, kPixels);
}

struct Peer {
    tjhandle tj = tjInitDecompress();
    Bytes pixels = Bytes(kPixels * 4);
    Bytes half = Bytes(kPixels);
    Bytes plane = Bytes(kPixels);
    Bytes out = Bytes(87408);
    ~Peer() { tjDestroy(tj); }
};

void BM_Peer_JpegAlpha_Dxt5Chain(benchmark::State& state) {
    Peer p;
    for (auto _ : state) {
        PeerJpeg(p.tj, Tile().standard, p.pixels.data(), 4);
        PeerInflateAlpha(Tile().alpha, p.plane.data(), p.pixels.data());
        PeerStbChain(p.pixels.data(), p.half.data(), kSide, p.out.data(), true);
        benchmark::DoNotOptimize(p.out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_Jpeg_Dxt1Chain(benchmark::State& state) {
    Peer p;
    for (auto _ : state) {
        PeerJpeg(p.tj, Tile().standard, p.pixels.data(), 4);
        PeerStbChain(p.pixels.data(), p.half.data(), kSide, p.out.data(), false);
        benchmark::DoNotOptimize(p.out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_Peer_Jpeg_RGB(benchmark::State& state) {
    Peer p;
    for (auto _ : state) {
        PeerJpeg(p.tj, Tile().standard, p.pixels.data(), 3);
        benchmark::DoNotOptimize(p.pixels.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PeerPart_Inflate(benchmark::State& state) {
    Peer p;
    for (auto _ : state) {
        PeerInflateAlpha(Tile().alpha, p.plane.data(), p.pixels.data());
        benchmark::DoNotOptimize(p.pixels.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_PeerPart_StbDxt5Chain(benchmark::State& state) {
    Peer p;
    PeerJpeg(p.tj, Tile().standard, p.pixels.data(), 4);
    const Bytes decoded = p.pixels;
    for (auto _ : state) {
        std::memcpy(p.pixels.data(), decoded.data(), decoded.size());
        PeerStbChain(p.pixels.data(), p.half.data(), kSide, p.out.data(), true);
        benchmark::DoNotOptimize(p.out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// ---- orthophoto: GetDOMBuffer to the DXT1 chain, and its two halves ------

void BM_Ortho_Dxt1Chain(benchmark::State& state) {
    Bytes packet = Tile().domPacket;
    Bytes out(43704);
    for (auto _ : state) {
        if (!CVeltrane::GetDOMBuffer(packet.data(), static_cast<unsigned long>(packet.size()), 7, out.data(),
                                     OutputDXT1Mipmaps)) {
            state.SkipWithError("decode failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

void BM_OrthoPart_Codec(benchmark::State& state) {
    Bytes stream = Tile().j2k;
    Bytes scratch(kPixels * 4);
    for (auto _ : state) {
        int w = 0, h = 0, e = 0;
        j2k_decodeImgInfo(stream.data(), static_cast<int>(stream.size()), w, h, e);
        j2k_decode2Buffer(stream.data(), static_cast<int>(stream.size()), scratch.data(), 2);
        benchmark::DoNotOptimize(scratch.data());
    }
    state.SetItemsProcessed(state.iterations());
}

// Includes a 256 KiB copy per tile to restore the scratch the chain consumes.
void BM_OrthoPart_Chain(benchmark::State& state) {
    Bytes stream = Tile().j2k;
    Bytes decoded(kPixels * 4), scratch(kPixels * 4), out(43704);
    j2k_decode2Buffer(stream.data(), static_cast<int>(stream.size()), decoded.data(), 2);
    for (auto _ : state) {
        std::memcpy(scratch.data(), decoded.data(), decoded.size());
        vt::dxt::EncodeDxtMipChain(scratch.data(), kSide, kSide, vt::dxt::kDxt1, true, out.data());
        benchmark::DoNotOptimize(out.data());
    }
    state.SetItemsProcessed(state.iterations());
}

}  // namespace

BENCHMARK(BM_Ours_JpegAlpha_Dxt5Chain);
BENCHMARK(BM_Peer_JpegAlpha_Dxt5Chain);
BENCHMARK(BM_Ours_Jpeg_Dxt1Chain);
BENCHMARK(BM_Peer_Jpeg_Dxt1Chain);
BENCHMARK(BM_Ours_Jpeg_RGB);
BENCHMARK(BM_Peer_Jpeg_RGB);
BENCHMARK(BM_Ours_J2k_RGB);
BENCHMARK(BM_PeerPart_Inflate);
BENCHMARK(BM_PeerPart_StbDxt5Chain);
BENCHMARK(BM_Ortho_Dxt1Chain);
BENCHMARK(BM_OrthoPart_Codec);
BENCHMARK(BM_OrthoPart_Chain);

BENCHMARK_MAIN();
