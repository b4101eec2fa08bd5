// veltrane mosaic FILE LEVEL -o OUT.png|OUT.tif: every tile of a level in one
// image, cropped to the image's extent, placed on the map for GIS programs:
// a GeoTIFF carries its georeferencing and coordinate system inside; a PNG
// has a world file (.pgw) beside it, and when the file names a coordinate
// system, the projection (.prj) and GDAL's auxiliary file (.png.aux.xml),
// which is where GDAL and QGIS look for a PNG's coordinate system.
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "ImageFile.h"
#include "Manual.h"
#include "Progress.h"

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
    const std::string ext = Extension(o.output);
    const bool tiff = ext == ".tif" || ext == ".tiff";
    if (ext != ".png" && !tiff)
        Fail(kExitUsage, o.output + ": the mosaic is written as PNG or GeoTIFF (name it .png or .tif)");
    const imagefile::Format format = tiff ? imagefile::Format::GeoTiff : imagefile::Format::Png;
    if (!imagefile::Writes(format))
        Fail(kExitUsage, o.output + ": this build of the tool writes the mosaic as PNG only (it has no GDAL)");
    OpenPyramid open = OpenTiles(o, [&o](const Pyramid& p) { p.CheckTileAddress(o.level, 0, 0); });
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    int width = 0, height = 0, tile = pyramid.tileSize();
    pyramid.LevelImageSize(o.level, width, height);
    if (static_cast<double>(width) * height > 256.0 * 1024 * 1024)
        Fail(kExitUsage, o.file + ": level " + std::to_string(o.level) + " is " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels, too large for one image; pick a coarser level");
    Image mosaic(width, height);  // transparent where nothing is drawn
    int n = 1 << o.level, drawn = 0, missing = 0, bad = 0;
    const int across = std::min(n, (width + tile - 1) / tile), down = std::min(n, (height + tile - 1) / tile);
    Progress progress("mosaic", static_cast<uint64_t>(across) * static_cast<uint64_t>(down));
    for (int y = 0; y < down; ++y) {
        for (int x = 0; x < across; ++x, progress.Advance()) {
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
    const PyramidHeader& h = pyramid.header();
    const imagefile::Placement placement{h.minX, h.maxY, pyramid.LevelPixelX(o.level), pyramid.LevelPixelY(o.level)};
    const std::string wkt = h.wktPrj;
    Bytes encoded;
    std::string why;
    if (!imagefile::EncodeImage(format, mosaic, &placement, wkt, encoded, why))
        Fail(kExitFinding, o.output + ": " + why);

    // Side files: those of an earlier mosaic of the same name go, since GIS
    // programs would take them for this one's.
    const std::string aux = o.output + ".aux.xml", prj = Sibling(o.output, ".prj"), pgw = Sibling(o.output, ".pgw");
    std::remove(aux.c_str());
    std::string sideFiles;
    if (!tiff) {
        std::remove(prj.c_str());
        WriteOutputText(pgw, imagefile::WorldFileText(placement));
        sideFiles = pgw;
        if (!wkt.empty()) {
            WriteOutputText(prj, wkt + "\n");
            WriteOutputText(aux, imagefile::AuxiliaryXmlText(wkt));
            sideFiles += ", " + prj + " and " + aux;
        }
    }
    WriteOutput(o.output, encoded);
    std::printf("wrote %s: %d x %d pixels from %d tiles of level %d (%d missing, %d unreadable)%s%s\n",
                o.output.c_str(), width, height, drawn, o.level, missing, bad, sideFiles.empty() ? "" : ", with ",
                sideFiles.c_str());
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
        "mosaic",
        "Stitch every tile of a level into one GeoTIFF, or a PNG with a world file (.pgw) and its coordinate system "
        "(.prj, .png.aux.xml) beside it");
    AddTileOptions(sub, *o, "auto|image|image2|dem|dom|terrain|dds");
    sub->add_option("LEVEL", o->level, "level (0 is the coarsest)")->required();
    sub->add_option("-o,--output", o->output, "output image: .tif (GeoTIFF) or .png")->required();
    sub->add_option("--id", o->id, "orthophoto id of DEM/DOM packets (default: the first)");
    Progress::AddQuietOption(sub);
    Describe(sub,
             "Decodes every tile of LEVEL and stitches them into one image, cropped to the image's extent; missing "
             "tiles stay transparent. A GeoTIFF (.tif) carries its georeferencing and coordinate system; a PNG gets "
             "them beside it (a .pgw world file, and .prj and .png.aux.xml when the file names a coordinate "
             "system), so that GIS programs place the image. Exit status 1 when a tile cannot be read; it is left "
             "transparent.",
             {"veltrane mosaic city.vtp 4 -o city.tif", "veltrane mosaic city.vtp 2 -o overview.png"});
    return {sub, [o] { return RunMosaic(*o); }};
}

}  // namespace cli
}  // namespace vt
