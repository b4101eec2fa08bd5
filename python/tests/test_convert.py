"""veltrane-convert over the sample pyramids and a damaged file, in this
process and on a local Dask cluster of two workers."""
import os
import subprocess
import sys

import numpy as np
from osgeo import gdal

from conftest import read_entry

CONVERT = os.environ.get("VELTRANE_CONVERT", "veltrane-convert")
OUTPUTS = ["dds.tif", "dem.elevation.tif", "dem.tif", "image.tif", "image2.tif"]


def convert(*args):
    return subprocess.run([sys.executable, CONVERT, *map(str, args)], capture_output=True, text=True)


def test_cluster_converts_like_one_process_reports_the_damaged_file_and_skips_on_rerun(
        samples, scratch_copy, mosaics, tmp_path):
    broken = scratch_copy("image").rename(tmp_path / "broken.vtp")
    offset, _ = read_entry(broken, 2, 1, 1)
    with open(broken, "r+b") as f:
        f.seek(offset)
        f.write(b"\xff" * 8)
    files = [samples / f"{name}.vtp" for name in ("image", "image2", "dem", "dds")] + [broken]
    options = ["--compress", "deflate"]  # lossless, so the outputs can be checked pixel by pixel

    single = convert("-o", tmp_path / "single", *options, *files)
    cluster = convert("-o", tmp_path / "cluster", "--workers", 2, *options, *files)
    for run in (single, cluster):
        assert run.returncode == 1, run.stderr
        assert "4 converted, 0 skipped, 1 failed" in run.stdout
        assert f"{broken} tile 2/1/1: it is not an image tile payload" in run.stderr
    assert sorted(os.listdir(tmp_path / "single")) == OUTPUTS  # no partial files left behind
    assert sorted(os.listdir(tmp_path / "cluster")) == OUTPUTS
    for name in OUTPUTS:
        assert (tmp_path / "single" / name).read_bytes() == (tmp_path / "cluster" / name).read_bytes(), name

    cog = gdal.Open(str(tmp_path / "cluster" / "image.tif"))
    assert cog.GetMetadataItem("LAYOUT", "IMAGE_STRUCTURE") == "COG"
    band = cog.GetRasterBand(1)
    assert [(band.GetOverview(i).XSize, band.GetOverview(i).YSize) for i in range(2)] == [(450, 360), (225, 180)]
    assert np.array_equal(cog.ReadAsArray(), mosaics[("image", 2)])
    alpha = cog.GetRasterBand(4)
    assert np.array_equal(alpha.GetOverview(0).ReadAsArray(), mosaics[("image", 1)][3])

    times = {name: os.stat(tmp_path / "cluster" / name).st_mtime_ns for name in OUTPUTS}
    again = convert("-o", tmp_path / "cluster", "--workers", 2, *options, *files)
    assert again.returncode == 1
    assert "0 converted, 4 skipped, 1 failed" in again.stdout
    assert times == {name: os.stat(tmp_path / "cluster" / name).st_mtime_ns for name in OUTPUTS}
