// JPEG 2000 encoding with OpenJPEG, for the pyramid writer, the command-line
// tool, the tests and the benchmarks. Not part of the reader libraries.
//
// Two entry points:
//   EncodeImage  - an interleaved 8-bit image of 1 (grey), 3 (R,G,B) or
//                  4 (R,G,B,A) components; component 0 is red.
//   EncodePlanes - any set of components given plane by plane: other
//                  precisions, signed samples, sub-sampled components. Used to
//                  build the less common code streams real files hold.
// Both produce a raw JPEG 2000 code stream (ITU-T T.800 Annex A) or, with
// Options::jp2, a JP2 file (Annex I) around it, lossless (reversible 5/3
// wavelet, no quantisation) or lossy (irreversible 9/7) at a compression ratio
// or at a target PSNR. The image origin is (0, 0) unless Options say otherwise.
// Functions return false (and leave `out` empty) when OpenJPEG refuses the
// parameters or the input is inconsistent; they print nothing.
#ifndef VELTRANE_TOOLS_J2KENCODE_H
#define VELTRANE_TOOLS_J2KENCODE_H

#include <cstdint>
#include <vector>

namespace vt::j2kenc {

struct Options {
    enum class Kind {
        Lossless,  // reversible 5/3, exact round trip
        Ratio,     // irreversible 9/7, one quality layer at `value`:1 compression
        Quality,   // irreversible 9/7, one quality layer aiming at `value` dB PSNR
    };
    Kind kind = Kind::Lossless;
    float value = 0;         // the ratio (> 1) or the PSNR in dB (> 0)
    bool jp2 = false;        // wrap the code stream in a JP2 file
    int resolutions = 0;     // wavelet resolution levels; 0: as many as fit, at most 6
    int tileSize = 0;        // square tiles of this many pixels; 0: one tile
    int codeBlockSize = 64;  // code-block width and height (4 .. 1024, power of two)
    bool colorTransform = true;  // RCT/ICT on the first three components when they allow it
    unsigned originX = 0;    // image offset on the reference grid
    unsigned originY = 0;

    static Options Lossless() { return Options{}; }
    static Options Ratio(float ratio) {
        Options o;
        o.kind = Kind::Ratio;
        o.value = ratio;
        return o;
    }
    static Options Quality(float psnr) {
        Options o;
        o.kind = Kind::Quality;
        o.value = psnr;
        return o;
    }
};

// Interleaved 8-bit pixels: `components` bytes a pixel (1, 3 or 4), rows of
// `stride` bytes (0: width x components).
bool EncodeImage(const std::uint8_t* pixels, int width, int height, int components,
                 const Options& options, std::vector<std::uint8_t>& out, int stride = 0);

// One component, plane by plane. On a reference grid of width x height
// (starting at the options' origin), a component sub-sampled by dx, dy holds
// ceil((origin + width) / dx) - ceil(origin / dx) samples a row and the
// matching number of rows (SampleCount gives them); samples are row-major.
struct Component {
    unsigned dx = 1, dy = 1;
    unsigned precision = 8;   // 1 .. 16 bits
    bool isSigned = false;
    bool alpha = false;       // marked as opacity in a JP2 file
    std::vector<std::int32_t> samples;
};

// Samples of a component along one axis: `origin` and `size` on the grid, step `d`.
unsigned SampleCount(unsigned origin, unsigned size, unsigned d);

bool EncodePlanes(int width, int height, const std::vector<Component>& components,
                  const Options& options, std::vector<std::uint8_t>& out);

}  // namespace vt::j2kenc

#endif  // VELTRANE_TOOLS_J2KENCODE_H
