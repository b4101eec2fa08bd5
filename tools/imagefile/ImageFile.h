// Image files of the command-line tool: the images `build` reads and the
// PNG and GeoTIFF files `mosaic` and `extract` write, with where they lie on
// the map.
//
// Two implementations stand behind this one interface, chosen when the tool
// is built: GDAL's (every raster format GDAL reads, with its georeferencing
// and coordinate system; PNG and GeoTIFF out) where the build has GDAL, and a
// small one over libpng and libjpeg (PNG and JPEG in, without
// georeferencing; PNG out) where it does not.
#ifndef VELTRANE_TOOLS_IMAGEFILE_IMAGE_FILE_H
#define VELTRANE_TOOLS_IMAGEFILE_IMAGE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

#include "Image.h"

namespace vt {
namespace imagefile {

using Bytes = std::vector<std::uint8_t>;

// Where an image lies on the map, north up: the outer corner of its
// top-left pixel and the pixel size (both positive) in map units.
struct Placement {
    double west = 0, north = 0;
    double pixelX = 0, pixelY = 0;
};

// The georeferencing an image file carries.
struct Georeferencing {
    bool placed = false;   // `placement` holds the file's
    bool rotated = false;  // the file's placement is rotated or south up: no Placement holds it
    Placement placement;
    // The file's coordinate system as text, in each form it can be written
    // in, most complete first (WKT1 with authority codes, WKT1 without
    // them, ESRI WKT); empty when the file names none.
    std::vector<std::string> wktForms;
};

// Which implementation this build has: "GDAL 3.6.2", "libpng and libjpeg".
std::string Implementation();

// Reads an image with its georeferencing. Alpha (an alpha band, or the
// file's mask of pixels without data) is kept. On failure returns false and
// a one-line reason.
bool ReadImage(const std::string& path, payloads::Image& image, Georeferencing& georeferencing,
               std::string& error);

enum class Format { Png, GeoTiff };
// Whether this build writes `format`.
bool Writes(Format format);

// Encodes an RGBA image (alpha kept). A GeoTIFF carries `placement` (when
// not null) and the coordinate system `wkt` (when not empty) inside itself;
// a PNG carries neither: its side files do (below).
bool EncodeImage(Format format, const payloads::Image& image, const Placement* placement, const std::string& wkt,
                 Bytes& out, std::string& error);

// The side files that place a PNG on the map for GIS programs, written the
// same by either implementation:
// the world file (.pgw): pixel size across, two rotation terms, pixel size
// down (negative: rows run south), then the centre of the top-left pixel;
std::string WorldFileText(const Placement& placement);
// GDAL's auxiliary file (NAME.png.aux.xml), where GDAL and QGIS look for
// the coordinate system of a PNG.
std::string AuxiliaryXmlText(const std::string& wkt);

}  // namespace imagefile
}  // namespace vt

#endif  // VELTRANE_TOOLS_IMAGEFILE_IMAGE_FILE_H
