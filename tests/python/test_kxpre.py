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


def test_binary_images_hold_zero_and_one():
    a = random_image((6, 8))
    binary = (a > 100).astype(np.uint8)
    np.testing.assert_array_equal(kxpre.invert(binary, binary=True), 1 - binary)
    with pytest.raises(TypeError):
        kxpre.invert(a > 100)  # bool arrays are not uint8


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
    with pytest.raises(ValueError):
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


def test_every_function_reports_availability_honestly():
    for cname, pyname, *_ in kxpre._ops.OPERATIONS:
        assert hasattr(kxpre, pyname)
        assert (pyname in kxpre.available()) == hasattr(kxpre.lib, cname), cname
        assert cname in getattr(kxpre, pyname).__doc__


def test_the_binding_covers_every_export_once():
    exports = open(os.path.join(ROOT, "tests", "exports.txt")).read().split()
    names = [row[0] for row in kxpre._ops.OPERATIONS]
    assert sorted(names) == sorted(exports)
    assert len({row[1] for row in kxpre._ops.OPERATIONS}) == len(names)


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
    "i": 1,
    "u": 0xFF808080,
    "b": 128,
    "f": 0.5,
    "d": 0.5,
    "s": "Hi",
    "pts": [(1, 1), (8, 1), (4, 6)],
    "quad": [(0, 0), (9, 0), (9, 7), (0, 7)],
    "mask": None,
    "elem": None,
    "box": (5.0, 4.0, 6.0, 3.0, 30.0),
    "fv": (10, 20, 30),
    "fr": 5.0,
}
# Arguments that must be in a particular range for a meaningful call.
_OVERRIDES = {
    "kxScaleEx": {"destination": (6, 5), "filter": 2},
    "kxCopyPixelsE3": {"destination": (6, 5)},
    "kxUnwarp": {"destination": (6, 5)},
    "kxPixelMerge": {"code": 1204},
    "kxFillTextEx": {"face": "DejaVu Sans", "height": 8},
    "kxFillText": {"height": 8},
    "kxbMultiLevel": {"levels": 3},
    "kxbLocalIntegral": {"window": 5},
    "kxMorphology": {"operation": 2},
    "kxWarpEx": {"patch": 0},
    "kxScale": {"factor": 0.5},
    "kxResize": {"new_width": 12, "new_height": 9},
    "kxMakeSquarePixel": {"pixel_size_x": 2, "pixel_size_y": 1},
    "kxRotateE3": {"cx": 4.5, "cy": 3.5, "angle": 30.0},
    "kxPyramid": {"value": 0},
    "kxBlur": {"width": 3, "height": 3},
    "kxSmoothGaussian": {"width": 3, "height": 3},
    "kxSmoothMedian": {"size": 3},
    "kxCanny": {"threshold1": 50.0, "threshold2": 150.0, "value": 3},
    "kxScharr": {"value": 0},
    "kxAdaptive": {"value": 3},
}


def _sample_call(row):
    cname, pyname, cparams, result, flags, _ = row
    binary = "bin" in flags
    image = rng.integers(0, 2 if binary else 256, size=(8, 10), dtype=np.uint8)
    args = {}
    for name, kind in kxpre._parse(cparams):
        if name is None or kind in ("out", "cap"):
            continue
        if kind == "@":
            args[name] = image
        elif kind in ("img", "any"):
            args[name] = image.copy()
        elif kind == "dest":
            args[name] = None
        else:
            args[name] = _SAMPLE[kind]
    args.update(_OVERRIDES.get(cname, {}))
    return getattr(kxpre, pyname), args, image


def _check_one(row):
    """Calls one export through the binding; None when all is well, else
    what went wrong."""
    fn, args, image = _sample_call(row)
    if row[1] not in kxpre.available():
        try:
            fn(**args)
        except NotImplementedError:
            return None
        return "callable although its export is missing"
    before = image.copy()
    try:
        out = fn(**args)
    except Exception as e:  # noqa: BLE001 - any error is a failure
        return "%s: %s" % (type(e).__name__, e)
    if isinstance(out, tuple):
        out = out[0]
    if isinstance(out, np.ndarray) and out.dtype != np.uint8 and row[3] != "dist":
        return "result of dtype %s" % out.dtype
    if not np.array_equal(image, before):
        return "the input array was changed"
    return None


def test_every_function_runs_on_a_small_image():
    """Each export is called once through the binding.  The calls run in one
    child process that reports each name before its call, so that a crash
    names the function instead of ending the run."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        with os.fdopen(write_end, "w", buffering=1) as report:
            for row in kxpre._ops.OPERATIONS:
                report.write("call %s\n" % row[0])
                problem = _check_one(row)
                report.write("done %s %s\n" % (row[0], problem or "ok"))
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
    assert sum(line.startswith("done ") for line in lines) == len(kxpre._ops.OPERATIONS)


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
