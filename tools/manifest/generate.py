#!/usr/bin/env python3
"""Builds what the export manifest (include/kxpre-exports.toml) describes.

  generate.py exports MANIFEST OUT        the names the library must export
  generate.py pipe-table MANIFEST OUT     kxpipe's operations (C++ include)
  generate.py test-calls MANIFEST OUT     one call per export taking an image,
        on small pictures with arguments inside the manifest's bounds (the
        rows of tests/failinject/export_calls.hpp)
  generate.py fuzz-calls MANIFEST OUT     one fuzzer row per export, its
        arguments decoded from the input (tests/fuzz/fuzz_exports.cpp)
  generate.py check-header MANIFEST HEADER
        fails unless the header declares exactly the manifest's exports, each
        with the manifest's result and argument types, in order, and the
        header's comment on it as its notes, and unless the header (with the
        headers it includes) #defines the manifest's enums and limits

Standard library only; the manifest is read by the Python package's reader
(python/kxpre/_manifest.py), so that both sides read it the same way.
"""

import os
import re
import sys

# The package's manifest reader, imported alone (without the package, which
# needs numpy and the library).
sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "python", "kxpre"))
import _manifest as manifest  # noqa: E402

_KIND_BITS = {"bin": "kBin", "gray": "kGray", "rgb": "kRgb", "rgba": "kRgba"}
# kxpipe's word kinds (see tools/operations.hpp).
_PIPE_KIND = {"int": "i", "byte": "i", "uint32": "u", "colour": "u", "float": "f", "double": "d", "text": "s",
              "points": "p", "quad": "q", "same": "I", "channel": "C", "mask": "M", "element": "E",
              "floodvalue": "u", "floodrange": "d"}
_BOX = ("cx", "cy", "width", "height", "angle")


def write_if_changed(path, text):
    """Leaves the file alone when it already holds the text (no rebuild)."""
    if os.path.exists(path) and open(path).read() == text:
        return
    os.makedirs(os.path.dirname(os.path.abspath(path)), exist_ok=True)
    with open(path + ".tmp", "w") as f:
        f.write(text)
    os.replace(path + ".tmp", path)


def c_string(s):
    return '"' + s.replace("\\", "\\\\").replace('"', '\\"') + '"'


def kind_bits(kinds):
    return " | ".join(_KIND_BITS[k] for k in kinds) if kinds else "0u"


def c_number(v):
    if v is None:
        return None
    return repr(float(v)) if isinstance(v, float) else str(v) + ".0"


class PipeOperation:
    """An export as a kxpipe step: its command-line arguments and the call."""

    def __init__(self, e):
        self.e = e
        self.into = e.result == "destination"
        self.words = []      # (name, pipe kind, arg or None, extra fields)
        self.first_word = {}  # manifest argument name -> index of its first word
        self.call = []       # C++ expressions, one per C parameter
        self.outs = []       # names of the double values the export writes
        for a in e.args:
            k = len(self.words)
            self.first_word[a.name] = k
            if a.kind == "image":
                self.call.append("im")
            elif a.kind == "const":
                self.call.append("nullptr" if a.value is None else str(a.value))
            elif a.kind == "dest":
                if self.into:
                    self.words += [("width", "i", None, {"min": 1}), ("height", "i", None, {"min": 1})]
                    self.call.append("dst")
                else:
                    self.call.append("nullptr")
            elif a.kind == "box":
                self.words += [(n, "d", None, {"finite": True}) for n in _BOX]
                self.call.append("EllipseBox{%s}" % ", ".join("a.d(%d)" % (k + i) for i in range(5)))
            elif a.kind in ("distances", "capacity"):
                pass  # the distance map step makes its own array
            elif a.kind == "out":
                self.call.append("&out[%d]" % len(self.outs))
                self.outs.append(a.name)
            else:
                pk = _PIPE_KIND[a.kind]
                extra = {"min": 0} if a.kind == "floodrange" else {}
                self.words.append((a.name, pk, a, extra))
                self.call += {
                    "int": ["a.i(%d)"], "byte": ["uint8_t(a.i(%d))"], "uint32": ["a.u(%d)"], "colour": ["a.u(%d)"],
                    "float": ["a.f(%d)"], "double": ["a.d(%d)"], "text": ["a.s(%d)"],
                    "points": ["a.points(%d)", "a.count(%d)"], "quad": ["a.quad(%d)"], "same": ["a.image(%d)"],
                    "channel": ["a.image(%d)"], "mask": ["a.image(%d)"], "element": ["a.element(%d)"],
                    "floodvalue": ["floodValue(a.u(%d))"], "floodrange": ["floodRange(a.d(%d))"],
                }[a.kind]
                self.call = [c % k if "%d" in c else c for c in self.call]

    def parameter(self, name, pk, a, extra):
        f = [".name = %s" % c_string(name), ".kind = '%s'" % pk]
        if a is not None and a.kind == "byte":
            f += [".lo = 0", ".hi = 255"]  # other integers: the range of int, or uint32_t for 'u'
        lo = extra.get("min", a.min if a else None)
        hi = a.max if a else None
        if lo is not None:
            f.append(".min = %s" % c_number(lo))
        if hi is not None:
            f.append(".max = %s" % c_number(hi))
        if a is not None and a.values is not None:
            f.append(".values = {%s}" % ", ".join(str(v) for v in a.values))
        if extra.get("finite") or (a is not None and a.finite):
            f.append(".finite = true")
        if a is not None and a.min_points:
            f.append(".minPoints = %d" % a.min_points)
        if a is not None and a.kind == "channel":
            f.append(".images = %s" % kind_bits(a.images))
        if a is not None and a.same_size:
            other = self.e.arg(a.same_size)
            f.append(".sameSize = %d" % (-2 if other.kind == "image" else self.first_word[a.same_size]))
        if a is not None and a.default is not manifest.NO_DEFAULT:
            f.append(".fallback = %s" % c_string("-" if a.default is None else str(a.default)))
        return "{" + ", ".join(f) + "}"

    def condition(self, c):
        def side(s):
            if s == "width":
                return "kWidth", "0"
            if s == "height":
                return "kHeight", "0"
            if isinstance(s, str):
                return str(self.first_word[s]), "0"
            return "kNumber", c_number(s)
        left, _ = side(c.left)
        right, number = side(c.right)
        return "{%s, %s, \"%s\", %s, %s}" % (c_string(c.text), left, c.op, right, number)

    def run(self):
        e = self.e
        call = "%s(%s)" % (e.name, ", ".join(self.call))
        if e.pipe_step:
            return e.pipe_step
        if e.result == "dist":
            return "[](ImagePtr &image, const Arguments &) -> StepResult { return distanceMap(image); }"
        if self.into:
            return ("[](ImagePtr &image, const Arguments &a) -> StepResult { return into(image, a.i(%d), a.i(%d), "
                    "[&](Image *im, Image *dst) { return %s; }); }"
                    % (self.first_word[next(x.name for x in e.args if x.kind == "dest")],
                       self.first_word[next(x.name for x in e.args if x.kind == "dest")] + 1,
                       call if e.returns != "void" else "(%s, 1)" % call))
        if self.outs:
            # The values written through `out` pointers: printed after a
            # status result of 1; beside an image result only computed.
            decl = "double out[%d] = {}; " % len(self.outs)
            if e.result == "status":
                return ("[](ImagePtr &image, [[maybe_unused]] const Arguments &a) -> StepResult { Image *im = "
                        "image.get(); %sif (!%s) return status(0); return shownNumbers(out, %d); }"
                        % (decl, call, len(self.outs)))
            if e.result != "image":
                raise ValueError("%s: out arguments go with an image or status result" % e.name)
            return ("[](ImagePtr &image, [[maybe_unused]] const Arguments &a) -> StepResult { Image *im = "
                    "image.get(); %sreturn noted(replaced(image, %s), {%s}, out); }"
                    % (decl, call, ", ".join(c_string(n) for n in self.outs)))
        body = {
            "image": "return replaced(image, %s);",
            "new": "return replaced(image, %s);",
            "none": "%s; return {};",
            "u32": "return shown(%s);",
            "u8": "return shown(%s);",
            "int": "return shown(%s);",
            "flood": "return shown(%s);",
            "status": "return status(%s);",
        }[e.result] % call
        return "[](ImagePtr &image, [[maybe_unused]] const Arguments &a) -> StepResult { Image *im = image.get(); %s }" % body

    def entry(self):
        e = self.e
        args = ",\n      ".join(self.parameter(*w) for w in self.words)
        # kxpipe checks the conditions on arguments and the image's size.
        conds = ", ".join(self.condition(c) for c in e.requires if "deviation" not in (c.left, c.right))
        prints = e.result in ("u32", "u8", "int", "flood") or (e.result == "status" and bool(self.outs))
        return ("  {%s, %s, %s, %s,\n     {%s},\n     {%s}, %s,\n     %s},\n"
                % (c_string(e.pipe), c_string(e.name), c_string(e.summary), kind_bits(e.images),
                   ("\n      " + args) if args else "", conds, "true" if prints else "false", self.run()))


def pipe_table(m):
    out = ["// Generated from %s by tools/manifest/generate.py: do not edit.\n" % os.path.basename(m.path),
           "// The %s steps of kxpipe, one per export that works on one image.\n" % m.library]
    for e in m.exports:
        if e.pipe:
            out.append(PipeOperation(e).entry())
    return "".join(out)


_TYPE_CODE = {"bin": "B", "gray": "G", "rgb": "C", "rgba": "A"}


def _takes_image(e):
    return any(a.kind == "image" for a in e.args)


# The arguments of a test call that are the same for every export.
_TEST_CALL_VALUES = {
    "element": "m",
    "points": "kPoly, 4",
    "box": "EllipseBox{6, 4, 8, 5, 20}",
    "floodvalue": "FloodValue{9, 9, 9}",
    "floodrange": "kTol",
    "distances": "std::vector<int32_t>(size_t(a->width) * a->height).data()",
    "capacity": "uint32_t(a->width * a->height)",
}


def test_call(e):
    """A Case row: the export on pictures, every argument a plain value inside
    its bounds that meets the export's conditions (numbers rising in the
    order of the arguments, so that "a < b" holds)."""
    t = _TYPE_CODE[e.images[0]]
    b = None  # the second picture, where an argument takes one
    out, ints, floats, doubles, bytes_, quads, texts = [], 0, 0, 0, 0, 0, 0
    for a in e.args:
        k = a.kind
        if k == "image":
            out.append("a")
        elif k in ("same", "channel", "dest", "mask") and (k != "dest" and k != "mask" or a.default is not None):
            kind = {"same": t, "channel": _TYPE_CODE[a.images[0]] if a.kind == "channel" else t,
                    "mask": "G", "dest": t}[k]
            b = "{%s%s}" % (kind, ", 7, 5" if k == "dest" else "")
            out.append("b")
        elif k in ("dest", "mask"):
            out.append("nullptr")
        elif k == "const":
            out.append("nullptr" if a.value is None else str(a.value))
        elif k in _TEST_CALL_VALUES:
            out.append(_TEST_CALL_VALUES[k])
        elif k == "quad":
            out.append("kQuad" if quads == 0 else "kQuad2")
            quads += 1
        elif k == "text":
            out.append('"Ab\\nc"' if texts == 0 else "nullptr")
            texts += 1
        else:
            if a.default is not manifest.NO_DEFAULT and a.default is not None:
                v = a.default
            elif k in ("int", "uint32"):
                v, ints = 2 + ints, ints + 1
            elif k == "byte":
                v, bytes_ = 100 + 30 * bytes_, bytes_ + 1
            elif k == "float":
                v, floats = 0.25 * (floats + 1), floats + 1
            elif k == "double":
                v, doubles = 5.5 * (doubles + 1), doubles + 1
            elif k == "colour":
                v = 0xFF336699
            else:
                raise ValueError("%s: no sample for kind %s" % (e.name, k))
            if a.values is not None and v not in a.values:
                v = a.values[0]
            if a.min is not None and v < a.min:
                v = a.min
            if a.max is not None and v > a.max:
                v = a.max
            if k == "float":
                out.append(repr(float(v)) + "f")
            elif k == "double":
                out.append(repr(float(v)))
            elif k == "colour":
                out.append("0x%Xu" % v)
            else:
                out.append(str(v))
    call = "%s(%s)" % (e.name, ", ".join(out))
    if e.returns == "Image *":
        body = "RET(%s)" % call
    elif e.result == "destination":
        body = "VB(%s)" % call
    else:
        body = "VA(%s)" % call
    wrapped = "false" if e.resizes else "true"
    return '    {"%s", {%s, 12, 9, %s}, %s, %s},\n' % (e.name, t, wrapped, b or "{}", body)


def test_calls(m):
    out = ["// Generated from %s by tools/manifest/generate.py: do not edit.\n" % os.path.basename(m.path),
           "// One call of each %s export that takes an image (kxcalls::Case rows).\n" % m.library]
    return "".join(out + [test_call(e) for e in m.exports if _takes_image(e)])


# The fuzzer's decoding of a value of each kind (tests/fuzz/fuzz_exports.cpp).
_FUZZ_VALUE = {"int": "c.arg()", "byte": "c.u8()", "uint32": "uint32_t(c.arg())", "colour": "c.colour()",
               "float": "c.real()", "double": "c.realD()", "text": "c.text()", "floodrange": "c.tolerance()",
               "floodvalue": "FloodValue{c.u8(), c.u8(), c.u8()}", "element": "c.mask()", "box": "c.box()"}


def fuzz_call(e):
    """A fuzzer row: the arguments decoded in the order of the parameters, the
    worked-on image made first by the harness from its kind."""
    image = next((a for a in e.args if a.kind == "image"), None)
    hint = "NONE" if image is None else "ANY" if len(e.images) == 4 else _TYPE_CODE[e.images[0]]
    read_only = "true" if image is not None and image.type.startswith("const") else "false"
    lines, call = [], []
    for i, a in enumerate(e.args):
        v = "v%d" % i
        k = a.kind
        if k == "image":
            call.append("c.a")
            continue
        if k == "const":
            call.append("nullptr" if a.value is None else str(a.value))
            continue
        if k == "same":
            lines.append("Image *%s = c.other(c.a->imageType, %s);" % (v, "true" if a.type.startswith("const")
                                                                         else "false"))
        elif k == "channel":
            lines.append("Image *%s = c.other(%s, true);" % (v, _TYPE_CODE[a.images[0]]))
        elif k == "mask":
            lines.append("Image *%s = c.maybe(%s, true);" % (v, "B" if e.images == ["bin"] else "G"))
        elif k == "dest":
            lines.append("Image *%s = %sc.other(ANY);" % (v, "c.flag(3) ? nullptr : " if a.default is None else ""))
        elif k == "points":
            lines.append("const int %s_n = c.arg() %% 24; std::vector<int> %s = c.points(%s_n);" % (v, v, v))
            call.append("c.flag(8) ? nullptr : %s.data()" % v)
            call.append("%s_n" % v)
            continue
        elif k == "quad":
            lines.append("std::vector<float> %s_q = c.fpoints(4); const float *%s = c.quad(%s_q);" % (v, v, v))
        elif k == "distances":
            lines.append("const uint32_t %s_n = uint32_t(c.u8()) %% uint32_t(c.a->width * std::max(c.a->height, 1) "
                         "+ 4); std::vector<int32_t> %s(%s_n ? %s_n : 1);" % (v, v, v, v))
            call.append("c.flag(4) ? nullptr : %s.data()" % v)
            continue
        elif k == "capacity":
            call.append("v%d_n" % (i - 1))
            continue
        else:
            lines.append("const auto %s = %s;" % (v, _FUZZ_VALUE[k]))
        call.append(v)
    expr = "%s(%s)" % (e.name, ", ".join(call))
    if e.returns == "Image *":
        ret = "return c.created(%s);" % expr if e.result in ("new", "destination") else "return %s;" % expr
    elif e.returns == "void *":
        ret = "return static_cast<Image *>(%s);" % expr
    else:
        ret = "(void)%s; return nullptr;" % expr
    return '    {"%s", %s, %s, [](Ctx &c) -> Image * { %s }},\n' % (
        e.name, hint, read_only, " ".join(lines + [ret]))


def fuzz_calls(m):
    out = ["// Generated from %s by tools/manifest/generate.py: do not edit.\n" % os.path.basename(m.path),
           "// One fuzzer row per %s export (the rows of the Export table).\n" % m.library]
    return "".join(out + [fuzz_call(e) for e in m.exports])


def exports(m):
    return "".join(name + "\n" for name in m.names)


def header_declarations(path):
    """{name: (result type, [parameter types])} of the API declarations,
    those of the headers it includes by a quoted name from its own folder
    too."""
    source = re.sub(r"/\*.*?\*/", " ", open(path).read(), flags=re.S)
    out = {}
    for inc in re.findall(r'^#include "([^"/]+)"', source, flags=re.M):
        beside = os.path.join(os.path.dirname(path), inc)
        if os.path.exists(beside):
            out.update(header_declarations(beside))
    for d in re.finditer(r"^\w+_API[ \t]+([\w \t*]+?)\b(\w+)\s*\(([^)]*)\)\s*;", source, flags=re.M):
        params = []
        for p in d.group(3).split(","):
            p = re.sub(r"\s+", " ", p.strip())
            if p and p != "void":
                params.append(re.sub(r"\s*\b\w+$", "", p).replace(" *", " *").strip())
        out[d.group(2)] = (re.sub(r"\s+", " ", d.group(1).strip()), params)
    return out


def header_comments(path):
    """{name: text} of the comment just above each API declaration, without
    its comment marks (the function's description in the header)."""
    source = open(path).read()
    out = {}
    for d in re.finditer(r"^\w+_API[ \t]+[\w \t*]+?\b(\w+)\s*\(", source, flags=re.M):
        before = source[:d.start()].rstrip()
        if not before.endswith("*/"):
            continue
        start = before.rfind("/*")
        lines = before[start + 2:-2].split("\n")
        text = [re.sub(r"^\s*\* ?", "", ln) if k else ln.strip() for k, ln in enumerate(lines)]
        out[d.group(1)] = "\n".join(text).strip()
    return out


def include_folders(start):
    """The include folders of the tree's libraries: include/, extra/include
    and platform/*/include of the tree holding `start`."""
    root = os.path.dirname(os.path.abspath(start))
    while root != os.path.dirname(root) and not os.path.isdir(os.path.join(root, "platform")):
        root = os.path.dirname(root)
    platform = os.path.join(root, "platform")
    libs = sorted(os.listdir(platform)) if os.path.isdir(platform) else []
    return [os.path.join(root, "include"), os.path.join(root, "extra", "include")] + [
        os.path.join(platform, lib, "include") for lib in libs]


def header_defines(path, folders, seen=None):
    """{name: integer} of the #defines of a header and of the headers it
    includes with quotes (looked for beside it, then in `folders`)."""
    seen = set() if seen is None else seen
    path = os.path.abspath(path)
    if path in seen or not os.path.exists(path):
        return {}
    seen.add(path)
    source = open(path).read()
    out = {}
    for name, value in re.findall(r"^#define[ \t]+(\w+)[ \t]+\(?(-?(?:0[xX][0-9a-fA-F]+|\d+))[uU]?\)?", source,
                                  flags=re.M):
        out[name] = int(value, 0)
    for include in re.findall(r'^#include[ \t]+"([^"]+)"', source, flags=re.M):
        for folder in [os.path.dirname(path)] + folders:
            if os.path.exists(os.path.join(folder, include)):
                out.update(header_defines(os.path.join(folder, include), folders, seen))
                break
    return out


def check_defines(m, header):
    """The manifest's enums (by their [defines] prefix) and named limits
    against the header's #defines."""
    defines = header_defines(header, include_folders(m.path))
    problems = []
    for enum, prefix in sorted(m.defines.items()):
        for member, value in m.enums[enum].items():
            name = prefix + member
            if name not in defines:
                problems.append("%s.%s: no #define %s in the header" % (enum, member, name))
            elif defines[name] != value:
                problems.append("%s.%s: %d in the manifest, %s %d in the header" % (enum, member, value, name,
                                                                                 defines[name]))
    for name, value in sorted(m.limits.items()):
        if name not in defines:
            problems.append("limit %s: no #define in the header" % name)
        elif defines[name] != value:
            problems.append("limit %s: %d in the manifest, %d in the header" % (name, value, defines[name]))
    return problems


def _words(text):
    return " ".join((text or "").split())


def check_header(m, header):
    declared = header_declarations(header)
    problems = check_defines(m, header)
    comments = header_comments(header)
    for e in {e.name: e for e in m.exports}.values():
        if _words(e.notes) != _words(comments.get(e.name)):
            problems.append("%s: the manifest's notes are not the header's comment" % e.name)
    for name, text in m.notes.items():
        if _words(text) != _words(comments.get(name)):
            problems.append("%s: the manifest's notes are not the header's comment" % name)
    described = {e.name: e for e in m.exports}  # entries of one export share their C types
    for name in sorted(set(declared) - set(described)):
        problems.append("%s: declared in the header, missing from the manifest" % name)
    for name in sorted(set(described) - set(declared)):
        problems.append("%s: in the manifest, not declared in the header" % name)
    for name in sorted(set(declared) & set(described)):
        returns, params = declared[name]
        e = described[name]
        if returns != e.returns:
            problems.append("%s: returns %s in the header, %s in the manifest" % (name, returns, e.returns))
        if params != e.c_types:
            problems.append("%s: parameters (%s) in the header, (%s) in the manifest"
                            % (name, ", ".join(params), ", ".join(e.c_types)))
    return problems


def main(argv):
    generators = {"exports": exports, "pipe-table": pipe_table, "test-calls": test_calls, "fuzz-calls": fuzz_calls}
    if len(argv) != 4 or argv[1] not in list(generators) + ["check-header"]:
        sys.stderr.write(__doc__)
        return 2
    m = manifest.Manifest(argv[2])
    if argv[1] in generators:
        write_if_changed(argv[3], generators[argv[1]](m))
    else:
        problems = check_header(m, argv[3])
        for p in problems:
            print(p)
        print("%d exports in %s, %d disagreements with %s"
              % (len(m.names), os.path.basename(argv[2]), len(problems), os.path.basename(argv[3])))
        return 1 if problems else 0
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
