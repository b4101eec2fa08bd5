// veltrane verify FILE: reads and decodes every tile through the library,
// names each one the library refuses, and says why in the library's terms.
#include <cstdio>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"
#include "Progress.h"

namespace vt {
namespace cli {

namespace {

struct VerifyOptions : TileOptions {};

int RunVerify(const VerifyOptions& o) {
    OpenPyramid open = OpenTiles(o);
    Pyramid& pyramid = *open.pyramid;
    const Kind kind = open.kind;

    uint64_t total = 0, present = 0, missing = 0, bad = 0, bytes = 0;
    for (int level = 0; level < pyramid.levels(); ++level) total += uint64_t{1} << (2 * level);
    Progress progress("verify", total);
    auto report = [&](const std::string& line) {
        Progress::Interrupt();
        std::printf("BAD  %s\n", line.c_str());
        std::fflush(stdout);
    };
    for (int level = 0; level < pyramid.levels(); ++level) {
        int n = 1 << level;
        for (int y = 0; y < n; ++y) {
            for (int x = 0; x < n; ++x, progress.Advance()) {
                std::string why;
                Bytes payload;
                Pyramid::TileStatus status = pyramid.ReadTile(level, x, y, payload, why);
                if (status == Pyramid::TileStatus::Missing) {
                    ++missing;
                    continue;
                }
                ++present;
                if (status == Pyramid::TileStatus::Ok && VerifyPayload(kind, payload, why)) {
                    bytes += payload.size();
                    continue;
                }
                ++bad;
                report(pyramid.Where(level, x, y) + ": " + why);
            }
        }
    }
    Progress::Interrupt();
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
    Progress::AddQuietOption(sub);
    Describe(sub,
             "Reads every tile's index entry and payload, and hands each payload to the library with every decode "
             "call a host makes for its kind (for packets and terrain payloads, those of every section too). Each "
             "bad tile is printed on stdout as 'BAD  FILE tile LEVEL/COLUMN/ROW: reason', in the library's terms, "
             "and a summary line ends the report. Exit status 1 when any tile is bad.",
             {"veltrane verify city.vtp", "veltrane verify --kind dds --quiet textures.vtp"});
    return {sub, [o] { return RunVerify(*o); }};
}

}  // namespace cli
}  // namespace vt
