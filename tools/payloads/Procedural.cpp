#include "Procedural.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace vt {
namespace payloads {

const char* const kSampleWkt =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563,AUTHORITY[\"EPSG\",\"7030\"]],"
    "AUTHORITY[\"EPSG\",\"6326\"]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433],"
    "AUTHORITY[\"EPSG\",\"4326\"]]";

namespace {

// Metres per degree near 47 degrees north.
constexpr double kMetresPerDegreeLon = 75900.0;
constexpr double kMetresPerDegreeLat = 111200.0;

uint32_t Hash(int32_t x, int32_t y, uint32_t seed) {
    uint32_t h = static_cast<uint32_t>(x) * 0x8DA6B343u ^ static_cast<uint32_t>(y) * 0xD8163841u ^ seed * 0xCB1AB31Fu;
    h ^= h >> 13;
    h *= 0x5BD1E995u;
    h ^= h >> 15;
    return h;
}

double Lattice(int32_t x, int32_t y, uint32_t seed) { return (Hash(x, y, seed) & 0xFFFFFF) / 16777215.0; }

// Value noise in [0, 1] with smooth (quintic) interpolation.
double ValueNoise(double x, double y, uint32_t seed) {
    double fx = std::floor(x), fy = std::floor(y);
    int32_t ix = static_cast<int32_t>(fx), iy = static_cast<int32_t>(fy);
    double tx = x - fx, ty = y - fy;
    tx = tx * tx * tx * (tx * (tx * 6 - 15) + 10);
    ty = ty * ty * ty * (ty * (ty * 6 - 15) + 10);
    double a = Lattice(ix, iy, seed), b = Lattice(ix + 1, iy, seed);
    double c = Lattice(ix, iy + 1, seed), d = Lattice(ix + 1, iy + 1, seed);
    double top = a + (b - a) * tx, bottom = c + (d - c) * tx;
    return top + (bottom - top) * ty;
}

struct Rgb {
    double r, g, b;
};

Rgb Ramp(double h, double slope) {
    struct Stop {
        double h;
        Rgb c;
    };
    static const Stop stops[] = {
        {520, {58, 110, 70}},   {900, {70, 120, 62}},   {1300, {52, 96, 50}},   {1700, {118, 140, 78}},
        {2000, {150, 138, 110}}, {2350, {140, 134, 128}}, {2600, {200, 198, 196}}, {2800, {245, 246, 250}},
    };
    Rgb c = stops[0].c;
    for (size_t i = 0; i + 1 < sizeof stops / sizeof stops[0]; ++i) {
        if (h >= stops[i].h) {
            double t = std::min(1.0, (h - stops[i].h) / (stops[i + 1].h - stops[i].h));
            c = {stops[i].c.r + (stops[i + 1].c.r - stops[i].c.r) * t,
                 stops[i].c.g + (stops[i + 1].c.g - stops[i].c.g) * t,
                 stops[i].c.b + (stops[i + 1].c.b - stops[i].c.b) * t};
        }
    }
    // Steep slopes show bare rock whatever the height.
    double rock = std::clamp((slope - 0.75) / 0.5, 0.0, 1.0);
    return {c.r + (128 - c.r) * rock, c.g + (122 - c.g) * rock, c.b + (116 - c.b) * rock};
}

uint8_t ToByte(double v) { return static_cast<uint8_t>(std::clamp(std::lround(v), 0L, 255L)); }

// Lake level: the lowest valleys hold water.
constexpr double kLakeLevel = 520.0;

void Gradient(const Area& area, const std::vector<float>& heights, int x, int y, double& gx, double& gy) {
    int x0 = std::max(x - 1, 0), x1 = std::min(x + 1, area.width - 1);
    int y0 = std::max(y - 1, 0), y1 = std::min(y + 1, area.height - 1);
    double dx = area.pixel * kMetresPerDegreeLon * (x1 - x0);
    double dy = area.pixel * kMetresPerDegreeLat * (y1 - y0);
    gx = (heights[static_cast<size_t>(y) * area.width + x1] - heights[static_cast<size_t>(y) * area.width + x0]) / dx;
    // Rows run south, so the northward gradient has the opposite sign.
    gy = (heights[static_cast<size_t>(y0) * area.width + x] - heights[static_cast<size_t>(y1) * area.width + x]) / dy;
}

// Lambertian shade for a sun in the north-west, 45 degrees up.
double Shade(double gx, double gy) {
    const double sx = -0.5, sy = 0.5, sz = 0.70710678;
    double nx = -gx, ny = -gy, nz = 1.0;
    double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    return std::max(0.0, (nx * sx + ny * sy + nz * sz) / len);
}

}  // namespace

double TerrainHeight(double lon, double lat) {
    double x = (lon - 13.0) * kMetresPerDegreeLon, y = (lat - 47.0) * kMetresPerDegreeLat;
    // Ridged multifractal: sharp crests, smooth valleys.
    double sum = 0, amplitude = 1, norm = 0, frequency = 1.0 / 7000.0, weight = 1;
    // Each octave is turned by about 37 degrees against the last, so that the
    // lattice of the value noise does not line the ridges up with the axes.
    const double c = 0.8, s = 0.6;
    for (uint32_t octave = 0; octave < 8; ++octave) {
        double n = ValueNoise(x * frequency, y * frequency, octave + 17);
        double rx = c * x - s * y, ry = s * x + c * y;
        x = rx + 913.0;
        y = ry + 517.0;
        double ridge = 1.0 - std::fabs(2.0 * n - 1.0);
        ridge *= ridge;
        ridge *= weight;
        weight = std::clamp(ridge * 1.6, 0.0, 1.0);
        sum += ridge * amplitude;
        norm += amplitude;
        amplitude *= 0.5;
        frequency *= 2.03;
    }
    double f = sum / norm;
    // A broad valley running south-west to north-east.
    double valley = ValueNoise(x / 16000.0, y / 16000.0, 3);
    return 450.0 + 2500.0 * f * (0.45 + 0.9 * valley);
}

std::vector<float> HeightField(const Area& area) {
    std::vector<float> heights(static_cast<size_t>(area.width) * area.height);
    for (int y = 0; y < area.height; ++y) {
        double lat = area.north - (y + 0.5) * area.pixel;
        for (int x = 0; x < area.width; ++x)
            heights[static_cast<size_t>(y) * area.width + x] =
                static_cast<float>(TerrainHeight(area.west + (x + 0.5) * area.pixel, lat));
    }
    return heights;
}

Image RenderTerrain(const Area& area, const std::vector<float>& heights, bool withNoData) {
    Image image(area.width, area.height);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            double h = heights[static_cast<size_t>(y) * area.width + x];
            double gx, gy;
            Gradient(area, heights, x, y, gx, gy);
            double slope = std::sqrt(gx * gx + gy * gy);
            double shade = Shade(gx, gy);
            uint8_t* p = image.Pixel(x, y);
            if (h < kLakeLevel) {
                double depth = std::min(1.0, (kLakeLevel - h) / 80.0);
                p[0] = ToByte(70 - 40 * depth);
                p[1] = ToByte(120 - 40 * depth);
                p[2] = ToByte(150 - 20 * depth);
            } else {
                Rgb c = Ramp(h, slope);
                double light = 0.3 + 0.85 * shade;
                p[0] = ToByte(c.r * light);
                p[1] = ToByte(c.g * light);
                p[2] = ToByte(c.b * light);
            }
            p[3] = 255;
            if (withNoData) {
                // Survey boundary: a wavy diagonal across the south-west corner.
                double u = (x + 0.5) / area.width, v = (y + 0.5) / area.height;
                double wobble = 0.06 * (ValueNoise(u * 9.0, v * 9.0, 99) - 0.5);
                if (u + (1.0 - v) < 0.42 + wobble) p[3] = 0;
            }
        }
    }
    return image;
}

Image RenderHillshade(const Area& area, const std::vector<float>& heights) {
    Image image(area.width, area.height);
    for (int y = 0; y < area.height; ++y) {
        for (int x = 0; x < area.width; ++x) {
            double gx, gy;
            Gradient(area, heights, x, y, gx, gy);
            uint8_t v = ToByte(30 + 225 * Shade(gx, gy));
            uint8_t* p = image.Pixel(x, y);
            p[0] = p[1] = p[2] = v;
            p[3] = 255;
        }
    }
    return image;
}

}  // namespace payloads
}  // namespace vt
