#!/usr/bin/python3
"""Document binarization on the dev pages: F-measure, pseudo F-measure, PSNR
and DRD per page and per year, for kxxBinarizeDocument and two reference
routes (normalize + kxbLocalIntegral 31,128,0.34; Sauvola), with the
processor time of each call per Mpixel (one thread; a busy machine's wall
clock would say more about the machine).

usage: bench/dibco_eval.py [--data DIR] [--methods doc,li,sauvola] [--pages REGEX] [-q]
       bench/dibco_eval.py --synthetic   (generated degraded pages: F and DRD,
                                           or the ink left on a page without text)
"""
import argparse, ctypes, glob, os, re, sys, time
import numpy as np
from PIL import Image as PILImage

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, HERE)
sys.path.append('/work/wt/docbench/bench')  # the scores, until they are in this folder
import docmetrics  # noqa: E402  (scores as the contests define them)

lib = ctypes.CDLL(os.path.join(ROOT, 'build/release/libkxextra.so'))
pre = ctypes.CDLL(os.path.join(ROOT, 'build/release/libkxpre.so'))
for L in (lib, pre):
    L.kxCreateImageEx.restype = ctypes.c_void_p
    L.kxCreateImageEx.argtypes = [ctypes.c_int] * 4 + [ctypes.c_void_p, ctypes.c_int]
    L.kxDestroyImage.argtypes = [ctypes.c_void_p]


class Measures(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ('strokeWidth', 'textHeight', 'paperCell', 'edgeLevel', 'window',
                                                         'weakLevel', 'strongLevel')]


lib.kxxBinarizeDocumentEx.restype = ctypes.c_void_p
lib.kxxBinarizeDocumentEx.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.POINTER(Measures)]
pre.kxNormalize.restype = ctypes.c_void_p
pre.kxNormalize.argtypes = [ctypes.c_void_p, ctypes.c_float, ctypes.c_float]
pre.kxbLocalIntegral.restype = ctypes.c_void_p
pre.kxbLocalIntegral.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_uint8, ctypes.c_float]
lib.kxxLocalThreshold.restype = ctypes.c_void_p
lib.kxxLocalThreshold.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int, ctypes.c_double, ctypes.c_double]


def wrap(a):
    return lib.kxCreateImageEx(8, a.shape[1], a.shape[0], a.strides[0], a.ctypes.data, 0)


def run_doc(g):
    a = g.copy()
    im = wrap(a)
    m = Measures()
    t = time.thread_time()
    lib.kxxBinarizeDocumentEx(im, 1, 0, ctypes.byref(m))
    dt = time.thread_time() - t
    lib.kxDestroyImage(im)
    return a == 1, dt, m


def run_li(g):
    a = g.copy()
    im = wrap(a)
    t = time.thread_time()
    pre.kxNormalize(im, 128.0, 1600.0)  # the usual normalisation before the integral route
    pre.kxbLocalIntegral(im, 31, 128, 0.34)
    dt = time.thread_time() - t
    lib.kxDestroyImage(im)
    return a == 0, dt, None


def run_sauvola(g):
    a = g.copy()
    im = wrap(a)
    t = time.thread_time()
    lib.kxxLocalThreshold(im, 1, 31, 0.2, 128.0)
    dt = time.thread_time() - t
    lib.kxDestroyImage(im)
    return a == 0, dt, None


METHODS = {'doc': run_doc, 'li': run_li, 'sauvola': run_sauvola}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument('--data', default='/work/shared/data/dibco-dev')
    ap.add_argument('--methods', default='doc,li,sauvola')
    ap.add_argument('--pages', default='.')
    ap.add_argument('-q', action='store_true', help='per-year figures only')
    args = ap.parse_args()
    pages = sorted(p[:-len('_source.png')] for p in glob.glob(os.path.join(args.data, '*_source.png')))
    pages = [p for p in pages if re.search(args.pages, os.path.basename(p))]
    for meth in args.methods.split(','):
        years, px, tt = {}, 0, 0.0
        for p in pages:
            g = np.ascontiguousarray(np.array(PILImage.open(p + '_source.png').convert('L')))
            truth = np.array(PILImage.open(p + '_target.png').convert('L')) < 128
            ink, dt, m = METHODS[meth](g)
            s = docmetrics.scores(ink, truth)
            px += g.size
            tt += dt
            name = os.path.basename(p)
            s['ms'], s['px'] = 1000 * dt, g.size
            years.setdefault(name[5:9], []).append(s)
            if not args.q:
                extra = f' sw={m.strokeWidth} th={m.textHeight} E={m.edgeLevel}' if m else ''
                print(f'{meth:8s} {name:20s} F={s["fm"]:6.2f} pF={s["pfm"]:6.2f} PSNR={s["psnr"]:6.2f} '
                      f'DRD={s["drd"]:6.2f}{extra}')
        allF = []
        for y, ss in sorted(years.items()):
            f = {k: np.mean([s[j] for s in ss]) for k, j in (('F', 'fm'), ('pF', 'pfm'), ('PSNR', 'psnr'), ('DRD', 'drd'))}
            allF.append(f)
            mspx = sum(s['ms'] for s in ss) / (sum(s['px'] for s in ss) / 1e6)
            print(f'{meth:8s} {y}  F={f["F"]:6.2f} pF={f["pF"]:6.2f} PSNR={f["PSNR"]:6.2f} DRD={f["DRD"]:6.2f}'
                  f'  {mspx:5.1f} ms/Mpixel')
        print(f'{meth:8s} mean-of-years F={np.mean([f["F"] for f in allF]):6.2f} '
              f'pF={np.mean([f["pF"] for f in allF]):6.2f} PSNR={np.mean([f["PSNR"] for f in allF]):6.2f} '
              f'DRD={np.mean([f["DRD"] for f in allF]):6.2f}  {1000 * tt / (px / 1e6):.1f} ms/Mpixel '
              '(processor time of the call, one thread)')


if __name__ == '__main__' and '--synthetic' not in sys.argv:
    main()


def synthetic_pages(seed=1):
    """Generated degraded pages (name, grey page, true ink): text on paper
    under a light gradient, low contrast with light fall-off, a stain,
    bleed-through, blur and noise."""
    import cv2
    rng = np.random.default_rng(seed)
    h, w = 800, 1000
    ink = np.zeros((h, w), np.uint8)
    for i, y in enumerate(range(60, h - 40, 50)):
        cv2.putText(ink, 'Degraded page line %d: the quick brown fox' % i, (30, y), cv2.FONT_HERSHEY_SIMPLEX, 1.0, 1, 2)
    truth = ink > 0
    yy, xx = np.mgrid[0:h, 0:w]
    fall = 1.0 - 0.59 * xx / (w - 1)
    pages = []
    pages.append(('gradient', np.where(truth, 40.0, 220.0) * (1.0 - 0.5 * (xx + yy) / (w + h))))
    pages.append(('lowcontrast', np.where(truth, 129.0, 177.0) * fall))
    dip = 1.0 - 0.3 * np.exp(-(((xx - 400) / 160.0) ** 2 + ((yy - 300) / 140.0) ** 2))
    faint = cv2.GaussianBlur(np.where(truth, 129.0, 177.0) * fall * dip, (0, 0), 0.8)
    pages.append(('faintstain', faint + rng.normal(0, 3, (h, w))))
    stain = 220.0 - 90.0 * np.exp(-(((xx - 600) / 150.0) ** 2 + ((yy - 400) / 120.0) ** 2))
    pages.append(('stain', np.where(truth, 60.0, stain)))
    back = np.zeros((h, w), np.uint8)
    for y in range(80, h, 50):
        cv2.putText(back, 'reverse side writing shows through', (60, y), cv2.FONT_HERSHEY_SIMPLEX, 1.1, 1, 2)
    back = back[:, ::-1] > 0
    pages.append(('bleed', np.where(truth, 50.0, np.where(back, 175.0, 215.0))))
    blurred = cv2.GaussianBlur(np.where(truth, 60.0, 210.0), (0, 0), 1.2)
    pages.append(('blurnoise', blurred + rng.normal(0, 12, (h, w))))
    pages.append(('flatnoise', 200.0 + rng.normal(0, 6, (h, w))))
    out = []
    for name, page in pages:
        t = truth if name != 'flatnoise' else np.zeros_like(truth)
        out.append((name, np.ascontiguousarray(np.clip(page, 0, 255).astype(np.uint8)), t))
    return out


def synthetic(methods):
    for meth in methods:
        for name, g, t in synthetic_pages():
            ink, _, _ = METHODS[meth](g)
            if t.any():
                s = docmetrics.scores(ink, t)
                print(f'{meth:8s} {name:12s} F={s["fm"]:6.2f} DRD={s["drd"]:6.2f}')
            else:
                print(f'{meth:8s} {name:12s} ink pixels {int(ink.sum())}')


if __name__ == '__main__' and '--synthetic' in sys.argv:
    synthetic(['doc', 'li', 'sauvola'])
