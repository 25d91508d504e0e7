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
import os

import numpy as np

from . import _native, _ops
from ._manifest import Manifest

# Selectors of level() and histogram_level().
OTSU, MIN_ERROR, MIN_ERROR_POISSON, MAX_ENTROPY, MODE = 0, 1, 2, 3, 4
# Kinds of stroke_points() (bits) and the values of mark_stroke_points().
STROKE_END, STROKE_BRANCH, STROKE_DOT = 1, 2, 4
MARK_NONE, MARK_LINE, MARK_END, MARK_BRANCH, MARK_DOT = 0, 1, 2, 3, 4
# Methods of local_levels() and local_threshold().
NIBLACK, SAUVOLA, WOLF, BRADLEY = 0, 1, 2, 3

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
    _built[_e.python] = _ops.build(_e, _bind_extra, module="kxpre.extra", header="kxextra.h")[0]
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


def _grey_or_binary(array, what="image"):
    _native.check_array(array, what)
    if array.ndim != 2:
        raise ValueError("kxpre.extra: %s must be a 2-D (H, W) array" % what)


class _Record:
    """An Image record over an array for the duration of a call: the array's
    own memory when it can be wrapped, else a copy."""

    def __init__(self, array, kit, what="image"):
        if kit == _native.KIT_BIN and isinstance(array, np.ndarray) and array.dtype == np.bool_:
            array = array.view(np.uint8)  # a bool array is a binary image, as everywhere in kxpre
        _grey_or_binary(array, what)
        self.array = array
        self.copied = _native.wrappable(array) is None
        self.address = _native.owned_copy(array, kit) if self.copied else _native.wrap(array, kit)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _native.destroy_image(self.address)


def _connectivity(c):
    if c not in (4, 8):
        raise ValueError("kxpre.extra: connectivity is 4 or 8, got %r" % (c,))
    return c


# ---- connected components --------------------------------------------------


def label(image, connectivity=8):
    """(labels, count): int32 labels of the set pixels of a binary image,
    numbered 1..count in raster order of each component's first pixel, 0 for
    clear pixels (kxxLabel)."""
    _connectivity(connectivity)
    labels = np.empty(image.shape[:2], np.int32)
    with _Record(image, _native.KIT_BIN) as rec:
        count = _label(rec.address, connectivity, labels.ctypes.data)
    if count < 0:
        raise ValueError("kxpre.extra: label refused the image")
    return labels, count


def component_stats(labels, count):
    """Records (COMPONENT dtype) of labels 0..count of an int32 label array:
    label, area, bounding box (left, top, width, height), centroid (cx, cy)
    (kxxComponentStats)."""
    labels = np.ascontiguousarray(labels, dtype=np.int32)
    if labels.ndim != 2 or labels.size == 0:
        raise ValueError("kxpre.extra: labels must be a non-empty 2-D array")
    stats = np.zeros(count + 1, COMPONENT)
    if not _stats(labels.ctypes.data, labels.shape[1], labels.shape[0], count, stats.ctypes.data):
        raise ValueError("kxpre.extra: component_stats refused its arguments")
    return stats


def components(image, connectivity=8):
    """(labels, stats): label() and component_stats() in one call; stats[0]
    describes the clear pixels."""
    labels, count = label(image, connectivity)
    return labels, component_stats(labels, count)


# despeckle(image, connectivity, min_area) and keep_largest(image,
# connectivity, n) come from the manifest.


# ---- stroke points ---------------------------------------------------------


def stroke_points(skeleton, kinds=STROKE_END | STROKE_BRANCH):
    """(N, 2) int array of the (x, y) points of the given kinds of a one
    pixel wide skeleton, in raster order (kxxStrokePoints)."""
    with _Record(skeleton, _native.KIT_BIN, "skeleton") as rec:
        count = _stroke_points(rec.address, kinds, None, 0)
        if count < 0:
            raise ValueError("kxpre.extra: stroke_points refused the image")
        points = np.zeros((count, 2), np.intc)
        if count:
            _stroke_points(rec.address, kinds, points.ctypes.data, count)
    return points


# mark_stroke_points(skeleton) comes from the manifest: the skeleton with every
# set pixel replaced by its MARK_ value.


# ---- selector levels -------------------------------------------------------


def level(image, selector=OTSU, mask=None):
    """The level a global selector picks for a grey image, optionally counting
    only where mask is non-zero (kxxLevel; the manifest's function with the
    selector before the mask)."""
    t = _built["level"](image, mask, selector)
    if t < 0:
        raise ValueError("kxpre.extra.level: the library refused the mask")
    return t


def histogram_level(histogram, selector=OTSU):
    """The level a global selector picks for 256 counts (kxxHistogramLevel)."""
    h = np.ascontiguousarray(histogram, dtype=np.int32)
    if h.shape != (256,):
        raise ValueError("kxpre.extra: a histogram holds 256 counts")
    t = _histogram_level(h.ctypes.data, selector)
    if t < 0:
        raise ValueError("kxpre.extra: histogram_level refused its arguments")
    return t


# isodata_level(image, max_iterations=100, window=1) comes from the manifest:
# the level kxbIsoData binarizes at (pixels > level are 1).


def multi_levels(image, levels):
    """The levels - 1 thresholds kxbMultiLevel posterizes at (kxxMultiLevels)."""
    out = np.zeros(max(levels - 1, 1), np.intc)
    with _Record(image, _native.KIT_GRAY) as rec:
        n = _multi(rec.address, levels, out.ctypes.data)
    if n < 0:
        raise ValueError("kxpre.extra: multi_levels refused its arguments")
    return out[:n]


# ---- local thresholds ------------------------------------------------------


def local_levels(image, method, window, k, r=127.5):
    """float64 array of the local level T of every pixel (kxxLocalLevels);
    NIBLACK and SAUVOLA equal scikit-image's threshold_niblack and
    threshold_sauvola with the same window, k and r."""
    out = np.empty(image.shape[:2], np.float64)
    with _Record(image, _native.KIT_GRAY) as rec:
        ok = _local_levels(rec.address, method, window, k, r, out.ctypes.data)
    if not ok:
        raise ValueError("kxpre.extra: local_levels refused its arguments")
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

SOBEL, SCHARR = 0, 1
L1, L2 = 1, 2

_gradient = _bind("kxxGradient", _i, [_p, _i, _i, _p, _p, _p, _p, _p])


def gradient(image, op=SOBEL, norm=L2, dtype=np.uint16, derivatives=False, direction=False):
    """The gradient magnitude of a grey image as uint16 or float32 (no
    clipping), and on request the int16 derivatives (gx, gy) and the float32
    direction atan2(gy, gx) in radians (kxxGradient).  Returns the magnitude
    alone or a tuple (magnitude[, gx, gy][, direction])."""
    shape = image.shape[:2]
    dtype = np.dtype(dtype)
    if dtype not in (np.dtype(np.uint16), np.dtype(np.float32)):
        raise ValueError("kxpre.extra: the magnitude is uint16 or float32")
    mag = np.empty(shape, dtype)
    gx = np.empty(shape, np.int16) if derivatives else None
    gy = np.empty(shape, np.int16) if derivatives else None
    d = np.empty(shape, np.float32) if direction else None
    ptr = lambda a: None if a is None else a.ctypes.data  # noqa: E731
    with _Record(image, _native.KIT_GRAY) as rec:
        ok = _gradient(
            rec.address, op, norm, ptr(gx), ptr(gy),
            ptr(mag) if dtype == np.uint16 else None, ptr(mag) if dtype == np.float32 else None, ptr(d)
        )
    if not ok:
        raise ValueError("kxpre.extra: gradient refused its arguments")
    out = (mag,) + ((gx, gy) if derivatives else ()) + ((d,) if direction else ())
    return out[0] if len(out) == 1 else out


# ---- CLAHE -----------------------------------------------------------------

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

# ---- fingerprints (python/kxpre/fingerprint.py) ----------------------------
from .fingerprint import *  # noqa: E402,F401,F403
