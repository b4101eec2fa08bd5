/* Veltrane_c.h: the reader library as plain C functions.

   For hosts that cannot call the C++ class: programs built with another C++
   compiler than the library's (a C++ class exported from a DLL is usable only
   with the same compiler's ABI), C, and languages that reach a library
   through C calls (C#, Delphi, Python ctypes, Rust, Go). Both editions,
   Veltrane and Orvanel, export these functions under the same names.

   Every function returns a veltrane_status; VELTRANE_OK is 0. Results come
   out through pointer arguments, which are written only on success unless a
   function says otherwise. Nothing is allocated that the caller must free:
   the caller passes its buffers with their capacity in bytes, no function
   writes past that capacity, and a function whose buffer is too small
   returns VELTRANE_E_BUFFER_TOO_SMALL with the bytes it needs in *needed and
   the buffer untouched. The reader handle is released with veltrane_close.

   Threads: the tile size lookup, tile reads and decodes may run on any
   number of threads at once, on one handle too; open and close must not run
   beside another call on the same handle. Nothing prints, starts threads or
   reads the environment. */
#ifndef VELTRANE_VELTRANE_C_H
#define VELTRANE_VELTRANE_C_H

#include <stddef.h>

#include "VeltraneExport.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef enum veltrane_status {
    VELTRANE_OK = 0,
    VELTRANE_E_ARGUMENT = 1,         /* a null pointer, a negative position, an unknown layout */
    VELTRANE_E_OPEN = 2,             /* the file is missing, unreadable, or open elsewhere */
    VELTRANE_E_NO_TILE = 3,          /* no index entry for that level, column and row */
    VELTRANE_E_READ = 4,             /* the tile's bytes could not be read (damaged entry, I/O) */
    VELTRANE_E_BUFFER_TOO_SMALL = 5, /* the capacity given is less than *needed */
    VELTRANE_E_PAYLOAD = 6,          /* not an image payload this library decodes, or damaged */
    VELTRANE_E_LAYOUT = 7,           /* a layout this payload does not give (see veltrane_layout) */
    VELTRANE_E_MEMORY = 8            /* the library could not allocate what it needs */
} veltrane_status;

/* Output layouts of veltrane_decode_image; the values of the C++ OutputType.
   Pixels are blue, green, red (and alpha); 5:6:5 words are little-endian
   with blue in bits 15-11. Payloads of 3 channels give DXT1, DXT1_MIPMAPS,
   RGB and RGB565; payloads of 4 channels (an alpha plane) give DXT5_MIPMAPS
   and RGBA. */
typedef enum veltrane_layout {
    VELTRANE_DXT1 = 0,
    VELTRANE_DXT1_MIPMAPS = 1,
    VELTRANE_DXT5_MIPMAPS = 2,
    VELTRANE_RGB = 3,
    VELTRANE_RGB565 = 4,
    VELTRANE_RGBA = 5
} veltrane_layout;

/* One open pyramid file. */
typedef struct veltrane_reader veltrane_reader;

/* The pyramid's shape, as the file header gives it (its georeferencing:
   veltrane_get_extent and veltrane_get_wkt). */
typedef struct veltrane_header {
    int image_width, image_height; /* pixels of the finest level's image */
    int block_width, block_height; /* pixels of one tile */
    int levels;                    /* levels 0 .. levels-1; level l has 2^l x 2^l tiles */
} veltrane_header;

/* A short English text for a status ("buffer too small"); never null. */
VELTRANE_API const char* veltrane_status_string(veltrane_status status);

/* Opens a pyramid file exclusively: while it is open every other open of the
   file, from this process or another, fails (VELTRANE_E_OPEN). On success
   *reader is the new handle; on failure it is set to null. */
VELTRANE_API veltrane_status veltrane_open(const char* path, veltrane_reader** reader);

/* Closes the file and releases the handle. Null is allowed. */
VELTRANE_API void veltrane_close(veltrane_reader* reader);

VELTRANE_API veltrane_status veltrane_get_header(const veltrane_reader* reader, veltrane_header* header);

/* The projection as WKT text, NUL-terminated, into text[capacity];
   *needed receives the bytes it takes with the NUL (needed may be null). */
VELTRANE_API veltrane_status veltrane_get_wkt(const veltrane_reader* reader, char* text, size_t capacity,
                                              size_t* needed);

/* The image's north-west corner and extent in map units (image = 1), or
   those of the whole pyramid, whose finest level may run past the image in
   whole tiles (image = 0). */
VELTRANE_API veltrane_status veltrane_get_extent(const veltrane_reader* reader, int image, double* left,
                                                 double* top, double* width, double* height);

/* The payload bytes of a tile; 0 for a tile the file holds no payload for. */
VELTRANE_API veltrane_status veltrane_tile_size(veltrane_reader* reader, int level, int column, int row,
                                                size_t* size);

/* Reads a tile's payload into buffer[capacity]; *size receives its bytes.
   With too small a capacity *size receives the bytes needed instead. */
VELTRANE_API veltrane_status veltrane_read_tile(veltrane_reader* reader, int level, int column, int row,
                                                unsigned char* buffer, size_t capacity, size_t* size);

/* The colour channels (3, or 4 with an alpha plane) and pixel size of an
   image payload. leading_byte: nonzero when the payload starts with the
   leading tag byte, as every tile the veltrane tool writes does. */
VELTRANE_API veltrane_status veltrane_image_info(const veltrane_reader* reader, const unsigned char* payload,
                                                 size_t length, int leading_byte, int* channels, int* width,
                                                 int* height);

/* Decodes an image payload into destination[capacity] in `layout`; *needed
   receives the bytes the layout takes (also when the capacity is too small;
   needed may be null). */
VELTRANE_API veltrane_status veltrane_decode_image(const veltrane_reader* reader, const unsigned char* payload,
                                                   size_t length, int leading_byte, veltrane_layout layout,
                                                   unsigned char* destination, size_t capacity, size_t* needed);

#ifdef __cplusplus
}
#endif

#endif /* VELTRANE_VELTRANE_C_H */
