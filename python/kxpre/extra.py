"""kxpre.extra: the companion library libkxextra (kxextra.h) for numpy arrays.

Connected components, stroke points of skeletons, the global selectors'
levels as numbers and local thresholds by name.  Images are uint8 arrays of
shape (H, W): binary images hold 0/1 (or are bool arrays), grey images
0..255.  Functions that change an image return a new array unless called
with inplace=True.

The functions that take an image and give back an image or values
(despeckle, keep_largest, mark_stroke_points, level, isodata_level,
local_threshold and niblack, sauvola, wolf, bradley, find_skew, deskew,
clahe) are built from the library's export manifest (kxextra-exports.toml)
and check their arguments as the kxpre functions do: TypeError for a wrong
image kind or argument type, ValueError for an argument outside its range.
The others fill arrays and are written out here.

The library is found, in this order, at the path in KXEXTRA_LIBRARY, beside
the libkxpre the kxpre package loaded (libkxextra.so.0, then libkxextra.so),
and where the package looks for its other libraries.

    import numpy as np, kxpre.extra as kx
    labels, stats = kx.components(binary_page, connectivity=8)
    clean = kx.despeckle(binary_page, 8, min_area=12)
    t = kx.level(grey_page, kx.OTSU)
"""

import ctypes
import numbers
import os

import numpy as np

from . import _native, _ops
from ._manifest import Manifest


# The KxxComponent record as a numpy record type (same layout, 40 bytes).
COMPONENT = np.dtype(
    [
        ("label", np.int32),
        ("area", np.int32),
        ("left", np.int32),
        ("top", np.int32),
        ("width", np.int32),
        ("height", np.int32),
        ("cx", np.float64),
        ("cy", np.float64),
    ]
)


def _load():
    """libkxextra: at KXEXTRA_LIBRARY when set, else where the package's
    loader looks for a sibling library (beside the libkxpre it loaded - a
    package's _lib folder holds only the sonames - then the usual places)."""
    env = os.environ.get("KXEXTRA_LIBRARY")
    if env:
        try:
            return ctypes.CDLL(env)
        except OSError as e:
            raise ImportError("kxpre.extra: cannot load KXEXTRA_LIBRARY=%s (%s)" % (env, e)) from None
    return _native.load_library("kxextra", near=getattr(_native.lib, "_name", None))


lib = _load()

MANIFEST = Manifest(os.path.join(os.path.dirname(os.path.abspath(__file__)), "kxextra-exports.toml"))

# The library's codes as IntEnums (an IntFlag for the stroke kinds), from
# the manifest: Selector (level, histogram_level), Stroke (stroke_points),
# Mark (mark_stroke_points' values), Method (local_levels,
# local_threshold), Operator and Norm (gradient).  The members are also
# module names: OTSU, STROKE_END, MARK_LINE, SAUVOLA, SCHARR, L2, ...
ENUMS = _ops.make_enums(MANIFEST, "kxpre.extra")
globals().update(ENUMS)
for _name, _enum in ENUMS.items():
    for _m in _enum:
        globals()[("%s_%s" % (_name.upper(), _m.name)) if _name in ("Stroke", "Mark") else _m.name] = _m


def _bind_extra(name, restype, argtypes):
    """The libkxextra function `name` with its types, or None when this
    build lacks it."""
    fn = getattr(lib, name, None)
    if fn is not None:
        fn.restype, fn.argtypes = restype, argtypes
    return fn


# The functions the manifest describes, by their Python names.
_built = {}
for _e in MANIFEST.exports:
    _built[_e.python] = _ops.build(_e, _bind_extra, module="kxpre.extra", header="kxextra.h", enums=ENUMS)[0]
globals().update(_built)

_p = ctypes.c_void_p
_i = ctypes.c_int
_d = ctypes.c_double


def _bind(name, restype, argtypes):
    fn = getattr(lib, name)
    fn.restype = restype
    fn.argtypes = argtypes
    return fn


_label = _bind("kxxLabel", _i, [_p, _i, _p])
_stats = _bind("kxxComponentStats", _i, [_p, _i, _i, _i, _p])
_stroke_points = _bind("kxxStrokePoints", _i, [_p, _i, _p, _i])
_histogram_level = _bind("kxxHistogramLevel", _i, [_p, _i])
_multi = _bind("kxxMultiLevels", _i, [_p, _i, _p])
_local_levels = _bind("kxxLocalLevels", _i, [_p, _i, _i, _d, _d, _p])


def _notes(c_name):
    """Ends a hand-written function's docstring with the header's comment on
    its C function (from the manifest)."""
    def decorate(fn):
        text = MANIFEST.notes.get(c_name) or next((e.notes for e in MANIFEST.exports if e.name == c_name), None)
        if text:
            fn.__doc__ = (fn.__doc__ or "") + "\n\nNotes (kxextra.h, in the C terms):\n" + "\n".join(
                "    " + ln if ln else "" for ln in text.split("\n"))
        return fn
    return decorate


class _Record:
    """An Image record over an image argument for the duration of a call:
    the array's own memory when it can be wrapped, else a copy.  fn names
    the function in messages; kind is "bin" (bool, 0/1 or 0/255 arrays; grey
    ones refused) or "gray"."""

    def __init__(self, fn, array, kind, what="image"):
        name = "extra." + fn
        array, got, _, _ = _ops.as_image(name, what, array, kind == "bin", kind == "bin", grey_ok=False)
        if got != kind:
            raise TypeError("kxpre.%s: %s must be a %s image, got a %s image of shape %s"
                            % (name, what, _ops.kinds_text([kind]), _ops.KIND_WORDS[got], array.shape))
        kit = _native.KIT_BIN if kind == "bin" else _native.KIT_GRAY
        self.array = array
        self.copied = _native.wrappable(array) is None
        self.address = _native.owned_copy(array, kit) if self.copied else _native.wrap(array, kit)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _native.destroy_image(self.address)


def _code(fn, what, enum, v):
    """v as a member of one of the library's codes."""
    try:
        return enum(v)
    except (ValueError, TypeError):
        raise ValueError("kxpre.extra.%s: %s is one of %s, got %r"
                         % (fn, what, ", ".join("%s.%s" % (enum.__name__, m.name) for m in enum), v)) from None


def _connectivity(fn, c):
    if c not in (4, 8):
        raise ValueError("kxpre.extra.%s: connectivity is 4 or 8, got %r" % (fn, c))
    return c


# ---- connected components --------------------------------------------------


@_notes("kxxLabel")
@_native.named()
def label(image, connectivity=8):
    """(labels, count): int32 labels of the set pixels of a binary image,
    numbered 1..count in raster order of each component's first pixel, 0 for
    clear pixels (kxxLabel)."""
    _connectivity("label", connectivity)
    with _Record("label", image, "bin") as rec:
        labels = np.empty(rec.array.shape[:2], np.int32)
        count = _label(rec.address, connectivity, labels.ctypes.data)
    if count < 0:
        raise ValueError("kxpre.extra.label: the library refused the image")
    return labels, count


@_notes("kxxComponentStats")
@_native.named()
def component_stats(labels, count):
    """Records (COMPONENT dtype) of labels 0..count of an int32 label array:
    label, area, bounding box (left, top, width, height), centroid (cx, cy)
    (kxxComponentStats)."""
    labels = np.ascontiguousarray(labels, dtype=np.int32)
    if labels.ndim != 2 or labels.size == 0:
        raise ValueError("kxpre.extra.component_stats: labels must be a non-empty 2-D array")
    if max(labels.shape) > 2**31 - 1 or not 0 <= count <= 2**31 - 2:
        raise _ops.ArgumentOverflowError("kxpre.extra.component_stats: sizes and count must fit an int")
    stats = np.zeros(count + 1, COMPONENT)
    if not _stats(labels.ctypes.data, labels.shape[1], labels.shape[0], count, stats.ctypes.data):
        raise ValueError("kxpre.extra.component_stats: the library refused its arguments")
    return stats


@_native.named()
def components(image, connectivity=8):
    """(labels, stats): label() and component_stats() in one call; stats[0]
    describes the clear pixels."""
    labels, count = label(image, connectivity)
    return labels, component_stats(labels, count)


# despeckle(image, connectivity, min_area) and keep_largest(image,
# connectivity, n) come from the manifest.


# ---- stroke points ---------------------------------------------------------


@_notes("kxxStrokePoints")
@_native.named()
def stroke_points(skeleton, kinds=Stroke.END | Stroke.BRANCH):  # noqa: F821 (from the manifest)
    """(N, 2) int array of the (x, y) points of the given kinds (Stroke
    flags) of a one pixel wide binary skeleton, in raster order
    (kxxStrokePoints)."""
    if not isinstance(kinds, numbers.Integral) or not 0 <= kinds <= 7:
        raise ValueError("kxpre.extra.stroke_points: kinds is an OR of Stroke.END, BRANCH and DOT, got %r" % (kinds,))
    with _Record("stroke_points", skeleton, "bin", "skeleton") as rec:
        count = _stroke_points(rec.address, int(kinds), None, 0)
        if count < 0:
            raise ValueError("kxpre.extra.stroke_points: the library refused the image")
        points = np.zeros((count, 2), np.intc)
        if count:
            _stroke_points(rec.address, kinds, points.ctypes.data, count)
    return points


# mark_stroke_points(skeleton) comes from the manifest: the skeleton with every
# set pixel replaced by its MARK_ value.


# ---- selector levels -------------------------------------------------------


@_notes("kxxLevel")
@_native.named()
def level(image, selector=OTSU, mask=None):  # noqa: F821 (from the manifest)
    """The level a global selector picks for a grey image, optionally counting
    only where mask is non-zero (kxxLevel; the manifest's function with the
    selector before the mask)."""
    t = _built["level"](image, mask, selector)
    if t < 0:
        raise ValueError("kxpre.extra.level: the library refused the mask")
    return t


@_notes("kxxHistogramLevel")
@_native.named()
def histogram_level(histogram, selector=OTSU):  # noqa: F821
    """The level a global selector picks for 256 counts (kxxHistogramLevel)."""
    h = np.ascontiguousarray(histogram, dtype=np.int32)
    if h.shape != (256,):
        raise ValueError("kxpre.extra.histogram_level: a histogram holds 256 counts")
    t = _histogram_level(h.ctypes.data, _code("histogram_level", "selector", Selector, selector))  # noqa: F821
    if t < 0:
        raise ValueError("kxpre.extra.histogram_level: the library refused its arguments")
    return t


# isodata_level(image, max_iterations=100, window=1) comes from the manifest:
# the level kxbIsoData binarizes at (pixels > level are 1).


@_notes("kxxMultiLevels")
@_native.named()
def multi_levels(image, levels):
    """The levels - 1 thresholds kxbMultiLevel posterizes at (kxxMultiLevels)."""
    if not isinstance(levels, numbers.Integral) or not 2 <= levels <= 256:
        raise ValueError("kxpre.extra.multi_levels: levels must be 2..256, got %r" % (levels,))
    out = np.zeros(levels - 1, np.intc)
    with _Record("multi_levels", image, "gray") as rec:
        n = _multi(rec.address, int(levels), out.ctypes.data)
    if n < 0:
        raise ValueError("kxpre.extra.multi_levels: the library refused its arguments")
    return out[:n]


# ---- local thresholds ------------------------------------------------------


@_notes("kxxLocalLevels")
@_native.named()
def local_levels(image, method, window, k, r=127.5):
    """float64 array of the local level T of every pixel (kxxLocalLevels);
    NIBLACK and SAUVOLA equal scikit-image's threshold_niblack and
    threshold_sauvola with the same window, k and r."""
    method = _code("local_levels", "method", Method, method)  # noqa: F821 (from the manifest)
    if not isinstance(window, numbers.Integral) or not 1 <= window <= 2**31 - 1:
        raise ValueError("kxpre.extra.local_levels: window must be a positive int, got %r" % (window,))
    with _Record("local_levels", image, "gray") as rec:
        out = np.empty(rec.array.shape[:2], np.float64)
        ok = _local_levels(rec.address, method, int(window), float(k), float(r), out.ctypes.data)
    if not ok:
        raise ValueError("kxpre.extra.local_levels: the library refused its arguments")
    return out


# local_threshold(image, method, window, k, r=127.5) and, one per method,
# niblack(image, window, k=0.2), sauvola(image, window, k=0.2, r=127.5),
# wolf(image, window, k=0.5) and bradley(image, window, k=0.15) come from the
# manifest: binary arrays, 1 where the pixel is above its local level.


# ---- page skew -------------------------------------------------------------

# find_skew(image) -> (angle, confidence) of a binary page whose set pixels
# are the ink, and deskew(image, min_confidence=0.5, nearest=1) -> (page,
# angle), the page turned level when the skew found is trusted, come from
# the manifest; kxpre.rotate_ex(page, angle, ...) levels a page by hand.


# ---- gradients -------------------------------------------------------------

_gradient = _bind("kxxGradient", _i, [_p, _i, _i, _p, _p, _p, _p, _p])


@_notes("kxxGradient")
@_native.named()
def gradient(image, op=Operator.SOBEL, norm=Norm.L2, dtype=np.uint16, derivatives=False,  # noqa: F821
             direction=False):
    """The gradient magnitude of a grey image as uint16 or float32 (no
    clipping), and on request the int16 derivatives (gx, gy) and the float32
    direction atan2(gy, gx) in radians (kxxGradient).  Returns the magnitude
    alone or a tuple (magnitude[, gx, gy][, direction])."""
    op, norm = _code("gradient", "op", Operator, op), _code("gradient", "norm", Norm, norm)  # noqa: F821
    dtype = np.dtype(dtype)
    if dtype not in (np.dtype(np.uint16), np.dtype(np.float32)):
        raise ValueError("kxpre.extra.gradient: the magnitude is uint16 or float32")
    shape = _ops.as_image("extra.gradient", "image", image, False, False)[0].shape[:2]
    mag = np.empty(shape, dtype)
    gx = np.empty(shape, np.int16) if derivatives else None
    gy = np.empty(shape, np.int16) if derivatives else None
    d = np.empty(shape, np.float32) if direction else None
    ptr = lambda a: None if a is None else a.ctypes.data  # noqa: E731
    with _Record("gradient", image, "gray") as rec:
        ok = _gradient(
            rec.address, op, norm, ptr(gx), ptr(gy),
            ptr(mag) if dtype == np.uint16 else None, ptr(mag) if dtype == np.float32 else None, ptr(d)
        )
    if not ok:
        raise ValueError("kxpre.extra.gradient: the library refused its arguments")
    out = (mag,) + ((gx, gy) if derivatives else ()) + ((d,) if direction else ())
    return out[0] if len(out) == 1 else out


# ---- CLAHE -----------------------------------------------------------------

@_notes("kxxClahe")
@_native.named()
def clahe(image, tiles=(8, 8), clip_limit=40.0, inplace=False):
    """Contrast-limited adaptive histogram equalization of a grey image
    (kxxClahe): tiles = (across, down), 1..256 each, clip_limit relative
    (OpenCV's meaning; 0 no clipping).  The method of
    cv2.createCLAHE(clip_limit, tiles); most pixels agree within 1, a few by
    2.  The manifest's function with the tiles as one pair."""
    try:
        tx, ty = tiles
    except (TypeError, ValueError):
        raise TypeError("kxpre.extra.clahe: tiles must be a pair (across, down), got %r" % (tiles,)) from None
    return _built["clahe"](image, tx, ty, clip_limit, inplace=inplace)


# ---- pages: measures and paper ----------------------------------------------

def _page_kit(a, fn):
    """The image type of a grey (H, W) or colour (H, W, 3|4) uint8 page."""
    _native.check_array(a, "page")
    if a.ndim == 2:
        return _native.KIT_GRAY
    if a.ndim == 3 and a.shape[2] in (3, 4):
        return _native.KIT_RGB if a.shape[2] == 3 else _native.KIT_RGBA
    raise ValueError("kxpre.extra.%s: a page is (H, W), (H, W, 3) or (H, W, 4), got %s" % (fn, a.shape))


class _PageMeasures(ctypes.Structure):
    """KxxPageMeasures (kxextra.h)."""

    _fields_ = [(name, ctypes.c_int) for name in ("strokeWidth", "textHeight", "paperCell", "edgeLevel", "window",
                                                  "weakLevel", "strongLevel")]


_measure_page = _bind("kxxMeasurePage", _i, [_p, ctypes.POINTER(_PageMeasures)])
_estimate_paper = _bind("kxxEstimatePaper", _p, [_p, _i, _p])


@_notes("kxxMeasurePage")
@_native.named()
def measure_page(a):
    """The measures of a grey or colour page of text (kxxMeasurePage): a dict
    of stroke_width, text_height and paper_cell, in pixels (0 where the page
    shows no strokes or letters)."""
    kit = _page_kit(a, "measure_page")
    m = _PageMeasures()
    with _Owned(a, kit) as address:
        if not _measure_page(address, ctypes.byref(m)):
            raise ValueError("kxpre.extra.measure_page: the library refused the page")
    return {"stroke_width": m.strokeWidth, "text_height": m.textHeight, "paper_cell": m.paperCell}


@_notes("kxxEstimatePaper")
@_native.named()
def estimate_paper(a, cell=0):
    """The paper of a grey or colour page under its ink (kxxEstimatePaper), a
    grey uint8 (H, W) array; cell 2..64, 0 from the page's stroke width."""
    kit = _page_kit(a, "estimate_paper")
    if isinstance(cell, bool) or not isinstance(cell, (int, np.integer)) or cell > 64:
        raise ValueError("kxpre.extra.estimate_paper: cell is an integer up to 64, got %r" % (cell,))
    h, w = a.shape[:2]
    out = np.zeros((h, w), np.uint8)
    with _Owned(a, kit) as address:
        paper = _native.wrap(out, _native.KIT_GRAY)
        try:
            _estimate_paper(address, int(cell), paper)
        finally:
            _native.destroy_image(paper)
    return out


class _Owned:
    """The library's own copy of an array as an image, for one call."""

    def __init__(self, a, kit):
        self.address = _native.owned_copy(a, kit)

    def __enter__(self):
        return self.address

    def __exit__(self, *exc):
        _native.destroy_image(self.address)


# ---- one call: a clean page for OCR ----------------------------------------

CLEAN_TURN, CLEAN_RULINGS = 1, 2


class _CleanReport(ctypes.Structure):
    """KxxCleanReport (kxextra.h), 56 bytes."""

    _fields_ = [("angle", ctypes.c_double), ("confidence", ctypes.c_double)] + [
        (name, ctypes.c_int)
        for name in ("turned", "dpi", "dpiEstimated", "strokeWidth", "textHeight", "speckLimit", "specks",
                     "speckPixels", "borderPixels", "linePixels")
    ]


_clean_page = _bind("kxxCleanPage", _p, [_p, _i, _i, ctypes.POINTER(_CleanReport)])
_REPORT_KEYS = {"angle": "angle", "confidence": "confidence", "turned": "turned", "dpi": "dpi",
                "dpiEstimated": "dpi_estimated", "strokeWidth": "stroke_width", "textHeight": "text_height",
                "speckLimit": "speck_limit", "specks": "specks", "speckPixels": "speck_pixels",
                "borderPixels": "border_pixels", "linePixels": "line_pixels"}


@_native.named()
def clean_page(a, dpi=None, turn=True, rulings=False):
    """A clean binary page for OCR from a grey (H, W) or colour (H, W, 3|4,
    B,G,R[,A]) uint8 page (kxxCleanPage): returns (page, report), page a
    uint8 (H, W) array with the ink 1 and the paper 0, report a dict of what
    was done - angle and confidence of the skew (0 when turn is False),
    turned (bool), dpi and dpi_estimated, stroke_width, text_height,
    speck_limit, specks, speck_pixels, border_pixels, line_pixels.
    dpi None (or 0) estimates the resolution from the page; turn False keeps
    the page's geometry (no deskew, pixels compare one for one with a);
    rulings True also clears long ruling lines.  The array is not changed."""
    kit = _page_kit(a, "clean_page")
    dpi = 0 if dpi is None else dpi
    if isinstance(dpi, bool) or not isinstance(dpi, (int, np.integer)):
        raise TypeError("kxpre.extra.clean_page: dpi must be an integer or None, got %r" % (dpi,))
    if not 0 <= dpi <= 10000:
        raise ValueError("kxpre.extra.clean_page: dpi must be 0..10000 (or None), got %d" % dpi)
    flags = (CLEAN_TURN if turn else 0) | (CLEAN_RULINGS if rulings else 0)
    report = _CleanReport()
    address = _native.owned_copy(a, kit)  # the library's own image: it may change type in place
    try:
        _clean_page(address, int(dpi), flags, ctypes.byref(report))
        if _native.record(address).imageType != _native.KIT_BIN:
            raise ValueError("kxpre.extra.clean_page: the library refused the page")
        out = np.array(_native.view(address), copy=True)
    finally:
        _native.destroy_image(address)
    values = {_REPORT_KEYS[name]: getattr(report, name) for name, _ in _CleanReport._fields_}
    values["turned"] = bool(values["turned"])
    values["dpi_estimated"] = bool(values["dpi_estimated"])
    return out, values


# ---- fingerprints (python/kxpre/fingerprint.py) ----------------------------
from .fingerprint import *  # noqa: E402,F401,F403
