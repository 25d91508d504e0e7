"""kxpre.extra: the hand-written array functions (their arrays, dtypes and
order of results; the C tests check the values) and their own refusals.
The manifest's functions are in test_kxpre's export table."""

import os
import subprocess

import numpy as np
import pytest

import kxpre
from kxpre import extra as kx

GREY = np.random.default_rng(4).integers(0, 256, (30, 41)).astype(np.uint8)


def test_labels_and_statistics_of_a_drawn_image():
    image = np.array([[1, 1, 0, 0],
                      [0, 1, 0, 1],
                      [1, 0, 1, 1]], np.uint8)
    labels, count = kx.label(image, 4)
    assert count == 3 and labels.dtype == np.int32
    assert labels.tolist() == [[1, 1, 0, 0], [0, 1, 0, 2], [3, 0, 2, 2]]
    assert kx.label(image, 8)[1] == 1
    assert kx.label(image.astype(bool), 4)[0].tolist() == labels.tolist()  # bool arrays are binary images
    labels, stats = kx.components(image, 4)  # every field in its place
    assert stats["label"].tolist() == [0, 1, 2, 3] and stats["area"].tolist() == [5, 3, 3, 1]
    assert tuple(stats[2])[2:] == (2, 1, 2, 2, 8 / 3, 5 / 3)
    np.testing.assert_array_equal(kx.component_stats(labels, 3), stats)


def test_stroke_points_of_a_t():
    t = np.zeros((4, 5), bool)
    t[0, :] = t[1:3, 2] = True
    assert kx.stroke_points(t, kx.STROKE_END).tolist() == [[0, 0], [4, 0], [2, 2]]
    assert kx.stroke_points(t.astype(np.uint8)).tolist() == [[0, 0], [2, 0], [4, 0], [2, 2]]


def test_levels_of_histograms_masks_and_several_classes():
    grey = GREY.copy()
    grey[:, :20] //= 3
    hist = np.bincount(grey.ravel(), minlength=256)
    assert kx.level(grey) == kx.histogram_level(hist)  # the C tests compare every selector
    mask = np.zeros_like(grey)
    mask[:, :20] = 1
    assert kx.level(grey, kx.OTSU, mask) == kx.level(grey[:, :20].copy(), kx.OTSU)
    b = kx.multi_levels(grey, 3)
    assert len(b) == 2 and b[0] < b[1]
    np.testing.assert_array_equal(kxpre.multi_level(grey, 3), np.where(grey <= b[0], 0, np.where(grey <= b[1], b[0], 255)))


def test_local_thresholds_are_the_pixels_above_their_levels():
    levels = kx.local_levels(GREY, kx.SAUVOLA, 15, 0.34, 100.0)
    assert levels.dtype == np.float64 and levels.shape == GREY.shape
    np.testing.assert_array_equal(kx.sauvola(GREY, 15, 0.34, 100.0), (GREY > levels).astype(np.uint8))


def test_gradient_results_in_order_and_follow_the_documented_arithmetic():
    mag, gx, gy, d = kx.gradient(GREY, kx.SOBEL, kx.L2, np.float32, derivatives=True, direction=True)
    assert gx.dtype == np.int16 and gx[1, 1] == (int(GREY[0, 2]) + 2 * int(GREY[1, 2]) + int(GREY[2, 2])
                                                 - int(GREY[0, 0]) - 2 * int(GREY[1, 0]) - int(GREY[2, 0]))
    np.testing.assert_array_equal(mag, np.sqrt(gx.astype(np.float64) ** 2 + gy.astype(np.float64) ** 2).astype(np.float32))
    np.testing.assert_array_equal(d, np.arctan2(gy.astype(np.float64), gx.astype(np.float64)).astype(np.float32))
    assert kx.gradient(GREY, kx.SCHARR, kx.L1).dtype == np.uint16


def test_find_skew_and_deskew_return_their_values():
    page = np.zeros((120, 160), np.uint8)
    page[20:118:12, 10:150] = 1  # level lines
    angle, confidence = kx.find_skew(page)
    assert abs(angle) <= 0.05 and 0.0 < confidence <= 1.0
    out, found = kx.deskew(page, 2.0)  # never trusted enough: the page stays
    assert found == angle and np.array_equal(out, page)


def test_clahe_takes_its_tiles_across_then_down():
    assert np.array_equal(kx.clahe(GREY, (4, 1), 2.0), kx._built["clahe"](GREY, 4, 1, 2.0))
    assert not np.array_equal(kx.clahe(GREY, (4, 1), 2.0), kx.clahe(GREY, (1, 4), 2.0))


# The hand-written functions' own checks, and a refusal by the C library reported.
REFUSALS = [
    (lambda: kx.label(GREY > 99, 6), ValueError, "connectivity is 4 or 8, got 6"),
    (lambda: kx.stroke_points(np.zeros((4, 4, 3), np.uint8)), TypeError, "stroke_points: skeleton must be a binary"),
    (lambda: kx.gradient(GREY.astype(np.int16)), TypeError, "dtype uint8"),
    (lambda: kx.local_levels(GREY, kx.SAUVOLA, 5, 0.2, 0.0), ValueError, "local_levels: the library refused"),
    (lambda: kx.clahe(GREY, 8), TypeError, "tiles must be a pair"),
]


@pytest.mark.parametrize("call,error,words", REFUSALS)
def test_refusals_name_the_argument(call, error, words):
    with pytest.raises(error, match=words):
        call()


# ---- the one call: clean_page and kxpipe's cleanpage ----------------------

def _text_page(angle=0.0):
    """A grey page of text lines (kxFillText), turned clockwise by angle."""
    page = np.full((700, 620, 3), 255, np.uint8)
    text = "\n".join("the projection profile of a page %d i. j, dots" % k for k in range(14))
    page = kxpre.fill_text(page, text, 40, 40, 24, 0xFF000000)
    grey = page[:, :, 1].copy()  # black on white: every channel is the grey
    return kxpre.rotate_e2(grey, -angle, 0xFFFFFFFF, 0, 1) if angle else grey


def test_clean_page_returns_the_ink_set_and_what_it_did():
    grey = _text_page()
    grey[600:603, 580:583] = 20  # a speck far from the text
    before = grey.copy()
    out, report = kx.clean_page(grey, turn=False)
    assert np.array_equal(grey, before)  # the input array is not changed
    assert out.shape == grey.shape and out.dtype == np.uint8 and set(np.unique(out)) == {0, 1}
    assert out[601, 581] == 0 and 0.02 < out.mean() < 0.3  # ink set, the speck gone
    assert report["specks"] >= 1 and report["turned"] is False and report["angle"] == 0.0
    assert report["dpi_estimated"] is True and report["dpi"] == 12 * report["text_height"]
    assert set(report) == {"angle", "confidence", "turned", "dpi", "dpi_estimated", "stroke_width", "text_height",
                           "speck_limit", "specks", "speck_pixels", "border_pixels", "line_pixels"}
    colour = np.repeat(grey[:, :, None], 3, axis=2)  # B,G,R: its luminance, within 1 of the grey
    assert (kx.clean_page(colour, turn=False)[0] != out).mean() < 0.01
    turned, report = kx.clean_page(_text_page(2.0), dpi=150)
    assert report["turned"] is True and abs(report["angle"] - 2.0) <= 0.05 and report["dpi"] == 150
    assert abs(kx.find_skew(turned)[0]) <= 0.05


def test_kxpipe_cleanpage_says_what_it_did(tmp_path):
    kxpipe = os.environ.get("KXPIPE")
    if not kxpipe:
        pytest.skip("KXPIPE is not set")
    src, dst = tmp_path / "page.png", tmp_path / "clean.png"
    kxpre.write(src, _text_page(1.5))
    run = subprocess.run([kxpipe, str(src), str(dst), "cleanpage"], capture_output=True, text=True)
    assert run.returncode == 0, run.stderr
    assert run.stderr.startswith("cleanpage: estimated ") and "turned by 1.5" in run.stderr, run.stderr
    out, report = kx.clean_page(_text_page(1.5))
    assert np.array_equal((kxpre.read(dst) > 0).astype(np.uint8), out)  # binary files: 1 (the ink) white
    run = subprocess.run([kxpipe, str(src), str(dst), "cleanpage", "200", "0", "bin"], capture_output=True, text=True)
    assert run.returncode == 0 and "200 dpi" in run.stderr and "not searched" in run.stderr, run.stderr
    run = subprocess.run([kxpipe, str(dst), str(dst), "bin", "deskew", "0.5", "1"], capture_output=True, text=True)
    assert run.returncode == 0 and run.stderr.startswith("deskew: turned by 1.5"), run.stderr  # kept turned above


def test_page_measures_paper_and_binarizer_agree():
    grey = _text_page()
    lit = np.clip(grey.astype(np.int32) - np.linspace(0, 90, grey.shape[1])[None, :].astype(np.int32), 0, 255)
    lit = lit.astype(np.uint8)  # light falling off to the right
    m = kx.measure_page(lit)
    assert m["stroke_width"] == kx.estimate_stroke_width(lit) >= 2 and m["text_height"] > 10
    assert 2 <= m["paper_cell"] <= 64
    paper = kx.estimate_paper(lit)
    assert paper.shape == lit.shape and abs(int(paper[20, -20]) - int(lit[20, -20])) <= 2  # the dim paper
    flat = kx.flatten_paper(lit)
    assert flat[20, -20] >= 250 and flat[20, 20] >= 250  # paper 255 on both sides
    ink = kx.binarize_document(lit)
    assert ink.dtype == np.bool_ and 0.02 < ink.mean() < 0.3 and not ink[20, -20]
    assert np.array_equal(~kx.binarize_document(lit, 0), ink)


CLEAN_REFUSALS = [
    (lambda: kx.estimate_paper(GREY, cell=65), ValueError, "cell is an integer up to 64"),
    (lambda: kx.measure_page(np.zeros((4, 4, 2), np.uint8)), ValueError, "measure_page: a page is"),
    (lambda: kx.clean_page(GREY, dpi=-1), ValueError, "dpi must be 0..10000"),
    (lambda: kx.clean_page(GREY, dpi=1.5), TypeError, "dpi must be an integer"),
    (lambda: kx.clean_page(np.zeros((4, 4, 2), np.uint8)), ValueError, "a page is"),
    (lambda: kx.clean_page(GREY.astype(np.float32)), TypeError, "dtype uint8"),
]


@pytest.mark.parametrize("call,error,words", CLEAN_REFUSALS)
def test_clean_page_refusals(call, error, words):
    with pytest.raises(error, match=words):
        call()
