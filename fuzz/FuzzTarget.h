// Fuzz targets feed arbitrary bytes to one family of decoders. Each target
// defines LLVMFuzzerTestOneInput and FuzzSeeds (well-formed inputs that the
// smoke driver mutates and that scripts/fuzz.sh starts libFuzzer from). Built
// with libFuzzer under clang (-DVELTRANE_LIBFUZZER=ON, scripts/fuzz.sh), or
// with FuzzDriver.cpp as a deterministic smoke run that ctest executes in
// every build, the sanitizer build included.
#ifndef VELTRANE_FUZZ_TARGET_H
#define VELTRANE_FUZZ_TARGET_H

#include <cstddef>
#include <cstdint>
#include <vector>

#include "support/CpuForms.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

std::vector<std::vector<uint8_t>> FuzzSeeds();

namespace vt {
namespace fuzz {

using Bytes = std::vector<uint8_t>;

// What one input may ask for. The library accepts tiles of up to 2^28 pixels
// and sections of any size; a fuzz input that declares such an image would
// spend its run allocating and decoding it (tens of runs a second instead of
// thousands). The targets skip inputs above these caps: large sizes are the
// unit tests' business, the fuzzer's is the parsing and the kernels.
constexpr unsigned long kMaxPixels = 128 * 128;
constexpr int kMaxInflated = 1 << 18;
constexpr int kMaxTileBytes = 1 << 16;
constexpr int kMaxLevels = 3;

inline bool WithinPixelCap(unsigned long width, unsigned long height) {
    return width > 0 && height > 0 && width <= kMaxPixels && height <= kMaxPixels && width * height <= kMaxPixels;
}

// A copy of the input in an allocation of exactly its size, so that any read
// past the end lands outside the heap block and the sanitizer reports it.
inline Bytes ExactCopy(const uint8_t* data, size_t size) { return Bytes(data, data + size); }

// The decoder targets read their first input byte as a selector and decode
// the rest. Its low two bits choose the processor form the library runs
// (portable, SSE2, AVX2, AVX-512, each where the processor has it; else the
// widest it has below) through the test-only feature override, so the fuzzer reaches the portable kernels
// on a processor where the dispatch would pick SIMD ones. The six bits above
// pick a variant of the call (an output type, a read path): one run decodes
// one way, which keeps it short.
struct Selected {
    unsigned form = 0;  // index into test::kCpuForms: 0 is the portable form
    unsigned variant = 0;
    Bytes payload;
};

inline Selected Select(const uint8_t* data, size_t size) {
    Selected in;
    if (size == 0) return in;
    const auto& forms = test::kCpuForms;
    static_assert(sizeof(forms) / sizeof(forms[0]) == 4, "two selector bits pick the form");
    in.form = data[0] & 3u;
    cpu::SetCpuFeatureMask(forms[in.form].features);
    in.variant = data[0] >> 2;
    in.payload = ExactCopy(data + 1, size - 1);
    return in;
}

// The JPEG 2000 image of an orthophoto entry or a terrain payload is always
// 256 x 256 pixels (the library refuses other sizes there). Decoding one takes
// milliseconds in the fuzzing build (OpenJPEG, the sample conversion and, for
// the DXT1 chain, nine levels of DXT encoding), a hundred times as long as
// parsing the rest of an input. The packet and terrain targets decode it only
// for one selector in eight, those whose three `share` bits are zero; the
// other runs stop short of the image and go to the parsing. The DXT1 chain is
// never built in the portable form, whose scalar DXT kernels take over 20 ms
// for it there: the image payload target fuzzes those on images within the
// pixel cap.
constexpr unsigned long kFixedChainBytes = 43704;  // the DXT1 chain of such an image

inline bool DecodesFixedTile(unsigned share, unsigned form, bool chain) {
    return (share & 7u) == 0 && !(chain && form == 0);
}

// Seeds for a selector target: each payload under every variant below
// `variants`, the four forms taken in turn.
inline std::vector<Bytes> WithSelectors(const std::vector<Bytes>& payloads, unsigned variants) {
    std::vector<Bytes> seeds;
    unsigned n = 0;
    for (const Bytes& payload : payloads)
        for (unsigned v = 0; v < variants; ++v, ++n) {
            Bytes seed;
            seed.reserve(payload.size() + 1);
            seed.push_back(static_cast<uint8_t>((v << 2) | (n % 4)));
            seed.insert(seed.end(), payload.begin(), payload.end());
            seeds.push_back(std::move(seed));
        }
    return seeds;
}

}  // namespace fuzz
}  // namespace vt

#endif  // VELTRANE_FUZZ_TARGET_H
