// Wavedec: JPEG 2000 decoding for the tile readers, over OpenJPEG.
//
// Both entry points read a code stream that the caller holds in memory, either
// a raw JPEG 2000 code stream (ITU-T T.800 Annex A, starting with the SOC and
// SIZ markers) or a JP2 file (T.800 Annex I, starting with the signature box).
// OpenJPEG reads it through a stream whose callbacks serve the caller's bytes
// and never step past `length`.
//
// Decoding turns the image, whatever its component count, precision, sign or
// sub-sampling, into 8-bit blue, green, red (and alpha) pixels:
//   - components 0, 1, 2 are red, green and blue; a fourth is alpha; further
//     components are ignored. One component is grey, replicated into all
//     three colors; two components are grey and alpha.
//   - signed samples are offset by half their range to make them unsigned;
//     samples of more than 8 bits keep their top 8 bits, samples of fewer are
//     scaled to 0..255 (rounded); out-of-range samples are clamped.
//   - sub-sampled components are stretched to the full image size by taking
//     the sample whose reference-grid position is nearest at or before the
//     pixel (nearest neighbour).
// The image is always decoded whole and at full resolution. Each call uses its
// own OpenJPEG codec and stream: there is no shared state, so any number of
// threads may decode at once. OpenJPEG is asked for no worker threads and its
// messages go to handlers that drop them.
#include "Wavedec.h"

#include <openjpeg.h>

#include <climits>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#if defined(WAVEDEC_OPENJPEG_STATIC)
// OpenJPEG, linked into this library, consults the environment once per codec
// (OPJ_NUM_THREADS, to start worker threads before the caller can refuse
// them). The link routes its getenv here (-Wl,--wrap=getenv): this library
// reads no environment, so every variable is unset as far as it is concerned.
extern "C" char* __wrap_getenv(const char*) { return nullptr; }
#endif

namespace {

// ---------------------------------------------------------------------------
// Reading from the caller's buffer.

struct MemoryInput {
    const unsigned char* data;
    OPJ_SIZE_T length;
    OPJ_SIZE_T position;
};

OPJ_SIZE_T ReadInput(void* buffer, OPJ_SIZE_T count, void* user) {
    MemoryInput* in = static_cast<MemoryInput*>(user);
    const OPJ_SIZE_T left = in->length - in->position;
    if (left == 0) return static_cast<OPJ_SIZE_T>(-1);  // end of stream
    const OPJ_SIZE_T n = count < left ? count : left;
    std::memcpy(buffer, in->data + in->position, n);
    in->position += n;
    return n;
}

OPJ_OFF_T SkipInput(OPJ_OFF_T count, void* user) {
    MemoryInput* in = static_cast<MemoryInput*>(user);
    if (count < 0) {
        const OPJ_SIZE_T back = static_cast<OPJ_SIZE_T>(-(count + 1)) + 1u;
        if (back > in->position) return -1;
        in->position -= back;
        return count;
    }
    const OPJ_SIZE_T left = in->length - in->position;
    if (left == 0 && count > 0) return -1;
    const OPJ_SIZE_T wanted = static_cast<OPJ_SIZE_T>(count);
    const OPJ_SIZE_T n = wanted < left ? wanted : left;
    in->position += n;
    return static_cast<OPJ_OFF_T>(n);
}

OPJ_BOOL SeekInput(OPJ_OFF_T offset, void* user) {
    MemoryInput* in = static_cast<MemoryInput*>(user);
    if (offset < 0 || static_cast<OPJ_UINT64>(offset) > in->length) return OPJ_FALSE;
    in->position = static_cast<OPJ_SIZE_T>(offset);
    return OPJ_TRUE;
}

void DropMessage(const char*, void*) {}

// The two containers OpenJPEG reads, told apart by their first bytes.
bool DetectFormat(const unsigned char* data, int length, OPJ_CODEC_FORMAT& format) {
    // Raw code stream: SOC (FF 4F) followed at once by SIZ (FF 51).
    static const unsigned char kCodestream[4] = {0xFF, 0x4F, 0xFF, 0x51};
    // JP2: the 12-byte signature box, length 12, type 'jP  ', content 0D 0A 87 0A.
    static const unsigned char kJp2[12] = {0x00, 0x00, 0x00, 0x0C, 0x6A, 0x50,
                                           0x20, 0x20, 0x0D, 0x0A, 0x87, 0x0A};
    if (length >= 4 && std::memcmp(data, kCodestream, 4) == 0) {
        format = OPJ_CODEC_J2K;
        return true;
    }
    if (length >= 12 && std::memcmp(data, kJp2, 12) == 0) {
        format = OPJ_CODEC_JP2;
        return true;
    }
    return false;
}

// One decoding session: codec, stream and image, released together.
class Session {
public:
    explicit Session(const unsigned char* data, int length)
        : input_{data, static_cast<OPJ_SIZE_T>(length), 0} {}
    ~Session() {
        if (image_) opj_image_destroy(image_);
        if (stream_) opj_stream_destroy(stream_);
        if (codec_) opj_destroy_codec(codec_);
    }
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sets up codec and stream and reads the main header; afterwards image()
    // describes the image (size, components) without sample data.
    bool ReadHeader() {
        OPJ_CODEC_FORMAT format;
        if (!DetectFormat(input_.data, static_cast<int>(input_.length), format)) return false;
        codec_ = opj_create_decompress(format);
        if (!codec_) return false;
        opj_set_info_handler(codec_, DropMessage, nullptr);
        opj_set_warning_handler(codec_, DropMessage, nullptr);
        opj_set_error_handler(codec_, DropMessage, nullptr);
        opj_dparameters_t parameters;
        opj_set_default_decoder_parameters(&parameters);  // all layers, full resolution
        if (!opj_setup_decoder(codec_, &parameters)) return false;
        // Decode on the calling thread only.
        if (!opj_codec_set_threads(codec_, 0)) return false;
        // A stream that ends before its last tile is an error, not a partial image.
        if (!opj_decoder_set_strict_mode(codec_, OPJ_TRUE)) return false;

        // The stream's own buffer need not exceed the code stream.
        const OPJ_SIZE_T chunk = input_.length < (1u << 20) ? input_.length : (1u << 20);
        stream_ = opj_stream_create(chunk, OPJ_TRUE);
        if (!stream_) return false;
        opj_stream_set_user_data(stream_, &input_, nullptr);
        opj_stream_set_user_data_length(stream_, input_.length);
        opj_stream_set_read_function(stream_, ReadInput);
        opj_stream_set_skip_function(stream_, SkipInput);
        opj_stream_set_seek_function(stream_, SeekInput);
        return opj_read_header(stream_, codec_, &image_) && image_ != nullptr;
    }

    // Decodes the whole image at full resolution into image().
    bool Decode() {
        return opj_decode(codec_, stream_, image_) && opj_end_decompress(codec_, stream_);
    }

    const opj_image_t* image() const { return image_; }

private:
    MemoryInput input_;
    opj_codec_t* codec_ = nullptr;
    opj_stream_t* stream_ = nullptr;
    opj_image_t* image_ = nullptr;
};

// The image's size in pixels, if it is one that callers can allocate for:
// both sides positive and width x height x 4 bytes within an int.
bool ImageSize(const opj_image_t* image, int& width, int& height) {
    if (image->x1 <= image->x0 || image->y1 <= image->y0) return false;
    const OPJ_UINT64 w = image->x1 - image->x0;
    const OPJ_UINT64 h = image->y1 - image->y0;
    if (w * h > static_cast<OPJ_UINT64>(INT_MAX) / 4) return false;
    width = static_cast<int>(w);
    height = static_cast<int>(h);
    return true;
}

// One decoded component, seen as a source of 8-bit samples for the pixels of
// the full image.
struct Plane {
    const OPJ_INT32* data;
    OPJ_UINT32 w, h;    // samples per row, rows
    OPJ_UINT32 dx, dy;  // sub-sampling on the reference grid
    OPJ_UINT32 x0, y0;  // grid position of the first sample, in samples
    OPJ_UINT32 prec;
    bool sgnd;
};

bool MakePlane(const opj_image_comp_t& comp, Plane& plane) {
    if (!comp.data || comp.w == 0 || comp.h == 0 || comp.dx == 0 || comp.dy == 0) return false;
    if (comp.prec < 1 || comp.prec > 31 || comp.factor != 0) return false;
    plane = Plane{comp.data, comp.w, comp.h, comp.dx, comp.dy, comp.x0, comp.y0, comp.prec, comp.sgnd != 0};
    return true;
}

// The sample index that covers grid coordinate `pos`: the last sample at or
// before it, kept inside the component.
inline OPJ_UINT32 SampleIndex(OPJ_UINT32 pos, OPJ_UINT32 step, OPJ_UINT32 first, OPJ_UINT32 count) {
    const OPJ_UINT32 u = pos / step;
    if (u <= first) return 0;
    const OPJ_UINT32 i = u - first;
    return i < count ? i : count - 1;
}

// Converts the component's samples for one image row into 8-bit values.
void PlaneRow(const Plane& p, OPJ_UINT32 gridY, OPJ_UINT32 gridX0, int width, unsigned char* out) {
    const OPJ_INT32* row = p.data + static_cast<size_t>(SampleIndex(gridY, p.dy, p.y0, p.h)) * p.w;
    const bool direct = p.dx == 1 && p.x0 == gridX0 && p.w >= static_cast<OPJ_UINT32>(width);
    const int64_t offset = p.sgnd ? (int64_t{1} << (p.prec - 1)) : 0;
    const int64_t top = (int64_t{1} << p.prec) - 1;

    if (direct && p.prec == 8 && !p.sgnd) {  // the common case
        for (int x = 0; x < width; ++x) {
            const OPJ_INT32 v = row[x];
            out[x] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
        }
        return;
    }
    for (int x = 0; x < width; ++x) {
        const OPJ_UINT32 i = direct ? static_cast<OPJ_UINT32>(x)
                                    : SampleIndex(gridX0 + static_cast<OPJ_UINT32>(x), p.dx, p.x0, p.w);
        int64_t v = static_cast<int64_t>(row[i]) + offset;
        v = v < 0 ? 0 : (v > top ? top : v);
        if (p.prec >= 8) {
            v >>= (p.prec - 8);
        } else {
            v = (v * 255 + top / 2) / top;
        }
        out[x] = static_cast<unsigned char>(v);
    }
}

// Writes the decoded image to dst in the layout of `mode`.
bool WritePixels(const opj_image_t* image, int width, int height, unsigned char* dst, int mode) {
    const OPJ_UINT32 count = image->numcomps;
    if (count == 0 || !image->comps) return false;

    // Which component feeds red, green, blue and alpha (-1: opaque).
    int source[4];
    if (count >= 3) {
        source[0] = 0; source[1] = 1; source[2] = 2;
        source[3] = count >= 4 ? 3 : -1;
    } else {
        source[0] = source[1] = source[2] = 0;
        source[3] = count == 2 ? 1 : -1;
    }
    const int channels = mode == 2 ? 4 : 3;
    Plane planes[4];
    for (int c = 0; c < channels; ++c) {
        if (source[c] >= 0 && !MakePlane(image->comps[source[c]], planes[c])) return false;
    }

    // One 8-bit row per channel, red, green, blue, alpha.
    const size_t w = static_cast<size_t>(width);
    std::unique_ptr<unsigned char[]> rows(new (std::nothrow) unsigned char[w * 4]);
    if (!rows) return false;
    unsigned char* red = rows.get();
    unsigned char* green = red + w;
    unsigned char* blue = green + w;
    unsigned char* alpha = blue + w;
    if (source[3] < 0) std::memset(alpha, 255, w);
    const bool grey = source[1] == source[0];
    if (grey) {
        green = red;
        blue = red;
    }

    for (int y = 0; y < height; ++y) {
        const OPJ_UINT32 gridY = image->y0 + static_cast<OPJ_UINT32>(y);
        PlaneRow(planes[0], gridY, image->x0, width, red);
        if (!grey) {
            PlaneRow(planes[1], gridY, image->x0, width, green);
            PlaneRow(planes[2], gridY, image->x0, width, blue);
        }
        if (mode == 2 && source[3] >= 0) PlaneRow(planes[3], gridY, image->x0, width, alpha);

        switch (mode) {
        case 0: {  // 5:6:5 by truncation, blue in bits 15-11, low byte first
            unsigned char* out = dst + static_cast<size_t>(y) * w * 2;
            for (size_t x = 0; x < w; ++x) {
                const unsigned v = ((blue[x] >> 3u) << 11) | ((green[x] >> 2u) << 5) | (red[x] >> 3u);
                out[2 * x] = static_cast<unsigned char>(v & 0xFFu);
                out[2 * x + 1] = static_cast<unsigned char>(v >> 8);
            }
            break;
        }
        case 1: {
            unsigned char* out = dst + static_cast<size_t>(y) * w * 3;
            for (size_t x = 0; x < w; ++x) {
                out[3 * x] = blue[x];
                out[3 * x + 1] = green[x];
                out[3 * x + 2] = red[x];
            }
            break;
        }
        default: {
            unsigned char* out = dst + static_cast<size_t>(y) * w * 4;
            for (size_t x = 0; x < w; ++x) {
                out[4 * x] = blue[x];
                out[4 * x + 1] = green[x];
                out[4 * x + 2] = red[x];
                out[4 * x + 3] = alpha[x];
            }
            break;
        }
        }
    }
    return true;
}

}  // namespace

bool j2k_decodeImgInfo(unsigned char* data, int length, int& width, int& height, int& extra) {
    width = height = extra = 0;
    if (!data || length <= 0) return false;
    Session session(data, length);
    int w = 0, h = 0;
    if (!session.ReadHeader() || !ImageSize(session.image(), w, h)) return false;
    width = w;
    height = h;
    extra = static_cast<int>(session.image()->numcomps);
    return true;
}

bool j2k_decode2Buffer(unsigned char* data, int length, unsigned char* dst, int mode) {
    if (!data || length <= 0 || !dst || mode < 0 || mode > 2) return false;
    Session session(data, length);
    int width = 0, height = 0;
    if (!session.ReadHeader() || !ImageSize(session.image(), width, height)) return false;
    const opj_image_t* header = session.image();
    const OPJ_UINT32 x0 = header->x0, y0 = header->y0, x1 = header->x1, y1 = header->y1;
    if (!session.Decode()) return false;
    // The caller sized dst from the header: write only an image of that size.
    const opj_image_t* image = session.image();
    if (image->x0 != x0 || image->y0 != y0 || image->x1 != x1 || image->y1 != y1) return false;
    return WritePixels(image, width, height, dst, mode);
}
