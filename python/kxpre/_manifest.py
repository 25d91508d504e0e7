"""Reads an export manifest (include/kxpre-exports.toml): the one description
of every export, from which the binding builds its functions and checks and
tools/manifest/generate.py builds kxpipe's table and the export list.

Standard library only: the build runs this module without numpy or the
shared library.  The format is described at the top of the manifest.
"""

import math
import os
import re
import tomllib

MANIFEST = os.path.join(os.path.dirname(os.path.abspath(__file__)), "kxpre-exports.toml")

IMAGE_KINDS = ("bin", "gray", "rgb", "rgba")
KIND_WORDS = {"bin": "binary", "gray": "grey", "rgb": "B,G,R colour", "rgba": "B,G,R,A colour"}

# The argument kinds: one row each, the C types it may have, what it is to
# a caller (image: an array; integer, number: a checked value; value: any
# other given value; hidden: filled by the binding and kxpipe) and the C
# parameters it fills beyond the first (a point list adds its count).
# The binding's marshaller of each kind is in _ops.KINDS, kxpipe's words in
# tools/manifest/generate.py's _PIPE_KIND: a new kind is one row in each.
class Kind:
    def __init__(self, c_types, role, extra=()):
        self.c_types, self.role, self.extra = c_types, role, list(extra)


KINDS = {
    "image": Kind(("Image *", "const Image *"), "image"),
    "same": Kind(("Image *", "const Image *"), "image"),
    "channel": Kind(("const Image *",), "image"),
    "mask": Kind(("const Image *",), "image"),
    "element": Kind(("const Mask *",), "value"),
    "dest": Kind(("Image *",), "value"),
    "points": Kind(("const int *",), "value", ["int"]),
    "quad": Kind(("const float *",), "value"),
    "box": Kind(("EllipseBox",), "value"),
    "floodvalue": Kind(("FloodValue",), "value"),
    "floodrange": Kind(("FloodRecord",), "value"),
    "distances": Kind(("int32_t *",), "hidden"),
    "capacity": Kind(("uint32_t",), "hidden"),
    "colour": Kind(("uint32_t",), "integer"),
    "int": Kind(("int",), "integer"),
    "byte": Kind(("uint8_t",), "integer"),
    "uint32": Kind(("uint32_t",), "integer"),
    "float": Kind(("float",), "number"),
    "double": Kind(("double",), "number"),
    "text": Kind(("const char *",), "value"),
    "const": Kind(("int", "void *", "Image *", "double"), "hidden"),
    "out": Kind(("double *",), "hidden"),
}
_DEFAULT_KIND = {"int": "int", "uint8_t": "byte", "uint32_t": "uint32", "float": "float", "double": "double",
                 "const char *": "text"}
# The values a C integer type can hold.
C_INTEGER_RANGE = {"int": (-2**31, 2**31 - 1), "uint8_t": (0, 255), "uint32_t": (0, 2**32 - 1)}
RESULTS = ("image", "new", "none", "u32", "u8", "int", "status", "destination", "flood", "dist", "ptr")
# binary_result: "kept" (0/1 in, 0/1 out on an image taken as grey: a bool
# array comes back bool), "never" (a binary image then holds magnitudes
# 0..255); by default a binary result is one whose image is binary.
BINARY_RESULTS = ("kept", "never")
_EXPORT_KEYS = {"name", "python", "pipe", "summary", "images", "returns", "result", "resizes", "requires", "args",
                "notes", "binary_result", "reach", "pipe_step"}
_ARG_KEYS = {"name", "type", "kind", "value", "min", "max", "values", "enum", "finite", "min_points", "images",
             "same_size", "default", "doc", "virtual", "wider"}
_OPS = ("<=", ">=", "==", "!=", "<", ">")
# What a condition may compare besides arguments: measures of the worked-on
# image (deviation: the sample standard deviation of its pixels; kxpipe
# checks width and height only).
IMAGE_MEASURES = ("width", "height", "deviation")
NO_DEFAULT = object()


class ManifestError(ValueError):
    pass


class Arg:
    """One argument: a C parameter (two for a point list)."""

    def __init__(self, d, where, limits=None):
        unknown = set(d) - _ARG_KEYS
        if unknown:
            raise ManifestError("%s: unknown keys %s" % (where, sorted(unknown)))
        self.name = d["name"]
        self.type = d["type"]
        self.value = d.get("value")
        self.kind = "const" if "value" in d else d.get("kind", _DEFAULT_KIND.get(self.type))
        if self.kind not in KINDS or self.type not in KINDS[self.kind].c_types:
            raise ManifestError("%s %s: kind %s does not go with type %s" % (where, self.name, self.kind, self.type))
        self.min, self.max = (_limit(d.get(k), limits or {}, where) for k in ("min", "max"))
        self.virtual = bool(d.get("virtual", True))
        self.wider = bool(d.get("wider", False))
        self.values = d.get("values")
        self.enum = d.get("enum")
        self.finite = bool(d.get("finite", False))
        self.min_points = d.get("min_points", 1 if self.kind == "points" else 0)
        self.images = list(d.get("images", IMAGE_KINDS))
        self.same_size = d.get("same_size")
        default = d.get("default", NO_DEFAULT)
        self.default = None if default == "none" else default
        self.doc = d.get("doc", "")
        if self.value == "null":
            self.value = None

    @property
    def c_types(self):
        """The C parameter types this argument fills."""
        return [self.type] + KINDS[self.kind].extra

    @property
    def hidden(self):
        """Filled by the binding, not given by the caller."""
        return KINDS[self.kind].role == "hidden"

    @property
    def integer(self):
        return KINDS[self.kind].role == "integer"

    @property
    def number(self):
        return KINDS[self.kind].role == "number"

    def type_range(self):
        """(lo, hi) the C type can hold, for integer kinds."""
        return C_INTEGER_RANGE[self.type] if self.integer else None

    def accepted(self):
        """The documented range in words, or '' when any value of the type
        is accepted."""
        if self.values is not None:
            return "one of " + ", ".join(str(v) for v in self.values)
        parts = []
        if self.min is not None and self.max is not None:
            return "%s..%s" % (_num(self.min), _num(self.max))
        if self.min is not None:
            parts.append("at least %s" % _num(self.min))
        if self.max is not None:
            parts.append("at most %s" % _num(self.max))
        if self.finite and not parts:
            parts.append("finite")
        return ", ".join(parts)

    def check(self, v):
        """None when v lies in the documented range, else why not."""
        if self.values is not None and v not in self.values:
            return "must be %s" % self.accepted()
        if self.finite and not math.isfinite(v):
            return "must be finite"
        if (self.min is not None and not v >= self.min) or (self.max is not None and not v <= self.max):
            return "must be %s" % self.accepted()
        return None


def _limit(v, limits, where):
    """A bound: a number, or the name of one of the manifest's [limit]s."""
    if isinstance(v, str):
        if v not in limits:
            raise ManifestError("%s: unknown limit %r" % (where, v))
        return limits[v]
    return v


def _num(v):
    return str(int(v)) if float(v).is_integer() else repr(v)


class Condition:
    """A condition between arguments: left OP right."""

    def __init__(self, text, names, where):
        m = re.fullmatch(r"\s*(\w+)\s*(<=|>=|==|!=|<|>)\s*(-?[\w.]+)\s*", text)
        if not m:
            raise ManifestError("%s: cannot read the condition %r" % (where, text))
        self.text = text
        self.left, self.op, right = m.groups()
        try:
            self.right = float(right) if "." in right else int(right)
        except ValueError:
            self.right = right
        for side in (self.left, self.right):
            if isinstance(side, str) and side not in names and side not in IMAGE_MEASURES:
                raise ManifestError("%s: %r names no argument" % (where, text))

    @property
    def needs_image(self):
        return any(m in (self.left, self.right) for m in IMAGE_MEASURES)

    def holds(self, values):
        """Whether the condition holds; values maps argument names (and
        width, height) to numbers."""
        a = values[self.left]
        b = values[self.right] if isinstance(self.right, str) else self.right
        return {"<": a < b, "<=": a <= b, ">": a > b, ">=": a >= b, "==": a == b, "!=": a != b}[self.op]


# Reach rules: the reach in pixels from the argument's value.
REACH_RULES = ("element", "half", "at_least_1", "at_least_0")


class Export:
    def __init__(self, d, prefix, limits=None):
        where = d.get("name", "?")
        unknown = set(d) - _EXPORT_KEYS
        if unknown:
            raise ManifestError("%s: unknown keys %s" % (where, sorted(unknown)))
        self.name = d["name"]
        bare = re.sub("^" + prefix, "", self.name)
        self.python = d.get("python", re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", bare).lower())
        pipe = d.get("pipe", bare.lower())
        self.pipe = pipe if pipe else None
        # kxpipe: a hand-written step function (tools/operations.cpp) run with
        # the arguments this entry describes, instead of the generated call.
        self.pipe_step = d.get("pipe_step")
        self.summary = d["summary"]
        self.images = list(d["images"])
        for k in self.images:
            if k not in IMAGE_KINDS:
                raise ManifestError("%s: unknown image kind %r" % (where, k))
        self.returns = d["returns"]
        self.result = d["result"]
        if self.result not in RESULTS:
            raise ManifestError("%s: unknown result %r" % (where, self.result))
        self.resizes = bool(d.get("resizes", False))
        # The header's comment on the function (checked against it).
        notes = d.get("notes", "")
        self.notes = notes.strip() if isinstance(notes, str) else "\n".join(notes).strip()
        self.binary_result = d.get("binary_result")
        if self.binary_result not in (None,) + BINARY_RESULTS:
            raise ManifestError("%s: binary_result is one of %s" % (where, ", ".join(BINARY_RESULTS)))
        # How far a pixel's result reaches into its neighbourhood (kxpre.tiled):
        # a number of pixels, or "rule:argument" with a rule of REACH_RULES.
        self.reach = d.get("reach")
        if isinstance(self.reach, str):
            rule, _, arg = self.reach.partition(":")
            if rule not in REACH_RULES or arg not in [a["name"] for a in d["args"]]:
                raise ManifestError("%s: cannot read the reach %r" % (where, self.reach))
        self.args = [Arg(a, where, limits) for a in d["args"]]
        names = [a.name for a in self.args]
        if len(set(names)) != len(names):
            raise ManifestError("%s: argument names repeat" % where)
        self.requires = [Condition(t, names, where) for t in d.get("requires", [])]
        for a in self.args:
            if a.same_size and a.same_size not in names:
                raise ManifestError("%s %s: same_size names no argument" % (where, a.name))

    def reach_for(self, values):
        """The reach in pixels of a call with these argument values (by
        name), or None when the export cannot be tiled."""
        if not isinstance(self.reach, str):
            return self.reach
        rule, _, name = self.reach.partition(":")
        v = values[name]
        if rule == "element":
            if v is None:
                return 1
            return max(int(v[1]), int(v[2])) if isinstance(v, tuple) else max(v.shape)
        if rule == "half":
            return (abs(int(v)) + 1) // 2  # an even side acts as the next odd one
        return max(int(v), 1 if rule == "at_least_1" else 0)

    @property
    def image(self):
        """The argument of the image worked on, or None."""
        return next((a for a in self.args if a.kind == "image"), None)

    def arg(self, name):
        return next(a for a in self.args if a.name == name)

    @property
    def c_types(self):
        return [t for a in self.args for t in a.c_types]


class Manifest:
    def __init__(self, path=MANIFEST):
        if not os.path.exists(path):
            raise ManifestError("the export manifest %s is missing (a package must ship it next to "
                                "_manifest.py)" % path)
        with open(path, "rb") as f:
            d = tomllib.load(f)
        self.path = path
        self.library = d["library"]
        self.prefix = d["prefix"]
        self.enums = {name: dict(members) for name, members in d.get("enum", {}).items()}
        # Named limits ([limit] NAME = value: a #define of the headers) and
        # the #define prefix of each enum's members ([defines] Enum = "KX_..._").
        self.limits = dict(d.get("limit", {}))
        self.defines = dict(d.get("defines", {}))
        for name in self.defines:
            if name not in self.enums:
                raise ManifestError("%s: [defines] names the unknown enum %s" % (path, name))
        # The header's comments on functions the manifest does not describe.
        self.notes = {name: text.strip() for name, text in d.get("notes", {}).items()}
        self.exports = [Export(e, self.prefix, self.limits) for e in d.get("export", [])]
        for e in self.exports:
            for a in e.args:
                if a.enum and a.enum not in self.enums:
                    raise ManifestError("%s %s: unknown enum %s" % (e.name, a.name, a.enum))
        for attr in ("python", "pipe"):
            seen = [getattr(e, attr) for e in self.exports if getattr(e, attr)]
            if len(set(seen)) != len(seen):
                raise ManifestError("%s: repeated %s names" % (path, attr))
        # An export described more than once (each entry fixing arguments
        # with `value`) keeps its C declaration.
        first = {}
        for e in self.exports:
            f = first.setdefault(e.name, e)
            if (f.returns, f.c_types) != (e.returns, e.c_types):
                raise ManifestError("%s: %s is described with different C types" % (path, e.name))

    @property
    def names(self):
        """The C names of the exports, each once, in order."""
        return list(dict.fromkeys(e.name for e in self.exports))
