#include <cmath>
#include <cstring>

#include "Datasets.h"

namespace vt {
namespace gdal {

namespace {

// Colour of band 1..4: red, green, blue, alpha.
const GDALColorInterp kInterpretation[4] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};

// Marks the tiles that have a payload: 255 there, 0 where the file has none.
class TileMaskBand : public GDALRasterBand {
public:
    TileMaskBand(ImageDataset* dataset, int tileWidth, int tileHeight) : dataset_(dataset) {
        poDS = dataset;
        nBand = 0;
        nRasterXSize = dataset->GetRasterXSize();
        nRasterYSize = dataset->GetRasterYSize();
        eDataType = GDT_Byte;
        nBlockXSize = tileWidth;
        nBlockYSize = tileHeight;
    }

    CPLErr IReadBlock(int x, int y, void* image) override {
        std::memset(image, dataset_->HasTile(x, y) ? 255 : 0, static_cast<size_t>(nBlockXSize) * nBlockYSize);
        return CE_None;
    }
    int GetOverviewCount() override { return dataset_->OverviewCount(); }
    GDALRasterBand* GetOverview(int i) override {
        if (i < 0 || i >= dataset_->OverviewCount()) return nullptr;
        return dataset_->Overview(i)->GetRasterBand(1)->GetMaskBand();
    }

private:
    ImageDataset* dataset_;
};

class ImageBand : public GDALPamRasterBand {
public:
    // `mask`: the dataset's mask of missing tiles, owned by band 1; null when
    // the dataset has an alpha band (GDAL then derives the mask from it).
    ImageBand(ImageDataset* dataset, int band, int tileWidth, int tileHeight, TileMaskBand* mask)
        : dataset_(dataset) {
        poDS = dataset;
        nBand = band;
        eDataType = GDT_Byte;
        nBlockXSize = tileWidth;
        nBlockYSize = tileHeight;
        if (mask != nullptr) {
            poMask = mask;
            bOwnMask = band == 1;
            nMaskFlags = GMF_PER_DATASET;
        }
    }

    CPLErr IReadBlock(int x, int y, void* image) override { return dataset_->ReadTile(x, y, nBand, image); }
    GDALColorInterp GetColorInterpretation() override { return kInterpretation[nBand - 1]; }
    int GetOverviewCount() override { return dataset_->OverviewCount(); }
    GDALRasterBand* GetOverview(int i) override {
        if (i < 0 || i >= dataset_->OverviewCount()) return nullptr;
        return dataset_->Overview(i)->GetRasterBand(nBand);
    }

private:
    ImageDataset* dataset_;
};

}  // namespace

Level Level::Of(const PyramidHeader& h, int level) {
    Level l;
    l.level = level;
    int shift = h.maxLevel - 1 - level;
    l.width = static_cast<int>((static_cast<long long>(h.imageWidth) + (1LL << shift) - 1) >> shift);
    l.height = static_cast<int>((static_cast<long long>(h.imageHeight) + (1LL << shift) - 1) >> shift);
    l.pixelX = std::ldexp((h.maxX - h.minX) / h.imageWidth, shift);
    l.pixelY = std::ldexp((h.maxY - h.minY) / h.imageHeight, shift);
    return l;
}

void LoadSpatialReference(SharedPyramid& file, OGRSpatialReference& srs) {
    char* wkt = nullptr;
    file.library().GetWktPrj(wkt);
    srs.SetAxisMappingStrategy(OAMS_TRADITIONAL_GIS_ORDER);
    if (wkt == nullptr || *wkt == '\0') return;
    if (srs.importFromWkt(wkt) != OGRERR_NONE) {
        CPLError(CE_Warning, CPLE_AppDefined, "%s: the projection text is not WKT that GDAL reads; no SRS",
                 file.path().c_str());
        srs.Clear();
    }
}

ImageDataset::ImageDataset(const PyramidView& view, int level) : view_(view) {
    const PyramidHeader& h = view.file->header();
    level_ = Level::Of(h, level);
    nRasterXSize = level_.width;
    nRasterYSize = level_.height;
    LoadSpatialReference(*view.file, srs_);
    int bands = view.alpha ? 4 : 3;
    TileMaskBand* mask = view.alpha ? nullptr : new TileMaskBand(this, h.blockWidth, h.blockHeight);
    for (int b = 1; b <= bands; ++b) SetBand(b, new ImageBand(this, b, h.blockWidth, h.blockHeight, mask));
    SetMetadataItem("INTERLEAVE", "PIXEL", "IMAGE_STRUCTURE");
}

ImageDataset* ImageDataset::Create(const PyramidView& view) {
    int levels = view.file->header().maxLevel;
    auto* finest = new ImageDataset(view, levels - 1);
    for (int level = levels - 2; level >= 0; --level)
        finest->overviews_.emplace_back(new ImageDataset(view, level));
    return finest;
}

CPLErr ImageDataset::GetGeoTransform(double* t) {
    const PyramidHeader& h = view_.file->header();
    t[0] = h.minX;
    t[1] = level_.pixelX;
    t[2] = 0;
    t[3] = h.maxY;
    t[4] = 0;
    t[5] = -level_.pixelY;
    return CE_None;
}

const OGRSpatialReference* ImageDataset::GetSpatialRef() const { return srs_.IsEmpty() ? nullptr : &srs_; }

CPLErr ImageDataset::ReadTile(int x, int y, int band, void* image) {
    const PyramidHeader& h = view_.file->header();
    const size_t count = static_cast<size_t>(h.blockWidth) * h.blockHeight;
    std::string why;
    SharedPyramid::TileStatus status = view_.file->ReadTile(level_.level, x, y, payload_, why);
    if (status == SharedPyramid::TileStatus::Damaged ||
        (status == SharedPyramid::TileStatus::Ok &&
         !DecodeTilePixels(view_.file->library(), view_.kind, payload_, h.blockWidth, h.blockHeight,
                           view_.orthophoto, pixels_, why))) {
        CPLError(CE_Failure, CPLE_FileIO, "%s: %s", view_.file->Where(level_.level, x, y).c_str(), why.c_str());
        return CE_Failure;
    }
    const bool missing = status == SharedPyramid::TileStatus::Missing;
    for (int b = 1; b <= nBands; ++b) {
        // The other bands' blocks of this tile go into the cache now, unless
        // they are there already.
        GDALRasterBlock* block = nullptr;
        GByte* out = static_cast<GByte*>(image);
        if (b != band) {
            block = GetRasterBand(b)->TryGetLockedBlockRef(x, y);
            if (block != nullptr) {
                block->DropLock();
                continue;
            }
            block = GetRasterBand(b)->GetLockedBlockRef(x, y, TRUE);
            if (block == nullptr) continue;
            out = static_cast<GByte*>(block->GetDataRef());
        }
        const int channel = b == 1 ? pixels_.red : b == 2 ? pixels_.green : b == 3 ? pixels_.blue : pixels_.alpha;
        if (missing) {
            std::memset(out, 0, count);  // no tile: black, transparent
        } else if (channel < 0) {
            std::memset(out, 255, count);  // an opaque tile in a file with alpha
        } else {
            const GByte* in = pixels_.data.data() + channel;
            const int step = pixels_.step;
            for (size_t i = 0; i < count; ++i, in += step) out[i] = *in;
        }
        if (block != nullptr) block->DropLock();
    }
    return CE_None;
}

}  // namespace gdal
}  // namespace vt
