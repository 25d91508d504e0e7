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
    """Ink of a result whose polarity is not declared: of a two-level
    picture the less frequent level (pages are mostly paper), of a grey one
    what is darker than mid-grey."""
    a = np.asarray(array)
    if a.ndim == 3:
        a = a[..., 0]
    if a.dtype == bool:
        a = a.view(np.uint8)
    levels = np.unique(a[:: max(1, a.shape[0] // 64), :: max(1, a.shape[1] // 64)])
    if len(levels) > 2 or len(np.unique(a)) > 2:
        return a < 128
    lo = a == a.min()
    if lo.all():
        return np.zeros(a.shape, bool)
    return lo if lo.mean() <= 0.5 else ~lo


def picture_of(ink):
    """A boolean ink image as black on white bytes."""
    return np.where(ink, 0, 255).astype(np.uint8)


def report_angle(report):
    """The skew angle a page-cleaning report gives, or None."""
    for key in ("angle", "skew", "skew_angle", "deskew_angle"):
        value = report.get(key) if isinstance(report, dict) else getattr(report, key, None)
        if isinstance(value, (int, float)) and not isinstance(value, bool):
            return float(value)
    return None


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
        """(name, description, work, ink) for the contest pages: work(grey)
        is the method's own work (timed), ink(its result) the boolean ink
        image (not timed)."""
        kxpre, kx, cv2 = self.kxpre, self.kx, self.cv2
        zero = lambda o: o == 0  # noqa: E731
        out = [
            ("readme", "kxpre normalize 128 1200 + local_integral 31 128 0.34",
             lambda g: kxpre.local_integral(kxpre.normalize(g, 128, 1200), 31, 128, 0.34), zero),
            ("sauvola", "kxpre.extra sauvola 31 0.2 128", lambda g: kx.sauvola(g, 31, 0.2, 128), zero),
            ("otsu", "kxpre threshold OTSU", lambda g: kxpre.threshold(g, kxpre.Threshold.OTSU), zero),
            ("cv-mean", "OpenCV adaptiveThreshold MEAN_C 31, C 10",
             lambda g: cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, 31, 10), zero),
            ("sk-sauvola", "scikit-image threshold_sauvola 31, k 0.2, r 128",
             lambda g: g <= self.threshold_sauvola(g, window_size=31, k=0.2, r=128), lambda o: o),
        ]
        if self.binarizer:
            name, fn = self.binarizer
            out.append(("new-bin", "kxpre.extra %s (defaults)" % name, fn, ink_of))
        if self.clean_page:
            out.append(("cleanpage", "kxpre.extra clean_page(dpi=None, turn=False)",
                        lambda g: self.clean_page(g, dpi=None, turn=False), lambda o: ink_of(o[0])))
        return out

    def chain(self, g):
        """The hand chain: CLAHE, Sauvola, ink set, despeckle, skew, deskew,
        paper set again.  Returns (binary 1 = paper, skew found)."""
        kx = self.kx
        b = self.kxpre.invert(kx.sauvola(kx.clahe(g, (8, 8), 2.0), 31, 0.2, 128), binary=True)
        b = kx.despeckle(b, 8, 5)
        angle, _ = kx.find_skew(b)
        b, _ = kx.deskew(b, 0.5, 1)
        return self.kxpre.invert(b, binary=True), angle

    def ocr_routes(self):
        """(name, description, Tesseract options, work, picture) for the
        generated pages: work(grey) is the route's own work (timed),
        picture(its result) gives (bytes for Tesseract, skew found or None)."""
        kxpre, kx, cv2 = self.kxpre, self.kx, self.cv2
        same = lambda o: (o, None)  # noqa: E731
        paper_one = lambda o: (o * 255, None)  # noqa: E731
        out = [
            ("raw", "the page as generated; Tesseract's default (Otsu) binarization", [], lambda g: g, same),
            ("tess-adaptive", "the page; Tesseract -c thresholding_method=1 (adaptive Otsu)",
             ["-c", "thresholding_method=1"], lambda g: g, same),
            ("tess-sauvola", "the page; Tesseract -c thresholding_method=2 (Sauvola)",
             ["-c", "thresholding_method=2"], lambda g: g, same),
            ("cv-mean", "OpenCV adaptiveThreshold MEAN_C 31, C 10", [],
             lambda g: cv2.adaptiveThreshold(g, 255, cv2.ADAPTIVE_THRESH_MEAN_C, cv2.THRESH_BINARY, 31, 10), same),
            ("sk-sauvola", "scikit-image threshold_sauvola 31, k 0.2, r 128", [],
             lambda g: g <= self.threshold_sauvola(g, window_size=31, k=0.2, r=128), lambda o: (picture_of(o), None)),
            ("readme", "kxpre normalize 128 1200 + local_integral 31 128 0.34", [],
             lambda g: kxpre.local_integral(kxpre.normalize(g, 128, 1200), 31, 128, 0.34), paper_one),
            ("chain", "kxpre: clahe 8 8 2.0, sauvola 31 0.2 128, invert, despeckle 8 5, find_skew, "
             "deskew 0.5 1, invert", [], self.chain, lambda o: (o[0] * 255, o[1])),
        ]
        if self.binarizer:
            name, fn = self.binarizer
            out.append(("new-bin", "kxpre.extra %s (defaults)" % name, [], fn, lambda o: (picture_of(ink_of(o)), None)))
        if self.clean_page:
            def picture(o):
                a = np.asarray(o[0])
                if a.dtype == bool or len(np.unique(a)) <= 2:
                    a = picture_of(ink_of(a))
                return a, report_angle(o[1])

            out.append(("cleanpage", "kxpre.extra clean_page (default options)", [], self.clean_page, picture))
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
        for name, _, work, to_ink in binarizations:
            try:
                t0 = time.perf_counter()
                result = work(grey.copy())
                seconds[name] += time.perf_counter() - t0
                ink = np.asarray(to_ink(result), bool)
            except Exception as e:  # a method that fails is reported, the run goes on
                log("  %s on %s failed: %s" % (name, page, e))
                continue
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
# (b) OCR on generated pages

# Characters Tesseract may give for what the pages hold in plain ASCII.
_ASCII = str.maketrans({"\u2018": "'", "\u2019": "'", "\u201c": '"', "\u201d": '"', "\u2014": "-", "\u2013": "-",
                        "\u00ad": "-", "\u2026": "..."})


def clean_ocr(text):
    import unicodedata

    return unicodedata.normalize("NFKC", text).translate(_ASCII)


def tesseract_version():
    import subprocess

    try:
        out = subprocess.run(["tesseract", "--version"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return None
    text = (out.stdout or out.stderr).strip().splitlines()
    return text[0] if text else "tesseract"


def tesseract(path, options):
    """Tesseract's text for an image file (default page layout, English),
    and the seconds it took."""
    import subprocess

    env = dict(os.environ, OMP_THREAD_LIMIT="1")
    t0 = time.perf_counter()
    out = subprocess.run(["tesseract", path, "stdout", "-l", "eng"] + list(options),
                         capture_output=True, text=True, env=env, timeout=600)
    return clean_ocr(out.stdout), time.perf_counter() - t0


def run_ocr(methods, kxpre, quick, jobs, workdir, log):
    """Generates the pages, preprocesses each with every route (timed, one at
    a time), then reads every result with Tesseract (`jobs` at once)."""
    from concurrent.futures import ThreadPoolExecutor

    from PIL import Image

    import docpages

    indices = docpages.QUICK if quick else range(len(docpages.RECIPES))
    routes = methods.ocr_routes()
    pages, jobs_list = [], []
    seconds = {r[0]: 0.0 for r in routes}
    mpixels = 0.0
    outputs = {}
    sample = None
    for index in indices:
        page = docpages.make_page(kxpre, index)
        # kxxFindSkew's sign: the page was turned counter-clockwise by
        # `angle`, so its lines fall by that much to the right.
        page["known_skew"] = -page["angle"]
        pages.append(page)
        grey = page["grey"]
        mpixels += grey.size / 1e6
        page["skew"] = {}
        for name, _, options, work, to_picture in routes:
            try:
                t0 = time.perf_counter()
                result = work(grey.copy())
                seconds[name] += time.perf_counter() - t0
                picture, angle = to_picture(result)
            except Exception as e:  # a route that fails is reported, the run goes on
                log("  %s on %s failed: %s" % (name, page["name"], e))
                continue
            picture = np.ascontiguousarray(picture, np.uint8)
            if picture.ndim == 3:
                picture = picture[..., ::-1]  # B,G,R to R,G,B for the file
            path = os.path.join(workdir, "%s-%s.png" % (page["name"], name))
            Image.fromarray(picture).save(path, dpi=(page["dpi"], page["dpi"]))
            if angle is not None:
                page["skew"][name] = angle
            jobs_list.append((page["name"], name, path, options))
            if page["index"] == 15 or (quick and page is pages[0]):
                outputs[name] = picture
        if page["index"] == 15 or (quick and page is pages[0]):
            sample = (page, outputs)
        log("  %s generated (%s, %d dpi, %s %d pt, turned %.2f)" % (
            page["name"], page["recipe"], page["dpi"], page["face"], page["points"], page["angle"]))
    log("  reading %d pictures with Tesseract, %d at a time" % (len(jobs_list), jobs))
    with ThreadPoolExecutor(max_workers=jobs) as pool:
        read = list(pool.map(lambda j: tesseract(j[2], j[3]), jobs_list))
    results = {r[0]: {} for r in routes}
    ocr_seconds = {r[0]: [] for r in routes}
    by_name = {p["name"]: p for p in pages}
    for (page_name, name, _, _), (text, secs) in zip(jobs_list, read):
        reference = by_name[page_name]["text"]
        results[name][page_name] = (docmetrics.cer(text, reference), docmetrics.wer(text, reference))
        ocr_seconds[name].append(secs)
    timing = {n: 1000.0 * s / mpixels for n, s in seconds.items()}
    return pages, results, timing, ocr_seconds, sample, [(r[0], r[1]) for r in routes]


def ocr_markdown(pages, results, timing, ocr_seconds, described):
    lines = ["| method | mean CER % | mean WER % | median CER % | worst CER % | pages read (CER < 5 %) "
             "| preprocessing ms/Mpx | Tesseract s/page |", "|---" * 8 + "|"]
    for name, _ in described:
        got = [results[name][p["name"]] for p in pages if p["name"] in results[name]]
        if not got:
            lines.append("| %s | — | — | — | — | — | — | — |" % name)
            continue
        c = np.array([g[0] for g in got]) * 100
        w = np.array([g[1] for g in got]) * 100
        lines.append("| %s | %.2f | %.2f | %.2f | %.1f | %d of %d | %.1f | %.2f |" % (
            name, c.mean(), w.mean(), np.median(c), c.max(), int((c < 5).sum()), len(got), timing[name],
            np.mean(ocr_seconds[name])))
    lines.append("")
    lines.append("Methods: " + "; ".join("**%s** %s" % (n, d) for n, d in described) + ".")
    return lines


def ocr_pages_markdown(pages, results, described):
    names = [n for n, _ in described]
    new = "cleanpage" if "cleanpage" in names else None
    head = "| page | degradation | dpi | face, size | turned ° | " + " | ".join(names) + " |"
    if new:
        head += " cleanpage worse than raw | cleanpage skew error ° |"
    lines = [head, "|---" * (head.count("|") - 1) + "|"]
    for p in pages:
        cells = ["%.1f" % (100 * results[n][p["name"]][0]) if p["name"] in results[n] else "—" for n in names]
        row = "| %s | %s | %d | %s %d pt | %.2f | %s |" % (
            p["name"], p["recipe"], p["dpi"], p["face"], p["points"], p["angle"], " | ".join(cells))
        if new:
            raw, got = results["raw"].get(p["name"]), results[new].get(p["name"])
            worse = "—" if raw is None or got is None else ("**yes**" if got[0] > raw[0] else "no")
            found = p["skew"].get(new)
            error = "—" if found is None else "%+.2f" % (found - p["known_skew"] + 0.0)
            row += " %s | %s |" % (worse, error)
        lines.append(row)
    return lines


def skew_markdown(pages, described):
    """Skew found by the routes that report one against the known angle."""
    lines = []
    for name, _ in described:
        errors = [abs(p["skew"][name] - p["known_skew"]) for p in pages if name in p["skew"]]
        if errors:
            lines.append("- **%s**: mean |error| %.3f°, worst %.3f° over %d pages" % (
                name, float(np.mean(errors)), float(np.max(errors)), len(errors)))
    return lines


# ---------------------------------------------------------------------------
# The picture


def write_picture(path, dibco_sample, ocr_sample):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    rows = []
    if dibco_sample:
        page, grey, truth, outputs = dibco_sample
        h, w = grey.shape
        ch, cw = min(h, 420), min(w, 720)
        y0, x0 = (h - ch) // 2, (w - cw) // 2
        crop = (slice(y0, y0 + ch), slice(x0, x0 + cw))
        picks = [("%s source" % page, grey[crop]), ("ground truth", picture_of(truth[crop]))]
        new = [n for n in ("new-bin", "cleanpage") if n in outputs]
        for name in ["readme"] + (new or ["sauvola", "otsu"]):
            if name in outputs:
                picks.append((name, picture_of(outputs[name][crop])))
        rows.append(picks[:5])
    if ocr_sample:
        page, outputs = ocr_sample
        picks = [("%s (%s)" % (page["name"], page["recipe"]), page["grey"])]
        new = [n for n in ("new-bin", "cleanpage") if n in outputs]
        for name in ["readme", "chain"] + (new or ["sk-sauvola"]):
            if name in outputs:
                picks.append((name, outputs[name]))
        rows.append(picks[:5])
    if not rows:
        return
    columns = max(len(r) for r in rows)
    fig, axes = plt.subplots(len(rows), columns, figsize=(3.6 * columns, 2.6 * len(rows)), squeeze=False)
    for r, picks in enumerate(rows):
        for c in range(columns):
            ax = axes[r][c]
            ax.axis("off")
            if c < len(picks):
                title, image = picks[c]
                ax.imshow(image, cmap="gray", vmin=0, vmax=255, interpolation="antialiased")
                ax.set_title(title, fontsize=9)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)


# ---------------------------------------------------------------------------


def git_head(tree):
    import subprocess

    try:
        out = subprocess.run(["git", "-C", tree, "log", "-1", "--format=%h"], capture_output=True, text=True, timeout=30)
    except (OSError, subprocess.TimeoutExpired):
        return ""
    return ", commit %s" % out.stdout.strip() if out.returncode == 0 and out.stdout.strip() else ""


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=ROOT, help="source tree whose python/ and build/release are measured")
    ap.add_argument("--data", default=DIBCO, help="folder of NAME_source.png / NAME_target.png pairs")
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "documents.md"))
    ap.add_argument("--picture", default=None, help="the before/after picture (default: --out with .png)")
    ap.add_argument("--only", choices=("dibco", "ocr"), help="run one part only")
    ap.add_argument("--quick", action="store_true", help="two contest pages a year and a few generated pages")
    ap.add_argument("--jobs", type=int, default=2, help="Tesseract processes at once (default 2)")
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
    tree = os.path.abspath(args.build)
    md = ["# Documents benchmark", ""]
    md.append("Written by `bench/documents.py%s` in one run on %s (the tree measured: %s%s); every method "
              "on one thread.  New calls measured when this build has them: %s." % (
                  " --quick" if args.quick else "", time.strftime("%Y-%m-%d", time.gmtime()),
                  "this one" if tree == ROOT else "`%s`" % tree, git_head(tree),
                  ", ".join(n for n in ("clean_page" if methods.clean_page else None,
                                        methods.binarizer[0] if methods.binarizer else None) if n) or "none"))
    md.append("")
    speed = {}
    dibco_sample = ocr_sample = None
    if args.only in (None, "dibco"):
        if not os.path.isdir(args.data):
            log("no contest pages at %s: part (a) skipped" % args.data)
        else:
            log("contest pages (%s)" % args.data)
            names, rows, timing, dibco_sample, described = run_dibco(methods, args.data, args.quick, log)
            for n, d in described:
                speed.setdefault(n, [d, None, None])[1] = timing[n]
            md.append("## Binarization of contest pages")
            md.append("")
            md.append("%d degraded pages of the 2009-2011 document binarization contests with their ground truth "
                      "(`%s`), read as grey (luma).  FM and p-FM in percent (higher is better), PSNR in dB (higher "
                      "is better), DRD lower is better; per contest year, then the mean over all pages."
                      % (len(names), args.data))
            md.append("")
            md += dibco_markdown(names, rows, timing, described)
            md.append("")
            md.append("F-measure per page:")
            md.append("")
            md += per_page_markdown(names, rows, described)
            md.append("")
    if args.only in (None, "ocr"):
        version = tesseract_version()
        if version is None:
            log("no tesseract: part (b) skipped")
        else:
            import tempfile

            log("generated pages, OCR by %s" % version)
            with tempfile.TemporaryDirectory(prefix="kxdocs-") as workdir:
                pages, results, timing, ocr_seconds, ocr_sample, described = run_ocr(
                    methods, kxpre, args.quick, args.jobs, workdir, log)
            for n, d in described:
                speed.setdefault(n, [d, None, None])[2] = timing[n]
            md.append("## OCR of generated pages")
            md.append("")
            md.append(
                "%d pages with known text drawn by kxpre's own text drawing (`fill_text_ex`; faces %s; 9-12 pt at "
                "150, 200 and 300 dpi; `bench/docpages.py`, seeded, the same pages every run), then degraded: "
                "uneven light (falling off by 35-55 %% from a point), low contrast (ink 129 on paper 177 with "
                "59 %% light fall-off), bleed-through of a mirrored, blurred verso, stains, blur, noise, JPEG "
                "(quality 20-40) and turns of 1-4 degrees.  Each route's picture is read by %s with its default "
                "page layout (`tesseract PAGE stdout -l eng`, one thread, the page's dpi in the file).  CER: "
                "Levenshtein distance over the reference length after collapsing white space (Tesseract's "
                "typographic quotes, dashes and ligatures mapped to ASCII first); WER the same on words."
                % (len(pages), ", ".join(sorted({p["face"] for p in pages})), version))
            md.append("")
            md += ocr_markdown(pages, results, timing, ocr_seconds, described)
            md.append("")
            md.append("CER % per page:")
            md.append("")
            md += ocr_pages_markdown(pages, results, described)
            md.append("")
            skew = skew_markdown(pages, described)
            if skew:
                md.append("Skew found (kxxFindSkew's sign: positive when the lines fall to the right) against "
                          "the known turn:")
                md.append("")
                md += skew
                md.append("")
    if speed:
        md.append("## Speed")
        md.append("")
        md.append("Milliseconds per million pixels of each method's own work (file reading, Tesseract and "
                  "scoring not counted), one thread, on the contest pages and on the generated pages of "
                  "this run.")
        md.append("")
        md.append("| method | contest pages ms/Mpx | generated pages ms/Mpx |")
        md.append("|---|---|---|")
        for n, (d, a, b) in speed.items():
            if n.startswith("tess-") or n == "raw":
                continue
            md.append("| %s | %s | %s |" % (n, "—" if a is None else "%.1f" % a, "—" if b is None else "%.1f" % b))
        md.append("")
    picture = args.picture or os.path.splitext(args.out)[0] + ".png"
    write_picture(picture, dibco_sample, ocr_sample)
    if os.path.exists(picture):
        md.append("![before and after](%s)" % os.path.relpath(picture, os.path.dirname(os.path.abspath(args.out))))
        md.append("")
    md.append("Run time: %.0f s." % (time.perf_counter() - start))
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as f:
        f.write("\n".join(md) + "\n")
    log("wrote %s (%.0f s)" % (args.out, time.perf_counter() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
