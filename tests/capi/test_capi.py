"""The plain C entry points from Python through ctypes, as a Python host binds
them: both editions' libraries open the sample pyramid that capi_fixture
writes, read a tile and decode it to RGB, which must equal the C++ API's
decode of the same tile (expected.rgb).

Environment: VELTRANE_CAPI_DIR (the fixture's folder), VELTRANE_LIBRARIES
(the shared libraries, separated by os.pathsep)."""
import ctypes
import os

import pytest

OK, E_OPEN, E_NO_TILE, E_BUFFER_TOO_SMALL, E_LAYOUT = 0, 2, 3, 5, 7
RGB, RGBA = 3, 5

SAMPLE_DIR = os.environ["VELTRANE_CAPI_DIR"]
SAMPLE = os.path.join(SAMPLE_DIR, "sample.vtp").encode()


def bind(path):
    lib = ctypes.CDLL(path)
    size_p = ctypes.POINTER(ctypes.c_size_t)
    int_p = ctypes.POINTER(ctypes.c_int)
    lib.veltrane_status_string.restype = ctypes.c_char_p
    lib.veltrane_status_string.argtypes = [ctypes.c_int]
    lib.veltrane_open.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    lib.veltrane_close.argtypes = [ctypes.c_void_p]
    lib.veltrane_close.restype = None
    lib.veltrane_tile_size.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int, size_p]
    lib.veltrane_read_tile.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_int,
                                       ctypes.c_char_p, ctypes.c_size_t, size_p]
    lib.veltrane_image_info.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int,
                                        int_p, int_p, int_p]
    lib.veltrane_decode_image.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t, ctypes.c_int,
                                          ctypes.c_int, ctypes.c_char_p, ctypes.c_size_t, size_p]
    return lib


@pytest.fixture(params=os.environ["VELTRANE_LIBRARIES"].split(os.pathsep), ids=os.path.basename)
def lib(request):
    return bind(request.param)


@pytest.fixture
def reader(lib):
    handle = ctypes.c_void_p()
    status = lib.veltrane_open(SAMPLE, ctypes.byref(handle))
    assert status == OK, lib.veltrane_status_string(status)
    yield handle
    lib.veltrane_close(handle)


def read_tile(lib, reader, level, column, row):
    size = ctypes.c_size_t()
    assert lib.veltrane_tile_size(reader, level, column, row, ctypes.byref(size)) == OK
    buffer = ctypes.create_string_buffer(size.value)
    got = ctypes.c_size_t()
    assert lib.veltrane_read_tile(reader, level, column, row, buffer, size.value, ctypes.byref(got)) == OK
    assert got.value == size.value
    return buffer.raw


def test_decoded_tile_equals_the_cpp_api_pixels(lib, reader):
    tile = read_tile(lib, reader, 1, 1, 0)
    channels, width, height = ctypes.c_int(), ctypes.c_int(), ctypes.c_int()
    assert lib.veltrane_image_info(reader, tile, len(tile), 1, ctypes.byref(channels), ctypes.byref(width),
                                   ctypes.byref(height)) == OK
    assert (channels.value, width.value, height.value) == (3, 64, 48)
    needed = ctypes.c_size_t()
    assert lib.veltrane_decode_image(reader, tile, len(tile), 1, RGB, None, 0,
                                     ctypes.byref(needed)) == E_BUFFER_TOO_SMALL
    assert needed.value == 64 * 48 * 3
    rgb = ctypes.create_string_buffer(needed.value)
    assert lib.veltrane_decode_image(reader, tile, len(tile), 1, RGB, rgb, needed.value, None) == OK
    with open(os.path.join(SAMPLE_DIR, "expected.rgb"), "rb") as f:
        assert rgb.raw == f.read()
    assert lib.veltrane_decode_image(reader, tile, len(tile), 1, RGBA, rgb, needed.value, None) == E_LAYOUT


def test_open_is_exclusive_and_failures_are_named(lib, reader):
    second = ctypes.c_void_p(1)
    assert lib.veltrane_open(SAMPLE, ctypes.byref(second)) == E_OPEN
    assert second.value is None
    assert lib.veltrane_status_string(E_OPEN).startswith(b"cannot open")
    size = ctypes.c_size_t()
    assert lib.veltrane_tile_size(reader, 5, 0, 0, ctypes.byref(size)) == E_NO_TILE
