"""kxpre.extra: the hand-written array functions (their arrays, dtypes and
order of results; the C tests check the values) and their own refusals.
The manifest's functions are in test_kxpre's export table."""

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
