#!/usr/bin/python3
"""Document binarization on the dev pages: F-measure, pseudo F-measure, PSNR
and DRD per page and per year, for kxxBinarizeDocument and two reference
routes (normalize + kxbLocalIntegral 31,128,0.34; Sauvola).  Also timing.

usage: bench/dibco_eval.py [--data DIR] [--methods doc,li,sauvola] [--pages REGEX]
"""
import argparse, ctypes, glob, os, re, sys, time
import numpy as np
from PIL import Image as PILImage

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.path.insert(0, '/work/wt/docbench/bench')
import docmetrics  # noqa: E402  (scores as the contests define them)

lib = ctypes.CDLL(os.path.join(ROOT, 'build/release/libkxextra.so'))
pre = ctypes.CDLL(os.path.join(ROOT, 'build/release/libkxpre.so'))
for L in (lib, pre):
    L.kxCreateImageEx.restype = ctypes.c_void_p
    L.kxCreateImageEx.argtypes = [ctypes.c_int] * 4 + [ctypes.c_void_p, ctypes.c_int]
    L.kxDestroyImage.argtypes = [ctypes.c_void_p]


class Measures(ctypes.Structure):
    _fields_ = [(n, ctypes.c_int) for n in ('strokeWidth', 'textHeight', 'paperCell', 'edgeLevel', 'window')]


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
    t = time.perf_counter()
    lib.kxxBinarizeDocumentEx(im, 1, 0, ctypes.byref(m))
    dt = time.perf_counter() - t
    lib.kxDestroyImage(im)
    return a == 1, dt, m


def run_li(g):
    a = g.copy()
    im = wrap(a)
    t = time.perf_counter()
    pre.kxNormalize(im, 128.0, 1600.0)  # the usual normalisation before the integral route
    pre.kxbLocalIntegral(im, 31, 128, 0.34)
    dt = time.perf_counter() - t
    lib.kxDestroyImage(im)
    return a == 0, dt, None


def run_sauvola(g):
    a = g.copy()
    im = wrap(a)
    t = time.perf_counter()
    lib.kxxLocalThreshold(im, 1, 31, 0.2, 128.0)
    dt = time.perf_counter() - t
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
            years.setdefault(name[5:9], []).append(s)
            if not args.q:
                extra = f' sw={m.strokeWidth} th={m.textHeight} E={m.edgeLevel}' if m else ''
                print(f'{meth:8s} {name:20s} F={s["fm"]:6.2f} pF={s["pfm"]:6.2f} PSNR={s["psnr"]:6.2f} '
                      f'DRD={s["drd"]:6.2f}{extra}')
        allF = []
        for y, ss in sorted(years.items()):
            f = {k: np.mean([s[j] for s in ss]) for k, j in (('F', 'fm'), ('pF', 'pfm'), ('PSNR', 'psnr'), ('DRD', 'drd'))}
            allF.append(f)
            print(f'{meth:8s} {y}  F={f["F"]:6.2f} pF={f["pF"]:6.2f} PSNR={f["PSNR"]:6.2f} DRD={f["DRD"]:6.2f}')
        print(f'{meth:8s} mean-of-years F={np.mean([f["F"] for f in allF]):6.2f} '
              f'DRD={np.mean([f["DRD"] for f in allF]):6.2f}  {1000 * tt / (px / 1e6):.1f} ms/Mpixel')


if __name__ == '__main__':
    main()
