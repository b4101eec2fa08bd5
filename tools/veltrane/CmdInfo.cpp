// veltrane info FILE [--json]: what the header says and what the index holds.
#include <cstdio>
#include <sstream>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"

namespace vt {
namespace cli {

namespace {

struct InfoOptions {
    std::string file;
    bool json = false;
};

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char esc[8];
            std::snprintf(esc, sizeof esc, "\\u%04x", c);
            out += esc;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

struct LevelStats {
    uint64_t tiles = 0, present = 0, bytes = 0;
};

int RunInfo(const InfoOptions& o) {
    Pyramid pyramid(o.file);
    CVeltrane& r = pyramid.reader();
    char* wkt = nullptr;
    r.GetWktPrj(wkt);
    double left, top, width, height, fLeft, fTop, fWidth, fHeight;
    r.GetImageGeoInfo(left, top, width, height);
    r.GetFileGeoInfo(fLeft, fTop, fWidth, fHeight);
    int imageWidth = 0, imageHeight = 0;
    r.GetImageSize(imageWidth, imageHeight);
    unsigned long tileW = 0, tileH = 0;
    r.GetBlockSize(tileW, tileH);
    int levels = r.GetMaxLevel();
    int indexLevels = pyramid.header().indexLevels;
    double pixelX = width / imageWidth, pixelY = height / imageHeight;

    std::vector<LevelStats> stats(static_cast<size_t>(levels));
    for (int level = 0; level < levels; ++level) {
        int n = 1 << level;
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                Pyramid::Entry e = pyramid.ReadEntry(level, x, y);
                LevelStats& s = stats[static_cast<size_t>(level)];
                ++s.tiles;
                if (e.size > 0) {
                    ++s.present;
                    s.bytes += e.size;
                }
            }
    }
    std::string evidence;
    Kind kind = GuessKind(pyramid, evidence);

    if (o.json) {
        std::ostringstream j;
        j << "{\n  \"file\": " << JsonString(o.file) << ",\n  \"fileBytes\": " << pyramid.fileSize()
          << ",\n  \"projection\": " << JsonString(wkt) << ",\n  \"imageExtent\": {\"west\": " << FormatDouble(left)
          << ", \"north\": " << FormatDouble(top) << ", \"east\": " << FormatDouble(left + width)
          << ", \"south\": " << FormatDouble(top - height) << "},\n  \"pyramidExtent\": {\"west\": "
          << FormatDouble(fLeft) << ", \"north\": " << FormatDouble(fTop) << ", \"east\": "
          << FormatDouble(fLeft + fWidth) << ", \"south\": " << FormatDouble(fTop - fHeight)
          << "},\n  \"pixelSize\": [" << FormatDouble(pixelX) << ", " << FormatDouble(pixelY)
          << "],\n  \"imageSize\": [" << imageWidth << ", " << imageHeight << "],\n  \"tileSize\": [" << tileW
          << ", " << tileH << "],\n  \"levels\": " << levels << ",\n  \"indexLevels\": " << indexLevels
          << ",\n  \"payloadKind\": " << JsonString(KindName(kind)) << ",\n  \"perLevel\": [";
        for (int level = 0; level < levels; ++level) {
            const LevelStats& s = stats[static_cast<size_t>(level)];
            j << (level ? ",\n" : "\n") << "    {\"level\": " << level << ", \"tiles\": " << s.tiles
              << ", \"present\": " << s.present << ", \"payloadBytes\": " << s.bytes << "}";
        }
        j << "\n  ]\n}\n";
        std::fputs(j.str().c_str(), stdout);
        return kExitOk;
    }

    auto Short = [](double v) {
        char text[32];
        std::snprintf(text, sizeof text, "%.12g", v);
        return std::string(text);
    };
    std::printf("file            %s (%llu bytes)\n", o.file.c_str(), static_cast<unsigned long long>(pyramid.fileSize()));
    std::printf("projection      %s\n", wkt[0] ? wkt : "(none)");
    std::printf("image extent    west %s  north %s  east %s  south %s\n", Short(left).c_str(),
                Short(top).c_str(), Short(left + width).c_str(), Short(top - height).c_str());
    std::printf("pyramid extent  west %s  north %s  east %s  south %s\n", Short(fLeft).c_str(),
                Short(fTop).c_str(), Short(fLeft + fWidth).c_str(), Short(fTop - fHeight).c_str());
    std::printf("pixel size      %s x %s\n", Short(pixelX).c_str(), Short(pixelY).c_str());
    std::printf("image size      %d x %d pixels\n", imageWidth, imageHeight);
    std::printf("tile size       %lu x %lu pixels\n", tileW, tileH);
    std::printf("levels          %d", levels);
    if (indexLevels != levels) std::printf(" (the index counts %d levels)", indexLevels);
    std::printf("\npayloads        %s\n", kind == Kind::Auto ? "not recognised" : KindDescription(kind));
    std::printf("level  tiles  present  payload bytes\n");
    for (int level = 0; level < levels; ++level) {
        const LevelStats& s = stats[static_cast<size_t>(level)];
        std::printf("%5d  %5llu  %7llu  %13llu\n", level, static_cast<unsigned long long>(s.tiles),
                    static_cast<unsigned long long>(s.present), static_cast<unsigned long long>(s.bytes));
    }
    return kExitOk;
}

}  // namespace

Command AddInfo(CLI::App& app) {
    auto o = std::make_shared<InfoOptions>();
    CLI::App* sub = app.add_subcommand("info", "Show the header, georeferencing and per-level tile counts of a file");
    sub->add_option("FILE", o->file, "pyramid file")->required();
    sub->add_flag("--json", o->json, "print JSON instead of text");
    Describe(sub,
             "Prints the projection text, the image's and the whole pyramid's extent in map units, the pixel size "
             "of the finest level, the image and tile size, the level count and the payload kind the first payloads "
             "look like; then, per level, the tiles, how many of them are present and their payload bytes.\n\n"
             "The header is checked first: a header the file cannot hold (an index larger than the file, levels or "
             "sizes out of range) is reported as a damaged header, exit status 1.",
             {"veltrane info city.vtp", "veltrane info --json city.vtp"});
    return {sub, [o] { return RunInfo(*o); }};
}

}  // namespace cli
}  // namespace vt
