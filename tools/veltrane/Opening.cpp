// The opening every tile-reading command shares: --kind and --edition, the
// file, and the payload kind, guessed from the first payloads when the user
// does not name it (the file does not record it).
#include <CLI/CLI.hpp>

#include "Common.h"

namespace vt {
namespace cli {

Kind GuessKind(Pyramid& pyramid, std::string& evidence) {
    return kind::GuessFileKind(
        pyramid.levels(),
        [&pyramid](int level, int x, int y, std::vector<unsigned char>& payload) {
            std::string why;
            return pyramid.ReadTile(level, x, y, payload, why) == Pyramid::TileStatus::Ok;
        },
        evidence);
}

Kind ResolveKind(std::unique_ptr<Pyramid>& opened, Kind kind, const std::string& edition) {
    Pyramid& pyramid = *opened;
    bool guessed = kind == Kind::Auto;
    if (guessed) {
        std::string evidence;
        kind = GuessKind(pyramid, evidence);
        // Unrecognisable payloads are a finding about the file (it is damaged,
        // or holds a kind the tool does not know), not a misused command line.
        if (kind == Kind::Auto)
            Fail(kExitFinding, pyramid.path() + ": cannot tell the payload kind (" + evidence +
                                 "); name it with --kind image|image2|dem|dom|terrain|dds");
        Say(pyramid.path() + ": no --kind given; the payloads look like " + KindDescription(kind) + " (" +
            evidence + "), so --kind " + KindName(kind));
    }
    // Terrain payloads belong to the other edition's tool; this does not return
    // when it hands over.
    ForwardToTerrainEdition(kind, edition, guessed, opened);
    if (!KindInThisEdition(kind))
        Fail(kExitUsage, pyramid.path() + ": --kind " + KindName(kind) +
                             " is read by the current edition, not the terrain edition");
    return kind;
}

void AddTileOptions(CLI::App* sub, TileOptions& options, const std::string& kinds) {
    sub->add_option("FILE", options.file, "pyramid file")->required();
    sub->add_option("--kind", options.kind, "payload kind: " + kinds)->capture_default_str();
    sub->add_option("--edition", options.edition, "library edition: current|terrain")
        ->check(CLI::IsMember({"current", "terrain"}))
        ->capture_default_str();
}

OpenPyramid OpenTiles(const TileOptions& options, const std::function<void(const Pyramid&)>& check) {
    Kind requested = Kind::Auto;
    if (!ParseKind(options.kind, requested)) Fail(kExitUsage, "unknown --kind " + options.kind);
    OpenPyramid open;
    open.pyramid.reset(new Pyramid(options.file));
    if (check) check(*open.pyramid);
    open.kind = ResolveKind(open.pyramid, requested, options.edition);
    return open;
}

}  // namespace cli
}  // namespace vt
