"""kxpre: the image preprocessing library for numpy arrays.

Images are numpy arrays: (H, W) grey or binary, (H, W, 3) with bytes B, G, R,
(H, W, 4) with bytes B, G, R, A, uint8, or bool for binary images.  Binary
images hold 0 and 1; a bool array, or a uint8 array holding only 0 and 255,
is converted to 0/1 wherever a binary image is meant.  A 2-D uint8 array is
taken as grey, except by the operations on binary images (thinning,
fill_hole, erode, ...), which take it as binary; pass binary=True or
binary=False to choose.

A result is a bool array exactly when it holds 0 and 1: binary results
(kxpre.invert(kxpre.otsu(page)) inverts the binary page), and the results
of filters that keep 0/1 pixels 0/1 (median, smooth_avg of a bool array).
A 0/255 input gives a 0/255 result; operators that fill a binary image
with magnitudes (sobel, laplacian, ...) return uint8.

Every library export is a function of this module named after it without the
"kx"/"kxb" prefix, in snake case (kxNormalize -> normalize,
kxbLocalIntegral -> local_integral, kxSetPixelE1 -> set_pixel_e1), with the
arguments in the C order; trailing ones have defaults where one value is
usual (rotate_ex(a, 10)).  help(kxpre.median) explains each argument.
Named constants replace bare codes: kxpre.Filter.BILINEAR, kxpre.Flip.UP_DOWN,
kxpre.Threshold.OTSU, kxpre.Channel.RED | kxpre.Channel.BLUE, ...

Operations return a new array and leave their input alone, unless called
with inplace=True: then the library works directly on the array's memory
(no copy; the array may be a view with padded rows, e.g. a slice of a wider
array) and the same array is returned.  Operations that change the size or
type of an image (clip, rotate, scale, ...) cannot work in place and refuse
inplace=True.

No call silently does nothing: an image kind the operation does not take
raises TypeError, an argument outside its documented range ValueError
(ArgumentOverflowError, also an OverflowError, when its C type cannot hold
it), each naming the argument and what is accepted.

    import numpy as np, kxpre
    page = np.full((480, 640), 200, np.uint8)
    kxpre.fill_rect(page, 100, 100, 300, 200, 30, inplace=True)
    ink = kxpre.invert(kxpre.local_integral(kxpre.normalize(page, 128, 1200), 31), binary=True)
    lines = kxpre.thinning(kxpre.fill_hole(ink))

The functions are built from the export manifest (kxpre-exports.toml, shipped
in this package), the same description kxpipe's table is generated from.
Functions whose export this build of the library lacks raise
NotImplementedError; available() lists the others.
"""

import ctypes
import inspect

import numpy as np

from . import _native
from ._native import KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA, EllipseBox, FloodRecord, FloodValue, lib  # noqa: F401
from ._ops import ENUMS, MANIFEST, ArgumentOverflowError, build, c_type
from .io import page_count, read, read_pages, write  # image files (libkxio)

# The package's version, the library's (CMakeLists.txt) and pyproject.toml's.
__version__ = "0.1.0"

__all__ = ["__version__", "KIT_BIN", "KIT_GRAY", "KIT_RGB", "KIT_RGBA", "ArgumentOverflowError", "available", "lib",
           "signatures", "to_gray", "to_bgr", "bgr_to_rgb", "rgb_to_bgr", "edges"]


globals().update(ENUMS)
__all__ += list(ENUMS)

_functions = {}
for _e in MANIFEST.exports:
    _f, _c = build(_e)
    globals()[_e.python] = _f
    _functions[_e.python] = (_e.name, _c)
    __all__.append(_e.python)


def available():
    """Names of the functions whose export this library build has."""
    return sorted(name for name, (_, c) in _functions.items() if c is not None)


def signatures():
    """{C name: (result type, [argument types])} as bound with ctypes."""
    return {e.name: (c_type(e.returns), [c_type(t) for t in e.c_types]) for e in MANIFEST.exports}


# ---- conversions built on the library ------------------------------------------

_cast = _native._bind("kxiCast", ctypes.c_void_p, [ctypes.c_void_p, ctypes.c_int])


def _converted(image, kit, binary):
    arr = np.ascontiguousarray(image.view(np.uint8) if image.dtype == np.bool_ else image)
    _native.check_array(arr)
    address = _native.owned_copy(arr, _native.image_type(arr, binary or image.dtype == np.bool_))
    try:
        if not _cast(address, kit):
            raise ValueError("kxpre: cannot convert the image")
        return _native.view(address).copy()
    finally:
        _native.destroy_image(address)


@_native.named("kxpre.to_gray")
def to_gray(image, binary=False):
    """A grey (H, W) copy of an image.

    Args:
        image: a colour array (H, W, 3) B,G,R or (H, W, 4) B,G,R,A, whose
            luminance the library computes as kxpipe's "gray" step does; a
            grey array is copied; a binary one (bool, or binary=True) becomes
            0/255.
        binary: take a 2-D uint8 array as binary 0/1.
    """
    return _converted(image, KIT_GRAY, binary)


@_native.named("kxpre.to_bgr")
def to_bgr(image, binary=False):
    """A B,G,R colour (H, W, 3) copy of a grey, binary or B,G,R,A image
    (alpha dropped; binary pixels become 0 or 255 in every channel)."""
    return _converted(image, KIT_RGB, binary)


def bgr_to_rgb(image):
    """The array with its first and third channels (blue and red) swapped,
    for libraries that keep R,G,B order; alpha stays last.  The same call
    turns R,G,B back into B,G,R (rgb_to_bgr)."""
    if not isinstance(image, np.ndarray) or image.ndim != 3 or image.shape[2] not in (3, 4):
        raise TypeError("kxpre.bgr_to_rgb: image must be a colour array (H, W, 3) or (H, W, 4)")
    first = np.ascontiguousarray(image[..., 0])
    out = replace_channel(image, np.ascontiguousarray(image[..., 2]), Channel.BLUE)  # noqa: F821
    return replace_channel(out, first, Channel.RED)  # noqa: F821


rgb_to_bgr = bgr_to_rgb


def edges(image, operator=Edge.SOBEL, mode=0, **options):  # noqa: F821
    """The response of an edge operator, chosen by name: kxpre.edges(a,
    kxpre.Edge.ROBERTS) is kxpre.roberts(a) (kxpre.Edge, from the manifest,
    names one function per member).

    Args:
        image: the image (grey; Sobel, Prewitt, Kirsch, Laplacian, Sharp1541
            and the second difference also take binary images).
        operator: a kxpre.Edge member.
        mode: kxpre.Direction.X, Y or BOTH for the operators that have a
            mode (ignored by LAPLACIAN, SHARP1541 and ROBERTS).
        options: passed on (inplace, binary, gap for GRADIENT).
    """
    fn = globals()[Edge(operator).name.lower()]  # noqa: F821 (Edge comes from the manifest)
    if "mode" not in inspect.signature(fn).parameters:
        return fn(image, **options)
    return fn(image, mode, **options)


from .tiled import tiled  # noqa: E402  (needs the functions above)

__all__.append("tiled")
