// veltrane mosaic FILE LEVEL -o OUT.png: every tile of a level in one image,
// cropped to the image's extent, with a world file (.pgw) and the projection
// (.prj) beside it so that GIS programs place it.
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "Common.h"

namespace vt {
namespace cli {

namespace {

struct MosaicOptions : TileOptions {
    std::string output;
    int level = 0, id = -1;
};

std::string Sibling(const std::string& path, const std::string& extension) {
    std::string ext = Extension(path);
    return path.substr(0, path.size() - ext.size()) + extension;
}

int RunMosaic(const MosaicOptions& o) {
    if (Extension(o.output) != ".png") Fail(kExitUsage, o.output + ": the mosaic is written as PNG (name it .png)");
    OpenPyramid open = OpenTiles(o, [&o](const Pyramid& p) { p.CheckTileAddress(o.level, 0, 0); });
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    int width = 0, height = 0, tile = pyramid.tileSize();
    pyramid.LevelImageSize(o.level, width, height);
    if (static_cast<double>(width) * height > 256.0 * 1024 * 1024)
        Fail(kExitUsage, o.file + ": level " + std::to_string(o.level) + " is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels, too large for one PNG; pick a coarser level");
    Image mosaic(width, height);  // transparent where nothing is drawn
    int n = 1 << o.level, drawn = 0, missing = 0, bad = 0;
    for (int y = 0; y < n && y * tile < height; ++y) {
        for (int x = 0; x < n && x * tile < width; ++x) {
            std::string why, where = pyramid.Where(o.level, x, y);
            Bytes payload;
            Pyramid::TileStatus status = pyramid.ReadTile(o.level, x, y, payload, why);
            if (status == Pyramid::TileStatus::Missing) {
                ++missing;
                continue;
            }
            Image image;
            if (status != Pyramid::TileStatus::Ok || !DecodeTileImage(kind, payload, tile, o.id, image, why)) {
                Say(where + ": " + why);
                ++bad;
                continue;
            }
            int columns = std::min(tile, width - x * tile), rows = std::min(tile, height - y * tile);
            for (int r = 0; r < rows && r < image.height; ++r)
                std::memcpy(mosaic.Pixel(x * tile, y * tile + r), image.Pixel(0, r),
                            static_cast<size_t>(std::min(columns, image.width)) * 4);
            ++drawn;
        }
    }
    Bytes png;
    if (!payloads::EncodePng(mosaic, true, png)) Fail(kExitFinding, o.output + ": PNG encoding failed");

    // World file: pixel size across, two rotation terms, pixel size down
    // (negative: rows run south), then the centre of the top-left pixel.
    double px = pyramid.LevelPixelX(o.level), py = pyramid.LevelPixelY(o.level);
    const PyramidHeader& h = pyramid.header();
    std::string world = FormatDouble(px) + "\n0\n0\n" + FormatDouble(-py) + "\n" + FormatDouble(h.minX + px / 2) +
                        "\n" + FormatDouble(h.maxY - py / 2) + "\n";
    std::string pgw = Sibling(o.output, ".pgw"), prj = Sibling(o.output, ".prj");
    WriteOutputText(pgw, world);
    WriteOutputText(prj, std::string(h.wktPrj) + "\n");
    WriteOutput(o.output, png);
    std::printf("wrote %s: %d x %d pixels from %d tiles of level %d (%d missing, %d unreadable), with %s and %s\n",
                o.output.c_str(), width, height, drawn, o.level, missing, bad, pgw.c_str(), prj.c_str());
    if (bad > 0) {
        Say(o.file + ": " + std::to_string(bad) + " tile(s) of level " + std::to_string(o.level) +
            " could not be read; they are transparent in the mosaic");
        return kExitFinding;
    }
    return kExitOk;
}

}  // namespace

Command AddMosaic(CLI::App& app) {
    auto o = std::make_shared<MosaicOptions>();
    CLI::App* sub = app.add_subcommand(
        "mosaic", "Stitch every tile of a level into one PNG with a .pgw world file and a .prj beside it");
    AddTileOptions(sub, *o, "auto|image|image2|dem|dom|terrain|dds");
    sub->add_option("LEVEL", o->level, "level (0 is the coarsest)")->required();
    sub->add_option("-o,--output", o->output, "output PNG")->required();
    sub->add_option("--id", o->id, "orthophoto id of DEM/DOM packets (default: the first)");
    return {sub, [o] { return RunMosaic(*o); }};
}

}  // namespace cli
}  // namespace vt
