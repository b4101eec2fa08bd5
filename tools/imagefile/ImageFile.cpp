// The side files of a PNG, the same whichever implementation encodes it.
#include "ImageFile.h"

#include <cstdio>

namespace vt {
namespace imagefile {

namespace {

std::string Number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

}  // namespace

std::string WorldFileText(const Placement& p) {
    return Number(p.pixelX) + "\n0\n0\n" + Number(-p.pixelY) + "\n" + Number(p.west + p.pixelX / 2) + "\n" +
           Number(p.north - p.pixelY / 2) + "\n";
}

std::string AuxiliaryXmlText(const std::string& wkt) {
    std::string escaped;
    for (char c : wkt) {
        switch (c) {
            case '&': escaped += "&amp;"; break;
            case '<': escaped += "&lt;"; break;
            case '>': escaped += "&gt;"; break;
            default: escaped += c;
        }
    }
    // Without a dataAxisToSRSAxisMapping attribute GDAL takes x as east (or
    // longitude) and y as north, as the world file and the pyramid do.
    return "<PAMDataset>\n  <SRS>" + escaped + "</SRS>\n</PAMDataset>\n";
}

}  // namespace imagefile
}  // namespace vt
