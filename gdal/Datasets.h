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

// Level geometry shared by both datasets.
struct Level {
    int level = 0;
    int width = 0, height = 0;  // the image's size at this level, in pixels
    double pixelX = 0, pixelY = 0;
    static Level Of(const PyramidHeader& header, int level);
};

class ImageDataset : public GDALPamDataset {
public:
    // The finest level with every coarser one as its overviews.
    static ImageDataset* Create(const PyramidView& view);

    CPLErr GetGeoTransform(double* transform) override;
    const OGRSpatialReference* GetSpatialRef() const override;
    // Statistics and other data a user had GDAL keep beside the file (.aux.xml).
    void LoadAuxiliaryData() { TryLoadXML(); }

    int OverviewCount() const { return static_cast<int>(overviews_.size()); }
    ImageDataset* Overview(int i) { return overviews_[static_cast<size_t>(i)].get(); }
    // Decodes tile (x, y) of this level into every band's block; `image` is
    // the block of the band that asked.
    CPLErr ReadTile(int x, int y, int band, void* image);
    bool HasTile(int x, int y) { return view_.file->HasTile(level_.level, x, y); }

protected:
    // Full-resolution byte reads decode the tiles that the window covers
    // whole straight into the caller's buffer: one copy a pixel, as a
    // stitched mosaic takes. Tiles cut by the window go through the cache.
    CPLErr IRasterIO(GDALRWFlag rw, int x, int y, int width, int height, void* data, int bufferWidth,
                     int bufferHeight, GDALDataType type, int bandCount, int* bands, GSpacing pixelSpace,
                     GSpacing lineSpace, GSpacing bandSpace, GDALRasterIOExtraArg* extra) override;

private:
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

    PyramidView view_;
    Level level_;
    OGRSpatialReference srs_;
    std::vector<std::unique_ptr<ImageDataset>> overviews_;
    Bytes payload_;
    TilePixels pixels_;
    Bytes spare_;  // components that no band wants
};

class ElevationDataset : public GDALPamDataset {
public:
    static ElevationDataset* Create(const PyramidView& view);

    CPLErr GetGeoTransform(double* transform) override;
    const OGRSpatialReference* GetSpatialRef() const override;
    // A subdataset keeps its auxiliary data in the file's .aux.xml.
    void LoadAuxiliaryData(const std::string& path) {
        SetPhysicalFilename(path.c_str());
        SetSubdatasetName("elevation");
        TryLoadXML();
    }

    int OverviewCount() const { return static_cast<int>(overviews_.size()); }
    ElevationDataset* Overview(int i) { return overviews_[static_cast<size_t>(i)].get(); }
    CPLErr ReadGrid(int x, int y, float* samples);

private:
    ElevationDataset(const PyramidView& view, int level);

    PyramidView view_;
    Level level_;
    OGRSpatialReference srs_;
    std::vector<std::unique_ptr<ElevationDataset>> overviews_;
    Bytes payload_;
};

constexpr double kElevationNoData = -32768.0;
constexpr const char* kElevationPrefix = "Veltrane:elevation:";

// The projection of the file as a spatial reference (empty when it has none).
void LoadSpatialReference(SharedPyramid& file, OGRSpatialReference& srs);

}  // namespace gdal
}  // namespace vt

#endif  // VELTRANE_GDAL_DATASETS_H
