// Pyramid files for the tile reading tests: headers of a chosen depth, and
// payloads whose bytes tell which tile they belong to.
#ifndef VELTRANE_TESTS_READER_TILEPYRAMIDS_H
#define VELTRANE_TESTS_READER_TILEPYRAMIDS_H

#include <cstddef>
#include <vector>

#include "PyramidWriter.h"

namespace vt {
namespace test {

inline vt::writer::HeaderFields Fields(int maxLevel, int indexLevels) {
    vt::writer::HeaderFields f;
    f.wkt = "LOCAL_CS[\"test\"]";
    f.maxX = f.maxY = 1024;
    f.imageWidth = f.imageHeight = maxLevel <= 1 ? 256 : maxLevel <= 9 ? 256 << (maxLevel - 1) : 65536;
    f.maxLevel = maxLevel;
    f.indexLevels = indexLevels;
    return f;
}

// A payload whose length and bytes depend on its tile.
inline std::vector<unsigned char> TilePayload(int level, int x, int y) {
    std::vector<unsigned char> p(10 + level * 7 + x * 3 + y);
    for (std::size_t i = 0; i < p.size(); ++i) p[i] = static_cast<unsigned char>(level * 64 + x * 8 + y + i * 13);
    return p;
}

// Every tile of a `levels`-level pyramid present.
inline vt::writer::PyramidWriter FullPyramid(int levels) {
    vt::writer::PyramidWriter w(Fields(levels, levels));
    for (int l = 0; l < levels; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) w.SetTile(l, x, y, TilePayload(l, x, y));
    return w;
}

inline void PutLe(std::vector<unsigned char>& bytes, std::size_t at, unsigned long long value, int n) {
    for (int i = 0; i < n; ++i) bytes[at + i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace test
}  // namespace vt

#endif  // VELTRANE_TESTS_READER_TILEPYRAMIDS_H
