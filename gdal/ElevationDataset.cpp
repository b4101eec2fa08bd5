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

ElevationDataset::ElevationDataset(const PyramidView& view, int level)
    : LevelDataset(view, level, view.gridSide) {
    SetBand(1, new ElevationBand(this, view.gridSide));
    SetMetadataItem(GDALMD_AREA_OR_POINT, GDALMD_AOP_POINT);
}

CPLErr ElevationDataset::ReadGrid(int x, int y, float* samples) {
    const size_t count = static_cast<size_t>(view_.gridSide) * view_.gridSide;
    std::string why;
    SharedPyramid::TileStatus status = view_.file->ReadTile(level_, x, y, payload_, why);
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
        CPLError(CE_Failure, CPLE_FileIO, "%s: %s", view_.file->Where(level_, x, y).c_str(), why.c_str());
        return CE_Failure;
    }
    std::memcpy(samples, grid.data(), count * sizeof(float));
    return CE_None;
}

}  // namespace gdal
}  // namespace vt
