"""The binding's marshalling: sizes and coordinates against their C types,
destinations, and a seeded fuzz run of arrays of every dtype, shape, stride
and flag against every export of the manifests (no crash, refusals are
Python exceptions, results equal those of a packed copy)."""

import ctypes
import math
import zlib

import numpy as np
import pytest

import kxpre
from kxpre import extra
from test_kxpre import _OVERRIDES, _SAMPLE

GREY = np.random.default_rng(11).integers(0, 256, (8, 10), dtype=np.uint8)
QUAD = [(1, 1), (8, 0), (9, 7), (0, 6)]


# ---- sizes that wrapped at 2^32 ------------------------------------------------

WRAPPED = [
    # each was taken modulo 2^32 by ctypes: (3, 4) images, a 3 x 3 element
    ("scale_ex_shape", lambda: kxpre.scale_ex(GREY, (2**32 + 3, 4))),
    ("unwarp_shape", lambda: kxpre.unwarp(GREY, QUAD, (4, 2**32 + 4))),
    ("copy_pixels_e3_shape", lambda: kxpre.copy_pixels_e3(GREY, (2**32 + 3, 4), QUAD)),
    ("erode_element", lambda: kxpre.erode(GREY > 99, ("rect", 2**32 + 3, 3))),
    # a corner of 1e39 became inf, where a scalar float argument is refused
    ("unwarp_quad", lambda: kxpre.unwarp(GREY, [(1e39, 0), (9, 0), (9, 7), (0, 7)], (4, 4))),
    ("copy_pixels_e3_quad", lambda: kxpre.copy_pixels_e3(GREY, (4, 4), [(0, 0), (9, -1e39), (9, 7), (0, 7)])),
]


@pytest.mark.parametrize("call", [c for _, c in WRAPPED], ids=[n for n, _ in WRAPPED])
def test_sizes_and_coordinates_beyond_their_c_type_are_refused(call):
    with pytest.raises(kxpre.ArgumentOverflowError):
        call()


def test_an_array_of_more_rows_than_an_int_holds_is_refused_untouched(tmp_path):
    # inplace inverted 16 rows of it and returned a (16, 1) copy
    big = np.memmap(tmp_path / "rows", np.uint8, "w+", shape=(2**32 + 16, 1))
    with pytest.raises(kxpre.ArgumentOverflowError, match="2147483647"):
        kxpre.invert(big, inplace=True)
    assert not big[:16].any()


def test_scale_ex_into_an_array_scales_and_a_refusal_raises():
    # kxScaleEx refuses destinations over the caller's memory: the array
    # came back unchanged.
    dst = np.zeros((6, 5), np.uint8)
    assert kxpre.scale_ex(GREY, dst) is dst
    np.testing.assert_array_equal(dst, kxpre.scale_ex(GREY, (6, 5)))
    with pytest.raises(TypeError, match="same kind"):
        kxpre.scale_ex(GREY, np.zeros((6, 5, 3), np.uint8))


def test_a_destination_array_given_to_an_export_making_a_new_image_is_the_result():
    # pyramid(a, 0, dest) returned a copy of the input
    dest = np.zeros((4, 5), np.uint8)
    out = kxpre.pyramid(GREY, 0, dest)
    assert out is dest
    np.testing.assert_array_equal(dest, kxpre.pyramid(GREY, 0))


# ---- the fuzz run ---------------------------------------------------------------

EXPORTS = [(getattr(kxpre, e.python), e) for e in kxpre.MANIFEST.exports if e.image is not None
           and e.python in kxpre.available()] + [(extra._built[e.python], e) for e in extra.MANIFEST.exports]
DTYPES = [np.uint8, np.bool_, np.int8, np.uint16, np.int32, np.float32, np.float64]
SHAPES = [(8, 10), (1, 1), (1, 7), (7, 1), (0, 5), (8, 10, 3), (8, 10, 4), (8, 10, 1), (8, 10, 2), (3, 4, 3, 2), (9,)]
HOSTILE = ["x", None, 1.5, 2**31, -2**31 - 1, 2**32 + 3, 1e39, math.nan, [1, 2]]
ALLOWED = (TypeError, ValueError, NotImplementedError)


def _layouts(a):
    """The same pixels as arrays of other strides and flags."""
    yield "c", a
    yield "fortran", np.asfortranarray(a)
    if a.ndim >= 2 and a.size:
        yield "rows_reversed", a[::-1]
        yield "columns_reversed", a[:, ::-1]
        yield "padded", np.pad(a, [(0, 0), (0, 3)] + [(0, 0)] * (a.ndim - 2))[:, :a.shape[1]]
        yield "every_other", np.repeat(a, 2, axis=1)[:, ::2]
        yield "transposed", np.swapaxes(a.swapaxes(0, 1).copy(), 0, 1)
        yield "broadcast", np.broadcast_to(a[:1], a.shape)
    ro = a.copy()
    ro.flags.writeable = False
    yield "read_only", ro


def _values(e, rng):
    """Arguments the checks accept, from the manifest (the samples of the
    export table)."""
    args = {}
    for a in (a for a in e.args if not a.hidden and a.kind not in ("image",)):
        if a.kind in ("same", "channel", "mask", "element", "dest"):
            args[a.name] = None
        elif a.values is not None:
            args[a.name] = a.values[int(rng.integers(len(a.values)))]
        elif a.min is not None:
            args[a.name] = a.default if a.default is not kxpre._manifest.NO_DEFAULT else a.min
        else:
            args[a.name] = _SAMPLE[a.kind]
    args.update(_OVERRIDES.get(e.name, {}))
    for a in e.args:
        if a.kind == "dest" and args[a.name] is None and e.result == "destination":
            args[a.name] = (6, 5)
    return args


def _outcome(fn, e, image, args, **flags):
    """The result of a call, or the type of the Python exception it raised."""
    args = dict(args, **{e.image.name: image})
    for a in e.args:
        if a.kind == "same" and args.get(a.name) is None:
            args[a.name] = np.array(image)  # an operand of the image's own kind and size
    try:
        return fn(**args, **flags)
    except ALLOWED as err:
        assert not isinstance(err, ctypes.ArgumentError), err
        return type(err)


def _same(x, y):
    if isinstance(x, tuple) and isinstance(y, tuple):
        return len(x) == len(y) and all(_same(a, b) for a, b in zip(x, y))
    if isinstance(x, np.ndarray) or isinstance(y, np.ndarray):
        return isinstance(x, np.ndarray) and isinstance(y, np.ndarray) and x.dtype == y.dtype \
            and np.array_equal(x, y)
    return x == y or (isinstance(x, float) and isinstance(y, float) and math.isnan(x) and math.isnan(y))


@pytest.mark.parametrize("fn,e", EXPORTS, ids=[e.python for _, e in EXPORTS])
def test_fuzz_arrays_and_arguments_against_every_export(fn, e):
    rng = np.random.default_rng(zlib.crc32(e.python.encode()))  # a seed per export, not per row
    args = _values(e, rng)
    image_name = e.image.name
    for dtype in DTYPES:
        for shape in SHAPES:
            if dtype is np.bool_:
                a = rng.integers(0, 2, shape).astype(bool)
            elif rng.integers(2):
                a = rng.integers(0, 2, shape).astype(dtype)
            else:
                a = rng.integers(0, 256, shape).astype(dtype)
            for layout, v in _layouts(a):
                before = v.copy()
                want = _outcome(fn, e, np.ascontiguousarray(before), args)
                got = _outcome(fn, e, v, args)
                assert _same(got, want), (layout, dtype, shape)
                np.testing.assert_array_equal(v, before)  # the input is not changed
                binary = bool(rng.integers(2))
                got = _outcome(fn, e, v if v.flags.writeable else v.copy(), args, inplace=True, binary=binary)
                assert not isinstance(got, np.ndarray) or e.resizes or e.result == "destination" \
                    or got.shape[:2] == v.shape[:2], layout
    # Each argument given a hostile value: a result or a Python exception.
    base = rng.integers(0, 2 if e.images[0] == "bin" else 256, (8, 10) if e.images[0] in ("bin", "gray")
                        else (8, 10, 3 if e.images[0] == "rgb" else 4)).astype(np.uint8)
    # The other images (same kind, channel, mask) in every dtype and layout.
    for a in (a for a in e.args if a.kind in ("same", "channel", "mask")):
        for dtype in (np.uint8, np.bool_, np.int16):
            other = rng.integers(0, 2 if a.kind == "mask" or e.images[0] == "bin" else 256, base.shape[:2]
                                 if a.kind != "same" else base.shape).astype(dtype)
            for layout, v in _layouts(other):
                want = _outcome(fn, e, base, dict(args, **{a.name: np.ascontiguousarray(v.copy())}))
                assert _same(_outcome(fn, e, base, dict(args, **{a.name: v})), want), (a.name, layout, dtype)
    for a in (a for a in e.args if not a.hidden and a.name != image_name):
        for v in HOSTILE:
            if e.resizes and isinstance(v, (int, float)) and not isinstance(v, bool) and v == v and abs(v) < 2**31:
                continue  # an in-range size: a large image, not a marshalling case
            _outcome(fn, e, base, dict(args, **{a.name: v}))
