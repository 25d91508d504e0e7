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
import docroutes  # noqa: E402

DIBCO = "/work/shared/data/dibco-dev"
PAGES = 48  # generated pages of a full run: about 4 minutes on two quiet cores, under 15 on busy ones


def locate(path):
    """(source tree, build folder) for --build: a source tree (its
    build/release is measured) or a build folder inside one."""
    path = os.path.abspath(path)
    if os.path.exists(os.path.join(path, "libkxpre.so")):
        tree = path
        while tree != os.path.dirname(tree) and not os.path.isdir(os.path.join(tree, "python", "kxpre")):
            tree = os.path.dirname(tree)
        if not os.path.isdir(os.path.join(tree, "python", "kxpre")):
            raise SystemExit("documents.py: no python/kxpre in a folder above %s" % path)
        return tree, path
    build = os.path.join(path, "build", "release")
    if not os.path.exists(os.path.join(build, "libkxpre.so")):
        raise SystemExit("documents.py: no libkxpre.so in %s (build the tree, or name its build folder)" % build)
    return path, build


def load_kxpre(tree, build):
    """Imports kxpre and kxpre.extra from TREE/python with the libraries of
    the build folder."""
    for var, path in (
        ("KXPRE_LIBRARY", os.path.join(build, "libkxpre.so")),
        ("KXEXTRA_LIBRARY", os.path.join(build, "libkxextra.so")),
        ("KXPRE_KXIO_LIBRARY", os.path.join(build, "platform", "io", "libkxio.so")),
    ):
        if os.path.exists(path):
            os.environ[var] = path
    if "KXPRE_KXIO_LIBRARY" not in os.environ:
        # The file library is not measured; a build that skipped it borrows
        # this tree's.
        mine = os.path.join(ROOT, "build", "release", "platform", "io", "libkxio.so")
        if os.path.exists(mine):
            os.environ["KXPRE_KXIO_LIBRARY"] = mine
    sys.path.insert(0, os.path.join(tree, "python"))
    import kxpre
    import kxpre.extra

    return kxpre, kxpre.extra


# ---------------------------------------------------------------------------
# Methods: each takes a grey uint8 page and gives a boolean ink image (or, for
# the OCR part, any uint8 picture Tesseract can read).


def picture_of(ink):
    """A boolean ink image as black on white bytes."""
    return np.where(ink, 0, 255).astype(np.uint8)


def timed(work, grey):
    """work(grey) and the processor seconds it took (the route's own figure
    when it gives one)."""
    # The calling thread's processor time: every route runs on this one
    # thread, and other work on a shared machine then does not count.
    t0 = time.thread_time()
    result = work(grey)
    seconds = time.thread_time() - t0
    if isinstance(result, docroutes.Timed):
        if result.seconds is not None:
            seconds = result.seconds
        result = result.value
    return result, seconds


def _turnless(clean, grey):
    return clean(grey, False)


class Methods:
    """The binarizations compared, by name, in report order."""

    def __init__(self, kxpre, kx, build):
        import cv2
        from skimage.filters import threshold_sauvola

        cv2.setNumThreads(1)
        self.kxpre, self.kx, self.cv2, self.threshold_sauvola = kxpre, kx, cv2, threshold_sauvola
        self.new = docroutes.NewCalls(kx, build)

    def found(self):
        """What of the new calls this build has, in words."""
        out = []
        if self.new.binarize:
            out.append("the document binarizer (%s)" % self.new.binarize_route)
        if self.new.clean:
            out.append("the page cleaner (%s)" % self.new.clean_route)
        return ", ".join(out) or "neither the document binarizer nor the page cleaner"

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
        new = self.new
        if new.binarize:
            out.append(("new-bin", "kxxBinarizeDocument, ink set (%s)" % new.binarize_route, new.binarize,
                        new.binarize_ink))
        if new.clean:
            out.append(("cleanpage", "the page cleaner, dpi estimated, not turned (`cleanpage 0 0`; %s)"
                        % new.clean_route, lambda g: _turnless(new.clean, g), lambda o: o[0]))
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
        picture(its result) gives (bytes for Tesseract, and the skew found,
        a report dict or None)."""
        kxpre, cv2 = self.kxpre, self.cv2
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
            ("sauvola", "kxpre.extra sauvola 31 0.2 128", [], lambda g: self.kx.sauvola(g, 31, 0.2, 128), paper_one),
            ("chain", "kxpre: clahe 8 8 2.0, sauvola 31 0.2 128, invert, despeckle 8 5, find_skew, "
             "deskew 0.5 1, invert", [], self.chain, lambda o: (o[0] * 255, o[1])),
        ]
        new = self.new
        if new.binarize:
            out.append(("new-bin", "kxxBinarizeDocument, ink set (%s)" % new.binarize_route, [], new.binarize,
                        lambda o: (picture_of(new.binarize_ink(o)), None)))
        if new.clean:
            out.append(("cleanpage", "the page cleaner with its default options (dpi estimated, turned; %s)"
                        % new.clean_route, [], lambda g: new.clean(g, True), lambda o: (picture_of(o[0]), o[1])))
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


def run_dibco(methods, folder, quick, repeat, log):
    """Per page and method: scores and seconds (the fastest of `repeat`
    runs).  Returns (rows, timing, sample) where rows[name][page] = scores."""
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
                result, secs = timed(work, grey.copy())
                for _ in range(repeat - 1):  # the fastest run counts: other work on the machine only slows
                    secs = min(secs, timed(work, grey.copy())[1])
                seconds[name] += secs
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


def year_means(rows, names):
    """{year: mean scores of that year's pages}, years without a score left
    out."""
    out = {}
    for y in sorted({year_of(n) for n in names}):
        m = mean_scores(rows, [n for n in names if year_of(n) == y])
        if m is not None:
            out[y] = m[0]
    return out


def years_mean(rows, names, key):
    """The mean over the years of the per-year mean of `key`, and the worst
    year (lowest F-measure, highest DRD) as (year, value)."""
    per = year_means(rows, names)
    if not per:
        return None, None
    values = {y: m[key] for y, m in per.items()}
    worst = (max if key == "drd" else min)(values, key=values.get)
    return float(np.mean(list(values.values()))), (worst, values[worst])


def dibco_markdown(names, rows, timing, described):
    years = sorted({year_of(n) for n in names})
    keys = ("fm", "pfm", "psnr", "drd")
    lines = ["Per year (mean over the year's pages):", ""]
    lines.append("| method | " + " | ".join("%s FM / p-FM / PSNR / DRD" % y for y in years) + " |")
    lines.append("|---" * (len(years) + 1) + "|")
    for name, _ in described:
        per = year_means(rows[name], names)
        cells = ["—" if y not in per else "%.1f / %.1f / %.2f / %.2f" % tuple(per[y][k] for k in keys) for y in years]
        lines.append("| %s | %s |" % (name, " | ".join(cells)))
    lines += ["", "Overall: the mean over all %d pages, the mean of the %d year means, and speed:" % (
        len(names), len(years)), ""]
    lines.append("| method | FM | p-FM | PSNR | DRD | FM, mean of years | DRD, mean of years | ms/Mpx |")
    lines.append("|---" * 8 + "|")
    for name, _ in described:
        m = mean_scores(rows[name], names)
        if m is None:
            lines.append("| %s | — | — | — | — | — | — | %.1f |" % (name, timing[name]))
            continue
        cells = ["%.2f" % m[0][k] for k in keys]
        if m[1] < len(names):
            cells[0] += " (%d of %d pages)" % (m[1], len(names))
        cells += ["%.2f" % years_mean(rows[name], names, "fm")[0], "%.2f" % years_mean(rows[name], names, "drd")[0]]
        lines.append("| %s | %s | %.1f |" % (name, " | ".join(cells), timing[name]))
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


def cross_check(methods, folder, names, log):
    """When the build has the page cleaner both in Python and as a kxpipe
    step: whether the two give the same pages (on the first three)."""
    try:
        same = [methods.new.cross_check(read_grey(os.path.join(folder, n + "_source.png"))) for n in names[:3]]
    except Exception as e:  # reported, the run goes on
        log("  cross-check of clean_page and kxpipe cleanpage failed: %s" % e)
        return "The cross-check of `clean_page` against `kxpipe cleanpage 0 0` failed: %s." % e
    if not same or same[0] is None:
        return None
    return "`clean_page(turn=False)` and `kxpipe cleanpage 0 0` give %s on the first %d pages." % (
        "the same bytes" if all(same) else "**different pages**", len(same))


def run_ocr(methods, kxpre, quick, count, jobs, workdir, log):
    """Generates the pages, preprocesses each with every route (timed, one at
    a time), then reads every result with Tesseract (`jobs` at once)."""
    from concurrent.futures import ThreadPoolExecutor

    from PIL import Image

    import docpages

    indices = docpages.QUICK if quick else range(count)
    routes = methods.ocr_routes()
    pages, jobs_list = [], []
    seconds = {r[0]: 0.0 for r in routes}
    mpixels = 0.0
    outputs = {}
    sample = None
    for index in indices:
        page = docpages.make_page(kxpre, index)
        # kxxFindSkew's sign (positive when the lines fall to the right):
        # the page was turned counter-clockwise by `angle`, so its lines
        # rise by that much to the right.
        page["known_skew"] = -page["angle"]
        pages.append(page)
        grey = page["grey"]
        mpixels += grey.size / 1e6
        page["skew"] = {}
        for name, _, options, work, to_picture in routes:
            try:
                result, secs = timed(work, grey.copy())
                seconds[name] += secs
                picture, found = to_picture(result)
            except Exception as e:  # a route that fails is reported, the run goes on
                log("  %s on %s failed: %s" % (name, page["name"], e))
                continue
            picture = np.ascontiguousarray(picture, np.uint8)
            if picture.ndim == 3:
                picture = picture[..., ::-1]  # B,G,R to R,G,B for the file
            path = os.path.join(workdir, "%s-%s.png" % (page["name"], name))
            Image.fromarray(picture).save(path, dpi=(page["dpi"], page["dpi"]))
            if found is not None and not isinstance(found, (int, float)):  # a report
                page["report"] = found
                found = docroutes.report_value(found, docroutes.ANGLE_KEYS)
            if found is not None:
                page["skew"][name] = found
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


def skew_sign(pages, name):
    """+1 when a route's angles follow kxxFindSkew's sign on the turned
    pages, -1 when they are its opposite (the angle the page was turned by),
    None without turned pages."""
    turned = [p for p in pages if name in p["skew"] and abs(p["known_skew"]) > 0.5]
    if not turned:
        return None
    same = np.median([abs(p["skew"][name] - p["known_skew"]) for p in turned])
    flip = np.median([abs(p["skew"][name] + p["known_skew"]) for p in turned])
    return -1 if flip < same else 1


def skew_errors(pages, name):
    """|found - known| per page (page name -> degrees) in the sign the
    route's angles follow."""
    sign = skew_sign(pages, name) or 1
    return {p["name"]: abs(sign * p["skew"][name] - p["known_skew"]) for p in pages if name in p["skew"]}


def worse_than_raw(pages, results, name, by=0.0):
    """Names of the pages a route reads with a CER higher than the raw
    page's by more than `by`."""
    return [p["name"] for p in pages
            if p["name"] in results[name] and p["name"] in results["raw"]
            and results[name][p["name"]][0] > results["raw"][p["name"]][0] + by]


def ocr_pages_markdown(pages, results, described):
    names = [n for n, _ in described]
    new = "cleanpage" if "cleanpage" in names else None
    head = "| page | degradation | dpi | face, size | turned ° | " + " | ".join(names) + " |"
    if new:
        head += " cleanpage worse than raw | cleanpage skew error ° | cleanpage confidence |"
        errors = skew_errors(pages, new)
        worse = set(worse_than_raw(pages, results, new))
    lines = [head, "|---" * (head.count("|") - 1) + "|"]
    for p in pages:
        cells = ["%.1f" % (100 * results[n][p["name"]][0]) if p["name"] in results[n] else "—" for n in names]
        row = "| %s | %s | %d | %s %d pt | %.2f | %s |" % (
            p["name"], p["recipe"], p["dpi"], p["face"], p["points"], p["angle"], " | ".join(cells))
        if new:
            read = p["name"] in results[new] and p["name"] in results["raw"]
            conf = docroutes.report_value(p.get("report", {}), docroutes.CONFIDENCE_KEYS)
            row += " %s | %s | %s |" % ("—" if not read else "**yes**" if p["name"] in worse else "no",
                                        "%.3f" % errors[p["name"]] if p["name"] in errors else "—",
                                        "—" if conf is None else "%.2f" % conf)
        lines.append(row)
    return lines


def skew_markdown(pages, described):
    """Skew found by the routes that report one against the known angle."""
    lines = []
    for name, _ in described:
        errors = list(skew_errors(pages, name).values())
        if errors:
            sign = skew_sign(pages, name)
            lines.append("- **%s**: mean |error| %.3f°, worst %.3f°, within 0.05° on %d of %d pages%s" % (
                name, float(np.mean(errors)), float(np.max(errors)), sum(e <= 0.05 for e in errors), len(errors),
                " (its angle is the turn it applied, the opposite of kxxFindSkew's sign)" if sign == -1 else ""))
    return lines


def targets_markdown(dibco, ocr):
    """The targets with the measured figures: the page cleaner's, and for
    comparison the document binarizer's and the best existing route's."""
    lines = ["| target | goal | cleanpage | new-bin (binarizer alone) | best other route | met |",
             "|---|---|---|---|---|---|"]
    na = "not in this build"

    def row(what, goal, figures, best, ok):
        cells = [figures.get(n, na) for n in ("cleanpage", "new-bin")]
        met = "—" if ok is None else ("yes" if ok else "**no**")
        lines.append("| %s | %s | %s | %s | %s | %s |" % (what, goal, cells[0], cells[1], best, met))

    if dibco:
        names, rows, timing = dibco
        others = [n for n in rows if n not in ("cleanpage", "new-bin") and rows[n]]
        fm, drd, fig_fm, fig_drd, fig_ms = {}, {}, {}, {}, {}
        for n in rows:
            if not rows[n]:
                continue
            fm[n], worst_fm = years_mean(rows[n], names, "fm")
            drd[n], worst_drd = years_mean(rows[n], names, "drd")
            fig_fm[n] = "%.2f (worst year %s: %.2f)" % (fm[n], worst_fm[0], worst_fm[1])
            fig_drd[n] = "%.2f (worst year %s: %.2f)" % (drd[n], worst_drd[0], worst_drd[1])
        for n in timing:
            fig_ms[n] = "%.1f" % timing[n]
        best = max(others, key=fm.get) if others else None
        row("contest pages: F-measure, mean of year means", ">= 90", fig_fm,
            "%s %s" % (best, fig_fm[best]) if best else "—", fm["cleanpage"] >= 90 if "cleanpage" in fm else None)
        best = min(others, key=drd.get) if others else None
        row("contest pages: DRD, mean of year means", "<= 4", fig_drd,
            "%s %s" % (best, fig_drd[best]) if best else "—", drd["cleanpage"] <= 4 if "cleanpage" in drd else None)
        best = min(others, key=timing.get) if others else None
        row("contest pages: ms per Mpixel, one thread", "<= 30", fig_ms,
            "%s %s" % (best, fig_ms[best]) if best else "—",
            timing["cleanpage"] <= 30 if "cleanpage" in timing else None)
    if ocr:
        pages, results = ocr
        cer, fig = {}, {}
        for n in results:
            got = [results[n][p["name"]][0] for p in pages if p["name"] in results[n]]
            if got:
                cer[n] = 100 * float(np.mean(got))
                fig[n] = "%.2f %%" % cer[n]
        others = [n for n in cer if n not in ("cleanpage", "new-bin", "raw")]
        best = min(others, key=cer.get) if others else None
        row("generated pages: Tesseract CER, mean", "<= 2 %", fig, "%s %s" % (best, fig[best]) if best else "—",
            cer["cleanpage"] <= 2 if "cleanpage" in cer else None)
        ratio = {n: "%.2f of raw's %.2f %%" % (cer[n] / cer["raw"], cer["raw"]) for n in cer if "raw" in cer and cer["raw"]}
        row("generated pages: CER against the raw page's", "about 0.1", ratio,
            "%s %s" % (best, ratio.get(best, "—")) if best else "—",
            cer["cleanpage"] <= 0.1 * cer["raw"] if "cleanpage" in cer and "raw" in cer else None)
        worse = {n: "%d of %d (%d by more than 1 point)" % (
            len(worse_than_raw(pages, results, n)), len(results[n]), len(worse_than_raw(pages, results, n, 0.01)))
            for n in results if n != "raw"}
        fewest = min(others, key=lambda n: len(worse_than_raw(pages, results, n))) if others else None
        row("generated pages read worse than raw", "none", worse,
            "%s %s" % (fewest, worse[fewest]) if fewest else "—",
            not worse_than_raw(pages, results, "cleanpage") if "cleanpage" in results and results["cleanpage"] else None)
        errors = {n: skew_errors(pages, n) for n in {k for p in pages for k in p["skew"]}}
        fig = {n: "worst %.3f°, mean %.3f° (%d pages)" % (max(e.values()), np.mean(list(e.values())), len(e))
               for n, e in errors.items() if e}
        others = [n for n in fig if n not in ("cleanpage", "new-bin")]
        row("skew error on every page with text lines", "<= 0.05°", fig,
            "%s %s" % (others[0], fig[others[0]]) if others else "—",
            max(errors["cleanpage"].values()) <= 0.05 if errors.get("cleanpage") else None)
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
    if out.returncode != 0 or not out.stdout.strip():
        return ""
    head = out.stdout.strip()
    dirty = subprocess.run(["git", "-C", tree, "status", "--porcelain", "--untracked-files=no"],
                           capture_output=True, text=True, timeout=30)
    return ", commit %s%s" % (head, " with changes not committed" if dirty.stdout.strip() else "")


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    ap.add_argument("--build", default=ROOT,
                    help="source tree (its build/release is measured) or a build folder inside one")
    ap.add_argument("--data", default=DIBCO, help="folder of NAME_source.png / NAME_target.png pairs")
    ap.add_argument("--out", default=os.path.join(ROOT, "docs", "documents.md"))
    ap.add_argument("--picture", default=None, help="the before/after picture (default: --out with .png)")
    ap.add_argument("--only", choices=("dibco", "ocr"), help="run one part only")
    ap.add_argument("--quick", action="store_true", help="two contest pages a year and a few generated pages")
    ap.add_argument("--pages", type=int, default=PAGES, help="generated pages (default %d)" % PAGES)
    ap.add_argument("--repeat", type=int, default=None,
                    help="runs of each method per contest page, the fastest timed (default 3, --quick 1)")
    ap.add_argument("--jobs", type=int, default=2, help="Tesseract processes at once (default 2)")
    ap.add_argument("--selftest", action="store_true", help="check the scores on hand-worked cases and stop")
    args = ap.parse_args()

    if args.selftest:
        docmetrics.selftest()
        docroutes.selftest()
        print("scores and report parsing: all hand-worked cases agree")
        return 0

    def log(text):
        print(text, file=sys.stderr, flush=True)

    if args.repeat is None:
        args.repeat = 1 if args.quick else 3
    tree, build = locate(args.build)
    kxpre, kx = load_kxpre(tree, build)
    methods = Methods(kxpre, kx, build)
    start = time.perf_counter()
    log("measuring %s (%s): %s" % (tree, build, methods.found()))
    intro = ["# Documents benchmark", ""]
    intro.append("Written by `bench/documents.py%s` in one run on %s; the tree measured: %s%s, libraries of `%s`. "
                 "Every method runs on one thread.  The new calls this build has: %s." % (
                     " --quick" if args.quick else "", time.strftime("%Y-%m-%d", time.gmtime()),
                     "this one" if tree == ROOT else "`%s`" % tree, git_head(tree),
                     os.path.relpath(build, tree), methods.found()))
    intro.append("")
    md = []
    speed = {}
    dibco = ocr = None
    dibco_sample = ocr_sample = None
    if args.only in (None, "dibco"):
        if not os.path.isdir(args.data):
            log("no contest pages at %s: part (a) skipped" % args.data)
        else:
            log("contest pages (%s)" % args.data)
            names, rows, timing, dibco_sample, described = run_dibco(methods, args.data, args.quick, args.repeat, log)
            dibco = (names, rows, timing)
            for n, d in described:
                speed.setdefault(n, [d, None, None])[1] = timing[n]
            md.append("## Binarization of contest pages")
            md.append("")
            md.append(
                "%d degraded pages of the document binarization contests with their ground truth (`%s`), read "
                "as grey (luma); ink is the ground truth's black.  FM: F-measure, p-FM: pseudo F-measure (recall "
                "on the ground truth's skeleton, as the 2010-2012 contests define it; the weighted pseudo-recall "
                "and pseudo-precision of the later contests are not computed), both in percent; PSNR in dB; DRD (distance reciprocal "
                "distortion, 5 x 5 weights over the 8 x 8 blocks holding ink and paper), lower is better.  "
                "The definitions are in `bench/docmetrics.py`, checked on hand-worked cases by `--selftest`."
                % (len(names), args.data))
            check = cross_check(methods, args.data, names, log)
            if check:
                md.append("")
                md.append(check)
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
                    methods, kxpre, args.quick, args.pages, args.jobs, workdir, log)
            ocr = (pages, results)
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
                md.append("Skew found against the known turn (kxxFindSkew's sign: positive when the lines fall to "
                          "the right; a route whose angles are consistently the opposite is compared in its own "
                          "sign, and said so):")
                md.append("")
                md += skew
                md.append("")
    if speed:
        md.append("## Speed")
        md.append("")
        md.append("Milliseconds per million pixels of each method's own work (file reading, Tesseract and "
                  "scoring not counted): the processor time of the one thread every method runs on, so other "
                  "work on the machine does not count (a kxpipe step's own duration from `--time`, which does), on the "
                  "contest pages (the fastest of %d runs of each page) and on the generated pages of this run "
                  "(one run)." % args.repeat + "  Tesseract's own binarizations run "
                  "inside Tesseract and are not timed apart from its reading (see its seconds per page above).")
        md.append("")
        md.append("| method | contest pages ms/Mpx | generated pages ms/Mpx |")
        md.append("|---|---|---|")
        for n, (d, a, b) in speed.items():
            if n.startswith("tess-") or n == "raw":
                continue
            md.append("| %s | %s | %s |" % (n, "—" if a is None else "%.1f" % a, "—" if b is None else "%.1f" % b))
        md.append("")
    if dibco or ocr:
        intro.append("## Targets")
        intro.append("")
        intro.append("The page cleaner (`cleanpage 0 0` on contest pages, its defaults on generated ones) against "
                     "its targets, with the document binarizer alone and the best of the other routes beside it "
                     "(\"not in this build\" where the measured build lacks the call).")
        intro.append("")
        intro += targets_markdown(dibco, ocr)
        intro.append("")
    picture = args.picture or os.path.splitext(args.out)[0] + ".png"
    os.makedirs(os.path.dirname(os.path.abspath(picture)), exist_ok=True)
    write_picture(picture, dibco_sample, ocr_sample)
    if os.path.exists(picture):
        intro.append("![before and after: a contest page and a generated page, source and results](%s)"
                     % os.path.relpath(picture, os.path.dirname(os.path.abspath(args.out))))
        intro.append("")
    md.append("Run time: %.0f s." % (time.perf_counter() - start))
    os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
    with open(args.out, "w") as f:
        f.write("\n".join(intro + md) + "\n")
    log("wrote %s (%.0f s)" % (args.out, time.perf_counter() - start))
    return 0


if __name__ == "__main__":
    sys.exit(main())
