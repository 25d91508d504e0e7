"""Runs one kxpipe pipeline over many images, on a Dask cluster.

    python3 -m kxpre.batch INPUT OUTPUT_DIR OPERATION [ARGS]... [--workers N] [--scheduler ADDR]
                           [--suffix .EXT] [--page N] [--lenient] [--force] [--progress SECONDS]

INPUT is a folder (searched recursively for image files), a glob pattern
(``'scans/**/*.png'``) or a list file (a text file with one image path per
line; blank lines and lines starting with ``#`` are skipped).  Relative
folders are taken from the current directory.  The steps are written exactly
as for kxpipe (``gray normalize 128 1200 localintegral 31 128 0.34``, with
kxpipe's defaults: ``sauvola 25``) and are carried out by kxpipe's own code,
so both accept the same language with the same checks and write the same
bytes.  The steps are checked once, before anything starts: a mistyped step
exits with kxpipe's message and code 2.

Each worker process keeps one kxpipe server (``kxpipe --serve``) that has
parsed the steps once and runs them on one image after another, reusing its
memory; each image is one task: read, run, write.  Every page of a
multi-page TIFF is processed: a TIFF result gets every page, any other
result is an error unless ``--page N`` picks one, as with kxpipe.

Results keep their path relative to the input folder (or to the common
folder of the listed files) under OUTPUT_DIR.  Every result is written under
a temporary name and renamed when complete, so a reader never sees half a
file; an input that changes while it is read gives no result (it is
reported as failed).  A file that fails (unreadable, a refused step) is
recorded and the rest go on.

OUTPUT_DIR/report.csv lists every input once: input, output, status (ok,
skipped, failed, or "not done" when the run was interrupted), seconds, where
the time went (decode, operations, encode, in ms), pages, the pipeline that
made the result (kxpipe's words with the defaults filled in) and a message.
A rerun skips a result only when the report says the same pipeline made it
and it is newer than its input; results made by another pipeline, or not in
the report, are made again; ``--force`` makes everything again.

File names are kept as the system gives them: names that are not UTF-8 are
carried with Python's surrogate escapes and written into report.csv as their
original bytes (the report is UTF-8 otherwise; read it with
``errors="surrogateescape"`` to get the same names back).

Progress goes to stderr every few seconds (with or without a terminal;
``--progress SECONDS`` sets how often, 0 none).  On
SIGINT (Ctrl-C) or SIGTERM the run stops: the report of what finished is
written (the rest "not done"), no temporary file or process is left, one
line is printed and the exit code is 130 or 143.  Otherwise the exit code is
0 when nothing failed, 1 when something did, 2 for a usage error.

Without --scheduler a local cluster of worker processes (one per core, or
--workers N) is started on this machine; with --scheduler tcp://host:port
the tasks go to an existing Dask cluster, whose workers must see INPUT and
OUTPUT_DIR at the same paths and have kxpipe installed (or KXPIPE set).
"""

import argparse
import csv
import glob
import os
import shlex
import shutil
import signal
import subprocess
import sys
import threading
import time
import uuid
from dataclasses import dataclass, field
from pathlib import Path

IMAGE_SUFFIXES = {".png", ".pgm", ".ppm", ".pnm", ".pbm", ".tif", ".tiff", ".jpg", ".jpeg"}
REPORT_NAME = "report.csv"
COLUMNS = ["input", "output", "status", "seconds", "decode_ms", "operations_ms", "encode_ms", "pages", "pipeline",
           "message"]
NOT_DONE = "not done"
PROGRESS_SECONDS = 5.0


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


class UsageError(Exception):
    """A refused command line: the message and the exit code (kxpipe's)."""

    def __init__(self, message, code=2):
        super().__init__(message)
        self.code = code


@dataclass
class Job:
    source: str
    target: str


@dataclass
class Outcome:
    source: str
    target: str
    status: str  # ok, skipped, failed, not done
    seconds: float = 0.0
    message: str = ""
    decode: float = 0.0  # ms
    operations: float = 0.0
    encode: float = 0.0
    pages: int = 0
    pipeline: str = ""


@dataclass
class Summary:
    outcomes: list = field(default_factory=list)
    interrupted: int = 0  # the signal that stopped the run, or 0

    def count(self, status):
        return sum(1 for o in self.outcomes if o.status == status)

    @property
    def failed(self):
        return self.count("failed")

    def line(self, seconds):
        return (f"{len(self.outcomes)} images: {self.count('ok')} ok, {self.count('skipped')} skipped, "
                f"{self.failed} failed in {seconds:.1f} s")

    def times(self):
        """Where the time of the images made went: (decode, operations,
        encode, rest) in seconds, summed over the images."""
        made = [o for o in self.outcomes if o.status == "ok"]
        d, p, e = (sum(getattr(o, k) for o in made) / 1000 for k in ("decode", "operations", "encode"))
        return d, p, e, max(0.0, sum(o.seconds for o in made) - d - p - e)


# ---- what to do --------------------------------------------------------------

def list_inputs(source):
    """(root, [paths]) for a folder, a glob pattern or a list file; the root
    and the paths are absolute."""
    path = Path(source)
    if path.is_dir():
        root = path.resolve()
        files = sorted(p for p in root.rglob("*") if p.is_file() and p.suffix.lower() in IMAGE_SUFFIXES)
        return root, files
    if path.is_file() and path.suffix.lower() not in IMAGE_SUFFIXES:
        base = path.resolve().parent
        files = []
        with open(path, encoding="utf-8", errors="surrogateescape") as f:
            for line in f.read().splitlines():
                line = line.strip()
                if line and not line.startswith("#"):
                    p = Path(line)
                    files.append(p if p.is_absolute() else base / p)
    elif path.is_file():
        files = [path]
    else:
        files = sorted(Path(p) for p in glob.glob(source, recursive=True) if Path(p).is_file())
    files = [f.resolve() for f in files]
    if not files:
        return Path.cwd(), []
    root = Path(os.path.commonpath([str(f.parent) for f in files]))
    return root, files


def plan(source, output_dir, suffix=None):
    """The jobs for INPUT: every input with its result path (both absolute)."""
    root, files = list_inputs(source)
    out = Path(output_dir).resolve()
    jobs = []
    for f in files:
        rel = f.relative_to(root)
        if suffix:
            rel = rel.with_suffix(suffix)
        jobs.append(Job(str(f), str(out / rel)))
    return jobs


def check_steps(steps, kxpipe, options=()):
    """kxpipe's words for the steps with the defaults filled in; raises
    UsageError with kxpipe's message (and code) when kxpipe refuses them."""
    done = subprocess.run([kxpipe, "--check", *options, "--", *steps], capture_output=True)
    if done.returncode != 0:
        message = os.fsdecode(done.stderr).strip() or f"kxpipe --check: exit {done.returncode}"
        raise UsageError(message, done.returncode)
    return [os.fsdecode(w) for w in done.stdout.split(b"\0")[:-1]]


def read_report(output_dir):
    """{output: row} of an earlier run's report ({} when there is none)."""
    try:
        with open(Path(output_dir) / REPORT_NAME, newline="", encoding="utf-8", errors="surrogateescape") as f:
            return {r["output"]: r for r in csv.DictReader(f) if r.get("output")}
    except (OSError, csv.Error, UnicodeError):
        return {}


def up_to_date(job, pipeline, earlier):
    """Whether an earlier run made this result with this pipeline from the
    input as it is now."""
    row = earlier.get(job.target)
    if not row or row.get("status") not in ("ok", "skipped") or row.get("pipeline") != pipeline:
        return False
    if row.get("input") != job.source:
        return False
    try:
        return os.stat(job.target).st_mtime >= os.stat(job.source).st_mtime
    except OSError:
        return False


# ---- on the workers ----------------------------------------------------------

class Server:
    """One `kxpipe --serve` process: the parsed steps, one file after another."""

    def __init__(self, kxpipe, words, tag):
        # A session of its own: a Ctrl-C at the terminal reaches the batch
        # run, which stops the servers itself; kxpipe ends with the process
        # that started it.
        self.process = subprocess.Popen([kxpipe, "--serve", "--tag", tag, *words], stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, start_new_session=True)

    def alive(self):
        return self.process.poll() is None

    def run(self, source, target):
        """(code, decode ms, operations ms, encode ms, pages, message)."""
        self.process.stdin.write(os.fsencode(source) + b"\0" + os.fsencode(target) + b"\0")
        self.process.stdin.flush()
        reply = bytearray()
        while not reply.endswith(b"\0"):
            chunk = self.process.stdout.read1(65536)
            if not chunk:
                raise BrokenPipeError("kxpipe server ended")
            reply += chunk
        head = bytes(reply[:-1]).split(b" ", 5)
        return (int(head[0]), float(head[1]), float(head[2]), float(head[3]), int(head[4]),
                os.fsdecode(head[5]) if len(head) > 5 else "")

    def close(self):
        try:
            self.process.stdin.close()
        except OSError:
            pass
        try:
            self.process.wait(5)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


_servers = {}  # per worker process: (kxpipe, words, tag, thread) -> Server
_servers_lock = threading.Lock()


def _server(kxpipe, words, tag, fresh=False):
    key = (kxpipe, tuple(words), tag, threading.get_ident())
    with _servers_lock:
        s = _servers.get(key)
        if s is None or fresh or not s.alive():
            if s is not None:
                s.close()
            s = _servers[key] = Server(kxpipe, words, tag)
    return s


def _identity(path):
    st = os.stat(path)
    return st.st_ino, st.st_size, st.st_mtime_ns


def run_one(job, words, kxpipe, tag="", pipeline=""):
    """Reads, runs and writes one image; never raises for a bad image.
    `words`: the options and steps for kxpipe --serve."""
    start = time.perf_counter()

    def outcome(status, message="", reply=None):
        o = Outcome(job.source, job.target, status, time.perf_counter() - start, " ".join(message.split()),
                    pipeline=pipeline)
        if reply:
            o.decode, o.operations, o.encode, o.pages = reply[1:5]
        return o

    try:
        before = _identity(job.source)
        Path(job.target).parent.mkdir(parents=True, exist_ok=True)
        try:
            reply = _server(kxpipe, words, tag).run(job.source, job.target)
        except (BrokenPipeError, ValueError, IndexError):  # the server died: once more with a new one
            reply = _server(kxpipe, words, tag, fresh=True).run(job.source, job.target)
        if reply[0] != 0:
            return outcome("failed", reply[5] or f"kxpipe exit {reply[0]}", reply)
        if _identity(job.source) != before:
            # Written from a file that changed while it was read: no result.
            Path(job.target).unlink(missing_ok=True)
            return outcome("failed", "the input changed while it was read", reply)
        return outcome("ok", reply[5], reply)
    except OSError as e:
        return outcome("failed", str(e))


# ---- the run -----------------------------------------------------------------

def write_report(output_dir, outcomes):
    """report.csv, written atomically like the images."""
    out = Path(output_dir)
    out.mkdir(parents=True, exist_ok=True)
    temporary = out / f".{REPORT_NAME}.part-{uuid.uuid4().hex}"
    try:
        with open(temporary, "w", newline="", encoding="utf-8", errors="surrogateescape") as f:
            w = csv.writer(f)
            w.writerow(COLUMNS)
            for o in sorted(outcomes, key=lambda o: o.source):
                w.writerow([o.source, o.target, o.status, f"{o.seconds:.3f}", f"{o.decode:.1f}",
                            f"{o.operations:.1f}", f"{o.encode:.1f}", o.pages, o.pipeline, o.message])
            f.flush()
            os.fsync(f.fileno())
        os.replace(temporary, out / REPORT_NAME)
    finally:
        temporary.unlink(missing_ok=True)


def remove_temporaries(output_dir, tag):
    """What a killed server left: its partly written files."""
    for stale in Path(output_dir).rglob(f".kxtmp-{tag}*"):
        stale.unlink(missing_ok=True)


class _Stop:
    """SIGINT and SIGTERM set `signal` instead of raising in the middle of
    the cluster's code; the run checks it between results."""

    def __init__(self):
        self.signal = 0
        self.previous = {}

    def __enter__(self):
        if threading.current_thread() is threading.main_thread() and not self.previous:
            for s in (signal.SIGINT, signal.SIGTERM):
                self.previous[s] = signal.signal(s, self.handle)
        return self

    def handle(self, signum, frame):
        self.signal = self.signal or signum

    def __exit__(self, *exc):
        for s, h in self.previous.items():
            signal.signal(s, h)


class _Progress:
    def __init__(self, total, every, stream=sys.stderr):
        self.total, self.every, self.stream = total, every, stream
        self.start = self.last = time.monotonic()

    def tick(self, summary, force=False):
        now = time.monotonic()
        if self.every is None or (not force and now - self.last < self.every):
            return
        self.last = now
        done = len(summary.outcomes)
        rate = summary.count("ok") / max(now - self.start, 1e-9)
        print(f"kxpre.batch: {done} of {self.total} done ({summary.count('ok')} ok, {summary.count('skipped')} "
              f"skipped, {summary.failed} failed), {rate:.2f} images/s, {now - self.start:.0f} s",
              file=self.stream, flush=True)


class IgnoreSigint:
    """A worker plugin for a local cluster: each worker process, also one
    started again after a crash, leaves SIGINT to the batch run, which stops
    the workers itself (a terminal's Ctrl-C reaches the whole group)."""

    name = "kxpre-batch-ignore-sigint"

    def setup(self, worker):
        if threading.current_thread() is threading.main_thread():
            signal.signal(signal.SIGINT, signal.SIG_IGN)

    def teardown(self, worker):
        pass


def _local_cluster(workers, stop):
    """A local cluster whose processes leave SIGINT to this one and whose
    logs stay quiet.  The processes start with SIGINT ignored (which Python
    keeps); a worker started again later ignores it through IgnoreSigint."""
    import logging

    from distributed import LocalCluster

    # The scheduler runs in this process: its warnings (an event loop slow
    # on a busy machine, say) would come between the progress lines.  Its
    # HTTP server takes a free port (":0"): the default, 8787, is often
    # taken by another cluster, which it would warn about on stderr.
    for name in ("distributed", "tornado"):
        logging.getLogger(name).setLevel(logging.ERROR)
    main = threading.current_thread() is threading.main_thread()
    # SIGINT is blocked here (see run): one pending is noted before ignoring
    # it would discard it, and one that came meanwhile after.
    if main and signal.SIGINT in signal.sigpending():
        stop.handle(signal.SIGINT, None)
    previous = signal.signal(signal.SIGINT, signal.SIG_IGN) if main else None
    try:
        return LocalCluster(n_workers=workers or os.cpu_count() or 1, threads_per_worker=1, processes=True,
                            dashboard_address=":0", silence_logs=logging.CRITICAL)
    finally:
        if main:
            if signal.SIGINT in signal.sigpending():
                stop.handle(signal.SIGINT, None)
            signal.signal(signal.SIGINT, previous)


def run(source, output_dir, steps, workers=None, scheduler=None, client=None, kxpipe=None, progress=None,
        suffix=None, page=None, lenient=False, force=False, stop=None):
    """Runs the pipeline over every input; returns the Summary.

    Raises UsageError (with kxpipe's message) for steps kxpipe refuses,
    before anything starts.  `client` may be a distributed.Client already
    connected; otherwise one is made for `scheduler` (an address) or for a
    new local cluster of `workers` processes (default: one per core), and
    closed at the end.  `progress`: seconds between progress lines on stderr
    (None: every PROGRESS_SECONDS; 0 or False: none).  `stop`: a _Stop
    already catching the signals (main's, from its first line)."""
    kxpipe = kxpipe or find_kxpipe()
    options = (["--page", str(page)] if page else []) + (["--lenient"] if lenient else [])
    words = check_steps(steps, kxpipe, options)
    pipeline = shlex.join(options + words)
    jobs = plan(source, output_dir, suffix)
    earlier = {} if force else read_report(output_dir)
    summary = Summary()
    todo = []
    for job in jobs:
        if up_to_date(job, pipeline, earlier):
            summary.outcomes.append(Outcome(job.source, job.target, "skipped", pipeline=pipeline))
        else:
            todo.append(job)
    every = PROGRESS_SECONDS if progress is None or progress is True else (progress or None)
    bar = _Progress(len(jobs), every)
    tag = uuid.uuid4().hex[:12] + "-"
    serve_words = options + ["--", *words]
    own_cluster = own_client = None
    with (stop or _Stop()) as stop:
        try:
            if todo and not stop.signal:
                # The cluster's threads start with SIGINT blocked, so that it
                # reaches this thread's handler alone; one that comes while
                # the cluster starts waits for it (Linux keeps a blocked
                # signal pending even while it is ignored) or is noted.
                main = threading.current_thread() is threading.main_thread()
                if main:
                    signal.pthread_sigmask(signal.SIG_BLOCK, {signal.SIGINT})
                try:
                    from distributed import Client, as_completed

                    if client is None:
                        if scheduler:
                            client = own_client = Client(scheduler)
                        else:
                            own_cluster = _local_cluster(workers, stop)
                            client = own_client = Client(own_cluster)
                            from kxpre.batch import IgnoreSigint as plugin  # by reference, as the task

                            client.register_worker_plugin(plugin())
                finally:
                    if main:
                        signal.pthread_sigmask(signal.SIG_UNBLOCK, {signal.SIGINT})
                # By reference to the importable module, also under "python3 -m".
                from kxpre.batch import run_one as task

                futures = client.map(task, todo, words=serve_words, kxpipe=kxpipe, tag=tag, pipeline=pipeline,
                                     pure=False)
                job_of = {f.key: job for f, job in zip(futures, todo)}
                pending = dict(job_of)
                results = as_completed(futures)
                while pending and not stop.signal:
                    if not results.has_ready():
                        time.sleep(0.05)
                        bar.tick(summary)
                        continue
                    for future in results.next_batch(block=False):
                        job = job_of[future.key]
                        try:
                            outcome = future.result()
                        except Exception as e:  # the task died more often than the cluster retries
                            outcome = Outcome(job.source, job.target, "failed", 0.0, f"task lost: {e}",
                                              pipeline=pipeline)
                        pending.pop(future.key, None)
                        summary.outcomes.append(outcome)
                    bar.tick(summary)
                if stop.signal:
                    client.cancel(futures)
                for job in pending.values():
                    summary.outcomes.append(Outcome(job.source, job.target, NOT_DONE, pipeline=pipeline))
        finally:
            if own_client:
                own_client.close()
            if own_cluster:
                own_cluster.close()
            # A server whose worker was stopped or killed ends with it, and
            # may leave its partly written file.
            remove_temporaries(output_dir, tag)
            if own_cluster:
                time.sleep(0.2)
                remove_temporaries(output_dir, tag)
        summary.interrupted = stop.signal
        if stop.signal:
            done = {o.source for o in summary.outcomes}
            summary.outcomes += [Outcome(j.source, j.target, NOT_DONE, pipeline=pipeline) for j in todo
                                 if j.source not in done]
        write_report(output_dir, summary.outcomes)
    return summary


def main(argv=None):
    stop = _Stop().__enter__()  # from the first moment: a report is written whenever the run is stopped
    parser = argparse.ArgumentParser(
        prog="python3 -m kxpre.batch",
        description="Run a kxpipe pipeline over a folder, a glob or a list file of images on a Dask cluster.")
    parser.add_argument("input", help="folder (recursive), glob pattern or list file")
    parser.add_argument("output_dir", help="results keep their relative names here; report.csv too")
    parser.add_argument("steps", nargs=argparse.REMAINDER, help="the operations, written as for kxpipe")
    parser.add_argument("--workers", type=int, default=None, help="local worker processes (default: cores)")
    parser.add_argument("--scheduler", default=None, help="address of an existing Dask scheduler")
    parser.add_argument("--suffix", default=None, help="write results with this extension (e.g. .png)")
    parser.add_argument("--page", type=int, default=None, help="the page of multi-page files to process (1 the first)")
    parser.add_argument("--lenient", action="store_true", help="run steps that would do nothing (as kxpipe)")
    parser.add_argument("--force", action="store_true", help="make every result again, whatever made it")
    parser.add_argument("--progress", type=float, default=PROGRESS_SECONDS,
                        help=f"seconds between progress lines on stderr, 0 for none (default {PROGRESS_SECONDS:g})")
    # Options may stand anywhere, also among the steps.
    args, rest = parser.parse_known_args(argv)
    steps = list(args.steps) + rest
    valued, flags = {"--workers", "--scheduler", "--suffix", "--page", "--progress"}, {"--lenient", "--force"}
    cleaned, i = [], 0
    while i < len(steps):
        word = steps[i]
        name = word.split("=", 1)[0]
        if name in valued and ("=" in word or i + 1 < len(steps)):
            value = word.split("=", 1)[1] if "=" in word else steps[i + 1]
            try:
                setattr(args, name[2:], int(value) if name in ("--workers", "--page") else
                        float(value) if name == "--progress" else value)
            except ValueError:
                parser.error(f"{name}: '{value}' is not a number")
            i += 1 if "=" in word else 2
        elif word in flags:
            setattr(args, word[2:], True)
            i += 1
        else:
            cleaned.append(word)
            i += 1
    if not cleaned:
        parser.error("no operation given")
    if args.workers is not None and args.workers < 1:
        parser.error("--workers must be at least 1")
    if args.page is not None and args.page < 1:
        parser.error("--page must be at least 1")
    start = time.perf_counter()
    try:
        summary = run(args.input, args.output_dir, cleaned, workers=args.workers, scheduler=args.scheduler,
                      suffix=args.suffix, page=args.page, lenient=args.lenient, force=args.force,
                      progress=args.progress, stop=stop)
    except UsageError as e:
        print(e, file=sys.stderr)
        return e.code
    except FileNotFoundError as e:
        print(f"kxpre.batch: {e}", file=sys.stderr)
        return 2
    except OSError as e:
        print(f"kxpre.batch: {e}", file=sys.stderr)
        return 1
    if summary.interrupted:
        name = signal.Signals(summary.interrupted).name
        print(f"kxpre.batch: stopped by {name}: {summary.count('ok')} made, {summary.count(NOT_DONE)} not done; "
              f"see {Path(args.output_dir) / REPORT_NAME}", file=sys.stderr)
        return 128 + summary.interrupted
    if not summary.outcomes:
        print(f"kxpre.batch: no image found in {args.input}", file=sys.stderr)
        return 2
    d, p, e, r = summary.times()
    total = max(d + p + e + r, 1e-9)
    print(summary.line(time.perf_counter() - start)
          + (f"; time of the images made: decode {100 * d / total:.0f} %, operations {100 * p / total:.0f} %, "
             f"encode {100 * e / total:.0f} %, the rest {100 * r / total:.0f} %" if summary.count("ok") else ""),
          file=sys.stderr)
    return 1 if summary.failed else 0


if __name__ == "__main__":
    sys.exit(main())
