#include "PyramidFile.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "PyramidWriter.h"

namespace vt {
namespace gdal {

namespace {

// 4^20 index entries already make a 13 TB index; no real file is deeper.
constexpr int kMaxLevels = 20;
constexpr int kMaxTileSide = 8192;

std::uint64_t IndexEnd(int levels) { return 320 + 4 * ((std::uint64_t{1} << (2 * levels)) - 1); }

std::uint32_t LoadU32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

std::int64_t LoadI64(const unsigned char* p) {
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<std::int64_t>(v);
}

// WKT is printable ASCII (line breaks allowed). An empty projection is only
// taken from a field that is empty throughout, so that a run of binary
// bytes starting with a zero does not pass for one.
bool ProjectionTextOk(const char* field, std::size_t size, std::string& why) {
    const unsigned char* p = reinterpret_cast<const unsigned char*>(field);
    const void* end = std::memchr(p, 0, size);
    if (end == nullptr) {
        why = "the projection text is not terminated within its 256 bytes";
        return false;
    }
    std::size_t length = static_cast<const unsigned char*>(end) - p;
    for (std::size_t i = 0; i < length; ++i)
        if ((p[i] < 0x20 || p[i] > 0x7E) && p[i] != '\t' && p[i] != '\n' && p[i] != '\r') {
            why = "the projection text holds a byte that is not text";
            return false;
        }
    if (length == 0)
        for (std::size_t i = 0; i < size; ++i)
            if (p[i] != 0) {
                why = "the projection text is empty but its field is not";
                return false;
            }
    return true;
}

bool EntryInside(std::int64_t offset, std::uint32_t size, std::uint64_t fileSize) {
    return size == 0 || (offset >= 0 && static_cast<std::uint64_t>(offset) + size <= fileSize);
}

bool PreadAll(int fd, void* out, std::size_t size, std::uint64_t offset) {
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = ::pread(fd, static_cast<char*>(out) + done, size - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// Open files by device and inode, so that two spellings of one path share.
// An entry leaves the registry when its file is closed, under the lock.
std::recursive_mutex g_registryLock;
using FileKey = std::pair<dev_t, ino_t>;
std::map<FileKey, std::weak_ptr<SharedPyramid>>& Registry() {
    static auto* registry = new std::map<FileKey, std::weak_ptr<SharedPyramid>>;
    return *registry;
}

}  // namespace

bool HeaderFieldsInRange(const PyramidHeader& h, std::string& why) {
    if (!ProjectionTextOk(h.wktPrj, sizeof h.wktPrj, why)) return false;
    if (!std::isfinite(h.minX) || !std::isfinite(h.maxX) || !std::isfinite(h.minY) || !std::isfinite(h.maxY) ||
        !(h.maxX > h.minX) || !(h.maxY > h.minY)) {
        why = "the bounds are not a rectangle";
        return false;
    }
    if (h.maxLevel < 1 || h.maxLevel > kMaxLevels) {
        why = "level count " + std::to_string(h.maxLevel) + " out of range";
        return false;
    }
    if (h.indexLevels < h.maxLevel || h.indexLevels > kMaxLevels) {
        why = "the index counts " + std::to_string(h.indexLevels) + " levels for a pyramid of " +
              std::to_string(h.maxLevel);
        return false;
    }
    if (h.blockWidth < 1 || h.blockWidth > kMaxTileSide || h.blockHeight < 1 || h.blockHeight > kMaxTileSide) {
        why = "tile size " + std::to_string(h.blockWidth) + " x " + std::to_string(h.blockHeight) + " out of range";
        return false;
    }
    double spanX = std::ldexp(static_cast<double>(h.blockWidth), h.maxLevel - 1);
    double spanY = std::ldexp(static_cast<double>(h.blockHeight), h.maxLevel - 1);
    if (h.imageWidth < 1 || h.imageHeight < 1 || h.imageWidth > spanX || h.imageHeight > spanY) {
        why = "image size " + std::to_string(h.imageWidth) + " x " + std::to_string(h.imageHeight) +
              " does not fit the pyramid";
        return false;
    }
    return true;
}

bool IndexInsideFile(const PyramidHeader& h, std::uint64_t fileSize, const unsigned char* firstEntry,
                     std::string& why) {
    std::uint64_t end = IndexEnd(h.indexLevels);
    if (end > fileSize) {
        why = "the tile index is cut short (it ends at byte " + std::to_string(end) + ", the file has " +
              std::to_string(fileSize) + " bytes)";
        return false;
    }
    if (!EntryInside(LoadI64(firstEntry), LoadU32(firstEntry + 8), fileSize)) {
        why = "the first index entry points outside the file";
        return false;
    }
    return true;
}

std::shared_ptr<SharedPyramid> SharedPyramid::Open(const std::string& path, std::string& why) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        why = std::string("cannot open: ") + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    const FileKey key(st.st_dev, st.st_ino);
    std::unique_lock<std::recursive_mutex> lock(g_registryLock);
    auto& registry = Registry();
    for (auto known = registry.find(key); known != registry.end(); known = registry.find(key)) {
        if (std::shared_ptr<SharedPyramid> open = known->second.lock()) {
            ::close(fd);
            return open;
        }
        // Its last user is closing it and waits for the lock to do so.
        lock.unlock();
        std::this_thread::yield();
        lock.lock();
    }
    std::shared_ptr<SharedPyramid> file(new SharedPyramid, [key](SharedPyramid* closing) {
        std::lock_guard<std::recursive_mutex> closeLock(g_registryLock);
        auto entry = Registry().find(key);
        if (entry != Registry().end() && entry->second.expired()) Registry().erase(entry);
        delete closing;
    });
    file->path_ = path;
    file->fd_ = fd;
    file->fileSize_ = static_cast<std::uint64_t>(st.st_size);
    unsigned char firstEntry[12];
    if (!PreadAll(fd, &file->header_, sizeof file->header_, 0) || !PreadAll(fd, firstEntry, 12, 320)) {
        why = "the file is too short for a pyramid header and index";
        return nullptr;
    }
    if (!HeaderFieldsInRange(file->header_, why) ||
        !IndexInsideFile(file->header_, file->fileSize_, firstEntry, why))
        return nullptr;
    if (!file->reader_.Veltrane(path.c_str())) {
        why = "cannot open: another program holds the file open (pyramid files are opened exclusively)";
        return nullptr;
    }
    registry[key] = file;
    return file;
}

SharedPyramid::~SharedPyramid() {
    if (fd_ >= 0) ::close(fd_);
}

std::string SharedPyramid::Where(int level, int x, int y) const {
    return path_ + " tile " + std::to_string(level) + "/" + std::to_string(x) + "/" + std::to_string(y);
}

SharedPyramid::Entry SharedPyramid::ReadEntry(int level, int x, int y) const {
    Entry entry;
    std::uint64_t at = writer::EntryOffset(header_.indexLevels, level, x, y);
    unsigned char raw[12];
    if (at + 12 > fileSize_ || !PreadAll(fd_, raw, 12, at)) return entry;
    entry.offset = LoadI64(raw);
    entry.size = LoadU32(raw + 8);
    entry.inside = true;
    return entry;
}

bool SharedPyramid::HasTile(int level, int x, int y) {
    Entry entry = ReadEntry(level, x, y);
    return entry.inside && entry.size != 0;
}

SharedPyramid::TileStatus SharedPyramid::ReadTile(int level, int x, int y, Bytes& payload, std::string& why) {
    Entry entry = ReadEntry(level, x, y);
    if (!entry.inside) {
        why = "its index entry lies past the end of the file";
        return TileStatus::Damaged;
    }
    if (entry.size == 0) return TileStatus::Missing;
    if (!EntryInside(entry.offset, entry.size, fileSize_)) {
        why = "its payload (" + std::to_string(entry.size) + " bytes at offset " + std::to_string(entry.offset) +
              ") lies outside the " + std::to_string(fileSize_) + "-byte file";
        return TileStatus::Damaged;
    }
    payload.resize(entry.size);
    int size = 0;
    bool read;
    if (header_.indexLevels == header_.maxLevel) {
        // Reads at explicit offsets: any number of threads at once.
        read = reader_.GetImage(level, x, y, payload.data(), size);
    } else {
        // The buffer-filling read sizes the caller's buffer from an entry of
        // the maxLevel layout; the object's own buffer has no such limit.
        unsigned char* data = nullptr;
        read = reader_.GetImage(level, x, y, &data, size) && static_cast<std::uint32_t>(size) == entry.size;
        if (read) std::memcpy(payload.data(), data, entry.size);
        reader_.ReleaseBuffer();
    }
    if (!read || static_cast<std::uint32_t>(size) != entry.size) {
        why = "the library could not read its payload";
        return TileStatus::Damaged;
    }
    return TileStatus::Ok;
}

}  // namespace gdal
}  // namespace vt
