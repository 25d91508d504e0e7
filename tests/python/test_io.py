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
    (lambda d: kxpre.write(d / "x.pbm", np.zeros((2, 2), np.uint8)), ValueError, "PBM holds binary"),
    (lambda d: kxpre.write(d / "x.png", np.zeros((2, 2), np.uint8), quality=50), ValueError, "only for JPEG"),
    (lambda d: kxpre.read(os.path.join(DATA, "grey.png"), max_bytes=0), ValueError, "max_bytes"),
    (lambda d: kxpre.read(os.path.join(DATA, "grey.png"), max_bytes=10), OSError, "budget"),
    # Sizes no reader takes are refused from the shape, before a pixel is
    # copied (these arrays are views of one byte).
    (lambda d: kxpre.write(d / "x.png", np.broadcast_to(np.uint8(0), (1, 65536))), ValueError, "above the limit"),
    (lambda d: kxpre.write(d / "x.jpg", np.broadcast_to(np.uint8(0), (65501, 1))), ValueError, "above the limit"),
    (lambda d: kxpre.write(d / "x.tif", np.broadcast_to(np.uint8(0), (2 ** 14, 2 ** 14 + 1))), ValueError,
     "above the limit"),
    (lambda d: kxpre.write(d / "x.tif", [np.zeros((2, 2), np.uint8), np.broadcast_to(np.uint8(0), (2 ** 31, 1))]),
     ValueError, "page 1: .*above the limit"),
]


@pytest.mark.parametrize("call,error,message", REFUSALS)
def test_refusals_say_why(tmp_path, call, error, message):
    with pytest.raises(error, match=message):
        call(tmp_path)


def test_pages_are_asked_for(tmp_path):
    """A file of several pages is not read as its first page by accident."""
    pages = [rng.integers(0, 256, (4, 5), dtype=np.uint8), rng.integers(0, 256, (3, 2, 3), dtype=np.uint8)]
    kxpre.write(tmp_path / "two.tif", pages)
    with pytest.raises(ValueError, match="has 2 pages"):
        kxpre.read(tmp_path / "two.tif")
    got = kxpre.read_pages(tmp_path / "two.tif")
    assert len(got) == 2 and all(np.array_equal(a, b) for a, b in zip(got, pages))
    np.testing.assert_array_equal(kxpre.read(tmp_path / "two.tif", page=1, max_bytes=10 ** 6), pages[1])
    kxpre.write(tmp_path / "one.tif", pages[0])
    np.testing.assert_array_equal(kxpre.read(tmp_path / "one.tif"), pages[0])
    assert [a.shape for a in kxpre.read_pages(os.path.join(DATA, "grey.png"))] == [kxpre.read(os.path.join(DATA, "grey.png")).shape]
    with pytest.raises(OSError, match="no page 2"):
        kxpre.read(tmp_path / "two.tif", page=2)
    (tmp_path / "bad.tif").write_bytes(b"II*\0garbage")
    with pytest.raises(OSError, match="kxpre.read: "):  # the read's own reason, not the page count's
        kxpre.read(tmp_path / "bad.tif")


def test_hostile_tiff_is_refused_by_read_and_counted():
    """The fuzzer's 144-byte TIFF declaring a 12816 x 19789 page: one page,
    and a read refused for its data, not decoded into 1.7 GB."""
    seed = os.path.join(os.path.dirname(DATA), "fuzz", "corpus", "tiff", "oom-g4-page-of-12816x19789-in-10-bytes")
    import tempfile
    with tempfile.NamedTemporaryFile(suffix=".tif") as f:
        f.write(open(seed, "rb").read()[1:])  # without the harness's page byte
        f.flush()
        assert kxpre.page_count(f.name) == 1
        with pytest.raises(OSError, match="cannot decode to"):
            kxpre.read(f.name)
