// The plain C entry points (Veltrane_c.h), over CVeltrane. Compiled into both
// editions: everything used here is common to them.
#include "Veltrane_c.h"

#include <climits>
#include <cstring>
#include <new>

#include "Veltrane.h"
#include "dxt/DxtEncoder.h"
#include "format/PayloadFormat.h"

struct veltrane_reader {
    CVeltrane reader;
};

namespace {

// The decode members read the payload and use no object state; the C++ API
// declares them on non-const objects and pointers all the same.
CVeltrane& Object(const veltrane_reader* handle) { return const_cast<veltrane_reader*>(handle)->reader; }
unsigned char* Bytes(const unsigned char* payload) { return const_cast<unsigned char*>(payload); }

bool ValidPosition(int level, int column, int row) { return level >= 0 && column >= 0 && row >= 0; }

// The bytes `layout` takes for a width x height image; 0 for a layout the
// payload does not give. Image sizes stay within 2^28 pixels, so every
// count fits an int.
std::size_t LayoutBytes(int layout, int channels, int width, int height) {
    if (!vt::format::ImageGivesOutput(channels == 4, layout)) return 0;
    const std::size_t pixels = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
    switch (layout) {
        case VELTRANE_DXT1: return static_cast<std::size_t>((width + 3) / 4) * ((height + 3) / 4) * 8;
        case VELTRANE_DXT1_MIPMAPS: return static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(width, height, vt::dxt::kDxt1));
        case VELTRANE_DXT5_MIPMAPS: return static_cast<std::size_t>(vt::dxt::DxtMipChainBytes(width, height, vt::dxt::kDxt5));
        case VELTRANE_RGB: return pixels * 3;
        case VELTRANE_RGB565: return pixels * 2;
        case VELTRANE_RGBA: return pixels * 4;
        default: return 0;
    }
}

}  // namespace

extern "C" {

const char* veltrane_status_string(veltrane_status status) {
    switch (status) {
        case VELTRANE_OK: return "success";
        case VELTRANE_E_ARGUMENT: return "invalid argument";
        case VELTRANE_E_OPEN: return "cannot open the file (missing, unreadable or open elsewhere)";
        case VELTRANE_E_NO_TILE: return "no such tile";
        case VELTRANE_E_READ: return "cannot read the tile";
        case VELTRANE_E_BUFFER_TOO_SMALL: return "buffer too small";
        case VELTRANE_E_PAYLOAD: return "not a decodable image payload";
        case VELTRANE_E_LAYOUT: return "layout not available for this payload";
        case VELTRANE_E_MEMORY: return "out of memory";
    }
    return "unknown status";
}

veltrane_status veltrane_open(const char* path, veltrane_reader** reader) {
    if (reader == nullptr) return VELTRANE_E_ARGUMENT;
    *reader = nullptr;
    if (path == nullptr) return VELTRANE_E_ARGUMENT;
    veltrane_reader* handle = new (std::nothrow) veltrane_reader;
    if (handle == nullptr) return VELTRANE_E_MEMORY;
    if (!handle->reader.Veltrane(path)) {
        delete handle;
        return VELTRANE_E_OPEN;
    }
    *reader = handle;
    return VELTRANE_OK;
}

void veltrane_close(veltrane_reader* reader) { delete reader; }

veltrane_status veltrane_get_header(const veltrane_reader* reader, veltrane_header* header) {
    if (reader == nullptr || header == nullptr) return VELTRANE_E_ARGUMENT;
    CVeltrane& r = Object(reader);
    veltrane_header out;
    r.GetImageSize(out.image_width, out.image_height);
    unsigned long blockWidth = 0, blockHeight = 0;
    r.GetBlockSize(blockWidth, blockHeight);
    out.block_width = static_cast<int>(blockWidth);
    out.block_height = static_cast<int>(blockHeight);
    out.levels = r.GetMaxLevel();
    *header = out;
    return VELTRANE_OK;
}

veltrane_status veltrane_get_wkt(const veltrane_reader* reader, char* text, size_t capacity, size_t* needed) {
    if (reader == nullptr || (text == nullptr && capacity != 0)) return VELTRANE_E_ARGUMENT;
    char* wkt = nullptr;
    Object(reader).GetWktPrj(wkt);
    const std::size_t bytes = std::strlen(wkt) + 1;
    if (needed != nullptr) *needed = bytes;
    if (capacity < bytes) return VELTRANE_E_BUFFER_TOO_SMALL;
    std::memcpy(text, wkt, bytes);
    return VELTRANE_OK;
}

veltrane_status veltrane_get_extent(const veltrane_reader* reader, int image, double* left, double* top,
                                    double* width, double* height) {
    if (reader == nullptr || left == nullptr || top == nullptr || width == nullptr || height == nullptr)
        return VELTRANE_E_ARGUMENT;
    if (image)
        Object(reader).GetImageGeoInfo(*left, *top, *width, *height);
    else
        Object(reader).GetFileGeoInfo(*left, *top, *width, *height);
    return VELTRANE_OK;
}

veltrane_status veltrane_tile_size(veltrane_reader* reader, int level, int column, int row, size_t* size) {
    if (reader == nullptr || size == nullptr || !ValidPosition(level, column, row)) return VELTRANE_E_ARGUMENT;
    int bytes = 0;
    if (!reader->reader.GetBlockImageSize(level, column, row, bytes)) return VELTRANE_E_NO_TILE;
    if (bytes < 0) return VELTRANE_E_READ;  // a damaged entry
    *size = static_cast<std::size_t>(bytes);
    return VELTRANE_OK;
}

veltrane_status veltrane_read_tile(veltrane_reader* reader, int level, int column, int row, unsigned char* buffer,
                                   size_t capacity, size_t* size) {
    if (reader == nullptr || size == nullptr || (buffer == nullptr && capacity != 0) ||
        !ValidPosition(level, column, row))
        return VELTRANE_E_ARGUMENT;
    std::size_t bytes = 0;
    const veltrane_status looked = veltrane_tile_size(reader, level, column, row, &bytes);
    if (looked != VELTRANE_OK) return looked;
    if (bytes == 0) {
        *size = 0;
        return VELTRANE_OK;
    }
    if (capacity < bytes) {
        *size = bytes;
        return VELTRANE_E_BUFFER_TOO_SMALL;
    }
    // The read itself is bounded by the capacity too: should the entry read
    // now differ from the one just looked up, nothing is written past it.
    const int bound = capacity > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(capacity);
    int got = 0;
    if (!vt::ReadTileInto(reader->reader, level, column, row, buffer, bound, got)) return VELTRANE_E_READ;
    *size = static_cast<std::size_t>(got);
    return VELTRANE_OK;
}

veltrane_status veltrane_image_info(const veltrane_reader* reader, const unsigned char* payload, size_t length,
                                    int leading_byte, int* channels, int* width, int* height) {
    if (reader == nullptr || payload == nullptr || channels == nullptr || width == nullptr || height == nullptr)
        return VELTRANE_E_ARGUMENT;
    if (length == 0 || length > ULONG_MAX) return VELTRANE_E_PAYLOAD;
    unsigned long c = 0, w = 0, h = 0;
    if (!Object(reader).GetCompressDataInfo(Bytes(payload), static_cast<unsigned long>(length), c, w, h,
                                            leading_byte != 0))
        return VELTRANE_E_PAYLOAD;
    *channels = static_cast<int>(c);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return VELTRANE_OK;
}

veltrane_status veltrane_decode_image(const veltrane_reader* reader, const unsigned char* payload, size_t length,
                                      int leading_byte, veltrane_layout layout, unsigned char* destination,
                                      size_t capacity, size_t* needed) {
    if (reader == nullptr || payload == nullptr || (destination == nullptr && capacity != 0))
        return VELTRANE_E_ARGUMENT;
    if (layout < VELTRANE_DXT1 || layout > VELTRANE_RGBA) return VELTRANE_E_ARGUMENT;
    int channels = 0, width = 0, height = 0;
    const veltrane_status info = veltrane_image_info(reader, payload, length, leading_byte, &channels, &width, &height);
    if (info != VELTRANE_OK) return info;
    const std::size_t bytes = LayoutBytes(layout, channels, width, height);
    if (bytes == 0) return VELTRANE_E_LAYOUT;
    if (needed != nullptr) *needed = bytes;
    if (capacity < bytes) return VELTRANE_E_BUFFER_TOO_SMALL;
    // The decoders' scratch allocations throw when they fail; no exception
    // may cross into a C caller.
    try {
        if (!Object(reader).DecodeImage(Bytes(payload), static_cast<unsigned long>(length), destination,
                                        static_cast<OutputType>(layout), leading_byte != 0))
            return VELTRANE_E_PAYLOAD;
    } catch (const std::bad_alloc&) {
        return VELTRANE_E_MEMORY;
    }
    return VELTRANE_OK;
}

}  // extern "C"
