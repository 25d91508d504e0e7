"""kxpre: the image preprocessing library for numpy arrays.

Images are uint8 arrays: (H, W) grey or binary, (H, W, 3) with bytes B, G, R,
(H, W, 4) with bytes B, G, R, A.  Binary images hold 0 and 1.  A 2-D array is
taken as grey, except by the binary-image operations (thinning, fill_hole,
erode, ...), which take it as binary; pass binary=True or binary=False to
choose.

Every library export is a function of this module named after it without the
"kx"/"kxb" prefix, in snake case (kxNormalize -> normalize,
kxbLocalIntegral -> local_integral, kxSetPixelE1 -> set_pixel_e1).  The
arguments follow the C order.  Operations return a new array and leave their
input alone, unless called with inplace=True: then the library works
directly on the array's memory (no copy; the array may be a view with
padded rows, e.g. a slice of a wider array) and the same array is returned.
Operations that change the size or type of an image (clip, rotate, scale, ...)
cannot work in place and refuse inplace=True.

    import numpy as np, kxpre
    page = np.full((480, 640), 200, np.uint8)
    kxpre.fill_rect(page, 100, 100, 300, 200, 30, inplace=True)
    ink = kxpre.invert(kxpre.local_integral(kxpre.normalize(page, 128, 1200), 31, 128, 0.34), binary=True)
    lines = kxpre.thinning(kxpre.fill_hole(ink))

Functions whose export this build of the library lacks raise
NotImplementedError; available() lists the others.
"""

import ctypes
import inspect

import numpy as np

from . import _native
from ._native import KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA, EllipseBox, FloodRecord, FloodValue, lib
from ._ops import OPERATIONS
from .io import page_count, read, write  # image files (libkxio)

__all__ = ["KIT_BIN", "KIT_GRAY", "KIT_RGB", "KIT_RGBA", "available", "lib", "signatures"]

# Combination codes of pixel_merge.
KX_MERGE_ADD, KX_MERGE_SUBTRACT, KX_MERGE_XOR, KX_MERGE_AND, KX_MERGE_OR = 1204, 1205, 1206, 1207, 1208
KX_MERGE_SMALL, KX_MERGE_LARGE, KX_MERGE_COPY, KX_MERGE_DIFF = 1209, 1210, 1211, 1212

_C_TYPES = {
    "i": ctypes.c_int,
    "u": ctypes.c_uint32,
    "b": ctypes.c_uint8,
    "f": ctypes.c_float,
    "d": ctypes.c_double,
    "s": ctypes.c_char_p,
    "quad": ctypes.c_void_p,
    "img": ctypes.c_void_p,
    "any": ctypes.c_void_p,
    "mask": ctypes.c_void_p,
    "elem": ctypes.c_void_p,
    "dest": ctypes.c_void_p,
    "out": ctypes.c_void_p,
    "null": ctypes.c_void_p,
    "box": EllipseBox,
    "fv": FloodValue,
    "fr": FloodRecord,
}
_RESULT_TYPES = {
    "image": ctypes.c_void_p,
    "new": ctypes.c_void_p,
    "none": None,
    "u32": ctypes.c_uint32,
    "u8": ctypes.c_uint8,
    "int": ctypes.c_int,
    "status": ctypes.c_int,
    "destination": None,
    "flood": ctypes.c_int,
    "dist": ctypes.c_int,
    "ptr": ctypes.c_void_p,
}


def _parse(cparams):
    """[(name, kind)] of a parameter list; the image is kind '@'."""
    out = []
    for item in (p.strip() for p in cparams.split(",")):
        if item.startswith("@"):
            out.append((item[1:], "@"))
        elif item.startswith("="):
            out.append((None, item[1:]))
        else:
            name, kind = item.split(":")
            out.append((name, kind))
    return out


def _argtypes(params):
    types = []
    for name, kind in params:
        if kind == "@":
            types.append(ctypes.c_void_p)
        elif name is None:
            types.append(ctypes.c_void_p if kind == "null" else ctypes.c_int)
        elif kind == "pts":
            types += [ctypes.c_void_p, ctypes.c_int]
        elif kind == "out":
            types.append(ctypes.c_void_p)
        elif kind == "cap":
            types.append(ctypes.c_uint32)
        else:
            types.append(_C_TYPES[kind])
    return types


def _points(value, name):
    pts = np.ascontiguousarray(np.asarray(value, dtype=np.int64).reshape(-1, 2))
    if np.any(np.abs(pts) > 2**31 - 1):
        raise ValueError("kxpre: %s: coordinates must fit in 32 bits" % name)
    pts = pts.astype(np.int32)
    return pts, len(pts)


def _quad(value, name):
    q = np.ascontiguousarray(np.asarray(value, dtype=np.float32).reshape(-1))
    if q.size != 8:
        raise ValueError("kxpre: %s must be four points (x, y)" % name)
    return q


def _element(value, keep):
    """A Mask* for None, (shape, width, height) or a 2-D array."""
    if value is None:
        return None
    if isinstance(value, tuple) and len(value) == 3 and isinstance(value[0], str):
        shapes = {"cross": 1, "rect": 2, "ellipse": 3}
        if value[0] not in shapes:
            raise ValueError("kxpre: element shape must be 'cross', 'rect' or 'ellipse'")
        address = _native.create_mask(shapes[value[0]], int(value[1]), int(value[2]))
    else:
        arr = np.ascontiguousarray(value)
        _native.check_array(arr, "element")
        source = _native.wrap(arr, KIT_GRAY)
        try:
            address = _native.derive_mask(source)
        finally:
            _native.destroy_image(source)
    if not address:
        raise ValueError("kxpre: cannot create the structuring element %r" % (value,))
    keep.append(("mask", address))
    return address


class _Call:
    """Images made for one call, released when it ends."""

    def __init__(self):
        self.images = []
        self.masks = []
        self.arrays = []

    def image(self, address):
        self.images.append(address)
        return address

    def release(self):
        for a in self.images:
            _native.destroy_image(a)
        for a in self.masks:
            _native.destroy_mask(a)
        self.images, self.masks = [], []


def _other(call, value, kit, name):
    arr = np.ascontiguousarray(value)
    _native.check_array(arr, name)
    if kit is None:
        kit = _native.image_type(arr, False)
    elif _native.image_type(arr, kit == KIT_BIN) != kit:
        raise ValueError("kxpre: %s must have the shape of the same image type" % name)
    if _native.wrappable(arr) is None:
        arr = arr.copy()
    call.arrays.append(arr)
    return call.image(_native.wrap(arr, kit))


def _build(cname, pyname, cparams, result, flags, summary):
    params = _parse(cparams)
    fn = _native._bind(cname, _RESULT_TYPES[result], _argtypes(params))
    resizes = "resize" in flags
    binary_default = "bin" in flags
    has_image = any(kind == "@" for _, kind in params)
    py_params = [(n, k) for n, k in params if n is not None and k not in ("out", "cap")]
    optional = {"mask", "elem", "dest"}

    def call(*args, **kwargs):
        if fn is None:
            raise NotImplementedError("kxpre.%s: %s is not in this build of libkxpre" % (pyname, cname))
        inplace = kwargs.pop("inplace", False)
        binary = kwargs.pop("binary", None)
        bound = signature.bind(*args, **kwargs)
        bound.apply_defaults()
        values = bound.arguments
        binary = binary_default if binary is None else bool(binary)
        c = _Call()
        try:
            image = target = kit = None
            if has_image:
                name = next(n for n, k in params if k == "@")
                image = values[name]
                _native.check_array(image, name)
                kit = _native.image_type(image, binary)
                if inplace:
                    if resizes:
                        raise ValueError(
                            "kxpre.%s may change the image's size or type and cannot work in place" % pyname
                        )
                    if _native.wrappable(image) is None:
                        raise ValueError("kxpre.%s: inplace=True needs a writable array with packed pixels" % pyname)
                    target = image
                    address = c.image(_native.wrap(target, kit))
                elif resizes:
                    address = c.image(_native.owned_copy(image, kit))
                else:
                    target = np.array(image, dtype=np.uint8, order="C", copy=True)
                    address = c.image(_native.wrap(target, kit))
            cargs = []
            distances = destination = None
            for name, kind in params:
                v = values.get(name) if name is not None else None
                if kind == "@":
                    cargs.append(address)
                elif name is None:
                    cargs.append(None if kind == "null" else int(kind))
                elif kind in ("img", "any"):
                    cargs.append(_other(c, v, kit if kind == "img" else None, name))
                elif kind == "mask":
                    cargs.append(None if v is None else _other(c, v, KIT_GRAY, name))
                elif kind == "elem":
                    keep = []
                    cargs.append(_element(v, keep))
                    c.masks += [a for _, a in keep]
                elif kind == "pts":
                    pts, n = _points(v, name)
                    c.arrays.append(pts)
                    cargs += [pts.ctypes.data, n]
                elif kind == "quad":
                    q = _quad(v, name)
                    c.arrays.append(q)
                    cargs.append(q.ctypes.data)
                elif kind == "s":
                    cargs.append(str(v).encode("latin-1", "replace"))
                elif kind == "dest":
                    if v is None and result == "destination":
                        raise ValueError("kxpre.%s needs a destination array or shape" % pyname)
                    if v is None:
                        cargs.append(None)
                    elif isinstance(v, np.ndarray):
                        _native.check_array(v, name)
                        destination = v
                        cargs.append(c.image(_native.wrap(v, _native.image_type(v, binary))))
                    else:
                        h, w = (int(x) for x in tuple(v)[:2])
                        destination = c.image(_native.new_image(kit, w, h))
                        cargs.append(destination)
                elif kind == "out":
                    rec = _native.record(address)
                    distances = np.zeros((rec.height, rec.width), dtype=np.int32)
                    cargs.append(distances.ctypes.data)
                elif kind == "box":
                    cargs.append(EllipseBox(*[float(x) for x in v]))
                elif kind == "fv":
                    b, g, r = (tuple(v) + (0, 0))[:3] if not np.isscalar(v) else (v, v, v)
                    cargs.append(FloodValue(int(b), int(g), int(r)))
                elif kind == "fr":
                    vals = [float(v)] * 4 if np.isscalar(v) else (list(map(float, v)) + [0.0] * 4)[:4]
                    cargs.append(FloodRecord((ctypes.c_double * 4)(*vals)))
                elif kind == "cap":
                    cargs.append(int(distances.size))
                else:
                    cargs.append(v)
            returned = fn(*cargs)

            if result in ("u32", "u8", "int"):
                return int(returned)
            if result == "ptr" or not has_image:
                return returned
            if result == "dist":
                return distances
            if result == "destination":
                if isinstance(destination, np.ndarray):
                    return destination
                return _native.view(destination).copy()
            current = address if has_image else None
            if result in ("image", "new") and returned and returned not in c.images:
                current = c.image(returned)  # a new image made by the library
            elif result == "new" and not returned:
                raise ValueError("kxpre.%s: the library refused the arguments" % pyname)
            out = _result(current, target)
            return (out, int(returned)) if result == "flood" else out
        finally:
            c.release()

    # The Python signature: the C parameters in order; optional ones (masks,
    # elements, destinations) default to None when only optional ones follow.
    ps, trailing = [], True
    for n, k in reversed(py_params):
        trailing = trailing and k in optional
        default = None if trailing else inspect.Parameter.empty
        ps.insert(0, inspect.Parameter(n, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=default))
    signature = inspect.Signature(ps)
    public = ps + (
        [
            inspect.Parameter("inplace", inspect.Parameter.KEYWORD_ONLY, default=False),
            inspect.Parameter("binary", inspect.Parameter.KEYWORD_ONLY, default=None),
        ]
        if has_image
        else []
    )
    call.__signature__ = inspect.Signature(public)
    call.__name__ = call.__qualname__ = pyname
    call.__doc__ = _docstring(cname, summary, py_params, result, resizes, binary_default, has_image)
    return call, fn


def _result(address, target):
    """The array of the image after the call: the target array itself when
    the library worked in its memory, else a copy."""
    rec = _native.record(address)
    if target is not None and rec.data == target.ctypes.data and rec.width == target.shape[1] \
            and rec.height == target.shape[0] and _native.BYTES_PER_PIXEL.get(rec.imageType) == \
            (1 if target.ndim == 2 else target.shape[2]):
        return target
    return _native.view(address).copy()


_KIND_DOC = {
    "i": "int",
    "u": "colour 0xAARRGGBB (blue in the low byte)",
    "b": "int 0..255",
    "f": "float",
    "d": "float",
    "s": "str",
    "pts": "sequence of (x, y) integer points",
    "quad": "four (x, y) points",
    "img": "array of the image's type",
    "any": "array (grey, binary or colour)",
    "mask": "one-byte mask array, or None",
    "elem": "None, (shape, width, height) with shape 'rect', 'ellipse' or 'cross', or a 2-D array",
    "dest": "None, an array written in place, or a shape (height, width)",
    "box": "(centre x, centre y, width, height, angle)",
    "fv": "colour (b, g, r) or one value",
    "fr": "tolerance: one value or (b, g, r, a)",
    "@": "uint8 array",
}


def _docstring(cname, summary, params, result, resizes, binary_default, has_image):
    lines = [summary, "", "Calls %s; see its comment in kxpre.h for the exact arithmetic." % cname, "", "Args:"]
    for n, k in params:
        lines.append("    %s: %s" % (n, _KIND_DOC.get(k, k)))
    if has_image:
        lines.append("    inplace: work in the array's own memory and return it%s"
                     % (" (refused: this operation may change the size)" if resizes else ""))
        lines.append("    binary: take a 2-D array as binary (default %s)" % binary_default)
    returns = {
        "u32": "int", "u8": "int", "int": "int", "ptr": "None",
        "dist": "int32 array of the distances", "flood": "(array, number of repainted pixels)",
        "destination": "the destination array",
    }.get(result, "the resulting array (binary results hold 0 and 1)")
    lines += ["", "Returns:", "    " + returns]
    return "\n".join(lines)


_functions = {}
for _row in OPERATIONS:
    _f, _c = _build(*_row)
    globals()[_row[1]] = _f
    _functions[_row[1]] = (_row[0], _c)
    __all__.append(_row[1])


def available():
    """Names of the functions whose export this library build has."""
    return sorted(name for name, (_, c) in _functions.items() if c is not None)


def signatures():
    """{C name: (result type, [argument types])} as bound with ctypes."""
    out = {}
    for row in OPERATIONS:
        out[row[0]] = (_RESULT_TYPES[row[3]], _argtypes(_parse(row[2])))
    return out
