"""What the batch tests share: image folders, kxpipe's own results, and the
check that a run left only complete results and a report of every input."""

import csv
import os
import shutil
import subprocess
import sys
from pathlib import Path

import numpy as np

import kxpre

KXPIPE = os.environ.get("KXPIPE") or shutil.which("kxpipe")
PYTHON = sys.executable


def grey_pages(folder, count, size=(300, 240), seed=1, names=None):
    """`count` noisy grey pages as PNG files; their paths."""
    rng = np.random.default_rng(seed)
    folder.mkdir(parents=True, exist_ok=True)
    paths = []
    for i in range(count):
        p = folder / (names[i] if names else f"page{i:03}.png")
        p.parent.mkdir(parents=True, exist_ok=True)
        base = np.linspace(90, 220, size[1], dtype=np.float32)[None, :] + rng.normal(0, 25, size)
        kxpre.write(p, np.clip(base, 0, 255).astype(np.uint8))
        paths.append(p)
    return paths


def kxpipe_result(source, target, steps, options=()):
    """kxpipe's own result for one file (None when it refuses it)."""
    target.parent.mkdir(parents=True, exist_ok=True)
    done = subprocess.run([KXPIPE, *options, os.fsencode(source), os.fsencode(target), *steps],
                          capture_output=True)
    return target.read_bytes() if done.returncode == 0 else None


def batch_command(*args, progress="0"):
    return [PYTHON, "-m", "kxpre.batch", *args, "--workers", "2", "--progress", progress]


def read_report(out):
    with open(out / "report.csv", newline="", encoding="utf-8", errors="surrogateescape") as f:
        return list(csv.DictReader(f))


def temporaries(folder):
    return [p for p in folder.rglob("*") if ".part" in p.name or ".kxtmp" in p.name]


def check_run(inputs, out, references):
    """After any run, stopped or not: the report lists every input exactly
    once, every result present equals one of kxpipe's results for its input
    (`references`: input path -> list of acceptable bytes), rows "ok" have
    their result, and nothing else is left in `out`."""
    rows = read_report(out)
    listed = [r["input"] for r in rows]
    assert sorted(listed) == sorted(str(p) for p in inputs), "every input exactly once"
    by_output = {r["output"]: r for r in rows}
    for p in out.rglob("*"):
        if p.is_dir() or p.name == "report.csv":
            continue
        row = by_output.get(str(p))
        assert row is not None, f"a file no input made: {p}"
        assert p.read_bytes() in references[row["input"]], f"{p} is not kxpipe's result"
    for r in rows:
        if r["status"] == "ok":
            assert Path(r["output"]).exists(), r
    assert not temporaries(out)
    return rows


def serve_processes(marker):
    """Processes whose command line holds `marker` (kxpipe servers started
    through a link of that name)."""
    found = []
    for d in Path("/proc").iterdir():
        if d.name.isdigit():
            try:
                line = (d / "cmdline").read_bytes()
            except OSError:
                continue
            if marker.encode() in line and b"--serve" in line:
                found.append(int(d.name))
    return found
