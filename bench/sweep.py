"""Time per call of kxpre's neighbourhood, threshold, morphology, rotation
and binary-page operations across their parameter ranges, next to OpenCV
doing the same job, both on one thread in the same run.

    KXPRE_LIBRARY=build/release/libkxpre.so KXEXTRA_LIBRARY=build/release/libkxextra.so \\
    PYTHONPATH=python /usr/bin/python3 bench/sweep.py [--quick] [--out FILE] [--only NAME,...]

Every figure is the thread CPU time (time.thread_time) of one call, the best
of a few runs; the operation works in place on a fresh copy made outside the
timing, the peer writes a new array as it does.  The script prints one
Markdown table (operation, parameter, ours ms, peer ms, ratio, note) and
writes it to FILE with --out.  --quick takes one run per figure over a
shorter parameter list.

Other scripts add rows of their own: each section is a function
section(quick) -> list of Row, and main(extra_sections=[...]) runs them
after the built-in ones (or call collect() and table() directly).
"""

import argparse
import sys
import time
from dataclasses import dataclass
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))
import kxpre  # noqa: E402
from kxpre import extra  # noqa: E402

try:
    import cv2

    cv2.setNumThreads(1)
except ImportError:  # the table then has no peer column figures
    cv2 = None

SIDE = 2048  # grey and binary test images are SIDE x SIDE
A4 = (3508, 2480)  # a 300 dpi page, rows x columns


@dataclass
class Row:
    operation: str
    parameter: str
    ours_ms: float
    peer_ms: float = None  # None: no peer
    note: str = ""

    @property
    def ratio(self):
        return self.ours_ms / self.peer_ms if self.peer_ms else None


def best_ms(fn, runs, prepare=None):
    """Least thread CPU time of `runs` calls of fn(prepared), in ms."""
    best = float("inf")
    for _ in range(runs):
        arg = prepare() if prepare else None
        t0 = time.thread_time()
        fn(arg)
        best = min(best, time.thread_time() - t0)
    return best * 1e3


def runs_of(quick):
    return 1 if quick else 3


# ---- test images ------------------------------------------------------------

def grey_image(side=SIDE, seed=1):
    """A photograph-like grey image: smooth shading, texture, edges."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:side, 0:side].astype(np.float32) / side
    base = 120 + 60 * np.sin(6 * x + 3 * y) * np.cos(4 * y)
    noise = rng.normal(0, 1, (side // 8, side // 8)).astype(np.float32)
    noise = np.kron(noise, np.ones((8, 8), np.float32))[:side, :side] * 20
    fine = rng.normal(0, 12, (side, side)).astype(np.float32)
    img = base + noise + fine
    img[side // 4: side // 2, side // 4: side // 2] -= 70  # a dark block with sharp edges
    return np.clip(img, 0, 255).astype(np.uint8)


def ink_page(density, shape=(SIDE, SIDE), seed=2):
    """A binary page (1 = ink) of text-like strokes covering about `density`
    of it, with holes inside the letters and isolated specks."""
    rng = np.random.default_rng(seed)
    h, w = shape
    page = np.zeros(shape, np.uint8)
    target = density * h * w
    if cv2 is not None:
        while page.sum() < target:
            y, x = int(rng.integers(20, h - 5)), int(rng.integers(0, w - 100))
            scale = float(rng.uniform(0.6, 2.2))
            text = "".join(chr(int(c)) for c in rng.integers(65, 91, 6))
            cv2.putText(page, text, (x, y), cv2.FONT_HERSHEY_SIMPLEX, scale, 1, int(1 + scale * 2))
    else:
        page[:, :] = rng.random(shape) < density
    n = h * w // 2000  # specks of 1 to 9 pixels
    ys, xs = rng.integers(0, h - 3, n), rng.integers(0, w - 3, n)
    sizes = rng.integers(1, 4, n)
    for yy, xx, s in zip(ys, xs, sizes):
        page[yy:yy + s, xx:xx + s] = 1
    return page


# ---- sections ---------------------------------------------------------------

def median_rows(quick):
    img = grey_image()
    windows = [3, 5, 7, 9, 15] if quick else [3, 5, 7, 9, 11, 15, 21, 31]
    rows = []
    for n in windows:
        ours = best_ms(lambda a: kxpre.median(a, n, inplace=True), runs_of(quick), img.copy)
        peer = best_ms(lambda _: cv2.medianBlur(img, n), runs_of(quick)) if cv2 else None
        rows.append(Row("kxMedian", "window %d" % n, ours, peer, "window capped at 9" if n > 9 else ""))
    return rows


def box_rows(quick):
    img = grey_image()
    windows = [3, 5, 9] if quick else [3, 5, 7, 9]
    rows = []
    for n in windows:
        ours = best_ms(lambda a: kxpre.smooth_avg(a, n, inplace=True), runs_of(quick), img.copy)
        peer = best_ms(lambda _: cv2.blur(img, (n, n), borderType=cv2.BORDER_CONSTANT), runs_of(quick)) if cv2 else None
        rows.append(Row("kxSmoothAvg", "window %d" % n, ours, peer, "peer cv2.blur"))
    return rows


def local_rows(quick):
    img = grey_image()
    windows = [7, 31, 255, 511] if quick else [7, 15, 31, 63, 127, 181, 255, 363, 511]
    rows = []
    for n in windows:
        ours = best_ms(lambda a: kxpre.local_integral(a, n, 128, 0.34, inplace=True), runs_of(quick), img.copy)
        peer = best_ms(lambda _: cv2.adaptiveThreshold(img, 1, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, n, 5),
                       runs_of(quick)) if cv2 else None
        rows.append(Row("kxbLocalIntegral", "window %d" % n, ours, peer, "peer cv2.adaptiveThreshold MEAN_C"))
    return rows


def morphology_rows(quick):
    img = grey_image()
    sides = [3, 9, 31] if quick else [3, 5, 7, 9, 15, 21, 31]
    rows = []
    for name, ours_fn, peer_fn in (("kxErode", kxpre.erode, cv2.erode if cv2 else None),
                                   ("kxDilate", kxpre.dilate, cv2.dilate if cv2 else None)):
        for n in sides:
            element = ("rect", n, n)
            ours = best_ms(lambda a: ours_fn(a, element, inplace=True, binary=False), runs_of(quick), img.copy)
            kernel = np.ones((n, n), np.uint8)
            peer = best_ms(lambda _: peer_fn(img, kernel), runs_of(quick)) if cv2 else None
            rows.append(Row(name, "rect %dx%d" % (n, n), ours, peer))
    return rows


def rotation_rows(quick):
    img = grey_image()
    angles = [0.3, 4, 45, 89.5] if quick else [0.1, 0.3, 1, 4, 30, 45, 89.5, 89.9]
    rows = []
    for nearest in (1, 0):
        for keep in ((1,) if quick else (1, 0)):
            for deg in angles:
                # The size may change, so the binding returns a new array (as the peer does).
                ours = best_ms(lambda _: kxpre.rotate_ex(img, deg, nearest, keep), runs_of(quick))
                peer = None
                if cv2:
                    h, w = img.shape
                    if keep:
                        size = (w, h)
                    else:
                        t = np.radians(deg)
                        size = (int(abs(w * np.cos(t)) + abs(h * np.sin(t))) + 1,
                                int(abs(w * np.sin(t)) + abs(h * np.cos(t))) + 1)
                    m = cv2.getRotationMatrix2D(((w - 1) / 2, (h - 1) / 2), deg, 1.0)
                    m[0, 2] += (size[0] - w) / 2
                    m[1, 2] += (size[1] - h) / 2
                    flag = cv2.INTER_NEAREST if nearest else cv2.INTER_LINEAR
                    peer = best_ms(lambda _: cv2.warpAffine(img, m, size, flags=flag), runs_of(quick))
                rows.append(Row("kxRotateEx " + ("nearest" if nearest else "bilinear"),
                                "%g deg, %s" % (deg, "keep size" if keep else "bounding box"), ours, peer,
                                "peer cv2.warpAffine"))
    return rows


def binary_page_rows(quick):
    densities = [0.05, 0.3] if quick else [0.02, 0.05, 0.1, 0.2, 0.3]
    rows = []
    thin = getattr(getattr(cv2, "ximgproc", None), "thinning", None) if cv2 else None
    for d in densities:
        page = ink_page(d)
        param = "ink %d%%" % round(100 * d)
        ours = best_ms(lambda a: kxpre.dist_trans(a, binary=True), runs_of(quick), page.copy)
        peer = best_ms(lambda _: cv2.distanceTransform(page, cv2.DIST_L2, 3), runs_of(quick)) if cv2 else None
        rows.append(Row("kxDistTrans", param, ours, peer, "peer cv2.distanceTransform L2 3x3"))
        ours = best_ms(lambda a: kxpre.thinning(a, inplace=True, binary=True), 1, page.copy)
        peer = best_ms(lambda _: thin(page * 255), 1) if thin else None
        rows.append(Row("kxThinning", param, ours, peer, "peer cv2.ximgproc.thinning" if thin else "no peer"))
        ours = best_ms(lambda a: kxpre.fill_hole(a, inplace=True, binary=True), runs_of(quick), page.copy)

        def fill_peer(_):
            flood = np.pad(page, 1)
            cv2.floodFill(flood, None, (0, 0), 1)
            return page | (flood[1:-1, 1:-1] == 0)

        peer = best_ms(fill_peer, runs_of(quick)) if cv2 else None
        rows.append(Row("kxFillHole", param, ours, peer, "peer cv2.floodFill from the border"))
    return rows


def despeckle_rows(quick):
    rows = []
    cases = [(0.05, 0)] if quick else [(0.02, 0), (0.05, 0), (0.15, 0), (0.05, 0.02), (0.3, 0.02)]
    for d, salt in cases:
        page = ink_page(d, A4, seed=3)
        if salt:  # scanner noise: many one-pixel components
            page |= (np.random.default_rng(5).random(page.shape) < salt).astype(np.uint8)

        def peer(_):
            count, labels, stats, _c = cv2.connectedComponentsWithStats(page, connectivity=8)
            keep = stats[:, cv2.CC_STAT_AREA] >= 12
            keep[0] = False
            return keep[labels].astype(np.uint8)

        ours = best_ms(lambda a: extra.despeckle(a, 8, 12, inplace=True, binary=True), runs_of(quick), page.copy)
        param = "A4 300 dpi, ink %d%%%s, area 12" % (round(100 * d), ", salt %g%%" % (100 * salt) if salt else "")
        rows.append(Row("kxxDespeckle", param, ours,
                        best_ms(peer, runs_of(quick)) if cv2 else None,
                        "peer cv2.connectedComponentsWithStats + numpy"))
    return rows


def scanned_page(shape, seed=4):
    """A grey page of text lines under uneven light with grain."""
    rng = np.random.default_rng(seed)
    h, w = shape
    ink = ink_page(0.08, shape, seed)
    light = np.linspace(225, 170, w, dtype=np.float32)[None, :] - np.linspace(0, 25, h, dtype=np.float32)[:, None]
    page = np.where(ink > 0, 60.0, light) + rng.normal(0, 4, shape)
    return np.clip(page, 0, 255).astype(np.uint8)


def document_rows(quick):
    """The companion library's page calls over page sizes (A5 at 150 dpi up
    to A4 at 300 dpi), with no peer doing the same job: the note gives the
    time per Mpixel and, for scale, OpenCV's adaptive mean threshold on the
    same page."""
    sizes = [(1240, 874), (3508, 2480)] if quick else [(1240, 874), (1754, 1240), (2480, 1754), (3508, 2480)]
    rows = []
    for shape in sizes:
        page = scanned_page(shape)
        param = "%d x %d" % (shape[1], shape[0])
        peer = best_ms(lambda _: cv2.adaptiveThreshold(page, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, 31, 10),
                       runs_of(quick)) if cv2 else None
        for name, fn in (("kxxBinarizeDocument", lambda a: extra.binarize_document(a)),
                         ("kxxCleanPage", lambda a: extra.clean_page(a, dpi=None, turn=False)),
                         ("kxxFlattenPaper", lambda a: extra.flatten_paper(a))):
            ours = best_ms(fn, 1 if quick else 2, page.copy)
            note = "no peer; ms per Mpixel %.1f" % (ours / (shape[0] * shape[1] / 1e6))
            if peer is not None:
                note += "; cv2.adaptiveThreshold MEAN_C 31 (a simpler job) %.1f ms" % peer
            rows.append(Row(name, param, ours, None, note))
    return rows


def fingerprint_rows(quick):
    """The one fingerprint call over print sizes at 500 dpi; no peer in
    OpenCV (bench/fingerprints.py measures a numpy/OpenCV implementation)."""
    rows = []
    for side in ([400] if quick else [300, 400, 600, 800]):
        y, x = np.mgrid[0:side, 0:side].astype(np.float32)
        pattern = 128 + 90 * np.sin(2 * np.pi * (x * np.cos(0.5) + y * np.sin(0.5) + 0.002 * (x - side / 2) ** 2) / 9.0)
        print_ = np.clip(pattern + np.random.default_rng(6).normal(0, 10, pattern.shape), 0, 255).astype(np.uint8)
        ours = best_ms(lambda a: extra.print_analyse(a, 500), 1 if quick else 2, print_.copy)
        rows.append(Row("kxxPrintAnalyse", "%d x %d" % (side, side), ours, None,
                        "no peer here; bench/fingerprints.py has a numpy/OpenCV one"))
    return rows


SECTIONS = {
    "median": median_rows,
    "box": box_rows,
    "local": local_rows,
    "morphology": morphology_rows,
    "rotation": rotation_rows,
    "binary": binary_page_rows,
    "despeckle": despeckle_rows,
    "documents": document_rows,
    "fingerprints": fingerprint_rows,
}


def collect(quick=False, only=None, extra_sections=()):
    """Rows of the built-in sections (those named in `only`, or all), then
    of each function in extra_sections."""
    rows = []
    for name, section in SECTIONS.items():
        if only is None or name in only:
            rows += section(quick)
    for section in extra_sections:
        rows += section(quick)
    return rows


def table(rows):
    """The rows as a Markdown table."""
    out = ["| operation | parameter | ours ms | peer ms | ratio | note |", "|---|---|---:|---:|---:|---|"]
    for r in rows:
        peer = "%.2f" % r.peer_ms if r.peer_ms is not None else "-"
        ratio = "%.2f" % r.ratio if r.ratio is not None else "-"
        out.append("| %s | %s | %.2f | %s | %s | %s |" % (r.operation, r.parameter, r.ours_ms, peer, ratio, r.note))
    return "\n".join(out) + "\n"


def main(argv=None, extra_sections=()):
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="one run per figure, fewer parameters")
    ap.add_argument("--out", help="also write the table to this file")
    ap.add_argument("--only", help="comma-separated sections: " + ", ".join(SECTIONS))
    args = ap.parse_args(argv)
    only = set(args.only.split(",")) if args.only else None
    text = table(collect(args.quick, only, extra_sections))
    print(text, end="")
    if args.out:
        Path(args.out).write_text(text)


if __name__ == "__main__":
    main()
