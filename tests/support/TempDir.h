// A temporary folder for one test, removed with everything in it afterwards.
#ifndef VELTRANE_TESTS_SUPPORT_TEMPDIR_H
#define VELTRANE_TESTS_SUPPORT_TEMPDIR_H

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace vt {
namespace test {

class TempDir {
public:
    // A new folder of a random name in the system's temporary folder (on
    // Linux and Windows alike: create_directory fails for a name in use).
    TempDir() {
        std::random_device random;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate = base / ("veltrane-test-" + std::to_string(random()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate.string();
        }
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string File(const std::string& name) const { return path_ + "/" + name; }

    // Writes `bytes` to `name` in this folder and returns its path.
    std::string Write(const std::string& name, const std::vector<unsigned char>& bytes) const {
        std::string file = File(name);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return file;
    }

private:
    std::string path_;
};

inline std::vector<unsigned char> ReadAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_SUPPORT_TEMPDIR_H
