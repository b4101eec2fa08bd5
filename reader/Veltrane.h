// Veltrane: reader for tile pyramid files.
//
// One CVeltrane object opens one pyramid file, reports its georeferencing and
// pyramid shape, and reads tile payloads by level, column and row. The decode
// members turn a payload the host holds into texture or pixel layouts; they
// use no object state and may run on any number of threads at once.
//
// The library is built in two editions from one source tree. The current
// edition (libVeltrane) and the terrain edition (libOrvanel) declare the class
// differently; the terrain edition's targets define VELTRANE_EDITION_TERRAIN
// for everything that includes this header.
#ifndef VELTRANE_VELTRANE_H
#define VELTRANE_VELTRANE_H

#include <atomic>
#if !defined(_WIN32)
#include <mutex>
#endif

#include "VeltraneExport.h"

// Output layout of a decode method. Pixel buffers hold blue, green, red and,
// for 4-byte pixels, alpha; 5:6:5 carries blue in bits 15-11.
enum OutputType {
    OutputDXT1 = 0,         // one DXT1 level
    OutputDXT1Mipmaps = 1,  // DXT1 levels down to 1 x 1, back to back
    OutputDXT5Mipmaps = 2,  // DXT5 levels down to 1 x 1, back to back
    OutputRGB = 3,          // 3 bytes a pixel
    OutputRGB565 = 4,       // 2 bytes a pixel, little-endian words
    OutputRGBA = 5          // 4 bytes a pixel
};

class CVeltrane;

namespace vt {
class EntryMemo;  // the reader's internal memo of index entries

// The buffer-filling tile read with the caller's capacity: writes nothing when
// the payload needs more than `capacity` bytes. Internal (not exported): the
// C++ and C entry points are built on it.
bool ReadTileInto(CVeltrane& reader, int level, int x, int y, unsigned char* buffer, int capacity, int& size);

// Room for a reader object's lock, held inside the object like the rest of its
// state: a critical section on Windows, a recursive mutex elsewhere. Only the
// platform layer (reader/Platform.h) initialises, enters, leaves and deletes
// it, and checks that it fits.
struct LockStorage {
#if defined(_WIN32)
    alignas(void*) unsigned char bytes[sizeof(void*) == 8 ? 40 : 24];  // CRITICAL_SECTION
#else
    alignas(std::recursive_mutex) unsigned char bytes[sizeof(std::recursive_mutex)];
#endif
};
}  // namespace vt

#pragma pack(push, 1)
// The first 320 bytes of every pyramid file, little-endian, no gaps.
struct PyramidHeader {
    unsigned char leadIn[8];  // skipped by the reader, never stored
    char wktPrj[256];         // projection WKT, NUL-terminated within the field
    double minX;
    double minY;
    double maxX;
    double maxY;
    int imageWidth;
    int imageHeight;
    int blockWidth;
    int blockHeight;
    int maxLevel;     // levels 0 .. maxLevel-1, level l has 2^l x 2^l tiles
    int indexLevels;  // levels the payload reads count to find a level's entries
};
#pragma pack(pop)
static_assert(sizeof(PyramidHeader) == 320, "pyramid header is 320 bytes");

class VELTRANE_API CVeltrane {
public:
    CVeltrane();
    ~CVeltrane();
    CVeltrane& operator=(const CVeltrane& other);

    // ---- file and header ------------------------------------------------
    bool Veltrane(const char* fileName);
    void GetWktPrj(char*& wkt);
    void GetImageGeoInfo(double& left, double& top, double& width, double& height);
    void GetFileGeoInfo(double& left, double& top, double& width, double& height);
    void GetImageSize(int& width, int& height);
    int GetMaxLevel();
    void GetBlockSize(unsigned long& width, unsigned long& height);

    // ---- tile index and payloads ----------------------------------------
    // GetBlockImageSize and the buffer-filling GetImage may be called from any
    // number of threads on one object at once.
    bool GetBlockImageSize(int level, int x, int y, int& size);
    // Reads into the object's buffer and leaves the buffer lock held on every
    // path, failures included: call ReleaseBuffer() once afterwards.
    bool GetImage(int level, int x, int y, unsigned char** data, int& size);
    // Reads into the caller's buffer, which must hold GetBlockImageSize bytes;
    // it never writes more than that, and nothing for an entry the file
    // cannot hold.
    bool GetImage(int level, int x, int y, unsigned char* buffer, int& size);
    void ReleaseBuffer();

    // ---- image payloads -------------------------------------------------
    // hasLeadingByte: the payload starts with the leading tag byte, one byte
    // that the decoders step over without reading it (`length` counts it).
    // Every image and DDS tile that the `veltrane` tool writes carries it, so
    // its files need true here; with a wrong flag the envelope is read one
    // byte off, which these calls usually refuse (false).
    //
    // GetCompressDataInfo reports 3 channels for a payload without an alpha
    // plane and 4 for one with it; DecodeImage produces only these layouts
    // (anything else returns false with the destination untouched):
    //
    //   channels  color stream              layout             destination bytes
    //   3         compact JPEG or JPEG 2000  OutputDXT1         ceil(w/4) * ceil(h/4) * 8
    //                                        OutputDXT1Mipmaps  the same for each level down to 1 x 1
    //                                        OutputRGB          w * h * 3
    //                                        OutputRGB565       w * h * 2
    //   4         compact JPEG and alpha     OutputDXT5Mipmaps  ceil(w/4) * ceil(h/4) * 16 for each level
    //                                        OutputRGBA         w * h * 4
    bool GetCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                             unsigned long& width, unsigned long& height, bool hasLeadingByte);
    bool DecodeImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                     OutputType type, bool hasLeadingByte);

    // ---- pass-through payloads ------------------------------------------
    // hasLeadingByte as for image payloads: the payload starts with the
    // leading tag byte (DecodeDDSToFile always assumes it).
    bool GetDDSDataInfo(unsigned char* payload, unsigned long length, unsigned long& value1,
                        unsigned long& value2, unsigned long& value3, bool hasLeadingByte);
    bool DecodeDDSImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                        bool hasLeadingByte);
    bool DecodeBuildingText(unsigned char* mask, unsigned long count, unsigned char* bits);
    static int Uncompress(unsigned char* destination, unsigned long* destinationLength,
                          const unsigned char* source, unsigned long sourceLength);

#if !defined(VELTRANE_EDITION_TERRAIN)
    // ---- current edition ------------------------------------------------
    bool GetNewCompressDataInfo(unsigned char* payload, unsigned long length, unsigned long& channels,
                                unsigned long& width, unsigned long& height);
    bool DecodeNewImage(unsigned char* payload, unsigned long length, unsigned char* destination,
                        OutputType type);
    bool DecodeDDSImageOld(unsigned char* payload, unsigned long length, unsigned char* destination,
                           bool hasLeadingByte);
    bool DecodeDDSToFile(unsigned char* payload, unsigned long length, const char* path);

    static int GetDEMBufferSize(unsigned char* packet, unsigned long length);
    static bool GetDEMBuffer(unsigned char* packet, unsigned long length, unsigned char* destination);
    static int GetDOMCount(unsigned char* packet, unsigned long length, int* ids);
    static bool GetDOMBuffer(unsigned char* packet, unsigned long length, int id,
                             unsigned char* destination, OutputType type);
#else
    // ---- terrain edition ------------------------------------------------
    void GetTerrianVersion(unsigned char* payload, unsigned char* version);
    bool DecodeImageTerrian(unsigned char* payload, unsigned long length, unsigned char* destination,
                            OutputType type);

    int GetIndexBufferSize(unsigned char* payload, unsigned long length);
    bool GetIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination);
    int GetTinyIndexBufferSize(unsigned char* payload, unsigned long length);
    bool GetTinyIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination);
    int GetShapeIndexBufferSize(unsigned char* payload, unsigned long length);
    bool GetShapeIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination);
    int GetRoadIndexBufferSize(unsigned char* payload, unsigned long length);
    bool GetRoadIndexBuffer(unsigned char* payload, unsigned long length, unsigned char* destination);
    int GetDEMTBufferSize(unsigned char* payload, unsigned long length);
    bool GetDEMBuffer(unsigned char* payload, unsigned long length, unsigned char* destination);
#endif

private:
    CVeltrane(const CVeltrane&) = delete;
    friend bool vt::ReadTileInto(CVeltrane&, int, int, int, unsigned char*, int, int&);

    // Moves the file pointer of `file` (0: from the start, 1: from the current
    // position, 2: from the end); returns the new position or -1. The reading
    // methods read at explicit offsets and never use the file pointer.
    long long FileSeekPos(void* file, long long distance, unsigned long moveMethod);

    void* fileHandle;
    PyramidHeader header;
    // The entry the latest GetBlockImageSize read. Atomic because any number
    // of threads may look sizes up at once (then each field holds what one of
    // them stored); each atomic has the size and alignment of the plain
    // integer, so the class layout is unchanged.
    std::atomic<long long> lastEntryOffset;
    std::atomic<unsigned int> lastEntrySize;
    unsigned char* tileBuffer;
    vt::LockStorage bufferLock;
    unsigned long tileBufferCapacity;  // bytes allocated at tileBuffer
    // Index entries the size lookups read, so that the tile read that follows
    // reads only the payload; null when it could not be allocated.
    vt::EntryMemo* entryMemo;
};

#if !defined(VELTRANE_EDITION_TERRAIN)
// Undecorated entry points for Java Native Access callers.
extern "C" {
VELTRANE_API int JNA_GetDEMBufferSize(unsigned char* packet, int length);
VELTRANE_API bool JNA_GetDEMBuffer(unsigned char* packet, int length, unsigned char* destination);
VELTRANE_API float JNA_GetElevationInBuf(unsigned char* grid, double minX, double minY, double maxX,
                                         double maxY, double x, double y);
}
#endif

#endif  // VELTRANE_VELTRANE_H
