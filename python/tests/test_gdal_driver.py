"""The driver through osgeo.gdal: the raster model, the pixels against the
tool's mosaics, the elevation subdataset, damaged files, other formats."""
import random
import struct
import zlib

import numpy as np
import pytest
from osgeo import gdal, osr

from conftest import SAMPLES, level_bands, read_entry, read_level, write_entry


def header_of(path):
    with open(path, "rb") as f:
        data = f.read(320)
    wkt = data[8:264].split(b"\0")[0].decode()
    min_x, min_y, max_x, max_y = struct.unpack_from("<4d", data, 264)
    width, height, tile_w, tile_h, levels, _ = struct.unpack_from("<6i", data, 296)
    return wkt, (min_x, min_y, max_x, max_y), (width, height), (tile_w, tile_h), levels


def test_header_gives_size_georeferencing_bands_and_overviews(samples):
    path = samples / "image.vtp"
    wkt, (min_x, min_y, max_x, max_y), (width, height), tile, levels = header_of(path)
    ds = gdal.Open(str(path))
    assert ds.GetDriver().ShortName == "Veltrane"
    assert (ds.RasterXSize, ds.RasterYSize) == (width, height)
    assert ds.GetGeoTransform() == (min_x, (max_x - min_x) / width, 0, max_y, 0, -(max_y - min_y) / height)
    expected = osr.SpatialReference(wkt=wkt)
    expected.SetAxisMappingStrategy(osr.OAMS_TRADITIONAL_GIS_ORDER)  # x east, y north, as GDAL drivers give
    assert ds.GetSpatialRef().IsSame(expected)
    bands = [ds.GetRasterBand(b + 1) for b in range(ds.RasterCount)]
    assert [gdal.GetColorInterpretationName(b.GetColorInterpretation()) for b in bands] == [
        "Red", "Green", "Blue", "Alpha"]
    assert bands[0].GetBlockSize() == list(tile)
    overviews = [bands[0].GetOverview(i) for i in range(bands[0].GetOverviewCount())]
    assert [(o.XSize, o.YSize) for o in overviews] == [
        ((width + 2 ** k - 1) >> k, (height + 2 ** k - 1) >> k) for k in range(1, levels)]
    assert ds.GetMetadataItem("VELTRANE_KIND") == "image"
    assert ds.GetMetadataItem("VELTRANE_KIND_SOURCE").startswith("guessed")


@pytest.mark.parametrize("name,levels", [(name, levels) for name, _, levels in SAMPLES])
def test_every_level_equals_the_mosaic_byte_for_byte(samples, mosaics, name, levels):
    ds = gdal.Open(str(samples / f"{name}.vtp"))
    for level in range(levels):
        assert np.array_equal(read_level(ds, level), mosaics[(name, level)]), f"level {level}"


def pixel_interleaved(ds, bands):
    """The whole dataset read as one buffer of pixels, `bands` bytes each."""
    data = ds.ReadRaster(band_list=list(range(1, bands + 1)), buf_pixel_space=bands,
                         buf_line_space=bands * ds.RasterXSize, buf_band_space=1)
    return np.frombuffer(data, np.uint8).reshape(ds.RasterYSize, ds.RasterXSize, bands).transpose(2, 0, 1)


@pytest.mark.parametrize("name,levels", [(name, levels) for name, _, levels in SAMPLES])
def test_dataset_reads_in_every_layout_equal_the_mosaic(samples, mosaics, name, levels):
    ds = gdal.Open(str(samples / f"{name}.vtp"))
    want = mosaics[(name, levels - 1)][:ds.RasterCount]
    assert np.array_equal(ds.ReadAsArray(), want)  # a plane a band
    assert np.array_equal(pixel_interleaved(ds, ds.RasterCount), want)
    assert np.array_equal(pixel_interleaved(ds, 2), want[:2])  # red and green only


def test_windows_across_tiles_and_reads_served_by_overviews(samples, mosaics):
    ds = gdal.Open(str(samples / "image.vtp"))
    finest = mosaics[("image", 2)]
    window = ds.ReadAsArray(200, 150, 300, 250)  # crosses two tile columns and two tile rows
    assert np.array_equal(window, finest[:, 150:400, 200:500])
    # A read at a quarter of the size is served from the coarsest level.
    coarse = mosaics[("image", 0)]
    shrunk = ds.ReadAsArray(buf_xsize=coarse.shape[2], buf_ysize=coarse.shape[1])
    assert np.array_equal(shrunk, coarse)


def test_missing_tiles_read_as_nodata(scratch_copy, mosaics):
    image, dds = scratch_copy("image"), scratch_copy("dds")
    write_entry(image, 2, 1, 1, 0, 0)
    write_entry(dds, 1, 1, 0, 0, 0)
    ds = gdal.Open(str(image))
    want = mosaics[("image", 2)].copy()
    want[:, 256:512, 256:512] = 0  # transparent black, alpha 0
    assert np.array_equal(read_level(ds, 2), want)
    assert np.array_equal(pixel_interleaved(ds, 4), want)
    got = read_level(gdal.Open(str(dds)), 1)
    want = mosaics[("dds", 1)].copy()
    want[:, 0:256, 256:512] = 0  # no alpha band: the mask says 0
    assert np.array_equal(got, want)


def test_elevation_subdataset_holds_the_grids(samples):
    path = samples / "dem.vtp"
    ds = gdal.Open(str(path))
    name = ds.GetMetadata("SUBDATASETS")["SUBDATASET_1_NAME"]
    assert name == f"Veltrane:elevation:{path}"
    elevation = gdal.Open(name)
    band = elevation.GetRasterBand(1)
    assert band.DataType == gdal.GDT_Float32 and band.GetNoDataValue() == -32768
    grids = band.ReadAsArray()
    # Tile 1/1/0, inflated here from its packet: byte 1 tags the elevation
    # section, its zlib stream of Z bytes starts at 10; the grid is n, then
    # n x n little-endian floats.
    offset, size = read_entry(path, 1, 1, 0)
    with open(path, "rb") as f:
        f.seek(offset)
        packet = f.read(size)
    assert packet[1] == 1
    grid = zlib.decompress(packet[10:10 + struct.unpack_from("<I", packet, 6)[0]])
    n = grid[0]
    samples_of_tile = np.frombuffer(grid[1:], "<f4").reshape(n, n)
    assert np.array_equal(grids[0:n, n:2 * n], samples_of_tile)
    # Sample (r, c) stands at the tile's north-west corner plus c and r spacings.
    _, (min_x, _, _, max_y), (width, _), (tile_w, _), _ = header_of(path)
    spacing = (ds.GetGeoTransform()[1] * tile_w) / n
    x0, dx, _, y0, _, dy = elevation.GetGeoTransform()
    assert (x0 + dx / 2, y0 + dy / 2, dx, -dy) == pytest.approx((min_x, max_y, spacing, spacing))
    assert elevation.RasterXSize == width * n // tile_w


def test_kind_open_option_overrides_the_guess(samples):
    path = str(samples / "image.vtp")
    ds = gdal.OpenEx(path, open_options=["KIND=dds"])
    assert ds.GetMetadataItem("VELTRANE_KIND") == "dds"
    assert ds.GetMetadataItem("VELTRANE_KIND_SOURCE") == "open option KIND"
    with pytest.raises(RuntimeError, match="tile 2/0/0: it is not a DDS payload"):
        ds.ReadRaster(0, 0, 16, 16)
    with pytest.raises(RuntimeError, match="unknown KIND=jpeg"):
        gdal.OpenEx(path, open_options=["KIND=jpeg"])


def test_orthophoto_open_option_picks_the_orthophoto(samples, mosaics):
    path = str(samples / "dem.vtp")
    ds = gdal.OpenEx(path, open_options=["ORTHOPHOTO=2"])
    assert np.array_equal(read_level(ds, 1), mosaics[("dem", "id2")])
    ds = gdal.OpenEx(path, open_options=["ORTHOPHOTO=9"])
    with pytest.raises(RuntimeError, match="tile 1/0/0: orthophoto 9 is missing or does not decode"):
        ds.ReadRaster(0, 0, 8, 8)


def other_format_files(folder, mosaic):
    """Files of other formats: GeoTIFF, PNG, JPEG, text, empty, random."""
    source = gdal.GetDriverByName("MEM").Create("", mosaic.shape[2], mosaic.shape[1], 3, gdal.GDT_Byte)
    source.WriteRaster(0, 0, source.RasterXSize, source.RasterYSize, mosaic[:3].tobytes())
    files = {}
    for driver, ext in [("GTiff", "tif"), ("PNG", "png"), ("JPEG", "jpg")]:
        files[driver] = folder / f"other.{ext}"
        gdal.GetDriverByName(driver).CreateCopy(str(files[driver]), source)
    files["text"] = folder / "other.txt"
    files["text"].write_text(osr.SRS_WKT_WGS84_LAT_LONG * 4)
    files["empty"] = folder / "other.bin"
    files["empty"].write_bytes(b"")
    files["random"] = folder / "random.bin"
    files["random"].write_bytes(random.Random(11).randbytes(65536))
    return files


def test_files_of_other_formats_are_not_claimed(tmp_path, mosaics):
    for kind, path in other_format_files(tmp_path, mosaics[("image", 1)]).items():
        assert gdal.IdentifyDriverEx(str(path), allowed_drivers=["Veltrane"]) is None, kind
        if kind in ("GTiff", "PNG", "JPEG"):
            assert gdal.Open(str(path)).GetDriver().ShortName == kind
        else:
            with pytest.raises(RuntimeError, match="not recognized"):
                gdal.Open(str(path))


def damage(path, how):
    data = bytearray(path.read_bytes())
    if how == "index cut short":
        del data[400:]
    elif how == "level count out of range":
        data[312:316] = struct.pack("<i", 99)
    elif how == "entry past the end":
        write_entry(path, 2, 1, 0, len(data) + 1000, 500)
        return
    elif how == "payload overwritten":
        offset, _ = read_entry(path, 2, 1, 1)
        data[offset:offset + 8] = b"\xff" * 8
    path.write_bytes(bytes(data))


@pytest.mark.parametrize("how,error", [
    ("index cut short", "the tile index is cut short"),
    ("level count out of range", "not recognized"),
    ("entry past the end", r"tile 2/1/0: its payload \(500 bytes at offset \d+\) lies outside"),
    ("payload overwritten", "tile 2/1/1: it is not an image tile payload"),
])
def test_damaged_files_give_an_error_naming_the_problem(scratch_copy, how, error):
    path = scratch_copy("image")
    damage(path, how)
    with pytest.raises(RuntimeError, match=error):
        ds = gdal.Open(str(path))
        for band in level_bands(ds, 2):
            band.ReadAsArray()


def test_randomly_damaged_files_fail_cleanly(scratch_copy):
    """Bytes changed anywhere behind the header: every read either succeeds or
    raises a GDAL error; the process goes on."""
    rng = random.Random(5)
    for round in range(40):
        name = SAMPLES[round % len(SAMPLES)][0]
        path = scratch_copy(name)
        data = bytearray(path.read_bytes())
        for _ in range(1 + round % 8):
            data[rng.randrange(320, len(data))] = rng.randrange(256)
        path.write_bytes(bytes(data))
        try:
            ds = gdal.Open(str(path))
            for level in range(ds.GetRasterBand(1).GetOverviewCount() + 1):
                for band in level_bands(ds, level):
                    try:
                        band.ReadAsArray()
                    except RuntimeError:
                        pass
            subdatasets = ds.GetMetadata("SUBDATASETS")
            ds = None
            if subdatasets:
                try:
                    gdal.Open(subdatasets["SUBDATASET_1_NAME"]).ReadAsArray()
                except RuntimeError:
                    pass
        except RuntimeError:
            pass
