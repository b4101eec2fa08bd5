// Image files through GDAL: any raster GDAL reads, with its geotransform and
// coordinate system; PNG and GeoTIFF written by GDAL's own drivers.
//
// GDAL's messages are not printed (the tool prints its own, one line each):
// every call runs under a quiet error handler and the last message becomes
// the reason of a failure.
#include "ImageFile.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <vector>

#include <cpl_conv.h>
#include <cpl_error.h>
#include <cpl_string.h>
#include <cpl_vsi.h>
#include <gdal.h>
#include <gdal_frmts.h>
#include <ogr_srs_api.h>

namespace vt {
namespace imagefile {

namespace {

// Sides longer than this are refused before anything is allocated.
constexpr int kLargestSide = 65536;

class QuietErrors {
public:
    QuietErrors() {
        CPLPushErrorHandler(CPLQuietErrorHandler);
        CPLErrorReset();
    }
    ~QuietErrors() { CPLPopErrorHandler(); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

    // GDAL's last message, or `fallback` when it gave none.
    static std::string Message(const std::string& fallback) {
        const char* text = CPLGetLastErrorMsg();
        return text != nullptr && *text != '\0' ? std::string(text) : fallback;
    }
};

// Reading takes every driver GDAL has, plugins included. Writing needs only
// the memory, PNG and GeoTIFF drivers, registered without loading plugins:
// the terrain edition's tool writes images too, and a plugin that loads the
// current edition's library cannot share its process.
void RegisterReaders() {
    static std::once_flag once;
    std::call_once(once, [] { GDALAllRegister(); });
}

void RegisterWriters() {
    static std::once_flag once;
    std::call_once(once, [] {
        GDALRegister_MEM();
        GDALRegister_PNG();
        GDALRegister_GTiff();
    });
}

struct DatasetCloser {
    void operator()(void* dataset) const { GDALClose(dataset); }
};
using Dataset = std::unique_ptr<void, DatasetCloser>;

// The coordinate system in the forms the tool can store, most complete first.
std::vector<std::string> WktForms(OGRSpatialReferenceH srs) {
    std::vector<std::string> forms;
    for (const char* format : {"WKT1", "WKT1_SIMPLE", "WKT1_ESRI"}) {
        char* text = nullptr;
        const char* options[] = {nullptr, nullptr};
        std::string option = std::string("FORMAT=") + format;
        options[0] = option.c_str();
        if (OSRExportToWktEx(srs, &text, options) == OGRERR_NONE && text != nullptr && *text != '\0') {
            bool known = false;
            for (const std::string& f : forms) known = known || f == text;
            if (!known) forms.emplace_back(text);
        }
        CPLFree(text);
    }
    return forms;
}

void ReadGeoreferencing(GDALDatasetH dataset, Georeferencing& g) {
    double t[6];
    if (GDALGetGeoTransform(dataset, t) == CE_None) {
        g.rotated = t[2] != 0 || t[4] != 0 || !(t[1] > 0) || !(t[5] < 0);
        g.placed = !g.rotated;
        if (g.placed) g.placement = Placement{t[0], t[3], t[1], -t[5]};
    }
    OGRSpatialReferenceH srs = GDALGetSpatialRef(dataset);
    if (srs != nullptr) g.wktForms = WktForms(srs);
}

// Reads a band into every fourth byte from `rgba` on. 16-bit samples are
// scaled to 8 bits from their significant bits (NBITS, else all 16), as PNG
// readers reduce 16-bit PNG files.
bool ReadBand(GDALRasterBandH band, int width, int height, std::uint8_t* rgba) {
    const size_t pixels = static_cast<size_t>(width) * height;
    if (GDALGetRasterDataType(band) != GDT_UInt16)
        return GDALRasterIOEx(band, GF_Read, 0, 0, width, height, rgba, width, height, GDT_Byte, 4,
                              static_cast<GSpacing>(width) * 4, nullptr) == CE_None;
    std::vector<std::uint16_t> samples(pixels);
    if (GDALRasterIOEx(band, GF_Read, 0, 0, width, height, samples.data(), width, height, GDT_UInt16, 0, 0,
                       nullptr) != CE_None)
        return false;
    const char* nbits = GDALGetMetadataItem(band, "NBITS", "IMAGE_STRUCTURE");
    const int bits = nbits != nullptr && atoi(nbits) >= 8 && atoi(nbits) <= 16 ? atoi(nbits) : 16;
    const std::uint32_t top = (1u << bits) - 1;
    for (size_t i = 0; i < pixels; ++i) {
        const std::uint32_t v = std::min<std::uint32_t>(samples[i], top);
        rgba[i * 4] = static_cast<std::uint8_t>((v * 255 + top / 2) / top);
    }
    return true;
}

// Colors come from the bands by their color interpretation (gray, or red,
// green, blue), or from a palette; alpha from the mask GDAL gives band 1
// (an alpha band, nodata values, an internal mask), opaque without one.
bool ReadPixels(GDALDatasetH dataset, payloads::Image& image, std::string& error) {
    const int bands = GDALGetRasterCount(dataset), width = image.width, height = image.height;
    if (bands < 1) {
        error = "the file holds no raster bands";
        return false;
    }
    GDALRasterBandH first = GDALGetRasterBand(dataset, 1);
    const GDALDataType type = GDALGetRasterDataType(first);
    if (type != GDT_Byte && type != GDT_UInt16) {
        error = std::string("its pixels are ") + GDALGetDataTypeName(type) +
                "; the tool builds pyramids of 8- and 16-bit images (convert with gdal_translate -ot Byte -scale)";
        return false;
    }
    GDALColorTableH palette = GDALGetRasterColorTable(first);
    if (palette != nullptr && type == GDT_Byte && GDALGetRasterColorInterpretation(first) == GCI_PaletteIndex) {
        if (!ReadBand(first, width, height, image.rgba.data())) return false;
        for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) {
            const GDALColorEntry* c = GDALGetColorEntry(palette, image.rgba[i * 4]);
            std::uint8_t* p = &image.rgba[i * 4];
            p[0] = c ? static_cast<std::uint8_t>(c->c1) : 0;
            p[1] = c ? static_cast<std::uint8_t>(c->c2) : 0;
            p[2] = c ? static_cast<std::uint8_t>(c->c3) : 0;
            p[3] = c ? static_cast<std::uint8_t>(c->c4) : 0;
        }
        return true;
    }
    // The bands named red, green and blue; else the first three, unless the
    // first is gray (gray and alpha, say), which then gives all three.
    GDALRasterBandH color[3] = {nullptr, nullptr, nullptr};
    for (int b = 1; b <= bands; ++b) {
        const GDALColorInterp interp = GDALGetRasterColorInterpretation(GDALGetRasterBand(dataset, b));
        const int at = interp == GCI_RedBand ? 0 : interp == GCI_GreenBand ? 1 : interp == GCI_BlueBand ? 2 : -1;
        if (at >= 0 && color[at] == nullptr) color[at] = GDALGetRasterBand(dataset, b);
    }
    const bool named = color[0] != nullptr && color[1] != nullptr && color[2] != nullptr;
    const bool gray = bands < 3 || GDALGetRasterColorInterpretation(first) == GCI_GrayIndex;
    for (int c = 0; c < 3 && !named; ++c) color[c] = gray ? first : GDALGetRasterBand(dataset, c + 1);
    for (int c = 0; c < 3; ++c)
        if (!ReadBand(color[c], width, height, image.rgba.data() + c)) return false;
    if (GDALGetMaskFlags(first) & GMF_ALL_VALID) {
        for (size_t i = 0, n = static_cast<size_t>(width) * height; i < n; ++i) image.rgba[i * 4 + 3] = 255;
        return true;
    }
    return ReadBand(GDALGetMaskBand(first), width, height, image.rgba.data() + 3);
}

}  // namespace

std::string Implementation() { return std::string("GDAL ") + GDALVersionInfo("RELEASE_NAME"); }

bool ReadImage(const std::string& path, payloads::Image& image, Georeferencing& georeferencing, std::string& error) {
    RegisterReaders();
    QuietErrors quiet;
    georeferencing = Georeferencing();
    Dataset dataset(GDALOpenEx(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (dataset == nullptr) {
        error = QuietErrors::Message("not a raster GDAL reads");
        return false;
    }
    const int width = GDALGetRasterXSize(dataset.get()), height = GDALGetRasterYSize(dataset.get());
    if (width < 1 || height < 1 || width > kLargestSide || height > kLargestSide) {
        error = "image size " + std::to_string(width) + " x " + std::to_string(height) + " out of range (1 to " +
                std::to_string(kLargestSide) + " a side)";
        return false;
    }
    image = payloads::Image(width, height);
    if (!ReadPixels(dataset.get(), image, error)) {
        if (error.empty()) error = QuietErrors::Message("its pixels cannot be read");
        return false;
    }
    ReadGeoreferencing(dataset.get(), georeferencing);
    return true;
}

bool Writes(Format) { return true; }

bool EncodeImage(Format format, const payloads::Image& image, const Placement* placement, const std::string& wkt,
                 Bytes& out, std::string& error) {
    RegisterWriters();
    QuietErrors quiet;
    // The image's own pixels, seen by GDAL as four bands without a copy.
    Dataset source(GDALCreate(GDALGetDriverByName("MEM"), "", image.width, image.height, 0, GDT_Byte, nullptr));
    if (source == nullptr) {
        error = QuietErrors::Message("cannot create the image in memory");
        return false;
    }
    static const GDALColorInterp kInterp[4] = {GCI_RedBand, GCI_GreenBand, GCI_BlueBand, GCI_AlphaBand};
    for (int c = 0; c < 4; ++c) {
        // CPLPrintPointer does not end the text: what followed it on the stack
        // (digits a progress bar printed, say) would be read as more of the
        // address, and GDAL would read the pixels from elsewhere.
        char pointer[64];
        const int length =
            CPLPrintPointer(pointer, const_cast<std::uint8_t*>(image.rgba.data() + c), sizeof pointer - 1);
        pointer[length] = '\0';
        std::string options[3] = {std::string("DATAPOINTER=") + pointer, "PIXELOFFSET=4",
                                  "LINEOFFSET=" + std::to_string(static_cast<long long>(image.width) * 4)};
        const char* list[4] = {options[0].c_str(), options[1].c_str(), options[2].c_str(), nullptr};
        if (GDALAddBand(source.get(), GDT_Byte, const_cast<char**>(list)) != CE_None) {
            error = QuietErrors::Message("cannot create the image in memory");
            return false;
        }
        GDALSetRasterColorInterpretation(GDALGetRasterBand(source.get(), c + 1), kInterp[c]);
    }
    const bool tiff = format == Format::GeoTiff;
    if (tiff && placement != nullptr) {
        double t[6] = {placement->west, placement->pixelX, 0, placement->north, 0, -placement->pixelY};
        GDALSetGeoTransform(source.get(), t);
    }
    if (tiff && !wkt.empty()) {
        OGRSpatialReferenceH srs = OSRNewSpatialReference(nullptr);
        OSRSetAxisMappingStrategy(srs, OAMS_TRADITIONAL_GIS_ORDER);
        char* text = const_cast<char*>(wkt.c_str());
        const bool known =
            OSRImportFromWkt(srs, &text) == OGRERR_NONE && GDALSetSpatialRef(source.get(), srs) == CE_None;
        OSRDestroySpatialReference(srs);
        if (!known) {
            error = "GDAL does not understand the projection text: " + QuietErrors::Message("no reason given");
            return false;
        }
    }

    // Written in memory, handed out whole: the caller puts it in place.
    static std::atomic<unsigned> serial{0};
    const std::string name = "/vsimem/veltrane-" + std::to_string(serial++) + (tiff ? ".tif" : ".png");
    const char* tiffOptions[] = {"COMPRESS=DEFLATE", "TILED=YES", "PHOTOMETRIC=RGB", "ALPHA=YES", nullptr};
    Dataset written(GDALCreateCopy(GDALGetDriverByName(tiff ? "GTiff" : "PNG"), name.c_str(), source.get(), FALSE,
                                   tiff ? const_cast<char**>(tiffOptions) : nullptr, nullptr, nullptr));
    bool ok = written != nullptr;
    written.reset();  // flushed
    vsi_l_offset size = 0;
    GByte* bytes = ok ? VSIGetMemFileBuffer(name.c_str(), &size, FALSE) : nullptr;
    if (bytes != nullptr) out.assign(bytes, bytes + size);
    ok = ok && bytes != nullptr;
    if (!ok) error = QuietErrors::Message(tiff ? "GeoTIFF encoding failed" : "PNG encoding failed");
    VSIUnlink(name.c_str());
    VSIUnlink((name + ".aux.xml").c_str());
    return ok;
}

}  // namespace imagefile
}  // namespace vt
