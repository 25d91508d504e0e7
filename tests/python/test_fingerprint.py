"""kxpre.extra's fingerprint functions (python/kxpre/fingerprint.py): their
arrays, records and refusals; the C tests check the values."""

import numpy as np
import pytest

from kxpre import extra as kx


def ridges(h=160, w=176, degrees=30.0, period=9.0):
    y, x = np.mgrid[0:h, 0:w].astype(float)
    a = np.radians(degrees)
    return (128 + 90 * np.cos(2 * np.pi * (-x * np.sin(a) + y * np.cos(a)) / period)).astype(np.uint8)


def test_fields_of_a_sinusoid_have_the_block_grid_shape_and_its_angle_and_period():
    img = ridges()
    o, c = kx.print_orientation(img, 16, 2)
    assert o.shape == c.shape == (10, 11) and o.dtype == np.float32
    assert abs(np.degrees(o[2:-2, 2:-2]).mean() - 30) < 0.5
    m = kx.print_mask(img, c)
    assert m.dtype == np.uint8 and m.all()
    f, measured = kx.print_frequency(img, o, m)
    assert abs(1 / f[2:-2, 2:-2].mean() - 9) < 0.2 and measured[2:-2, 2:-2].all()
    enhanced, r = kx.print_gabor(img, o, f, m)
    assert enhanced.shape == img.shape and set(np.unique(r)) <= {0, 1}
    # ridges are the dark pixels
    assert img[r == 1].mean() < 100 < img[r == 0].mean()


def test_analyse_returns_everything_and_agrees_with_the_steps():
    img = ridges(200, 200, 75, 10)
    res = kx.print_analyse(img, 500)
    assert isinstance(res, kx.PrintResult) and res.minutiae.dtype == kx.MINUTIA
    o, c = kx.print_orientation(img, 16, 2)
    np.testing.assert_array_equal(res.orientation, o)
    np.testing.assert_array_equal(res.coherence, c)
    assert res.skeleton.shape == img.shape
    np.testing.assert_array_equal(kx.print_enhance(img, 500), res.enhanced)
    np.testing.assert_array_equal(kx.print_ridges(img, 500), res.ridges)


def test_an_ending_is_found_and_marked():
    m = np.zeros((120, 120), np.uint8)
    m[59:62, 0:70] = 1
    found, skeleton = kx.print_minutiae(m, skeleton=True)
    assert len(found) == 1 and found["kind"][0] == kx.MINUTIA_ENDING
    assert abs(found["x"][0] - 70) <= 3 and abs(found["y"][0] - 60) <= 3
    assert skeleton.sum() < m.sum()
    marked = kx.mark_minutiae(np.zeros((120, 120), np.uint8), found, 200)
    assert marked[60, 70] == 200 or marked.max() == 200
    colour = kx.mark_minutiae(np.zeros((120, 120, 3), np.uint8), found, 0xFF0000)
    assert colour[..., 2].max() == 255 and colour[..., 0].max() == 0


def test_parameters_and_refusals():
    p = kx.print_params(1000, block=24)
    assert p["block"][0] == 24 and p["minPeriod"][0] == 8.0
    with pytest.raises(ValueError):
        kx.print_params(50)
    with pytest.raises(TypeError):
        kx.print_params(500, nosuch=1)
    img = ridges()
    with pytest.raises(ValueError):
        kx.print_orientation(img, 3)
    with pytest.raises(ValueError):
        kx.print_frequency(img, np.zeros((3, 3), np.float32))
    with pytest.raises(ValueError):
        kx.print_mask(img, params=kx.print_params(500, sigma=float("nan")))
    with pytest.raises(ValueError):
        kx.print_enhance(img, 50)
