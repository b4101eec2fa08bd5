// The GDAL raster model of a pyramid file.
//
// ImageDataset: one level of the pyramid, cropped to the image's extent. The
// finest level is the dataset a user opens; the coarser levels are its
// overviews. A block is a tile. Bands are red, green, blue (the library hands
// out blue-green-red) and alpha when the payloads carry transparency; without
// an alpha band a dataset-wide mask marks missing tiles. Reading one block
// decodes its tile once and fills every band's block of it.
//
// ElevationDataset: the elevation grids of DEM/DOM packets, one grid a block,
// as a Float32 subdataset ("Veltrane:elevation:FILE") with a geotransform of
// its own: samples stand on the grid's points, so pixel centres sit on them.
#ifndef VELTRANE_GDAL_DATASETS_H
#define VELTRANE_GDAL_DATASETS_H

#include <memory>
#include <string>
#include <vector>

#include <gdal_pam.h>
#include <ogr_spatialref.h>

#include "PyramidFile.h"
#include "TileDecode.h"

namespace vt {
namespace gdal {

// What an open file is read as: shared by a dataset and its overviews.
struct PyramidView {
    std::shared_ptr<SharedPyramid> file;
    Kind kind = Kind::Image;
    bool alpha = false;
    int orthophoto = -1;  // -1: the first of each packet
    int gridSide = 0;     // samples per side of the elevation grids (0: none)
};

// One level of the pyramid as a GDAL dataset: what the image and the
// elevation datasets share. The finest level owns the coarser ones, its
// overviews. A dataset's cells are pixels, or grid samples that stand on the
// points of the grid (pixel centres on them, so the origin moves half a cell).
class LevelDataset : public GDALPamDataset {
public:
    CPLErr GetGeoTransform(double* transform) override;
    const OGRSpatialReference* GetSpatialRef() const override;
    int OverviewCount() const { return static_cast<int>(overviews_.size()); }

protected:
    // `cellsPerTile`: cells along a tile side (0: the tile's pixels).
    LevelDataset(const PyramidView& view, int level, int cellsPerTile);

    // The finest level of `view` with every coarser one as its overviews.
    template <class Dataset>
    static Dataset* WithOverviews(const PyramidView& view) {
        int levels = view.file->header().maxLevel;
        auto* finest = new Dataset(view, levels - 1);
        for (int level = levels - 2; level >= 0; --level) finest->overviews_.emplace_back(new Dataset(view, level));
        return finest;
    }
    LevelDataset* OverviewAt(int i) { return overviews_[static_cast<size_t>(i)].get(); }

    PyramidView view_;
    int level_;
    double cellX_, cellY_;  // cell size in map units
    bool pointCells_;
    OGRSpatialReference srs_;

private:
    std::vector<std::unique_ptr<LevelDataset>> overviews_;
};

class ImageDataset : public LevelDataset {
public:
    static ImageDataset* Create(const PyramidView& view) { return WithOverviews<ImageDataset>(view); }
    // Statistics and other data a user had GDAL keep beside the file (.aux.xml).
    void LoadAuxiliaryData() { TryLoadXML(); }

    ImageDataset* Overview(int i) { return static_cast<ImageDataset*>(OverviewAt(i)); }
    // Decodes tile (x, y) of this level into every band's block; `image` is
    // the block of the band that asked.
    CPLErr ReadTile(int x, int y, int band, void* image);
    bool HasTile(int x, int y) { return view_.file->HasTile(level_, x, y); }

protected:
    // Full-resolution byte reads decode the tiles that the window covers
    // whole straight into the caller's buffer: one copy a pixel, as a
    // stitched mosaic takes. Tiles cut by the window go through the cache.
    CPLErr IRasterIO(GDALRWFlag rw, int x, int y, int width, int height, void* data, int bufferWidth,
                     int bufferHeight, GDALDataType type, int bandCount, int* bands, GSpacing pixelSpace,
                     GSpacing lineSpace, GSpacing bandSpace, GDALRasterIOExtraArg* extra) override;

private:
    friend class LevelDataset;
    ImageDataset(const PyramidView& view, int level);
    // Reads and decodes tile (x, y) into pixels_; `missing` when it has no
    // payload. Reports a damaged tile as a GDAL error.
    CPLErr DecodeTile(int x, int y, bool& missing);
    // Where band `band` (1-4) lies in a decoded pixel; -1 for an opaque alpha.
    int ChannelOf(int band) const;
    // Copies `columns` x `rows` pixels of band `band` of the decoded tile,
    // from (tileX, tileY) inside it, to `out` with the given spacings.
    void CopyBand(int band, bool missing, int tileX, int tileY, int columns, int rows, GByte* out,
                  GSpacing pixelSpace, GSpacing lineSpace) const;
    void Deinterleave(GByte* const* out, const int* bands, int bandCount, bool missing, int tileX, int tileY,
                      int columns, int rows, GSpacing lineSpace);
    CPLErr CopyTileDirect(int tx, int ty, int left, int top, int columns, int rows, GByte* out, int bandCount,
                          const int* bands, GSpacing pixelSpace, GSpacing lineSpace, GSpacing bandSpace);
    CPLErr CopyTileCached(int tx, int ty, int left, int top, int columns, int rows, GByte* out, int bandCount,
                          const int* bands, GSpacing pixelSpace, GSpacing lineSpace, GSpacing bandSpace);

    Bytes payload_;
    TilePixels pixels_;
    Bytes spare_;  // components that no band wants
};

class ElevationDataset : public LevelDataset {
public:
    static ElevationDataset* Create(const PyramidView& view) { return WithOverviews<ElevationDataset>(view); }
    // A subdataset keeps its auxiliary data in the file's .aux.xml.
    void LoadAuxiliaryData(const std::string& path) {
        SetPhysicalFilename(path.c_str());
        SetSubdatasetName("elevation");
        TryLoadXML();
    }

    ElevationDataset* Overview(int i) { return static_cast<ElevationDataset*>(OverviewAt(i)); }
    CPLErr ReadGrid(int x, int y, float* samples);

private:
    friend class LevelDataset;
    ElevationDataset(const PyramidView& view, int level);

    Bytes payload_;
};

constexpr double kElevationNoData = -32768.0;
constexpr const char* kElevationPrefix = "Veltrane:elevation:";

}  // namespace gdal
}  // namespace vt

#endif  // VELTRANE_GDAL_DATASETS_H
