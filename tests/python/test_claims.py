"""The manifests' claims checked against the C functions themselves, one
generated case per export: an image of a kind outside `images` is left as
it was, and so is a call one step outside a `min`, `max` or `values` bound.
The calls go through each function's own marshallers with the binding's
checks left out, so that the library sees what the checks would refuse."""

import os

import numpy as np
import pytest

import kxpre
from kxpre import _native, _ops, extra
from test_marshalling import _values

def _assertions_abort():
    """Whether the library is a Debug build, whose assertions abort (a
    child process makes a call that asserts)."""
    pid = os.fork()
    if pid == 0:
        os.dup2(os.open(os.devnull, os.O_WRONLY), 2)
        kxpre.scale_ex.plan.raw(None, None, 0)  # asserts "imgOri" and "imgNew"
        os._exit(0)
    return os.WIFSIGNALED(os.waitpid(pid, 0)[1])


pytestmark = pytest.mark.skipif(_assertions_abort(), reason="the library's assertions abort (a Debug build)")

KIT = {"bin": _native.KIT_BIN, "gray": _native.KIT_GRAY, "rgb": _native.KIT_RGB, "rgba": _native.KIT_RGBA}
SHAPE = {"bin": (9, 12), "gray": (9, 12), "rgb": (9, 12, 3), "rgba": (9, 12, 4)}
CHANGING = ("image", "new", "none", "status", "flood")


def _image(kind, rng):
    return rng.integers(0, 2 if kind == "bin" else 256, SHAPE[kind]).astype(np.uint8)


def _raw_call(fn, e, kind, raw, rng):
    """(the image's pixels and shape before, after, the C result) of a call
    whose arguments in `raw` reach the library unchecked."""
    plan = fn.plan
    image = _image(kind, rng)
    values = dict(_values(e, rng), **{e.image.name: image})
    values.update({a.name: a.default for a in plan.visible if a.default not in (kxpre._manifest.NO_DEFAULT, None)})
    for a in e.args:
        if a.kind == "same":
            values[a.name] = _image(kind, rng)
        if a.kind == "channel":
            values[a.name] = _image(a.images[0], rng)
    st = _ops._State([values[a.name] for a in plan.visible])
    st.inplace, st.kind, st.image, st.was_bool, st.was_255 = False, kind, image, False, False
    try:
        for i, check in plan.scalars + plan.others:
            name = plan.visible[i].name
            st.cv[i] = raw[name] if name in raw else check(st, st.cv[i])
        st.cv[plan.main_index] = image
        st.address = _native.owned_copy(image, KIT[kind])
        st.images.append(st.address)
        before = _native.view(st.address).copy()
        returned = plan.raw(*[p(st) for p in plan.params])
        after = _native.view(st.address).copy()
        return before, after, returned
    finally:
        st.release()


def _unchanged(e, before, after, returned):
    same = before.shape == after.shape and np.array_equal(before, after)
    if e.result == "new":
        return not returned
    if e.result == "status":
        return same and not returned
    return same


CASES = []
for _fn, _e in [(getattr(kxpre, e.python), e) for e in kxpre.MANIFEST.exports] + [
        (extra._built[e.python], e) for e in extra.MANIFEST.exports]:
    if _e.image is None or _e.result not in CHANGING or getattr(_fn, "plan", None) is None or _fn.plan.raw is None:
        continue
    for _kind in [k for k in KIT if k not in _e.images]:
        CASES.append(("%s-%s" % (_e.python, _kind), _fn, _e, _kind, {}))
    for _a in (a for a in _e.args if not a.hidden and a.integer and not a.wider):
        steps = []
        if _a.min is not None and _a.values is None:
            steps.append(int(_a.min) - 1)
        if _a.max is not None and _a.values is None:
            steps.append(int(_a.max) + 1)
        if _a.values is not None:
            steps += [v for v in (min(_a.values) - 1, max(_a.values) + 1) if v not in _a.values]
        lo, hi = _a.type_range()
        for v in steps:
            if lo <= v <= hi:
                CASES.append(("%s-%s=%d" % (_e.python, _a.name, v), _fn, _e, _e.images[0], {_a.name: v}))
    for _a in (a for a in _e.args if not a.hidden and a.number and not a.wider):
        t = np.float32 if _a.type == "float" else np.float64  # one step in the C type
        for bound, way in ((_a.min, -np.inf), (_a.max, np.inf)):
            if bound is not None:
                v = float(np.nextafter(t(bound), t(way)))
                CASES.append(("%s-%s=%r" % (_e.python, _a.name, v), _fn, _e, _e.images[0], {_a.name: v}))


@pytest.mark.parametrize("fn,e,kind,raw", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_what_the_manifest_refuses_the_library_leaves_alone(fn, e, kind, raw):
    rng = np.random.default_rng(5)
    assert _unchanged(e, *_raw_call(fn, e, kind, raw, rng))
