// veltrane elevation FILE LEVEL COL ROW X Y: the elevation at a map position,
// interpolated from the tile's elevation grid by the library's own lookup.
#include <cstdio>

#include <string>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"
#include "System.h"

namespace vt {
namespace cli {

namespace {

struct ElevationOptions : TileOptions {
    int level = 0, col = 0, row = 0;
    double x = 0, y = 0;
};

using Lookup = float (*)(unsigned char* grid, double minX, double minY, double maxX, double maxY, double x,
                         double y);

// The library's bilinear lookup, JNA_GetElevationInBuf. The terrain edition
// exports none: its tool takes the current edition's from the library that
// is built and installed beside its own, found by the folder the terrain
// edition was loaded from (a sanitizer's dlopen would not see this
// program's run path), and loaded privately, so that the two editions'
// CVeltrane never meet.
Lookup LibraryLookup() {
#if !defined(VELTRANE_EDITION_TERRAIN)
    return JNA_GetElevationInBuf;
#else
    const std::string path = sys::LoadedLibraryFolder(VT_TERRAIN_EDITION_LIBRARY) + VT_CURRENT_EDITION_LIBRARY;
    std::string error;
    void* symbol = sys::LoadSymbol(path, "JNA_GetElevationInBuf", error);
    if (symbol == nullptr)
        Fail(kExitFinding, "the elevation lookup is in " + path + ", which cannot be used: " + error);
    return reinterpret_cast<Lookup>(symbol);
#endif
}

int RunElevation(const ElevationOptions& o) {
    OpenPyramid open = OpenTiles(o, [&o](const Pyramid& p) { p.CheckTileAddress(o.level, o.col, o.row); });
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    std::string where = pyramid.Where(o.level, o.col, o.row), why;
    double minX, minY, maxX, maxY;
    pyramid.TileBounds(o.level, o.col, o.row, minX, minY, maxX, maxY);
    if (!(o.x >= minX && o.x <= maxX && o.y >= minY && o.y <= maxY))
        Fail(kExitUsage, where + ": position (" + FormatDouble(o.x) + ", " + FormatDouble(o.y) +
                             ") lies outside the tile (west " + FormatDouble(minX) + ", south " + FormatDouble(minY) +
                             ", east " + FormatDouble(maxX) + ", north " + FormatDouble(maxY) + ")");
    Bytes payload, grid;
    Pyramid::TileStatus status = pyramid.ReadTile(o.level, o.col, o.row, payload, why);
    if (status == Pyramid::TileStatus::Missing) Fail(kExitFinding, where + ": no tile is stored there");
    if (status != Pyramid::TileStatus::Ok) Fail(kExitFinding, where + ": " + why);
    if (!ElevationGridOf(kind, payload, grid, why)) Fail(kExitFinding, where + ": " + why);
    const float elevation = LibraryLookup()(grid.data(), minX, minY, maxX, maxY, o.x, o.y);
    std::printf("elevation at (%.12g, %.12g): %.2f (tile %d/%d/%d, %d x %d grid)\n", o.x, o.y, elevation, o.level,
                o.col, o.row, grid[0], grid[0]);
    return kExitOk;
}

}  // namespace

Command AddElevation(CLI::App& app) {
    auto o = std::make_shared<ElevationOptions>();
    CLI::App* sub =
        app.add_subcommand("elevation", "Print the elevation at map position X Y from a tile's elevation grid");
    AddTileOptions(sub, *o, "auto|dem|terrain");
    sub->add_option("LEVEL", o->level, "level (0 is the coarsest)")->required();
    sub->add_option("COL", o->col, "column")->required();
    sub->add_option("ROW", o->row, "row")->required();
    sub->add_option("X", o->x, "map x (east) in the file's projection")->required();
    sub->add_option("Y", o->y, "map y (north)")->required();
    Describe(sub,
             "Reads the elevation grid of the tile at LEVEL, COL, ROW (a DEM/DOM packet or a terrain payload) and "
             "prints the elevation at map position X Y, interpolated by the library's own bilinear lookup. The "
             "position must lie inside the tile.",
             {"veltrane elevation samples/dem.vtp 1 0 0 13.05 47.25"});
    return {sub, [o] { return RunElevation(*o); }};
}

}  // namespace cli
}  // namespace vt
