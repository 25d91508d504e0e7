"""Batch runs on a local Dask cluster (two worker processes): results equal
to kxpipe's, the command line as the README writes it, resume, interruption,
pages and file names; and tiled operations equal to whole-image calls."""

import csv
import os
import shutil
import signal
import subprocess
import threading
import time
from pathlib import Path

import numpy as np
import pytest

import kxpre
from kxpre import batch
from kxpre.tiled import TILEABLE, tiled

from batch_support import (KXPIPE, batch_command, check_run, grey_pages, kxpipe_result, read_report,
                           serve_processes, temporaries)

distributed = pytest.importorskip("distributed")
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


# ---- the command line --------------------------------------------------------

def run_cli(cwd, *args, progress="0"):
    return subprocess.run(batch_command(*args, progress=progress), cwd=cwd, capture_output=True)


def statuses(out):
    return {Path(r["input"]).name: r["status"] for r in read_report(out)}


@needs_kxpipe
def test_relative_folders_and_resume_tied_to_the_pipeline(tmp_path):
    # Regression: "scans/ results/" failed with a ValueError ("not in the
    # subpath"); a rerun with another pipeline kept the old results.
    pages = grey_pages(tmp_path / "scans" / "sub", 3)
    r = run_cli(tmp_path, "scans/", "results/", "invert")
    assert r.returncode == 0, r.stderr
    out = tmp_path / "results"
    for p in pages:
        assert (out / "sub" / p.name).read_bytes() == kxpipe_result(p, tmp_path / "k" / p.name, ["invert"])
    assert set(statuses(out).values()) == {"ok"}
    assert {row["pipeline"] for row in read_report(out)} == {"invert"}
    assert set(statuses(run_cli(tmp_path, "scans", "results", "invert") and out).values()) == {"skipped"}
    # Another pipeline makes every result again; the defaults are filled in.
    r = run_cli(tmp_path, "./scans", "results", "sauvola", "25", "invert")
    assert r.returncode == 0, r.stderr
    assert set(statuses(out).values()) == {"ok"}
    assert {row["pipeline"] for row in read_report(out)} == {"sauvola 25 0.2 127.5 invert"}
    steps = ["sauvola", "25", "invert"]
    for p in pages:
        assert (out / "sub" / p.name).read_bytes() == kxpipe_result(p, tmp_path / "k" / p.name, steps)
    # A result the report does not name, or an input touched since, is made again; --force redoes all.
    os.utime(pages[0], (time.time() + 5, time.time() + 5))
    run_cli(tmp_path, "scans", "results", "sauvola", "25", "0.2", "invert")
    assert statuses(out) == {pages[0].name: "ok", pages[1].name: "skipped", pages[2].name: "skipped"}
    run_cli(tmp_path, "scans", "results", "--force", "sauvola", "25", "invert")
    assert set(statuses(out).values()) == {"ok"}


@needs_kxpipe
def test_mistyped_operation_exits_2_with_kxpipes_message_before_starting(tmp_path):
    # Regression: "medain 5" started the cluster and failed every image.
    grey_pages(tmp_path / "scans", 2)
    r = run_cli(tmp_path, "scans", "results", "gray", "medain", "5")
    want = subprocess.run([KXPIPE, "--check", "gray", "medain", "5"], capture_output=True)
    assert (r.returncode, r.stderr) == (2, want.stderr)
    assert b"unknown operation 'medain'" in r.stderr
    assert not (tmp_path / "results").exists()
    assert run_cli(tmp_path, "scans", "results", "median", "-5").returncode == 2


@needs_kxpipe
def test_file_names_that_are_not_utf8(tmp_path):
    # Regression: write_report raised UnicodeEncodeError and left a
    # .report.csv.part file.
    name = os.fsdecode(b"\xff\xfe raw.png")
    pages = grey_pages(tmp_path / "scans", 2, names=[name, "plain.png"])
    r = run_cli(tmp_path, "scans", "results", "invert")
    assert r.returncode == 0, r.stderr
    out = tmp_path / "results"
    assert statuses(out) == {name: "ok", "plain.png": "ok"}
    assert os.fsencode(out / name) in [os.fsencode(p) for p in out.iterdir()]
    assert (out / name).read_bytes() == kxpipe_result(pages[0], tmp_path / "k.png", ["invert"])
    assert b"\xff\xfe raw.png" in (out / "report.csv").read_bytes()
    assert not temporaries(out)


@needs_kxpipe
def test_multi_page_tiff_gives_every_page(tmp_path):
    # Regression: a 3-page TIFF gave a 1-page result.
    pages = grey_pages(tmp_path / "p", 3)
    scans = tmp_path / "scans"
    scans.mkdir()
    multi = scans / "multi.tif"
    kxpre.write(multi, [kxpre.read(p) for p in pages])
    r = run_cli(tmp_path, "scans", "results", "invert")
    assert r.returncode == 0, r.stderr
    out = tmp_path / "results" / "multi.tif"
    assert kxpre.page_count(out) == 3
    assert out.read_bytes() == kxpipe_result(multi, tmp_path / "k.tif", ["invert"])
    assert read_report(tmp_path / "results")[0]["pages"] == "3"
    # A PNG result holds one page: an error unless --page picks one.
    r = run_cli(tmp_path, "scans", "png", "--suffix", ".png", "invert")
    assert r.returncode == 1
    assert "has 3 pages" in read_report(tmp_path / "png")[0]["message"]
    r = run_cli(tmp_path, "scans", "png", "--suffix", ".png", "--page", "2", "invert")
    assert r.returncode == 0, r.stderr
    assert (tmp_path / "png" / "multi.png").read_bytes() == kxpipe_result(multi, tmp_path / "k.png", ["invert"],
                                                                          ["--page", "2"])


@needs_kxpipe
@pytest.mark.parametrize("signum,code", [(signal.SIGINT, 130), (signal.SIGTERM, 143)])
def test_interruption_writes_the_report_and_leaves_nothing_behind(tmp_path, signum, code):
    # Regression: Ctrl-C printed a traceback and wrote no report; SIGTERM
    # exited silently.  Without a terminal, progress lines are printed.
    pages = grey_pages(tmp_path / "scans", 60, size=(900, 700))
    link = tmp_path / "kxpipe-under-test"
    link.symlink_to(KXPIPE)
    env = dict(os.environ, KXPIPE=str(link))
    steps = ["median", "9", "median", "9", "sauvola", "25"]
    p = subprocess.Popen(batch_command("scans", "results", *steps, progress="0.3"), cwd=tmp_path, env=env,
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
    out = tmp_path / "results"
    said = []  # stderr's lines as they come: the signal waits for a progress line, however slow the machine
    reader = threading.Thread(target=lambda: said.extend(iter(p.stderr.readline, b"")), daemon=True)
    reader.start()
    deadline = time.monotonic() + 120
    while (len(list(out.glob("*.png"))) < 3 or not said) and time.monotonic() < deadline and p.poll() is None:
        time.sleep(0.05)
    # A terminal's Ctrl-C reaches the whole process group.
    os.killpg(p.pid, signum) if signum == signal.SIGINT else p.send_signal(signum)
    p.wait(timeout=60)
    reader.join(timeout=60)
    err = b"".join(said)
    lines = err.decode().strip().splitlines()
    assert p.returncode == code, err
    assert "Traceback" not in err.decode()
    assert lines[-1].startswith(f"kxpre.batch: stopped by {signal.Signals(signum).name}")
    assert all(line.startswith("kxpre.batch: ") and " done (" in line for line in lines[:-1]) and lines[:-1], err
    references = {str(q): [kxpipe_result(q, tmp_path / "k" / q.name, steps)] for q in pages}
    rows = check_run(pages, out, references)
    assert {r["status"] for r in rows} == {"ok", "not done"}
    time.sleep(0.5)
    assert not serve_processes(str(link))
    # The rerun makes what was not done and skips the rest.
    r = subprocess.run(batch_command("scans", "results", *steps), cwd=tmp_path, env=env, capture_output=True)
    assert r.returncode == 0, r.stderr
    again = check_run(pages, out, references)
    assert {x["input"] for x in again if x["status"] == "skipped"} == {x["input"] for x in rows if x["status"] == "ok"}


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
