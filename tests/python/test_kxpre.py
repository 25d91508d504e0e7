"""The Python binding: round trips of every image type, zero-copy work in
place, argument errors, bindings that match the header, and a pipeline equal
to the same pipeline run by kxpipe through the C interface."""

import ctypes
import os
import re
import subprocess

import numpy as np
import pytest

import kxpre

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
HEADER = os.environ.get("KXPRE_HEADER", os.path.join(ROOT, "include", "kxpre.h"))
rng = np.random.default_rng(7)


def random_image(shape, binary=False):
    return rng.integers(0, 2 if binary else 256, size=shape, dtype=np.uint8)


def needs(*names):
    missing = [n for n in names if n not in kxpre.available()]
    return pytest.mark.skipif(bool(missing), reason="not in this library build: %s" % missing)


SHAPES = [((5, 7), False), ((5, 7), True), ((4, 6, 3), False), ((3, 5, 4), False), ((1, 1), False)]


@pytest.mark.parametrize("shape,binary", SHAPES)
def test_round_trip_through_a_virtual_and_an_owned_image(shape, binary):
    a = random_image(shape, binary)
    before = a.copy()
    twice = kxpre.invert(kxpre.invert(a, binary=binary), binary=binary)  # wraps a copy
    assert twice.dtype == np.uint8 and twice.shape == a.shape
    np.testing.assert_array_equal(twice, a)
    h, w = shape[:2]
    whole = kxpre.clip(a, 0, 0, w - 1, h - 1, binary=binary)  # copies into an image the library owns
    np.testing.assert_array_equal(whole, a)
    np.testing.assert_array_equal(a, before)  # the input is left alone


@pytest.mark.parametrize("shape,binary", SHAPES)
def test_pixel_layout_matches_the_library(shape, binary):
    a = random_image(shape, binary)
    h, w = shape[:2]
    y, x = h - 1, w // 2
    got = kxpre.get_pixel(a, x, y, binary=binary)
    p = a[y, x]
    if a.ndim == 2:
        want = int(p)
    else:
        alpha = int(p[3]) if a.shape[2] == 4 else 0xFF
        want = alpha << 24 | int(p[2]) << 16 | int(p[1]) << 8 | int(p[0])
    assert got == want
    assert kxpre.get_pixel(a, w, 0, binary=binary) == 0  # outside


def test_binary_images_hold_zero_and_one_and_bool_or_0_255_arrays_are_converted():
    a = random_image((6, 8))
    binary = (a > 100).astype(np.uint8)
    np.testing.assert_array_equal(kxpre.invert(binary, binary=True), 1 - binary)
    as_bool = kxpre.invert(a > 100)  # a bool array is binary and comes back bool
    assert as_bool.dtype == np.bool_
    np.testing.assert_array_equal(as_bool, a <= 100)
    np.testing.assert_array_equal(kxpre.fill_hole(binary * 255), kxpre.fill_hole(binary))
    with pytest.raises(ValueError, match="inplace"):
        kxpre.invert(a > 100, inplace=True)


def test_in_place_works_in_the_arrays_memory():
    a = random_image((6, 9, 3))
    expected = 255 - a
    out = kxpre.invert(a, inplace=True)
    assert out is a
    np.testing.assert_array_equal(a, expected)


def test_in_place_on_padded_rows_keeps_the_padding():
    wide = np.full((5, 12), 7, np.uint8)
    view = wide[:, :8]  # rows 12 bytes apart, 8 pixels each
    out = kxpre.invert(view, inplace=True)
    assert out is view and np.shares_memory(out, wide)
    np.testing.assert_array_equal(wide[:, :8], 248)
    np.testing.assert_array_equal(wide[:, 8:], 7)  # the padding belongs to the caller


def test_strided_columns_are_copied_not_wrapped():
    a = random_image((4, 10))
    every_other = a[:, ::2]
    np.testing.assert_array_equal(kxpre.invert(every_other), 255 - every_other)
    with pytest.raises(ValueError):
        kxpre.invert(every_other, inplace=True)


def test_argument_errors():
    a = random_image((4, 4))
    with pytest.raises(TypeError):
        kxpre.invert(a.astype(np.float32))
    with pytest.raises(TypeError):
        kxpre.invert([[1, 2], [3, 4]])
    with pytest.raises(ValueError):
        kxpre.invert(np.zeros((4, 4, 2), np.uint8))
    with pytest.raises(ValueError):
        kxpre.invert(np.zeros((0, 4), np.uint8))
    with pytest.raises(ValueError):
        kxpre.clip(a, 0, 0, 1, 1, inplace=True)  # changes the size
    with pytest.raises(TypeError):
        kxpre.clip(a, 0, 0, 1)  # a missing argument
    with pytest.raises(TypeError, match="same kind"):
        kxpre.pixel_add(np.zeros((4, 4, 3), np.uint8), a)  # types differ
    ro = a.copy()
    ro.flags.writeable = False
    with pytest.raises(ValueError):
        kxpre.invert(ro, inplace=True)
    np.testing.assert_array_equal(kxpre.invert(ro), 255 - a)


def test_second_images_points_and_masks():
    a, b = random_image((5, 6)), random_image((5, 6))
    np.testing.assert_array_equal(kxpre.pixel_large(a, b), np.maximum(a, b))
    c = np.zeros((5, 6, 3), np.uint8)
    out = kxpre.set_pixel_e1(c, [(0, 0), (5, 4), (9, 9)], 0, 0, 0xFF102030)
    np.testing.assert_array_equal(out[0, 0], [0x30, 0x20, 0x10])
    np.testing.assert_array_equal(out[4, 5], [0x30, 0x20, 0x10])
    assert out.sum() == 2 * (0x30 + 0x20 + 0x10)
    mask = np.zeros((5, 6), np.uint8)
    mask[1:3, 2:4] = 1
    filled = kxpre.set_pixel_ex(np.zeros((5, 6), np.uint8), 200, mask, 0)
    np.testing.assert_array_equal(filled, mask * 200)


def test_every_export_is_a_function_once():
    names = [e.python for e in kxpre.MANIFEST.exports]
    assert len(set(names)) == len(names) == len({e.name for e in kxpre.MANIFEST.exports})
    for e in kxpre.MANIFEST.exports:
        f = getattr(kxpre, e.python)
        assert (e.python in kxpre.available()) == hasattr(kxpre.lib, e.name), e.name
        assert e.name in f.__doc__


_CTYPES = {
    "void": None,
    "int": ctypes.c_int,
    "uint32_t": ctypes.c_uint32,
    "uint8_t": ctypes.c_uint8,
    "float": ctypes.c_float,
    "double": ctypes.c_double,
    "const char *": ctypes.c_char_p,
    "EllipseBox": kxpre.EllipseBox,
    "FloodValue": kxpre.FloodValue,
    "FloodRecord": kxpre.FloodRecord,
}


def _c_type(text):
    text = re.sub(r"\s+", " ", text.strip())
    text = re.sub(r"\b[A-Za-z_]\w*$", "", text).strip() if text not in _CTYPES else text
    text = text.replace(" *", " *").strip()
    if text in _CTYPES:
        return _CTYPES[text]
    if text.endswith("*"):
        return ctypes.c_char_p if text == "const char *" else ctypes.c_void_p
    raise AssertionError("unknown C type %r" % text)


def header_declarations():
    source = re.sub(r"/\*.*?\*/", " ", open(HEADER).read(), flags=re.S)
    out = {}
    for m in re.finditer(r"^KX_API[ \t]+([\w \t*]+?)\b(kx\w+)\s*\(([^)]*)\)\s*;", source, flags=re.M):
        result = m.group(1).strip()
        args = [a for a in m.group(3).split(",") if a.strip() and a.strip() != "void"]
        res = None if result == "void" else (ctypes.c_void_p if result.endswith("*") else _CTYPES[result])
        out[m.group(2)] = (res, [_c_type(a) for a in args])
    return out


def test_bindings_match_the_header():
    declared = header_declarations()
    assert len(declared) >= 20
    bound = kxpre.signatures()
    for name, (res, args) in declared.items():
        assert name in bound, name
        bres, bargs = bound[name]
        if bres is not None and res is not None:
            assert bres == res or (res is ctypes.c_void_p and bres is ctypes.c_void_p), name
        assert bargs == args, "%s: header %s, binding %s" % (name, args, bargs)


# ---- the same pipeline through kxpipe ------------------------------------------

def write_pgm(path, a):
    with open(path, "wb") as f:
        f.write(b"P5\n%d %d\n255\n" % (a.shape[1], a.shape[0]))
        f.write(np.ascontiguousarray(a).tobytes())


def read_pgm(path):
    data = open(path, "rb").read()
    parts = data.split(maxsplit=4)
    w, h = int(parts[1]), int(parts[2])
    return np.frombuffer(parts[4][: w * h], np.uint8).reshape(h, w)


# (kxpipe words, the same step in Python, given the array and whether it is
# binary); steps whose export is missing are left out on both sides.
PIPELINE = [
    ("normalize 128 1200", "normalize", lambda a, b: kxpre.normalize(a, 128, 1200)),
    ("smoothavg 3", "smooth_avg", lambda a, b: kxpre.smooth_avg(a, 3)),
    ("flip 1", "flip", lambda a, b: kxpre.flip(a, 1)),
    ("rotate 1", "rotate", lambda a, b: kxpre.rotate(a, 1)),
    ("clip 2 3 40 30", "clip", lambda a, b: kxpre.clip(a, 2, 3, 40, 30)),
    ("localintegral 15 128 0.34", "local_integral", lambda a, b: kxpre.local_integral(a, 15, 128, 0.34)),
    ("invert", "invert", lambda a, b: kxpre.invert(a, binary=b)),
    ("fillhole", "fill_hole", lambda a, b: kxpre.fill_hole(a, binary=b)),
    ("removeborder", "remove_border", lambda a, b: kxpre.remove_border(a, binary=b)),
    ("thinning", "thinning", lambda a, b: kxpre.thinning(a, binary=b)),
]


def test_pipeline_equals_kxpipe(tmp_path):
    kxpipe = os.environ.get("KXPIPE")
    if not kxpipe or not os.path.exists(kxpipe):
        pytest.skip("KXPIPE does not name the kxpipe program")
    source = np.random.default_rng(3).integers(0, 256, size=(48, 64), dtype=np.uint8)
    source[10:30, 10:40] //= 3
    a, words, binary, steps = source, [], False, 0
    for pipe_words, pyname, step in PIPELINE:
        if pyname not in kxpre.available():
            continue
        a = step(a, binary)
        binary = binary or pyname == "local_integral"
        words += pipe_words.split()
        steps += 1
    assert steps >= 3
    src, dst = tmp_path / "in.pgm", tmp_path / "out.pgm"
    write_pgm(src, source)
    subprocess.run([kxpipe, str(src), str(dst)] + words, check=True, capture_output=True)
    np.testing.assert_array_equal(read_pgm(dst), a * 255 if binary else a)


# ---- every function once --------------------------------------------------------

_SAMPLE = {
    "int": 1,
    "uint32": 1,
    "colour": 0xFF808080,
    "byte": 128,
    "float": 0.5,
    "double": 0.5,
    "text": "Hi",
    "points": [(1, 1), (8, 1), (4, 6)],
    "quad": [(0, 0), (9, 0), (9, 7), (0, 7)],
    "box": (5.0, 4.0, 6.0, 3.0, 30.0),
    "floodvalue": (10, 20, 30),
    "floodrange": 5.0,
}
# Arguments whose sample must be something particular for a meaningful call
# (the manifest's range alone does not give it).
_OVERRIDES = {
    "kxScaleEx": {"destination": (6, 5)},
    "kxCopyPixelsE3": {"destination": (6, 5)},
    "kxUnwarp": {"destination": (6, 5)},
    "kxFillTextEx": {"face": "DejaVu Sans", "height": 8},
    "kxFillText": {"height": 8},
    "kxbLocalIntegral": {"window": 5},
    "kxResize": {"new_width": 12, "new_height": 9},
    "kxMakeSquarePixel": {"pixel_size_x": 2, "pixel_size_y": 1},
    "kxRotateE3": {"cx": 4.5, "cy": 3.5, "angle": 30.0},
    "kxCanny": {"threshold1": 50.0, "threshold2": 150.0},
    "kxContrast": {"low": 0.1, "high": 0.9},
    "kxFillEllipse": {"right": 6, "bottom": 5},
    "kxBlur": {"width": 3, "height": 3},
    "kxSmoothGaussian": {"width": 3, "height": 3},
    "kxSmoothMedian": {"size": 3},
}


def _sample_call(e):
    """The function and arguments of a call that each check accepts."""
    kind = e.images[0] if e.images else "gray"
    shape = {"rgb": (8, 10, 3), "rgba": (8, 10, 4)}.get(kind, (8, 10))
    image = rng.integers(0, 2 if kind == "bin" else 256, size=shape, dtype=np.uint8)
    args = {}
    for a in e.args:
        if a.hidden:
            continue
        if a.kind == "image":
            args[a.name] = image
        elif a.kind in ("same", "channel"):
            args[a.name] = image.copy() if a.kind == "same" else image[..., 0].copy() if image.ndim == 3 else image
        elif a.kind in ("mask", "element", "dest"):
            args[a.name] = None
        elif a.values is not None:
            args[a.name] = a.default if a.default in a.values else a.values[0]
        elif a.min is not None:
            args[a.name] = a.default if a.default is not kxpre._manifest.NO_DEFAULT else a.min
        else:
            args[a.name] = _SAMPLE[a.kind]
    args.update(_OVERRIDES.get(e.name, {}))
    return getattr(kxpre, e.python), args, image, kind


def _check_one(e):
    """Calls one export through the binding; None when all is well, else
    what went wrong."""
    fn, args, image, kind = _sample_call(e)
    if e.python not in kxpre.available():
        try:
            fn(**args)
        except NotImplementedError:
            return None
        return "callable although its export is missing"
    before = image.copy()
    try:
        out = fn(**args, **({"binary": kind == "bin"} if e.image else {}))
    except Exception as err:  # noqa: BLE001 - any error is a failure
        return "%s: %s" % (type(err).__name__, err)
    if isinstance(out, tuple):
        out = out[0]
    if isinstance(out, np.ndarray) and out.dtype != np.uint8 and e.result != "dist":
        return "result of dtype %s" % out.dtype
    if not np.array_equal(image, before):
        return "the input array was changed"
    return None


def test_every_function_runs_on_a_small_image():
    """Each export is called once through the binding with arguments its
    checks accept.  The calls run in one child process that reports each
    name before its call, so that a crash names the function instead of
    ending the run."""
    exports = kxpre.MANIFEST.exports
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        with os.fdopen(write_end, "w", buffering=1) as report:
            for e in exports:
                report.write("call %s\n" % e.name)
                problem = _check_one(e)
                report.write("done %s %s\n" % (e.name, problem or "ok"))
        os._exit(0)
    os.close(write_end)
    with os.fdopen(read_end) as reports:
        lines = reports.read().splitlines()
    _, status = os.waitpid(pid, 0)
    if not os.WIFEXITED(status) or os.WEXITSTATUS(status) != 0:
        last = lines[-1] if lines else "(nothing)"
        pytest.fail("the child ended abnormally (status %d) after: %s" % (status, last))
    failures = [line for line in lines if line.startswith("done ") and not line.endswith(" ok")]
    assert not failures, failures
    assert sum(line.startswith("done ") for line in lines) == len(exports)


def test_every_export_is_documented_in_the_header():
    """Each declaration follows a comment, directly or as part of a group of
    declarations under one comment."""
    lines = open(HEADER).read().splitlines()
    undocumented = []
    for k, line in enumerate(lines):
        m = re.match(r"KX_API\b.*?\b(kx\w+)\s*\(", line)
        if not m:
            continue
        j = k - 1
        # Walk up over the declarations of the same group.
        while j >= 0 and (lines[j].startswith("KX_API") or lines[j].startswith(" ") and not lines[j].strip().startswith("*")
                          and not lines[j].strip().endswith("*/")):
            j -= 1
        if j < 0 or not lines[j].rstrip().endswith("*/"):
            undocumented.append(m.group(1))
    assert not undocumented, "no comment above: %s" % undocumented


# ---- refused calls: each names the argument and what is accepted --------------

GREY = np.arange(48, dtype=np.uint8).reshape(6, 8) * 5
COLOUR = np.zeros((6, 8, 3), np.uint8)

# (call, exception, words the message must hold)
REFUSED = [
    # an image kind the operation does not take
    (lambda: kxpre.otsu(COLOUR), TypeError, ["kxpre.otsu", "image", "grey (H, W)", "B,G,R colour"]),
    (lambda: kxpre.thinning(GREY), TypeError, ["kxpre.thinning", "binary", "up to 235", "binary=False"]),
    (lambda: kxpre.thinning(GREY > 9, binary=False), TypeError, ["kxpre.thinning", "binary"]),
    (lambda: kxpre.linear_ex(GREY, 1, 2.0), TypeError, ["kxpre.linear_ex", "B,G,R colour (H, W, 3)"]),
    (lambda: kxpre.increase_lum(np.zeros((2, 2, 4), np.uint8)), TypeError, ["increase_lum", "B,G,R,A"]),
    (lambda: kxpre.replace_channel(COLOUR, np.zeros((6, 8, 4), np.uint8), 1), TypeError, ["channel", "B,G,R,A"]),
    (lambda: kxpre.pixel_and(GREY, GREY > 9, binary=True), TypeError, ["image0", "binary", "up to 235"]),
    (lambda: kxpre.fill_hole_ex(GREY > 9, COLOUR), TypeError, ["mask", "2-D"]),
    # an argument outside its documented range
    (lambda: kxpre.median(GREY, -5), ValueError, ["kxpre.median", "window_size", "at least 2", "-5"]),
    (lambda: kxpre.scale(GREY, -1, 3), ValueError, ["kxpre.scale", "factor > 0", "-1"]),
    (lambda: kxpre.scale(GREY, float("nan")), ValueError, ["factor", "finite"]),
    (lambda: kxpre.clip(GREY, 5, 0, 2, 3), ValueError, ["kxpre.clip", "right >= left", "right 2, left 5"]),
    (lambda: kxpre.multi_level(GREY, 1), ValueError, ["levels", "2..256", "1"]),
    (lambda: kxpre.flip(GREY, 3), ValueError, ["mode", "0..2"]),
    (lambda: kxpre.pixel_merge(GREY, GREY, 1203), ValueError, ["code", "one of 1204, 1205"]),
    (lambda: kxpre.get_optima(GREY, 4), ValueError, ["method", "0..3"]),
    (lambda: kxpre.normalize(GREY, 128, -1), ValueError, ["variance", "at least 0"]),
    (lambda: kxpre.contrast(GREY, 0.6, 0.1), ValueError, ["high > low"]),
    (lambda: kxpre.fill(GREY, 8, 0, 9), ValueError, ["x < width", "x 8, width 8"]),
    (lambda: kxpre.set_polyline(GREY, [(1, 1)], 9), ValueError, ["points", "at least 2 points", "got 1"]),
    (lambda: kxpre.rotate_ex(GREY, float("inf")), ValueError, ["angle", "finite"]),
    (lambda: kxpre.detect_edge(GREY, mask=np.ones((2, 2), bool)), ValueError, ["mask", "size of image", "(6, 8)"]),
    (lambda: kxpre.flood_fill(GREY, 0, 0, 1, -1, 1), ValueError, ["lo", "at least 0"]),
    (lambda: kxpre.scale_ex(GREY, (0, 5)), ValueError, ["destination", "(1, 1)"]),
]


@pytest.mark.parametrize("call,error,words", REFUSED, ids=[" ".join(w[:2]) for _, _, w in REFUSED])
def test_calls_that_would_do_nothing_are_refused(call, error, words):
    with pytest.raises(error) as caught:
        call()
    for w in words:
        assert w in str(caught.value)


# smooth_avg(a, 2**32 + 3) acted as window 3 and simple(a, 300, 0) as t = 44:
# ctypes kept the low bits of an integer too large for the C parameter.
WRAPPED = [
    (lambda: kxpre.smooth_avg(GREY, 2**32 + 3), "window_size", "-2147483648..2147483647"),
    (lambda: kxpre.simple(GREY, 300, 0), "t", "0..255"),
    (lambda: kxpre.simple(GREY, -1), "t", "0..255"),
    (lambda: kxpre.set_pixel(GREY, 0, 0, -1), "colour", "0..4294967295"),
    (lambda: kxpre.set_pixel(GREY, 2**31, 0, 1), "x", "-2147483648..2147483647"),
    (lambda: kxpre.set_polyline(GREY, [(0, 0), (2**31, 1)], 9), "points", "-2147483648..2147483647"),
    (lambda: kxpre.linear(GREY, 1e39), "gain", "too large for a float"),
]


@pytest.mark.parametrize("call,name,accepted", WRAPPED, ids=[n for _, n, _ in WRAPPED])
def test_integers_outside_the_c_type_raise_instead_of_wrapping(call, name, accepted):
    with pytest.raises(kxpre.ArgumentOverflowError) as caught:
        call()
    assert isinstance(caught.value, OverflowError) and isinstance(caught.value, ValueError)
    assert name in str(caught.value) and accepted in str(caught.value)


# Wrong Python types reached ctypes, whose ArgumentError counted C arguments
# ("argument 2: ...") instead of naming the Python one.
WRONG_TYPES = [
    (lambda: kxpre.median(GREY, "5"), "window_size", "an integer"),
    (lambda: kxpre.median(GREY, 2.5), "window_size", "an integer"),
    (lambda: kxpre.normalize(GREY, "x", 3), "mean", "a number"),
    (lambda: kxpre.fill_text(COLOUR, 5, 0, 0, 8, 0), "text", "a str"),
    (lambda: kxpre.set_polyline(GREY, [(0.5, 1), (2, 2)], 9), "points", "integer points"),
    (lambda: kxpre.warp(GREY, "abc", [0] * 8), "src_points", "four (x, y) points"),
    (lambda: kxpre.invert(GREY.astype(np.float32)), "image", "dtype uint8"),
    (lambda: kxpre.invert([[1, 2]]), "image", "numpy array"),
]


@pytest.mark.parametrize("call,name,expected", WRONG_TYPES, ids=[n for _, n, _ in WRONG_TYPES])
def test_wrong_python_types_raise_type_error_naming_the_argument(call, name, expected):
    with pytest.raises(TypeError) as caught:
        call()
    assert not isinstance(caught.value, ctypes.ArgumentError)
    assert name in str(caught.value) and expected in str(caught.value)


# ---- feeling native ----------------------------------------------------------------

def test_named_constants_for_every_code_and_defaults():
    for e in kxpre.MANIFEST.exports:
        for a in e.args:
            if a.enum:
                codes = getattr(kxpre, a.enum)
                assert all(a.check(int(m)) is None for m in codes), (e.name, a.name)
    assert kxpre.Filter.BILINEAR == 2 and kxpre.Flip.UP_DOWN == 2 and kxpre.Merge.DIFF == 1212
    assert kxpre.Channel.RED | kxpre.Channel.BLUE == 5
    np.testing.assert_array_equal(kxpre.rotate_ex(GREY, 10), kxpre.rotate_ex(GREY, 10, 0, 0))
    np.testing.assert_array_equal(kxpre.scale(GREY, 0.5), kxpre.scale(GREY, 0.5, kxpre.Filter.BILINEAR))
    np.testing.assert_array_equal(kxpre.flip(GREY, kxpre.Flip.LEFT_RIGHT), GREY[:, ::-1])
    np.testing.assert_array_equal(kxpre.edges(GREY, kxpre.Edge.ROBERTS), kxpre.roberts(GREY))
    np.testing.assert_array_equal(kxpre.edges(GREY, kxpre.Edge.KIRSCH, kxpre.Direction.Y), kxpre.kirsch(GREY, 2))
    np.testing.assert_array_equal(kxpre.edges(GREY, kxpre.Edge.GRADIENT, gap=2), kxpre.gradient(GREY, 0, 2))


def test_every_argument_is_explained_in_words():
    for e in kxpre.MANIFEST.exports:
        doc = getattr(kxpre, e.python).__doc__
        for a in e.args:
            if not a.hidden and e.image is not None:
                assert a.doc, (e.name, a.name)
                assert "    %s (" % a.name in doc


def test_colour_helpers_follow_the_library():
    bgr = rng.integers(0, 256, size=(5, 7, 3), dtype=np.uint8)
    np.testing.assert_array_equal(kxpre.bgr_to_rgb(bgr), bgr[..., ::-1])
    bgra = rng.integers(0, 256, size=(5, 7, 4), dtype=np.uint8)
    np.testing.assert_array_equal(kxpre.rgb_to_bgr(bgra), bgra[..., [2, 1, 0, 3]])
    grey = kxpre.to_gray(bgr)
    assert grey.shape == (5, 7)
    # The library's luminance, as the grey fill of a colour above 255 uses it.
    b, g, r = (bgr[..., k].astype(np.float64) for k in range(3))
    np.testing.assert_array_equal(np.abs(grey.astype(int) - (r * 0.299 + g * 0.587 + b * 0.114)) <= 1, True)
    np.testing.assert_array_equal(kxpre.to_bgr(GREY)[..., 1], GREY)
    np.testing.assert_array_equal(kxpre.to_gray(GREY > 100), np.where(GREY > 100, 255, 0))


def test_fill_text_on_a_grey_array_draws_instead_of_returning_it_unchanged():
    # The text functions turn the image into B,G,R colour, which a wrapped
    # grey array cannot become: the library left it alone and the grey
    # array came back as it was.
    out = kxpre.fill_text(np.full((20, 40), 255, np.uint8), "Hi", 2, 2, 12, 0xFF000000)
    assert out.shape == (20, 40, 3)
    np.testing.assert_array_equal(out[:, :, 0], out[:, :, 2])  # grey stays grey in every channel
