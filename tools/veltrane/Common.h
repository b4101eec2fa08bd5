// Shared pieces of the `veltrane` command-line tool: exit codes, messages,
// the open pyramid file with its own view of the header and tile index, the
// opening every tile-reading command makes, decoding through the library,
// and output files written safely.
//
// The same sources build two executables: `veltrane` against the current
// edition of the library and `veltrane-terrain` against the terrain edition
// (VELTRANE_EDITION_TERRAIN). `veltrane` hands terrain work to the second one.
#ifndef VELTRANE_TOOLS_VELTRANE_COMMON_H
#define VELTRANE_TOOLS_VELTRANE_COMMON_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Veltrane.h"
#include "Image.h"
#include "PayloadKind.h"
#include "Payloads.h"

namespace CLI {
class App;
}

namespace vt {
namespace cli {

using payloads::Bytes;
using payloads::Image;

enum ExitCode { kExitOk = 0, kExitFinding = 1, kExitUsage = 2 };

// Thrown to end a command with one message on stderr and an exit code.
struct Failure {
    int code;
    std::string message;
};
[[noreturn]] void Fail(int code, const std::string& message);

// One line on stderr, prefixed with the program name.
void Say(const std::string& message);

using kind::Kind;
using kind::KindDescription;
using kind::KindName;
using kind::ParseKind;
// Whether this executable's edition decodes `kind`.
bool KindInThisEdition(Kind kind);

// Output layouts a user can ask for.
enum class Layout { Default, Dxt1, Dxt1Mips, Dxt5Mips, Rgb, Rgb565, Rgba };
bool ParseLayout(const std::string& text, Layout& layout);
const char* LayoutName(Layout layout);

// An open pyramid file. The library object reads tiles; the tool also reads
// the header and the index entries itself, because it checks what the
// library deliberately does not: entries that point past the end of the
// file, header fields out of range.
class Pyramid {
public:
    // Opens `path`; on failure Fail()s with a message naming the file.
    explicit Pyramid(const std::string& path);
    Pyramid(const Pyramid&) = delete;
    Pyramid& operator=(const Pyramid&) = delete;

    CVeltrane& reader() { return *reader_; }
    const std::string& path() const { return path_; }
    const PyramidHeader& header() const { return header_; }
    uint64_t fileSize() const { return fileSize_; }
    int levels() const { return header_.maxLevel; }
    int tileSize() const { return header_.blockWidth; }

    // Pixel size of a level in map units, and the image's size at it.
    double LevelPixelX(int level) const;
    double LevelPixelY(int level) const;
    void LevelImageSize(int level, int& width, int& height) const;
    void TileBounds(int level, int x, int y, double& minX, double& minY, double& maxX, double& maxY) const;

    struct Entry {
        int64_t offset = 0;
        uint32_t size = 0;
    };
    // The index entry of a tile (from the index read when the file was
    // opened).
    Entry ReadEntry(int level, int x, int y) const;

    enum class TileStatus { Ok, Missing, PayloadPastEnd, CutShort, ReadFailed };
    // Reads a tile through the library after checking its entry. `why` gets a
    // description of anything but Ok / Missing.
    TileStatus ReadTile(int level, int x, int y, Bytes& payload, std::string& why);

    // "FILE tile L/C/R" for messages.
    std::string Where(int level, int x, int y) const;

    // Throws Failure(kExitUsage) unless (level, x, y) addresses a tile.
    void CheckTileAddress(int level, int x, int y) const;

private:
    void ReadHeaderAndIndex();

    std::string path_;
    std::unique_ptr<CVeltrane> reader_;
    PyramidHeader header_{};
    uint64_t fileSize_ = 0;
    uint64_t indexEntries_ = 0;  // entries of the whole index, all inside the file
    std::vector<unsigned char> index_;  // the whole index, 12 bytes an entry
};

// Looks at the first present payloads (coarsest level first) and names the
// kind they look like; Auto when nothing fits. `evidence` explains.
Kind GuessKind(Pyramid& pyramid, std::string& evidence);

// Resolves `kind` for `pyramid` (guessing and saying so when Auto). Hands the
// whole command to `veltrane-terrain` when the kind or `edition` asks for the
// terrain edition, closing `pyramid` first. Fails with a usage error when the
// kind cannot be found or is not in this edition.
Kind ResolveKind(std::unique_ptr<Pyramid>& pyramid, Kind kind, const std::string& edition);

// ---- the opening of every command that reads tiles ----------------------------

// FILE, --kind and --edition.
struct TileOptions {
    std::string file, kind = "auto", edition = "current";
};
// Adds them to `sub` (FILE first among the positional arguments); `kinds`
// lists the kinds the command takes, for the help text.
void AddTileOptions(CLI::App* sub, TileOptions& options, const std::string& kinds);

struct OpenPyramid {
    std::unique_ptr<Pyramid> pyramid;
    Kind kind = Kind::Auto;
};
// Parses --kind, opens the file, runs `check` (for the command's own usage
// errors, such as a tile address, which come before a guess) and resolves
// the kind. Fails with the matching exit code.
OpenPyramid OpenTiles(const TileOptions& options, const std::function<void(const Pyramid&)>& check = nullptr);

// In `veltrane`: when `kind` belongs to the terrain edition (or `edition` asks
// for it), closes `pyramid` (the reader opens files exclusively, and the other
// tool opens this one itself) and runs `veltrane-terrain` with the same
// arguments in this process's place: the process ends with its exit status.
// Returns when the current edition handles the kind.
void ForwardToTerrainEdition(Kind kind, const std::string& edition, bool kindWasGuessed,
                             std::unique_ptr<Pyramid>& pyramid);
// Remembered by main() for ForwardToTerrainEdition.
void SetCommandLine(int argc, char** argv);

// ---- payload decoding ------------------------------------------------------

// What a decoded tile looks like, and what its decode call was told.
struct TileInfo {
    int width = 0, height = 0;
    int channels = 3;          // 4 when the payload carries alpha
    bool leadingByte = false;  // image and DDS payloads
    int id = -1;               // the orthophoto of a DOM packet
};

// Decodes one payload through the library into RGBA pixels. On failure
// returns false with the reason, in the library's terms. `id` picks the
// orthophoto of a DOM packet (-1: the first); an elevation grid is drawn as
// a grey tileSize x tileSize image.
bool DecodeTileImage(Kind kind, Bytes& payload, int tileSize, int id, Image& image, std::string& why);

// Decode into a DXT texture with its mip chain (or one level for Dxt1).
struct DxtTexture {
    int width = 0, height = 0, mipCount = 0;
    bool dxt5 = false;
    Bytes blocks;
};
bool DecodeTileDxt(Kind kind, Bytes& payload, int id, Layout layout, DxtTexture& texture, std::string& why);

// Decode into one of the library's raw layouts (BGR, 5:6:5, BGRA, DXT).
bool DecodeTileLayout(Kind kind, Bytes& payload, int id, Layout layout, Bytes& out, TileInfo& info,
                      std::string& why);

// The library's verdict on a payload of `kind`: true when every decode
// member a host calls for it succeeds (for packets and terrain payloads,
// those of every section and orthophoto too); otherwise false and the reason.
bool VerifyPayload(Kind kind, Bytes& payload, std::string& why);

// Inflated elevation grid of a DEM/DOM packet or terrain payload.
bool ElevationGridOf(Kind kind, Bytes& payload, Bytes& grid, std::string& why);

// ---- output ------------------------------------------------------------------

// Writes through a temporary name and a rename: the target either appears
// whole or not at all. Fails with a message naming the file.
void WriteOutput(const std::string& path, const Bytes& bytes);
void WriteOutputText(const std::string& path, const std::string& text);
std::string Extension(const std::string& path);  // lower case, with the dot
std::string FormatDouble(double v);

// ---- subcommands ---------------------------------------------------------------

using Runner = std::function<int()>;
struct Command {
    CLI::App* app;
    Runner run;
};
Command AddSample(CLI::App& app);
Command AddBuild(CLI::App& app);
Command AddInfo(CLI::App& app);
Command AddExtract(CLI::App& app);
Command AddMosaic(CLI::App& app);
Command AddVerify(CLI::App& app);
Command AddElevation(CLI::App& app);
Command AddBench(CLI::App& app);

}  // namespace cli
}  // namespace vt

#endif  // VELTRANE_TOOLS_VELTRANE_COMMON_H
