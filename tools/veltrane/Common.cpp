#include "Common.h"
#include "Progress.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <sstream>

#include "PyramidWriter.h"
#include "System.h"

namespace vt {
namespace cli {

void Fail(int code, const std::string& message) { throw Failure{code, message}; }

void Say(const std::string& message) {
    Progress::Interrupt();
    std::fprintf(stderr, "veltrane: %s\n", message.c_str());
}

bool KindInThisEdition(Kind kind) {
#if defined(VELTRANE_EDITION_TERRAIN)
    return kind == Kind::Image || kind == Kind::Terrain;
#else
    return kind != Kind::Terrain && kind != Kind::Auto;
#endif
}

bool ParseLayout(const std::string& text, Layout& layout) {
    for (Layout l : {Layout::Dxt1, Layout::Dxt1Mips, Layout::Dxt5Mips, Layout::Rgb, Layout::Rgb565, Layout::Rgba})
        if (text == LayoutName(l)) {
            layout = l;
            return true;
        }
    return false;
}

const char* LayoutName(Layout layout) {
    switch (layout) {
        case Layout::Dxt1: return "dxt1";
        case Layout::Dxt1Mips: return "dxt1mips";
        case Layout::Dxt5Mips: return "dxt5mips";
        case Layout::Rgb: return "rgb";
        case Layout::Rgb565: return "rgb565";
        case Layout::Rgba: return "rgba";
        default: return "default";
    }
}

// ---- Pyramid -------------------------------------------------------------------

namespace {

constexpr int kMaxLevels = 20;  // 4^20 index entries is already a 13 TB index
constexpr int kMaxTileSide = 8192;
constexpr uint32_t kMaxPayload = 256u << 20;

uint64_t Pow4(int e) { return uint64_t{1} << (2 * e); }

struct CloseFile {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

Pyramid::Pyramid(const std::string& path) : path_(path), reader_(new CVeltrane) {
    // Every way a file cannot be read is a finding about that file (exit 1),
    // as with any other file tool; only the command line itself is bad usage.
    sys::PathStatus status;
    if (!sys::StatusOf(path, status)) Fail(kExitFinding, path + ": cannot open: " + std::strerror(errno));
    if (status.directory) Fail(kExitFinding, path + ": is a directory, not a pyramid file");
    fileSize_ = status.size;
    // The header and the whole index are read before the library opens the
    // file, through a handle of our own that is closed again: the library
    // opens the file exclusively, and on Windows that refuses a second
    // handle, this program's own included.
    ReadHeaderAndIndex();
    if (!reader_->Veltrane(path.c_str()))
        Fail(kExitFinding, path + ": cannot open: the file is held open by another program");
}

void Pyramid::ReadHeaderAndIndex() {
    const std::string& path = path_;
    std::unique_ptr<std::FILE, CloseFile> file(std::fopen(path.c_str(), "rb"));
    if (file == nullptr) Fail(kExitFinding, path + ": cannot open: " + std::strerror(errno));
    if (fileSize_ < sizeof(PyramidHeader))
        Fail(kExitFinding, path + ": damaged header: the file has " + std::to_string(fileSize_) +
                               " bytes, a pyramid header alone takes 320");
    if (std::fread(&header_, sizeof header_, 1, file.get()) != 1)
        Fail(kExitFinding, path + ": cannot read the header");

    const PyramidHeader& h = header_;
    auto bad = [&](const std::string& what) { Fail(kExitFinding, path + ": damaged header: " + what); };
    if (std::memchr(h.wktPrj, 0, sizeof h.wktPrj) == nullptr) bad("the projection text is not terminated");
    if (h.maxLevel < 1 || h.maxLevel > kMaxLevels) bad("level count " + std::to_string(h.maxLevel) + " out of range");
    if (h.indexLevels < 1 || h.indexLevels > kMaxLevels)
        bad("index level count " + std::to_string(h.indexLevels) + " out of range");
    if (h.indexLevels < h.maxLevel)
        bad("the index holds " + std::to_string(h.indexLevels) + " levels, fewer than the " +
            std::to_string(h.maxLevel) + " the header announces");
    // The index of S levels, (4^S - 1) / 3 entries of 12 bytes, sits right
    // behind the header: a file of N bytes holds at most (N - 320) / 12 of
    // them. A header claiming more is damaged, and is said to be at once
    // rather than found out by reading billions of entries that are not there.
    indexEntries_ = (Pow4(h.indexLevels) - 1) / 3;
    const uint64_t room = (fileSize_ - sizeof(PyramidHeader)) / 12;
    if (indexEntries_ > room)
        bad(std::to_string(h.indexLevels) + " index levels need " + std::to_string(indexEntries_) +
            " index entries, the file has room for " + std::to_string(room));
    if (h.blockWidth < 1 || h.blockWidth > kMaxTileSide || h.blockHeight != h.blockWidth)
        bad("tile size " + std::to_string(h.blockWidth) + " x " + std::to_string(h.blockHeight) + " not supported");
    double span = std::ldexp(static_cast<double>(h.blockWidth), h.maxLevel - 1);
    if (h.imageWidth < 1 || h.imageHeight < 1 || h.imageWidth > span || h.imageHeight > span)
        bad("image size " + std::to_string(h.imageWidth) + " x " + std::to_string(h.imageHeight) +
            " does not fit the pyramid");
    if (!std::isfinite(h.minX) || !std::isfinite(h.maxX) || !std::isfinite(h.minY) || !std::isfinite(h.maxY) ||
        !(h.maxX > h.minX) || !(h.maxY > h.minY))
        bad("bounds are not a rectangle");

    // The file holds the whole index (checked above), so it takes at most
    // the file's size in memory; one sequential read goes at the disk's
    // speed, and commands that walk every entry read nothing more.
    if (indexEntries_ > std::numeric_limits<size_t>::max() / 12)  // a 32-bit program
        Fail(kExitFinding, path + ": the tile index of " + std::to_string(indexEntries_) +
                               " entries is too large for this program's memory");
    index_.resize(static_cast<size_t>(indexEntries_ * 12));
    if (std::fread(index_.data(), 1, index_.size(), file.get()) != index_.size())
        Fail(kExitFinding, path + ": cannot read the tile index: " +
                               (std::ferror(file.get()) ? std::strerror(errno) : "the file ended early"));
}

double Pyramid::LevelPixelX(int level) const {
    return std::ldexp((header_.maxX - header_.minX) / header_.imageWidth, header_.maxLevel - 1 - level);
}

double Pyramid::LevelPixelY(int level) const {
    return std::ldexp((header_.maxY - header_.minY) / header_.imageHeight, header_.maxLevel - 1 - level);
}

void Pyramid::LevelImageSize(int level, int& width, int& height) const {
    int shift = header_.maxLevel - 1 - level;
    width = static_cast<int>((static_cast<int64_t>(header_.imageWidth) + (int64_t{1} << shift) - 1) >> shift);
    height = static_cast<int>((static_cast<int64_t>(header_.imageHeight) + (int64_t{1} << shift) - 1) >> shift);
}

void Pyramid::TileBounds(int level, int x, int y, double& minX, double& minY, double& maxX, double& maxY) const {
    double spanX = LevelPixelX(level) * header_.blockWidth, spanY = LevelPixelY(level) * header_.blockHeight;
    minX = header_.minX + x * spanX;
    maxX = minX + spanX;
    maxY = header_.maxY - y * spanY;
    minY = maxY - spanY;
}

Pyramid::Entry Pyramid::ReadEntry(int level, int x, int y) const {
    uint64_t number = 0;
    for (int j = level + 1; j < header_.indexLevels; ++j) number += Pow4(j);
    number += (static_cast<uint64_t>(y) << level) + static_cast<uint64_t>(x);
    Entry entry;
    if (number >= indexEntries_) return entry;  // no such tile: callers check addresses first
    const unsigned char* raw = index_.data() + 12 * number;
    uint64_t offset = 0;
    for (int i = 7; i >= 0; --i) offset = offset << 8 | raw[i];
    entry.offset = static_cast<int64_t>(offset);
    entry.size = payloads::GetU32(raw + 8);
    return entry;
}

std::string Pyramid::Where(int level, int x, int y) const {
    return path_ + " tile " + std::to_string(level) + "/" + std::to_string(x) + "/" + std::to_string(y);
}

void Pyramid::CheckTileAddress(int level, int x, int y) const {
    if (level < 0 || level >= header_.maxLevel)
        Fail(kExitUsage, path_ + ": level " + std::to_string(level) + " out of range (the file has levels 0 to " +
                             std::to_string(header_.maxLevel - 1) + ")");
    int n = 1 << level;
    if (x < 0 || y < 0 || x >= n || y >= n)
        Fail(kExitUsage, path_ + ": tile " + std::to_string(x) + "/" + std::to_string(y) + " out of range (level " +
                             std::to_string(level) + " has columns and rows 0 to " + std::to_string(n - 1) + ")");
}

Pyramid::TileStatus Pyramid::ReadTile(int level, int x, int y, Bytes& payload, std::string& why) {
    payload.clear();
    Entry entry = ReadEntry(level, x, y);
    if (entry.size == 0) return TileStatus::Missing;
    if (entry.offset < 0 || static_cast<uint64_t>(entry.offset) >= fileSize_) {
        why = "entry points past the end of the file (offset " + std::to_string(entry.offset) + ", file " +
              std::to_string(fileSize_) + " bytes)";
        return TileStatus::PayloadPastEnd;
    }
    if (static_cast<uint64_t>(entry.offset) + entry.size > fileSize_) {
        why = "payload cut short (" + std::to_string(fileSize_ - static_cast<uint64_t>(entry.offset)) + " of " +
              std::to_string(entry.size) + " bytes in the file)";
        return TileStatus::CutShort;
    }
    if (entry.size > kMaxPayload) {
        why = "payload size " + std::to_string(entry.size) + " is implausible";
        return TileStatus::ReadFailed;
    }
    payload.resize(entry.size);
    int size = 0;
    if (!reader_->GetImage(level, x, y, payload.data(), size) || static_cast<uint32_t>(size) != entry.size) {
        why = "the library could not read the payload";
        payload.clear();
        return TileStatus::ReadFailed;
    }
    return TileStatus::Ok;
}

// ---- output --------------------------------------------------------------------

void WriteOutput(const std::string& path, const Bytes& bytes) {
    if (!writer::WriteBytes(path, bytes)) Fail(kExitFinding, path + ": cannot write: " + std::strerror(errno));
}

void WriteOutputText(const std::string& path, const std::string& text) {
    WriteOutput(path, Bytes(text.begin(), text.end()));
}

std::string Extension(const std::string& path) {
    size_t slash = path.find_last_of(sys::PathSeparators()), dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
    std::string ext = path.substr(dot);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext;
}

std::string FormatDouble(double v) {
    char text[64];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// ---- editions ------------------------------------------------------------------

namespace {
std::vector<std::string> g_arguments;
}

void SetCommandLine(int argc, char** argv) { g_arguments.assign(argv, argv + argc); }

void ForwardToTerrainEdition(Kind kind, const std::string& edition, bool kindWasGuessed,
                             std::unique_ptr<Pyramid>& pyramid) {
#if defined(VELTRANE_EDITION_TERRAIN)
    (void)kind;
    (void)edition;
    (void)kindWasGuessed;
    (void)pyramid;
#else
    if (kind != Kind::Terrain && edition != "terrain") return;
    const std::string folder = sys::ProgramFolder();
    if (folder.empty()) Fail(kExitFinding, "cannot locate veltrane-terrain (the terrain edition's tool)");
    const std::string program = folder + VT_TERRAIN_TOOL;
    std::vector<std::string> args = g_arguments;
    args[0] = program;
    if (kindWasGuessed) {
        args.push_back("--kind");
        args.push_back(KindName(kind));
    }
    pyramid.reset();
    const int status = sys::RunInstead(program, args);
    if (status < 0) Fail(kExitFinding, "cannot run " + program + ": " + std::strerror(errno));
    std::fflush(stdout);
    std::exit(status);
#endif
}

}  // namespace cli
}  // namespace vt
