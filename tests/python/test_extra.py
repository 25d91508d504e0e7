"""kxpre.extra: the hand-written array functions on literal cases and
invariants, the manifest's functions, and their refusals."""

import os
import sys

import numpy as np
import pytest

import kxpre
from kxpre import extra as kx

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))


def random_binary(h, w, percent, seed):
    return (np.random.default_rng(seed).integers(0, 100, (h, w)) < percent).astype(np.uint8)


def random_grey(h, w, seed):
    return np.random.default_rng(seed).integers(0, 256, (h, w)).astype(np.uint8)


def test_labels_and_statistics_of_a_drawn_image():
    image = np.array([[1, 1, 0, 0],
                      [0, 1, 0, 1],
                      [1, 0, 1, 1]], np.uint8)
    labels, count = kx.label(image, 4)
    assert count == 3 and labels.dtype == np.int32
    assert labels.tolist() == [[1, 1, 0, 0], [0, 1, 0, 2], [3, 0, 2, 2]]
    assert kx.label(image, 8)[1] == 1
    assert kx.label(image.astype(bool), 4)[0].tolist() == labels.tolist()  # bool arrays are binary images
    labels, stats = kx.components(image, 4)
    assert stats["label"].tolist() == [0, 1, 2, 3] and stats["area"].tolist() == [5, 3, 3, 1]
    assert (stats[2]["left"], stats[2]["top"], stats[2]["width"], stats[2]["height"]) == (2, 1, 2, 2)
    assert (stats[2]["cx"], stats[2]["cy"]) == (8 / 3, 5 / 3)
    np.testing.assert_array_equal(kx.component_stats(labels, 3), stats)


def test_stroke_points_of_a_t():
    t = np.zeros((4, 5), np.uint8)
    t[0, :] = 1
    t[1:3, 2] = 1
    assert kx.stroke_points(t, kx.STROKE_END).tolist() == [[0, 0], [4, 0], [2, 2]]
    assert kx.stroke_points(t, kx.STROKE_BRANCH).tolist() == [[2, 0]]
    assert kx.stroke_points(t).tolist() == [[0, 0], [2, 0], [4, 0], [2, 2]]
    assert kx.stroke_points(t.astype(bool)).tolist() == [[0, 0], [2, 0], [4, 0], [2, 2]]


def test_levels_match_the_binarizers():
    grey = random_grey(60, 80, seed=4)
    grey[:, :40] //= 3
    t = kx.level(grey, kx.OTSU)
    np.testing.assert_array_equal(kxpre.otsu(grey, None), (grey >= max(t, 1)).astype(np.uint8))
    hist = np.bincount(grey.ravel(), minlength=256)
    for s in range(5):
        assert kx.level(grey, s) == kx.histogram_level(hist, s)
    mask = np.zeros_like(grey)
    mask[:, :40] = 1
    assert kx.level(grey, kx.OTSU, mask) == kx.level(grey[:, :40].copy(), kx.OTSU)
    b = kx.multi_levels(grey, 3)
    assert len(b) == 2 and b[0] < b[1]
    np.testing.assert_array_equal(kxpre.multi_level(grey, 3), np.where(grey <= b[0], 0, np.where(grey <= b[1], b[0], 255)))


def test_local_thresholds_are_the_pixels_above_their_levels():
    grey = random_grey(30, 41, seed=5)
    cases = [(kx.niblack, kx.NIBLACK, (15, 0.2)), (kx.sauvola, kx.SAUVOLA, (15, 0.34, 100.0)),
             (kx.wolf, kx.WOLF, (15, 0.5)), (kx.bradley, kx.BRADLEY, (15, 0.15))]
    for f, method, args in cases:
        levels = kx.local_levels(grey, method, *args)
        assert levels.dtype == np.float64 and levels.shape == grey.shape
        np.testing.assert_array_equal(f(grey, *args), kx.local_threshold(grey, method, *args))
        np.testing.assert_array_equal(f(grey, *args), (grey > levels).astype(np.uint8))


def test_gradient_is_not_clipped_and_follows_the_documented_arithmetic():
    grey = random_grey(40, 50, seed=12)
    mag, gx, gy, d = kx.gradient(grey, kx.SOBEL, kx.L2, np.float32, derivatives=True, direction=True)
    assert gx.dtype == np.int16 and gx[1, 1] == (int(grey[0, 2]) + 2 * int(grey[1, 2]) + int(grey[2, 2])
                                                 - int(grey[0, 0]) - 2 * int(grey[1, 0]) - int(grey[2, 0]))
    np.testing.assert_array_equal(mag, np.sqrt(gx.astype(np.float64) ** 2 + gy.astype(np.float64) ** 2).astype(np.float32))
    np.testing.assert_array_equal(d, np.arctan2(gy.astype(np.float64), gx.astype(np.float64)).astype(np.float32))
    l1 = kx.gradient(grey, kx.SCHARR, kx.L1)
    assert l1.dtype == np.uint16 and l1.max() > 255


def test_find_skew_and_deskew_return_their_values():
    page = np.zeros((120, 160), np.uint8)
    page[20:118:12, 10:150] = 1  # level lines
    angle, confidence = kx.find_skew(page)
    assert abs(angle) <= 0.05 and 0.0 < confidence <= 1.0
    out, found = kx.deskew(page, 2.0)  # never trusted enough: the page stays
    assert found == angle and np.array_equal(out, page)
    assert kx.find_skew(np.zeros((5, 5), np.uint8)) == (0.0, 0.0)


# Refused before the call: the hand-written functions' own checks, and the
# manifest's ranges and conditions for libkxextra (the checks themselves are
# kxpre's, tested there).
REFUSALS = [
    (lambda g, b: kx.label(b, 6), ValueError, "connectivity is 4 or 8, got 6"),
    (lambda g, b: kx.stroke_points(np.zeros((4, 4, 3), np.uint8)), ValueError, "2-D"),
    (lambda g, b: kx.gradient(g.astype(np.int16)), TypeError, "dtype uint8"),
    (lambda g, b: kx.despeckle(b, 6, 3), ValueError, "connectivity must be one of 4, 8"),
    (lambda g, b: kx.despeckle(np.zeros((4, 4, 3), np.uint8), 8, 3), TypeError, "must be a binary"),
    (lambda g, b: kx.keep_largest(b, 8, 2**31), kxpre.ArgumentOverflowError, "the range of int"),
    (lambda g, b: kx.sauvola(g, 15, 0.2, 0.0), ValueError, "needs r > 0.0"),
    (lambda g, b: kx.local_levels(g, kx.SAUVOLA, 5, 0.2, 0.0), ValueError, ""),
    (lambda g, b: kx.sauvola(g, 70000, 0.2), ValueError, "window must be at most 65535"),
    (lambda g, b: kx.local_threshold(g, 4, 15, 0.2), ValueError, "method must be 0..3"),
    (lambda g, b: kx.level(g, 5), ValueError, "selector must be 0..4"),
    (lambda g, b: kx.clahe(g, (0, 8)), ValueError, "tiles_x must be 1..256"),
    (lambda g, b: kx.clahe(g, 8), TypeError, "tiles must be a pair"),
    (lambda g, b: kx.clahe(g, (8, 8), float("inf")), ValueError, "clip_limit must be finite"),
]


@pytest.mark.parametrize("call,error,words", REFUSALS)
def test_refusals_name_the_argument(call, error, words):
    with pytest.raises(error, match=words):
        call(random_grey(20, 24, seed=2), random_binary(20, 24, 40, seed=2))


def test_extra_manifest_agrees_with_the_header_and_leaves_only_array_functions_out():
    for name in ("despeckle", "keep_largest", "mark_stroke_points", "isodata_level", "niblack", "deskew"):
        f = getattr(kx, name)
        assert f.__module__ == "kxpre.extra" and "kxextra.h" in f.__doc__, name
    sys.path.insert(0, os.path.join(ROOT, "tools", "manifest"))
    import generate
    problems = generate.check_header(kx.MANIFEST, os.path.join(ROOT, "extra", "include", "kxextra.h"))
    hand_written = {"kxxLabel", "kxxComponentStats", "kxxStrokePoints", "kxxHistogramLevel", "kxxMultiLevels",
                    "kxxLocalLevels", "kxxGradient"}
    assert sorted(problems) == sorted("%s: declared in the header, missing from the manifest" % n
                                      for n in hand_written)
    # Each export once in the export list, though the local threshold has five entries.
    assert generate.exports(kx.MANIFEST).count("kxxLocalThreshold\n") == 1
