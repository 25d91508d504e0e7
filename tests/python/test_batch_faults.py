"""Batch runs under faults: signals at random moments, a worker killed, a
full disk, corrupt inputs and inputs changing during the run.  After each,
every result present is complete and equal to kxpipe's for its input, and
the report lists every input exactly once (batch_support.check_run).

Bounded: a few runs of small pages each.  KXPRE_FAULT_ROUNDS (default 3)
sets the number of interrupted runs; the figures of docs/reliability.md
come from a run with more rounds.  Each test prints its figures (pytest -s).
"""

import os
import random
import resource
import shutil
import signal
import subprocess
import threading
import time
from pathlib import Path

import pytest

from batch_support import KXPIPE, batch_command, check_run, grey_pages, kxpipe_result, serve_processes

distributed = pytest.importorskip("distributed")
pytestmark = pytest.mark.skipif(not KXPIPE, reason="kxpipe not built")
STEPS = ["median", "5", "sauvola", "25", "invert"]
DATA = Path(__file__).resolve().parent.parent / "data"


def references(pages, tmp_path, steps=STEPS):
    refs = {}
    for p in pages:
        made = kxpipe_result(p, tmp_path / "reference" / p.name, steps)
        refs[str(p)] = [made] if made is not None else []
    return refs


def start(tmp_path, *args, env=None, preexec_fn=None, progress="0"):
    return subprocess.Popen(batch_command(*args, progress=progress), cwd=tmp_path, env=env, preexec_fn=preexec_fn,
                            stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)


def linked_kxpipe(tmp_path):
    """kxpipe through a link whose name marks this test's servers."""
    link = tmp_path / "kxpipe-fault-test"
    link.symlink_to(KXPIPE)
    return str(link), dict(os.environ, KXPIPE=str(link))


def test_sigint_and_sigterm_at_random_moments(tmp_path):
    rounds = int(os.environ.get("KXPRE_FAULT_ROUNDS", "3"))
    pages = grey_pages(tmp_path / "scans", 80, size=(1200, 900))
    steps = ["median", "9", "median", "9"] + STEPS
    refs = references(pages, tmp_path, steps)
    link, env = linked_kxpipe(tmp_path)
    out = tmp_path / "results"
    rng = random.Random(2026)
    figures = {"runs": 0, "interrupted": 0, "results checked": 0}
    for k in range(rounds):
        signum = rng.choice([signal.SIGINT, signal.SIGTERM])
        delay = rng.uniform(0.2, 5.0)
        # Every other run makes everything again, so that each has work left.
        p = start(tmp_path, "scans", "results", *steps, *(["--force"] if k % 2 else []), env=env)
        time.sleep(delay)
        if signum == signal.SIGINT:
            os.killpg(p.pid, signum)  # as a terminal's Ctrl-C
        else:
            p.send_signal(signum)
        _, err = p.communicate(timeout=120)
        figures["runs"] += 1
        text = err.decode()
        assert "Traceback" not in text, text
        # Finished before the signal (0), or stopped by it; a Ctrl-C while
        # the local cluster starts is ignored.
        assert p.returncode in (0, 128 + signum), text
        if p.returncode:
            figures["interrupted"] += 1
            assert text.strip().splitlines()[-1].startswith("kxpre.batch: stopped by " + signum.name)
        rows = check_run(pages, out, refs)
        figures["results checked"] += sum(1 for r in rows if r["status"] in ("ok", "skipped"))
        figures.setdefault("rounds", []).append((signum.name, round(delay, 2), p.returncode))
        time.sleep(0.3)
        assert not serve_processes(link), f"round {k}: a kxpipe server was left"
    r = subprocess.run(batch_command("scans", "results", *steps), cwd=tmp_path, env=env, capture_output=True)
    assert r.returncode == 0, r.stderr
    rows = check_run(pages, out, refs)
    assert {x["status"] for x in rows} <= {"ok", "skipped"}
    print("\nsignals:", figures)


def test_worker_killed(tmp_path):
    pages = grey_pages(tmp_path / "scans", 30, size=(900, 700))
    refs = references(pages, tmp_path)
    link, env = linked_kxpipe(tmp_path)
    out = tmp_path / "results"
    p = start(tmp_path, "scans", "results", *STEPS, env=env)
    killed = 0
    deadline = time.monotonic() + 60
    while not killed and time.monotonic() < deadline and p.poll() is None:
        servers = serve_processes(link)
        if servers and len(list(out.glob("*.png"))) >= 2:
            # The worker process behind one server.
            worker = int(Path(f"/proc/{servers[0]}/stat").read_text().rsplit(")", 1)[1].split()[1])
            os.kill(worker, signal.SIGKILL)
            killed = worker
        time.sleep(0.05)
    _, err = p.communicate(timeout=180)
    assert killed, "no worker to kill"
    assert p.returncode == 0, err
    rows = check_run(pages, out, refs)
    assert {x["status"] for x in rows} == {"ok"}
    time.sleep(0.3)
    assert not serve_processes(link)
    print(f"\nworker killed: {len(rows)} inputs, all ok, none left half written")


def test_full_disk(tmp_path):
    # Small pages fit under the file-size limit, large ones do not.  Before,
    # kxpipe died of SIGXFSZ halfway through its write.
    small = grey_pages(tmp_path / "scans", 6, size=(60, 50), seed=3)
    large = grey_pages(tmp_path / "scans" / "large", 4, size=(400, 400), seed=4)
    steps = ["median", "3"]
    refs = references(small + large, tmp_path, steps)
    assert all(len(refs[str(p)][0]) > 48_000 for p in large) and all(len(refs[str(p)][0]) < 20_000 for p in small)

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (48_000, 48_000))

    p = start(tmp_path, "scans", "results", *steps, preexec_fn=limit)
    _, err = p.communicate(timeout=120)
    assert p.returncode == 1, err
    rows = check_run(small + large, tmp_path / "results", refs)
    status = {r["input"]: r for r in rows}
    assert all(status[str(q)]["status"] == "ok" for q in small)
    assert all(status[str(q)]["status"] == "failed" and "rite" in status[str(q)]["message"] for q in large)
    print(f"\nfull disk: {len(small)} results written, {len(large)} refused (a failed write), no partial file")


def test_corrupt_inputs(tmp_path):
    good = grey_pages(tmp_path / "scans", 4)
    bad = []
    for name in ("bad-crc.png", "bad-idat-garbage.png", "bad-header.pgm", "bad-header.tif", "bad-markers.jpg"):
        if (DATA / name).exists():
            shutil.copy(DATA / name, tmp_path / "scans" / name)
            bad.append(tmp_path / "scans" / name)
    truncated = tmp_path / "scans" / "truncated.png"
    truncated.write_bytes(good[0].read_bytes()[:300])
    (tmp_path / "scans" / "empty.png").write_bytes(b"")
    (tmp_path / "scans" / "text.tif").write_bytes(b"not a tiff at all")
    bad += [truncated, tmp_path / "scans" / "empty.png", tmp_path / "scans" / "text.tif"]
    refs = references(good + bad, tmp_path)
    p = start(tmp_path, "scans", "results", *STEPS)
    _, err = p.communicate(timeout=120)
    assert p.returncode == 1, err
    rows = check_run(good + bad, tmp_path / "results", refs)
    status = {r["input"]: r for r in rows}
    for q in bad:
        if not refs[str(q)]:
            assert status[str(q)]["status"] == "failed" and status[str(q)]["message"], q
    assert all(status[str(q)]["status"] == "ok" for q in good)
    print(f"\ncorrupt inputs: {len(bad)} corrupt files, {sum(not refs[str(q)] for q in bad)} refused, "
          f"{len(good)} good ones made")


def test_files_changing_during_the_run(tmp_path):
    pages = grey_pages(tmp_path / "scans", 30, size=(700, 500))
    versions = [p.read_bytes() for p in pages]
    other = [p.read_bytes() for p in grey_pages(tmp_path / "other", 30, size=(700, 500), seed=9)]
    refs = references(pages, tmp_path)
    for p, o in zip(pages, other):  # kxpipe's result for the other version of each file
        q = tmp_path / "other-version" / p.name
        q.parent.mkdir(exist_ok=True)
        q.write_bytes(o)
        made = kxpipe_result(q, tmp_path / "reference-other" / p.name, STEPS)
        refs[str(p)].append(made)
    done = threading.Event()
    changes = [0]

    def change():
        rng = random.Random(5)
        while not done.is_set():
            k = rng.randrange(len(pages))
            data = other[k] if rng.random() < 0.5 else versions[k]
            if rng.random() < 0.5:
                pages[k].write_bytes(data)  # in place: a reader may see it half written
            else:
                part = pages[k].with_name(".new-" + pages[k].name)
                part.write_bytes(data)
                os.replace(part, pages[k])
            changes[0] += 1
            time.sleep(0.01)

    writer = threading.Thread(target=change)
    p = start(tmp_path, "scans", "results", *STEPS)
    writer.start()
    _, err = p.communicate(timeout=180)
    done.set()
    writer.join()
    assert p.returncode in (0, 1), err
    rows = check_run(pages, tmp_path / "results", refs)
    print(f"\nchanging files: {changes[0]} changes, {sum(r['status'] == 'ok' for r in rows)} results made, "
          f"{sum(r['status'] == 'failed' for r in rows)} refused")
