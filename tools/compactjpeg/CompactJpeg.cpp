// Compact JPEG streams through libjpeg (see CompactJpeg.h).
#include "CompactJpeg.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>

namespace vt {
namespace compactjpeg {
namespace {

// libjpeg reports errors through error_exit, which must not return: jump
// back to the call that set up the error manager. Messages are dropped.
struct ErrorManager {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

void ErrorExit(j_common_ptr cinfo) {
    std::longjmp(reinterpret_cast<ErrorManager*>(cinfo->err)->jump, 1);
}

void OutputMessage(j_common_ptr) {}

void InstallErrorManager(ErrorManager& err) {
    jpeg_std_error(&err.pub);
    err.pub.error_exit = ErrorExit;
    err.pub.output_message = OutputMessage;
}

// ITU-T T.81 Table K.1 in natural order.
constexpr unsigned kBaseQuant[64] = {
    16, 11, 10, 16, 24,  40,  51,  61,  12, 12, 14, 19, 26,  58,  60,  55,
    14, 13, 16, 24, 40,  57,  69,  56,  14, 17, 22, 29, 51,  87,  80,  62,
    18, 22, 37, 56, 68,  109, 103, 77,  24, 35, 55, 64, 81,  104, 113, 92,
    49, 64, 78, 87, 103, 121, 120, 101, 72, 92, 95, 98, 112, 100, 103, 99};

// Natural index of the k-th coefficient in zig-zag order (T.81 Figure A.6),
// the order in which DQT segments list their values.
constexpr int kZigZag[64] = {0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,
                             12, 19, 26, 33, 40, 48, 41, 34, 27, 20, 13, 6,  7,  14, 21, 28,
                             35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23, 30, 37, 44, 51,
                             58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// The quantisation table of a compact stream: Table K.1 scaled the IJG way
// by the quality as its header stores it (0 counts as 1, above 100 as 100),
// each value clamped to 1..255.
void QuantTableForQuality(unsigned quality16, unsigned table[64]) {
    unsigned q = quality16;
    if (q == 0) q = 1;
    if (q > 100) q = 100;
    const unsigned scale = q < 50 ? 5000 / q : 200 - 2 * q;
    for (int i = 0; i < 64; ++i) {
        unsigned v = (scale * kBaseQuant[i] + 50) / 100;
        if (v == 0) v = 1;
        if (v > 255) v = 255;
        table[i] = v;
    }
}

void PutU16BE(std::vector<unsigned char>& out, unsigned v) {
    out.push_back(static_cast<unsigned char>(v >> 8));
    out.push_back(static_cast<unsigned char>(v));
}

void PutMarker(std::vector<unsigned char>& out, unsigned char marker) {
    out.push_back(0xFF);
    out.push_back(marker);
}

// Extracts the entropy-coded data of the only scan of a baseline JPEG file
// and removes the stuffed zero after each 0xFF. False if the layout is not
// SOI, marker segments, SOS, data, EOI.
bool ExtractScan(const unsigned char* jpeg, size_t length, std::vector<unsigned char>& out) {
    if (length < 4 || jpeg[0] != 0xFF || jpeg[1] != 0xD8) return false;
    size_t pos = 2;
    for (;;) {
        if (pos + 4 > length || jpeg[pos] != 0xFF) return false;
        const unsigned char marker = jpeg[pos + 1];
        const size_t segment = (static_cast<size_t>(jpeg[pos + 2]) << 8) | jpeg[pos + 3];
        pos += 2 + segment;
        if (marker == 0xDA) break;
    }
    while (pos < length) {
        const unsigned char b = jpeg[pos];
        if (b != 0xFF) {
            out.push_back(b);
            ++pos;
            continue;
        }
        if (pos + 1 >= length) return false;
        if (jpeg[pos + 1] == 0x00) {
            out.push_back(0xFF);
            pos += 2;
            continue;
        }
        return jpeg[pos + 1] == 0xD9;
    }
    return false;
}

struct StandardHuffmanTables {
    JHUFF_TBL dc[2];
    JHUFF_TBL ac[2];
};

// libjpeg's own copies of the T.81 Annex K.3 tables, which jpeg_set_defaults
// installs in a compressor: slot 0 luminance, slot 1 chrominance.
bool GetStandardHuffmanTables(StandardHuffmanTables& tables) {
    jpeg_compress_struct cinfo;
    ErrorManager err;
    cinfo.err = &err.pub;
    InstallErrorManager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        return false;
    }
    jpeg_create_compress(&cinfo);
    cinfo.in_color_space = JCS_RGB;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    for (int i = 0; i < 2; ++i) {
        tables.dc[i] = *cinfo.dc_huff_tbl_ptrs[i];
        tables.ac[i] = *cinfo.ac_huff_tbl_ptrs[i];
    }
    jpeg_destroy_compress(&cinfo);
    return true;
}

void PutHuffmanTable(std::vector<unsigned char>& out, int classAndId, const JHUFF_TBL& table) {
    int count = 0;
    for (int l = 1; l <= 16; ++l) count += table.bits[l];
    PutMarker(out, 0xC4);
    PutU16BE(out, static_cast<unsigned>(2 + 1 + 16 + count));
    out.push_back(static_cast<unsigned char>(classAndId));
    for (int l = 1; l <= 16; ++l) out.push_back(table.bits[l]);
    for (int i = 0; i < count; ++i) out.push_back(table.huffval[i]);
}

}  // namespace

std::vector<unsigned char> EncodeCompactJpeg(const unsigned char* rgb, int width, int height, int quality) {
    if (rgb == nullptr || width <= 0 || height <= 0 || width > 65535 || height > 65535) return {};
    const unsigned quality16 = static_cast<unsigned>(quality) & 0xFFFF;
    unsigned table[64];
    QuantTableForQuality(quality16, table);

    jpeg_compress_struct cinfo;
    ErrorManager err;
    unsigned char* memory = nullptr;
    unsigned long memorySize = 0;
    cinfo.err = &err.pub;
    InstallErrorManager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(memory);
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &memory, &memorySize);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_colorspace(&cinfo, JCS_YCbCr);
    cinfo.comp_info[0].h_samp_factor = 2;
    cinfo.comp_info[0].v_samp_factor = 2;
    for (int c = 1; c < 3; ++c) {
        cinfo.comp_info[c].h_samp_factor = 1;
        cinfo.comp_info[c].v_samp_factor = 1;
    }
    jpeg_add_quant_table(&cinfo, 0, table, 100, TRUE);
    jpeg_add_quant_table(&cinfo, 1, table, 100, TRUE);
    cinfo.optimize_coding = FALSE;
    cinfo.restart_interval = 0;
    cinfo.restart_in_rows = 0;
    cinfo.write_JFIF_header = FALSE;
    jpeg_start_compress(&cinfo, TRUE);
    const size_t rowBytes = static_cast<size_t>(width) * 3;
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = const_cast<JSAMPROW>(rgb + cinfo.next_scanline * rowBytes);
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);

    std::vector<unsigned char> compact = {
        static_cast<unsigned char>(width),    static_cast<unsigned char>(width >> 8),
        static_cast<unsigned char>(height),   static_cast<unsigned char>(height >> 8),
        static_cast<unsigned char>(quality16), static_cast<unsigned char>(quality16 >> 8)};
    const bool ok = ExtractScan(memory, memorySize, compact);
    std::free(memory);
    if (!ok) return {};
    return compact;
}

std::vector<unsigned char> WrapAsStandardJpeg(const unsigned char* compact, size_t length) {
    if (compact == nullptr || length < 6) return {};
    const unsigned width = compact[0] | (compact[1] << 8);
    const unsigned height = compact[2] | (compact[3] << 8);
    const unsigned quality16 = compact[4] | (compact[5] << 8);
    StandardHuffmanTables huffman;
    if (!GetStandardHuffmanTables(huffman)) return {};
    unsigned table[64];
    QuantTableForQuality(quality16, table);

    std::vector<unsigned char> out;
    out.reserve(length + length / 64 + 700);
    PutMarker(out, 0xD8);  // SOI
    PutMarker(out, 0xDB);  // DQT: tables 0 and 1, 8-bit, zig-zag order
    PutU16BE(out, 2 + 2 * 65);
    for (int id = 0; id < 2; ++id) {
        out.push_back(static_cast<unsigned char>(id));
        for (int k = 0; k < 64; ++k) out.push_back(static_cast<unsigned char>(table[kZigZag[k]]));
    }
    PutMarker(out, 0xC0);  // SOF0: 8-bit, Y 2x2 table 0, Cb and Cr 1x1 table 1
    PutU16BE(out, 17);
    out.push_back(8);
    PutU16BE(out, height);
    PutU16BE(out, width);
    out.push_back(3);
    const unsigned char components[9] = {1, 0x22, 0, 2, 0x11, 1, 3, 0x11, 1};
    out.insert(out.end(), components, components + 9);
    PutHuffmanTable(out, 0x00, huffman.dc[0]);
    PutHuffmanTable(out, 0x10, huffman.ac[0]);
    PutHuffmanTable(out, 0x01, huffman.dc[1]);
    PutHuffmanTable(out, 0x11, huffman.ac[1]);
    PutMarker(out, 0xDA);  // SOS: Y with tables 0/0, Cb and Cr with 1/1
    PutU16BE(out, 12);
    const unsigned char scan[10] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
    out.insert(out.end(), scan, scan + 10);
    for (size_t i = 6; i < length; ++i) {
        out.push_back(compact[i]);
        if (compact[i] == 0xFF) out.push_back(0x00);
    }
    PutMarker(out, 0xD9);  // EOI
    return out;
}

bool DecodeJpegReference(const unsigned char* jpeg, size_t length, int bytesPerPixel,
                         std::vector<unsigned char>& pixels, int& width, int& height) {
    if (jpeg == nullptr || length == 0 || (bytesPerPixel != 3 && bytesPerPixel != 4)) return false;
    jpeg_decompress_struct cinfo;
    ErrorManager err;
    cinfo.err = &err.pub;
    InstallErrorManager(err);
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return false;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, jpeg, static_cast<unsigned long>(length));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = bytesPerPixel == 3 ? JCS_EXT_BGR : JCS_EXT_BGRX;
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    width = static_cast<int>(cinfo.output_width);
    height = static_cast<int>(cinfo.output_height);
    const size_t rowBytes = static_cast<size_t>(width) * static_cast<size_t>(bytesPerPixel);
    pixels.assign(rowBytes * static_cast<size_t>(height), 0);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = pixels.data() + cinfo.output_scanline * rowBytes;
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return true;
}

bool DecodeCompactJpegReference(const unsigned char* compact, size_t length, int bytesPerPixel,
                                std::vector<unsigned char>& pixels, int& width, int& height) {
    const std::vector<unsigned char> jpeg = WrapAsStandardJpeg(compact, length);
    if (jpeg.empty()) return false;
    return DecodeJpegReference(jpeg.data(), jpeg.size(), bytesPerPixel, pixels, width, height);
}

}  // namespace compactjpeg
}  // namespace vt
