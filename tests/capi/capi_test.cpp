// The plain C entry points against the C++ class they wrap: the same header
// values, tile bytes and decoded pixels, the exclusive open, and the capacity
// rule (never a byte written past the capacity given, the bytes needed
// reported). Buffers are exact-size heap copies, so the sanitizer build sees
// any write past them.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Veltrane.h"
#include "Veltrane_c.h"
#include "capi/CapiSample.h"
#include "dxt/DxtEncoder.h"
#include "support/TempDir.h"

namespace {

using vt_capi_test::Bytes;

class CapiTest : public ::testing::Test {
protected:
    void SetUp() override {
        path_ = dir_.File("sample.vtp");
        ASSERT_TRUE(vt_capi_test::SamplePyramid().WriteFile(path_));
        ASSERT_EQ(veltrane_open(path_.c_str(), &reader_), VELTRANE_OK);
    }
    void TearDown() override { veltrane_close(reader_); }

    // The tile through the C++ API, from a second object (opened after this
    // test's handle is closed).
    Bytes CppTile(int level, int x, int y) {
        veltrane_close(reader_);
        reader_ = nullptr;
        CVeltrane cpp;
        int size = 0;
        EXPECT_TRUE(cpp.Veltrane(path_.c_str()));
        EXPECT_TRUE(cpp.GetBlockImageSize(level, x, y, size));
        Bytes tile(static_cast<std::size_t>(size));
        EXPECT_TRUE(cpp.GetImage(level, x, y, tile.data(), size));
        return tile;
    }

    Bytes CTile(int level, int x, int y) {
        std::size_t size = 0;
        EXPECT_EQ(veltrane_tile_size(reader_, level, x, y, &size), VELTRANE_OK);
        Bytes tile(size);
        std::size_t got = 0;
        EXPECT_EQ(veltrane_read_tile(reader_, level, x, y, tile.data(), tile.size(), &got), VELTRANE_OK);
        EXPECT_EQ(got, size);
        return tile;
    }

    vt::test::TempDir dir_;
    std::string path_;
    veltrane_reader* reader_ = nullptr;
};

TEST_F(CapiTest, HeaderWktAndExtentsAreTheClassAnswers) {
    veltrane_header h;
    ASSERT_EQ(veltrane_get_header(reader_, &h), VELTRANE_OK);
    EXPECT_EQ(h.image_width, 100);
    EXPECT_EQ(h.image_height, 40);
    EXPECT_EQ(h.block_width, 64);
    EXPECT_EQ(h.block_height, 64);
    EXPECT_EQ(h.levels, 2);

    const std::string wkt = "LOCAL_CS[\"capi\"]";
    std::size_t needed = 0;
    std::vector<char> small(wkt.size(), 'x');  // one short: no room for the NUL
    EXPECT_EQ(veltrane_get_wkt(reader_, small.data(), small.size(), &needed), VELTRANE_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(needed, wkt.size() + 1);
    EXPECT_EQ(std::string(small.begin(), small.end()), std::string(wkt.size(), 'x'));
    std::vector<char> text(needed);
    ASSERT_EQ(veltrane_get_wkt(reader_, text.data(), text.size(), nullptr), VELTRANE_OK);
    EXPECT_EQ(std::string(text.data()), wkt);

    double c[4], cpp[4];
    CVeltrane object;
    ASSERT_EQ(veltrane_get_extent(reader_, 1, &c[0], &c[1], &c[2], &c[3]), VELTRANE_OK);
    EXPECT_EQ(c[0], 1000);
    EXPECT_EQ(c[1], 2048);
    EXPECT_EQ(c[2], 128);
    EXPECT_EQ(c[3], 48);
    ASSERT_EQ(veltrane_get_extent(reader_, 0, &c[0], &c[1], &c[2], &c[3]), VELTRANE_OK);
    veltrane_close(reader_);
    reader_ = nullptr;
    ASSERT_TRUE(object.Veltrane(path_.c_str()));
    object.GetFileGeoInfo(cpp[0], cpp[1], cpp[2], cpp[3]);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c[i], cpp[i]) << i;
}

TEST_F(CapiTest, OpenIsExclusiveAgainstBothApisAndFailsCleanly) {
    veltrane_reader* second = reinterpret_cast<veltrane_reader*>(1);
    EXPECT_EQ(veltrane_open(path_.c_str(), &second), VELTRANE_E_OPEN);
    EXPECT_EQ(second, nullptr);
    CVeltrane cpp;
    EXPECT_FALSE(cpp.Veltrane(path_.c_str()));
    veltrane_close(reader_);
    reader_ = nullptr;
    ASSERT_EQ(veltrane_open(path_.c_str(), &second), VELTRANE_OK);
    veltrane_close(second);

    EXPECT_EQ(veltrane_open(dir_.File("missing.vtp").c_str(), &second), VELTRANE_E_OPEN);
    EXPECT_EQ(veltrane_open(nullptr, &second), VELTRANE_E_ARGUMENT);
    EXPECT_EQ(veltrane_open(path_.c_str(), nullptr), VELTRANE_E_ARGUMENT);
    veltrane_close(nullptr);
}

TEST_F(CapiTest, TilesAreTheClassBytesAndTooSmallBuffersStayUntouched) {
    const Bytes c = CTile(1, 1, 0);
    ASSERT_FALSE(c.empty());

    std::size_t got = 0;
    Bytes small(c.size() - 1, 0xEE);
    EXPECT_EQ(veltrane_read_tile(reader_, 1, 1, 0, small.data(), small.size(), &got), VELTRANE_E_BUFFER_TOO_SMALL);
    EXPECT_EQ(got, c.size());
    EXPECT_EQ(small, Bytes(c.size() - 1, 0xEE));
    EXPECT_EQ(veltrane_read_tile(reader_, 1, 1, 0, nullptr, 0, &got), VELTRANE_E_BUFFER_TOO_SMALL);

    std::size_t size = 1;
    EXPECT_EQ(veltrane_tile_size(reader_, 1, 0, 1, &size), VELTRANE_OK);  // no payload
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(veltrane_read_tile(reader_, 1, 0, 1, nullptr, 0, &got), VELTRANE_OK);
    EXPECT_EQ(got, 0u);
    Bytes room(200);
    EXPECT_EQ(veltrane_read_tile(reader_, 1, 1, 1, room.data(), room.size(), &got), VELTRANE_E_READ);
    EXPECT_EQ(veltrane_tile_size(reader_, 2, 0, 0, &size), VELTRANE_E_NO_TILE);
    EXPECT_EQ(veltrane_tile_size(reader_, 1, 2, 0, &size), VELTRANE_E_NO_TILE);
    EXPECT_EQ(veltrane_tile_size(reader_, 1, -1, 0, &size), VELTRANE_E_ARGUMENT);
    EXPECT_EQ(veltrane_read_tile(nullptr, 1, 1, 0, room.data(), room.size(), &got), VELTRANE_E_ARGUMENT);

    EXPECT_EQ(c, CppTile(1, 1, 0));
}

// Every layout each payload gives, against the class's DecodeImage, with the
// byte counts the README's table states.
TEST_F(CapiTest, DecodesEveryLayoutAsTheClassDoes) {
    struct Case {
        int level, x, y, channels;
        std::vector<veltrane_layout> layouts;
    };
    const Case cases[] = {
        {1, 0, 0, 3, {VELTRANE_DXT1, VELTRANE_DXT1_MIPMAPS, VELTRANE_RGB, VELTRANE_RGB565}},
        {0, 0, 0, 4, {VELTRANE_DXT5_MIPMAPS, VELTRANE_RGBA}},
    };
    CVeltrane cpp;
    for (const Case& k : cases) {
        const Bytes payload = CTile(k.level, k.x, k.y);
        int channels = 0, w = 0, h = 0;
        ASSERT_EQ(veltrane_image_info(reader_, payload.data(), payload.size(), 1, &channels, &w, &h), VELTRANE_OK);
        EXPECT_EQ(channels, k.channels);
        for (veltrane_layout layout : k.layouts) {
            SCOPED_TRACE(layout);
            const std::size_t pixels = static_cast<std::size_t>(w) * h;
            const std::size_t blocks = static_cast<std::size_t>((w + 3) / 4) * ((h + 3) / 4);
            std::size_t expected = 0;
            switch (layout) {
                case VELTRANE_DXT1: expected = blocks * 8; break;
                case VELTRANE_DXT1_MIPMAPS: expected = vt::dxt::DxtMipChainBytes(w, h, vt::dxt::kDxt1); break;
                case VELTRANE_DXT5_MIPMAPS: expected = vt::dxt::DxtMipChainBytes(w, h, vt::dxt::kDxt5); break;
                case VELTRANE_RGB: expected = pixels * 3; break;
                case VELTRANE_RGB565: expected = pixels * 2; break;
                case VELTRANE_RGBA: expected = pixels * 4; break;
            }
            std::size_t needed = 0;
            Bytes small(expected - 1, 0xEE);
            EXPECT_EQ(veltrane_decode_image(reader_, payload.data(), payload.size(), 1, layout, small.data(),
                                            small.size(), &needed),
                      VELTRANE_E_BUFFER_TOO_SMALL);
            EXPECT_EQ(needed, expected);
            EXPECT_EQ(small, Bytes(expected - 1, 0xEE));

            Bytes c(expected), reference(expected);
            ASSERT_EQ(veltrane_decode_image(reader_, payload.data(), payload.size(), 1, layout, c.data(), c.size(),
                                            nullptr),
                      VELTRANE_OK);
            Bytes copy = payload;
            ASSERT_TRUE(cpp.DecodeImage(copy.data(), copy.size(), reference.data(), static_cast<OutputType>(layout),
                                        true));
            EXPECT_EQ(c, reference);
        }
    }
}

TEST_F(CapiTest, RefusesLayoutsPayloadsDoNotGiveAndDamagedPayloads) {
    const Bytes colour = CTile(1, 0, 0), alpha = CTile(0, 0, 0);
    Bytes out(64 * 48 * 4, 0xEE);
    std::size_t needed = 7;
    EXPECT_EQ(veltrane_decode_image(reader_, colour.data(), colour.size(), 1, VELTRANE_RGBA, out.data(), out.size(),
                                    &needed),
              VELTRANE_E_LAYOUT);
    EXPECT_EQ(veltrane_decode_image(reader_, alpha.data(), alpha.size(), 1, VELTRANE_RGB, out.data(), out.size(),
                                    &needed),
              VELTRANE_E_LAYOUT);
    EXPECT_EQ(veltrane_decode_image(reader_, colour.data(), colour.size(), 1, static_cast<veltrane_layout>(6),
                                    out.data(), out.size(), &needed),
              VELTRANE_E_ARGUMENT);
    // Without the leading byte flag the envelope is read one byte off.
    EXPECT_EQ(veltrane_decode_image(reader_, colour.data(), colour.size(), 0, VELTRANE_RGB, out.data(), out.size(),
                                    &needed),
              VELTRANE_E_PAYLOAD);
    const Bytes cut(colour.begin(), colour.begin() + 20);
    int channels = 0, w = 0, h = 0;
    EXPECT_EQ(veltrane_image_info(reader_, cut.data(), cut.size(), 1, &channels, &w, &h), VELTRANE_E_PAYLOAD);
    EXPECT_EQ(needed, 7u);
    EXPECT_EQ(out, Bytes(64 * 48 * 4, 0xEE));
}

TEST(CapiStatus, EveryStatusHasItsOwnText) {
    std::vector<std::string> seen;
    for (int s = VELTRANE_OK; s <= VELTRANE_E_MEMORY; ++s) {
        const std::string text = veltrane_status_string(static_cast<veltrane_status>(s));
        EXPECT_FALSE(text.empty());
        for (const std::string& earlier : seen) EXPECT_NE(text, earlier);
        seen.push_back(text);
    }
    EXPECT_STREQ(veltrane_status_string(static_cast<veltrane_status>(99)), "unknown status");
}

}  // namespace
