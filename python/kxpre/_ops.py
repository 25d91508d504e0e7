"""The package's functions, one per export, built from the export manifest
(kxpre-exports.toml, read by _manifest).

Before a call reaches the library every argument is checked against the
manifest: its Python type (TypeError naming the argument), the range of its
C type (ArgumentOverflowError, both an OverflowError and a ValueError), its
documented range and the conditions between arguments (ValueError), and the
kind of every image (TypeError).  A call the library would turn into "do
nothing" is thus refused with the reason instead of returning its input.
"""

import ctypes
import enum
import inspect
import math
import numbers

import numpy as np

from . import _native
from ._manifest import KIND_WORDS, NO_DEFAULT, Manifest
from ._native import KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA, EllipseBox, FloodRecord, FloodValue

MANIFEST = Manifest()


def _make_enum(name, members):
    """An IntFlag when every code is a bit (or'ed together), else an IntEnum."""
    bits = all(v > 0 and v & (v - 1) == 0 for v in members.values())
    return (enum.IntFlag if bits else enum.IntEnum)(name, members, module="kxpre")


# The named constants of the manifest's codes (kxpre.Filter.BILINEAR, ...).
ENUMS = {name: _make_enum(name, members) for name, members in MANIFEST.enums.items()}


class ArgumentOverflowError(ValueError, OverflowError):
    """An integer that the C parameter's type cannot hold."""


_KIT = {"bin": KIT_BIN, "gray": KIT_GRAY, "rgb": KIT_RGB, "rgba": KIT_RGBA}
_SHAPES = {"bin": "(H, W) of 0/1, bool or 0/255", "gray": "(H, W)", "rgb": "(H, W, 3)", "rgba": "(H, W, 4)"}
_C_TYPES = {
    "int": ctypes.c_int, "uint8_t": ctypes.c_uint8, "uint32_t": ctypes.c_uint32, "float": ctypes.c_float,
    "double": ctypes.c_double, "const char *": ctypes.c_char_p, "EllipseBox": EllipseBox,
    "FloodValue": FloodValue, "FloodRecord": FloodRecord,
}


def c_type(text):
    """The ctypes type of a C type as the header spells it."""
    if text == "void":
        return None
    return _C_TYPES.get(text, ctypes.c_void_p if text.endswith("*") else None)


def kinds_text(kinds):
    return " or ".join("%s %s" % (KIND_WORDS[k], _SHAPES[k]) for k in kinds)


def array_kind(array, binary):
    """'bin', 'gray', 'rgb' or 'rgba' for an array taken as binary or not."""
    return {_native.KIT_BIN: "bin", KIT_GRAY: "gray", KIT_RGB: "rgb", KIT_RGBA: "rgba"}[
        _native.image_type(array, binary)]


def as_image(fn, name, value, binary_allowed, binary, default=False):
    """(uint8 array, kind, was bool) for an image argument.

    binary: the caller's choice for a 2-D array (None: bool arrays are binary
    when binary_allowed, uint8 arrays when `default`).  bool arrays become
    0/1 bytes.  A 2-D array taken as binary must hold 0 and 1; one of 0 and
    255 only is converted to 0/1."""
    if not isinstance(value, np.ndarray):
        raise TypeError("kxpre.%s: %s must be a numpy array, got %s" % (fn, name, type(value).__name__))
    was_bool = value.dtype == np.bool_
    if was_bool:
        value = value.view(np.uint8)
        binary = binary_allowed if binary is None else binary
    elif binary is None:
        binary = default
    if value.dtype != np.uint8:
        raise TypeError("kxpre.%s: %s must have dtype uint8 (or bool for binary images), got %s"
                        % (fn, name, value.dtype))
    if value.ndim not in (2, 3) or value.shape[0] < 1 or value.shape[1] < 1:
        raise ValueError("kxpre.%s: %s must be a non-empty (H, W) or (H, W, C) array, got shape %s"
                         % (fn, name, value.shape))
    try:
        kind = array_kind(value, bool(binary))
    except ValueError:
        raise ValueError("kxpre.%s: %s must have shape (H, W), (H, W, 3) or (H, W, 4), got %s"
                         % (fn, name, value.shape)) from None
    if kind == "bin" and not was_bool:
        top = int(value.max())
        if top > 1:
            if np.any((value != 0) & (value != 255)):
                raise TypeError("kxpre.%s: %s is taken as a binary image, which holds 0 and 1 (bool and 0/255 "
                                "arrays are converted), but it holds values up to %d; pass binary=False for a "
                                "grey image" % (fn, name, top))
            value = (value != 0).view(np.uint8)
    return value, kind, was_bool


def _integer(fn, arg, v):
    if not isinstance(v, numbers.Integral):
        raise TypeError("kxpre.%s: %s must be an integer, got %s %r" % (fn, arg.name, type(v).__name__, v))
    v = int(v)
    lo, hi = arg.type_range()
    if not lo <= v <= hi:
        raise ArgumentOverflowError("kxpre.%s: %s must be %d..%d (the range of %s), got %d"
                                    % (fn, arg.name, lo, hi, arg.type, v))
    return v


def _real(fn, arg, v):
    if not isinstance(v, numbers.Real):
        raise TypeError("kxpre.%s: %s must be a number, got %s %r" % (fn, arg.name, type(v).__name__, v))
    v = float(v)
    if arg.type == "float" and math.isfinite(v) and abs(v) > 3.4028234663852886e38:
        raise ArgumentOverflowError("kxpre.%s: %s is too large for a float, got %r" % (fn, arg.name, v))
    return v


def _numbers(fn, name, v, count, dtype, what):
    try:
        a = np.asarray(v, dtype=np.float64).reshape(-1)
    except (TypeError, ValueError):
        raise TypeError("kxpre.%s: %s must be %s, got %r" % (fn, name, what, v)) from None
    if count is not None and a.size != count:
        raise ValueError("kxpre.%s: %s must be %s, got %d numbers" % (fn, name, what, a.size))
    return a


def _scalar(fn, arg, v):
    """The C value of a number-like argument, checked against its type and
    documented range."""
    k = arg.kind
    if k in ("int", "byte", "uint32", "colour"):
        v = _integer(fn, arg, v)
    elif k in ("float", "double"):
        v = _real(fn, arg, v)
    elif k == "text":
        if not isinstance(v, (str, bytes)):
            raise TypeError("kxpre.%s: %s must be a str, got %s" % (fn, arg.name, type(v).__name__))
        v = v.encode("cp1252", "replace") if isinstance(v, str) else v
        if b"\0" in v:
            raise ValueError("kxpre.%s: %s must not hold a NUL character" % (fn, arg.name))
        return v
    elif k == "points":
        a = _numbers(fn, arg.name, v, None, None, "a sequence of (x, y) integer points")
        if a.size % 2 or np.any(a != np.floor(a)):
            raise TypeError("kxpre.%s: %s must be a sequence of (x, y) integer points" % (fn, arg.name))
        if np.any((a < -2**31) | (a > 2**31 - 1)):
            raise ArgumentOverflowError("kxpre.%s: %s: coordinates must be -2147483648..2147483647"
                                        % (fn, arg.name))
        if a.size // 2 < arg.min_points:
            raise ValueError("kxpre.%s: %s needs at least %d points, got %d"
                             % (fn, arg.name, arg.min_points, a.size // 2))
        return np.ascontiguousarray(a.astype(np.int32))
    elif k == "quad":
        return np.ascontiguousarray(_numbers(fn, arg.name, v, 8, None, "four (x, y) points").astype(np.float32))
    elif k == "box":
        return EllipseBox(*_numbers(fn, arg.name, v, 5, None, "(centre x, centre y, width, height, angle)"))
    elif k == "floodvalue":
        if isinstance(v, numbers.Integral):
            v = (v, v, v)
        b, g, r = (int(x) for x in _numbers(fn, arg.name, v, 3, None, "one value or (b, g, r)"))
        for x in (b, g, r):
            if not 0 <= x <= 255:
                raise ArgumentOverflowError("kxpre.%s: %s: each channel must be 0..255" % (fn, arg.name))
        return FloodValue(b, g, r)
    elif k == "floodrange":
        vals = _numbers(fn, arg.name, [v] * 4 if isinstance(v, numbers.Real) else v, 4, None,
                        "one tolerance or (b, g, r, a)")
        if not np.all(np.isfinite(vals)) or np.any(vals < 0):
            raise ValueError("kxpre.%s: %s must be finite and at least 0, got %r" % (fn, arg.name, v))
        return FloodRecord((ctypes.c_double * 4)(*vals))
    else:
        return v
    why = arg.check(v)
    if why:
        raise ValueError("kxpre.%s: %s %s, got %r" % (fn, arg.name, why, v))
    return v


def _element(fn, value, keep):
    """A Mask* for None, (shape, width, height) or a 2-D array."""
    if value is None:
        return None
    if isinstance(value, tuple) and len(value) == 3 and isinstance(value[0], str):
        shapes = {"cross": 1, "rect": 2, "ellipse": 3}
        if value[0] not in shapes:
            raise ValueError("kxpre.%s: element shape must be 'cross', 'rect' or 'ellipse'" % fn)
        address = _native.create_mask(shapes[value[0]], int(value[1]), int(value[2]))
    else:
        arr, _, _ = as_image(fn, "element", value, False, False)
        arr = np.ascontiguousarray(arr)
        source = _native.wrap(arr, KIT_GRAY)
        try:
            address = _native.derive_mask(source)
        finally:
            _native.destroy_image(source)
    if not address:
        raise ValueError("kxpre.%s: cannot create the structuring element %r" % (fn, value))
    keep.append(address)
    return address


class _Call:
    """Images made for one call, released when it ends."""

    def __init__(self):
        self.images, self.masks, self.arrays = [], [], []

    def image(self, address):
        self.images.append(address)
        return address

    def wrap(self, arr, kit):
        if _native.wrappable(arr) is None:
            arr = arr.copy()
        self.arrays.append(arr)
        return self.image(_native.wrap(arr, kit))

    def release(self):
        for a in self.images:
            _native.destroy_image(a)
        for a in self.masks:
            _native.destroy_mask(a)
        self.images, self.masks = [], []


def _result(address, target):
    """The array of the image after the call: the target array itself when
    the library worked in its memory, else a copy."""
    rec = _native.record(address)
    if target is not None and rec.data == target.ctypes.data and rec.width == target.shape[1] \
            and rec.height == target.shape[0] and _native.BYTES_PER_PIXEL.get(rec.imageType) == \
            (1 if target.ndim == 2 else target.shape[2]):
        return target
    return _native.view(address).copy()


def _signature(visible):
    """Python parameters in C order; an argument keeps its default only when
    every later one has one too."""
    ps, trailing = [], True
    for a in reversed(visible):
        trailing = trailing and a.default is not NO_DEFAULT
        default = a.default if trailing else inspect.Parameter.empty
        if a.enum and isinstance(default, int) and default in ENUMS[a.enum]._value2member_map_:
            default = ENUMS[a.enum](default)
        ps.insert(0, inspect.Parameter(a.name, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=default))
    return ps


def build(e, bind=_native._bind, module="kxpre", header="kxpre.h"):
    """The Python function of an export and its ctypes function (None when
    this library build lacks the export).  bind(name, restype, argtypes)
    finds the export in its library (a companion library's manifest passes
    its own, with the module and header its functions and messages name).

    Values an export writes through `out` arguments come back after the
    array (image results: (array, value, ...)) or alone (status results:
    a tuple of the values; a refusal raises ValueError)."""
    fn = bind(e.name, c_type(e.returns), [c_type(t) for t in e.c_types])
    main = e.image
    visible = [a for a in e.args if not a.hidden]
    signature = inspect.Signature(_signature(visible))
    one_byte = [k for k in e.images if k in ("bin", "gray")]
    binary_default = bool(one_byte) and one_byte[0] == "bin"
    # Messages name the function as "kxpre.name"; a companion module's
    # functions as "kxpre.extra.name".
    py = e.python if module == "kxpre" else module[len("kxpre."):] + "." + e.python

    def call(*args, **kwargs):
        if fn is None:
            raise NotImplementedError("kxpre.%s: %s is not in this build of lib%s"
                                      % (py, e.name, header.split(".")[0]))
        inplace = kwargs.pop("inplace", False)
        binary = kwargs.pop("binary", None)
        try:
            bound = signature.bind(*args, **kwargs)
        except TypeError as err:
            raise TypeError("kxpre.%s: %s" % (py, err)) from None
        bound.apply_defaults()
        values = dict(bound.arguments)
        c = _Call()
        try:
            image = target = kind = None
            was_bool = False
            if main is not None:
                image, kind, was_bool = as_image(py, main.name, values[main.name], "bin" in e.images, binary,
                                                 binary_default)
                if kind not in e.images:
                    raise TypeError("kxpre.%s: %s must be a %s image; got a %s image of shape %s"
                                    % (py, main.name, kinds_text(e.images), KIND_WORDS[kind], image.shape))
            # Scalars, then the conditions between them and the image's size.
            cvalues = {}
            for a in visible:
                if a.kind not in ("image", "same", "channel", "mask", "element", "dest"):
                    cvalues[a.name] = _scalar(py, a, values[a.name])
            sizes = dict(cvalues)
            if image is not None:
                sizes.update(width=image.shape[1], height=image.shape[0])
            for cond in e.requires:
                if not cond.holds(sizes):
                    got = ", ".join("%s %s" % (n, sizes[n]) for n in (cond.left, cond.right) if isinstance(n, str))
                    raise ValueError("kxpre.%s: needs %s (got %s)" % (py, cond.text, got))
            # The other images.
            arrays = {}
            for a in visible:
                v = values[a.name]
                if a.kind in ("same", "channel") or (a.kind == "mask" and v is not None):
                    if a.kind == "same":
                        arr, k, _ = as_image(py, a.name, v, kind == "bin", kind == "bin")
                    else:
                        arr, k, _ = as_image(py, a.name, v, a.kind == "channel" and "bin" in a.images,
                                             None if a.kind == "channel" else False)
                    if a.kind == "same" and k != kind:
                        raise TypeError("kxpre.%s: %s must be an image of the same kind as %s (%s), got %s"
                                        % (py, a.name, main.name, KIND_WORDS[kind], KIND_WORDS[k]))
                    if a.kind == "channel" and k not in a.images:
                        raise TypeError("kxpre.%s: %s must be a %s image, got %s"
                                        % (py, a.name, kinds_text(a.images), KIND_WORDS[k]))
                    if a.kind == "mask" and arr.ndim != 2:
                        raise TypeError("kxpre.%s: %s must be a 2-D mask (one byte per pixel), got shape %s"
                                        % (py, a.name, arr.shape))
                    arrays[a.name] = (arr, _KIT[k])
            for a in visible:
                if a.same_size and a.name in arrays:
                    other = image if a.same_size == main.name else arrays[a.same_size][0]
                    if arrays[a.name][0].shape[:2] != other.shape[:2]:
                        raise ValueError("kxpre.%s: %s must have the size of %s, %s (got %s)"
                                         % (py, a.name, a.same_size, other.shape[:2], arrays[a.name][0].shape[:2]))
            address = None
            if main is not None:
                kit = _KIT[kind]
                if inplace:
                    if e.resizes:
                        raise ValueError("kxpre.%s may change the image's size or type and cannot work in place" % py)
                    if was_bool or image is not values[main.name] or _native.wrappable(image) is None:
                        raise ValueError("kxpre.%s: inplace=True needs a writable uint8 array with packed pixels "
                                         "(binary images holding 0 and 1)" % py)
                    target = image
                    address = c.image(_native.wrap(target, kit))
                elif e.resizes:
                    address = c.image(_native.owned_copy(image, kit))
                else:
                    target = np.array(image, dtype=np.uint8, order="C", copy=True)
                    address = c.image(_native.wrap(target, kit))
            cargs, distances, destination, outs = [], None, None, []
            for a in e.args:
                v = values.get(a.name)
                if a.kind == "image":
                    cargs.append(address)
                elif a.kind == "const":
                    cargs.append(a.value)
                elif a.name in arrays:
                    cargs.append(c.wrap(*arrays[a.name]))
                elif a.kind in ("mask",):
                    cargs.append(None)
                elif a.kind == "element":
                    cargs.append(_element(py, v, c.masks))
                elif a.kind == "points":
                    pts = cvalues[a.name]
                    c.arrays.append(pts)
                    cargs += [pts.ctypes.data, len(pts) // 2]
                elif a.kind == "quad":
                    c.arrays.append(cvalues[a.name])
                    cargs.append(cvalues[a.name].ctypes.data)
                elif a.kind == "dest":
                    if v is None and e.result == "destination":
                        raise ValueError("kxpre.%s: %s must be an array or a shape (height, width)" % (py, a.name))
                    if v is None:
                        cargs.append(None)
                    elif isinstance(v, np.ndarray):
                        _native.check_array(v, a.name)
                        destination = v
                        cargs.append(c.image(_native.wrap(v, _native.image_type(v, kind == "bin"))))
                    else:
                        h, w = (int(x) for x in tuple(v)[:2])
                        if h < 1 or w < 1:
                            raise ValueError("kxpre.%s: %s must be a shape of at least (1, 1), got %r"
                                             % (py, a.name, v))
                        destination = c.image(_native.new_image(_KIT[kind], w, h))
                        cargs.append(destination)
                elif a.kind == "distances":
                    rec = _native.record(address)
                    distances = np.zeros((rec.height, rec.width), dtype=np.int32)
                    cargs.append(distances.ctypes.data)
                elif a.kind == "capacity":
                    cargs.append(int(distances.size))
                elif a.kind == "out":
                    outs.append(ctypes.c_double(0.0))
                    cargs.append(ctypes.addressof(outs[-1]))
                else:
                    cargs.append(cvalues[a.name])
            returned = fn(*cargs)
            values_out = tuple(o.value for o in outs)
            if outs and e.result == "status":
                if not returned:
                    raise ValueError("kxpre.%s: the library refused the arguments" % py)
                return values_out

            if e.result in ("u32", "u8", "int"):
                return int(returned)
            if e.result == "ptr" or main is None:
                return returned
            if e.result == "dist":
                return distances
            if e.result == "destination":
                if isinstance(destination, np.ndarray):
                    return destination
                return _native.view(destination).copy()
            current = address
            if e.result in ("image", "new") and returned and returned not in c.images:
                current = c.image(returned)  # a new image made by the library
            elif e.result == "new" and not returned:
                raise ValueError("kxpre.%s: the library refused the arguments" % py)
            out = _result(current, target)
            if was_bool and not inplace and _native.record(current).imageType == KIT_BIN:
                out = out.astype(bool)
            if e.result == "flood":
                return out, int(returned)
            return (out,) + values_out if outs else out
        finally:
            c.release()

    public = list(signature.parameters.values())
    if main is not None:
        public += [inspect.Parameter("inplace", inspect.Parameter.KEYWORD_ONLY, default=False),
                   inspect.Parameter("binary", inspect.Parameter.KEYWORD_ONLY, default=None)]
    call.__signature__ = inspect.Signature(public)
    call.__name__ = call.__qualname__ = e.python
    call.__module__ = module
    call.__doc__ = docstring(e, visible, binary_default, header)
    return call, fn


_KIND_DOC = {
    "int": "int", "byte": "int", "uint32": "int", "colour": "int, a colour 0xAARRGGBB (blue in the low byte)",
    "float": "float", "double": "float", "text": "str",
    "points": "sequence of (x, y) integer points", "quad": "four (x, y) points",
    "same": "array of the same kind as the image", "channel": "array", "mask": "2-D mask array (bool or uint8)",
    "element": "None, (shape, width, height) with shape 'rect', 'ellipse' or 'cross', or a 2-D array",
    "dest": "array written in place, or a shape (height, width)",
    "box": "(centre x, centre y, width, height, angle)", "floodvalue": "colour (b, g, r) or one value",
    "floodrange": "tolerance: one value or (b, g, r, a)", "image": "array",
}
_RETURNS = {
    "u32": "int", "u8": "int", "int": "int", "ptr": "None", "dist": "int32 array of the distances, the image's shape",
    "flood": "(array, number of repainted pixels)", "destination": "the destination array",
}


def docstring(e, visible, binary_default, header="kxpre.h"):
    lines = [e.summary, ""]
    if e.image is not None:
        lines.append("Works on %s images." % kinds_text(e.images))
        if binary_default:
            lines.append("A 2-D array is taken as binary (0/1; bool and 0/255 arrays are converted).")
        lines.append("")
    lines.append("Args:")
    for a in visible:
        kind = _KIND_DOC.get(a.kind, a.kind)
        if a.kind == "channel":
            kind = "array: " + kinds_text(a.images)
        if a.kind == "byte":
            kind = "int 0..255"
        line = "    %s (%s): %s" % (a.name, kind, a.doc or "")
        extra = []
        if a.accepted() and a.kind not in ("byte",):
            extra.append("accepted: " + a.accepted())
        if a.enum:
            extra.append("kxpre.%s: %s" % (a.enum, ", ".join("%s=%d" % (m.name, m.value) for m in ENUMS[a.enum])))
        if a.same_size:
            extra.append("the size of %s" % a.same_size)
        if a.default is not NO_DEFAULT:
            d = a.default
            named = a.enum and d in ENUMS[a.enum]._value2member_map_
            extra.append("default %s" % ("%s.%s" % (a.enum, ENUMS[a.enum](d).name) if named else repr(d)))
        if extra:
            line += " (" + "; ".join(extra) + ")"
        lines.append(line.rstrip())
    if e.image is not None:
        lines.append("    inplace: work in the array's own memory and return it%s"
                     % (" (refused: this operation may change the size or type)" if e.resizes else ""))
        lines.append("    binary: take a 2-D uint8 array as binary (True) or grey (False); default %s"
                     % ("binary" if binary_default else "grey (bool arrays: binary)"))
    for c in e.requires:
        lines.append("Requires %s." % c.text)
    outs = [a.name for a in e.args if a.kind == "out"]
    returns = _RETURNS.get(e.result, "the resulting array (binary results hold 0 and 1; bool when the input was bool)")
    if outs:
        returns = ("(%s)" % ", ".join(outs)) if e.result == "status" else "(array, %s)" % ", ".join(outs)
    lines += ["", "Returns:", "    " + returns]
    lines += ["", "Raises TypeError for a wrong image kind or argument type and ValueError for an argument",
              "outside its range (ArgumentOverflowError when its C type cannot hold it).",
              "C function: %s (%s)." % (e.name, header)]
    return "\n".join(lines)
