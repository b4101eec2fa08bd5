// Fuzz targets feed arbitrary bytes to one family of decoders. Each target
// defines LLVMFuzzerTestOneInput and FuzzSeeds (well-formed inputs that the
// smoke driver mutates). Built with libFuzzer under clang
// (-DVELTRANE_LIBFUZZER=ON), or with FuzzDriver.cpp as a deterministic smoke
// run that ctest executes in every build, the sanitizer build included.
#ifndef VELTRANE_FUZZ_TARGET_H
#define VELTRANE_FUZZ_TARGET_H

#include <cstddef>
#include <cstdint>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

std::vector<std::vector<uint8_t>> FuzzSeeds();

namespace vt {
namespace fuzz {

// Destinations are sized from what the info methods report; keep them small
// enough that a hostile size cannot exhaust memory during a run.
constexpr unsigned long kMaxPixels = 1u << 20;
constexpr int kMaxInflated = 1 << 22;

// A copy of the input in an allocation of exactly its size, so that any read
// past the end lands outside the heap block and the sanitizer reports it.
inline std::vector<uint8_t> ExactCopy(const uint8_t* data, size_t size) {
    return std::vector<uint8_t>(data, data + size);
}

}  // namespace fuzz
}  // namespace vt

#endif  // VELTRANE_FUZZ_TARGET_H
