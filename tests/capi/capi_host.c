/* A host written in C89 against Veltrane_c.h alone: opens the sample pyramid
   that capi_fixture writes, reads a tile, decodes it to RGB and compares the
   pixels with the C++ API's decode of the same tile.
     capi_host DIR     (DIR holds sample.vtp and expected.rgb)
   Exit status 0 when everything agrees; otherwise 1 with the reason. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "Veltrane_c.h"

static int failures = 0;

static void check(int ok, const char* what) {
    if (!ok) {
        fprintf(stderr, "capi_host: %s\n", what);
        failures++;
    }
}

static unsigned char* read_file(const char* path, size_t* size) {
    FILE* f = fopen(path, "rb");
    unsigned char* bytes;
    long length;
    if (f == NULL) return NULL;
    fseek(f, 0, SEEK_END);
    length = ftell(f);
    fseek(f, 0, SEEK_SET);
    bytes = (unsigned char*)malloc(length > 0 ? (size_t)length : 1);
    *size = bytes != NULL ? fread(bytes, 1, (size_t)length, f) : 0;
    fclose(f);
    return bytes;
}

int main(int argc, char** argv) {
    char pyramid[4096], expected_path[4096], wkt[256];
    veltrane_reader* reader = NULL;
    veltrane_reader* second = NULL;
    veltrane_header header;
    veltrane_status status;
    unsigned char *tile, *rgb, *expected;
    size_t size = 0, got = 0, needed = 0, expected_size = 0;
    int channels = 0, width = 0, height = 0;

    if (argc != 2 || strlen(argv[1]) > 4000) {
        fprintf(stderr, "usage: capi_host DIR\n");
        return 2;
    }
    sprintf(pyramid, "%s/sample.vtp", argv[1]);
    sprintf(expected_path, "%s/expected.rgb", argv[1]);

    status = veltrane_open(pyramid, &reader);
    if (status != VELTRANE_OK) {
        fprintf(stderr, "capi_host: cannot open %s: %s\n", pyramid, veltrane_status_string(status));
        return 1;
    }
    check(veltrane_open(pyramid, &second) == VELTRANE_E_OPEN && second == NULL, "a second open was not refused");
    check(veltrane_get_header(reader, &header) == VELTRANE_OK && header.levels == 2 && header.block_width == 64,
          "header");
    check(veltrane_get_wkt(reader, wkt, sizeof wkt, &needed) == VELTRANE_OK && strcmp(wkt, "LOCAL_CS[\"capi\"]") == 0,
          "projection text");

    check(veltrane_tile_size(reader, 1, 1, 0, &size) == VELTRANE_OK && size > 0, "tile size");
    tile = (unsigned char*)malloc(size);
    check(veltrane_read_tile(reader, 1, 1, 0, tile, size - 1, &got) == VELTRANE_E_BUFFER_TOO_SMALL && got == size,
          "a too small tile buffer");
    check(veltrane_read_tile(reader, 1, 1, 0, tile, size, &got) == VELTRANE_OK && got == size, "tile read");
    check(veltrane_image_info(reader, tile, size, 1, &channels, &width, &height) == VELTRANE_OK && channels == 3,
          "image info");

    rgb = (unsigned char*)malloc((size_t)width * (size_t)height * 3);
    check(veltrane_decode_image(reader, tile, size, 1, VELTRANE_RGB, rgb, 0, &needed) == VELTRANE_E_BUFFER_TOO_SMALL &&
              needed == (size_t)width * (size_t)height * 3,
          "bytes needed for RGB");
    status = veltrane_decode_image(reader, tile, size, 1, VELTRANE_RGB, rgb, needed, NULL);
    check(status == VELTRANE_OK, veltrane_status_string(status));

    expected = read_file(expected_path, &expected_size);
    check(expected != NULL && expected_size == needed && memcmp(expected, rgb, needed) == 0,
          "decoded pixels differ from the C++ API's");

    veltrane_close(reader);
    check(veltrane_open(pyramid, &second) == VELTRANE_OK, "open after close");
    veltrane_close(second);
    free(tile);
    free(rgb);
    free(expected);
    if (failures == 0) printf("capi_host: %d x %d tile decoded as the C++ API decodes it\n", width, height);
    return failures == 0 ? 0 : 1;
}
