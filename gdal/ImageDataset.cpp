#include <algorithm>
#include <cmath>
#include <cstring>

#include "Datasets.h"
#include "SwapRedBlue.h"

namespace vt {
namespace gdal {

namespace {

// Color of band 1..4: red, green, blue, alpha.
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

ImageDataset::ImageDataset(const PyramidView& view, int level) : LevelDataset(view, level, 0) {
    const PyramidHeader& h = view.file->header();
    int bands = view.alpha ? 4 : 3;
    TileMaskBand* mask = view.alpha ? nullptr : new TileMaskBand(this, h.blockWidth, h.blockHeight);
    for (int b = 1; b <= bands; ++b) SetBand(b, new ImageBand(this, b, h.blockWidth, h.blockHeight, mask));
    SetMetadataItem("INTERLEAVE", "PIXEL", "IMAGE_STRUCTURE");
}

CPLErr ImageDataset::DecodeTile(int x, int y, bool& missing) {
    const PyramidHeader& h = view_.file->header();
    std::string why;
    SharedPyramid::TileStatus status = view_.file->ReadTile(level_, x, y, payload_, why);
    missing = status == SharedPyramid::TileStatus::Missing;
    if (status == SharedPyramid::TileStatus::Damaged ||
        (status == SharedPyramid::TileStatus::Ok &&
         !DecodeTilePixels(view_.file->library(), view_.kind, payload_, h.blockWidth, h.blockHeight,
                           view_.orthophoto, pixels_, why))) {
        CPLError(CE_Failure, CPLE_FileIO, "%s: %s", view_.file->Where(level_, x, y).c_str(), why.c_str());
        return CE_Failure;
    }
    return CE_None;
}

int ImageDataset::ChannelOf(int band) const {
    return band == 1 ? pixels_.red : band == 2 ? pixels_.green : band == 3 ? pixels_.blue : pixels_.alpha;
}

void ImageDataset::CopyBand(int band, bool missing, int tileX, int tileY, int columns, int rows, GByte* out,
                            GSpacing pixelSpace, GSpacing lineSpace) const {
    const int channel = ChannelOf(band);
    const int tileWidth = view_.file->header().blockWidth, step = pixels_.step;
    for (int r = 0; r < rows; ++r, out += lineSpace) {
        GByte* o = out;
        if (missing || channel < 0) {
            const GByte value = missing ? 0 : 255;  // no tile: transparent black; no alpha plane: opaque
            for (int c = 0; c < columns; ++c, o += pixelSpace) *o = value;
            continue;
        }
        const GByte* in = pixels_.data.data() + (static_cast<size_t>(tileY + r) * tileWidth + tileX) * step + channel;
        for (int c = 0; c < columns; ++c, o += pixelSpace, in += step) *o = *in;
    }
}

// Where a tile's pixels go for the bands in `out` (null: not wanted): one
// pass of GDAL's deinterleaving over the decoded pixels. A color the pixels
// lack is filled in; a component no band wants goes to `spare`.
void ImageDataset::Deinterleave(GByte* const* out, const int* bands, int bandCount, bool missing, int tileX,
                                int tileY, int columns, int rows, GSpacing lineSpace) {
    const int tileWidth = view_.file->header().blockWidth, step = pixels_.step;
    spare_.resize(static_cast<size_t>(columns));
    for (int r = 0; r < rows; ++r) {
        void* component[4] = {spare_.data(), spare_.data(), spare_.data(), spare_.data()};
        for (int i = 0; i < bandCount; ++i) {
            if (out[i] == nullptr) continue;
            GByte* line = out[i] + r * lineSpace;
            const int channel = ChannelOf(bands[i]);
            if (missing || channel < 0)
                std::memset(line, missing ? 0 : 255, static_cast<size_t>(columns));  // no tile; no alpha plane
            else
                component[channel] = line;
        }
        if (!missing)
            GDALDeinterleave(pixels_.data.data() + (static_cast<size_t>(tileY + r) * tileWidth + tileX) * step,
                             GDT_Byte, step, component, GDT_Byte, static_cast<size_t>(columns));
    }
}

CPLErr ImageDataset::ReadTile(int x, int y, int band, void* image) {
    const PyramidHeader& h = view_.file->header();
    bool missing = false;
    if (DecodeTile(x, y, missing) != CE_None) return CE_Failure;
    // The other bands' blocks of this tile go into the cache now, unless
    // they are there already.
    int bands[4] = {1, 2, 3, 4};
    GByte* out[4] = {nullptr, nullptr, nullptr, nullptr};
    GDALRasterBlock* blocks[4] = {nullptr, nullptr, nullptr, nullptr};
    for (int b = 1; b <= nBands; ++b) {
        if (b == band) {
            out[b - 1] = static_cast<GByte*>(image);
            continue;
        }
        GDALRasterBlock* cached = GetRasterBand(b)->TryGetLockedBlockRef(x, y);
        if (cached != nullptr) {
            cached->DropLock();
            continue;
        }
        blocks[b - 1] = GetRasterBand(b)->GetLockedBlockRef(x, y, TRUE);
        if (blocks[b - 1] != nullptr) out[b - 1] = static_cast<GByte*>(blocks[b - 1]->GetDataRef());
    }
    Deinterleave(out, bands, nBands, missing, 0, 0, h.blockWidth, h.blockHeight, h.blockWidth);
    for (GDALRasterBlock* block : blocks)
        if (block != nullptr) block->DropLock();
    return CE_None;
}

CPLErr ImageDataset::CopyTileDirect(int tx, int ty, int left, int top, int columns, int rows, GByte* out,
                                    int bandCount, const int* bands, GSpacing pixelSpace, GSpacing lineSpace,
                                    GSpacing bandSpace) {
    const PyramidHeader& h = view_.file->header();
    bool missing = false;
    if (DecodeTile(tx, ty, missing) != CE_None) return CE_Failure;
    const int tileX = left - tx * h.blockWidth, tileY = top - ty * h.blockHeight;
    const int step = pixels_.step;
    // Pixel-interleaved red, green, blue (and alpha) from blue-green-red
    // (and alpha) pixels: one swapping pass.
    bool swap = !missing && bandCount == step && pixelSpace == step && bandSpace == 1 && pixels_.red == 2 &&
                pixels_.green == 1 && pixels_.blue == 0;
    for (int i = 0; i < bandCount && swap; ++i) swap = bands[i] == i + 1;
    if (swap) {
        const GByte* in = pixels_.data.data() + (static_cast<size_t>(tileY) * h.blockWidth + tileX) * step;
        for (int r = 0; r < rows; ++r, in += static_cast<size_t>(h.blockWidth) * step, out += lineSpace)
            SwapRedBlue(in, out, static_cast<size_t>(columns), step);
        return CE_None;
    }
    // One plane a band.
    if (pixelSpace == 1) {
        GByte* planes[4];
        for (int i = 0; i < bandCount && i < 4; ++i) planes[i] = out + i * bandSpace;
        if (bandCount <= 4) {
            Deinterleave(planes, bands, bandCount, missing, tileX, tileY, columns, rows, lineSpace);
            return CE_None;
        }
    }
    for (int i = 0; i < bandCount; ++i)
        CopyBand(bands[i], missing, tileX, tileY, columns, rows, out + i * bandSpace, pixelSpace, lineSpace);
    return CE_None;
}

CPLErr ImageDataset::CopyTileCached(int tx, int ty, int left, int top, int columns, int rows, GByte* out,
                                    int bandCount, const int* bands, GSpacing pixelSpace, GSpacing lineSpace,
                                    GSpacing bandSpace) {
    const PyramidHeader& h = view_.file->header();
    for (int i = 0; i < bandCount; ++i) {
        GDALRasterBlock* block = GetRasterBand(bands[i])->GetLockedBlockRef(tx, ty);
        if (block == nullptr) return CE_Failure;
        const GByte* in = static_cast<const GByte*>(block->GetDataRef()) +
                          static_cast<size_t>(top - ty * h.blockHeight) * h.blockWidth + (left - tx * h.blockWidth);
        GByte* line = out + i * bandSpace;
        for (int r = 0; r < rows; ++r, line += lineSpace, in += h.blockWidth) {
            GByte* o = line;
            for (int c = 0; c < columns; ++c, o += pixelSpace) *o = in[c];
        }
        block->DropLock();
    }
    return CE_None;
}

CPLErr ImageDataset::IRasterIO(GDALRWFlag rw, int x, int y, int width, int height, void* data, int bufferWidth,
                               int bufferHeight, GDALDataType type, int bandCount, int* bands, GSpacing pixelSpace,
                               GSpacing lineSpace, GSpacing bandSpace, GDALRasterIOExtraArg* extra) {
    if (rw != GF_Read || bufferWidth != width || bufferHeight != height || type != GDT_Byte)
        return GDALPamDataset::IRasterIO(rw, x, y, width, height, data, bufferWidth, bufferHeight, type, bandCount,
                                         bands, pixelSpace, lineSpace, bandSpace, extra);
    const int tw = view_.file->header().blockWidth, th = view_.file->header().blockHeight;
    const int lastRow = (y + height - 1) / th, lastColumn = (x + width - 1) / tw;
    for (int ty = y / th; ty <= lastRow; ++ty) {
        const int top = std::max(y, ty * th), bottom = std::min(y + height, (ty + 1) * th);
        const bool wholeRows = top == ty * th && bottom == std::min((ty + 1) * th, nRasterYSize);
        for (int tx = x / tw; tx <= lastColumn; ++tx) {
            const int left = std::max(x, tx * tw), right = std::min(x + width, (tx + 1) * tw);
            const bool whole = wholeRows && left == tx * tw && right == std::min((tx + 1) * tw, nRasterXSize);
            GByte* out = static_cast<GByte*>(data) + (top - y) * lineSpace + (left - x) * pixelSpace;
            CPLErr err = whole ? CopyTileDirect(tx, ty, left, top, right - left, bottom - top, out, bandCount, bands,
                                                pixelSpace, lineSpace, bandSpace)
                               : CopyTileCached(tx, ty, left, top, right - left, bottom - top, out, bandCount, bands,
                                                pixelSpace, lineSpace, bandSpace);
            if (err != CE_None) return err;
        }
        if (extra != nullptr && extra->pfnProgress != nullptr &&
            !extra->pfnProgress(static_cast<double>(bottom - y) / height, "", extra->pProgressData)) {
            CPLError(CE_Failure, CPLE_UserInterrupt, "User terminated");
            return CE_Failure;
        }
    }
    return CE_None;
}

}  // namespace gdal
}  // namespace vt
