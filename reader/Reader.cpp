// CVeltrane: the pyramid file, its header and its tile index.
//
// File layout: a 320-byte header, then one 12-byte index entry per tile of
// every level (finest level first, rows top to bottom, columns left to right),
// then the payloads wherever the entries point. Every read names its file
// offset, so no read depends on another's file pointer and the size lookups
// and buffer-filling tile reads may run on any number of threads at once.
#include "Veltrane.h"

#include <climits>
#include <cstring>
#include <new>

#include "EntryMemo.h"
#include "Platform.h"

// The atomic last-entry fields keep the layout the plain integers had.
static_assert(sizeof(std::atomic<long long>) == sizeof(long long) &&
                  alignof(std::atomic<long long>) == alignof(long long),
              "lastEntryOffset keeps the layout of a long long");
static_assert(sizeof(std::atomic<unsigned int>) == sizeof(unsigned int) &&
                  alignof(std::atomic<unsigned int>) == alignof(unsigned int),
              "lastEntrySize keeps the layout of an unsigned int");

namespace {

// 2^exponent in double precision by repeated squaring; negative exponents give
// the reciprocal. Exact for every exponent a double can represent.
double PowerOfTwo(long long exponent) {
    bool negative = exponent < 0;
    unsigned long long e = negative ? 0ull - static_cast<unsigned long long>(exponent)
                                    : static_cast<unsigned long long>(exponent);
    double result = 1.0, base = 2.0;
    while (e != 0) {
        if (e & 1u) result *= base;
        base *= base;
        e >>= 1;
    }
    return negative ? 1.0 / result : result;
}

// Truncation toward zero to a 32-bit integer, with the x86 rule for values
// that do not fit (and NaN): the "integer indefinite" value INT_MIN.
int TruncateToInt(double value) {
    if (!(value > -2147483649.0 && value < 2147483648.0)) return INT_MIN;
    return static_cast<int>(value);
}

// Index entries per level are 4^l, so an index deeper than this no longer has
// 64-bit file offsets for its coarse levels.
constexpr int kMaxIndexLevels = 31;
constexpr long long kIndexStart = 320;
constexpr long long kEntryBytes = 12;

bool ReadExactlyAt(void* file, long long offset, void* destination, std::size_t size) {
    std::size_t delivered = 0;
    return vt::platform::ReadFileAt(file, offset, destination, size, &delivered) && delivered == size;
}

int ReadLe32(const unsigned char* p) {
    return static_cast<int>(static_cast<unsigned int>(p[0]) | static_cast<unsigned int>(p[1]) << 8 |
                            static_cast<unsigned int>(p[2]) << 16 | static_cast<unsigned int>(p[3]) << 24);
}

long long ReadLe64(const unsigned char* p) {
    unsigned long long v = 0;
    for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
    return static_cast<long long>(v);
}

// Entry lookup shared by the three reading methods. The level bound comes from
// maxLevel; `levels` is the level count whose index layout is assumed (it
// decides where each level's entries begin). Positions are computed in 64
// bits; coordinates outside the pyramid, or an index too deep for 64-bit
// offsets, give false.
bool EntryPosition(const PyramidHeader& header, int levels, int level, int x, int y, long long& position) {
    if (level < 0 || x < 0 || y < 0 || static_cast<long long>(level) + 1 > header.maxLevel ||
        levels > kMaxIndexLevels || level >= kMaxIndexLevels)
        return false;
    long long n = 1LL << level;
    if (x > n - 1 || y > n - 1) return false;
    // Entries of all levels finer than `level`: 4^(level+1) + ... + 4^(levels-1).
    long long finer = 0;
    for (int j = level + 1; j < levels; ++j) finer += 1LL << (2 * j);
    long long entry = n * y + finer + x;
    return !__builtin_mul_overflow(entry, kEntryBytes, &position) &&
           !__builtin_add_overflow(position, kIndexStart, &position);
}

using vt::TileEntry;

// Reads the 12-byte entry at `position`. An entry cut short by the end of the
// file, or lying beyond it, is no entry at all.
bool ReadEntry(void* file, long long position, TileEntry& entry) {
    unsigned char bytes[12];
    if (!ReadExactlyAt(file, position, bytes, sizeof bytes)) return false;
    entry.offset = ReadLe64(bytes);
    entry.size = ReadLe32(bytes + 8);
    return true;
}

// The entry at `position`: from the object's memo when a size lookup put it
// there, otherwise read from the file.
bool EntryAt(void* file, const vt::EntryMemo* memo, long long position, TileEntry& entry) {
    if (memo != nullptr && memo->Get(position, entry)) return true;
    return ReadEntry(file, position, entry);
}

// Whether the entry names a payload that lies wholly within the file. Checked
// before any byte is read or any buffer allocated, so that a damaged entry
// costs nothing. A file that grew since its length was learnt is asked again.
bool FileHoldsPayload(void* file, vt::EntryMemo* memo, const TileEntry& entry) {
    if (entry.size <= 0 || entry.offset < 0 || entry.offset > LLONG_MAX - entry.size) return false;
    const long long end = entry.offset + entry.size;
    if (memo != nullptr && end <= memo->fileLength.load(std::memory_order_relaxed)) return true;
    const long long length = vt::platform::FileLength(file);
    if (memo != nullptr) memo->fileLength.store(length, std::memory_order_relaxed);
    return end <= length;
}

}  // namespace

CVeltrane::CVeltrane()
    : fileHandle(nullptr),
      lastEntryOffset(0),
      lastEntrySize(0),
      tileBuffer(nullptr),
      tileBufferCapacity(0),
      entryMemo(new (std::nothrow) vt::EntryMemo) {
    std::memset(&header, 0, sizeof(header));
    vt::platform::CreateLock(bufferLock);
}

CVeltrane::~CVeltrane() {
    if (fileHandle != nullptr) {
        vt::platform::CloseFile(fileHandle);
        fileHandle = nullptr;
    }
    delete[] tileBuffer;
    tileBuffer = nullptr;
    delete entryMemo;
    entryMemo = nullptr;
    vt::platform::DeleteLock(bufferLock);
}

// A copy takes what the getters need: the header and the last entry looked
// up. The file, the tile buffer and the lock stay with their own object, so
// no two objects ever close one handle or free one buffer.
CVeltrane& CVeltrane::operator=(const CVeltrane& other) {
    if (this != &other) {
        std::memcpy(&header, &other.header, sizeof(header));
        lastEntryOffset.store(other.lastEntryOffset.load());
        lastEntrySize.store(other.lastEntrySize.load());
    }
    return *this;
}

bool CVeltrane::Veltrane(const char* fileName) {
    if (fileName == nullptr) return false;
    if (entryMemo != nullptr) entryMemo->Clear();
    // Opening again replaces the earlier file; its header goes with it.
    if (fileHandle != nullptr) {
        vt::platform::CloseFile(fileHandle);
        fileHandle = nullptr;
    }
    std::memset(&header, 0, sizeof(header));

    fileHandle = vt::platform::OpenFileExclusive(fileName);
    if (fileHandle == nullptr) return false;

    // Only a failing read call is an error: a file shorter than the header
    // opens, and the fields behind its end stay zero. The eight lead-in bytes
    // are read past and never kept.
    unsigned char bytes[sizeof(PyramidHeader)] = {};
    std::size_t delivered = 0;
    const bool ok = vt::platform::ReadFileAt(fileHandle, 0, bytes, sizeof bytes, &delivered);
    const std::size_t leadIn = sizeof(header.leadIn);
    std::memcpy(reinterpret_cast<unsigned char*>(&header) + leadIn, bytes + leadIn, sizeof(header) - leadIn);
    // The projection text must end within its field; a writer that filled all
    // 256 bytes loses the last one rather than handing out an open string.
    header.wktPrj[sizeof(header.wktPrj) - 1] = '\0';
    return ok;
}

void CVeltrane::GetWktPrj(char*& wkt) {
    if (wkt == nullptr) wkt = header.wktPrj;
}

void CVeltrane::GetImageGeoInfo(double& left, double& top, double& width, double& height) {
    left = header.minX;
    top = header.maxY;
    width = header.maxX - header.minX;
    height = header.maxY - header.minY;
}

// The pyramid's extent: 2^(maxLevel-1) tiles of the finest level's pixel size
// east and south of the image's north-west corner.
void CVeltrane::GetFileGeoInfo(double& left, double& top, double& width, double& height) {
    left = header.minX;
    top = header.maxY;
    double imageWidth = header.maxX - header.minX;
    double imageHeight = header.maxY - header.minY;
    // A header without an image size has no pixel size: report an empty
    // extent rather than 0/0.
    double resX = header.imageWidth != 0 ? imageWidth / static_cast<double>(header.imageWidth) : 0.0;
    double resY = header.imageHeight != 0 ? imageHeight / static_cast<double>(header.imageHeight) : 0.0;
    // In 64 bits: maxLevel - 1 must not overflow for the smallest int.
    int tiles = TruncateToInt(PowerOfTwo(static_cast<long long>(header.maxLevel) - 1));
    width = (tiles * resX) * header.blockWidth;
    height = (tiles * resY) * header.blockHeight;
}

void CVeltrane::GetImageSize(int& width, int& height) {
    width = header.imageWidth;
    height = header.imageHeight;
}

int CVeltrane::GetMaxLevel() { return header.maxLevel; }

void CVeltrane::GetBlockSize(unsigned long& width, unsigned long& height) {
    width = static_cast<unsigned int>(header.blockWidth);
    height = static_cast<unsigned int>(header.blockHeight);
}

long long CVeltrane::FileSeekPos(void* file, long long distance, unsigned long moveMethod) {
    return vt::platform::SeekFile(file, distance, moveMethod);
}

bool CVeltrane::GetBlockImageSize(int level, int x, int y, int& size) {
    long long position = 0;
    TileEntry entry;
    if (!EntryPosition(header, header.maxLevel, level, x, y, position) || !ReadEntry(fileHandle, position, entry)) {
        size = 0;  // never a size left over from another tile
        return false;
    }
    lastEntryOffset.store(entry.offset, std::memory_order_relaxed);
    lastEntrySize.store(static_cast<unsigned int>(entry.size), std::memory_order_relaxed);
    if (entryMemo != nullptr) entryMemo->Put(position, entry);
    size = entry.size;
    return true;
}

bool CVeltrane::GetImage(int level, int x, int y, unsigned char** data, int& size) {
    // Held on every path until the caller's ReleaseBuffer().
    vt::platform::EnterLock(bufferLock);
    if (data == nullptr) return false;
    long long position = 0;
    TileEntry entry;
    if (!EntryPosition(header, header.indexLevels, level, x, y, position) ||
        !EntryAt(fileHandle, entryMemo, position, entry) || !FileHoldsPayload(fileHandle, entryMemo, entry)) {
        size = 0;
        return false;
    }
    // The buffer only grows, and only to what the file holds; an allocation
    // that fails is a failed read, not an exception.
    const unsigned long needed = static_cast<unsigned long>(entry.size);
    if (tileBufferCapacity < needed) {
        delete[] tileBuffer;
        tileBuffer = new (std::nothrow) unsigned char[needed];
        tileBufferCapacity = tileBuffer != nullptr ? needed : 0;
    }
    if (tileBuffer == nullptr || !ReadExactlyAt(fileHandle, entry.offset, tileBuffer, needed)) {
        size = 0;
        return false;
    }
    size = entry.size;
    *data = tileBuffer;
    return true;
}

bool CVeltrane::GetImage(int level, int x, int y, unsigned char* buffer, int& size) {
    return vt::ReadTileInto(*this, level, x, y, buffer, INT_MAX, size);
}

bool vt::ReadTileInto(CVeltrane& reader, int level, int x, int y, unsigned char* buffer, int capacity, int& size) {
    if (buffer == nullptr) return false;
    const PyramidHeader& header = reader.header;
    long long position = 0;
    TileEntry entry;
    // When the two level counts differ, the caller sized its buffer from
    // another entry than the one read here: never write more than that size.
    if (header.indexLevels != header.maxLevel) {
        if (!EntryPosition(header, header.maxLevel, level, x, y, position) ||
            !EntryAt(reader.fileHandle, reader.entryMemo, position, entry)) {
            size = 0;
            return false;
        }
        if (entry.size < capacity) capacity = entry.size;
    }
    if (!EntryPosition(header, header.indexLevels, level, x, y, position) ||
        !EntryAt(reader.fileHandle, reader.entryMemo, position, entry) || entry.size > capacity ||
        !FileHoldsPayload(reader.fileHandle, reader.entryMemo, entry) ||
        !ReadExactlyAt(reader.fileHandle, entry.offset, buffer, static_cast<std::size_t>(entry.size))) {
        size = 0;
        return false;
    }
    size = entry.size;
    return true;
}

void CVeltrane::ReleaseBuffer() { vt::platform::LeaveLock(bufferLock); }
