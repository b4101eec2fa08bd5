// CVeltrane: the pyramid file, its header and its tile index.
//
// File layout: a 320-byte header, then one 12-byte index entry per tile of
// every level (finest level first, rows top to bottom, columns left to right),
// then the payloads wherever the entries point. Nothing of the index is
// cached; every lookup is one seek and two small reads.
#include "Veltrane.h"

#include <climits>
#include <cstring>

#include "Platform.h"

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

bool ReadExactly(void* file, void* destination, std::size_t size) {
    std::size_t delivered = 0;
    return vt::platform::ReadFile(file, destination, size, &delivered) && delivered == size;
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

// Reads the 12-byte entry at the file position. An entry cut short by the
// end of the file is no entry at all.
bool ReadEntry(void* file, long long& offset, int& size) {
    unsigned char entry[12];
    if (!ReadExactly(file, entry, sizeof entry)) return false;
    offset = ReadLe64(entry);
    size = ReadLe32(entry + 8);
    return true;
}

}  // namespace

CVeltrane::CVeltrane()
    : fileHandle(nullptr), lastEntryOffset(0), lastEntrySize(0), tileBuffer(nullptr), tileBufferCapacity(0) {
    std::memset(&header, 0, sizeof(header));
}

CVeltrane::~CVeltrane() {
    if (fileHandle != nullptr) {
        vt::platform::CloseFile(fileHandle);
        fileHandle = nullptr;
    }
    delete[] tileBuffer;
    tileBuffer = nullptr;
}

// A copy takes what the getters need: the header and the last entry looked
// up. The file, the tile buffer and the lock stay with their own object, so
// no two objects ever close one handle or free one buffer.
CVeltrane& CVeltrane::operator=(const CVeltrane& other) {
    if (this != &other) {
        std::memcpy(&header, &other.header, sizeof(header));
        lastEntryOffset = other.lastEntryOffset;
        lastEntrySize = other.lastEntrySize;
    }
    return *this;
}

bool CVeltrane::Veltrane(const char* fileName) {
    if (fileName == nullptr) return false;
    // Opening again replaces the earlier file; its header goes with it.
    if (fileHandle != nullptr) {
        vt::platform::CloseFile(fileHandle);
        fileHandle = nullptr;
    }
    std::memset(&header, 0, sizeof(header));

    fileHandle = vt::platform::OpenFileExclusive(fileName);
    if (fileHandle == nullptr) return false;

    // The header is read front to back, one read per field. Only a failing
    // read call is an error: a file shorter than the header opens, and the
    // fields behind its end stay zero.
    unsigned char leadIn[8];
    struct Field {
        void* at;
        std::size_t size;
    } const fields[] = {
        {leadIn, 8},
        {header.wktPrj, sizeof(header.wktPrj)},
        {&header.minX, 8},
        {&header.minY, 8},
        {&header.maxX, 8},
        {&header.maxY, 8},
        {&header.imageWidth, 4},
        {&header.imageHeight, 4},
        {&header.blockWidth, 4},
        {&header.blockHeight, 4},
        {&header.maxLevel, 4},
        {&header.indexLevels, 4},
    };
    bool ok = true;
    for (const Field& field : fields) {
        std::size_t delivered = 0;
        if (!vt::platform::ReadFile(fileHandle, field.at, field.size, &delivered)) {
            ok = false;
            break;
        }
    }
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
    long long position = 0, offset = 0;
    int entrySize = 0;
    if (!EntryPosition(header, header.maxLevel, level, x, y, position)) {
        size = 0;
        return false;
    }
    FileSeekPos(fileHandle, position, 0);
    if (!ReadEntry(fileHandle, offset, entrySize)) {
        size = 0;  // never a size left over from another tile
        return false;
    }
    lastEntryOffset = offset;
    lastEntrySize = static_cast<unsigned int>(entrySize);
    size = entrySize;
    return true;
}

bool CVeltrane::GetImage(int level, int x, int y, unsigned char** data, int& size) {
    // Held on every path until the caller's ReleaseBuffer().
    bufferLock.lock();
    long long position = 0, offset = 0;
    if (data == nullptr) return false;
    if (!EntryPosition(header, header.indexLevels, level, x, y, position)) {
        size = 0;
        return false;
    }
    FileSeekPos(fileHandle, position, 0);
    if (!ReadEntry(fileHandle, offset, size)) return false;
    if (size <= 0) return false;
    if (FileSeekPos(fileHandle, offset, 0) == -1) return false;
    unsigned long needed = static_cast<unsigned long>(size);
    if (tileBufferCapacity < needed) {
        delete[] tileBuffer;
        tileBuffer = nullptr;
        tileBufferCapacity = 0;
        tileBuffer = new unsigned char[needed];
        tileBufferCapacity = needed;
    }
    if (!ReadExactly(fileHandle, tileBuffer, needed)) return false;
    *data = tileBuffer;
    return true;
}

bool CVeltrane::GetImage(int level, int x, int y, unsigned char* buffer, int& size) {
    if (buffer == nullptr) return false;
    long long position = 0, offset = 0;
    // When the two level counts differ, the caller sized its buffer from
    // another entry than the one read here: never write more than that size.
    const bool limited = header.indexLevels != header.maxLevel;
    int capacity = 0;
    if (limited) {
        if (!EntryPosition(header, header.maxLevel, level, x, y, position)) {
            size = 0;
            return false;
        }
        FileSeekPos(fileHandle, position, 0);
        if (!ReadEntry(fileHandle, offset, capacity)) {
            size = 0;
            return false;
        }
    }
    if (!EntryPosition(header, header.indexLevels, level, x, y, position)) {
        size = 0;
        return false;
    }
    FileSeekPos(fileHandle, position, 0);
    if (!ReadEntry(fileHandle, offset, size)) return false;
    if (size <= 0) return false;
    if (limited && size > capacity) return false;
    if (FileSeekPos(fileHandle, offset, 0) == -1) return false;
    return ReadExactly(fileHandle, buffer, static_cast<std::size_t>(size));
}

void CVeltrane::ReleaseBuffer() { bufferLock.unlock(); }
