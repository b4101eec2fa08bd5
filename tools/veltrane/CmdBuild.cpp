// veltrane build IMAGE -o FILE: a pyramid from an image file (any raster
// GDAL reads, or PNG and JPEG in builds without GDAL), placed where the file
// says unless --bounds and --wkt say otherwise. Level L-1 is the image
// itself, every coarser level the 2 x 2 average of the one below, down to
// one tile. Alpha becomes the tiles' alpha plane.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "ImageFile.h"
#include "Manual.h"
#include "Progress.h"
#include "PyramidWriter.h"

namespace vt {
namespace cli {

namespace {

struct BuildOptions {
    std::string image, output, codec = "jpeg", wkt, wktFile;
    int tile = 256, quality = -1;
    std::vector<double> bounds;
};

// The header's projection field: 256 bytes, the text and its terminating NUL.
constexpr std::size_t kLargestWkt = 255;

std::string TooLongWkt(std::size_t bytes) {
    return "the projection text has " + std::to_string(bytes) + " bytes; the file header holds at most " +
           std::to_string(kLargestWkt) +
           ": a shorter WKT1 or ESRI form of the same coordinate system is needed (gdalsrsinfo -o wkt_esri "
           "prints one; long names may be shortened)";
}

// Whether a WKT names a geographic coordinate system (longitude and
// latitude): WKT1's GEOGCS, WKT2's GEOGCRS, or a GEODCRS on an ellipsoid.
bool IsGeographicWkt(const std::string& wkt) {
    std::string keyword;
    for (char c : wkt) {
        if (c == '[' || c == '(') break;
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t')
            keyword += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    if (keyword == "GEOGCS" || keyword == "GEOGCRS" || keyword == "GEOGRAPHICCRS") return true;
    if (keyword != "GEODCRS" && keyword != "GEODETICCRS") return false;
    std::string upper;
    for (char c : wkt) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return upper.find("ELLIPSOIDAL") != std::string::npos;
}

// Longitudes run from -180 (or 0) to 180 (or 360), latitudes from -90 to 90:
// bounds beyond them are no places on the earth. Empty when they fit.
std::string OffTheEarth(const writer::HeaderFields& f) {
    auto range = [](double v, double low, double high) { return v >= low && v <= high; };
    std::string why;
    for (double x : {f.minX, f.maxX})
        if (!range(x, -180, 360) && why.empty()) why = "longitude " + FormatDouble(x) + " lies outside -180 to 360";
    for (double y : {f.minY, f.maxY})
        if (!range(y, -90, 90) && why.empty()) why = "latitude " + FormatDouble(y) + " lies outside -90 to 90";
    return why;
}

std::string ReadWktFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) Fail(kExitFinding, path + ": cannot read the projection text: " + std::strerror(errno));
    std::stringstream text;
    text << in.rdbuf();
    std::string wkt = text.str();
    while (!wkt.empty() && (wkt.back() == '\n' || wkt.back() == '\r' || wkt.back() == ' ')) wkt.pop_back();
    return wkt;
}

int RunBuild(const BuildOptions& o) {
    if (o.tile < 16 || o.tile > 4096) Fail(kExitUsage, "--tile must lie between 16 and 4096");
    if (o.quality != -1 && (o.quality < 1 || o.quality > 100)) Fail(kExitUsage, "--quality must lie between 1 and 100");
    bool j2k = o.codec == "j2k";
    const bool wktGiven = !o.wkt.empty() || !o.wktFile.empty();
    std::string wkt = o.wktFile.empty() ? o.wkt : ReadWktFile(o.wktFile);
    if (wkt.size() > kLargestWkt) Fail(kExitUsage, TooLongWkt(wkt.size()));

    Image image;
    imagefile::Georeferencing georef;
    std::string why;
    if (!imagefile::ReadImage(o.image, image, georef, why)) Fail(kExitFinding, o.image + ": " + why);

    // Where the image lies: --bounds, else the image file's own georeferencing,
    // else pixel coordinates (y up). The coordinate system likewise: --wkt,
    // else the file's, in the most complete form that fits the header.
    writer::HeaderFields f;
    if (!o.bounds.empty()) {
        f.minX = o.bounds[0], f.minY = o.bounds[1], f.maxX = o.bounds[2], f.maxY = o.bounds[3];
        if (!(f.maxX > f.minX) || !(f.maxY > f.minY)) Fail(kExitUsage, "--bounds: need minX < maxX and minY < maxY");
    } else if (georef.placed) {
        const imagefile::Placement& p = georef.placement;
        f.minX = p.west, f.maxY = p.north;
        f.maxX = p.west + p.pixelX * image.width, f.minY = p.north - p.pixelY * image.height;
    } else if (georef.rotated) {
        Fail(kExitFinding, o.image + ": its georeferencing is rotated (or south up); a pyramid lies north up: "
                                     "give --bounds");
    } else {
        f.minX = 0, f.minY = 0, f.maxX = image.width, f.maxY = image.height;
    }
    if (!wktGiven && !georef.wktForms.empty()) {
        for (const std::string& form : georef.wktForms)
            if (form.size() <= kLargestWkt) {
                wkt = form;
                break;
            }
        if (wkt.empty()) {
            std::size_t shortest = georef.wktForms.front().size();
            for (const std::string& form : georef.wktForms) shortest = std::min(shortest, form.size());
            Fail(kExitFinding, o.image + ": " + TooLongWkt(shortest) + "; pass it with --wkt");
        }
    }
    // A choice made on the command line is bad usage; a file whose own
    // georeferencing does not fit its coordinate system is a finding.
    const std::string offTheEarth = IsGeographicWkt(wkt) ? OffTheEarth(f) : "";
    if (!offTheEarth.empty())
        Fail(!o.bounds.empty() || wktGiven ? kExitUsage : kExitFinding,
             (o.bounds.empty() ? o.image + ": its bounds: " : std::string("--bounds: ")) + offTheEarth +
                 ", which a geographic coordinate system (longitude, latitude in degrees) cannot hold");
    f.wkt = wkt;
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
    uint64_t cells = 0;  // tiles the levels cover, transparent or not
    for (const Image& level : images)
        cells += static_cast<uint64_t>((level.width + o.tile - 1) / o.tile) * ((level.height + o.tile - 1) / o.tile);
    Progress progress("build", cells);
    for (int l = 0; l < levels; ++l) {
        const Image& level = images[static_cast<size_t>(l)];
        for (int y = 0; y * o.tile < level.height; ++y)
            for (int x = 0; x * o.tile < level.width; ++x, progress.Advance()) {
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
    CLI::App* sub = app.add_subcommand(
        "build", "Build a pyramid file from an image (" + imagefile::Implementation() +
                     " reads it), placed as its georeferencing says; alpha kept");
    sub->add_option("IMAGE", o->image, "input image: GeoTIFF, PNG or JPEG (with a world file), ...")->required();
    sub->add_option("-o,--output", o->output, "pyramid file to write")->required();
    sub->add_option("--tile", o->tile, "tile size in pixels")->capture_default_str();
    sub->add_option("--codec", o->codec, "tile codec: jpeg (compact JPEG) or j2k (JPEG 2000)")
        ->check(CLI::IsMember({"jpeg", "j2k"}))
        ->capture_default_str();
    sub->add_option("--quality", o->quality,
                    "JPEG quality 1-100 (default 75); for j2k: lossless unless given below 100");
    sub->add_option("--bounds", o->bounds,
                    "map bounds: minX minY maxX maxY (default: the image's georeferencing, else pixel coordinates)")
        ->expected(4);
    auto* wkt = sub->add_option("--wkt", o->wkt,
                                "projection as WKT text, at most 255 bytes (default: the image's coordinate system)");
    sub->add_option("--wkt-file", o->wktFile, "file holding the projection WKT (e.g. a .prj)")->excludes(wkt);
    Progress::AddQuietOption(sub);
    Describe(sub,
             "Builds a pyramid from an image: the finest level is the image itself, each coarser level the 2 x 2 "
             "average of the one below, down to one tile. Tiles are compact JPEG, or JPEG 2000 with --codec j2k; "
             "tiles with transparent pixels keep an alpha plane and are always compact JPEG, wholly transparent "
             "tiles are left out. Without --bounds and --wkt the image's own georeferencing and coordinate system "
             "place the pyramid; an image without them is placed in pixel units.",
             {"veltrane build ortho.tif -o ortho.vtp", "veltrane build photo.png -o photo.vtp",
              "veltrane build ortho.png -o ortho.vtp --codec j2k --bounds 500000 5200000 510000 5210000 "
              "--wkt-file ortho.prj"});
    return {sub, [o] { return RunBuild(*o); }};
}

}  // namespace cli
}  // namespace vt
