// Tile payloads turned into what the GDAL driver hands out: the pixels of an
// image tile or orthophoto, and elevation grids. Everything goes through the
// library's public decode members; these functions only choose the member,
// size its destination from what the library reports, and check that the
// result is a tile of the file.
#ifndef VELTRANE_GDAL_TILE_DECODE_H
#define VELTRANE_GDAL_TILE_DECODE_H

#include <string>
#include <vector>

#include "PayloadKind.h"
#include "PyramidFile.h"

namespace vt {
namespace gdal {

// What the payloads of a file are; the file does not record it. The tool's
// guess (tools/kind) tells it when the user does not; terrain payloads are
// for the terrain edition, which the driver does not load.
using kind::Kind;

// A decoded tile: `step` bytes a pixel, interleaved, rows top to bottom, and
// where in a pixel each color lies (alpha -1: opaque).
struct TilePixels {
    Bytes data;
    int step = 3;
    int red = 2, green = 1, blue = 0, alpha = -1;
};

// Decodes a payload of `kind` into a width x height tile. `orthophoto` picks
// the orthophoto of DEM/DOM packets (-1: the first). False with the reason
// when the payload is not such a tile.
bool DecodeTilePixels(CVeltrane& library, Kind kind, Bytes& payload, int width, int height, int orthophoto,
                      TilePixels& pixels, std::string& why);

// Whether a payload of `kind` carries transparency (an alpha plane, DXT5).
bool PayloadHasAlpha(CVeltrane& library, Kind kind, Bytes& payload);

// The elevation grid of a DEM/DOM packet: n x n samples, row 0 north.
bool DecodeElevationGrid(Bytes& payload, std::vector<float>& samples, int& n, std::string& why);

}  // namespace gdal
}  // namespace vt

#endif  // VELTRANE_GDAL_TILE_DECODE_H
