// veltrane build IMAGE -o FILE: a pyramid from a PNG or JPEG image. Level
// L-1 is the image itself, every coarser level the 2 x 2 average of the one
// below, down to one tile. PNG alpha becomes the tiles' alpha plane.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "PyramidWriter.h"

namespace vt {
namespace cli {

namespace {

struct BuildOptions {
    std::string image, output, codec = "jpeg", wkt, wktFile;
    int tile = 256, quality = -1;
    std::vector<double> bounds;
};

int RunBuild(const BuildOptions& o) {
    if (o.tile < 16 || o.tile > 4096) Fail(kExitUsage, "--tile must lie between 16 and 4096");
    if (o.quality != -1 && (o.quality < 1 || o.quality > 100)) Fail(kExitUsage, "--quality must lie between 1 and 100");
    bool j2k = o.codec == "j2k";
    std::string wkt = o.wkt;
    if (!o.wktFile.empty()) {
        std::ifstream in(o.wktFile);
        if (!in) Fail(kExitUsage, o.wktFile + ": cannot read the projection text");
        std::stringstream text;
        text << in.rdbuf();
        wkt = text.str();
        while (!wkt.empty() && (wkt.back() == '\n' || wkt.back() == '\r' || wkt.back() == ' ')) wkt.pop_back();
    }
    if (wkt.size() > 255) Fail(kExitUsage, "the projection text has " + std::to_string(wkt.size()) +
                                               " bytes; the file header holds at most 255");

    Image image;
    std::string why;
    if (!payloads::ReadImageFile(o.image, image, why)) Fail(kExitUsage, o.image + ": " + why);
    writer::HeaderFields f;
    f.wkt = wkt;
    if (o.bounds.empty()) {
        f.minX = 0, f.minY = 0, f.maxX = image.width, f.maxY = image.height;  // pixel units, y up
    } else {
        f.minX = o.bounds[0], f.minY = o.bounds[1], f.maxX = o.bounds[2], f.maxY = o.bounds[3];
        if (!(f.maxX > f.minX) || !(f.maxY > f.minY)) Fail(kExitUsage, "--bounds: need minX < maxX and minY < maxY");
    }
    int levels = 1;
    while ((static_cast<int64_t>(o.tile) << (levels - 1)) < std::max(image.width, image.height)) ++levels;
    f.imageWidth = image.width;
    f.imageHeight = image.height;
    f.blockWidth = f.blockHeight = o.tile;
    f.maxLevel = f.indexLevels = levels;
    writer::PyramidWriter w(f);

    int quality = o.quality == -1 ? 75 : o.quality;
    bool lossless = o.quality == -1 || o.quality == 100;
    int tiles = 0, jpegTiles = 0, j2kTiles = 0, alphaTiles = 0, skipped = 0;
    const std::vector<Image> images = payloads::LevelImages(image, levels);
    for (int l = 0; l < levels; ++l) {
        const Image& level = images[static_cast<size_t>(l)];
        for (int y = 0; y * o.tile < level.height; ++y)
            for (int x = 0; x * o.tile < level.width; ++x) {
                std::vector<uint8_t> outside;
                Image tile = payloads::CutTile(level, x, y, o.tile, &outside);
                bool any = false, all = true;
                Bytes alpha = payloads::TileAlphaPlane(tile, outside, any, all);
                if (all) {
                    ++skipped;  // wholly transparent: no tile
                    continue;
                }
                Bytes payload;
                // Only compact JPEG tiles carry alpha: transparent tiles stay JPEG.
                if (j2k && !any) {
                    payload = payloads::ImagePayload(
                        payloads::Codec::Jpeg2000,
                        payloads::EncodeJpeg2000(tile, lossless, 25.0f + 0.2f * static_cast<float>(quality)), nullptr,
                        true);
                    ++j2kTiles;
                } else {
                    payload = payloads::ImagePayload(payloads::Codec::CompactJpeg,
                                                     payloads::EncodeCompactJpeg(tile, quality), any ? &alpha : nullptr,
                                                     true);
                    ++jpegTiles;
                    alphaTiles += any ? 1 : 0;
                }
                w.SetTile(l, x, y, std::move(payload));
                ++tiles;
            }
    }
    if (!w.WriteFile(o.output)) Fail(kExitFinding, o.output + ": cannot write: " + std::strerror(errno));
    std::printf("wrote %s: %d x %d image, %d levels of %d-pixel tiles, %d tiles (%d compact JPEG q%d, %d with alpha; "
                "%d JPEG 2000 %s), %d transparent tiles left out\n",
                o.output.c_str(), image.width, image.height, levels, o.tile, tiles, jpegTiles, quality, alphaTiles,
                j2kTiles, lossless ? "lossless" : "lossy", skipped);
    if (j2k && jpegTiles > 0)
        Say("note: " + std::to_string(jpegTiles) +
            " tile(s) with transparent pixels were stored as compact JPEG, the only codec that carries alpha");
    return kExitOk;
}

}  // namespace

Command AddBuild(CLI::App& app) {
    auto o = std::make_shared<BuildOptions>();
    CLI::App* sub = app.add_subcommand("build", "Build a pyramid file from a PNG or JPEG image (PNG alpha kept)");
    sub->add_option("IMAGE", o->image, "input PNG or JPEG")->required();
    sub->add_option("-o,--output", o->output, "pyramid file to write")->required();
    sub->add_option("--tile", o->tile, "tile size in pixels")->capture_default_str();
    sub->add_option("--codec", o->codec, "tile codec: jpeg (compact JPEG) or j2k (JPEG 2000)")
        ->check(CLI::IsMember({"jpeg", "j2k"}))
        ->capture_default_str();
    sub->add_option("--quality", o->quality,
                    "JPEG quality 1-100 (default 75); for j2k: lossless unless given below 100");
    sub->add_option("--bounds", o->bounds, "map bounds: minX minY maxX maxY (default: pixel coordinates)")
        ->expected(4);
    auto* wkt = sub->add_option("--wkt", o->wkt, "projection as WKT text (at most 255 bytes)");
    sub->add_option("--wkt-file", o->wktFile, "file holding the projection WKT (e.g. a .prj)")->excludes(wkt);
    return {sub, [o] { return RunBuild(*o); }};
}

}  // namespace cli
}  // namespace vt
