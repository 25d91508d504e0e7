"""Image files from Python: kxpre.read and kxpre.write round trips for every
array kind, pages, and the refusals with their messages."""

import os

import numpy as np
import pytest

import kxpre

DATA = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "data")
rng = np.random.default_rng(3)


# Every array kind (each format's own round trips are tests/io's).
ROUND_TRIPS = [("a.png", (5, 7), None, "same"), ("a.png", (5, 7, 3), None, "same"), ("a.png", (5, 7, 4), None, "same"),
               ("a.ppm", (5, 7, 4), None, "no alpha"), ("a.tif", (5, 7), True, "same"), ("a.png", (5, 7), True, "0/255"),
               ("b.pbm", (6, 9), "bool", "same")]


@pytest.mark.parametrize("name,shape,binary,back", ROUND_TRIPS)
def test_lossless_round_trip(tmp_path, name, shape, binary, back):
    a = rng.integers(0, 2 if binary else 256, size=shape, dtype=np.uint8)
    if binary == "bool":  # bool arrays are written as binary images
        a, binary = a.astype(bool), None
    kxpre.write(tmp_path / name, a, binary=binary)
    expected = {"same": a, "no alpha": a[..., :3], "0/255": a * 255}[back]
    np.testing.assert_array_equal(kxpre.read(tmp_path / name), expected.astype(np.uint8))


def test_jpeg_quality_and_pages(tmp_path):
    smooth = (np.add.outer(np.arange(32), np.arange(48)) * 2).astype(np.uint8)
    for q in (5, 95):
        kxpre.write(str(tmp_path / ("q%d.jpg" % q)), smooth, quality=q)
    assert os.path.getsize(tmp_path / "q5.jpg") < os.path.getsize(tmp_path / "q95.jpg")  # the quality reaches the encoder
    pages = [smooth, np.dstack([smooth] * 3), smooth > 100]
    kxpre.write(tmp_path / "p.tiff", pages)
    assert kxpre.page_count(tmp_path / "p.tiff") == 3
    np.testing.assert_array_equal(kxpre.read(tmp_path / "p.tiff", page=1), pages[1])
    np.testing.assert_array_equal(kxpre.read(tmp_path / "p.tiff", page=2), pages[2].astype(np.uint8))


def test_corpus_files_read_as_arrays():
    rgb = kxpre.read(os.path.join(DATA, "rgb-interlaced.png"))
    assert rgb.shape == (3, 4, 3) and rgb.dtype == np.uint8
    assert tuple(rgb[0, 0]) == (30, 2, 1)  # B, G, R of the corpus picture's first pixel
    assert kxpre.read(os.path.join(DATA, "bits.tif")).max() == 1


# One row per check (the library's reasons for refusing a file are tests/io's).
REFUSALS = [
    (lambda d: kxpre.read(d / "missing.png"), OSError, "No such file"),
    (lambda d: kxpre.read(os.path.join(DATA, "grey.png"), page=-1), ValueError, "page"),
    (lambda d: kxpre.write(d / "x.bmp", np.zeros((2, 2), np.uint8)), ValueError, "file format"),
    (lambda d: kxpre.write(d / "x.jpg", np.zeros((2, 2), np.uint8), quality=0), ValueError, "1..100"),
    (lambda d: kxpre.write(d / "x.png", np.zeros((2, 2), np.float32)), TypeError, "uint8"),
    (lambda d: kxpre.write(d / "x.png", [np.zeros((2, 2), np.uint8)] * 2), ValueError, "only TIFF"),
    (lambda d: kxpre.write(d / "x.pbm", np.zeros((2, 2), np.uint8)), OSError, "PBM holds binary"),
]


@pytest.mark.parametrize("call,error,message", REFUSALS)
def test_refusals_say_why(tmp_path, call, error, message):
    with pytest.raises(error, match=message):
        call(tmp_path)
