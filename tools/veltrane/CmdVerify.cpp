// veltrane verify FILE: reads and decodes every tile through the library,
// names each one the library refuses, and says why in the library's terms.
#include <cstdio>

#include <unistd.h>

#include <CLI/CLI.hpp>

#include "Common.h"

namespace vt {
namespace cli {

namespace {

struct VerifyOptions : TileOptions {};

class Progress {
public:
    explicit Progress(uint64_t total) : total_(total), enabled_(::isatty(2) == 1 && total > 0) {}
    void Step(uint64_t done) {
        if (!enabled_) return;
        int percent = static_cast<int>(done * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        int bar = percent * 30 / 100;
        std::fprintf(stderr, "\r[%.*s%*s] %3d%%", bar, "##############################", 30 - bar, "", percent);
        std::fflush(stderr);
    }
    // Clears the bar before a message line.
    void Clear() {
        if (enabled_ && last_ >= 0) std::fprintf(stderr, "\r%*s\r", 40, "");
        last_ = -1;
    }

private:
    uint64_t total_;
    bool enabled_;
    int last_ = -1;
};

int RunVerify(const VerifyOptions& o) {
    OpenPyramid open = OpenTiles(o);
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    uint64_t total = 0, present = 0, missing = 0, bad = 0, bytes = 0;
    for (int level = 0; level < pyramid.levels(); ++level) total += uint64_t{1} << (2 * level);
    Progress progress(total);
    auto report = [&](const std::string& line) {
        progress.Clear();
        std::printf("BAD  %s\n", line.c_str());
        std::fflush(stdout);
    };
    if (!pyramid.indexComplete()) {
        report(o.file + ": the tile index is cut short (it ends at byte " + std::to_string(pyramid.indexEnd()) +
               ", the file has " + std::to_string(pyramid.fileSize()) + ")");
        ++bad;
    }
    uint64_t done = 0;
    for (int level = 0; level < pyramid.levels(); ++level) {
        int n = 1 << level;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x, progress.Step(++done)) {
                std::string why, where = pyramid.Where(level, x, y);
                Bytes payload;
                Pyramid::TileStatus status = pyramid.ReadTile(level, x, y, payload, why);
                if (status == Pyramid::TileStatus::Missing) {
                    ++missing;
                    continue;
                }
                if (status == Pyramid::TileStatus::EntryPastEnd) {
                    ++bad;  // already counted in the index line above
                    continue;
                }
                ++present;
                if (status == Pyramid::TileStatus::Ok && VerifyPayload(kind, payload, why)) {
                    bytes += payload.size();
                    continue;
                }
                ++bad;
                report(where + ": " + why);
            }
        }
    }
    progress.Clear();
    std::printf("%s: %llu tiles in %d levels, %llu present (%llu payload bytes decoded), %llu missing, %llu bad; "
                "payloads checked as %s\n",
                o.file.c_str(), static_cast<unsigned long long>(total), pyramid.levels(),
                static_cast<unsigned long long>(present), static_cast<unsigned long long>(bytes),
                static_cast<unsigned long long>(missing), static_cast<unsigned long long>(bad), KindDescription(kind));
    if (bad > 0) {
        Say(o.file + ": " + std::to_string(bad) + " bad tile(s)");
        return kExitFinding;
    }
    return kExitOk;
}

}  // namespace

Command AddVerify(CLI::App& app) {
    auto o = std::make_shared<VerifyOptions>();
    CLI::App* sub = app.add_subcommand(
        "verify", "Read and decode every tile; report each bad one by level/column/row (exit 1 if any)");
    AddTileOptions(sub, *o, "auto|image|image2|dem|dom|terrain|dds");
    return {sub, [o] { return RunVerify(*o); }};
}

}  // namespace cli
}  // namespace vt
