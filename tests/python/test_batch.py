"""Batch runs on a local Dask cluster (two worker processes) and tiled
operations equal to whole-image calls."""

import csv
import os
import shutil
import subprocess
from pathlib import Path

import numpy as np
import pytest

import kxpre
from kxpre import batch
from kxpre.tiled import TILEABLE, tiled

distributed = pytest.importorskip("distributed")
KXPIPE = os.environ.get("KXPIPE") or shutil.which("kxpipe")
needs_kxpipe = pytest.mark.skipif(not KXPIPE, reason="kxpipe not built")
STEPS = ["median", "9", "median", "9", "localintegral", "31", "128", "0.34"]


@needs_kxpipe
def test_local_cluster_run_equals_kxpipe_and_reports_each_failure(tmp_path):
    # Grey pages in two sub-folders, a corrupt file and a colour image that
    # the grey-only threshold refuses.
    inputs, out, rng = tmp_path / "in", tmp_path / "out", np.random.default_rng(7)
    good = [inputs / ("a" if i % 2 else "b") / f"page{i:02}.pgm" for i in range(8)]
    for i, p in enumerate(good):
        p.parent.mkdir(parents=True, exist_ok=True)
        kxpre.write(p, rng.integers(0, 256, (400, 400 + i), dtype=np.uint8))
    (inputs / "b" / "corrupt.pgm").write_bytes(b"P5\n400 400\n255\n" + b"\x00" * 17)
    kxpre.write(inputs / "colour.ppm", rng.integers(0, 256, (50, 60, 3), dtype=np.uint8))
    (tmp_path / "reference").mkdir()
    summary = batch.run(str(inputs), str(out), STEPS, workers=2, kxpipe=KXPIPE, progress=False)
    with open(out / "report.csv", newline="") as f:
        report = {Path(r["input"]).name: r for r in csv.DictReader(f)}
    assert {n for n, r in report.items() if r["status"] == "failed"} == {"corrupt.pgm", "colour.ppm"}
    assert all(r["message"] for r in report.values() if r["status"] == "failed")
    assert summary.failed == 2 and len(report) == len(good) + 2
    for s in good:  # kxpipe run directly on each image
        target = tmp_path / "reference" / s.name
        subprocess.run([KXPIPE, str(s), str(target), *STEPS], check=True, capture_output=True)
        assert (out / s.relative_to(inputs)).read_bytes() == target.read_bytes(), s
    assert not [p for p in out.rglob("*") if ".part-" in p.name]


# ---- tiles ------------------------------------------------------------------

rng = np.random.default_rng(3)
GREY = rng.integers(0, 256, (203, 157), dtype=np.uint8)
COLOUR = rng.integers(0, 256, (131, 97, 3), dtype=np.uint8)
BINARY = (rng.random((203, 157)) < 0.45).astype(np.uint8)
TILE_CASES = [
    ("invert", (), COLOUR, {}), ("linear", (1.7, -20.0), GREY, {}), ("linear_ex", (5, 0.8, 9.0), COLOUR, {}),
    ("simple", (100, 0), GREY, {}), ("dark", (90, 5, 1), GREY, {}), ("light", (90, 5, 0), GREY, {}),
    ("inner", (50, 150, 7, 1), GREY, {}), ("outer", (50, 150, 7, 0), GREY, {}), ("sobel", (0,), GREY, {}),
    ("prewitt", (1,), GREY, {}), ("kirsch", (3,), BINARY, {"binary": True}), ("laplacian", (), GREY, {}),
    ("sharp1541", (), GREY, {}), ("diff_second", (2,), GREY, {}), ("roberts", (), GREY, {}),
    ("diff_first", (0,), GREY, {}), ("gradient", (0, 7), GREY, {}), ("smooth_avg", (9,), COLOUR, {}),
    ("median", (5,), GREY, {}), ("local_integral", (31, 128, 0.34), GREY, {}), ("local_integral", (4, 0, 0.5), GREY, {}),
    ("erode", (), BINARY, {}), ("dilate", (("ellipse", 7, 5),), BINARY, {}), ("dilate_e1", (3,), BINARY, {}),
]


@pytest.mark.parametrize("name,args,image,kwargs", TILE_CASES, ids=[f"{c[0]}{c[1]}" for c in TILE_CASES])
def test_tiled_equals_the_whole_image_call(name, args, image, kwargs):
    assert {c[0] for c in TILE_CASES} == set(TILEABLE)  # every tileable operation is here
    whole = getattr(kxpre, name)(image, *args, **kwargs)
    for tile in (16, 45, 64):  # none divides the sides
        assert np.array_equal(tiled(name, image, *args, tile=tile, **kwargs), whole), tile


@pytest.mark.parametrize("op,args,message", [("thinning", (), "cannot be tiled exactly"),
                                             ("local_integral", (101, 128, 0.3), "larger tile")])
def test_operations_that_cannot_be_tiled_exactly_are_refused(op, args, message):
    with pytest.raises(ValueError, match=message):
        tiled(op, BINARY if not args else GREY, *args, tile=20)
