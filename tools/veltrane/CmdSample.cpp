// veltrane sample DIR: deterministic sample pyramids, one per payload kind,
// over a procedurally generated patch of mountains.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>

#include <CLI/CLI.hpp>

#include "Common.h"
#include "Manual.h"
#include "PyramidWriter.h"
#include "Procedural.h"
#include "System.h"

namespace vt {
namespace cli {

namespace {

using payloads::Area;
using payloads::Codec;
using payloads::LevelImages;
using payloads::TileAlphaPlane;
using writer::HeaderFields;
using writer::PyramidWriter;

struct SampleOptions {
    std::string dir;
};

constexpr int kTile = 256;

HeaderFields Header(const Area& area, int levels) {
    HeaderFields f;
    const char lead[8] = {'V', 'T', 'S', 'A', 'M', 'P', 'L', 'E'};
    std::memcpy(f.leadIn.data(), lead, 8);
    f.wkt = payloads::kSampleWkt;
    f.minX = area.west;
    f.maxX = area.East();
    f.maxY = area.north;
    f.minY = area.South();
    f.imageWidth = area.width;
    f.imageHeight = area.height;
    f.blockWidth = f.blockHeight = kTile;
    f.maxLevel = f.indexLevels = levels;
    return f;
}

std::string Write(const std::string& dir, const std::string& name, const PyramidWriter& w, const char* what) {
    std::string path = dir + "/" + name;
    if (!w.WriteFile(path)) Fail(kExitFinding, path + ": cannot write: " + std::strerror(errno));
    sys::PathStatus written;
    sys::StatusOf(path, written);
    std::printf("  %-14s %8llu bytes  %s\n", name.c_str(), static_cast<unsigned long long>(written.size), what);
    return path;
}

// Image tiles: compact JPEG at quality 75, with an alpha stream where the
// survey boundary leaves no-data pixels; every third opaque tile JPEG 2000.
void ImageSample(const std::string& dir, const Area& area, const Image& rendered) {
    const int levels = 3;
    PyramidWriter w(Header(area, levels));
    std::vector<Image> images = LevelImages(rendered, levels);
    for (int l = 0; l < levels; ++l) {
        int n = 1 << l;
        const Image& image = images[static_cast<size_t>(l)];
        for (int y = 0; y < n && y * kTile < image.height; ++y)
            for (int x = 0; x < n && x * kTile < image.width; ++x) {
                std::vector<uint8_t> outside;
                Image tile = payloads::CutTile(image, x, y, kTile, &outside);
                bool any, all;
                Bytes alpha = TileAlphaPlane(tile, outside, any, all);
                if (all) continue;  // nothing surveyed here: no tile
                Bytes payload;
                if (!any && (x + y + l) % 3 == 0)
                    payload = payloads::ImagePayload(Codec::Jpeg2000, payloads::EncodeJpeg2000(tile, false, 40.0f),
                                                     nullptr, true);
                else
                    payload = payloads::ImagePayload(Codec::CompactJpeg, payloads::EncodeCompactJpeg(tile, 75),
                                                     any ? &alpha : nullptr, true);
                w.SetTile(l, x, y, std::move(payload));
            }
    }
    Write(dir, "image.vtp", w, "image tiles: compact JPEG (some with alpha), JPEG 2000");
}

// Second-generation image tiles, alpha blocks where pixels are transparent.
void Image2Sample(const std::string& dir) {
    Area area;
    area.west = 13.05;
    area.north = 47.26;
    area.width = area.height = 512;
    const int levels = 2;
    Image rendered = payloads::RenderTerrain(area, payloads::HeightField(area), true);
    std::vector<Image> images = LevelImages(rendered, levels);
    PyramidWriter w(Header(area, levels));
    for (int l = 0; l < levels; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                std::vector<uint8_t> outside;
                Image tile = payloads::CutTile(images[static_cast<size_t>(l)], x, y, kTile, &outside);
                bool any, all;
                Bytes alpha = TileAlphaPlane(tile, outside, any, all);
                if (all) continue;
                w.SetTile(l, x, y, payloads::NewImagePayload(payloads::EncodeCompactJpeg(tile, 80), any ? &alpha : nullptr));
            }
    Write(dir, "image2.vtp", w, "second-generation image tiles");
}

// Elevation grid of a tile: n x n heights, row 0 on the north edge, column 0
// on the west edge, one spacing short of the south and east edges.
Bytes TileGrid(double west, double north, double span, int n) {
    std::vector<float> heights(static_cast<size_t>(n) * n);
    for (int r = 0; r < n; ++r)
        for (int c = 0; c < n; ++c)
            heights[static_cast<size_t>(r) * n + c] =
                static_cast<float>(payloads::TerrainHeight(west + c * span / n, north - r * span / n));
    return payloads::ElevationGrid(n, heights);
}

// A regular triangle mesh over a vertices x vertices grid, 16-bit indices.
Bytes GridMesh(int vertices) {
    Bytes out;
    for (int r = 0; r + 1 < vertices; ++r)
        for (int c = 0; c + 1 < vertices; ++c) {
            uint32_t a = static_cast<uint32_t>(r * vertices + c), b = a + 1, d = a + static_cast<uint32_t>(vertices),
                     e = d + 1;
            for (uint32_t i : {a, d, b, b, d, e}) payloads::PutU16(out, i);
        }
    return out;
}

// A square area on a coarser grid for the packet and terrain samples.
Area PacketArea() {
    Area area;
    area.pixel = 2.0 / 3600.0;
    area.width = area.height = 512;
    return area;
}

void DemSample(const std::string& dir) {
    Area area = PacketArea();
    const int levels = 2;
    std::vector<float> heights = payloads::HeightField(area);
    std::vector<Image> color = LevelImages(payloads::RenderTerrain(area, heights, false), levels);
    std::vector<Image> shade = LevelImages(payloads::RenderHillshade(area, heights), levels);
    PyramidWriter w(Header(area, levels));
    for (int l = 0; l < levels; ++l) {
        double span = area.pixel * kTile * (1 << (levels - 1 - l));
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                Bytes grid = TileGrid(area.west + x * span, area.north - y * span, span, 64);
                std::vector<std::pair<uint8_t, Bytes>> orthos;
                orthos.emplace_back(1, payloads::EncodeJpeg2000(
                                           payloads::CutTile(color[static_cast<size_t>(l)], x, y, kTile), false, 38.0f));
                orthos.emplace_back(2, payloads::EncodeJpeg2000(
                                           payloads::CutTile(shade[static_cast<size_t>(l)], x, y, kTile), false, 36.0f));
                w.SetTile(l, x, y, payloads::DemDomPacket(&grid, orthos));
            }
    }
    Write(dir, "dem.vtp", w, "DEM/DOM packets: 64 x 64 elevation grid, orthophotos 1 (color) and 2 (hill-shade)");
}

void TerrainSample(const std::string& dir) {
    Area area = PacketArea();
    const int levels = 2;
    std::vector<Image> color = LevelImages(payloads::RenderTerrain(area, payloads::HeightField(area), false), levels);
    Bytes mesh = GridMesh(33), tiny = GridMesh(9);
    PyramidWriter w(Header(area, levels));
    const std::array<uint8_t, 5> version = {'1', '.', '0', '.', '0'};
    for (int l = 0; l < levels; ++l) {
        double span = area.pixel * kTile * (1 << (levels - 1 - l));
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                Bytes grid = TileGrid(area.west + x * span, area.north - y * span, span, 33);
                Bytes image = payloads::EncodeJpeg2000(payloads::CutTile(color[static_cast<size_t>(l)], x, y, kTile),
                                                       false, 38.0f);
                w.SetTile(l, x, y, payloads::TerrainPayload(version, image, {&mesh, &tiny, nullptr, nullptr, &grid}));
            }
    }
    Write(dir, "terrain.vtp", w, "terrain payloads: image, index and tiny index meshes, 33 x 33 elevation grid");
}

// DDS payloads: DXT1 textures with mip chains, made by the library itself
// from JPEG 2000 image payloads.
void DdsSample(const std::string& dir) {
    Area area = PacketArea();
    const int levels = 2;
    std::vector<Image> color = LevelImages(payloads::RenderTerrain(area, payloads::HeightField(area), false), levels);
    PyramidWriter w(Header(area, levels));
    CVeltrane reader;
    for (int l = 0; l < levels; ++l)
        for (int y = 0; y < (1 << l); ++y)
            for (int x = 0; x < (1 << l); ++x) {
                Bytes image = payloads::ImagePayload(
                    Codec::Jpeg2000,
                    payloads::EncodeJpeg2000(payloads::CutTile(color[static_cast<size_t>(l)], x, y, kTile), true),
                    nullptr, false);
                Bytes chain(payloads::DxtChainBytes(kTile, kTile, false));
                reader.DecodeImage(image.data(), static_cast<unsigned long>(image.size()), chain.data(),
                                   OutputDXT1Mipmaps, false);
                payloads::SwapRedBlueInDxt(chain.data(), chain.size(), false);
                int mips = payloads::MipLevelCount(kTile, kTile);
                Bytes dds = payloads::DdsFile(kTile, kTile, false, mips, chain.data(), chain.size());
                w.SetTile(l, x, y, payloads::DdsPayload(kTile, kTile, static_cast<uint32_t>(mips), dds, true, false));
            }
    Write(dir, "dds.vtp", w, "DDS payloads: DXT1 textures with 9 mip levels");
}

int RunSample(const SampleOptions& o) {
    if (!sys::MakeFolder(o.dir) && errno != EEXIST)
        Fail(kExitFinding, o.dir + ": cannot create: " + std::strerror(errno));
    sys::PathStatus folder;
    if (!sys::StatusOf(o.dir, folder) || !folder.directory) Fail(kExitUsage, o.dir + ": not a directory");
    std::printf("writing sample pyramids into %s\n", o.dir.c_str());
    Area area;
    Image rendered = payloads::RenderTerrain(area, payloads::HeightField(area), true);
    ImageSample(o.dir, area, rendered);
    Image2Sample(o.dir);
    DemSample(o.dir);
    TerrainSample(o.dir);
    DdsSample(o.dir);
    return kExitOk;
}

}  // namespace

Command AddSample(CLI::App& app) {
    auto o = std::make_shared<SampleOptions>();
    CLI::App* sub = app.add_subcommand(
        "sample", "Write deterministic sample pyramids (one per payload kind) into DIR");
    sub->add_option("DIR", o->dir, "output folder (created if missing)")->required();
    Describe(sub,
             "Writes five small pyramid files into DIR (created if needed), the same bytes on every run, over a "
             "generated patch of mountains: image.vtp (image tiles: compact JPEG, some with an alpha plane, and JPEG "
             "2000), image2.vtp (second-generation image tiles), dem.vtp (DEM/DOM packets: an elevation grid and two "
             "orthophotos per tile), terrain.vtp (terrain payloads) and dds.vtp (DDS textures).",
             {"veltrane sample samples"});
    return {sub, [o] { return RunSample(*o); }};
}

}  // namespace cli
}  // namespace vt
