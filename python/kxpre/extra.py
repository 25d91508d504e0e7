"""kxpre.extra: the companion library libkxextra (kxextra.h) for numpy arrays.

Connected components, stroke points of skeletons, the global selectors'
levels as numbers and local thresholds by name.  Images are uint8 arrays of
shape (H, W): binary images hold 0/1, grey images 0..255.  Functions that
change an image return a new array unless called with inplace=True.

The library is found, in this order, at the path in KXEXTRA_LIBRARY, beside
the libkxpre the kxpre package loaded (KXPRE_LIBRARY or a build folder), and
by the system's library search (libkxextra.so.0).

    import numpy as np, kxpre.extra as kx
    labels, stats = kx.components(binary_page, connectivity=8)
    clean = kx.despeckle(binary_page, 8, min_area=12)
    t = kx.level(grey_page, kx.OTSU)
"""

import ctypes
import os

import numpy as np

from . import _native

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


def _candidates():
    env = os.environ.get("KXEXTRA_LIBRARY")
    if env:
        yield env
        return
    loaded = getattr(_native.lib, "_name", None)
    if loaded and os.path.sep in loaded:
        yield os.path.join(os.path.dirname(os.path.abspath(loaded)), "libkxextra.so")
    yield "libkxextra.so.0"


def _load():
    errors = []
    for path in _candidates():
        if os.path.sep in path and not os.path.exists(path):
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            errors.append(str(e))
    raise ImportError(
        "kxpre.extra: cannot load libkxextra.so; build it beside libkxpre or set KXEXTRA_LIBRARY"
        + ("" if not errors else " (" + "; ".join(errors) + ")")
    )


lib = _load()

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
_despeckle = _bind("kxxDespeckle", _p, [_p, _i, _i])
_keep_largest = _bind("kxxKeepLargest", _p, [_p, _i, _i])
_stroke_points = _bind("kxxStrokePoints", _i, [_p, _i, _p, _i])
_mark = _bind("kxxMarkStrokePoints", _p, [_p])
_level = _bind("kxxLevel", _i, [_p, _p, _i])
_histogram_level = _bind("kxxHistogramLevel", _i, [_p, _i])
_isodata = _bind("kxxIsoDataLevel", _i, [_p, _i, _i])
_multi = _bind("kxxMultiLevels", _i, [_p, _i, _p])
_local_levels = _bind("kxxLocalLevels", _i, [_p, _i, _i, _d, _d, _p])
_local_threshold = _bind("kxxLocalThreshold", _p, [_p, _i, _i, _d, _d])


def _grey_or_binary(array, what="image"):
    _native.check_array(array, what)
    if array.ndim != 2:
        raise ValueError("kxpre.extra: %s must be a 2-D (H, W) array" % what)


class _Record:
    """An Image record over an array for the duration of a call: the array's
    own memory when it can be wrapped, else a copy."""

    def __init__(self, array, kit, what="image"):
        _grey_or_binary(array, what)
        self.array = array
        self.copied = _native.wrappable(array) is None
        self.address = _native.owned_copy(array, kit) if self.copied else _native.wrap(array, kit)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        _native.destroy_image(self.address)


def _in_place(image, inplace, kit, call, result_kit):
    """Runs call(address) on the array itself (inplace) or on a copy and
    returns the array holding the result, retyped by result_kit."""
    target = image if inplace else np.array(image, dtype=np.uint8, copy=True, order="C")
    _grey_or_binary(target)
    if inplace and _native.wrappable(target) is None:
        raise ValueError("kxpre.extra: inplace=True needs an array whose rows hold packed pixels")
    address = _native.wrap(target, kit)
    try:
        call(address)
        if _native.record(address).imageType != result_kit:
            raise ValueError("kxpre.extra: the library refused the arguments")
    finally:
        _native.destroy_image(address)
    return target


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


def despeckle(image, connectivity, min_area, inplace=False):
    """Clears the components of fewer than min_area pixels (kxxDespeckle)."""
    _connectivity(connectivity)
    return _in_place(image, inplace, _native.KIT_BIN, lambda a: _despeckle(a, connectivity, min_area), _native.KIT_BIN)


def keep_largest(image, connectivity, n, inplace=False):
    """Keeps the n largest components, ties to the earlier one in raster
    order (kxxKeepLargest)."""
    _connectivity(connectivity)
    return _in_place(image, inplace, _native.KIT_BIN, lambda a: _keep_largest(a, connectivity, n), _native.KIT_BIN)


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


def mark_stroke_points(skeleton, inplace=False):
    """The skeleton with every set pixel replaced by its MARK_ value
    (kxxMarkStrokePoints)."""
    return _in_place(skeleton, inplace, _native.KIT_BIN, _mark, _native.KIT_GRAY)


# ---- selector levels -------------------------------------------------------


def level(image, selector=OTSU, mask=None):
    """The level a global selector picks for a grey image, optionally counting
    only where mask is non-zero (kxxLevel)."""
    with _Record(image, _native.KIT_GRAY) as rec:
        if mask is None:
            t = _level(rec.address, None, selector)
        else:
            with _Record(mask, _native.KIT_GRAY, "mask") as m:
                t = _level(rec.address, m.address, selector)
    if t < 0:
        raise ValueError("kxpre.extra: level refused its arguments")
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


def isodata_level(image, max_iterations=100, window=1):
    """The level kxbIsoData binarizes at (pixels > level are 1)."""
    with _Record(image, _native.KIT_GRAY) as rec:
        return _isodata(rec.address, max_iterations, window)


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


def local_threshold(image, method, window, k, r=127.5, inplace=False):
    """Binary array: 1 where the pixel is above its local level
    (kxxLocalThreshold)."""
    return _in_place(
        image, inplace, _native.KIT_GRAY, lambda a: _local_threshold(a, method, window, k, r), _native.KIT_BIN
    )


# ---- page skew -------------------------------------------------------------

_find_skew = _bind("kxxFindSkew", _i, [_p, ctypes.POINTER(_d), ctypes.POINTER(_d)])
_deskew = _bind("kxxDeskew", _p, [_p, _d, _i, ctypes.POINTER(_d)])


def find_skew(binary):
    """(angle, confidence) of a binary page whose set pixels are the ink
    (kxxFindSkew); kxpre.rotate_ex(page, angle, ...) levels it."""
    angle, confidence = _d(), _d()
    with _Record(binary, _native.KIT_BIN) as rec:
        if not _find_skew(rec.address, ctypes.byref(angle), ctypes.byref(confidence)):
            raise ValueError("kxpre.extra: find_skew refused the image")
    return angle.value, confidence.value


def deskew(binary, min_confidence=0.5, nearest=True, inplace=False):
    """The binary page turned level when the skew found is trusted
    (kxxDeskew); returns (page, angle)."""
    angle = _d(0.0)
    out = _in_place(
        binary, inplace, _native.KIT_BIN, lambda a: _deskew(a, min_confidence, int(nearest), ctypes.byref(angle)),
        _native.KIT_BIN
    )
    return out, angle.value


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

_clahe = _bind("kxxClahe", _p, [_p, _i, _i, _d])


def clahe(image, tiles=(8, 8), clip_limit=40.0, inplace=False):
    """Contrast-limited adaptive histogram equalization of a grey image
    (kxxClahe): tiles = (across, down), clip_limit relative (OpenCV's
    meaning; 0 no clipping).  Within 1 of cv2.createCLAHE(clip_limit, tiles)."""
    tx, ty = tiles
    if not (1 <= tx <= 256 and 1 <= ty <= 256):
        raise ValueError("kxpre.extra: tiles are 1..256 each way")
    return _in_place(image, inplace, _native.KIT_GRAY, lambda a: _clahe(a, tx, ty, clip_limit), _native.KIT_GRAY)
