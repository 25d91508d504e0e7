"""Runs the parameter sweeps (bench/sweep.py, and the scaler's
bench/sweep_scale.py where present) in one process and writes their table
and a chart of ratio against parameter into docs/performance.md, between
the sweep markers (the rest of the report is bench/report.py's).

    KXPRE_LIBRARY=build/release/libkxpre.so KXEXTRA_LIBRARY=build/release/libkxextra.so \\
    PYTHONPATH=python /usr/bin/python3 bench/sweep_report.py [--quick] [--out docs/performance.md]

One line per operation in the chart: the ratio ours / peer at each
parameter value (the peer is OpenCV on one thread, Pillow for scaling).
"""

import argparse
import datetime
import os
import platform
import re
import sys
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
import report  # noqa: E402
import sweep  # noqa: E402


def scale_sections():
    """The scaler's rows as a sweep section, when bench/sweep_scale.py has one."""
    try:
        import sweep_scale
    except ImportError:
        return ()
    section = getattr(sweep_scale, "section", None)
    return (section,) if section else ()


def number(text):
    m = re.search(r"-?\d+(\.\d+)?", text)
    return float(m.group(0)) if m else None


def chart(rows, path):
    import matplotlib

    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    lines = {}
    for r in rows:
        x = number(r.parameter)
        if r.ratio is None or x is None:
            continue
        lines.setdefault(r.operation, []).append((x, r.ratio))
    fig, ax = plt.subplots(figsize=(11, 6.5))
    for op, pts in sorted(lines.items()):
        if len(pts) < 2:
            continue
        pts.sort()
        ax.plot([p[0] for p in pts], [p[1] for p in pts], marker=".", label=op)
    ax.axhline(1.0, color="black", linewidth=0.8)
    ax.axhline(1.5, color="grey", linewidth=0.8, linestyle="--")
    ax.set_xscale("log")
    ax.set_yscale("log")
    ax.set_xlabel("parameter (window, mask side, angle in degrees, ratio, ink %: see the table)")
    ax.set_ylabel("ours / peer (below 1: ours faster)")
    ax.legend(fontsize=6, ncol=2, loc="upper left", bbox_to_anchor=(1.01, 1.0))
    fig.tight_layout()
    fig.savefig(path, dpi=90)
    plt.close(fig)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true")
    ap.add_argument("--out", default=str(HERE.parent / "docs" / "performance.md"))
    args = ap.parse_args()
    rows = sweep.collect(args.quick, None, scale_sections())
    png = os.path.splitext(args.out)[0] + "-sweep.png"
    chart(rows, png)
    ratios = [r.ratio for r in rows if r.ratio is not None]
    over = [r for r in rows if r.ratio is not None and r.ratio > 1.5]
    block = [report.SWEEP_BEGIN, "## Sweep over the parameters users pass", "",
             "Written by `bench/sweep_report.py` in one run on %s (%s, Python %s): every operation over "
             "its parameter range beside its peer on one thread in the same process (OpenCV with "
             "`cv2.setNumThreads(1)`; Pillow's resampler for scaling), thread CPU time, the best of a "
             "few runs.  %d comparisons: %d at or under 1.0, %d above 1.5 (in bold)." % (
                 datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
                 platform.machine(), platform.python_version(), len(ratios),
                 sum(1 for x in ratios if x <= 1.0), len(over)), "",
             "![ratio against parameter, one line per operation](%s)" % os.path.basename(png), ""]
    table = sweep.table(rows).splitlines()
    for line in table:
        cells = line.split("|")
        if len(cells) > 5:
            try:
                if float(cells[5]) > 1.5:
                    cells[5] = " **%s** " % cells[5].strip()
            except ValueError:
                pass
        block.append("|".join(cells))
    block += ["", report.SWEEP_END]
    text = Path(args.out).read_text() if os.path.exists(args.out) else ""
    old = report.sweep_section(args.out)
    text = text.replace(old, "\n".join(block)) if old else text.rstrip("\n") + "\n\n" + "\n".join(block) + "\n"
    Path(args.out).write_text(text)
    print("wrote %s and %s (%d rows)" % (args.out, png, len(rows)), file=sys.stderr)


if __name__ == "__main__":
    main()
