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
import keyword
import math
import numbers

import numpy as np

from . import _native
from ._manifest import KIND_WORDS, NO_DEFAULT, Manifest
from ._native import KIT_BIN, KIT_GRAY, KIT_RGB, KIT_RGBA, EllipseBox, FloodRecord, FloodValue

MANIFEST = Manifest()


def _make_enum(name, members, module="kxpre"):
    """An IntFlag when every code is a bit (or'ed together), else an IntEnum."""
    bits = all(v > 0 and v & (v - 1) == 0 for v in members.values())
    return (enum.IntFlag if bits else enum.IntEnum)(name, members, module=module)


def make_enums(manifest, module="kxpre"):
    """The named constants of a manifest's codes (kxpre.Filter.BILINEAR, ...)."""
    return {name: _make_enum(name, members, module) for name, members in manifest.enums.items()}


ENUMS = make_enums(MANIFEST)


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


_U8, _BOOL = np.dtype(np.uint8), np.dtype(np.bool_)
_INT_MIN, _INT_MAX = -2**31, 2**31 - 1
_COLOUR_KIND = {3: "rgb", 4: "rgba"}


def as_image(fn, name, value, binary_allowed, binary, default=False, grey_ok=True):
    """(uint8 array, kind, was bool, was 0/255) for an image argument.

    binary: the caller's choice for a 2-D array (None: bool arrays are binary
    when binary_allowed, uint8 arrays when `default`).  bool arrays become
    0/1 bytes.  A 2-D array taken as binary must hold 0 and 1; one of 0 and
    255 only is converted to 0/1.  grey_ok: the function takes grey images
    too (the refusal of a grey array then says how to pass one)."""
    if not isinstance(value, np.ndarray):
        raise TypeError("kxpre.%s: %s must be a numpy array, got %s" % (fn, name, type(value).__name__))
    dtype = value.dtype
    was_bool = dtype == _BOOL
    if was_bool:
        value = value.view(np.uint8)
        binary = binary_allowed if binary is None else binary
    else:
        if binary is None:
            binary = default
        if dtype != _U8:
            raise TypeError("kxpre.%s: %s must have dtype uint8 (or bool for binary images), got %s"
                            % (fn, name, dtype))
    shape = value.shape
    if len(shape) == 2:
        kind = "bin" if binary else "gray"
    elif len(shape) == 3:
        kind = _COLOUR_KIND.get(shape[2])
    else:
        kind = None
    if len(shape) not in (2, 3) or shape[0] < 1 or shape[1] < 1:
        raise ValueError("kxpre.%s: %s must be a non-empty (H, W) or (H, W, C) array, got shape %s"
                         % (fn, name, shape))
    if kind is None:
        raise ValueError("kxpre.%s: %s must have shape (H, W), (H, W, 3) or (H, W, 4), got %s"
                         % (fn, name, shape))
    if shape[0] > _INT_MAX or shape[1] > _INT_MAX:
        raise ArgumentOverflowError("kxpre.%s: %s: the sides of an image must be at most 2147483647 (the range "
                                    "of int), got shape %s" % (fn, name, shape))
    was_255 = False
    if kind == "bin" and not was_bool:
        top = int(value.max())
        if top > 1:
            if np.any((value != 0) & (value != 255)):
                raise TypeError("kxpre.%s: %s is taken as a binary image, which holds 0 and 1 (bool and 0/255 "
                                "arrays are converted), but it holds values up to %d; %s"
                                % (fn, name, top, "pass binary=False for a grey image" if grey_ok else
                                   "pass %s != 0 to take every non-zero pixel as set" % name))
            value = (value != 0).view(np.uint8)
            was_255 = True
    return value, kind, was_bool, was_255


def _numbers(fn, name, v, count, dtype, what):
    try:
        a = np.asarray(v, dtype=np.float64).reshape(-1)
    except (TypeError, ValueError):
        raise TypeError("kxpre.%s: %s must be %s, got %r" % (fn, name, what, v)) from None
    if count is not None and a.size != count:
        raise ValueError("kxpre.%s: %s must be %s, got %d numbers" % (fn, name, what, a.size))
    return a


# ---- the call plan -------------------------------------------------------------
#
# Each export's function is built once, at import: every argument becomes a
# small marshaller (KINDS below: one row per argument kind), the result a
# handler (RESULTS).  A call then only runs the marshallers of its own
# arguments.  The C function is called without ctypes' argument conversion:
# the marshallers hand it values of the C parameter types (checked first).

_VP = ctypes.c_void_p
_FLOAT_MAX = 3.4028234663852886e38


def _raw(fn, restype):
    """A second handle on a bound library function, without argument types."""
    if fn is None:
        return None
    raw = type(fn)(ctypes.cast(fn, _VP).value)
    raw.restype = restype
    return raw


_create_raw = _raw(_native._create_ex, _VP)
_destroy_raw = _raw(_native.destroy_image, None)
_pointer_of = ctypes.c_char.from_buffer


class _State:
    """What one call makes: images and masks released when it ends."""

    __slots__ = ("values", "cv", "image", "kind", "was_bool", "was_255", "address", "target", "images", "masks",
                 "keep", "outs", "distances", "destination", "dest_address", "copy_back", "inplace")
    # cv: the values' C forms, in place of the values (the list is the
    # call's own)

    def __init__(self, values):
        self.values = self.cv = values
        self.images = []
        self.masks = self.keep = self.outs = self.target = self.address = self.image = None
        self.destination = self.dest_address = self.copy_back = None

    def release(self):
        for a in self.images:
            _destroy_raw(_VP(a))
        if self.masks:
            for a in self.masks:
                _native.destroy_mask(a)


def _deviation(image):
    """The sample standard deviation of an image's pixels (0 for one
    pixel), from exact sums."""
    n = image.size
    if n < 2:
        return 0.0
    s1 = int(image.sum(dtype=np.uint64))
    s2 = int(np.square(image, dtype=np.uint64).sum(dtype=np.uint64))
    return math.sqrt((n * s2 - s1 * s1) / (n * (n - 1)))


def _wrap_packed(st, arr, kit):
    """A virtual image over a packed array the binding made (as
    _native.wrap, without its checks)."""
    h, w = arr.shape[:2]
    address = _create_raw(kit, w, h, w * (arr.shape[2] if arr.ndim == 3 else 1), ctypes.byref(_pointer_of(arr)), 0)
    if not address:
        _native.refused(w, h, kit)
    st.images.append(address)
    return address


def _wrap_any(st, arr, kit):
    """A virtual image over an array's own memory, or over a packed copy
    (kept until the call ends) when the library cannot work on it."""
    pitch = _native.wrappable(arr)
    if pitch is None:
        arr = np.array(arr, order="C")
        if st.keep is None:
            st.keep = []
        st.keep.append(arr)
        return _wrap_packed(st, arr, kit)
    h, w = arr.shape[:2]
    data = ctypes.byref(_pointer_of(arr)) if arr.flags.c_contiguous else _VP(arr.ctypes.data)
    address = _create_raw(kit, w, h, pitch, data, 0)
    if not address:
        _native.refused(w, h, kit, pitch)
    st.images.append(address)
    return address


class _Plan:
    """One export's call: checks, marshallers and result handler, built once."""

    def __init__(self, e, fn, py, header):
        self.e, self.py, self.header = e, py, header
        self.fn = fn
        self.raw = _raw(fn, _VP if e.returns.endswith("*") else c_type(e.returns))
        self.visible = [a for a in e.args if not a.hidden]
        self.index = {a.name: i for i, a in enumerate(self.visible)}
        main = self.main = e.image
        self.main_index = self.index[main.name] if main is not None else None
        one_byte = [k for k in e.images if k in ("bin", "gray")]
        self.binary_default = bool(one_byte) and one_byte[0] == "bin"
        self.binary_allowed = "bin" in e.images
        self.images_ok = frozenset(e.images)
        self.grey_ok = "gray" in e.images
        self.deviation = any("deviation" in (c.left, c.right) for c in e.requires)
        self.scalars, self.others, self.params = [], [], []
        for a in e.args:
            i = self.index.get(a.name)
            check, params = KINDS[a.kind](self, a, i)
            if check is not None:
                (self.others if a.kind in _IMAGE_KINDS else self.scalars).append((i, check))
            self.params += params
        self.requires = e.requires
        self.same_size = [(self.index[a.name], a, self.index[a.same_size]) for a in self.visible if a.same_size]
        self.result = RESULTS[e.result]

    def fail(self, error, text):
        return error("kxpre.%s: %s" % (self.py, text))

    def run(self, values, inplace=False, binary=None):
        if self.raw is None:
            raise NotImplementedError("kxpre.%s: %s is not in this build of lib%s"
                                      % (self.py, self.e.name, self.header.split(".")[0]))
        st = _State(values)
        st.inplace = inplace
        try:
            if self.main is not None:
                self._main(st, binary)
            cv = st.cv
            for i, check in self.scalars:
                cv[i] = check(st, cv[i])
            if self.requires:
                self._conditions(st)
            for i, check in self.others:
                cv[i] = check(st, cv[i])
            for i, a, j in self.same_size:
                self._same_size(st, i, a, j)
            if self.main is not None:
                self._target(st)
            returned = self.raw(*[p(st) for p in self.params])
            return self.result(self, st, returned)
        except (TypeError, ValueError, MemoryError) as error:
            again = _native.renamed(error, "kxpre." + self.py)
            if again is error:
                raise
            raise again from None
        finally:
            st.release()

    def _main(self, st, binary):
        i = self.main_index
        value = st.values[i]
        image, kind, st.was_bool, st.was_255 = as_image(self.py, self.main.name, value, self.binary_allowed,
                                                        binary, self.binary_default, self.grey_ok)
        if kind not in self.images_ok:
            raise self.fail(TypeError, "%s must be a %s image; got a %s image of shape %s"
                            % (self.main.name, kinds_text(self.e.images), KIND_WORDS[kind], image.shape))
        st.image, st.kind = image, kind
        st.cv[i] = image

    def _conditions(self, st):
        sizes = {a.name: st.cv[i] for i, a in enumerate(self.visible)}
        if st.image is not None:
            sizes.update(width=st.image.shape[1], height=st.image.shape[0])
            if self.deviation:
                sizes["deviation"] = _deviation(st.image)
        for cond in self.requires:
            if not cond.holds(sizes):
                got = ", ".join("%s %s" % (n, sizes[n]) for n in (cond.left, cond.right) if isinstance(n, str))
                raise self.fail(ValueError, "needs %s (got %s)" % (cond.text, got))

    def _same_size(self, st, i, a, j):
        arr, other = st.cv[i], st.cv[j]
        if arr is None or other is None:
            return
        arr = arr[0] if isinstance(arr, tuple) else arr
        other = other[0] if isinstance(other, tuple) else other
        if arr.shape[:2] != other.shape[:2]:
            raise self.fail(ValueError, "%s must have the size of %s, %s (got %s)"
                            % (a.name, a.same_size, other.shape[:2], arr.shape[:2]))

    def _target(self, st):
        """The image the library works on: the caller's array (inplace), a
        copy the library may replace (resizing exports) or a fresh array."""
        image, kit = st.image, _KIT[st.kind]
        if st.inplace:
            if self.e.resizes:
                raise ValueError("kxpre.%s may change the image's size or type and cannot work in place" % self.py)
            if st.was_bool or st.was_255 or _native.wrappable(image) is None:
                raise self.fail(ValueError, "inplace=True needs a writable uint8 array with packed pixels "
                                "(binary images holding 0 and 1)")
            st.target = image
            st.address = _wrap_any(st, image, kit)
        elif self.e.resizes:
            st.address = _native.owned_copy(image, kit)
            st.images.append(st.address)
        elif self.e.result == "destination" and self.main.type.startswith("const "):
            # A source the library only reads: its own memory (or a packed copy).
            st.address = _wrap_any(st, image, kit)
        else:
            if image.nbytes > _native.MAX_IMAGE_BYTES:  # refused before a copy of that size
                _native.refused(image.shape[1], image.shape[0], kit)
            st.target = image.copy()
            st.address = _wrap_packed(st, st.target, kit)


# ---- argument kinds: each returns (check, C parameters) --------------------------
#
# check(state, value) -> the value's C form, run before the call (scalars
# first, then the conditions, then the other images); each C parameter is a
# function of the call's state giving the C value.

_IMAGE_KINDS = ("same", "channel", "mask")


def _k_image(plan, a, i):
    return None, [lambda st: _VP(st.address)]


def _k_const(plan, a, i):
    v = a.value
    if a.type == "double":
        v = ctypes.c_double(v)
    elif a.type.endswith("*"):
        v = None if v is None else _VP(v)
    return None, [lambda st: v]


def _k_integer(plan, a, i):
    py, name, lo, hi = plan.py, a.name, *a.type_range()
    first = lo if a.min is None else max(lo, math.ceil(a.min))
    last = hi if a.max is None else min(hi, math.floor(a.max))
    values = None if a.values is None else frozenset(a.values)
    wrap = ctypes.c_uint32 if a.type == "uint32_t" else None

    def check(st, v):
        if type(v) is not int:
            if not isinstance(v, numbers.Integral):
                raise TypeError("kxpre.%s: %s must be an integer, got %s %r" % (py, name, type(v).__name__, v))
            v = int(v)
        if not first <= v <= last or values is not None and v not in values:
            if not lo <= v <= hi:
                raise ArgumentOverflowError("kxpre.%s: %s must be %d..%d (the range of %s), got %d"
                                            % (py, name, lo, hi, a.type, v))
            raise ValueError("kxpre.%s: %s %s, got %r" % (py, name, a.check(v), v))
        return v

    return check, [(lambda st: wrap(st.cv[i])) if wrap else (lambda st: st.cv[i])]


def _k_real(plan, a, i):
    py, name = plan.py, a.name
    single = a.type == "float"
    documented = a.min is not None or a.max is not None or a.values is not None or a.finite
    c = ctypes.c_float if single else ctypes.c_double

    def check(st, v):
        if type(v) is not float:
            if not isinstance(v, numbers.Real):
                raise TypeError("kxpre.%s: %s must be a number, got %s %r" % (py, name, type(v).__name__, v))
            v = float(v)
        if single and abs(v) > _FLOAT_MAX and math.isfinite(v):
            raise ArgumentOverflowError("kxpre.%s: %s is too large for a float, got %r" % (py, name, v))
        if documented:
            why = a.check(v)
            if why:
                raise ValueError("kxpre.%s: %s %s, got %r" % (py, name, why, v))
        return v

    return check, [lambda st: c(st.cv[i])]


def _k_text(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        if not isinstance(v, (str, bytes)):
            raise TypeError("kxpre.%s: %s must be a str, got %s" % (py, name, type(v).__name__))
        v = v.encode("cp1252", "replace") if isinstance(v, str) else v
        if b"\0" in v:
            raise ValueError("kxpre.%s: %s must not hold a NUL character" % (py, name))
        return v

    return check, [lambda st: st.cv[i]]


def _k_points(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        p = _numbers(py, name, v, None, None, "a sequence of (x, y) integer points")
        if p.size % 2 or np.any(p != np.floor(p)):
            raise TypeError("kxpre.%s: %s must be a sequence of (x, y) integer points" % (py, name))
        if np.any((p < -2**31) | (p > 2**31 - 1)):
            raise ArgumentOverflowError("kxpre.%s: %s: coordinates must be -2147483648..2147483647" % (py, name))
        if p.size // 2 < a.min_points:
            raise ValueError("kxpre.%s: %s needs at least %d points, got %d" % (py, name, a.min_points, p.size // 2))
        return np.ascontiguousarray(p.astype(np.int32))

    return check, [lambda st: ctypes.byref(_pointer_of(st.cv[i])) if st.cv[i].size else None,
                   lambda st: st.cv[i].size // 2]


def _k_quad(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        q = _numbers(py, name, v, 8, None, "four (x, y) points")
        if np.any(np.isfinite(q) & (np.abs(q) > _FLOAT_MAX)):
            raise ArgumentOverflowError("kxpre.%s: %s: a coordinate is too large for a float, got %r" % (py, name, v))
        return np.ascontiguousarray(q.astype(np.float32))

    return check, [lambda st: ctypes.byref(_pointer_of(st.cv[i]))]


def _k_box(plan, a, i):
    def check(st, v):
        return EllipseBox(*_numbers(plan.py, a.name, v, 5, None, "(centre x, centre y, width, height, angle)"))

    return check, [lambda st: st.cv[i]]


def _k_floodvalue(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        if isinstance(v, numbers.Integral):
            v = (v, v, v)
        b, g, r = (int(x) for x in _numbers(py, name, v, 3, None, "one value or (b, g, r)"))
        for x in (b, g, r):
            if not 0 <= x <= 255:
                raise ArgumentOverflowError("kxpre.%s: %s: each channel must be 0..255" % (py, name))
        return FloodValue(b, g, r)

    return check, [lambda st: st.cv[i]]


def _k_floodrange(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        vals = _numbers(py, name, [v] * 4 if isinstance(v, numbers.Real) else v, 4, None,
                        "one tolerance or (b, g, r, a)")
        if not np.all(np.isfinite(vals)) or np.any(vals < 0):
            raise ValueError("kxpre.%s: %s must be finite and at least 0, got %r" % (py, name, v))
        return FloodRecord((ctypes.c_double * 4)(*vals))

    return check, [lambda st: st.cv[i]]


def _k_same(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        binary = st.kind == "bin"
        arr, k, _, _ = as_image(py, name, v, binary, binary)
        if k != st.kind:
            raise TypeError("kxpre.%s: %s must be an image of the same kind as %s (%s), got %s"
                            % (py, name, plan.main.name, KIND_WORDS[st.kind], KIND_WORDS[k]))
        return arr, _KIT[k]

    return check, [lambda st: _VP(_wrap_any(st, *st.cv[i]))]


def _k_channel(plan, a, i):
    py, name, allowed = plan.py, a.name, "bin" in a.images

    def check(st, v):
        arr, k, _, _ = as_image(py, name, v, allowed, None)
        if k not in a.images:
            raise TypeError("kxpre.%s: %s must be a %s image, got %s" % (py, name, kinds_text(a.images), KIND_WORDS[k]))
        return arr, _KIT[k]

    return check, [lambda st: _VP(_wrap_any(st, *st.cv[i]))]


def _k_mask(plan, a, i):
    py, name = plan.py, a.name

    def check(st, v):
        if v is None:
            return None
        arr, k, _, _ = as_image(py, name, v, False, False)
        if arr.ndim != 2:
            raise TypeError("kxpre.%s: %s must be a 2-D mask (one byte per pixel), got shape %s" % (py, name, arr.shape))
        return arr, KIT_GRAY

    return check, [lambda st: None if st.cv[i] is None else _VP(_wrap_any(st, *st.cv[i]))]


def _k_element(plan, a, i):
    return None, [lambda st: _element(plan.py, st.cv[i], st)]


def _k_dest(plan, a, i):
    return None, [lambda st: _destination(plan, a, st, st.cv[i])]


def _k_distances(plan, a, i):
    def param(st):
        rec = _native.record(st.address)
        st.distances = np.zeros((rec.height, rec.width), dtype=np.int32)
        return ctypes.byref(_pointer_of(st.distances))

    return None, [param]


def _k_capacity(plan, a, i):
    return None, [lambda st: ctypes.c_uint32(st.distances.size)]


def _k_out(plan, a, i):
    def param(st):
        if st.outs is None:
            st.outs = []
        st.outs.append(ctypes.c_double(0.0))
        return ctypes.byref(st.outs[-1])

    return None, [param]


KINDS = {
    "image": _k_image, "same": _k_same, "channel": _k_channel, "mask": _k_mask, "element": _k_element,
    "dest": _k_dest, "points": _k_points, "quad": _k_quad, "box": _k_box, "floodvalue": _k_floodvalue,
    "floodrange": _k_floodrange, "distances": _k_distances, "capacity": _k_capacity, "colour": _k_integer,
    "int": _k_integer, "byte": _k_integer, "uint32": _k_integer, "float": _k_real, "double": _k_real,
    "text": _k_text, "const": _k_const, "out": _k_out,
}


def _element(fn, value, st):
    """A Mask* for None, (shape, width, height) or a 2-D array."""
    if value is None:
        return None
    if isinstance(value, tuple) and len(value) == 3 and isinstance(value[0], str):
        shapes = ENUMS["Shape"].__members__
        if value[0].upper() not in shapes:
            raise ValueError("kxpre.%s: element shape must be %s" % (fn, ", ".join(repr(n.lower()) for n in shapes)))
        w, h = (_side(fn, "element", x, 1) for x in value[1:])
        address = _native.create_mask(shapes[value[0].upper()], w, h)
    else:
        arr, _, _, _ = as_image(fn, "element", value, False, False)
        source = _native.wrap(np.ascontiguousarray(arr) if _native.wrappable(arr) is None else arr, KIT_GRAY)
        try:
            address = _native.derive_mask(source)
        finally:
            _native.destroy_image(source)
    if not address:
        raise ValueError("kxpre.%s: cannot create the structuring element %r" % (fn, value))
    if st.masks is None:
        st.masks = []
    st.masks.append(address)
    return _VP(address)


def _side(fn, what, v, least):
    """A size or coordinate given in a tuple, checked as an int argument."""
    if not isinstance(v, numbers.Integral):
        raise TypeError("kxpre.%s: %s: sizes must be integers, got %s %r" % (fn, what, type(v).__name__, v))
    v = int(v)
    if not _INT_MIN <= v <= _INT_MAX:
        raise ArgumentOverflowError("kxpre.%s: %s: sizes must be -2147483648..2147483647 (the range of int), got %d"
                                    % (fn, what, v))
    if v < least:
        raise ValueError("kxpre.%s: %s: sizes must be at least %d, got %d" % (fn, what, least, v))
    return v


def _destination(plan, a, st, v):
    """The destination image: a shape (a new image), or the caller's array,
    worked on in its own memory, or through an image of the library's own
    copied back after the call (an array the library cannot work on, or an
    export that refuses destinations over the caller's memory)."""
    py = plan.py
    if v is None:
        if plan.e.result == "destination":
            raise ValueError("kxpre.%s: %s must be an array or a shape (height, width)" % (py, a.name))
        return None
    if isinstance(v, np.ndarray):
        arr, kind, was_bool, _ = as_image(py, a.name, v, st.kind == "bin", st.kind == "bin")
        if was_bool or arr is not v:
            raise TypeError("kxpre.%s: %s must be a uint8 array (binary images holding 0 and 1)" % (py, a.name))
        if kind != st.kind:
            raise TypeError("kxpre.%s: %s must be an image of the same kind as %s (%s), got %s"
                            % (py, a.name, plan.main.name, KIND_WORDS[st.kind], KIND_WORDS[kind]))
        if not v.flags.writeable:
            raise ValueError("kxpre.%s: %s must be a writable array" % (py, a.name))
        st.destination = v
        pitch = _native.wrappable(v)
        if a.virtual and pitch is not None:
            address = _native.wrap(v, _KIT[kind])
        else:
            address = _native.owned_copy(v, _KIT[kind])
            st.copy_back = address
        st.images.append(address)
        st.dest_address = address
        return _VP(address)
    if not isinstance(v, (tuple, list)) or len(v) != 2:
        raise ValueError("kxpre.%s: %s must be an array or a shape (height, width), got %r" % (py, a.name, v))
    h, w = (_side(py, a.name, x, 1) for x in v)
    kit = _KIT[st.kind]
    if a.virtual and plan.e.result == "destination":
        # The result array itself, zeroed as a new image of the library is:
        # the export writes into it, and it is returned without a copy.
        bpp = _native.BYTES_PER_PIXEL[kit]
        if w * bpp * h > _native.MAX_IMAGE_BYTES:
            _native.refused(w, h, kit)  # the size no image has, before any memory is asked for
        arr = np.zeros((h, w) if bpp == 1 else (h, w, bpp), np.uint8)
        address = _native.wrap(arr, kit)
        st.images.append(address)
        st.destination, st.dest_address = arr, address
        return _VP(address)
    address = _native.new_image(kit, w, h)
    st.images.append(address)
    st.destination = st.dest_address = address
    return _VP(address)


def _copied_back(plan, st):
    """The caller's destination array after the call."""
    v = st.destination
    if st.copy_back is not None:
        out = _native.view(st.copy_back)
        if out.shape != v.shape:
            raise plan.fail(ValueError, "the library changed the destination's type (to shape %s)" % (out.shape,))
        v[...] = out
    return v


# ---- results -------------------------------------------------------------------


def _r_value(plan, st, returned):
    return int(returned)


def _r_ptr(plan, st, returned):
    return returned


def _r_dist(plan, st, returned):
    return st.distances


def _r_status(plan, st, returned):
    if st.outs is None:
        return _r_image(plan, st, returned) if plan.main is not None else returned
    if not returned:
        raise plan.fail(ValueError, "the library refused the arguments")
    return tuple(o.value for o in st.outs)


def _r_destination(plan, st, returned):
    if plan.e.returns != "void" and not returned:
        raise plan.fail(ValueError, "the library refused the arguments (the destination is unchanged)")
    if isinstance(st.destination, np.ndarray):
        return _copied_back(plan, st)
    return _handed_over(st, st.destination)


class _Owned:
    """The pixels of an image of the library's, lent to numpy: the array and
    every view of it have this object as their base, and the image is
    destroyed when the last of them goes."""

    __slots__ = ("__array_interface__", "address")

    def __init__(self, address, rec, bpp):
        shape = (rec.height, rec.width) if bpp == 1 else (rec.height, rec.width, bpp)
        self.__array_interface__ = {"shape": shape, "typestr": "|u1", "data": (rec.data, False), "version": 3}
        self.address = address

    def __del__(self):
        _native.destroy_image(self.address)


def _handed_over(st, address):
    """The pixels of a new image of the library's as the result array,
    without a copy (an image with padded rows, or one over memory the
    library does not own, is copied instead)."""
    rec = _native.record(address)
    bpp = _native.BYTES_PER_PIXEL.get(rec.imageType)
    if not bpp or rec.isVirtual or rec.pitch != rec.width * bpp or address not in st.images:
        return _native.view(address).copy()
    st.images.remove(address)  # no longer the call's to release
    return np.asarray(_Owned(address, rec, bpp))


def _r_image(plan, st, returned):
    if plan.main is None:
        return returned
    e = plan.e
    current = st.address
    if returned and returned == st.dest_address and isinstance(st.destination, np.ndarray):
        return _copied_back(plan, st)  # the library worked in the caller's destination
    if returned and returned != current and e.result in ("image", "new") and returned not in st.images:
        current = returned  # a new image made by the library
        st.images.append(returned)
    elif e.result == "new" and not returned:
        raise plan.fail(ValueError, "the library refused the arguments")
    if current == st.address and st.target is not None:
        # a grey image may have become binary and the other way round
        out, kit = st.target, _KIT[st.kind] if st.target.ndim == 3 else _native.record(current).imageType
    else:
        kit = _native.record(current).imageType
        out = _handed_over(st, current)
    if not st.inplace:
        out = _binary(plan, st, out, kit)
    if e.result == "flood":
        return out, int(returned)
    if st.outs:
        return (out,) + tuple(o.value for o in st.outs)
    return out


def _binary(plan, st, out, kit):
    """A result holding 0 and 1 as a bool array: a binary image (0/255 when
    the input was 0/255), or a grey one the export keeps 0/1 for a bool
    input; never one the export fills with other values."""
    rule = plan.e.binary_result
    if rule == "never" or out.ndim != 2:
        return out
    if kit == KIT_BIN:
        if st.was_255:
            return np.multiply(out, 255, out=out)
        return out.view(bool)
    if rule == "kept" and st.was_bool:
        return out.view(bool)
    return out


RESULTS = {
    "image": _r_image, "new": _r_image, "none": _r_image, "flood": _r_image, "status": _r_status,
    "u32": _r_value, "u8": _r_value, "int": _r_value, "ptr": _r_ptr, "dist": _r_dist,
    "destination": _r_destination,
}


def _signature(visible, enums):
    """Python parameters in C order; an argument keeps its default only when
    every later one has one too."""
    ps, trailing = [], True
    for a in reversed(visible):
        trailing = trailing and a.default is not NO_DEFAULT
        default = a.default if trailing else inspect.Parameter.empty
        if a.enum and isinstance(default, int) and default in enums[a.enum]._value2member_map_:
            default = enums[a.enum](default)
        ps.insert(0, inspect.Parameter(a.name, inspect.Parameter.POSITIONAL_OR_KEYWORD, default=default))
    return ps


def _front(name, params, run, images):
    """The Python function itself, with the export's own parameters (written
    out and compiled, so that Python binds the arguments)."""
    for p in params:
        if keyword.iskeyword(p.name) or p.name in ("inplace", "binary", "_d", "_run"):
            raise ValueError("kxpre: the manifest names an argument %r, which a Python function cannot have" % p.name)
    defaults = [p.default for p in params]
    text = ", ".join(p.name if p.default is inspect.Parameter.empty else "%s=_d[%d]" % (p.name, k)
                     for k, p in enumerate(params))
    names = "".join(p.name + ", " for p in params)
    if images:
        text += (", " if text else "") + "*, inplace=False, binary=None"
        body = "return _run([%s], inplace, binary)" % names
    else:
        body = "return _run([%s])" % names
    scope = {"_d": defaults, "_run": run}
    exec("def %s(%s):\n    %s\n" % (name, text, body), scope)
    f = scope[name]
    return f


def build(e, bind=_native._bind, module="kxpre", header="kxpre.h", enums=None):
    """The Python function of an export and its ctypes function (None when
    this library build lacks the export).  bind(name, restype, argtypes)
    finds the export in its library (a companion library's manifest passes
    its own, with the module and header its functions and messages name).

    Values an export writes through `out` arguments come back after the
    array (image results: (array, value, ...)) or alone (status results:
    a tuple of the values; a refusal raises ValueError)."""
    fn = bind(e.name, c_type(e.returns), [c_type(t) for t in e.c_types])
    # Messages name the function as "kxpre.name"; a companion module's
    # functions as "kxpre.extra.name".
    py = e.python if module == "kxpre" else module[len("kxpre."):] + "." + e.python
    plan = _Plan(e, fn, py, header)
    enums = ENUMS if enums is None else enums
    params = _signature(plan.visible, enums)
    call = _front(e.python, params, plan.run, plan.main is not None)
    call.__module__ = module
    call.__qualname__ = e.python
    call.__doc__ = docstring(e, plan.visible, plan.binary_default, header, enums, module)
    call.plan = plan
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


def docstring(e, visible, binary_default, header="kxpre.h", enums=None, module="kxpre"):
    enums = ENUMS if enums is None else enums
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
            extra.append("%s.%s: %s" % (module, a.enum, ", ".join("%s=%d" % (m.name, m.value) for m in enums[a.enum])))
        if a.same_size:
            extra.append("the size of %s" % a.same_size)
        if a.default is not NO_DEFAULT:
            d = a.default
            named = a.enum and d in enums[a.enum]._value2member_map_
            extra.append("default %s" % ("%s.%s" % (a.enum, enums[a.enum](d).name) if named else repr(d)))
        if extra:
            line += " (" + "; ".join(extra) + ")"
        lines.append(line.rstrip())
    if e.image is not None:
        lines.append("    inplace: work in the array's own memory and return it%s"
                     % (" (refused: this operation may change the size or type)" if e.resizes else ""))
        lines.append("    binary: take a 2-D uint8 array as binary (True) or grey (False); default %s"
                     % ("binary" if binary_default else "grey (bool arrays: binary)"))
    for c in e.requires:
        lines.append("Requires %s%s." % (c.text, " (the sample standard deviation of the image's pixels)"
                                         if "deviation" in (c.left, c.right) else ""))
    outs = [a.name for a in e.args if a.kind == "out"]
    note = {"kept": "; a bool input gives a bool result",
            "never": "; uint8 magnitudes also for a binary input"}.get(e.binary_result, "")
    returns = _RETURNS.get(e.result, "the resulting array (a binary result as a bool array, 0/255 uint8 for a "
                           "0/255 input%s)" % note)
    if outs:
        returns = ("(%s)" % ", ".join(outs)) if e.result == "status" else "(array, %s)" % ", ".join(outs)
    lines += ["", "Returns:", "    " + returns]
    lines += ["", "Raises TypeError for a wrong image kind or argument type and ValueError for an argument",
              "outside its range (ArgumentOverflowError when its C type cannot hold it).",
              "C function: %s (%s)." % (e.name, header)]
    if e.notes:
        lines += ["", "Notes (%s, in the C terms: KIT_BIN binary, KIT_GRAY grey, KIT_RGB B,G,R, ...):" % header]
        lines += ["    " + ln if ln else "" for ln in e.notes.split("\n")]
    return "\n".join(lines)
