// The pipeline a host would otherwise assemble to get what the image payload
// decoder gives: TurboJPEG decoding the same image as a standard JPEG, zlib
// inflating the alpha plane, and stb_dxt (NORMAL) encoding each mip level,
// every level the truncated 2 x 2 average of the one before.
#ifndef VELTRANE_BENCH_PEER_PIPELINE_H
#define VELTRANE_BENCH_PEER_PIPELINE_H

#include <cstddef>
#include <vector>

#include <turbojpeg.h>

namespace vt_bench {

// tjDecompress2 with default flags into width x height pixels of 3 (TJPF_BGR)
// or 4 (TJPF_BGRA) bytes; aborts on failure.
void PeerJpeg(tjhandle tj, const std::vector<unsigned char>& jpeg, int width, int height, unsigned char* pixels,
              int pixelBytes);

// zlib's uncompress of a `count`-byte alpha plane into `plane`, then into
// byte 3 of every 4-byte pixel; aborts on failure.
void PeerInflateAlpha(const std::vector<unsigned char>& alpha, unsigned char* plane, unsigned char* pixels,
                      std::size_t count);

// stb_dxt over one level of width x height 4-byte pixels, edge blocks
// clamped; returns the bytes written.
std::size_t PeerStbLevel(const unsigned char* pixels, int width, int height, unsigned char* out, bool dxt5);

// The whole chain of a square power-of-two image of `side` pixels. `pixels`
// is overwritten level by level; `half` holds side * side bytes.
void PeerStbChain(unsigned char* pixels, unsigned char* half, int side, unsigned char* out, bool dxt5);

}  // namespace vt_bench

#endif  // VELTRANE_BENCH_PEER_PIPELINE_H
