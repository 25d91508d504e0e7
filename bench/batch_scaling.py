"""Pages per second of the demo's document pipeline over a generated set of
A4 pages, with 1, 2 and N local Dask worker processes.

    python3 bench/batch_scaling.py [--pages 40] [--size 2480x3508] [--workers 1,2,4]

The pages are drawn with the library's own drawing and text exports (lines
of text, a stamp, uneven light, noise), written once as PGM files, then run
through kxpre.batch (one kxpipe server per worker) into a fresh folder for
each worker count.  Prints a Markdown table: workers, seconds, pages/s,
speed-up, and where the workers' time went: decoding, operations, encoding
(as kxpipe measures them) and the rest (the task around them, the cluster,
idle workers), as shares of workers x seconds.
"""

import argparse
import os
import shutil
import sys
import tempfile
import time
from pathlib import Path

import numpy as np

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "python"))
import kxpre  # noqa: E402
from kxpre import batch  # noqa: E402

PIPELINE = ["gray", "normalize", "128", "1200", "localintegral", "31", "128", "0.34", "invert", "fillhole",
            "removeborder", "thinning"]
WORDS = "the quick brown fox jumps over lazy dogs scanned page archive invoice total amount".split()


def page(width, height, seed):
    rng = np.random.default_rng(seed)
    # Uneven light: a slope across the page.
    x = np.linspace(0, 1, width, dtype=np.float32)[None, :]
    y = np.linspace(0, 1, height, dtype=np.float32)[:, None]
    light = (215 - 40 * x - 25 * y).astype(np.uint8)
    im = np.ascontiguousarray(np.broadcast_to(light[:, :, None], (height, width, 3)))
    line_height = max(height // 70, 12)
    for top in range(line_height * 3, height - line_height * 3, int(line_height * 1.6)):
        text = " ".join(rng.choice(WORDS, 12))
        ink = int(rng.integers(20, 70))
        im = kxpre.fill_text(im, text, width // 12, top, line_height, ink * 0x010101)
    stamp = (width * 2 // 3, height * 3 // 4, width * 2 // 3 + width // 6, height * 3 // 4 + width // 6)
    im = kxpre.set_ellipse(im, (stamp[0] + stamp[2]) // 2, (stamp[1] + stamp[3]) // 2, width // 12, width // 14,
                           0.0, 0x00C03030)
    noise = rng.integers(-12, 13, im.shape)
    return np.clip(im.astype(np.int16) + noise, 0, 255).astype(np.uint8)


def write_ppm(path, array):
    h, w = array.shape[:2]
    path.write_bytes(f"P6\n{w} {h}\n255\n".encode() + np.ascontiguousarray(array[:, :, ::-1]).tobytes())


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--pages", type=int, default=40)
    ap.add_argument("--size", default="2480x3508")
    ap.add_argument("--workers", default=f"1,2,{os.cpu_count()}")
    args = ap.parse_args()
    width, height = (int(v) for v in args.size.split("x"))
    counts = sorted({int(v) for v in args.workers.split(",")})
    work = Path(tempfile.mkdtemp(prefix="kxbatch-"))
    try:
        pages = work / "pages"
        pages.mkdir()
        distinct = min(args.pages, 8)  # drawing is not what is measured: repeat a few pages
        drawn = [page(width, height, s) for s in range(distinct)]
        for i in range(args.pages):
            write_ppm(pages / f"page{i:05}.ppm", drawn[i % distinct])
        rows, base = [], None
        from distributed import Client, LocalCluster

        for n in counts:
            out = work / f"out{n}"
            # The cluster's start-up is not part of the measure.
            with LocalCluster(n_workers=n, threads_per_worker=1, processes=True, dashboard_address=None,
                              silence_logs=40) as cluster, Client(cluster) as client:
                start = time.perf_counter()
                summary = batch.run(str(pages), str(out), PIPELINE, client=client, progress=False)
                seconds = time.perf_counter() - start
            if summary.failed:
                sys.exit(f"{summary.failed} pages failed; see {out / 'report.csv'}")
            rate = args.pages / seconds
            base = base or rate
            d, p, e, _ = summary.times()
            budget = n * seconds
            rows.append((n, seconds, rate, rate / base, d / budget, p / budget, e / budget,
                         1 - (d + p + e) / budget))
        print(f"{args.pages} pages of {width}x{height}, pipeline: kxpipe {' '.join(PIPELINE)}")
        print(f"machine: {os.cpu_count()} cores, load average {os.getloadavg()[0]:.1f} at the end\n")
        print("| workers | seconds | pages/s | speed-up | decode | operations | encode | the rest |\n"
              "|---:|---:|---:|---:|---:|---:|---:|---:|")
        for n, s, r, u, d, p, e, rest in rows:
            print(f"| {n} | {s:.1f} | {r:.2f} | {u:.2f}x | {100 * d:.0f} % | {100 * p:.0f} % | {100 * e:.0f} % "
                  f"| {100 * rest:.0f} % |")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
