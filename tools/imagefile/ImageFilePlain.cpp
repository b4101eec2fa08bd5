// Image files without GDAL, for builds that do not have it: PNG and JPEG
// read through libpng and libjpeg (turbojpeg), PNG written through libpng.
// No georeferencing is read; a GeoTIFF is not written.
#include "ImageFile.h"

#include <cstdio>
#include <cstring>

#include <png.h>
#include <turbojpeg.h>

namespace vt {
namespace imagefile {

using payloads::Image;

namespace {

bool ReadWholeFile(const std::string& path, std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    bytes.clear();
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) bytes.insert(bytes.end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    return ok;
}

bool DecodePng(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) {
        error = std::string("not a readable PNG (") + png.message + ")";
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    if (png.width == 0 || png.height == 0 || png.width > 65536 || png.height > 65536) {
        png_image_free(&png);
        error = "PNG size out of range";
        return false;
    }
    image = Image(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, image.rgba.data(), 0, nullptr)) {
        error = std::string("PNG decode failed (") + png.message + ")";
        png_image_free(&png);
        return false;
    }
    return true;
}

bool DecodeJpeg(const std::vector<uint8_t>& bytes, Image& image, std::string& error) {
    tjhandle tj = tjInitDecompress();
    if (tj == nullptr) {
        error = "cannot start the JPEG decoder";
        return false;
    }
    int w = 0, h = 0, subsamp = 0, colorspace = 0;
    bool ok = tjDecompressHeader3(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), &w, &h, &subsamp,
                                  &colorspace) == 0 &&
              w > 0 && h > 0 && w <= 65536 && h <= 65536;
    if (ok) {
        image = Image(w, h);
        ok = tjDecompress2(tj, bytes.data(), static_cast<unsigned long>(bytes.size()), image.rgba.data(), w, 0, h,
                           TJPF_RGBA, TJFLAG_ACCURATEDCT) == 0;
    }
    if (!ok) error = std::string("not a readable JPEG (") + tjGetErrorStr2(tj) + ")";
    tjDestroy(tj);
    return ok;
}

bool EncodePng(const Image& image, Bytes& png) {
    png_image info;
    std::memset(&info, 0, sizeof info);
    info.version = PNG_IMAGE_VERSION;
    info.width = static_cast<png_uint_32>(image.width);
    info.height = static_cast<png_uint_32>(image.height);
    info.format = PNG_FORMAT_RGBA;
    const uint8_t* source = image.rgba.data();
    png_alloc_size_t size = 0;
    if (!png_image_write_to_memory(&info, nullptr, &size, 0, source, 0, nullptr)) return false;
    png.resize(size);
    if (!png_image_write_to_memory(&info, png.data(), &size, 0, source, 0, nullptr)) return false;
    png.resize(size);
    return true;
}


}  // namespace

bool ReadImage(const std::string& path, Image& image, Georeferencing& georeferencing, std::string& error) {
    georeferencing = Georeferencing();  // PNG and JPEG files as such carry none
    std::vector<uint8_t> bytes;
    if (!ReadWholeFile(path, bytes)) {
        error = "cannot read the file";
        return false;
    }
    static const uint8_t kPngSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (bytes.size() >= 8 && std::memcmp(bytes.data(), kPngSignature, 8) == 0) return DecodePng(bytes, image, error);
    if (bytes.size() >= 3 && bytes[0] == 0xFF && bytes[1] == 0xD8 && bytes[2] == 0xFF)
        return DecodeJpeg(bytes, image, error);
    error = "neither a PNG nor a JPEG file";
    return false;
}

std::string Implementation() { return "libpng and libjpeg"; }

bool Writes(Format format) { return format == Format::Png; }

bool EncodeImage(Format format, const Image& image, const Placement*, const std::string&, Bytes& out,
                 std::string& error) {
    if (format != Format::Png) {
        error = "this build of the tool writes PNG only (it was built without GDAL)";
        return false;
    }
    if (!EncodePng(image, out)) {
        error = "PNG encoding failed";
        return false;
    }
    return true;
}

}  // namespace imagefile
}  // namespace vt
