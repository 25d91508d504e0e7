"""kxpre.extra against scikit-image (where installed) and by invariants."""

import numpy as np
import pytest

import kxpre
from kxpre import extra as kx



def random_binary(h, w, percent, seed):
    rng = np.random.default_rng(seed)
    return (rng.integers(0, 100, (h, w)) < percent).astype(np.uint8)


def random_grey(h, w, seed):
    return np.random.default_rng(seed).integers(0, 256, (h, w)).astype(np.uint8)


@pytest.mark.parametrize("connectivity", [4, 8])
@pytest.mark.parametrize("shape,percent", [((40, 50), 45), ((64, 64), 60), ((1, 30), 50), ((97, 3), 70)])
def test_label_equals_skimage_with_raster_numbering(connectivity, shape, percent):
    measure = pytest.importorskip("skimage.measure")
    image = random_binary(*shape, percent, seed=shape[0] * 7 + percent)
    labels, count = kx.label(image, connectivity)
    theirs, n = measure.label(image, connectivity=1 if connectivity == 4 else 2, return_num=True)
    assert count == n
    # Numbered by the raster order of first pixels: relabel skimage's the same way.
    flat = theirs.ravel()
    firsts = sorted((np.flatnonzero(flat == k)[0], k) for k in range(1, n + 1))
    mapping = np.zeros(n + 1, np.int32)
    for new, (_, k) in enumerate(firsts, start=1):
        mapping[k] = new
    assert np.array_equal(labels, mapping[theirs])


def test_component_stats_equal_regionprops():
    measure = pytest.importorskip("skimage.measure")
    image = random_binary(60, 70, 55, seed=3)
    labels, stats = kx.components(image, 8)
    props = measure.regionprops(labels)
    assert len(props) == len(stats) - 1
    for p in props:
        s = stats[p.label]
        assert s["label"] == p.label and s["area"] == p.area
        top, left, bottom, right = p.bbox
        assert (s["left"], s["top"], s["width"], s["height"]) == (left, top, right - left, bottom - top)
        assert s["cy"] == pytest.approx(p.centroid[0], abs=1e-12)
        assert s["cx"] == pytest.approx(p.centroid[1], abs=1e-12)
    assert stats[0]["area"] == int((image == 0).sum())


def test_despeckle_and_keep_largest_by_invariants():
    image = random_binary(50, 50, 40, seed=9)
    labels, stats = kx.components(image, 4)
    clean = kx.despeckle(image, 4, 5)
    small = stats["area"][labels] < 5
    assert np.array_equal(clean, np.where(small, 0, image))
    kept = kx.keep_largest(image, 4, 3)
    _, n = kx.label(kept, 4)
    assert n == 3
    assert kx.label(image, 4)[1] == len(stats) - 1  # input untouched
    view = image.copy()
    assert kx.despeckle(view, 4, 5, inplace=True) is view and np.array_equal(view, clean)


def test_stroke_points_of_a_t():
    t = np.zeros((4, 5), np.uint8)
    t[0, :] = 1
    t[1:3, 2] = 1
    assert kx.stroke_points(t, kx.STROKE_END).tolist() == [[0, 0], [4, 0], [2, 2]]
    assert kx.stroke_points(t, kx.STROKE_BRANCH).tolist() == [[2, 0]]
    marks = kx.mark_stroke_points(t)
    assert marks[0, 2] == kx.MARK_BRANCH and marks[2, 2] == kx.MARK_END and marks[1, 2] == kx.MARK_LINE
    assert marks[3, 0] == kx.MARK_NONE


def test_stroke_points_of_a_thinned_shape_have_ends_only_on_strokes():
    skel = kxpre.thinning(random_binary(80, 80, 50, seed=2), binary=True)
    points = kx.stroke_points(skel, kx.STROKE_END | kx.STROKE_BRANCH | kx.STROKE_DOT)
    assert len(points) > 0
    assert np.all(skel[points[:, 1], points[:, 0]] == 1)


def test_levels_match_the_binarizers_and_skimage_otsu_region():
    grey = random_grey(60, 80, seed=4)
    grey[:, :40] //= 3
    t = kx.level(grey, kx.OTSU)
    assert np.array_equal(kxpre.otsu(grey, None), (grey >= max(t, 1)).astype(np.uint8))
    hist = np.bincount(grey.ravel(), minlength=256)
    for s in range(5):
        assert kx.level(grey, s) == kx.histogram_level(hist, s)
    filters = pytest.importorskip("skimage.filters")
    # scikit-image's Otsu works in double precision and puts its level in the
    # upper class's left edge; ours must be within a grey level of it.
    assert abs(filters.threshold_otsu(grey) - t) <= 1
    b = kx.multi_levels(grey, 3)
    assert len(b) == 2 and b[0] < b[1]
    with pytest.raises(ValueError):
        kx.level(grey, 9)


@pytest.mark.parametrize("window", [3, 15, 31])
@pytest.mark.parametrize("shape", [(40, 50), (7, 90), (13, 13)])
def test_niblack_and_sauvola_equal_skimage_bit_for_bit(window, shape):
    filters = pytest.importorskip("skimage.filters")
    grey = random_grey(*shape, seed=window + shape[1])
    for k in (0.2, -0.3):
        assert np.array_equal(kx.local_levels(grey, kx.NIBLACK, window, k), filters.threshold_niblack(grey, window, k))
    for k, r in ((0.34, 127.5), (0.2, 64.0)):
        theirs = filters.threshold_sauvola(grey, window, k, r)
        assert np.array_equal(kx.local_levels(grey, kx.SAUVOLA, window, k, r), theirs)
        assert np.array_equal(kx.local_threshold(grey, kx.SAUVOLA, window, k, r), (grey > theirs).astype(np.uint8))
    # scikit-image's default r for 8-bit images is half their range.
    assert np.array_equal(kx.local_levels(grey, kx.SAUVOLA, window, 0.2), filters.threshold_sauvola(grey, window, 0.2))


def test_local_threshold_refusals_raise():
    grey = random_grey(10, 10, seed=1)
    with pytest.raises(ValueError):
        kx.local_levels(grey, kx.SAUVOLA, 5, 0.2, 0.0)
    with pytest.raises(ValueError):
        kx.local_threshold(grey, 7, 5, 0.2)


def text_page(width, height, angle, seed):
    """A binary page (ink 1) of library-drawn text turned clockwise by angle."""
    rng = np.random.default_rng(seed)
    words = ["the", "page", "skew", "of", "text", "lines", "measured", "a", "document", "scan"]
    lines = "\n".join(" ".join(rng.choice(words, 14)) for _ in range(height // 40))
    page = np.full((height, width, 3), 255, np.uint8)
    page = kxpre.fill_text(page, lines, width // 10, height // 10, 20, 0xFF000000)
    grey = page[:, :, 1].copy()  # black text on white: any channel
    grey = kxpre.rotate_e2(grey, -angle, 0xFFFFFFFF, 0, 1)
    return (grey < 128).astype(np.uint8)


@pytest.mark.parametrize("angle", [0.0, 0.8, -3.3, 7.5, -13.0])
def test_find_skew_on_generated_pages(angle):
    page = text_page(1000, 800, angle, seed=int(abs(angle) * 10))
    found, confidence = kx.find_skew(page)
    assert abs(found - angle) <= 0.05
    assert confidence > 0.5
    level, used = kx.deskew(page, 0.3)
    assert used == found
    assert abs(kx.find_skew(level)[0]) <= 0.05


def test_find_skew_on_skimage_page_is_consistent_under_known_turns():
    data = pytest.importorskip("skimage.data")
    transform = pytest.importorskip("skimage.transform")
    page = data.page()
    found = []
    for a in (0.0, 1.0, -2.0, 4.0):  # counter-clockwise, as skimage turns
        turned = transform.rotate(page.astype(float), a, resize=True, mode="constant", cval=255, order=1)
        ink = (np.round(turned) < 100).astype(np.uint8)
        found.append(kx.find_skew(ink)[0] + a)
    # The photographed lines bend, so there is no single true skew: the
    # estimates of the page's own skew agree within a few tenths of a degree.
    assert max(found) - min(found) <= 0.4


def test_gradient_is_not_clipped_and_matches_skimage_sobel_direction():
    grey = random_grey(40, 50, seed=12)
    mag, gx, gy, d = kx.gradient(grey, kx.SOBEL, kx.L2, np.float32, derivatives=True, direction=True)
    assert np.array_equal(mag, np.sqrt(gx.astype(np.float64) ** 2 + gy.astype(np.float64) ** 2).astype(np.float32))
    assert np.array_equal(d, np.arctan2(gy.astype(np.float64), gx.astype(np.float64)).astype(np.float32))
    l1 = kx.gradient(grey, kx.SCHARR, kx.L1)
    assert l1.dtype == np.uint16 and l1.max() > 255
    filters = pytest.importorskip("skimage.filters")
    # scikit-image's sobel_v/sobel_h are the same kernels divided by 4; its
    # border differs, so the interior is compared.
    grey_f = grey.astype(np.float64)
    assert np.array_equal(gx[1:-1, 1:-1] / 4.0, filters.sobel_v(grey_f)[1:-1, 1:-1])
    assert np.array_equal(gy[1:-1, 1:-1] / 4.0, filters.sobel_h(grey_f)[1:-1, 1:-1])


@pytest.mark.parametrize("name", ["camera", "coins", "moon", "page", "text"])
@pytest.mark.parametrize("tiles,clip", [((8, 8), 40.0), ((8, 8), 2.0), ((4, 6), 3.0), ((16, 16), 1.5)])
def test_clahe_within_one_of_opencv_on_real_images(name, tiles, clip):
    cv2 = pytest.importorskip("cv2")
    data = pytest.importorskip("skimage.data")
    image = getattr(data, name)()
    ours = kx.clahe(image, tiles, clip)
    theirs = cv2.createCLAHE(clipLimit=clip, tileGridSize=tiles).apply(image)
    assert np.abs(ours.astype(int) - theirs.astype(int)).max() <= 1
    assert np.array_equal(image, getattr(data, name)())  # input untouched


# ---- the functions built from libkxextra's export manifest ------------------


def test_manifest_functions_are_the_documented_ones():
    for name in ("despeckle", "keep_largest", "mark_stroke_points", "isodata_level", "local_threshold", "niblack",
                 "sauvola", "wolf", "bradley", "find_skew", "deskew"):
        f = getattr(kx, name)
        assert f.__module__ == "kxpre.extra" and "kxextra.h" in f.__doc__, name


def test_named_thresholds_equal_local_threshold_with_their_method():
    grey = random_grey(30, 41, seed=5)
    cases = [(kx.niblack, kx.NIBLACK, (15, 0.2)), (kx.sauvola, kx.SAUVOLA, (15, 0.34, 100.0)),
             (kx.wolf, kx.WOLF, (15, 0.5)), (kx.bradley, kx.BRADLEY, (15, 0.15))]
    for f, method, args in cases:
        assert np.array_equal(f(grey, *args), kx.local_threshold(grey, method, *args)), f.__name__
        assert np.array_equal(f(grey, *args), (grey > kx.local_levels(grey, method, *args)).astype(np.uint8))


# Refused before the call, as the kxpre functions refuse: the wrong image
# kind or argument type (TypeError), a value outside its documented range or
# a broken condition (ValueError), one the C type cannot hold (overflow).
REFUSALS = [
    (lambda g, b: kx.despeckle(b, 6, 3), ValueError, "connectivity must be one of 4, 8"),
    (lambda g, b: kx.despeckle(np.zeros((4, 4, 3), np.uint8), 8, 3), TypeError, "must be a binary"),
    (lambda g, b: kx.keep_largest(b, 8, 2.5), TypeError, "n must be an integer"),
    (lambda g, b: kx.keep_largest(b, 8, 2**31), kxpre.ArgumentOverflowError, "the range of int"),
    (lambda g, b: kx.mark_stroke_points(g * 0 + 7), TypeError, "holds values up to 7"),
    (lambda g, b: kx.sauvola(g, 15, 0.2, 0.0), ValueError, "needs r > 0.0"),
    (lambda g, b: kx.sauvola(g, 70000, 0.2), ValueError, "window must be at most 65535"),
    (lambda g, b: kx.niblack(g, 15, float("nan")), ValueError, "k must be finite"),
    (lambda g, b: kx.local_threshold(g, 4, 15, 0.2), ValueError, "method must be 0..3"),
    (lambda g, b: kx.level(g, 5), ValueError, "selector must be 0..4"),
    (lambda g, b: kx.clahe(g, (0, 8)), ValueError, "tiles_x must be 1..256"),
    (lambda g, b: kx.clahe(g, 8), TypeError, "tiles must be a pair"),
    (lambda g, b: kx.clahe(g, (8, 8), float("inf")), ValueError, "clip_limit must be finite"),
    (lambda g, b: kx.find_skew(g, binary=False), TypeError, "must be a binary"),
    (lambda g, b: kx.deskew(b, float("nan")), ValueError, "min_confidence must be finite"),
]


@pytest.mark.parametrize("call,error,words", REFUSALS)
def test_manifest_functions_refuse_as_kxpre_does(call, error, words):
    grey, binary = random_grey(20, 24, seed=2), random_binary(20, 24, 40, seed=2)
    with pytest.raises(error, match=words):
        call(grey, binary)


def test_find_skew_and_deskew_return_their_values():
    page = np.zeros((120, 160), np.uint8)
    page[20:118:12, 10:150] = 1  # level lines
    angle, confidence = kx.find_skew(page)
    assert abs(angle) <= 0.05 and 0.0 < confidence <= 1.0
    out, found = kx.deskew(page, 2.0)  # never trusted enough: the page stays
    assert found == angle and np.array_equal(out, page)
    assert kx.find_skew(np.zeros((5, 5), np.uint8)) == (0.0, 0.0)


def test_extra_manifest_agrees_with_the_header_and_leaves_only_array_functions_out():
    import os
    import sys
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    sys.path.insert(0, os.path.join(root, "tools", "manifest"))
    import generate
    problems = generate.check_header(kx.MANIFEST, os.path.join(root, "extra", "include", "kxextra.h"))
    hand_written = {"kxxLabel", "kxxComponentStats", "kxxStrokePoints", "kxxHistogramLevel", "kxxMultiLevels",
                    "kxxLocalLevels", "kxxGradient"}
    assert sorted(problems) == sorted("%s: declared in the header, missing from the manifest" % n
                                      for n in hand_written)
    # Each export once in the export list, though the local threshold has five entries.
    assert generate.exports(kx.MANIFEST).count("kxxLocalThreshold\n") == 1


def test_an_export_described_twice_must_keep_its_c_types(tmp_path):
    from kxpre._manifest import Manifest, ManifestError
    entry = ('[[export]]\nname = "kxxClahe"\npython = "%s"\npipe = "%s"\nsummary = "s"\nimages = ["gray"]\n'
             'returns = "Image *"\nresult = "image"\nargs = [{ name = "image", type = "Image *", kind = "image" },'
             ' { name = "t", type = "%s" }]\n')
    path = tmp_path / "m.toml"
    path.write_text('library = "x"\nprefix = "kxx"\n' + entry % ("a", "a", "int") + entry % ("b", "b", "int"))
    assert [e.python for e in Manifest(str(path)).exports] == ["a", "b"]
    path.write_text('library = "x"\nprefix = "kxx"\n' + entry % ("a", "a", "int") + entry % ("b", "b", "double"))
    with pytest.raises(ManifestError, match="different C types"):
        Manifest(str(path))
    path.write_text('library = "x"\nprefix = "kxx"\n' + entry % ("a", "a", "int") + entry % ("a", "b", "int"))
    with pytest.raises(ManifestError, match="repeated python names"):
        Manifest(str(path))
