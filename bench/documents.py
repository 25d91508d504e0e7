#!/usr/bin/python3
"""Documents benchmark: binarization scores on contest pages, OCR error rates
on generated pages, and speed, all from one run.

    /usr/bin/python3 bench/documents.py                 # full run, writes docs/documents.md + .png
    /usr/bin/python3 bench/documents.py --quick         # fewer pages, a smoke run
    /usr/bin/python3 bench/documents.py --build ../other-tree --only dibco --out /tmp/d.md
    /usr/bin/python3 bench/documents.py --selftest      # the scores on hand-worked cases

--build names the source tree whose Python package (TREE/python) and
libraries (TREE/build/release) are measured; by default the tree this script
lies in.  Everything runs on one thread.
"""

import argparse
import os
import sys
import time

for _var in ("OMP_NUM_THREADS", "OPENBLAS_NUM_THREADS", "MKL_NUM_THREADS", "OMP_THREAD_LIMIT"):
    os.environ[_var] = "1"
os.environ.pop("KXPRE_THREADS", None)

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)

import numpy as np  # noqa: E402

import docmetrics  # noqa: E402

DIBCO = "/work/shared/data/dibco-dev"


def load_kxpre(tree):
    """Imports kxpre and kxpre.extra from TREE/python with the libraries of
    TREE/build/release."""
    tree = os.path.abspath(tree)
    build = os.path.join(tree, "build", "release")
    for var, path in (
        ("KXPRE_LIBRARY", os.path.join(build, "libkxpre.so")),
        ("KXEXTRA_LIBRARY", os.path.join(build, "libkxextra.so")),
        ("KXPRE_KXIO_LIBRARY", os.path.join(build, "platform", "io", "libkxio.so")),
    ):
        if os.path.exists(path):
            os.environ[var] = path
    sys.path.insert(0, os.path.join(tree, "python"))
    import kxpre
    import kxpre.extra

    return kxpre, kxpre.extra


# ---------------------------------------------------------------------------
# Methods: each takes a grey uint8 page and gives a boolean ink image (or, for
# the OCR part, any uint8 picture Tesseract can read).


def ink_of(array):
    """Ink of a two-level picture whose polarity is not declared: the less
    frequent level (pages are mostly paper)."""
    a = np.asarray(array)
    if a.ndim == 3:
        a = a[..., 0]
    lo = a == a.min()
    if lo.all():
        return np.zeros(a.shape, bool)
    return lo if lo.mean() <= 0.5 else ~lo


class Methods:
    """The binarizations compared, by name, in report order."""

    def __init__(self, kxpre, kx):
        import cv2
        from skimage.filters import threshold_sauvola

        cv2.setNumThreads(1)
        self.kxpre, self.kx, self.cv2, self.threshold_sauvola = kxpre, kx, cv2, threshold_sauvola
        self.clean_page = getattr(kx, "clean_page", None)
        # A document binarizer of the companion library, when this build has one.
        self.binarizer = None
        for name in ("binarize_document", "document_binarize", "binarize_page", "binarize"):
            if callable(getattr(kx, name, None)):
                self.binarizer = (name, getattr(kx, name))
                break

    def binarizations(self):
        """(name, description, function grey -> ink) for the contest pages."""
        kxpre, kx, cv2 = self.kxpre, self.kx, self.cv2
        out = [
            ("readme", "kxpre normalize 128 1200 + local_integral 31 128 0.34",
             lambda g: kxpre.local_integral(kxpre.normalize(g, 128, 1200), 31, 128, 0.34) == 0),
            ("sauvola", "kxpre.extra sauvola 31 0.2 128",
             lambda g: kx.sauvola(g, 31, 0.2, 128) == 0),
            ("otsu", "kxpre threshold OTSU",
             lambda g: kxpre.threshold(g, kxpre.Threshold.OTSU) == 0),
            ("cv-mean", "OpenCV adaptiveThreshold MEAN_C 31, C 10",
             lambda g: cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, 31, 10) == 0),
            ("sk-sauvola", "scikit-image threshold_sauvola 31, k 0.2, r 128",
             lambda g: g <= self.threshold_sauvola(g, window_size=31, k=0.2, r=128)),
        ]
        if self.binarizer:
            name, fn = self.binarizer
            out.append(("new-bin", "kxpre.extra %s (defaults)" % name, lambda g: ink_of(fn(g))))
        if self.clean_page:
            out.append(("cleanpage", "kxpre.extra clean_page(dpi=None, turn=False)",
                        lambda g: ink_of(self.clean_page(g, dpi=None, turn=False)[0])))
        return out


# ---------------------------------------------------------------------------
# (a) contest pages


def dibco_pairs(folder, quick):
    names = sorted(f[: -len("_source.png")] for f in os.listdir(folder) if f.endswith("_source.png"))
    names = [n for n in names if os.path.exists(os.path.join(folder, n + "_target.png"))]
    if quick:
        by_year = {}
        for n in names:
            by_year.setdefault(year_of(n), []).append(n)
        names = [n for year in sorted(by_year) for n in by_year[year][:2]]
    return names


def year_of(name):
    head = name.split("_")[0]
    digits = "".join(c for c in head if c.isdigit())
    return digits or head


def read_grey(path):
    from PIL import Image

    with Image.open(path) as im:
        return np.asarray(im.convert("L"), np.uint8).copy()


def run_dibco(methods, folder, quick, log):
    """Per page and method: scores and seconds.  Returns (rows, timing, sample)
    where rows[name][page] = scores."""
    names = dibco_pairs(folder, quick)
    binarizations = methods.binarizations()
    rows = {m[0]: {} for m in binarizations}
    seconds = {m[0]: 0.0 for m in binarizations}
    mpixels = 0.0
    sample = None
    for page in names:
        grey = read_grey(os.path.join(folder, page + "_source.png"))
        truth = read_grey(os.path.join(folder, page + "_target.png")) < 128
        mpixels += grey.size / 1e6
        outputs = {}
        for name, _, fn in binarizations:
            t0 = time.perf_counter()
            try:
                ink = fn(grey.copy())
            except Exception as e:  # a method that fails is reported, the run goes on
                log("  %s on %s failed: %s" % (name, page, e))
                continue
            seconds[name] += time.perf_counter() - t0
            if ink.shape != truth.shape:
                log("  %s on %s: result %s, ground truth %s" % (name, page, ink.shape, truth.shape))
                continue
            rows[name][page] = docmetrics.scores(ink, truth)
            outputs[name] = ink
        log("  %s %dx%d %s" % (page, grey.shape[1], grey.shape[0],
                               " ".join("%s %.1f" % (n, rows[n][page]["fm"]) for n in rows if page in rows[n])))
        if sample is None or page == "DIBCO2010_H03":
            sample = (page, grey, truth, outputs)
    timing = {n: 1000.0 * s / mpixels for n, s in seconds.items()}
    return names, rows, timing, sample, [(m[0], m[1]) for m in binarizations]


def mean_scores(rows, pages):
    keys = ("fm", "pfm", "psnr", "drd")
    got = [rows[p] for p in pages if p in rows]
    if not got:
        return None
    return {k: float(np.mean([g[k] for g in got])) for k in keys}, len(got)


def dibco_markdown(names, rows, timing, described):
    years = sorted({year_of(n) for n in names})
    lines = []
    lines.append("| method | " + " | ".join("%s FM / p-FM / PSNR / DRD" % y for y in years)
                 + " | mean FM | mean p-FM | mean PSNR | mean DRD | ms/Mpx |")
    lines.append("|---" * (len(years) + 6) + "|")
    for name, _ in described:
        cells = []
        for y in years:
            m = mean_scores(rows[name], [n for n in names if year_of(n) == y])
            cells.append("—" if m is None else "%.1f / %.1f / %.2f / %.2f" % tuple(m[0][k] for k in ("fm", "pfm", "psnr", "drd")))
        m = mean_scores(rows[name], names)
        tail = ["—"] * 4 if m is None else ["%.2f" % m[0]["fm"], "%.2f" % m[0]["pfm"], "%.2f" % m[0]["psnr"], "%.2f" % m[0]["drd"]]
        if m is not None and m[1] < len(names):
            tail[0] += " (%d of %d pages)" % (m[1], len(names))
        lines.append("| %s | %s | %s | %.1f |" % (name, " | ".join(cells), " | ".join(tail), timing[name]))
    lines.append("")
    lines.append("Methods: " + "; ".join("**%s** %s" % (n, d) for n, d in described) + ".")
    return lines


def per_page_markdown(names, rows, described):
    lines = ["| page | " + " | ".join(n for n, _ in described) + " |", "|---" * (len(described) + 1) + "|"]
    for page in names:
        lines.append("| %s | %s |" % (page, " | ".join(
            "%.1f" % rows[n][page]["fm"] if page in rows[n] else "—" for n, _ in described)))
    return lines


# ---------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=ROOT, help="source tree whose python/ and build/release are measured")
    ap.add_argument("--data", default=DIBCO, help="folder of NAME_source.png / NAME_target.png pairs")
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "documents.md"))
    ap.add_argument("--picture", default=None, help="the before/after picture (default: --out with .png)")
    ap.add_argument("--only", choices=("dibco", "ocr"), help="run one part only")
    ap.add_argument("--quick", action="store_true", help="two contest pages a year and a few generated pages")
    ap.add_argument("--selftest", action="store_true", help="check the scores on hand-worked cases and stop")
    args = ap.parse_args()

    if args.selftest:
        docmetrics.selftest()
        print("scores: all hand-worked cases agree")
        return 0

    def log(text):
        print(text, file=sys.stderr, flush=True)

    kxpre, kx = load_kxpre(args.build)
    methods = Methods(kxpre, kx)
    start = time.perf_counter()
    md = ["# Documents benchmark", ""]
    md.append("Written by `bench/documents.py`%s in one run (%s); every method on one thread."
              % (" --quick" if args.quick else "", time.strftime("%Y-%m-%d", time.gmtime())))
    md.append("")
    if args.only in (None, "dibco"):
        if not os.path.isdir(args.data):
            log("no contest pages at %s: part (a) skipped" % args.data)
        else:
            log("contest pages (%s)" % args.data)
            names, rows, timing, sample, described = run_dibco(methods, args.data, args.quick, log)
            md.append("## Binarization of contest pages")
            md.append("")
            md.append("%d pages with their ground truth; FM and p-FM in percent, PSNR in dB, DRD lower is better; "
                      "ms/Mpx is the method's time per million pixels on these pages." % len(names))
            md.append("")
            md += dibco_markdown(names, rows, timing, described)
            md.append("")
            md.append("F-measure per page:")
            md.append("")
            md += per_page_markdown(names, rows, described)
            md.append("")
    md.append("Run time: %.0f s." % (time.perf_counter() - start))
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as f:
        f.write("\n".join(md) + "\n")
    log("wrote %s (%.0f s)" % (args.out, time.perf_counter() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
