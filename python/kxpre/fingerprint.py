"""Fingerprints (kxextra_print.h) for numpy arrays, exposed as kxpre.extra
functions: print_params, print_orientation, print_mask, print_frequency,
print_gabor, print_minutiae, mark_minutiae and print_analyse.
(print_enhance and print_ridges, image in and image out, come from the
manifest.)

Prints are uint8 (H, W) arrays, dark ridges on light paper.  Block fields
are (rows, cols) arrays, rows = ceil(H / block), cols = ceil(W / block);
angles are radians from +x towards +y (rows down).  Minutiae come back as
records of the MINUTIA dtype (x, y, kind, direction, quality).

    import kxpre.extra as kx
    r = kx.print_analyse(grey, dpi=500)
    r.minutiae["x"], r.orientation, r.enhanced
"""

import ctypes
from collections import namedtuple

import numpy as np

from . import _native
from .extra import _Record, lib

__all__ = [
    "MINUTIA", "MINUTIA_ENDING", "MINUTIA_BIFURCATION", "PARAMS", "PrintResult", "print_params",
    "print_orientation", "print_mask", "print_frequency", "print_gabor", "print_minutiae",
    "mark_minutiae", "print_analyse",
]

MINUTIA_ENDING, MINUTIA_BIFURCATION = 1, 2

# KxxMinutia (20 bytes) and KxxPrintParams (128 bytes) as numpy records.
MINUTIA = np.dtype([("x", np.int32), ("y", np.int32), ("kind", np.int32), ("direction", np.float32),
                    ("quality", np.float32)])
PARAMS = np.dtype([
    ("block", np.int32), ("smooth", np.int32), ("minStd", np.float64), ("minCoherence", np.float64),
    ("maxMean", np.float64), ("minPeriod", np.float64), ("maxPeriod", np.float64), ("minPeak", np.float64),
    ("angles", np.int32), ("minArea", np.int32), ("sigma", np.float64), ("sigmaAlong", np.float64),
    ("border", np.float64),
    ("minRidge", np.float64), ("bridge", np.float64), ("gap", np.float64), ("gapAngle", np.float64),
    ("trace", np.int32), ("reserved", np.int32),
])
assert MINUTIA.itemsize == 20 and PARAMS.itemsize == 128


class _Fields(ctypes.Structure):
    _fields_ = [("cols", ctypes.c_int32), ("rows", ctypes.c_int32), ("orientation", ctypes.c_void_p),
                ("coherence", ctypes.c_void_p), ("frequency", ctypes.c_void_p), ("mask", ctypes.c_void_p)]


_p, _i, _u = ctypes.c_void_p, ctypes.c_int, ctypes.c_uint32


def _fn(name, restype, argtypes):
    fn = getattr(lib, name)
    fn.restype, fn.argtypes = restype, argtypes
    return fn


_defaults = _fn("kxxPrintDefaults", _i, [_p, _i])
_orientation = _fn("kxxPrintOrientation", _i, [_p, _i, _i, _p, _p])
_mask = _fn("kxxPrintMask", _i, [_p, _i, _p, _p, _p])
_frequency = _fn("kxxPrintFrequency", _i, [_p, _i, _p, _p, _p, _p, _p])
_gabor = _fn("kxxPrintGabor", _i, [_p, _i, _p, _p, _p, _p, _p, _p])
_minutiae = _fn("kxxPrintMinutiae", _i, [_p, _i, _p, _p, _p, _p, _p, _i, _p])
_mark = _fn("kxxMarkMinutiae", _p, [_p, _p, _i, _u])
_analyse = _fn("kxxPrintAnalyse", _i, [_p, _i, _p, _p, _p, _p, _p, _p, _i])

PrintResult = namedtuple("PrintResult", "minutiae enhanced ridges skeleton orientation coherence frequency mask")


@_native.named("kxpre.extra.print_params")
def print_params(dpi=500, **changes):
    """The parameters for a resolution (kxxPrintDefaults) as a PARAMS record,
    with any field changed by keyword (print_params(500, block=12))."""
    p = np.zeros(1, PARAMS)
    if not _defaults(p.ctypes.data, int(dpi)):
        raise ValueError("kxpre.extra: dpi must lie in 100..2000, got %r" % (dpi,))
    for k, v in changes.items():
        if k not in PARAMS.names:
            raise TypeError("kxpre.extra: no print parameter %r" % (k,))
        p[k] = v
    return p


def _params(params):
    if params is None:
        return print_params()
    p = np.ascontiguousarray(params, PARAMS).reshape(1)
    return p


def _grid(shape, block):
    return ((shape[0] + block - 1) // block, (shape[1] + block - 1) // block)


def _ptr(a):
    return None if a is None else a.ctypes.data


def _field(a, shape, dtype, what):
    if a is None:
        return None
    a = np.ascontiguousarray(a, dtype)
    if a.shape != shape:
        raise ValueError("kxpre.extra: %s must have the block grid's shape %r, got %r" % (what, shape, a.shape))
    return a


@_native.named("kxpre.extra.print_orientation")
def print_orientation(image, block=16, smooth=2):
    """(orientation, coherence): float32 block fields, ridge angles in [0, pi)
    and coherence 0..1 (kxxPrintOrientation)."""
    shape = _grid(image.shape[:2], block)
    o, c = np.zeros(shape, np.float32), np.zeros(shape, np.float32)
    with _Record("print_orientation", image, "gray") as rec:
        ok = _orientation(rec.address, block, smooth, o.ctypes.data, c.ctypes.data)
    if not ok:
        raise ValueError("kxpre.extra: print_orientation refused its arguments")
    return o, c


@_native.named("kxpre.extra.print_mask")
def print_mask(image, coherence=None, params=None):
    """uint8 block mask, 1 on the print (kxxPrintMask)."""
    p = _params(params)
    shape = _grid(image.shape[:2], int(p["block"][0]))
    coherence = _field(coherence, shape, np.float32, "coherence")
    m = np.zeros(shape, np.uint8)
    with _Record("print_mask", image, "gray") as rec:
        n = _mask(rec.address, int(p["block"][0]), _ptr(coherence), p.ctypes.data, m.ctypes.data)
    if n < 0:
        raise ValueError("kxpre.extra: print_mask refused its arguments")
    return m


@_native.named("kxpre.extra.print_frequency")
def print_frequency(image, orientation, mask=None, params=None):
    """(frequency, measured): float32 ridges per pixel for every block, and
    the uint8 map of the blocks measured (1) rather than filled in (0)
    (kxxPrintFrequency)."""
    p = _params(params)
    shape = _grid(image.shape[:2], int(p["block"][0]))
    orientation = _field(orientation, shape, np.float32, "orientation")
    mask = _field(mask, shape, np.uint8, "mask")
    f = np.zeros(shape, np.float32)
    measured = np.zeros(shape, np.uint8)
    with _Record("print_frequency", image, "gray") as rec:
        n = _frequency(rec.address, int(p["block"][0]), orientation.ctypes.data, _ptr(mask), p.ctypes.data,
                       f.ctypes.data, measured.ctypes.data)
    if n < 0:
        raise ValueError("kxpre.extra: print_frequency refused its arguments")
    return f, measured


@_native.named("kxpre.extra.print_gabor")
def print_gabor(image, orientation, frequency, mask=None, params=None):
    """(enhanced, ridges): the Gabor-filtered print (uint8, ridges dark) and
    the binary ridge map (uint8 0/1, ridges 1) (kxxPrintGabor)."""
    p = _params(params)
    shape = _grid(image.shape[:2], int(p["block"][0]))
    orientation = _field(orientation, shape, np.float32, "orientation")
    frequency = _field(frequency, shape, np.float32, "frequency")
    mask = _field(mask, shape, np.uint8, "mask")
    enhanced = np.zeros(image.shape[:2], np.uint8)
    ridges = np.zeros(image.shape[:2], np.uint8)
    with _Record("print_gabor", image, "gray") as rec, _Record("print_gabor", enhanced, "gray") as e, \
            _Record("print_gabor", ridges, "gray") as r:
        ok = _gabor(rec.address, int(p["block"][0]), orientation.ctypes.data, frequency.ctypes.data, _ptr(mask),
                    p.ctypes.data, e.address, r.address)
    if not ok:
        raise ValueError("kxpre.extra: print_gabor refused its arguments")
    return enhanced, ridges


@_native.named("kxpre.extra.print_minutiae")
def print_minutiae(ridges, orientation=None, coherence=None, mask=None, params=None, skeleton=False):
    """MINUTIA records of a binary ridge map (kxxPrintMinutiae); with
    skeleton=True, (minutiae, skeleton)."""
    p = _params(params)
    shape = _grid(ridges.shape[:2], int(p["block"][0]))
    orientation = _field(orientation, shape, np.float32, "orientation")
    coherence = _field(coherence, shape, np.float32, "coherence")
    mask = _field(mask, shape, np.uint8, "mask")
    sk = np.zeros(ridges.shape[:2], np.uint8) if skeleton else None
    with _Record("print_minutiae", ridges, "bin", "ridges") as rec:
        s = _Record("print_minutiae", sk, "bin", "skeleton") if skeleton else None
        try:
            args = (rec.address, int(p["block"][0]), _ptr(orientation), _ptr(coherence), _ptr(mask), p.ctypes.data)
            n = _minutiae(*args, None, 0, s.address if s else None)
            if n < 0:
                raise ValueError("kxpre.extra: print_minutiae refused its arguments")
            out = np.zeros(n, MINUTIA)
            if n:
                _minutiae(*args, out.ctypes.data, n, None)
        finally:
            if s:
                s.__exit__()
    return (out, sk) if skeleton else out


@_native.named("kxpre.extra.mark_minutiae")
def mark_minutiae(image, minutiae, colour=0xFF0000):
    """A copy of a grey, binary (bool) or colour (H, W, 3|4) image with the
    minutiae marked: squares for endings, circles for bifurcations, each
    with a stroke along its direction (kxxMarkMinutiae)."""
    out = np.array(image, copy=True, order="C")
    m = np.ascontiguousarray(minutiae, MINUTIA)
    kit = {2: _native.KIT_GRAY, 3: None}.get(out.ndim)
    if out.ndim == 2:
        kit = _native.KIT_BIN if out.dtype == np.bool_ else _native.KIT_GRAY
        if out.dtype == np.bool_:
            out = out.view(np.uint8)
    else:
        kit = _native.KIT_RGB if out.shape[2] == 3 else _native.KIT_RGBA
    address = _native.wrap(out, kit)
    try:
        _mark(address, m.ctypes.data, len(m), colour)
    finally:
        _native.destroy_image(address)
    return out.view(np.bool_) if np.asarray(image).dtype == np.bool_ else out


@_native.named("kxpre.extra.print_analyse")
def print_analyse(image, dpi=500, params=None):
    """Everything from one grey print (kxxPrintAnalyse): a PrintResult of
    the minutiae (MINUTIA records), enhanced, ridges, skeleton (uint8
    images) and the orientation, coherence, frequency and mask block
    fields.  params: None for the defaults at dpi, else print_params(...)."""
    p = print_params(dpi) if params is None else _params(params)
    block = int(p["block"][0])
    shape = _grid(image.shape[:2], block)
    o, c, f = (np.zeros(shape, np.float32) for _ in range(3))
    m = np.zeros(shape, np.uint8)
    fields = _Fields(0, 0, o.ctypes.data, c.ctypes.data, f.ctypes.data, m.ctypes.data)
    hw = image.shape[:2]
    enhanced, ridges, skeleton = (np.zeros(hw, np.uint8) for _ in range(3))
    with _Record("print_analyse", image, "gray") as rec, _Record("print_analyse", enhanced, "gray") as e, \
            _Record("print_analyse", ridges, "gray") as r, _Record("print_analyse", skeleton, "gray") as s:
        cap = 4096
        out = np.zeros(cap, MINUTIA)
        n = _analyse(rec.address, dpi, p.ctypes.data, e.address, r.address, s.address, ctypes.byref(fields),
                     out.ctypes.data, cap)
        if n > cap:
            out = np.zeros(n, MINUTIA)
            n = _analyse(rec.address, dpi, p.ctypes.data, None, None, None, None, out.ctypes.data, n)
    if n < 0:
        raise ValueError("kxpre.extra: print_analyse refused its arguments")
    return PrintResult(out[:n], enhanced, ridges, skeleton, o, c, f, m)
