"""Loading libkxpre and moving pixels between numpy arrays and Image records.

The library is found, in this order, at the path in the environment variable
KXPRE_LIBRARY, inside this package (kxpre/_lib, where `pip install` puts the
libraries it builds), in the build folders of a source checkout next to this
package (build/release, build/rel, build/debug, build/debug-asan, build/dbg,
build), and by the system's library search (libkxpre.so.0).  The image-file
library libkxio is looked for next to libkxpre first (KXPRE_KXIO_LIBRARY
overrides).
"""

import ctypes
import ctypes.util
import functools
import os

import numpy as np

KIT_BIN = 1
KIT_GRAY = 8
KIT_RGB = 24
KIT_RGBA = 32

BYTES_PER_PIXEL = {KIT_BIN: 1, KIT_GRAY: 1, KIT_RGB: 3, KIT_RGBA: 4}


class Image(ctypes.Structure):
    """The image library's record (see kximage.h)."""

    _fields_ = [
        ("magic", ctypes.c_int32),
        ("type", ctypes.c_int32),
        ("size", ctypes.c_uint32),
        ("capacity", ctypes.c_int32),
        ("flags", ctypes.c_int32),
        ("padding_", ctypes.c_int32),
        ("data", ctypes.c_void_p),
        ("height", ctypes.c_int32),
        ("width", ctypes.c_int32),
        ("pitch", ctypes.c_int32),
        ("isVirtual", ctypes.c_int32),
        ("imageType", ctypes.c_int32),
    ]


class EllipseBox(ctypes.Structure):
    """A rotated ellipse: centre, full width and height, angle in degrees."""

    _fields_ = [(name, ctypes.c_double) for name in ("centerX", "centerY", "width", "height", "angle")]


class FloodValue(ctypes.Structure):
    """A flood fill colour: bytes B, G, R."""

    _fields_ = [("b", ctypes.c_uint8), ("g", ctypes.c_uint8), ("r", ctypes.c_uint8)]


class FloodRecord(ctypes.Structure):
    """Per-channel flood fill tolerances B, G, R, A."""

    _fields_ = [("val", ctypes.c_double * 4)]


# Where an installed package keeps the libraries it ships (pip install).
PACKAGED = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_lib")
# Build folders of a source checkout, relative to its root.
BUILD_FOLDERS = ("build/release", "build/rel", "build/debug", "build/debug-asan", "build/dbg", "build")
# Where each library lies inside a build folder.
IN_BUILD = {"kxpre": "", "kxio": "platform/io"}


def _candidates(name="kxpre", near=None):
    """Paths (or sonames) to try for lib<name>.so, most specific first.

    near: the path libkxpre was loaded from; a sibling library is looked for
    next to it first (the folder of a package or an installed tree, or its
    place in the same build folder)."""
    env = os.environ.get("KXPRE_LIBRARY")
    if name != "kxpre":
        env = os.environ.get("KXPRE_%s_LIBRARY" % name.upper())
    if env:
        yield env
        return
    if near and os.path.sep in near:
        folder = os.path.dirname(near)
        yield os.path.join(folder, "lib%s.so.0" % name)
        yield os.path.join(folder, "lib%s.so" % name)
        yield os.path.join(folder, IN_BUILD.get(name, ""), "lib%s.so" % name)
    yield os.path.join(PACKAGED, "lib%s.so.0" % name)
    root = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
    for folder in BUILD_FOLDERS:
        yield os.path.join(root, folder, IN_BUILD.get(name, ""), "lib%s.so" % name)
    found = ctypes.util.find_library(name)
    if found:
        yield found
    yield "lib%s.so.0" % name


def load_library(name="kxpre", near=None):
    """lib<name> as a ctypes library; ImportError naming what was tried."""
    errors = []
    for path in _candidates(name, near):
        if os.path.sep in path and not os.path.exists(path):
            continue
        try:
            return ctypes.CDLL(path)
        except OSError as e:
            errors.append(str(e))
    raise ImportError(
        "kxpre: cannot load lib%s.so; install the package (pip install ./python), build the library "
        "(./build.sh demo) or set KXPRE_LIBRARY to its path" % name
        + ("" if not errors else " (" + "; ".join(errors) + ")")
    )


def _load():
    return load_library("kxpre")


lib = _load()


def _bind(name, restype, argtypes):
    """The library function `name` with its types, or None when this build
    of the library lacks it."""
    try:
        fn = getattr(lib, name)
    except AttributeError:
        return None
    fn.restype = restype
    fn.argtypes = argtypes
    return fn


_create = _bind("kxCreateImage", ctypes.c_void_p, [ctypes.c_int, ctypes.c_int, ctypes.c_int])
_create_ex = _bind(
    "kxCreateImageEx",
    ctypes.c_void_p,
    [ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_int, ctypes.c_void_p, ctypes.c_int],
)
destroy_image = _bind("kxDestroyImage", None, [ctypes.c_void_p])
create_mask = _bind("kxCreateMask", ctypes.c_void_p, [ctypes.c_int, ctypes.c_int, ctypes.c_int])
derive_mask = _bind("kmkDeriveMask", ctypes.c_void_p, [ctypes.c_void_p])
destroy_mask = _bind("kxDestroyMask", None, [ctypes.c_void_p])


def record(address):
    """The Image record at an address."""
    return Image.from_address(address)


def image_type(array, binary):
    """The KIT_ type an array maps onto."""
    if array.ndim == 2:
        return KIT_BIN if binary else KIT_GRAY
    if array.ndim == 3 and array.shape[2] == 3:
        return KIT_RGB
    if array.ndim == 3 and array.shape[2] == 4:
        return KIT_RGBA
    raise ValueError(
        "kxpre: an image is a uint8 array of shape (H, W), (H, W, 3) for B,G,R or (H, W, 4) "
        "for B,G,R,A; got shape %s" % (array.shape,)
    )


def renamed(error, name):
    """The error again, naming the function: the helpers here raise with the
    bare prefix "kxpre: " (or "kxpre.extra: "), which does not say which
    call refused."""
    text = str(error)
    for bare in ("kxpre: ", "kxpre.extra: "):
        if text.startswith(bare):
            return type(error)("%s: %s" % (name, text[len(bare):]))
    return error


def named(name=None):
    """Decorator of a hand-written function: its refusals name it (name:
    the name users call, else module.function)."""
    def decorate(f):
        who = name or "%s.%s" % (f.__module__, f.__name__)

        @functools.wraps(f)
        def call(*args, **kwargs):
            try:
                return f(*args, **kwargs)
            except (TypeError, ValueError, MemoryError) as error:
                again = renamed(error, who)
                if again is error:
                    raise
                raise again from None
        return call
    return decorate


def check_array(array, what="image"):
    if not isinstance(array, np.ndarray):
        raise TypeError("kxpre: %s must be a numpy array, got %s" % (what, type(array).__name__))
    if array.dtype != np.uint8:
        raise TypeError("kxpre: %s must have dtype uint8, got %s" % (what, array.dtype))
    if array.ndim not in (2, 3) or array.shape[0] < 1 or array.shape[1] < 1:
        raise ValueError("kxpre: %s must be a non-empty (H, W) or (H, W, C) array" % what)


def wrappable(array):
    """The row pitch when the library can work on the array's memory in
    place (whole pixels packed within each row, rows at a positive distance
    of at least a row), else None."""
    h, w = array.shape[:2]
    channels = 1 if array.ndim == 2 else array.shape[2]
    row = w * channels
    if not array.flags.writeable:
        return None
    if array.strides[-1] != 1 and not (array.ndim == 2 and w == 1):
        return None
    if array.ndim == 3 and array.strides[1] != channels and w > 1:
        return None
    pitch = array.strides[0] if h > 1 else row
    if pitch < row or pitch >= 2**31:
        return None
    return pitch


# The largest image the library makes: pitch * height bytes must fit an int
# (the image record's rule, kximage.h); named here for the messages.
MAX_IMAGE_BYTES = 2**31 - 1


def refused(width, height, kit, pitch=None):
    """Raises why the library made no image of this size: ValueError when
    it is larger than an image can be (pitch * height must fit an int, see
    kximage.h), else MemoryError."""
    pitch = pitch or width * BYTES_PER_PIXEL.get(kit, 1)
    if pitch * height > MAX_IMAGE_BYTES:
        raise ValueError("kxpre: a %d x %d image (%d bytes per row) exceeds the largest image of the library, "
                         "2147483647 bytes (rows x bytes per row)" % (width, height, pitch))
    raise MemoryError("kxpre: cannot make a %d x %d image" % (width, height))


def wrap(array, kit):
    """A virtual image over the array's own memory (no copy)."""
    pitch = wrappable(array)
    if pitch is None:
        raise ValueError("kxpre: the array's memory cannot be wrapped (rows must hold packed pixels)")
    h, w = array.shape[:2]
    address = _create_ex(kit, w, h, pitch, ctypes.c_void_p(array.ctypes.data), 0)
    if not address:
        refused(w, h, kit, pitch)
    return address


def owned_copy(array, kit):
    """A new image of the library holding a copy of the array."""
    h, w = array.shape[:2]
    address = _create(kit, w, h)
    if not address:
        refused(w, h, kit)
    view(address)[...] = array.reshape(view(address).shape)
    return address


def new_image(kit, width, height):
    address = _create(kit, width, height)
    if not address:
        refused(width, height, kit)
    return address


def view(address):
    """A numpy view of an image's pixels (no copy; valid while it lives)."""
    rec = record(address)
    bpp = BYTES_PER_PIXEL.get(rec.imageType)
    if bpp is None or not rec.data or rec.width < 1 or rec.height < 1:
        raise ValueError("kxpre: the library returned an unusable image")
    buf = (ctypes.c_uint8 * (rec.pitch * rec.height)).from_address(rec.data)
    rows = np.frombuffer(buf, dtype=np.uint8).reshape(rec.height, rec.pitch)[:, : rec.width * bpp]
    if bpp == 1:
        return rows
    return rows.reshape(rec.height, rec.width, bpp)
