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

#include <algorithm>
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

inline OPJ_UINT64 BigEndian(const unsigned char* p, int bytes) {
    OPJ_UINT64 v = 0;
    for (int i = 0; i < bytes; ++i) v = (v << 8) | p[i];
    return v;
}

// The code stream of a JP2 file: the contents of its first top-level
// contiguous code stream box ('jp2c'). Boxes are a 4-byte length (0: to the
// end of the file; 1: an 8-byte length follows the type) and a 4-byte type.
bool FindCodestream(const unsigned char*& data, OPJ_UINT64& length) {
    OPJ_UINT64 at = 0;
    while (length - at >= 8) {
        OPJ_UINT64 size = BigEndian(data + at, 4), header = 8;
        const bool codestream = std::memcmp(data + at + 4, "jp2c", 4) == 0;
        if (size == 1) {
            if (length - at < 16) return false;
            size = BigEndian(data + at + 8, 8);
            header = 16;
        } else if (size == 0) {
            size = length - at;
        }
        if (size < header) return false;
        if (codestream) {  // perhaps cut short: its header is what counts
            data += at + header;
            length = std::min(size, length - at) - header;
            return true;
        }
        if (size > length - at) return false;
        at += size;
    }
    return false;
}

// OpenJPEG sets up coding parameters for every tile and component as soon as
// it has read the main header: several kilobytes per tile, one more per tile
// and component. A few hundred bytes of hostile header can declare 65,535
// tiles and thousands of components, and so ask for gigabytes before the
// first tile is looked at. Every tile needs a tile-part in the code stream, at
// least a 12-byte SOT marker segment and the 2-byte SOD marker: a stream that
// declares more tiles than it can hold is refused here, and so is one whose
// tiles times components exceed 65,536 (some 64 MB of such parameters), far
// beyond any tile of a pyramid.
bool PlausibleTiling(const unsigned char* data, OPJ_UINT64 length, OPJ_CODEC_FORMAT format) {
    if (format == OPJ_CODEC_JP2 && !FindCodestream(data, length)) return false;
    // SOC, then the SIZ marker segment: Lsiz, Rsiz, Xsiz, Ysiz, XOsiz, YOsiz,
    // XTsiz, YTsiz, XTOsiz, YTOsiz, Csiz.
    if (length < 42 || data[0] != 0xFF || data[1] != 0x4F || data[2] != 0xFF || data[3] != 0x51) return false;
    const OPJ_UINT64 xsiz = BigEndian(data + 8, 4), ysiz = BigEndian(data + 12, 4);
    const OPJ_UINT64 xtsiz = BigEndian(data + 24, 4), ytsiz = BigEndian(data + 28, 4);
    const OPJ_UINT64 xtosiz = BigEndian(data + 32, 4), ytosiz = BigEndian(data + 36, 4);
    const OPJ_UINT64 csiz = BigEndian(data + 40, 2);
    // A grid OpenJPEG refuses anyway is left to it.
    if (xtsiz == 0 || ytsiz == 0 || xsiz <= xtosiz || ysiz <= ytosiz) return true;
    const OPJ_UINT64 tiles = ((xsiz - xtosiz + xtsiz - 1) / xtsiz) * ((ysiz - ytosiz + ytsiz - 1) / ytsiz);
    constexpr OPJ_UINT64 kLeastTilePart = 14;
    constexpr OPJ_UINT64 kMostTileComponents = 65536;
    return tiles <= length / kLeastTilePart && tiles * csiz <= kMostTileComponents;
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
        if (!PlausibleTiling(input_.data, input_.length, format)) return false;
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

// ---------------------------------------------------------------------------
// Sample conversion, a row at a time: each component's row becomes a row of
// 8-bit samples, then the rows are interleaved into the output layout.
//
// Both steps go eight pixels at a time, the samples through vectors of eight
// (GCC's and Clang's vector extension) and the 8-bit rows through 64-bit
// words, with no comparison per sample (only sub-sampled components gather
// their samples one by one). A plain build loses nothing by it, and a
// checking build (the fuzzing build traces every scalar comparison and checks
// every memory access) pays once per eight pixels instead of several times
// per pixel: there the conversion used to cost more than the decoding itself.
//
// Byte i of such a word is the i-th byte in memory, as on the little-endian
// processors this library is built for.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "Wavedec packs pixels into little-endian words"
#endif

typedef OPJ_INT32 EightSamples __attribute__((vector_size(32)));
typedef std::int64_t EightWide __attribute__((vector_size(64)));
typedef unsigned char EightBytes __attribute__((vector_size(8)));

inline std::uint64_t LoadBytes(const unsigned char* p, size_t n) {
    std::uint64_t word = 0;
    std::memcpy(&word, p, n);
    return word;
}

inline void StoreWord(unsigned char* p, std::uint64_t word) { std::memcpy(p, &word, 8); }

inline std::uint64_t ByteOf(std::uint64_t word, unsigned i) { return (word >> (8 * i)) & 0xFFu; }

template <typename Vector>
inline std::uint64_t Narrow(const Vector& v) {
    const EightBytes bytes = __builtin_convertvector(v, EightBytes);
    std::uint64_t word;
    std::memcpy(&word, &bytes, 8);
    return word;
}

// The samples that cover pixels x ... x + n - 1 of a row (n <= 8; lanes
// beyond n are zero): the next n samples of a component with one sample per
// pixel, else the samples that `columns` names. (Handed out through a
// reference: a returned 32-byte vector would take an ABI of its own.)
inline void LoadSamples(const OPJ_INT32* row, size_t x, bool direct, const OPJ_UINT32* columns, size_t n,
                        EightSamples& v) {
    v = EightSamples{};
    if (direct) {
        std::memcpy(&v, row + x, n * sizeof(OPJ_INT32));
    } else {
        for (size_t i = 0; i < n; ++i) v[i] = row[columns[x + i]];
    }
}

// Eight samples as 8-bit values. Signed samples are offset by half their
// range; then the samples are clamped to 0..top (negative values cleared by
// their sign, values above top saturated by the sign of top - v) and cut to
// their top 8 bits or, with fewer bits, scaled to 0..255 and rounded.
inline std::uint64_t ConvertEight(const EightSamples& samples, const Plane& p) {
    if (p.prec == 8 && !p.sgnd) {  // the common case, in 32-bit lanes
        EightSamples v = samples;
        v &= ~(v >> 31);
        v |= (255 - v) >> 31;
        return Narrow(v & 0xFF);
    }
    const std::int64_t offset = p.sgnd ? (std::int64_t{1} << (p.prec - 1)) : 0;
    const std::int64_t top = (std::int64_t{1} << p.prec) - 1;
    EightWide v = __builtin_convertvector(samples, EightWide) + offset;
    v &= ~(v >> 63);
    v = (v | ((top - v) >> 63)) & top;
    if (p.prec >= 8) {
        v >>= p.prec - 8;
    } else {
        v = (v * 255 + top / 2) / top;
    }
    return Narrow(v);
}

// Converts the component's samples for one image row into 8-bit values.
// `direct`: the component has one sample per pixel from the image's first
// column on; otherwise `columns` holds, for each pixel of the row, the index
// of the sample that covers it (the same for every row).
void PlaneRow(const Plane& p, OPJ_UINT32 gridY, bool direct, const OPJ_UINT32* columns, size_t width,
              unsigned char* out) {
    const OPJ_INT32* row = p.data + static_cast<size_t>(SampleIndex(gridY, p.dy, p.y0, p.h)) * p.w;
    EightSamples samples;
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        LoadSamples(row, x, direct, columns, 8, samples);
        StoreWord(out + x, ConvertEight(samples, p));
    }
    if (x < width) {
        const size_t n = width - x;
        LoadSamples(row, x, direct, columns, n, samples);
        const std::uint64_t word = ConvertEight(samples, p);
        std::memcpy(out + x, &word, n);
    }
}

// Bytes first ... first + 7 of eight pixels with `Channels` bytes each,
// blue, green, red (and alpha), from one word per channel.
template <unsigned Channels>
inline std::uint64_t Interleave(std::uint64_t blue, std::uint64_t green, std::uint64_t red, std::uint64_t alpha,
                                unsigned first) {
    std::uint64_t word = 0;
#pragma GCC unroll 8
    for (unsigned i = 0; i < 8; ++i) {
        const unsigned k = first + i, channel = k % Channels;
        const std::uint64_t source = channel == 0 ? blue : (channel == 1 ? green : (channel == 2 ? red : alpha));
        word |= ByteOf(source, k / Channels) << (8 * i);
    }
    return word;
}

// Pixels first ... first + 3 in 5:6:5 by truncation, blue in bits 15-11, two
// bytes each, low byte first.
inline std::uint64_t Pack565(std::uint64_t blue, std::uint64_t green, std::uint64_t red, unsigned first) {
    std::uint64_t word = 0;
#pragma GCC unroll 4
    for (unsigned i = 0; i < 4; ++i) {
        const unsigned k = first + i;
        const std::uint64_t v = ((ByteOf(blue, k) >> 3) << 11) | ((ByteOf(green, k) >> 2) << 5) | (ByteOf(red, k) >> 3);
        word |= v << (16 * i);
    }
    return word;
}

// The layout of each mode: bytes per pixel.
constexpr size_t PixelBytes(int mode) { return mode == 0 ? 2 : (mode == 1 ? 3 : 4); }

// Eight pixels, one word per channel, in the layout of `Mode`.
template <int Mode>
inline void WriteEight(std::uint64_t blue, std::uint64_t green, std::uint64_t red, std::uint64_t alpha,
                       unsigned char* out) {
    if constexpr (Mode == 0) {
        StoreWord(out, Pack565(blue, green, red, 0));
        StoreWord(out + 8, Pack565(blue, green, red, 4));
    } else {
        constexpr unsigned kChannels = PixelBytes(Mode);
#pragma GCC unroll 4
        for (unsigned k = 0; k < kChannels; ++k)
            StoreWord(out + 8 * k, Interleave<kChannels>(blue, green, red, alpha, 8 * k));
    }
}

// One row of 8-bit samples per channel, interleaved into one row of `Mode`.
template <int Mode>
void WriteRow(const unsigned char* blue, const unsigned char* green, const unsigned char* red,
              const unsigned char* alpha, size_t width, unsigned char* out) {
    constexpr size_t kBytes = PixelBytes(Mode);
    size_t x = 0;
    for (; x + 8 <= width; x += 8) {
        const std::uint64_t a = Mode == 2 ? LoadBytes(alpha + x, 8) : 0;
        WriteEight<Mode>(LoadBytes(blue + x, 8), LoadBytes(green + x, 8), LoadBytes(red + x, 8), a, out + x * kBytes);
    }
    if (x < width) {  // the last few pixels, through a block of eight
        const size_t n = width - x;
        const std::uint64_t a = Mode == 2 ? LoadBytes(alpha + x, n) : 0;
        unsigned char block[8 * kBytes];
        WriteEight<Mode>(LoadBytes(blue + x, n), LoadBytes(green + x, n), LoadBytes(red + x, n), a, block);
        std::memcpy(out + x * kBytes, block, n * kBytes);
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
    const size_t w = static_cast<size_t>(width);
    Plane planes[4];
    bool direct[4] = {};
    for (int c = 0; c < channels; ++c) {
        if (source[c] < 0) continue;
        if (!MakePlane(image->comps[source[c]], planes[c])) return false;
        // One sample per pixel, starting at the image's first column.
        direct[c] = planes[c].dx == 1 && planes[c].x0 == image->x0 && planes[c].w >= w;
    }

    // One 8-bit row per channel, red, green, blue, alpha, and for each
    // channel that is not direct the sample index of every column.
    std::unique_ptr<unsigned char[]> rows(new (std::nothrow) unsigned char[w * 4]);
    std::unique_ptr<OPJ_UINT32[]> columns(new (std::nothrow) OPJ_UINT32[w * 4]);
    if (!rows || !columns) return false;
    for (int c = 0; c < channels; ++c) {
        if (source[c] < 0 || direct[c]) continue;
        for (size_t x = 0; x < w; ++x)
            columns[c * w + x] = SampleIndex(image->x0 + static_cast<OPJ_UINT32>(x), planes[c].dx, planes[c].x0,
                                             planes[c].w);
    }
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

    unsigned char* const out[3] = {red, green, blue};
    for (int y = 0; y < height; ++y) {
        const OPJ_UINT32 gridY = image->y0 + static_cast<OPJ_UINT32>(y);
        for (int c = 0; c < (grey ? 1 : 3); ++c) PlaneRow(planes[c], gridY, direct[c], &columns[c * w], w, out[c]);
        if (mode == 2 && source[3] >= 0) PlaneRow(planes[3], gridY, direct[3], &columns[3 * w], w, alpha);

        unsigned char* line = dst + static_cast<size_t>(y) * w * PixelBytes(mode);
        switch (mode) {
        case 0: WriteRow<0>(blue, green, red, alpha, w, line); break;
        case 1: WriteRow<1>(blue, green, red, alpha, w, line); break;
        default: WriteRow<2>(blue, green, red, alpha, w, line); break;
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
