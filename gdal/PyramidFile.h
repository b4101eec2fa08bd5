// The pyramid file as the GDAL driver sees it: the checks that tell a pyramid
// file from any other file (the format has no magic number), and one open
// library object per file and process that every dataset of the file shares.
//
// Sharing is not an optimisation: the library opens a file exclusively, so a
// second CVeltrane on the same file fails. GDAL opens one file several times
// (a dataset and its elevation subdataset, one dataset per thread, rasterio
// and osgeo.gdal in one program); they all go through one SharedPyramid.
#ifndef VELTRANE_GDAL_PYRAMID_FILE_H
#define VELTRANE_GDAL_PYRAMID_FILE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "Veltrane.h"

namespace vt {
namespace gdal {

using Bytes = std::vector<unsigned char>;

// The header fields are what a pyramid file's header can hold: a terminated,
// printable projection text, bounds that form a rectangle, level counts, tile
// and image sizes in range, the image inside the finest level. `why` names
// the first field that is not. Needs the first 320 bytes only.
bool HeaderFieldsInRange(const PyramidHeader& header, std::string& why);

// The tile index lies inside a file of `fileSize` bytes and its first entry
// (`firstEntry`: the 12 bytes at offset 320) points inside the file.
bool IndexInsideFile(const PyramidHeader& header, std::uint64_t fileSize, const unsigned char* firstEntry,
                     std::string& why);

class SharedPyramid {
public:
    // The open file at `path`, shared with every other dataset of this
    // process that has it open. On failure returns null with the reason.
    static std::shared_ptr<SharedPyramid> Open(const std::string& path, std::string& why);
    ~SharedPyramid();
    SharedPyramid(const SharedPyramid&) = delete;
    SharedPyramid& operator=(const SharedPyramid&) = delete;

    const std::string& path() const { return path_; }
    const PyramidHeader& header() const { return header_; }
    // Georeferencing and shape as the library reports them.
    CVeltrane& library() { return reader_; }

    enum class TileStatus { Ok, Missing, Damaged };
    // Reads the payload of a tile through the library, after checking its
    // index entry against the file. Damaged: `why` says what is wrong.
    TileStatus ReadTile(int level, int x, int y, Bytes& payload, std::string& why);
    // Whether the tile has a payload (its entry has a size), without reading it.
    bool HasTile(int level, int x, int y);

    // "FILE tile L/C/R" for messages.
    std::string Where(int level, int x, int y) const;

private:
    SharedPyramid() = default;
    struct Entry {
        std::int64_t offset = 0;
        std::uint32_t size = 0;
        bool inside = false;  // the entry itself lies inside the file
    };
    Entry ReadEntry(int level, int x, int y) const;

    std::string path_;
    PyramidHeader header_{};
    std::uint64_t fileSize_ = 0;
    int fd_ = -1;  // our own descriptor, for index entries (positioned reads)
    CVeltrane reader_;
};

}  // namespace gdal
}  // namespace vt

#endif  // VELTRANE_GDAL_PYRAMID_FILE_H
