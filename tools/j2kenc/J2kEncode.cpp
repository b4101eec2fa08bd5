// JPEG 2000 encoding with OpenJPEG into memory (see J2kEncode.h).
#include "J2kEncode.h"

#include <openjpeg.h>

#include <cstring>

namespace vt::j2kenc {
namespace {

// Output stream into a growing byte vector; OpenJPEG seeks back to patch
// lengths, so writes go to a position, not simply to the end.
struct MemoryOutput {
    std::vector<std::uint8_t>* bytes;
    std::size_t position;
};

void Reserve(MemoryOutput& out, std::size_t end) {
    if (out.bytes->size() < end) out.bytes->resize(end);
}

OPJ_SIZE_T WriteOutput(void* buffer, OPJ_SIZE_T count, void* user) {
    MemoryOutput* out = static_cast<MemoryOutput*>(user);
    Reserve(*out, out->position + count);
    std::memcpy(out->bytes->data() + out->position, buffer, count);
    out->position += count;
    return count;
}

OPJ_OFF_T SkipOutput(OPJ_OFF_T count, void* user) {
    MemoryOutput* out = static_cast<MemoryOutput*>(user);
    if (count < 0 && static_cast<std::size_t>(-count) > out->position) return -1;
    out->position = static_cast<std::size_t>(static_cast<OPJ_OFF_T>(out->position) + count);
    Reserve(*out, out->position);
    return count;
}

OPJ_BOOL SeekOutput(OPJ_OFF_T offset, void* user) {
    MemoryOutput* out = static_cast<MemoryOutput*>(user);
    if (offset < 0) return OPJ_FALSE;
    out->position = static_cast<std::size_t>(offset);
    Reserve(*out, out->position);
    return OPJ_TRUE;
}

void DropMessage(const char*, void*) {}

unsigned CeilDiv(unsigned a, unsigned b) { return a / b + (a % b != 0 ? 1u : 0u); }

// Largest number of resolution levels (at most 6) whose lowest level still
// holds at least one sample in every component and tile.
int AutoResolutions(int width, int height, const std::vector<Component>& components, int tileSize) {
    unsigned smallest = static_cast<unsigned>(width < height ? width : height);
    if (tileSize > 0 && static_cast<unsigned>(tileSize) < smallest) smallest = static_cast<unsigned>(tileSize);
    for (const Component& c : components) {
        const unsigned d = c.dx > c.dy ? c.dx : c.dy;
        const unsigned s = smallest / d;
        if (s < smallest) smallest = s == 0 ? 1 : s;
    }
    int levels = 1;
    while (levels < 6 && (smallest >> levels) >= 1) ++levels;
    return levels;
}

struct CodecGuard {
    opj_codec_t* codec = nullptr;
    opj_stream_t* stream = nullptr;
    opj_image_t* image = nullptr;
    ~CodecGuard() {
        if (stream) opj_stream_destroy(stream);
        if (codec) opj_destroy_codec(codec);
        if (image) opj_image_destroy(image);
    }
};

bool Encode(int width, int height, const std::vector<Component>& components, const Options& options,
            std::vector<std::uint8_t>& out) {
    if (width <= 0 || height <= 0 || components.empty() || components.size() > 16384) return false;
    const unsigned count = static_cast<unsigned>(components.size());
    std::vector<opj_image_cmptparm_t> params(count);
    for (unsigned i = 0; i < count; ++i) {
        const Component& c = components[i];
        if (c.dx == 0 || c.dy == 0 || c.dx > 255 || c.dy > 255) return false;
        if (c.precision < 1 || c.precision > 16) return false;
        opj_image_cmptparm_t& p = params[i];
        std::memset(&p, 0, sizeof p);
        p.dx = c.dx;
        p.dy = c.dy;
        p.w = SampleCount(options.originX, static_cast<unsigned>(width), c.dx);
        p.h = SampleCount(options.originY, static_cast<unsigned>(height), c.dy);
        p.x0 = CeilDiv(options.originX, c.dx);
        p.y0 = CeilDiv(options.originY, c.dy);
        p.prec = c.precision;
        p.sgnd = c.isSigned ? 1 : 0;
        if (c.samples.size() != static_cast<std::size_t>(p.w) * p.h) return false;
    }

    CodecGuard g;
    const OPJ_COLOR_SPACE space = count >= 3 ? OPJ_CLRSPC_SRGB : OPJ_CLRSPC_GRAY;
    g.image = opj_image_create(count, params.data(), space);
    if (!g.image) return false;
    g.image->x0 = options.originX;
    g.image->y0 = options.originY;
    g.image->x1 = options.originX + static_cast<unsigned>(width);
    g.image->y1 = options.originY + static_cast<unsigned>(height);
    for (unsigned i = 0; i < count; ++i) {
        opj_image_comp_t& comp = g.image->comps[i];
        comp.alpha = components[i].alpha ? 1 : 0;
        std::memcpy(comp.data, components[i].samples.data(), components[i].samples.size() * sizeof(OPJ_INT32));
    }

    opj_cparameters_t p;
    opj_set_default_encoder_parameters(&p);
    p.tcp_numlayers = 1;
    p.cp_disto_alloc = 1;
    p.tcp_rates[0] = 0;  // lossless: no rate limit
    switch (options.kind) {
    case Options::Kind::Lossless:
        p.irreversible = 0;
        break;
    case Options::Kind::Ratio:
        if (!(options.value > 1.0f)) return false;
        p.irreversible = 1;
        p.tcp_rates[0] = options.value;
        break;
    case Options::Kind::Quality:
        if (!(options.value > 0.0f)) return false;
        p.irreversible = 1;
        p.cp_disto_alloc = 0;
        p.cp_fixed_quality = 1;
        p.tcp_distoratio[0] = options.value;
        break;
    }
    p.numresolution = options.resolutions > 0 ? options.resolutions
                                              : AutoResolutions(width, height, components, options.tileSize);
    p.cblockw_init = p.cblockh_init = options.codeBlockSize;
    if (options.tileSize > 0) {
        p.tile_size_on = OPJ_TRUE;
        p.cp_tdx = p.cp_tdy = options.tileSize;
    }
    const bool sameGeometry = count >= 3 && components[0].dx == components[1].dx &&
                              components[0].dx == components[2].dx && components[0].dy == components[1].dy &&
                              components[0].dy == components[2].dy;
    p.tcp_mct = options.colorTransform && sameGeometry ? 1 : 0;

    g.codec = opj_create_compress(options.jp2 ? OPJ_CODEC_JP2 : OPJ_CODEC_J2K);
    if (!g.codec) return false;
    opj_set_info_handler(g.codec, DropMessage, nullptr);
    opj_set_warning_handler(g.codec, DropMessage, nullptr);
    opj_set_error_handler(g.codec, DropMessage, nullptr);
    if (!opj_setup_encoder(g.codec, &p, g.image)) return false;

    std::vector<std::uint8_t> bytes;
    MemoryOutput sink{&bytes, 0};
    g.stream = opj_stream_create(1u << 16, OPJ_FALSE);
    if (!g.stream) return false;
    opj_stream_set_user_data(g.stream, &sink, nullptr);
    opj_stream_set_write_function(g.stream, WriteOutput);
    opj_stream_set_skip_function(g.stream, SkipOutput);
    opj_stream_set_seek_function(g.stream, SeekOutput);
    if (!opj_start_compress(g.codec, g.image, g.stream) || !opj_encode(g.codec, g.stream) ||
        !opj_end_compress(g.codec, g.stream)) {
        return false;
    }
    out.swap(bytes);
    return true;
}

}  // namespace

unsigned SampleCount(unsigned origin, unsigned size, unsigned d) {
    return CeilDiv(origin + size, d) - CeilDiv(origin, d);
}

bool EncodePlanes(int width, int height, const std::vector<Component>& components, const Options& options,
                  std::vector<std::uint8_t>& out) {
    out.clear();
    return Encode(width, height, components, options, out);
}

bool EncodeImage(const std::uint8_t* pixels, int width, int height, int components, const Options& options,
                 std::vector<std::uint8_t>& out, int stride) {
    out.clear();
    if (!pixels || width <= 0 || height <= 0) return false;
    if (components != 1 && components != 3 && components != 4) return false;
    const std::size_t rowBytes = static_cast<std::size_t>(width) * static_cast<std::size_t>(components);
    const std::size_t step = stride > 0 ? static_cast<std::size_t>(stride) : rowBytes;
    if (step < rowBytes) return false;
    std::vector<Component> planes(static_cast<std::size_t>(components));
    for (int c = 0; c < components; ++c) {
        planes[c].alpha = c == 3;
        planes[c].samples.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
        for (int y = 0; y < height; ++y) {
            const std::uint8_t* row = pixels + static_cast<std::size_t>(y) * step;
            std::int32_t* dst = planes[c].samples.data() + static_cast<std::size_t>(y) * width;
            for (int x = 0; x < width; ++x) dst[x] = row[static_cast<std::size_t>(x) * components + c];
        }
    }
    return Encode(width, height, planes, options, out);
}

}  // namespace vt::j2kenc
