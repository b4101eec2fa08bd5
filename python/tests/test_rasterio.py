"""Pyramid files through rasterio, which reads them with the same driver."""
import numpy as np
import rasterio
from rasterio.enums import ColorInterp
from rasterio.windows import Window

from conftest import write_entry


def test_rasterio_opens_and_georeferences(samples):
    with rasterio.open(samples / "image.vtp") as src:
        assert src.driver == "Veltrane"
        assert (src.width, src.height, src.count) == (900, 720, 4)
        assert src.crs.to_epsg() == 4326
        assert src.transform.almost_equals(rasterio.Affine(1 / 3600, 0, 13.0, 0, -1 / 3600, 47.3))
        assert src.colorinterp == (ColorInterp.red, ColorInterp.green, ColorInterp.blue, ColorInterp.alpha)
        assert src.block_shapes == [(256, 256)] * 4
        assert src.overviews(1) == [2, 4]


def test_rasterio_pixels_windows_and_overviews_equal_the_mosaics(samples, mosaics):
    with rasterio.open(samples / "image.vtp") as src:
        assert np.array_equal(src.read(), mosaics[("image", 2)])
        window = src.read(window=Window(250, 240, 300, 40))  # across tile edges
        assert np.array_equal(window, mosaics[("image", 2)][:, 240:280, 250:550])
        coarse = mosaics[("image", 1)]
        assert np.array_equal(src.read(out_shape=coarse.shape), coarse)


def test_rasterio_masks_missing_tiles(scratch_copy, mosaics):
    path = scratch_copy("dem")
    write_entry(path, 1, 0, 1, 0, 0)
    with rasterio.open(path) as src:
        mask = src.dataset_mask()
        rgb = src.read()
    want = np.full((512, 512), 255, np.uint8)
    want[256:, :256] = 0
    assert np.array_equal(mask, want)
    assert not rgb[:, 256:, :256].any()
    assert np.array_equal(rgb[:, :256], mosaics[("dem", 1)][:3, :256])
