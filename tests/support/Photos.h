// The test photographs in tests/data, decoded once per process.
//
// A missing or unreadable photograph throws std::runtime_error naming the
// file: GoogleTest reports it as the failure of the test that asked for it,
// so a clone without its fixtures fails clearly instead of crashing.
#ifndef VELTRANE_TESTS_SUPPORT_PHOTOS_H
#define VELTRANE_TESTS_SUPPORT_PHOTOS_H

#include <string>
#include <vector>

namespace vt {
namespace test {

struct Photo {
    int width = 0, height = 0;
    int channels = 0;                   // 3: R,G,B; 4: R,G,B,A
    std::vector<unsigned char> pixels;  // interleaved, rows top to bottom
};

// Full path of a file in tests/data.
std::string PhotoPath(const std::string& name);

// `name` (board.jpg, pier.png, plasma.png) with `channels` (3 or 4) per pixel.
const Photo& LoadPhoto(const std::string& name, int channels);

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_SUPPORT_PHOTOS_H
