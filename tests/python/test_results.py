"""Results a caller can chain: binary results as bool arrays exactly when
they hold 0 and 1, the companion module's kind checks and codes, and calls
that used to do nothing silently."""

import os
import re
import tomllib

import numpy as np
import pytest

import kxpre
from kxpre import extra as kx
from test_marshalling import _values

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
rng = np.random.default_rng(24)
GREY = rng.integers(0, 256, (30, 41), dtype=np.uint8)
BITS = rng.integers(0, 2, (12, 15), dtype=np.uint8)


def test_a_binarizer_result_is_bool_so_invert_takes_it_as_binary():
    # invert(sauvola(g)) inverted 0/1 as grey: 254/255, an all-white page
    ink = kx.sauvola(GREY, 15)
    assert ink.dtype == bool
    np.testing.assert_array_equal(kxpre.invert(ink), ~ink)
    assert kxpre.otsu(GREY).dtype == bool
    assert kxpre.invert(BITS, binary=True).dtype == bool  # 0/1 in, 0/1 out


def test_a_0_255_input_comes_back_0_255():
    out = kxpre.fill_hole(BITS * 255)
    assert out.dtype == np.uint8 and set(np.unique(out)) <= {0, 255}
    np.testing.assert_array_equal(out, kxpre.fill_hole(BITS).astype(np.uint8) * 255)


@pytest.mark.parametrize("name,args", [("median", (3,)), ("smooth_avg", (3,))])
def test_a_grey_filter_keeps_a_bool_input_bool(name, args):
    # median(bool) and smooth_avg(bool) returned uint8
    fn = getattr(kxpre, name)
    out = fn(BITS.astype(bool), *args)
    assert out.dtype == bool
    np.testing.assert_array_equal(out, fn(BITS, *args))


NEVER = ["sobel", "prewitt", "kirsch", "laplacian", "sharp1541", "diff_second", "eclose", "fill_rect_e1"]


@pytest.mark.parametrize("name", NEVER)
def test_an_export_filling_a_binary_image_with_magnitudes_returns_uint8(name):
    # sobel(b.astype(bool)) lost the magnitudes sobel(b, binary=True) gives
    e = next(e for e in kxpre.MANIFEST.exports if e.python == name)
    args = _values(e, np.random.default_rng(1))
    fn = getattr(kxpre, name)
    out = fn(BITS.astype(bool), **args)
    assert out.dtype == np.uint8 and (name == "fill_rect_e1" or out.max() > 1)
    np.testing.assert_array_equal(out, fn(BITS, binary=True, **args))


def test_every_bool_result_holds_0_and_1_and_every_binary_one_is_bool():
    for e in kxpre.MANIFEST.exports + kx.MANIFEST.exports:
        if "bin" not in e.images or e.result not in ("image", "new", "none") or e.resizes:
            continue
        fn = getattr(kxpre, e.python, None) if e in kxpre.MANIFEST.exports else kx._built[e.python]
        args = _values(e, np.random.default_rng(2))
        args.update({a.name: BITS.copy() for a in e.args if a.kind == "same"}, **{e.image.name: BITS.astype(bool)})
        out = fn(**args)
        out = out[0] if isinstance(out, tuple) else out
        if e.binary_result == "never":
            assert out.dtype == np.uint8, e.name
        elif out.dtype == bool:  # (uint8: an image the library turned grey or colour)
            assert out.view(np.uint8).max() <= 1, e.name


GREY_REFUSED = [
    # took a grey array silently and found one component
    ("label", lambda: kx.label(GREY)),
    ("components", lambda: kx.components(GREY)),
    ("stroke_points", lambda: kx.stroke_points(GREY)),
    # offered binary=False, which these functions never take
    ("thinning", lambda: kxpre.thinning(GREY)),
    ("despeckle", lambda: kx.despeckle(GREY, 8, 5)),
    ("deskew", lambda: kx.deskew(GREY)),
]


@pytest.mark.parametrize("name,call", GREY_REFUSED, ids=[n for n, _ in GREY_REFUSED])
def test_binary_only_functions_refuse_grey_and_say_how_to_ask(name, call):
    with pytest.raises(TypeError) as caught:
        call()
    text = str(caught.value)
    assert re.match(r"kxpre\.(extra\.)?(%s|label)" % name, text) and "!= 0" in text and "binary=False" not in text
    assert kx.label(GREY != 0)[1] >= 1  # the grey array, asked for as set pixels


def test_errors_of_the_companion_module_name_the_function():
    for call, name in [(lambda: kx.gradient(GREY.astype(np.int16)), "gradient"),
                       (lambda: kx.multi_levels(GREY.astype(np.float32), 3), "multi_levels"),
                       (lambda: kx.local_levels(GREY, 9, 5, 0.2), "local_levels"),
                       (lambda: kx.label(BITS, 6), "label")]:
        with pytest.raises((TypeError, ValueError), match=r"^kxpre\.extra\.%s: " % name):
            call()


def test_size_and_dtype_refusals_of_the_shared_helpers_name_the_function(tmp_path):
    # They were raised as "kxpre: a 46341 x 46341 image ..." and "kxpre: image
    # must have dtype uint8", whichever function had called the helper.
    huge = np.broadcast_to(np.zeros((1, 1), np.uint8), (46341, 46341))
    for call, name in [(lambda: kxpre.invert(huge), "invert"), (lambda: kx.label(huge), "extra.label"),
                       (lambda: kx.clahe(huge), "extra.clahe"), (lambda: kx.print_mask(huge), "extra.print_mask"),
                       (lambda: kxpre.to_gray(GREY.astype(np.int16)), "to_gray"),
                       (lambda: kxpre.write(str(tmp_path / "o.png"), GREY.astype(np.int16)), "write"),
                       (lambda: kx.clean_page(GREY.astype(np.int16)), "extra.clean_page"),
                       (lambda: kx.print_params(dpi=5), "extra.print_params")]:
        with pytest.raises((TypeError, ValueError), match=r"^kxpre\.%s: " % re.escape(name)):
            call()


def test_the_companion_codes_are_enums_that_match_the_old_names():
    assert kx.OTSU is kx.Selector.OTSU and kx.SAUVOLA is kx.Method.SAUVOLA and kx.L2 is kx.Norm.L2
    assert kx.STROKE_END | kx.STROKE_DOT == kx.Stroke.END | kx.Stroke.DOT == 5
    assert kx.MARK_BRANCH == 3 and isinstance(kx.Mark.DOT, int)
    assert "kxpre.extra.Method: NIBLACK=0" in kx.local_threshold.__doc__


def test_calls_that_did_nothing_raise():
    # normalize returned a flat image unchanged
    with pytest.raises(ValueError, match="deviation >= 1"):
        kxpre.normalize(np.full((5, 5), 9, np.uint8), 128, 100)
    assert kxpre.normalize(GREY, 128, 100).std() > 0
    # scale_ex took a 3-tuple
    with pytest.raises(ValueError, match=r"\(height, width\)"):
        kxpre.scale_ex(GREY, (10, 10, 3))
    # a 46341 x 46341 image raised MemoryError ("cannot wrap"): a size limit
    huge = np.broadcast_to(np.zeros((1, 1), np.uint8), (46341, 46341))
    with pytest.raises(ValueError, match="2147483647"):
        kxpre.invert(huge)


def test_the_version_is_the_librarys():
    cmake = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    assert re.search(r"project\(kxpre VERSION ([\d.]+)", cmake).group(1) == kxpre.__version__
    with open(os.path.join(ROOT, "python", "pyproject.toml"), "rb") as f:
        assert tomllib.load(f)["project"]["version"] == kxpre.__version__


def test_results_lent_by_the_library_outlive_the_call_and_their_views_keep_them():
    # New images of the library's (resized, scaled) are returned without a
    # copy: a view of one must keep its pixels after the array itself and
    # many later calls are gone.
    import gc

    rng = np.random.default_rng(8)
    grey = rng.integers(0, 256, (60, 50), np.uint8)
    bits = rng.random((9, 11)) < 0.4
    for make in (lambda: kxpre.rotate(bits, 1)[2:5], lambda: kxpre.scale_ex(grey, (31, 47))[3:9, ::2],
                 lambda: kxpre.rotate_ex(grey, 10.0)[5:]):
        view = make()
        want = view.copy()
        gc.collect()
        for _ in range(200):
            make()
        gc.collect()
        assert np.array_equal(view, want)
        assert view.flags.writeable
