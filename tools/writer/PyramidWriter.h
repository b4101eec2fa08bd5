// Writes tile pyramid files: the 320-byte header, a tile index for a chosen
// number of levels, and payloads. Meant for tests, benchmarks and the
// command-line tool; it can also write deliberately odd files (a level count
// for the index other than maxLevel, raw index entries, a projection text
// that fills its field without a terminator).
#ifndef VELTRANE_TOOLS_PYRAMID_WRITER_H
#define VELTRANE_TOOLS_PYRAMID_WRITER_H

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace vt {
namespace writer {

struct HeaderFields {
    std::array<unsigned char, 8> leadIn{};
    std::string wkt;            // at most 255 bytes are kept, NUL-terminated
    bool terminateWkt = true;   // false: copy 256 bytes of wkt with no NUL
    double minX = 0, minY = 0, maxX = 0, maxY = 0;
    int32_t imageWidth = 0, imageHeight = 0;
    int32_t blockWidth = 256, blockHeight = 256;
    int32_t maxLevel = 1;
    int32_t indexLevels = 1;
};

// The 320 header bytes for `fields`.
std::vector<unsigned char> SerializeHeader(const HeaderFields& fields);

// Number of the index entry of tile (level, x, y) in an index of `levels`
// levels, finest first; and the file offset of that entry.
uint64_t EntryNumber(int levels, int level, int x, int y);
uint64_t EntryOffset(int levels, int level, int x, int y);
// Entries in a whole index of `levels` levels: (4^levels - 1) / 3.
uint64_t EntryCount(int levels);

class PyramidWriter {
public:
    // `indexLevelsWritten` is how many levels the written index holds; by
    // default the header's indexLevels.
    explicit PyramidWriter(const HeaderFields& fields, int indexLevelsWritten = -1);

    // Stores a payload for a tile; its entry points at it.
    void SetTile(int level, int x, int y, std::vector<unsigned char> payload);
    // Overrides an index entry with raw values (offset and size as stored).
    void SetRawEntry(uint64_t entryNumber, int64_t offset, uint32_t size);

    // The whole file: header, index, payloads in the order they were set.
    std::vector<unsigned char> Build() const;
    // Writes Build() to `path` through a temporary file and a rename.
    bool WriteFile(const std::string& path) const;

    const HeaderFields& fields() const { return fields_; }
    int indexLevels() const { return levels_; }

private:
    struct Raw {
        int64_t offset;
        uint32_t size;
    };
    HeaderFields fields_;
    int levels_;
    std::vector<std::pair<uint64_t, std::vector<unsigned char>>> tiles_;  // entry, payload
    std::map<uint64_t, Raw> raw_;
};

// Writes bytes to a file through a temporary name and a rename: the file
// appears whole or not at all. False on any error, with errno saying why.
bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes);

}  // namespace writer
}  // namespace vt

#endif  // VELTRANE_TOOLS_PYRAMID_WRITER_H
