#include "payload/PayloadTestSupport.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include <openjpeg.h>
#include <zlib.h>

#include "dxt/DxtEncoder.h"

#include "support/Photos.h"

namespace vt_payload_test {

Bytes Envelope(unsigned char codec, const Bytes& primary, const Bytes& alpha, bool leadingByte, unsigned char tag) {
    Bytes out;
    if (leadingByte) out.push_back(tag);
    out.push_back(codec);
    PutU32(out, static_cast<std::uint32_t>(primary.size()));
    Append(out, primary);
    Append(out, alpha);
    return out;
}

Bytes NewPayload(unsigned char alphaFlag, const Bytes& color, bool withAlphaBlock, std::uint32_t alphaRawLength,
                 const Bytes& alphaStream) {
    Bytes out{0x5A, alphaFlag};
    PutU32(out, static_cast<std::uint32_t>(color.size()));
    Append(out, color);
    if (withAlphaBlock) {
        PutU32(out, alphaRawLength);
        PutU32(out, static_cast<std::uint32_t>(alphaStream.size()));
        Append(out, alphaStream);
    }
    return out;
}

Bytes LoadRgbCrop(const std::string& file, int x, int y, int width, int height) {
    const vt::test::Photo& photo = vt::test::LoadPhoto(file, 3);
    if (x + width > photo.width || y + height > photo.height)
        throw std::runtime_error("no " + std::to_string(width) + "x" + std::to_string(height) + " crop in " + file);
    Bytes out(static_cast<std::size_t>(width) * height * 3);
    for (int r = 0; r < height; ++r) {
        std::memcpy(&out[static_cast<std::size_t>(r) * width * 3],
                    &photo.pixels[(static_cast<std::size_t>(y + r) * photo.width + x) * 3],
                    static_cast<std::size_t>(width) * 3);
    }
    return out;
}

Bytes RgbToBgra(const Bytes& rgb, unsigned char alpha) {
    Bytes out(rgb.size() / 3 * 4);
    for (std::size_t i = 0; i < rgb.size() / 3; ++i) {
        out[4 * i + 0] = rgb[3 * i + 2];
        out[4 * i + 1] = rgb[3 * i + 1];
        out[4 * i + 2] = rgb[3 * i + 0];
        out[4 * i + 3] = alpha;
    }
    return out;
}

Bytes AlphaPlane(int width, int height) {
    Bytes out(static_cast<std::size_t>(width) * height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char v = static_cast<unsigned char>((x * 255) / std::max(1, width - 1));
            if (y >= height / 2) v = ((x / 8 + y / 8) & 1) ? 255 : 0;  // hard edges
            out[static_cast<std::size_t>(y) * width + x] = v;
        }
    }
    return out;
}

Bytes FlatCompactJpeg(int width, int height, int quality, int lumaDc) {
    Bytes out;
    for (int v : {width, height, quality}) {
        out.push_back(static_cast<unsigned char>(v & 0xFF));
        out.push_back(static_cast<unsigned char>(v >> 8));
    }
    std::uint32_t acc = 0;
    int bits = 0;
    auto put = [&](std::uint32_t value, int count) {
        for (int i = count - 1; i >= 0; --i) {
            acc = acc << 1 | ((value >> i) & 1u);
            if (++bits == 8) {
                out.push_back(static_cast<unsigned char>(acc));
                acc = 0;
                bits = 0;
            }
        }
    };
    // Luminance DC category codes of ITU-T T.81 Table K.3 for categories 0..7.
    static const std::uint32_t kDcCode[8] = {0x0, 0x2, 0x3, 0x4, 0x5, 0x6, 0xE, 0x1E};
    static const int kDcLength[8] = {2, 3, 3, 3, 3, 3, 4, 5};
    const int mcus = ((width + 15) / 16) * ((height + 15) / 16);
    for (int i = 0; i < mcus; ++i) {
        for (int block = 0; block < 4; ++block) {
            if (i == 0 && block == 0 && lumaDc > 0) {
                int category = 0;
                while ((1 << category) <= lumaDc) ++category;
                put(kDcCode[category], kDcLength[category]);
                put(static_cast<std::uint32_t>(lumaDc), category);
            } else {
                put(0x0, 2);  // DC difference 0
            }
            put(0xA, 4);  // AC end of block (Table K.5)
        }
        put(0x0, 4);  // Cb: DC "00" (K.4), EOB "00" (K.6)
        put(0x0, 4);  // Cr
    }
    if (bits != 0) put(0, 8 - bits);
    return out;
}

namespace {

struct MemoryStream {
    const Bytes* data;
    OPJ_OFF_T position;
};

OPJ_SIZE_T ReadMemory(void* buffer, OPJ_SIZE_T bytes, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    const OPJ_OFF_T left = static_cast<OPJ_OFF_T>(s->data->size()) - s->position;
    if (left <= 0) return static_cast<OPJ_SIZE_T>(-1);
    const OPJ_SIZE_T n = std::min<OPJ_SIZE_T>(bytes, static_cast<OPJ_SIZE_T>(left));
    std::memcpy(buffer, s->data->data() + s->position, n);
    s->position += static_cast<OPJ_OFF_T>(n);
    return n;
}

OPJ_OFF_T SkipMemory(OPJ_OFF_T bytes, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    const OPJ_OFF_T size = static_cast<OPJ_OFF_T>(s->data->size());
    const OPJ_OFF_T target = std::max<OPJ_OFF_T>(0, std::min(size, s->position + bytes));
    const OPJ_OFF_T moved = target - s->position;
    s->position = target;
    return moved;
}

OPJ_BOOL SeekMemory(OPJ_OFF_T to, void* user) {
    auto* s = static_cast<MemoryStream*>(user);
    if (to < 0 || to > static_cast<OPJ_OFF_T>(s->data->size())) return OPJ_FALSE;
    s->position = to;
    return OPJ_TRUE;
}

}  // namespace

bool OpenJpegReference(const Bytes& stream, int& width, int& height, Bytes& bgra) {
    MemoryStream memory{&stream, 0};
    opj_stream_t* s = opj_stream_create(1 << 16, OPJ_TRUE);
    opj_stream_set_user_data(s, &memory, nullptr);
    opj_stream_set_user_data_length(s, stream.size());
    opj_stream_set_read_function(s, ReadMemory);
    opj_stream_set_skip_function(s, SkipMemory);
    opj_stream_set_seek_function(s, SeekMemory);
    const bool jp2 = stream.size() > 4 && stream[0] == 0 && stream[1] == 0 && stream[2] == 0 && stream[3] == 12;
    opj_codec_t* codec = opj_create_decompress(jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    opj_dparameters_t parameters;
    opj_set_default_decoder_parameters(&parameters);
    opj_image_t* image = nullptr;
    bool ok = opj_setup_decoder(codec, &parameters) && opj_read_header(s, codec, &image) &&
              opj_decode(codec, s, image) && opj_end_decompress(codec, s);
    if (ok) {
        width = static_cast<int>(image->x1 - image->x0);
        height = static_cast<int>(image->y1 - image->y0);
        const std::size_t count = static_cast<std::size_t>(width) * height;
        bgra.assign(count * 4, 255);
        const unsigned n = image->numcomps;
        for (std::size_t i = 0; i < count; ++i) {
            auto sample = [&](unsigned c) {
                return static_cast<unsigned char>(std::clamp(image->comps[c].data[i], 0, 255));
            };
            const unsigned char r = sample(0);
            const unsigned char g = n >= 3 ? sample(1) : r;
            const unsigned char b = n >= 3 ? sample(2) : r;
            bgra[4 * i + 0] = b;
            bgra[4 * i + 1] = g;
            bgra[4 * i + 2] = r;
            if (n >= 4) bgra[4 * i + 3] = sample(3);
        }
    }
    if (image != nullptr) opj_image_destroy(image);
    opj_destroy_codec(codec);
    opj_stream_destroy(s);
    return ok;
}

Bytes ReferenceChain(Bytes bgra, int side, bool dxt5, bool averageAlpha, bool rounding) {
    Bytes out;
    int s = side;
    const int channels = averageAlpha ? 4 : 3;
    while (true) {
        const int blocks = std::max(1, s / 4) * std::max(1, s / 4);
        Bytes level(static_cast<std::size_t>(blocks) * (dxt5 ? 16 : 8));
        int written = 0;
        if (dxt5) {
            vt::dxt::EncodeDxt5Image(bgra.data(), level.data(), s, s, &written);
        } else {
            vt::dxt::EncodeDxt1Image(bgra.data(), level.data(), s, s, &written);
        }
        level.resize(static_cast<std::size_t>(written));
        Append(out, level);
        if (s == 1) break;
        const int half = s / 2;
        Bytes next(static_cast<std::size_t>(half) * half * 4);
        for (int y = 0; y < half; ++y) {
            for (int x = 0; x < half; ++x) {
                for (int c = 0; c < 4; ++c) {
                    auto at = [&](int i, int j) { return static_cast<int>(bgra[(static_cast<std::size_t>(j) * s + i) * 4 + c]); };
                    const int sum = at(2 * x, 2 * y) + at(2 * x + 1, 2 * y) + at(2 * x, 2 * y + 1) + at(2 * x + 1, 2 * y + 1);
                    next[(static_cast<std::size_t>(y) * half + x) * 4 + c] =
                        c < channels ? static_cast<unsigned char>((sum + (rounding ? 2 : 0)) >> 2)
                                     : bgra[(static_cast<std::size_t>(y) * half + x) * 4 + c];
                }
            }
        }
        bgra.swap(next);
        s = half;
    }
    return out;
}

std::vector<std::size_t> ChainOffsets(int side, bool dxt5) {
    std::vector<std::size_t> offsets;
    std::size_t offset = 0;
    for (int s = side; s >= 1; s /= 2) {
        offsets.push_back(offset);
        const std::size_t blocks = static_cast<std::size_t>(std::max(1, s / 4)) * std::max(1, s / 4);
        offset += blocks * (dxt5 ? 16 : 8);
    }
    offsets.push_back(offset);  // total
    return offsets;
}

}  // namespace vt_payload_test
