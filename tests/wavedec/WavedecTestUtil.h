// Helpers for the Wavedec tests: sample photographs, exact-size buffers,
// expected pixel layouts and OpenJPEG's own command-line decoder.
#ifndef VELTRANE_TESTS_WAVEDEC_TESTUTIL_H
#define VELTRANE_TESTS_WAVEDEC_TESTUTIL_H

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "J2kEncode.h"
#include "support/Photos.h"
#include "support/TempDir.h"
#include "wavedec/Wavedec.h"

#ifndef VT_OPJ_DECOMPRESS
#define VT_OPJ_DECOMPRESS ""  // not installed: the comparisons skip
#endif

namespace wavedec_test {

using Bytes = std::vector<std::uint8_t>;

// An interleaved 8-bit image, R,G,B[,A] order.
struct Image {
    int width = 0, height = 0, components = 0;
    Bytes pixels;
    std::uint8_t at(int x, int y, int c) const {
        return pixels[(static_cast<size_t>(y) * width + x) * components + c];
    }
};

// A test photograph as 8-bit RGB.
inline Image LoadContent(const std::string& name) {
    const vt::test::Photo& photo = vt::test::LoadPhoto(name, 3);
    Image img;
    img.width = photo.width;
    img.height = photo.height;
    img.components = 3;
    img.pixels = photo.pixels;
    return img;
}

inline Image Crop(const Image& src, int x0, int y0, int w, int h) {
    Image img;
    img.width = w;
    img.height = h;
    img.components = src.components;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < src.components; ++c) img.pixels.push_back(src.at(x0 + x, y0 + y, c));
    return img;
}

// Adds a fourth component, taken from the green channel of another picture
// (a natural, varied alpha plane).
inline Image WithAlpha(const Image& rgb, const Image& alphaSource) {
    Image img = rgb;
    img.components = 4;
    img.pixels.clear();
    for (int y = 0; y < rgb.height; ++y)
        for (int x = 0; x < rgb.width; ++x) {
            for (int c = 0; c < 3; ++c) img.pixels.push_back(rgb.at(x, y, c));
            img.pixels.push_back(alphaSource.at(x % alphaSource.width, y % alphaSource.height, 1));
        }
    return img;
}

// Expected mode outputs of 8-bit R,G,B(,A) values.
inline void PutMode(std::uint8_t* out, int mode, std::uint8_t r, std::uint8_t g, std::uint8_t b, std::uint8_t a) {
    if (mode == 0) {
        const unsigned v = ((b >> 3u) << 11) | ((g >> 2u) << 5) | (r >> 3u);
        out[0] = static_cast<std::uint8_t>(v & 0xFF);
        out[1] = static_cast<std::uint8_t>(v >> 8);
    } else {
        out[0] = b;
        out[1] = g;
        out[2] = r;
        if (mode == 2) out[3] = a;
    }
}

inline int BytesPerPixel(int mode) { return mode == 0 ? 2 : (mode == 1 ? 3 : 4); }

// The layout a decoder must give for `img` in `mode` (grey replicated,
// alpha 255 without a fourth component).
inline Bytes Expected(const Image& img, int mode) {
    const int bpp = BytesPerPixel(mode);
    Bytes out(static_cast<size_t>(img.width) * img.height * bpp);
    for (int y = 0; y < img.height; ++y)
        for (int x = 0; x < img.width; ++x) {
            const bool grey = img.components < 3;
            const std::uint8_t r = img.at(x, y, 0);
            const std::uint8_t g = grey ? r : img.at(x, y, 1);
            const std::uint8_t b = grey ? r : img.at(x, y, 2);
            const std::uint8_t a = img.components == 4 ? img.at(x, y, 3)
                                   : img.components == 2 ? img.at(x, y, 1) : 255;
            PutMode(&out[(static_cast<size_t>(y) * img.width + x) * bpp], mode, r, g, b, a);
        }
    return out;
}

inline Bytes Encode(const Image& img, const vt::j2kenc::Options& options) {
    Bytes out;
    vt::j2kenc::EncodeImage(img.pixels.data(), img.width, img.height, img.components, options, out);
    return out;
}

// Runs both entry points the way the reader does: size from the header, an
// exact-size destination, then the decode. Returns false if either fails.
inline bool DecodeExact(const Bytes& stream, int mode, Bytes& out, int* components = nullptr) {
    Bytes exact(stream);  // exact-size copy: nothing past its end is readable
    int w = 0, h = 0, extra = 0;
    if (!j2k_decodeImgInfo(exact.data(), static_cast<int>(exact.size()), w, h, extra)) return false;
    if (components) *components = extra;
    out.assign(static_cast<size_t>(w) * h * BytesPerPixel(mode), 0xCD);
    return j2k_decode2Buffer(exact.data(), static_cast<int>(exact.size()), out.data(), mode);
}

// ---------------------------------------------------------------------------
// OpenJPEG's command-line decoder, as an independent reference.

struct Pnm {
    int width = 0, height = 0, depth = 0, maxval = 0;
    Bytes samples;  // interleaved, 8-bit samples only
};

// Reads the PGM (P5), PPM (P6) or PAM (P7) files opj_decompress writes.
inline bool ReadPnm(const std::string& path, Pnm& pnm) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::string magic;
    in >> magic;
    if (magic == "P5" || magic == "P6") {
        pnm.depth = magic == "P5" ? 1 : 3;
        auto skip = [&in]() {
            in >> std::ws;
            while (in.peek() == '#') {
                std::string line;
                std::getline(in, line);
                in >> std::ws;
            }
        };
        skip(); in >> pnm.width;
        skip(); in >> pnm.height;
        skip(); in >> pnm.maxval;
        in.get();
    } else if (magic == "P7") {
        std::string key;
        while (in >> key && key != "ENDHDR") {
            if (key == "WIDTH") in >> pnm.width;
            else if (key == "HEIGHT") in >> pnm.height;
            else if (key == "DEPTH") in >> pnm.depth;
            else if (key == "MAXVAL") in >> pnm.maxval;
            else { std::string rest; std::getline(in, rest); }
        }
        in.get();
    } else {
        return false;
    }
    if (pnm.maxval != 255 || pnm.width <= 0 || pnm.height <= 0) return false;
    pnm.samples.resize(static_cast<size_t>(pnm.width) * pnm.height * pnm.depth);
    in.read(reinterpret_cast<char*>(pnm.samples.data()), static_cast<std::streamsize>(pnm.samples.size()));
    return static_cast<size_t>(in.gcount()) == pnm.samples.size();
}

// Decodes `stream` with opj_decompress into a PNM of extension `ext` ("pgm",
// "ppm" or "pam"), with extra command-line arguments.
inline bool ReferenceDecode(const Bytes& stream, bool jp2, const std::string& ext, Pnm& pnm,
                            const std::string& args = "") {
    vt::test::TempDir dir;
    if (dir.path().empty()) return false;
    const std::string in = dir.File(jp2 ? "in.jp2" : "in.j2k");
    const std::string out = dir.File("out." + ext);
    {
        std::ofstream f(in, std::ios::binary);
        f.write(reinterpret_cast<const char*>(stream.data()), static_cast<std::streamsize>(stream.size()));
    }
    const std::string cmd = std::string("\"") + VT_OPJ_DECOMPRESS + "\" -quiet -i \"" + in + "\" -o \"" + out +
                            "\" " + args + " > /dev/null 2>&1";
    const bool ran = std::system(cmd.c_str()) == 0;
    return ran && ReadPnm(out, pnm);
}

}  // namespace wavedec_test

#endif  // VELTRANE_TESTS_WAVEDEC_TESTUTIL_H
