// The pyramid the C entry point tests read: two levels of image tiles of both
// kinds, an absent tile and one whose index entry points past the file.
//   level 0, tile (0, 0): compact JPEG with an alpha plane (4 channels)
//   level 1, tile (0, 0): JPEG 2000 of a photograph crop (3 channels)
//   level 1, tile (1, 0): the same kind, another crop
//   level 1, tile (0, 1): no payload
//   level 1, tile (1, 1): an entry whose payload lies beyond the file's end
// Every payload starts with the leading tag byte, as the tool writes them.
#ifndef VELTRANE_TESTS_CAPI_SAMPLE_H
#define VELTRANE_TESTS_CAPI_SAMPLE_H

#include <vector>

#include "J2kEncode.h"
#include "PyramidWriter.h"
#include "payload/PayloadTestSupport.h"

namespace vt_capi_test {

using vt_payload_test::Bytes;

inline Bytes PhotoJ2kPayload(int x, int y) {
    const Bytes rgb = vt_payload_test::LoadRgbCrop("pier.png", x, y, 64, 48);
    std::vector<std::uint8_t> stream;
    vt::j2kenc::EncodeImage(rgb.data(), 64, 48, 3, vt::j2kenc::Options::Lossless(), stream);
    return vt_payload_test::Envelope(1, Bytes(stream.begin(), stream.end()), Bytes(), true);
}

inline Bytes AlphaPayload() {
    return vt_payload_test::Envelope(0, vt_payload_test::FlatCompactJpeg(32, 16, 50, 20),
                                     vt_payload_test::Deflate(vt_payload_test::AlphaPlane(32, 16)), true);
}

inline vt::writer::PyramidWriter SamplePyramid() {
    vt::writer::HeaderFields f;
    f.wkt = "LOCAL_CS[\"capi\"]";
    f.minX = 1000;
    f.minY = 2000;
    f.maxX = 1128;
    f.maxY = 2048;
    f.imageWidth = 100;
    f.imageHeight = 40;
    f.blockWidth = f.blockHeight = 64;
    f.maxLevel = f.indexLevels = 2;
    vt::writer::PyramidWriter w(f);
    w.SetTile(0, 0, 0, AlphaPayload());
    w.SetTile(1, 0, 0, PhotoJ2kPayload(0, 0));
    w.SetTile(1, 1, 0, PhotoJ2kPayload(64, 0));
    w.SetRawEntry(vt::writer::EntryNumber(2, 1, 1, 1), 1 << 30, 100);
    return w;
}

}  // namespace vt_capi_test

#endif  // VELTRANE_TESTS_CAPI_SAMPLE_H
