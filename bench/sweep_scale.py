"""kxScaleEx against Pillow and cv2.resize over a grid of ratios, filters and
colour types, single-threaded, in one run.

    KXPRE_LIBRARY=build/release/libkxpre.so PYTHONPATH=python \
        /usr/bin/python3 bench/sweep_scale.py [--size 2048] [--max-out 6144] \
        [--ratios 0.1,0.37,...] [--filters bilinear,box,...] [--types grey,rgb,rgba] \
        [--repeat 3] [--out table.md]

Every figure is thread CPU time (time.thread_time) of the resize call alone,
the best of --repeat runs (the machine may be shared); images are made
before the clock starts.  The source is --size pixels square (a random
picture), shrunk for the large ratios so that the output side stays within
--max-out.  ns/px is our time per output pixel; ns/term our time per
nominal term, the output samples of both passes times the filter's support
in source samples (2 x half-width, divided by the ratio below 1, at least
1): the row pass makes source-height x output-width samples, the column
pass output-height x output-width, so on a reduction the time per output
pixel grows as the support does (with 1 / ratio squared), while the time
per term stays level.

Peers, the same kind of filter:
    ours          Pillow (Image.resize)     cv2.resize
    bilinear      BILINEAR  (support 1)     AREA below 1, LINEAR above
    box           BOX       (support 0.5)   AREA below 1, LINEAR above
    gaussian      LANCZOS   (support 3)     AREA below 1, LINEAR above
    hamming       HAMMING   (support 1)     AREA below 1, LINEAR above
    blackman      HAMMING   (support 1)     AREA below 1, LINEAR above
    nearest       NEAREST                   NEAREST
Pillow widens its windows with the ratio on a reduction as kxScaleEx does.
The library is called through ctypes on images made beforehand (the source
wraps the array's memory; the destination is the library's own), so the
figure holds no conversion of the binding.
"""

import argparse
import ctypes
import sys
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))
from kxpre import _native  # noqa: E402

import cv2  # noqa: E402
from PIL import Image  # noqa: E402

FILTERS = {"nearest": 0, "bilinear": 2, "box": 3, "gaussian": 4, "hamming": 5, "blackman": 6}
HALF_WIDTH = {"nearest": 0.5, "bilinear": 1.0, "box": 0.5, "gaussian": 3.0, "hamming": 0.5, "blackman": 0.5}
PIL_FILTER = {"nearest": Image.NEAREST, "bilinear": Image.BILINEAR, "box": Image.BOX, "gaussian": Image.LANCZOS,
              "hamming": Image.HAMMING, "blackman": Image.HAMMING}
PIL_NAME = {"nearest": "NEAREST", "bilinear": "BILINEAR", "box": "BOX", "gaussian": "LANCZOS", "hamming": "HAMMING",
            "blackman": "HAMMING"}
TYPES = {"grey": (_native.KIT_GRAY, 1, "L"), "rgb": (_native.KIT_RGB, 3, "RGB"), "rgba": (_native.KIT_RGBA, 4, "RGBA")}
RATIOS = "0.1,0.13,0.17,0.23,0.29,0.37,0.43,0.5,0.58,0.66,0.73,0.81,0.9,1.1,1.3,1.5,1.7,2.0,2.3,2.7,3.3,3.9"

scale_ex = _native._bind("kxScaleEx", ctypes.c_int, [ctypes.c_void_p, ctypes.c_void_p, ctypes.c_int])


def best(fn, repeat):
    t = float("inf")
    for _ in range(repeat):
        t0 = time.thread_time()
        fn()
        t = min(t, time.thread_time() - t0)
    return t * 1e3


def measure(tname, fname, r, size, max_out, repeat, rng):
    """(source side, output side, ours ms, Pillow ms, cv2 ms) of one case: a
    random square picture of `size` (less when the output side would pass
    max_out) scaled by r."""
    kit, ch, mode = TYPES[tname]
    code = FILTERS[fname]
    side = min(size, int(max_out / r))
    out = max(1, int(side * r + 0.5))
    arr = rng.integers(0, 256, size=(side, side) if ch == 1 else (side, side, ch), dtype=np.uint8)
    src = _native.wrap(arr, kit)
    dst = _native.new_image(kit, out, out)
    try:
        ours = best(lambda: scale_ex(src, dst, code), repeat)
    finally:
        _native.destroy_image(src)
        _native.destroy_image(dst)
    pim = Image.fromarray(arr, mode)
    pil = best(lambda: pim.resize((out, out), PIL_FILTER[fname]), repeat)
    interp = cv2.INTER_NEAREST if code == 0 else cv2.INTER_AREA if r < 1 else cv2.INTER_LINEAR
    cv = best(lambda: cv2.resize(arr, (out, out), interpolation=interp), repeat)
    return side, out, ours, pil, cv


def section(quick):
    """Rows for bench/sweep.py's report: every filter and colour type over
    the ratio grid (a shorter one with quick), Pillow's resampler with the
    same kind of filter as the peer, cv2.resize in the note."""
    import sweep

    # The report's grid: every filter on grey, bilinear and Gaussian on colour
    # (main() sweeps every combination over RATIOS).
    ratios = [0.13, 0.37, 0.73, 1.3, 2.7] if quick else [0.1, 0.17, 0.29, 0.37, 0.5, 0.73, 0.9, 1.1, 1.5, 2.0, 2.7, 3.9]
    repeat = 1 if quick else 3
    cv2.setNumThreads(1)
    rng = np.random.default_rng(1)
    rows = []
    for tname in TYPES:
        for fname in ("nearest", "bilinear", "box", "gaussian", "hamming", "blackman"):
            if tname != "grey" and fname not in ("bilinear", "gaussian"):
                continue
            for r in ratios:
                side, out, ours, pil, cv = measure(tname, fname, r, 2048, 6144, repeat, rng)
                rows.append(sweep.Row("kxScaleEx %s %s" % (fname, tname), "%g" % r, ours, pil,
                                      "%d to %d; peer Pillow %s; cv2.resize %.2f ms" % (side, out, PIL_NAME[fname], cv)))
    return rows


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--size", type=int, default=2048, help="source side (default 2048)")
    ap.add_argument("--max-out", type=int, default=6144, help="largest output side; the source shrinks to keep it")
    ap.add_argument("--ratios", default=RATIOS)
    ap.add_argument("--filters", default="bilinear,box,gaussian,hamming,blackman")
    ap.add_argument("--types", default="grey,rgb,rgba")
    ap.add_argument("--repeat", type=int, default=3)
    ap.add_argument("--out", help="also write the table to this file")
    a = ap.parse_args()

    cv2.setNumThreads(1)
    ratios = [float(r) for r in a.ratios.split(",")]
    lines = ["| type | filter | ratio | source | output | ours ms | ns/px | ns/term | Pillow ms | cv ms | ours/Pillow | ours/cv |",
             "|---|---|---|---|---|---|---|---|---|---|---|---|"]
    print("\n".join(lines), flush=True)
    rng = np.random.default_rng(1)
    for tname in a.types.split(","):
        for fname in a.filters.split(","):
            for r in ratios:
                side, out, ours, pil, cv = measure(tname, fname, r, a.size, a.max_out, a.repeat, rng)
                support = max(1.0, 2 * HALF_WIDTH[fname] / min(r, 1.0))
                terms = out * support * (side + out)
                row = "| %s | %s | %.2f | %d | %d | %.2f | %.2f | %.3f | %.2f | %.2f | %.2f | %.2f |" % (
                    tname, fname, r, side, out, ours, ours * 1e6 / (out * out), ours * 1e6 / terms, pil, cv,
                    ours / pil, ours / cv)
                lines.append(row)
                print(row, flush=True)
    if a.out:
        Path(a.out).write_text("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
