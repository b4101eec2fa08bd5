// Stand-alone driver for the fuzz targets when libFuzzer is not in use.
//   driver FILE...             runs each file once (reproducing a finding)
//   driver --smoke N SEED      runs the seeds, then N deterministic mutations
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FuzzTarget.h"

namespace {

using Bytes = std::vector<uint8_t>;

// Byte flips, small and boundary values, cuts, duplicated runs: the kinds of
// damage that reach length fields and entropy data alike.
Bytes Mutate(const Bytes& seed, std::mt19937& rng) {
    Bytes out = seed;
    int edits = 1 + static_cast<int>(rng() % 8);
    for (int e = 0; e < edits; ++e) {
        size_t n = out.size();
        switch (rng() % 7) {
            case 0:
                if (n) out[rng() % n] ^= static_cast<uint8_t>(1u << (rng() % 8));
                break;
            case 1:
                if (n) out[rng() % n] = static_cast<uint8_t>(rng());
                break;
            case 2: {
                static const uint8_t special[] = {0, 1, 0x7f, 0x80, 0xff, 0xfe, 4, 5, 6};
                if (n) out[rng() % n] = special[rng() % sizeof special];
                break;
            }
            case 3:
                if (n) out.resize(rng() % n);
                break;
            case 4:
                if (n >= 4) {
                    size_t at = rng() % (n - 3);
                    uint32_t v = (rng() % 2) ? 0xffffffffu - (rng() % 16) : (rng() % 1024);
                    std::memcpy(&out[at], &v, 4);
                }
                break;
            case 5:
                if (n) {
                    size_t at = rng() % n, len = 1 + rng() % std::min<size_t>(n - at, 64);
                    Bytes run(out.begin() + at, out.begin() + at + len);
                    out.insert(out.begin() + rng() % (out.size() + 1), run.begin(), run.end());
                }
                break;
            default:
                out.push_back(static_cast<uint8_t>(rng()));
                break;
        }
    }
    return out;
}

void Run(const Bytes& input) {
    // Exact-size heap copy: the target must read nothing past it.
    Bytes copy(input);
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::strcmp(argv[1], "--smoke") == 0) {
        long iterations = std::strtol(argv[2], nullptr, 10);
        std::mt19937 rng(static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)));
        std::vector<Bytes> seeds = FuzzSeeds();
        if (seeds.empty()) {
            std::fprintf(stderr, "no seeds\n");
            return 1;
        }
        for (const Bytes& seed : seeds) Run(seed);
        Run(Bytes());
        for (long i = 0; i < iterations; ++i) Run(Mutate(seeds[static_cast<size_t>(i) % seeds.size()], rng));
        std::printf("%zu seeds and %ld mutations ran clean\n", seeds.size(), iterations);
        return 0;
    }
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE... | --smoke ITERATIONS SEED\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return 2;
        }
        Run(Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>()));
    }
    return 0;
}
