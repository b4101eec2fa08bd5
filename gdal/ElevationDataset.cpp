#include <algorithm>
#include <cstring>

#include "Datasets.h"

namespace vt {
namespace gdal {

namespace {

class ElevationBand : public GDALPamRasterBand {
public:
    ElevationBand(ElevationDataset* dataset, int gridSide) : dataset_(dataset) {
        poDS = dataset;
        nBand = 1;
        eDataType = GDT_Float32;
        nBlockXSize = nBlockYSize = gridSide;
    }

    CPLErr IReadBlock(int x, int y, void* image) override {
        return dataset_->ReadGrid(x, y, static_cast<float*>(image));
    }
    double GetNoDataValue(int* success) override {
        if (success != nullptr) *success = TRUE;
        return kElevationNoData;
    }
    int GetOverviewCount() override { return dataset_->OverviewCount(); }
    GDALRasterBand* GetOverview(int i) override {
        if (i < 0 || i >= dataset_->OverviewCount()) return nullptr;
        return dataset_->Overview(i)->GetRasterBand(1);
    }

private:
    ElevationDataset* dataset_;
};

}  // namespace

ElevationDataset::ElevationDataset(const PyramidView& view, int level) : view_(view) {
    const PyramidHeader& h = view.file->header();
    level_ = Level::Of(h, level);
    // The image's pixels cut into grid samples: gridSide samples a tile side.
    const long long n = view.gridSide;
    nRasterXSize = static_cast<int>((level_.width * n + h.blockWidth - 1) / h.blockWidth);
    nRasterYSize = static_cast<int>((level_.height * n + h.blockHeight - 1) / h.blockHeight);
    LoadSpatialReference(*view.file, srs_);
    SetBand(1, new ElevationBand(this, view.gridSide));
    SetMetadataItem(GDALMD_AREA_OR_POINT, GDALMD_AOP_POINT);
}

ElevationDataset* ElevationDataset::Create(const PyramidView& view) {
    int levels = view.file->header().maxLevel;
    auto* finest = new ElevationDataset(view, levels - 1);
    for (int level = levels - 2; level >= 0; --level)
        finest->overviews_.emplace_back(new ElevationDataset(view, level));
    return finest;
}

// Sample (r, c) of a tile stands at its north-west corner plus c spacings east
// and r spacings south; a pixel centred on it starts half a spacing earlier.
CPLErr ElevationDataset::GetGeoTransform(double* t) {
    const PyramidHeader& h = view_.file->header();
    double spacingX = level_.pixelX * h.blockWidth / view_.gridSide;
    double spacingY = level_.pixelY * h.blockHeight / view_.gridSide;
    t[0] = h.minX - spacingX / 2;
    t[1] = spacingX;
    t[2] = 0;
    t[3] = h.maxY + spacingY / 2;
    t[4] = 0;
    t[5] = -spacingY;
    return CE_None;
}

const OGRSpatialReference* ElevationDataset::GetSpatialRef() const { return srs_.IsEmpty() ? nullptr : &srs_; }

CPLErr ElevationDataset::ReadGrid(int x, int y, float* samples) {
    const size_t count = static_cast<size_t>(view_.gridSide) * view_.gridSide;
    std::string why;
    SharedPyramid::TileStatus status = view_.file->ReadTile(level_.level, x, y, payload_, why);
    std::vector<float> grid;
    int n = 0;
    // Packets without a grid may sit among those with one: no elevation there.
    if (status == SharedPyramid::TileStatus::Missing ||
        (status == SharedPyramid::TileStatus::Ok &&
         CVeltrane::GetDEMBufferSize(payload_.data(), static_cast<unsigned long>(payload_.size())) == 0)) {
        std::fill(samples, samples + count, static_cast<float>(kElevationNoData));
        return CE_None;
    }
    bool decoded = status == SharedPyramid::TileStatus::Ok && DecodeElevationGrid(payload_, grid, n, why);
    if (decoded && n != view_.gridSide) {
        why = "its elevation grid has " + std::to_string(n) + " x " + std::to_string(n) + " samples, the file's " +
              std::to_string(view_.gridSide) + " x " + std::to_string(view_.gridSide);
        decoded = false;
    }
    if (!decoded) {
        CPLError(CE_Failure, CPLE_FileIO, "%s: %s", view_.file->Where(level_.level, x, y).c_str(), why.c_str());
        return CE_Failure;
    }
    std::memcpy(samples, grid.data(), count * sizeof(float));
    return CE_None;
}

}  // namespace gdal
}  // namespace vt
