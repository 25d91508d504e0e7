"""The document calls a build offers, found by looking rather than assumed.

A tree measured by bench/documents.py may be older or newer than this script:
the document binarizer (kxxBinarizeDocument) and the one-call page cleaner
(kxxCleanPage, kxpipe step `cleanpage`, Python kxpre.extra.clean_page) are
each used through whatever the build has:

- the binarizer through the library symbol (ctypes, ink set), else a Python
  function of kxpre.extra;
- the page cleaner through kxpre.extra.clean_page, else the kxpipe step
  (a PNG in and out, the step's own duration from --time).

Every route returns a Timed value when it knows its own duration better than
the caller's clock (kxpipe's process start and file I/O are not the step's).
"""

import ctypes
import os
import re
import subprocess
import tempfile

import numpy as np

KIT_GRAY = 8


class Timed:
    """A result with the seconds its work took, measured by the route."""

    def __init__(self, value, seconds):
        self.value, self.seconds = value, seconds


def ink_of(array):
    """Ink of a result whose polarity is not declared: of a two-level
    picture the less frequent level (pages are mostly paper), of a grey one
    what is darker than mid-grey."""
    a = np.asarray(array)
    if a.ndim == 3:
        a = a[..., 0]
    if a.dtype == bool:
        a = a.view(np.uint8)
    if len(np.unique(a)) > 2:
        return a < 128
    lo = a == a.min()
    if lo.all():
        return np.zeros(a.shape, bool)
    return lo if lo.mean() <= 0.5 else ~lo


def ink_set(array):
    """Ink of a result declared ink set: 1 (or True, or 255) is ink."""
    a = np.asarray(array)
    if a.ndim == 3:
        a = a[..., 0]
    return a != 0


def report_value(report, keys):
    """The first numeric field among `keys` of a report (dict or record)."""
    for key in keys:
        value = report.get(key) if isinstance(report, dict) else getattr(report, key, None)
        if isinstance(value, (int, float, np.floating, np.integer)) and not isinstance(value, bool):
            return float(value)
    return None


ANGLE_KEYS = ("angle", "skew", "skew_angle", "deskew_angle", "angle_degrees")
CONFIDENCE_KEYS = ("confidence", "skew_confidence")


def kxpipe_steps(kxpipe):
    """{step name: the export it calls} from `kxpipe --help`, or {}."""
    try:
        out = subprocess.run([kxpipe, "--help"], capture_output=True, text=True, timeout=60)
    except (OSError, subprocess.TimeoutExpired):
        return {}
    steps = {}
    for line in (out.stdout + out.stderr).splitlines():
        m = re.match(r"^  ([a-z][a-z0-9_]*)\b.*\[(kx\w+)\]\s*$", line)
        if m:
            steps[m.group(1)] = m.group(2)
    return steps


def parse_step_report(text, step):
    """Numbers a step printed about what it did: {'angle', 'confidence', ...}
    from `key value` / `key=value` pairs on its lines, else its first two
    numbers read as angle and confidence (findskew's form)."""
    found = {}
    for line in text.splitlines():
        if not line.startswith(step + ":"):
            continue
        rest = line[len(step) + 1:]
        if re.match(r"^\s+[\d.]+ ms\b", rest):  # --time's line
            continue
        for key, value in re.findall(r"([A-Za-z_]+)\s*[=:]?\s*(-?\d+(?:\.\d+)?)", rest):
            found.setdefault(key.lower(), float(value))
        for alias in ("skew", "turned", "turn", "rotated", "by"):
            if "angle" not in found and alias in found:
                found["angle"] = found[alias]
        if "confidence" not in found and "conf" in found:
            found["confidence"] = found["conf"]
        if not found:
            numbers = re.findall(r"-?\d+(?:\.\d+)?", rest)
            if numbers:
                found["angle"] = float(numbers[0])
            if len(numbers) > 1:
                found["confidence"] = float(numbers[1])
    return found


def step_seconds(text, step):
    """The duration --time reports for a step, in seconds, or None."""
    m = re.search(r"^kxpipe: %s\s+(\d+(?:\.\d+)?) ms" % re.escape(step), text, re.M)
    return float(m.group(1)) / 1000.0 if m else None


class KxpipeStep:
    """A kxpipe step run on a grey page through PNG files."""

    def __init__(self, kxpipe, step, args):
        self.kxpipe, self.step, self.args = kxpipe, step, [str(a) for a in args]
        self.tmp = tempfile.mkdtemp(prefix="kxdocs-pipe-")

    def __call__(self, grey):
        from PIL import Image

        src, dst = os.path.join(self.tmp, "in.png"), os.path.join(self.tmp, "out.png")
        Image.fromarray(np.ascontiguousarray(grey)).save(src)
        env = dict(os.environ, OMP_NUM_THREADS="1")
        out = subprocess.run([self.kxpipe, "--time", src, dst, self.step] + self.args,
                             capture_output=True, text=True, env=env, timeout=600)
        text = out.stdout + "\n" + out.stderr
        if out.returncode != 0:
            raise RuntimeError("kxpipe %s: exit %d: %s" % (self.step, out.returncode, text.strip()[-300:]))
        with Image.open(dst) as im:
            # kxpipe writes a binary image's 1 as white: ink set is white.
            picture = np.asarray(im.convert("L"), np.uint8).copy()
        report = parse_step_report(text, self.step)
        seconds = step_seconds(text, self.step)
        return Timed((picture >= 128, report), seconds)


class CBinarizer:
    """kxxBinarizeDocument(page, inkSet 1) on a grey page through ctypes,
    in place on the array given (the caller's copy)."""

    def __init__(self, library):
        lib = ctypes.CDLL(library)
        self.fn = lib.kxxBinarizeDocument  # AttributeError when the build lacks it
        self.fn.restype = ctypes.c_void_p
        self.fn.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.create = lib.kxCreateImageEx
        self.create.restype = ctypes.c_void_p
        self.create.argtypes = [ctypes.c_int] * 4 + [ctypes.c_void_p, ctypes.c_int]
        self.destroy = lib.kxDestroyImage
        self.destroy.argtypes = [ctypes.c_void_p]
        self.destroy.restype = None

    def __call__(self, grey):
        a = grey if grey.flags.c_contiguous and grey.dtype == np.uint8 else np.ascontiguousarray(grey, np.uint8)
        image = self.create(KIT_GRAY, a.shape[1], a.shape[0], a.strides[0], a.ctypes.data, 0)
        if not image:
            raise RuntimeError("kxCreateImageEx refused the page")
        try:
            if not self.fn(image, 1):
                raise RuntimeError("kxxBinarizeDocument returned null")
        finally:
            self.destroy(image)
        return a


class NewCalls:
    """What the measured build offers of the document calls.

    binarize(grey) -> ink-set bytes (or a Timed of them) and binarize_ink;
    clean(grey, turn) -> (ink image, report dict) (or a Timed of it);
    each None when the build lacks it, with `routes` naming what was found."""

    def __init__(self, kx, build):
        self.binarize = self.clean = None
        self.binarize_ink = ink_set
        self.binarize_route = self.clean_route = None
        self.kxpipe = None
        library = os.path.join(build, "libkxextra.so")
        try:
            self.binarize = CBinarizer(library)
            self.binarize_route = "kxxBinarizeDocument(page, 1) through ctypes"
        except (OSError, AttributeError):
            for name in ("binarize_document", "document_binarize"):
                fn = getattr(kx, name, None)
                if callable(fn):
                    self.binarize, self.binarize_ink = fn, ink_of
                    self.binarize_route = "kxpre.extra.%s (defaults)" % name
                    break
        kxpipe = os.path.join(build, "tools", "kxpipe")
        steps = kxpipe_steps(kxpipe) if os.access(kxpipe, os.X_OK) else {}
        if steps:
            self.kxpipe = kxpipe
        self.steps = steps
        fn = getattr(kx, "clean_page", None)
        if callable(fn):
            def clean(grey, turn):
                image, report = fn(grey, dpi=None, turn=turn)
                return ink_set(image), report

            self.clean = clean
            self.clean_route = "kxpre.extra.clean_page(page, dpi=None, turn=...)"
        elif "cleanpage" in steps:
            straight = KxpipeStep(kxpipe, "cleanpage", ["0", "0"])
            turning = KxpipeStep(kxpipe, "cleanpage", ["0", "1"])

            def clean(grey, turn):
                return (turning if turn else straight)(grey)

            self.clean = clean
            self.clean_route = "kxpipe step cleanpage (0 0 on contest pages, 0 1 -- its defaults -- on generated ones)"

    def cross_check(self, grey):
        """When both the Python function and the kxpipe step exist, whether
        they give the same page: True / False, None when not both exist."""
        if self.clean is None or self.clean_route.startswith("kxpipe") or "cleanpage" not in self.steps:
            return None
        mine = self.clean(grey.copy(), False)
        piped = KxpipeStep(self.kxpipe, "cleanpage", ["0", "0"])(grey.copy()).value
        return mine[0].shape == piped[0].shape and bool((mine[0] == piped[0]).all())


def selftest():
    """The parsing of a step's report and of --time on worked lines."""
    got = parse_step_report("cleanpage: turned by -1.23 degrees (confidence 0.91), 300 dpi estimated\n"
                            "kxpipe: cleanpage     12.3 ms  10x10", "cleanpage")
    assert got["angle"] == -1.23 and got["confidence"] == 0.91, got
    got = parse_step_report("cleanpage: angle=-0.5 confidence=0.3 dpi=200", "cleanpage")
    assert got == {"angle": -0.5, "confidence": 0.3, "dpi": 200.0}, got
    got = parse_step_report("cleanpage: estimated 300 dpi, stroke width 3, text height 20; 17 specks (40 pixels, "
                            "limit 12), border 0 pixels; not turned: angle -0.5, confidence 0.3 below 0.5",
                            "cleanpage")
    assert got["angle"] == -0.5 and got["confidence"] == 0.3 and got["width"] == 3, got
    assert parse_step_report("findskew: 0.43 0.75", "findskew") == {"angle": 0.43, "confidence": 0.75}
    assert parse_step_report("other: 1 2", "cleanpage") == {}
    assert step_seconds("kxpipe: cleanpage     12.30 ms  10x10", "cleanpage") == 0.0123
    assert step_seconds("kxpipe: otsu  1 ms", "cleanpage") is None
    two = np.array([[0, 0, 0], [0, 1, 0]], np.uint8)
    assert (ink_of(two) == (two == 1)).all() and (ink_of(1 - two) == (two == 1)).all()
    assert not ink_of(np.ones((2, 2), np.uint8)).any()
    assert (ink_set(two * 255) == (two == 1)).all()
