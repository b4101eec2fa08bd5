#include "PyramidWriter.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "System.h"

namespace vt {
namespace writer {

namespace {
void PutLe(std::vector<unsigned char>& out, size_t at, uint64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<unsigned char>(value >> (8 * i));
}
void PutDouble(std::vector<unsigned char>& out, size_t at, double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    PutLe(out, at, bits, 8);
}
}  // namespace

std::vector<unsigned char> SerializeHeader(const HeaderFields& f) {
    std::vector<unsigned char> out(320, 0);
    std::memcpy(out.data(), f.leadIn.data(), 8);
    if (f.terminateWkt) {
        size_t n = std::min<size_t>(f.wkt.size(), 255);
        std::memcpy(out.data() + 8, f.wkt.data(), n);
    } else {
        for (size_t i = 0; i < 256; ++i) out[8 + i] = i < f.wkt.size() ? f.wkt[i] : 'X';
    }
    PutDouble(out, 264, f.minX);
    PutDouble(out, 272, f.minY);
    PutDouble(out, 280, f.maxX);
    PutDouble(out, 288, f.maxY);
    const int32_t ints[] = {f.imageWidth, f.imageHeight, f.blockWidth, f.blockHeight, f.maxLevel, f.indexLevels};
    for (int i = 0; i < 6; ++i) PutLe(out, 296 + 4 * i, static_cast<uint32_t>(ints[i]), 4);
    return out;
}

uint64_t EntryCount(int levels) {
    uint64_t count = 0;
    for (int l = 0; l < levels; ++l) count += uint64_t{1} << (2 * l);
    return count;
}

uint64_t EntryNumber(int levels, int level, int x, int y) {
    uint64_t finer = 0;
    for (int j = level + 1; j < levels; ++j) finer += uint64_t{1} << (2 * j);
    return finer + (uint64_t{1} << level) * static_cast<uint64_t>(y) + static_cast<uint64_t>(x);
}

uint64_t EntryOffset(int levels, int level, int x, int y) { return 320 + 12 * EntryNumber(levels, level, x, y); }

PyramidWriter::PyramidWriter(const HeaderFields& fields, int indexLevelsWritten)
    : fields_(fields), levels_(indexLevelsWritten >= 0 ? indexLevelsWritten : fields.indexLevels) {
    if (levels_ < 0 || levels_ > 12) throw std::invalid_argument("index level count out of range for a writer");
}

void PyramidWriter::SetTile(int level, int x, int y, std::vector<unsigned char> payload) {
    if (level < 0 || level >= levels_ || x < 0 || y < 0 || x >= (1 << level) || y >= (1 << level))
        throw std::out_of_range("tile outside the written index");
    tiles_.emplace_back(EntryNumber(levels_, level, x, y), std::move(payload));
}

void PyramidWriter::SetRawEntry(uint64_t entryNumber, int64_t offset, uint32_t size) {
    raw_[entryNumber] = Raw{offset, size};
}

std::vector<unsigned char> PyramidWriter::Build() const {
    std::vector<unsigned char> out = SerializeHeader(fields_);
    uint64_t entries = EntryCount(levels_);
    size_t indexEnd = 320 + 12 * entries;
    out.resize(indexEnd, 0);
    for (const auto& tile : tiles_) {
        uint64_t at = 320 + 12 * tile.first;
        PutLe(out, at, out.size(), 8);
        PutLe(out, at + 8, tile.second.size(), 4);
        out.insert(out.end(), tile.second.begin(), tile.second.end());
    }
    for (const auto& raw : raw_) {
        uint64_t at = 320 + 12 * raw.first;
        if (at + 12 > out.size()) out.resize(at + 12, 0);
        PutLe(out, at, static_cast<uint64_t>(raw.second.offset), 8);
        PutLe(out, at + 8, raw.second.size, 4);
    }
    return out;
}

bool PyramidWriter::WriteFile(const std::string& path) const { return WriteBytes(path, Build()); }

bool WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::string temporary = path + ".partial";
    std::FILE* file = std::fopen(temporary.c_str(), "wb");
    if (file == nullptr) return false;
    bool ok = bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fclose(file) == 0) && ok;
    if (ok) ok = vt::sys::RenameReplacing(temporary, path);
    if (!ok) {
        const int error = errno;  // the failure's, for the caller's message
        std::remove(temporary.c_str());
        errno = error;
    }
    return ok;
}

}  // namespace writer
}  // namespace vt
