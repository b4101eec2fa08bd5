// veltrane extract FILE LEVEL COL ROW -o OUT: one tile, as a PNG, a DDS
// texture, a decoded layout or the payload as stored.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "ImageFile.h"
#include "Manual.h"

namespace vt {
namespace cli {

namespace {

struct ExtractOptions : TileOptions {
    std::string output, layout = "default";
    int level = 0, col = 0, row = 0, id = -1;
};

int RunExtract(const ExtractOptions& o) {
    Layout layout = Layout::Default;
    if (o.layout != "default" && !ParseLayout(o.layout, layout)) Fail(kExitUsage, "unknown --layout " + o.layout);
    OpenPyramid open = OpenTiles(o, [&o](const Pyramid& p) { p.CheckTileAddress(o.level, o.col, o.row); });
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    std::string where = pyramid.Where(o.level, o.col, o.row), why;
    Bytes payload;
    Pyramid::TileStatus status = pyramid.ReadTile(o.level, o.col, o.row, payload, why);
    if (status == Pyramid::TileStatus::Missing) Fail(kExitFinding, where + ": no tile is stored there");
    if (status != Pyramid::TileStatus::Ok) Fail(kExitFinding, where + ": " + why);

    std::string ext = Extension(o.output);
    int tile = pyramid.tileSize();
    if (ext == ".png") {
        Image image;
        if (!DecodeTileImage(kind, payload, tile, o.id, image, why)) Fail(kExitFinding, where + ": " + why);
        Bytes png;
        if (!imagefile::EncodeImage(imagefile::Format::Png, image, nullptr, "", png, why))
            Fail(kExitFinding, o.output + ": " + why);
        WriteOutput(o.output, png);
        std::printf("wrote %s: %d x %d PNG of %s\n", o.output.c_str(), image.width, image.height, where.c_str());
    } else if (ext == ".dds") {
        DxtTexture texture;
        if (!DecodeTileDxt(kind, payload, o.id, layout, texture, why)) Fail(kExitFinding, where + ": " + why);
        WriteOutput(o.output, payloads::DdsFile(texture.width, texture.height, texture.dxt5, texture.mipCount,
                                                texture.blocks.data(), texture.blocks.size()));
        std::printf("wrote %s: %d x %d %s texture, %d mip level%s, of %s\n", o.output.c_str(), texture.width,
                    texture.height, texture.dxt5 ? "DXT5" : "DXT1", texture.mipCount, texture.mipCount > 1 ? "s" : "",
                    where.c_str());
    } else if (layout == Layout::Default) {
        WriteOutput(o.output, payload);
        std::printf("wrote %s: the %zu-byte payload of %s as stored\n", o.output.c_str(), payload.size(),
                    where.c_str());
    } else {
        Bytes out;
        TileInfo info;
        if (!DecodeTileLayout(kind, payload, o.id, layout, out, info, why)) Fail(kExitFinding, where + ": " + why);
        WriteOutput(o.output, out);
        std::printf("wrote %s: %zu bytes, %d x %d in layout %s, of %s\n", o.output.c_str(), out.size(), info.width,
                    info.height, LayoutName(layout), where.c_str());
    }
    return kExitOk;
}

}  // namespace

Command AddExtract(CLI::App& app) {
    auto o = std::make_shared<ExtractOptions>();
    CLI::App* sub = app.add_subcommand(
        "extract", "Write one tile: .png pixels, .dds texture (DXT1/DXT5 with mips), anything else raw bytes");
    AddTileOptions(sub, *o, "auto|image|image2|dem|dom|terrain|dds");
    sub->add_option("LEVEL", o->level, "level (0 is the coarsest)")->required();
    sub->add_option("COL", o->col, "column")->required();
    sub->add_option("ROW", o->row, "row")->required();
    sub->add_option("-o,--output", o->output, "output file")->required();
    sub->add_option("--layout", o->layout,
                    "decoded layout: dxt1|dxt1mips|dxt5mips|rgb|rgb565|rgba (raw output: default is the payload "
                    "as stored)")
        ->capture_default_str();
    sub->add_option("--id", o->id, "orthophoto id of a DEM/DOM packet (default: the first)");
    Describe(sub,
             "Writes the tile at LEVEL, COL, ROW. The output's extension decides what: .png decodes the tile to "
             "pixels (an elevation grid as grey levels), .dds writes a DXT texture with its mip chain (DXT5 when the "
             "tile carries alpha), any other name gets the payload as stored or, with --layout, the library's "
             "decoded layout (BGR, 5:6:5 or BGRA pixels, or DXT blocks). An output appears whole or not at all.",
             {"veltrane extract city.vtp 3 2 5 -o tile.png", "veltrane extract city.vtp 3 2 5 -o tile.dds",
              "veltrane extract city.vtp 3 2 5 -o tile.565 --layout rgb565"});
    return {sub, [o] { return RunExtract(*o); }};
}

}  // namespace cli
}  // namespace vt
