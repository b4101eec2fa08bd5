"""Fixtures for the tests that read pyramid files through GDAL.

ctest runs them with GDAL_DRIVER_PATH pointing at the built driver and
VELTRANE_TOOL naming the built `veltrane` tool, which writes the sample
pyramids and the mosaics the pixels are compared with.
"""
import os
import shutil
import struct
import subprocess

import numpy as np
import pytest
from osgeo import gdal

gdal.UseExceptions()

TOOL = os.environ.get("VELTRANE_TOOL", "veltrane")

# Sample file, kind the tool is told for its mosaic, number of levels.
SAMPLES = [("image", None, 3), ("image2", None, 2), ("dds", None, 2), ("dem", "dom", 2)]


def entry_offset(header, level, x, y):
    """File offset of a tile's index entry: finest level first, rows top down."""
    index_levels = struct.unpack_from("<i", header, 316)[0]
    finer = sum(4 ** j for j in range(level + 1, index_levels))
    return 320 + 12 * (finer + (y << level) + x)


def read_entry(path, level, x, y):
    with open(path, "rb") as f:
        data = f.read()
    return struct.unpack_from("<qI", data, entry_offset(data, level, x, y))


def write_entry(path, level, x, y, offset, size):
    with open(path, "r+b") as f:
        header = f.read(320)
        f.seek(entry_offset(header, level, x, y))
        f.write(struct.pack("<qI", offset, size))


@pytest.fixture(scope="session")
def samples(tmp_path_factory):
    folder = tmp_path_factory.mktemp("samples")
    subprocess.run([TOOL, "sample", str(folder)], check=True, stdout=subprocess.DEVNULL)
    return folder


@pytest.fixture(scope="session", autouse=True)
def mosaics(samples, tmp_path_factory):
    """What `veltrane mosaic` writes for every level of every sample, as
    (bands, rows, columns) arrays of red, green, blue, alpha. Made before any
    test opens a sample (autouse): the library opens a file exclusively."""
    folder = tmp_path_factory.mktemp("mosaics")
    out = {}
    for name, kind, levels in SAMPLES:
        for level in range(levels):
            png = folder / f"{name}-{level}.png"
            command = [TOOL, "mosaic", str(samples / f"{name}.vtp"), str(level), "-o", str(png)]
            if kind:
                command += ["--kind", kind]
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            out[(name, level)] = gdal.Open(str(png)).ReadAsArray()
    # The second orthophoto (the hill-shading) of the DEM/DOM packets.
    png = folder / "dem-id2.png"
    subprocess.run([TOOL, "mosaic", str(samples / "dem.vtp"), "1", "--kind", "dom", "--id", "2", "-o", str(png)],
                   check=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    out[("dem", "id2")] = gdal.Open(str(png)).ReadAsArray()
    return out


@pytest.fixture
def scratch_copy(samples, tmp_path):
    """A copy of a sample to damage."""
    def make(name):
        path = tmp_path / f"{name}.vtp"
        shutil.copyfile(samples / f"{name}.vtp", path)
        return path
    return make


def level_bands(ds, level):
    """The bands of `level` (0 the coarsest) of an open pyramid dataset."""
    overviews = ds.GetRasterBand(1).GetOverviewCount()
    bands = [ds.GetRasterBand(b + 1) for b in range(ds.RasterCount)]
    if level == overviews:
        return bands
    return [band.GetOverview(overviews - 1 - level) for band in bands]


def read_level(ds, level):
    """Pixels of a level as red, green, blue, alpha: the alpha band, or the
    dataset's mask of missing tiles when there is no alpha band."""
    bands = level_bands(ds, level)
    planes = [band.ReadAsArray() for band in bands]
    if len(planes) == 3:
        planes.append(bands[0].GetMaskBand().ReadAsArray())
    return np.stack(planes)
