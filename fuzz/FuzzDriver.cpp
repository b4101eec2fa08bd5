// Stand-alone driver for the fuzz targets when libFuzzer is not in use.
//   driver FILE...               runs each file once (reproducing a finding)
//   driver --smoke N SEED [DIR]  runs the seeds and every file in DIR (the
//                                findings kept for the target), then N
//                                deterministic mutations of the seeds
//   driver --write-seeds DIR     writes the seeds into DIR, where libFuzzer
//                                starts from them (scripts/fuzz.sh)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
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

bool ReadFile(const std::string& path, Bytes& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

void Run(const Bytes& input) {
    // Exact-size heap copy: the target must read nothing past it.
    Bytes copy(input);
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

// The files of a corpus folder in name order; none when it does not exist.
std::vector<std::string> CorpusFiles(const std::string& dir) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(dir, error))
        if (entry.is_regular_file()) files.push_back(entry.path().string());
    std::sort(files.begin(), files.end());
    return files;
}

int Smoke(long iterations, unsigned seed, const char* corpus) {
    std::mt19937 rng(seed);
    std::vector<Bytes> seeds = FuzzSeeds();
    if (seeds.empty()) {
        std::fprintf(stderr, "no seeds\n");
        return 1;
    }
    for (const Bytes& s : seeds) Run(s);
    size_t kept = 0;
    if (corpus) {
        for (const std::string& path : CorpusFiles(corpus)) {
            Bytes input;
            if (!ReadFile(path, input)) {
                std::fprintf(stderr, "%s: cannot read\n", path.c_str());
                return 2;
            }
            Run(input);
            ++kept;
        }
    }
    Run(Bytes());
    for (long i = 0; i < iterations; ++i) Run(Mutate(seeds[static_cast<size_t>(i) % seeds.size()], rng));
    std::printf("%zu seeds, %zu kept inputs and %ld mutations ran clean\n", seeds.size(), kept, iterations);
    return 0;
}

int WriteSeeds(const std::string& dir) {
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    std::vector<Bytes> seeds = FuzzSeeds();
    for (size_t i = 0; i < seeds.size(); ++i) {
        const std::string path = dir + "/seed-" + std::to_string(i);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(seeds[i].data()), static_cast<std::streamsize>(seeds[i].size()));
        if (!out) {
            std::fprintf(stderr, "%s: cannot write\n", path.c_str());
            return 2;
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if ((argc == 4 || argc == 5) && std::strcmp(argv[1], "--smoke") == 0)
        return Smoke(std::strtol(argv[2], nullptr, 10), static_cast<unsigned>(std::strtoul(argv[3], nullptr, 10)),
                     argc == 5 ? argv[4] : nullptr);
    if (argc == 3 && std::strcmp(argv[1], "--write-seeds") == 0) return WriteSeeds(argv[2]);
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s FILE... | --smoke ITERATIONS SEED [DIR] | --write-seeds DIR\n", argv[0]);
        return 2;
    }
    for (int i = 1; i < argc; ++i) {
        Bytes input;
        if (!ReadFile(argv[i], input)) {
            std::fprintf(stderr, "%s: cannot read\n", argv[i]);
            return 2;
        }
        Run(input);
    }
    return 0;
}
