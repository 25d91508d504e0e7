"""The Python binding: array conversion and memory ownership, signatures that
match the header, every export equal to kxpipe running it through the C
interface, and refused arguments that name themselves."""

import ctypes
import os
import subprocess

import numpy as np
import pytest

import kxpre
from kxpre import extra

KXPIPE = os.environ.get("KXPIPE")
rng = np.random.default_rng(7)
GREY = np.arange(48, dtype=np.uint8).reshape(6, 8) * 5
COLOUR = np.zeros((6, 8, 3), np.uint8)


def random_image(shape, binary=False):
    return rng.integers(0, 2 if binary else 256, size=shape, dtype=np.uint8)


@pytest.mark.parametrize("shape,binary", [((5, 7), False), ((5, 7), True), ((4, 6, 3), False), ((3, 5, 4), False)])
def test_pixel_layout_is_the_librarys(shape, binary):
    a = random_image(shape, binary)
    h, w = shape[:2]
    p = a[h - 1, w // 2]
    want = int(p) if a.ndim == 2 else (int(p[3]) if a.shape[2] == 4 else 0xFF) << 24 | int(p[2]) << 16 | int(
        p[1]) << 8 | int(p[0])
    assert kxpre.get_pixel(a, w // 2, h - 1, binary=binary) == want


def test_binary_images_hold_zero_and_one_bool_or_0_255_arrays_are_converted_and_masks_select():
    a = random_image((6, 8))
    binary = (a > 100).astype(np.uint8)
    np.testing.assert_array_equal(kxpre.invert(binary, binary=True), 1 - binary)
    as_bool = kxpre.invert(a > 100)  # a bool array is binary and comes back bool
    assert as_bool.dtype == np.bool_ and np.array_equal(as_bool, a <= 100)
    np.testing.assert_array_equal(kxpre.fill_hole(binary * 255), kxpre.fill_hole(binary) * 255)
    mask = np.zeros((6, 8), np.uint8)  # masks: one byte per pixel, non-zero selects
    mask[1:3, 2:4] = 7
    np.testing.assert_array_equal(kxpre.set_pixel_ex(np.zeros((6, 8), np.uint8), 200, mask, 0), (mask > 0) * 200)


def test_in_place_works_in_the_arrays_memory_and_leaves_row_padding_alone():
    a = random_image((6, 9, 3))
    expected = 255 - a
    assert kxpre.invert(a, inplace=True) is a
    np.testing.assert_array_equal(a, expected)
    wide = np.full((5, 12), 7, np.uint8)
    view = wide[:, :8]  # rows 12 bytes apart, 8 pixels each
    assert kxpre.invert(view, inplace=True) is view
    np.testing.assert_array_equal(wide[:, :8], 248)
    np.testing.assert_array_equal(wide[:, 8:], 7)  # the padding belongs to the caller
    every_other = random_image((4, 10))[:, ::2]  # strided columns: copied, never wrapped
    np.testing.assert_array_equal(kxpre.invert(every_other), 255 - every_other)
    ro = random_image((4, 4))
    ro.flags.writeable = False
    np.testing.assert_array_equal(kxpre.invert(ro), 255 - ro)
    for refused in (every_other, ro, ro > 100):  # bool arrays are converted, so never in place
        with pytest.raises(ValueError, match="inplace"):
            kxpre.invert(refused, inplace=True)
    with pytest.raises(ValueError):
        kxpre.clip(random_image((4, 4)), 0, 0, 1, 1, inplace=True)  # changes the size


def test_every_export_is_one_function_named_after_it_that_documents_its_arguments():
    # The C types come from the manifest, which the header check keeps equal
    # to kxpre.h; calling every export below proves the ctypes conversion
    # and that available() names the exports this build has.
    exports = kxpre.MANIFEST.exports
    assert len({e.python for e in exports}) == len({e.name for e in exports}) == len(exports)
    for fn, e, _ in EXPORTS:  # both libraries
        assert e.name in fn.__doc__
        for a in (a for a in e.args if not a.hidden):
            codes = a.enum and getattr(kxpre if e in kxpre.MANIFEST.exports else extra, a.enum)
            assert not a.enum or all(a.check(int(m)) is None for m in codes), (e.name, a.name)
            assert e.image is None or (a.doc and "    %s (" % a.name in fn.__doc__), (e.name, a.name)


# ---- every export through the binding and through kxpipe ----------------------

_SAMPLE = {"int": 3, "uint32": 1, "colour": 0xFF808080, "byte": 128, "float": 0.5, "double": 0.5, "text": "Hi",
           "points": [(1, 1), (8, 1), (4, 6)], "quad": [(0, 0), (9, 0), (9, 7), (0, 7)],
           "box": (5.0, 4.0, 6.0, 3.0, 30.0), "floodvalue": (10, 20, 30), "floodrange": 5.0}
# Arguments whose sample must be something particular for a meaningful call.
_OVERRIDES = {
    "kxScaleEx": {"destination": (6, 5)}, "kxCopyPixelsE3": {"destination": (6, 5)}, "kxUnwarp": {"destination": (6, 5)},
    "kxFillTextEx": {"face": "DejaVu Sans", "height": 8}, "kxFillText": {"height": 8},
    "kxRotateE3": {"cx": 4.5, "cy": 3.5, "angle": 30.0}, "kxCanny": {"threshold1": 50.0, "threshold2": 150.0},
    "kxContrast": {"low": 0.1, "high": 0.9}, "kxFillEllipse": {"right": 6, "bottom": 5},
    "kxMakeSquarePixel": {"pixel_size_x": 2, "pixel_size_y": 1}, "kxSmoothMedian": {"size": 3},
    "kxBlur": {"width": 3, "height": 3}, "kxSmoothGaussian": {"width": 3, "height": 3},
    "kxWarp": {"dst_points": [(1, 0), (9, 1), (8, 7), (0, 6)]}, "kxWarpEx": {"dst_points": [(1, 0), (9, 1), (8, 7), (0, 6)]},
    "kxxLocalThreshold": {"window": 5}, "kxxClahe": {"tiles_x": 2, "tiles_y": 3, "clip_limit": 2.0},
}
_WORDS = {"int", "uint32", "colour", "byte", "float", "double", "text", "points", "quad", "box", "same", "channel",
          "mask", "element"}


def _sample_call(fn, e, tmp_path):
    """Arguments each check accepts, and kxpipe's words for the same call
    (None when the call is no kxpipe step on one image)."""
    kind = e.images[0] if e.images else "gray"
    image = random_image({"rgb": (8, 10, 3), "rgba": (8, 10, 4)}.get(kind, (8, 10)), kind == "bin")
    args, words = {}, [e.pipe] if e.pipe and e.result in ("image", "new", "none", "status") else None
    for a in (a for a in e.args if not a.hidden):
        if a.kind == "image":
            args[a.name] = image
        elif a.kind in ("same", "channel"):
            args[a.name] = random_image(image.shape if a.kind == "same" else image.shape[:2], kind == "bin")
        elif a.kind in ("mask", "element", "dest"):
            args[a.name] = None
        elif a.values is not None:
            args[a.name] = a.default if a.default in a.values else a.values[0]
        elif a.min is not None:
            args[a.name] = a.default if a.default is not kxpre._manifest.NO_DEFAULT else a.min
        else:
            args[a.name] = _SAMPLE[a.kind]
    args.update(_OVERRIDES.get(e.name, {}))
    for a in (a for a in e.args if not a.hidden and a.kind not in ("image", "dest") and words is not None):
        v = args[a.name]
        if a.kind not in _WORDS:
            words = None
        elif isinstance(v, np.ndarray):
            kxpre.write(tmp_path / (a.name + ".tif"), v, binary=kind == "bin")
            words.append(str(tmp_path / (a.name + ".tif")))
        elif v is None:
            words.append("-")
        elif a.kind in ("points", "quad"):
            words.append(",".join(str(c) for p in v for c in p))
        else:
            words += [str(c) for c in v] if a.kind == "box" else [str(v) if a.kind == "text" else repr(v + 0)]
    return args, image, kind, words


# kxpre's exports and libkxextra's (the manifest's own functions: clahe takes
# its tiles as a pair in kxpre.extra).
EXPORTS = [(getattr(kxpre, e.python), e, e.python in kxpre.available()) for e in kxpre.MANIFEST.exports] + [
    (extra._built[e.python], e, True) for e in extra.MANIFEST.exports]


@pytest.mark.parametrize("fn,e,available", EXPORTS, ids=[e.name + "-" + e.python for _, e, _ in EXPORTS])
def test_every_export_equals_kxpipe_on_a_small_image(fn, e, available, tmp_path):
    args, image, kind, words = _sample_call(fn, e, tmp_path)
    if not available:
        with pytest.raises(NotImplementedError):
            fn(**args)
        return
    before = image.copy()
    out = fn(**args, **({"binary": kind == "bin"} if e.image else {}))
    np.testing.assert_array_equal(image, before)  # the input array is not changed
    out = out[0] if isinstance(out, tuple) else out
    if not isinstance(out, np.ndarray):
        return
    assert out.dtype == np.uint8 or e.result == "dist" or out.dtype == bool and out.view(np.uint8).max() <= 1
    if words is None or not KXPIPE:
        return
    src, dst = tmp_path / "in.tif", tmp_path / "out.tif"
    kxpre.write(src, image, binary=kind == "bin")
    run = subprocess.run([KXPIPE, str(src), str(dst)] + words, capture_output=True, text=True)
    assert run.returncode == 0, (words, run.stderr)
    np.testing.assert_array_equal(kxpre.read(dst), out, err_msg=" ".join(words))


# ---- refused calls: each names the argument and what is accepted --------------

REFUSED = [
    # the wrong image kind, array or Python type (TypeError naming the argument)
    (lambda: kxpre.otsu(COLOUR), TypeError, ["kxpre.otsu", "image", "grey (H, W)", "B,G,R colour"]),
    (lambda: kxpre.thinning(GREY), TypeError, ["kxpre.thinning", "binary", "up to 235", "image != 0"]),
    (lambda: kxpre.invert(GREY, binary=True), TypeError, ["kxpre.invert", "up to 235", "binary=False"]),
    (lambda: kxpre.replace_channel(COLOUR, np.zeros((6, 8, 4), np.uint8), 1), TypeError, ["channel", "B,G,R,A"]),
    (lambda: kxpre.pixel_add(COLOUR, GREY), TypeError, ["same kind"]),
    (lambda: kxpre.fill_hole_ex(GREY > 9, COLOUR), TypeError, ["mask", "2-D"]),
    (lambda: kxpre.invert(GREY.astype(np.float32)), TypeError, ["image", "dtype uint8"]),
    (lambda: kxpre.invert([[1, 2]]), TypeError, ["image", "numpy array"]),
    (lambda: kxpre.invert(np.zeros((4, 4, 2), np.uint8)), ValueError, ["image", "(H, W, 3)"]),
    (lambda: kxpre.clip(GREY, 0, 0, 1), TypeError, ["bottom"]),
    (lambda: kxpre.median(GREY, 2.5), TypeError, ["window_size", "an integer"]),
    (lambda: kxpre.normalize(GREY, "x", 3), TypeError, ["mean", "a number"]),
    (lambda: kxpre.fill_text(COLOUR, 5, 0, 0, 8, 0), TypeError, ["text", "a str"]),
    (lambda: kxpre.set_polyline(GREY, [(0.5, 1), (2, 2)], 9), TypeError, ["points", "integer points"]),
    (lambda: kxpre.warp(GREY, "abc", [0] * 8), TypeError, ["src_points", "four (x, y) points"]),
    # a value outside its documented range or breaking a condition (ValueError)
    (lambda: kxpre.median(GREY, -5), ValueError, ["kxpre.median", "window_size", "at least 2", "-5"]),
    (lambda: kxpre.scale(GREY, float("nan")), ValueError, ["factor", "finite"]),
    (lambda: kxpre.clip(GREY, 5, 0, 2, 3), ValueError, ["kxpre.clip", "right >= left", "right 2, left 5"]),
    (lambda: kxpre.set_polyline(GREY, [(1, 1)], 9), ValueError, ["points", "at least 2 points", "got 1"]),
    (lambda: kxpre.detect_edge(GREY, mask=np.ones((2, 2), bool)), ValueError, ["mask", "size of image", "(6, 8)"]),
    # smooth_avg(a, 2**32 + 3) acted as window 3 and simple(a, 300, 0) as t = 44:
    # ctypes kept the low bits of an integer too large for the C parameter.
    (lambda: kxpre.smooth_avg(GREY, 2**32 + 3), kxpre.ArgumentOverflowError, ["window_size", "-2147483648..2147483647"]),
    (lambda: kxpre.simple(GREY, 300, 0), kxpre.ArgumentOverflowError, ["t", "0..255"]),
    (lambda: kxpre.set_polyline(GREY, [(0, 2**31)], 9), kxpre.ArgumentOverflowError, ["points", "-2147483648..2147483647"]),
    (lambda: kxpre.linear(GREY, 1e39), kxpre.ArgumentOverflowError, ["gain", "too large for a float"]),
]


@pytest.mark.parametrize("call,error,words", REFUSED, ids=[" ".join(w[:2]) for _, _, w in REFUSED])
def test_refused_calls_name_the_argument_and_what_is_accepted(call, error, words):
    with pytest.raises(error) as caught:
        call()
    # Wrong types must not reach ctypes, whose ArgumentError counts C arguments.
    assert not isinstance(caught.value, ctypes.ArgumentError)
    assert error is not kxpre.ArgumentOverflowError or isinstance(caught.value, OverflowError)
    for w in words:
        assert w in str(caught.value)


def test_named_constants_and_defaults():
    assert kxpre.Filter.BILINEAR == 2 and kxpre.Merge.DIFF == 1212 and kxpre.Channel.RED | kxpre.Channel.BLUE == 5
    np.testing.assert_array_equal(kxpre.rotate_ex(GREY, 10), kxpre.rotate_ex(GREY, 10, 0, 0))
    np.testing.assert_array_equal(kxpre.flip(GREY, kxpre.Flip.LEFT_RIGHT), GREY[:, ::-1])
    np.testing.assert_array_equal(kxpre.edges(GREY, kxpre.Edge.KIRSCH, kxpre.Direction.Y), kxpre.kirsch(GREY, 2))


def test_colour_helpers_follow_the_library():
    bgr = random_image((5, 7, 3))
    np.testing.assert_array_equal(kxpre.bgr_to_rgb(bgr), bgr[..., ::-1])
    bgra = random_image((5, 7, 4))
    np.testing.assert_array_equal(kxpre.rgb_to_bgr(bgra), bgra[..., [2, 1, 0, 3]])
    np.testing.assert_array_equal(kxpre.to_bgr(GREY)[..., 1], GREY)
    np.testing.assert_array_equal(kxpre.to_gray(GREY > 100), np.where(GREY > 100, 255, 0))


def test_fill_text_on_a_grey_array_draws_instead_of_returning_it_unchanged():
    # The text functions turn the image into B,G,R colour, which a wrapped
    # grey array cannot become: the library left it alone and the grey
    # array came back as it was.
    out = kxpre.fill_text(np.full((20, 40), 255, np.uint8), "Hi", 2, 2, 12, 0xFF000000)
    assert out.shape == (20, 40, 3) and out.min() == 0
    np.testing.assert_array_equal(out[:, :, 0], out[:, :, 2])  # grey stays grey in every channel
