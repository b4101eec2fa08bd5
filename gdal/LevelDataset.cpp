#include <cmath>

#include "Datasets.h"

namespace vt {
namespace gdal {

LevelDataset::LevelDataset(const PyramidView& view, int level, int cellsPerTile)
    : view_(view), level_(level), pointCells_(cellsPerTile > 0) {
    const PyramidHeader& h = view.file->header();
    // Level l halves the image 2^(finest - l) times, sides rounded up.
    const int shift = h.maxLevel - 1 - level;
    const long long width = (static_cast<long long>(h.imageWidth) + (1LL << shift) - 1) >> shift;
    const long long height = (static_cast<long long>(h.imageHeight) + (1LL << shift) - 1) >> shift;
    cellX_ = std::ldexp((h.maxX - h.minX) / h.imageWidth, shift);
    cellY_ = std::ldexp((h.maxY - h.minY) / h.imageHeight, shift);
    nRasterXSize = static_cast<int>(width);
    nRasterYSize = static_cast<int>(height);
    if (pointCells_) {
        cellX_ = cellX_ * h.blockWidth / cellsPerTile;
        cellY_ = cellY_ * h.blockHeight / cellsPerTile;
        nRasterXSize = static_cast<int>((width * cellsPerTile + h.blockWidth - 1) / h.blockWidth);
        nRasterYSize = static_cast<int>((height * cellsPerTile + h.blockHeight - 1) / h.blockHeight);
    }

    char* wkt = nullptr;
    view.file->library().GetWktPrj(wkt);
    srs_.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (wkt != nullptr && *wkt != '\0' && srs_.importFromWkt(wkt) != OGRERR_NONE) {
        CPLError(CE_Warning, CPLE_AppDefined, "%s: the projection text is not WKT that GDAL reads; no SRS",
                 view.file->path().c_str());
        srs_.Clear();
    }
}

// The image's north-west corner is the origin; grid samples stand on it.
CPLErr LevelDataset::GetGeoTransform(double* t) {
    const PyramidHeader& h = view_.file->header();
    const double shift = pointCells_ ? 0.5 : 0.0;
    t[0] = h.minX - shift * cellX_;
    t[1] = cellX_;
    t[2] = 0;
    t[3] = h.maxY + shift * cellY_;
    t[4] = 0;
    t[5] = -cellY_;
    return CE_None;
}

const OGRSpatialReference* LevelDataset::GetSpatialRef() const { return srs_.IsEmpty() ? nullptr : &srs_; }

}  // namespace gdal
}  // namespace vt
