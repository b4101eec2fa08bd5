// Deterministic procedural landscape for the sample pyramids: fractal terrain
// heights over a patch of the Eastern Alps in geographic WGS 84 coordinates,
// rendered as hill-shaded, color-ramped imagery. The same inputs give the
// same bytes on every machine (integer hashing, no library randomness).
#ifndef VELTRANE_TOOLS_PAYLOADS_PROCEDURAL_H
#define VELTRANE_TOOLS_PAYLOADS_PROCEDURAL_H

#include <vector>

#include "Image.h"

namespace vt {
namespace payloads {

// Geographic WGS 84 (EPSG:4326). A full projected WKT (a UTM zone, say) runs
// to about 400 characters and does not fit the header's 255-byte field.
extern const char* const kSampleWkt;

// A north-up raster: its north-west corner, pixel size in degrees, size.
struct Area {
    double west = 13.0;
    double north = 47.3;
    double pixel = 1.0 / 3600.0;  // one arc second
    int width = 900;
    int height = 720;
    double East() const { return west + pixel * width; }
    double South() const { return north - pixel * height; }
};

// Terrain height in metres at a map position (longitude, latitude).
double TerrainHeight(double lon, double lat);

// Heights at the centres of the area's pixels, row by row from the north.
std::vector<float> HeightField(const Area& area);

// Hill-shaded, color-ramped rendering of `heights` (area.width x area.height).
// When `withNoData` is set, a strip along an irregular survey boundary in the
// south-west is left transparent (alpha 0), as orthophoto mosaics often are.
Image RenderTerrain(const Area& area, const std::vector<float>& heights, bool withNoData);

// Grey hill-shade only (for a second orthophoto of a DEM/DOM packet).
Image RenderHillshade(const Area& area, const std::vector<float>& heights);

}  // namespace payloads
}  // namespace vt

#endif  // VELTRANE_TOOLS_PAYLOADS_PROCEDURAL_H
