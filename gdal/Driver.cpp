// The GDAL driver "Veltrane": identification, opening and registration.
//
// Pyramid files carry no magic number, so identification checks what every
// pyramid file satisfies: a header whose fields are in range (a projection
// text that is text, bounds that form a rectangle, sizes and level counts that
// fit) and a tile index inside the file. A file whose header passes but whose
// index does not is most likely a damaged pyramid: it is handed to Open, which
// names the fault, rather than left to "not a supported format".
#include <cstring>

#include <cpl_string.h>

#include "Datasets.h"

namespace vt {
namespace gdal {

namespace {

constexpr int kHeaderAndFirstEntry = 332;

bool IsElevationName(const char* name) { return STARTS_WITH_CI(name, kElevationPrefix); }

std::string ElevationPath(const char* name) {
    std::string path = name + std::strlen(kElevationPrefix);
    if (path.size() >= 2 && path.front() == '"' && path.back() == '"') path = path.substr(1, path.size() - 2);
    return path;
}

int Identify(GDALOpenInfo* info) {
    if (IsElevationName(info->pszFilename)) return TRUE;
    if (info->fpL == nullptr || info->nHeaderBytes < kHeaderAndFirstEntry) return FALSE;
    PyramidHeader header;
    std::memcpy(&header, info->pabyHeader, sizeof header);
    std::string why;
    if (!HeaderFieldsInRange(header, why)) return FALSE;
    VSIStatBufL st;
    if (VSIStatL(info->pszFilename, &st) != 0 ||
        !IndexInsideFile(header, static_cast<std::uint64_t>(st.st_size), info->pabyHeader + 320, why))
        return GDAL_IDENTIFY_UNKNOWN;
    return TRUE;
}

// Decides how to read the file: the payload kind (open option KIND, or the
// command-line tool's guess from the first payloads, coarsest level first),
// whether the payloads carry alpha, and the side of the elevation grids.
bool ResolveView(GDALOpenInfo* info, PyramidView& view, std::string& source, std::string& why) {
    SharedPyramid& file = *view.file;
    const char* kindOption = CSLFetchNameValue(info->papszOpenOptions, "KIND");
    Kind named = Kind::Auto;
    if (kindOption != nullptr && (!kind::ParseKind(kindOption, named) || named == Kind::Terrain)) {
        why = std::string("unknown KIND=") + kindOption + " (image, image2, dem, dom or dds)";
        return false;
    }
    view.orthophoto = atoi(CSLFetchNameValueDef(info->papszOpenOptions, "ORTHOPHOTO", "-1"));

    std::vector<Bytes> examined =
        kind::FirstPayloads(file.header().maxLevel, [&file](int level, int x, int y, Bytes& payload) {
            std::string damage;
            return file.ReadTile(level, x, y, payload, damage) == SharedPyramid::TileStatus::Ok;
        });
    if (named != Kind::Auto) {
        view.kind = named;
        source = "open option KIND";
    } else if (examined.empty()) {
        view.kind = Kind::Image;
        source = "no payload to tell from; taken as image";
    } else {
        view.kind = kind::GuessKindOf(examined);
        const std::string looked = "the first " + std::to_string(examined.size()) + " payloads";
        if (view.kind == Kind::Terrain) {
            why = looked + " are terrain payloads, read by the terrain edition, which this driver does not load";
            return false;
        }
        if (view.kind == Kind::Auto) {
            why = "cannot tell the payload kind from " + looked +
                  "; name it with the open option KIND=image|image2|dem|dom|dds";
            return false;
        }
        source = "guessed from " + looked;
    }
    for (Bytes& payload : examined) {
        view.alpha = view.alpha || PayloadHasAlpha(file.library(), view.kind, payload);
        std::vector<float> samples;
        int n = 0;
        std::string damage;
        if ((view.kind == Kind::Dem || view.kind == Kind::Dom) && view.gridSide == 0 &&
            DecodeElevationGrid(payload, samples, n, damage))
            view.gridSide = n;
    }
    return true;
}

GDALDataset* Open(GDALOpenInfo* info) {
    if (Identify(info) == FALSE) return nullptr;
    if (info->eAccess == GA_Update) {
        CPLError(CE_Failure, CPLE_NotSupported, "The Veltrane driver reads pyramid files; it does not write them");
        return nullptr;
    }
    const bool elevation = IsElevationName(info->pszFilename);
    const std::string path = elevation ? ElevationPath(info->pszFilename) : std::string(info->pszFilename);
    PyramidView view;
    std::string why, source;
    view.file = SharedPyramid::Open(path, why);
    if (view.file == nullptr || !ResolveView(info, view, source, why)) {
        CPLError(CE_Failure, CPLE_OpenFailed, "%s: %s", path.c_str(), why.c_str());
        return nullptr;
    }
    const PyramidHeader& h = view.file->header();
    GDALPamDataset* dataset = nullptr;
    if (elevation) {
        if (view.gridSide == 0) {
            CPLError(CE_Failure, CPLE_OpenFailed, "%s: the first payloads hold no elevation grid", path.c_str());
            return nullptr;
        }
        dataset = ElevationDataset::Create(view);
    } else {
        if ((view.kind == Kind::Dem || view.kind == Kind::Dom) && (h.blockWidth != 256 || h.blockHeight != 256)) {
            CPLError(CE_Failure, CPLE_OpenFailed, "%s: orthophotos are 256 x 256, the file's tiles are %d x %d",
                     path.c_str(), h.blockWidth, h.blockHeight);
            return nullptr;
        }
        dataset = ImageDataset::Create(view);
        if (view.gridSide > 0) {
            std::string name = kElevationPrefix + path;
            dataset->SetMetadataItem("SUBDATASET_1_NAME", name.c_str(), "SUBDATASETS");
            dataset->SetMetadataItem("SUBDATASET_1_DESC", ("Elevation grids of " + path).c_str(), "SUBDATASETS");
        }
    }
    dataset->SetMetadataItem("VELTRANE_KIND", kind::KindName(view.kind));
    dataset->SetMetadataItem("VELTRANE_KIND_SOURCE", source.c_str());
    dataset->SetDescription(info->pszFilename);
    if (elevation)
        static_cast<ElevationDataset*>(dataset)->LoadAuxiliaryData(path);
    else
        static_cast<ImageDataset*>(dataset)->LoadAuxiliaryData();
    return dataset;
}

}  // namespace

}  // namespace gdal
}  // namespace vt

// Called by GDAL when it loads gdal_Veltrane.so from its plugin folder.
extern "C" __attribute__((visibility("default"))) void GDALRegister_Veltrane() {
    if (!GDAL_CHECK_VERSION("Veltrane driver")) return;
    if (GDALGetDriverByName("Veltrane") != nullptr) return;
    auto* driver = new GDALDriver();
    driver->SetDescription("Veltrane");
    driver->SetMetadataItem(GDAL_DCAP_RASTER, "YES");
    driver->SetMetadataItem(GDAL_DMD_LONGNAME, "Veltrane tile pyramid");
    driver->SetMetadataItem(GDAL_DMD_SUBDATASETS, "YES");
    driver->SetMetadataItem(
        GDAL_DMD_OPENOPTIONLIST,
        "<OpenOptionList>"
        "  <Option name='KIND' type='string-select' description='Payload kind; guessed from the first payloads "
        "when not given'>"
        "    <Value>image</Value><Value>image2</Value><Value>dem</Value><Value>dom</Value><Value>dds</Value>"
        "  </Option>"
        "  <Option name='ORTHOPHOTO' type='int' description='Orthophoto id of DEM/DOM packets (default: the first "
        "of each packet)'/>"
        "</OpenOptionList>");
    driver->pfnIdentify = vt::gdal::Identify;
    driver->pfnOpen = vt::gdal::Open;
    GetGDALDriverManager()->RegisterDriver(driver);
}
