#include "support/Photos.h"

#include <map>
#include <mutex>
#include <stdexcept>
#include <utility>

#include <stb_image.h>

namespace vt {
namespace test {

std::string PhotoPath(const std::string& name) { return std::string(VT_TEST_DATA_DIR) + "/" + name; }

const Photo& LoadPhoto(const std::string& name, int channels) {
    static std::mutex mutex;
    static std::map<std::pair<std::string, int>, Photo> cache;
    std::lock_guard<std::mutex> hold(mutex);
    const auto key = std::make_pair(name, channels);
    const auto known = cache.find(key);
    if (known != cache.end()) return known->second;

    const std::string path = PhotoPath(name);
    int w = 0, h = 0, stored = 0;
    unsigned char* data = stbi_load(path.c_str(), &w, &h, &stored, channels);
    if (data == nullptr)
        throw std::runtime_error("missing test fixture " + path + " (" + stbi_failure_reason() + ")");
    Photo& photo = cache[key];
    photo.width = w;
    photo.height = h;
    photo.channels = channels;
    photo.pixels.assign(data, data + static_cast<std::size_t>(w) * h * channels);
    stbi_image_free(data);
    return photo;
}

}  // namespace test
}  // namespace vt
