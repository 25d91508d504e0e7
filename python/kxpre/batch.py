"""Runs one kxpipe pipeline over many images, on a Dask cluster.

    python3 -m kxpre.batch INPUT OUTPUT_DIR OPERATION [ARGS]... [--workers N] [--scheduler ADDR]

INPUT is a folder (searched recursively for image files), a glob pattern
(``'scans/**/*.png'``) or a list file (a text file with one image path per
line; blank lines and lines starting with ``#`` are skipped).  The steps are
written exactly as for kxpipe (``gray normalize 128 1200 localintegral 31
128 0.34``) and are carried out by kxpipe itself, so both accept the same
language with the same checks.

Each image is one task: read, run, write.  Results keep their path relative
to the input folder (or to the common folder of the listed files) under
OUTPUT_DIR.  Every result is written under a temporary name and renamed when
complete, so a reader never sees half a file.  A result that exists and is
newer than its input is skipped, so a run that was killed resumes where it
stopped.  A file that fails (unreadable, a refused step) is recorded and the
rest go on.  OUTPUT_DIR/report.csv lists every input: input, output, status
(ok, skipped, failed), seconds, message.  The exit code is 0 when nothing
failed, 1 when something did, 2 for a usage error.

Without --scheduler a local cluster of worker processes (one per core, or
--workers N) is started on this machine; with --scheduler tcp://host:port
the tasks go to an existing Dask cluster, whose workers must see INPUT and
OUTPUT_DIR at the same paths and have kxpipe installed (or KXPIPE set).
"""

import argparse
import csv
import glob
import os
import shutil
import subprocess
import sys
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path

IMAGE_SUFFIXES = {".png", ".pgm", ".ppm", ".pnm", ".pbm", ".tif", ".tiff", ".jpg", ".jpeg"}
REPORT_NAME = "report.csv"


def find_kxpipe():
    """The kxpipe program: $KXPIPE, the one beside the package's library, a
    build of the source tree, or the one on PATH."""
    env = os.environ.get("KXPIPE")
    if env:
        return env
    here = Path(__file__).resolve().parent
    for candidate in (
        here / "bin" / "kxpipe",
        here / "_lib" / "kxpipe",
        here.parent.parent / "build" / "release" / "tools" / "kxpipe",
    ):
        if candidate.is_file() and os.access(candidate, os.X_OK):
            return str(candidate)
    found = shutil.which("kxpipe")
    if found:
        return found
    raise FileNotFoundError("kxpipe not found: set KXPIPE or put kxpipe on PATH")


@dataclass
class Job:
    source: str
    target: str


@dataclass
class Outcome:
    source: str
    target: str
    status: str  # ok, skipped, failed
    seconds: float = 0.0
    message: str = ""


@dataclass
class Summary:
    outcomes: list = field(default_factory=list)

    def count(self, status):
        return sum(1 for o in self.outcomes if o.status == status)

    @property
    def failed(self):
        return self.count("failed")

    def line(self, seconds):
        return (f"{len(self.outcomes)} images: {self.count('ok')} ok, {self.count('skipped')} skipped, "
                f"{self.failed} failed in {seconds:.1f} s")


def list_inputs(source):
    """(root, [paths]) for a folder, a glob pattern or a list file."""
    path = Path(source)
    if path.is_dir():
        files = sorted(p for p in path.rglob("*") if p.is_file() and p.suffix.lower() in IMAGE_SUFFIXES)
        return path, files
    if path.is_file() and path.suffix.lower() not in IMAGE_SUFFIXES:
        base = path.parent
        files = []
        for line in path.read_text().splitlines():
            line = line.strip()
            if line and not line.startswith("#"):
                p = Path(line)
                files.append(p if p.is_absolute() else base / p)
    elif path.is_file():
        files = [path]
    else:
        files = sorted(Path(p) for p in glob.glob(source, recursive=True) if Path(p).is_file())
    if not files:
        return Path("."), []
    root = Path(os.path.commonpath([str(f.resolve().parent) for f in files]))
    return root, files


def plan(source, output_dir, suffix=None):
    """The jobs for INPUT: every input with its result path."""
    root, files = list_inputs(source)
    out = Path(output_dir)
    jobs = []
    for f in files:
        rel = f.resolve().relative_to(root)
        if suffix:
            rel = rel.with_suffix(suffix)
        jobs.append(Job(str(f), str(out / rel)))
    return jobs


def up_to_date(job):
    try:
        return os.stat(job.target).st_mtime >= os.stat(job.source).st_mtime
    except OSError:
        return False


def _die_with_parent():
    """In the kxpipe child: be killed when the worker that started it dies,
    so that a lost worker leaves no process writing behind the cluster's back."""
    try:
        import ctypes

        libc = ctypes.CDLL(None, use_errno=True)
        libc.prctl(1, 9)  # PR_SET_PDEATHSIG, SIGKILL
    except (OSError, AttributeError):
        pass


def run_one(job, steps, kxpipe, run_id="run"):
    """Reads, runs and writes one image; never raises for a bad image."""
    if up_to_date(job):
        return Outcome(job.source, job.target, "skipped")
    start = time.perf_counter()
    target = Path(job.target)
    target.parent.mkdir(parents=True, exist_ok=True)
    # kxpipe picks the format from the extension, so the temporary name keeps it.
    temporary = target.with_name(f".{target.stem}.part-{run_id}-{uuid.uuid4().hex}{target.suffix}")
    try:
        done = subprocess.run([kxpipe, job.source, str(temporary), *steps], capture_output=True, text=True,
                              preexec_fn=_die_with_parent if sys.platform.startswith("linux") else None)
        if done.returncode != 0:
            message = (done.stderr.strip() or done.stdout.strip() or f"kxpipe exit {done.returncode}")
            return Outcome(job.source, job.target, "failed", time.perf_counter() - start,
                           " ".join(message.split()))
        os.replace(temporary, target)
        return Outcome(job.source, job.target, "ok", time.perf_counter() - start)
    except OSError as e:
        return Outcome(job.source, job.target, "failed", time.perf_counter() - start, str(e))
    finally:
        if temporary.exists():
            temporary.unlink()


def write_report(output_dir, outcomes):
    """report.csv, written atomically like the images."""
    out = Path(output_dir)
    out.mkdir(parents=True, exist_ok=True)
    temporary = out / f".{REPORT_NAME}.part-{uuid.uuid4().hex}"
    with open(temporary, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["input", "output", "status", "seconds", "message"])
        for o in sorted(outcomes, key=lambda o: o.source):
            w.writerow([o.source, o.target, o.status, f"{o.seconds:.3f}", o.message])
    os.replace(temporary, out / REPORT_NAME)


def _progress(total, enabled):
    if not enabled:
        return None
    try:
        from tqdm import tqdm
    except ImportError:
        return None
    return tqdm(total=total, unit="img", file=sys.stderr, dynamic_ncols=True)


def run(source, output_dir, steps, workers=None, scheduler=None, client=None, kxpipe=None, progress=None,
        suffix=None):
    """Runs the pipeline over every input; returns the Summary.

    `client` may be a distributed.Client already connected; otherwise one is
    made for `scheduler` (an address) or for a new local cluster of
    `workers` processes (default: one per core), and closed at the end."""
    from distributed import Client, LocalCluster, as_completed

    kxpipe = kxpipe or find_kxpipe()
    jobs = plan(source, output_dir, suffix)
    summary = Summary()
    own_cluster = own_client = None
    if client is None:
        if scheduler:
            client = own_client = Client(scheduler)
        else:
            own_cluster = LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1,
                                       processes=True, dashboard_address=None)
            client = own_client = Client(own_cluster)
    bar = _progress(len(jobs), sys.stderr.isatty() if progress is None else progress)
    run_id = ""
    try:
        run_id = uuid.uuid4().hex[:12]
        futures = client.map(run_one, jobs, steps=list(steps), kxpipe=kxpipe, run_id=run_id, pure=False)
        job_of = {f.key: job for f, job in zip(futures, jobs)}
        for future in as_completed(futures):
            try:
                outcome = future.result()
            except Exception as e:  # the task itself died more often than the cluster retries
                job = job_of[future.key]
                outcome = Outcome(job.source, job.target, "failed", 0.0, f"task lost: {e}")
            summary.outcomes.append(outcome)
            if bar:
                bar.update(1)
    finally:
        if bar:
            bar.close()
        if own_client:
            own_client.close()
        if own_cluster:
            own_cluster.close()
    # A task whose worker was killed may have left its temporary file; its
    # image was redone elsewhere under another name.
    for stale in Path(output_dir).rglob(f".*.part-{run_id}-*"):
        stale.unlink(missing_ok=True)
    write_report(output_dir, summary.outcomes)
    return summary


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="python3 -m kxpre.batch",
        description="Run a kxpipe pipeline over a folder, a glob or a list file of images on a Dask cluster.")
    parser.add_argument("input", help="folder (recursive), glob pattern or list file")
    parser.add_argument("output_dir", help="results keep their relative names here; report.csv too")
    parser.add_argument("steps", nargs=argparse.REMAINDER, help="the operations, written as for kxpipe")
    parser.add_argument("--workers", type=int, default=None, help="local worker processes (default: cores)")
    parser.add_argument("--scheduler", default=None, help="address of an existing Dask scheduler")
    parser.add_argument("--suffix", default=None, help="write results with this extension (e.g. .png)")
    # Options may stand anywhere, also among the steps.
    args, rest = parser.parse_known_args(argv)
    steps = [w for w in args.steps + rest]
    options = {"--workers", "--scheduler", "--suffix"}
    cleaned, i = [], 0
    while i < len(steps):
        if steps[i] in options and i + 1 < len(steps):
            setattr(args, steps[i][2:], int(steps[i + 1]) if steps[i] == "--workers" else steps[i + 1])
            i += 2
        else:
            cleaned.append(steps[i])
            i += 1
    if not cleaned:
        parser.error("no operation given")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    start = time.perf_counter()
    try:
        summary = run(args.input, args.output_dir, cleaned, workers=args.workers, scheduler=args.scheduler,
                      suffix=args.suffix)
    except FileNotFoundError as e:
        print(f"kxpre.batch: {e}", file=sys.stderr)
        return 2
    if not summary.outcomes:
        print(f"kxpre.batch: no image found in {args.input}", file=sys.stderr)
        return 2
    print(summary.line(time.perf_counter() - start), file=sys.stderr)
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
