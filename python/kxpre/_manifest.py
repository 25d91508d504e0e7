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

# Argument kinds, the C types each may have, and how many C parameters it
# fills.
_KIND_TYPES = {
    "image": ("Image *", "const Image *"),
    "same": ("Image *", "const Image *"),
    "channel": ("const Image *",),
    "mask": ("const Image *",),
    "element": ("const Mask *",),
    "dest": ("Image *",),
    "points": ("const int *",),
    "quad": ("const float *",),
    "box": ("EllipseBox",),
    "floodvalue": ("FloodValue",),
    "floodrange": ("FloodRecord",),
    "distances": ("int32_t *",),
    "capacity": ("uint32_t",),
    "colour": ("uint32_t",),
    "int": ("int",),
    "byte": ("uint8_t",),
    "uint32": ("uint32_t",),
    "float": ("float",),
    "double": ("double",),
    "text": ("const char *",),
    "const": ("int", "void *", "Image *", "double"),
    "out": ("double *",),
}
_DEFAULT_KIND = {"int": "int", "uint8_t": "byte", "uint32_t": "uint32", "float": "float", "double": "double",
                 "const char *": "text"}
# The values a C integer type can hold.
C_INTEGER_RANGE = {"int": (-2**31, 2**31 - 1), "uint8_t": (0, 255), "uint32_t": (0, 2**32 - 1)}
RESULTS = ("image", "new", "none", "u32", "u8", "int", "status", "destination", "flood", "dist", "ptr")
_EXPORT_KEYS = {"name", "python", "pipe", "summary", "images", "returns", "result", "resizes", "requires", "args"}
_ARG_KEYS = {"name", "type", "kind", "value", "min", "max", "values", "enum", "finite", "min_points", "images",
             "same_size", "default", "doc"}
_OPS = ("<=", ">=", "==", "!=", "<", ">")
NO_DEFAULT = object()


class ManifestError(ValueError):
    pass


class Arg:
    """One argument: a C parameter (two for a point list)."""

    def __init__(self, d, where):
        unknown = set(d) - _ARG_KEYS
        if unknown:
            raise ManifestError("%s: unknown keys %s" % (where, sorted(unknown)))
        self.name = d["name"]
        self.type = d["type"]
        self.value = d.get("value")
        self.kind = "const" if "value" in d else d.get("kind", _DEFAULT_KIND.get(self.type))
        if self.kind not in _KIND_TYPES or self.type not in _KIND_TYPES[self.kind]:
            raise ManifestError("%s %s: kind %s does not go with type %s" % (where, self.name, self.kind, self.type))
        self.min, self.max = d.get("min"), d.get("max")
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
        return [self.type, "int"] if self.kind == "points" else [self.type]

    @property
    def hidden(self):
        """Filled by the binding, not given by the caller."""
        return self.kind in ("const", "distances", "capacity", "out")

    @property
    def integer(self):
        return self.kind in ("int", "byte", "uint32", "colour")

    @property
    def number(self):
        return self.kind in ("float", "double")

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
            if isinstance(side, str) and side not in names and side not in ("width", "height"):
                raise ManifestError("%s: %r names no argument" % (where, text))

    @property
    def needs_image(self):
        return "width" in (self.left, self.right) or "height" in (self.left, self.right)

    def holds(self, values):
        """Whether the condition holds; values maps argument names (and
        width, height) to numbers."""
        a = values[self.left]
        b = values[self.right] if isinstance(self.right, str) else self.right
        return {"<": a < b, "<=": a <= b, ">": a > b, ">=": a >= b, "==": a == b, "!=": a != b}[self.op]


class Export:
    def __init__(self, d, prefix):
        where = d.get("name", "?")
        unknown = set(d) - _EXPORT_KEYS
        if unknown:
            raise ManifestError("%s: unknown keys %s" % (where, sorted(unknown)))
        self.name = d["name"]
        bare = re.sub("^" + prefix, "", self.name)
        self.python = d.get("python", re.sub(r"(?<=[a-z0-9])([A-Z])", r"_\1", bare).lower())
        pipe = d.get("pipe", bare.lower())
        self.pipe = pipe if pipe else None
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
        self.args = [Arg(a, where) for a in d["args"]]
        names = [a.name for a in self.args]
        if len(set(names)) != len(names):
            raise ManifestError("%s: argument names repeat" % where)
        self.requires = [Condition(t, names, where) for t in d.get("requires", [])]
        for a in self.args:
            if a.same_size and a.same_size not in names:
                raise ManifestError("%s %s: same_size names no argument" % (where, a.name))

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
        self.exports = [Export(e, self.prefix) for e in d["export"]]
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
