// veltrane elevation FILE LEVEL COL ROW X Y: the elevation at a map position,
// interpolated from the tile's elevation grid.
#include <cmath>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "Common.h"

namespace vt {
namespace cli {

namespace {

struct ElevationOptions : TileOptions {
    int level = 0, col = 0, row = 0;
    double x = 0, y = 0;
};

#if defined(VELTRANE_EDITION_TERRAIN)
// The terrain edition exports no lookup; the grid layout is the same as the
// elevation packets', so interpolate bilinearly here (edge cells clamp).
float Sample(const Bytes& grid, double minX, double minY, double maxX, double maxY, double x, double y) {
    int n = grid[0];
    auto at = [&](int r, int c) {
        r = std::min(std::max(r, 0), n - 1);
        c = std::min(std::max(c, 0), n - 1);
        float v;
        std::memcpy(&v, &grid[1 + 4 * (static_cast<size_t>(r) * n + c)], 4);
        return static_cast<double>(v);
    };
    double fx = (x - minX) / ((maxX - minX) / n), fy = (maxY - y) / ((maxY - minY) / n);
    int i = static_cast<int>(fx), j = static_cast<int>(fy);
    double wx = std::min(fx - i, 1.0), wy = std::min(fy - j, 1.0);
    double a = at(j, i) * (1 - wy) + at(j + 1, i) * wy, b = at(j, i + 1) * (1 - wy) + at(j + 1, i + 1) * wy;
    return static_cast<float>(a * (1 - wx) + b * wx);
}
#endif

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
#if defined(VELTRANE_EDITION_TERRAIN)
    float elevation = Sample(grid, minX, minY, maxX, maxY, o.x, o.y);
#else
    float elevation = JNA_GetElevationInBuf(grid.data(), minX, minY, maxX, maxY, o.x, o.y);
#endif
    std::printf("elevation at (%.12g, %.12g): %.2f (tile %d/%d/%d, %d x %d grid)\n", o.x, o.y, elevation, o.level, o.col, o.row, grid[0], grid[0]);
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
    return {sub, [o] { return RunElevation(*o); }};
}

}  // namespace cli
}  // namespace vt
