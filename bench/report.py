#!/usr/bin/env python3
"""Runs every benchmark program (one process per family) and writes the
performance report: a Markdown table (operation, size, ours, peer, ratio,
single-threaded and with threads on) and a bar chart of the ratios.

    report.py --bench-dir build/release/bench --out docs/performance.md [-- benchmark args]
    report.py --from-json build/release/bench/results --out docs/performance.md

Each program writes Google Benchmark JSON; the report reads the counters
and labels described in bench/kxbench.hpp, so any program that reports that
way is collected, whatever its family:
  ours_ms | kx_ms        ours, threads off (else the benchmark's CPU time)
  <peer>_ms              a peer, single-threaded
  ours_mt_ms, <peer>_mt_ms   both with threads on
  label "op=...; size=WxH; <peer>=<call>"
The programs read KXBENCH_SIDES (e.g. "512,2048"; default 512,2048,4096) and
KXBENCH_THREADS (the "threads on" count; default every processor).
"""
import argparse
import datetime
import glob
import json
import os
import platform
import re
import subprocess
import sys

OURS = ("ours_ms", "kx_ms")
OURS_MT = ("ours_mt_ms", "kx_mt_ms")
PEER_NAMES = {"opencv": "OpenCV", "leptonica": "Leptonica", "memcpy": "memcpy"}
UNIT_MS = {"ns": 1e-6, "us": 1e-3, "ms": 1.0, "s": 1e3}


def cpu_model():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def package_version(name):
    try:
        out = subprocess.run(["dpkg-query", "-W", "-f=${Version}", name], capture_output=True, text=True)
        return out.stdout.strip() or None
    except OSError:
        return None


def run_programs(bench_dir, results_dir, extra):
    os.makedirs(results_dir, exist_ok=True)
    programs = sorted(p for p in glob.glob(os.path.join(bench_dir, "kxbench_*"))
                      if os.access(p, os.X_OK) and not p.endswith(".json"))
    if not programs:
        sys.exit(f"no benchmark programs in {bench_dir}")
    for stale in glob.glob(os.path.join(results_dir, "*.json")):
        os.remove(stale)
    for prog in programs:
        family = os.path.basename(prog)[len("kxbench_"):]
        out = os.path.join(results_dir, family + ".json")
        print(f"== {family}", flush=True)
        rc = subprocess.run([prog, f"--benchmark_out={out}", "--benchmark_out_format=json"] + extra).returncode
        if rc != 0:
            print(f"warning: {prog} exited with {rc}", file=sys.stderr)


def parse_label(label):
    parts = {}
    for item in (label or "").split(";"):
        if "=" in item:
            k, v = item.split("=", 1)
            parts[k.strip()] = v.strip()
    return parts


def op_from_name(name):
    return re.sub(r"/(real_time|process_time|manual_time)$", "", re.sub(r"^BM_", "", name))


def size_key(size):
    m = re.match(r"(\d+)x(\d+)", size or "")
    return int(m.group(1)) * int(m.group(2)) if m else 0


def collect(results_dir):
    """One row per (benchmark, peer); rows without a peer keep peer None."""
    rows, contexts = [], {}
    for path in sorted(glob.glob(os.path.join(results_dir, "*.json"))):
        family = os.path.splitext(os.path.basename(path))[0]
        try:
            with open(path) as f:
                data = json.load(f)
        except (OSError, ValueError) as e:
            print(f"warning: {path}: {e}", file=sys.stderr)
            continue
        contexts[family] = data.get("context", {})
        for b in data.get("benchmarks", []):
            if b.get("run_type", "iteration") != "iteration" or b.get("error_occurred"):
                continue
            label = parse_label(b.get("label"))
            ours = next((b[k] for k in OURS if k in b), None)
            if ours is None:
                ours = b.get("cpu_time", 0) * UNIT_MS.get(b.get("time_unit", "ns"), 1e-6)
            ours_mt = next((b[k] for k in OURS_MT if k in b), None)
            base = {"family": family, "op": label.get("op") or op_from_name(b["name"]),
                    "bench": b["name"], "size": label.get("size", ""), "ours": ours, "ours_mt": ours_mt}
            peers = [k[:-3] for k in b if k.endswith("_ms") and not k.endswith("_mt_ms")
                     and k not in OURS and isinstance(b[k], (int, float))]
            if not peers:
                rows.append(dict(base, peer=None))
            for p in sorted(peers, key=lambda p: (p != "opencv", p)):
                rows.append(dict(base, peer=p, what=label.get(p, ""), peer_ms=b[p + "_ms"],
                                 peer_mt=b.get(p + "_mt_ms")))
    natural = lambda text: [int(t) if t.isdigit() else t for t in re.split(r"(\d+)", text)]
    rows.sort(key=lambda r: (r["family"], natural(r["op"]), r["peer"] or "", size_key(r["size"]), natural(r["bench"])))
    return rows, contexts


def fmt_ms(v):
    if v is None:
        return ""
    return f"{v:.3f}" if v < 1 else f"{v:.2f}" if v < 100 else f"{v:.0f}"


def ratio(a, b):
    return a / b if a is not None and b else None


def fmt_ratio(r):
    return "" if r is None else f"**{r:.2f}**" if r > 1.5 else f"{r:.2f}"


def machine_lines(contexts, meta):
    ctx = next(iter(contexts.values()), {})
    cores = ctx.get("num_cpus") or os.cpu_count()
    loads = lambda xs: " / ".join(f"{x:.2f}" for x in xs)
    lines = [
        f"- CPU: {cpu_model()}, {cores} logical cores"
        + (f", {ctx['mhz_per_cpu']} MHz" if ctx.get("mhz_per_cpu") else ""),
        f"- load average (1 / 5 / 15 min): {loads(meta['load_before'])} before the run, "
        f"{loads(meta['load_after'])} after; at each family's start: "
        + ", ".join(f"{fam} {c['load_avg'][0]:.1f}" for fam, c in sorted(contexts.items()) if c.get("load_avg")),
        f"- threads on: ours {meta['threads_on']} (kxtSetThreads), OpenCV at its default (cv::setNumThreads(-1))",
    ]
    versions = [(n, package_version(p)) for n, p in
                (("OpenCV", "libopencv-core-dev"), ("Leptonica", "libleptonica-dev"), ("Google Benchmark", "libbenchmark-dev"))]
    lines.append("- peers: " + ", ".join(f"{n} {v}" for n, v in versions if v))
    lines.append(f"- {platform.system()} {platform.release()}; run started {meta.get('started', 'unknown')}")
    return lines


# The targets of the summary, at TARGET_SIZE, single-threaded.
TARGET_SIZE = "2048x2048"
POINT_OPS = ("kxInvert", "kxLinear", "kxPixelAdd", "kxbSimple", "kxContrast")


def first_word(op):
    return (op or "").split(" ")[0]


def verdict(ok):
    return "met" if ok else "**missed**"


def target_lines(rows):
    """The summary at TARGET_SIZE: counts against OpenCV, point operations
    against memcpy, and each named target with met / missed."""
    at = [r for r in rows if r["size"] == TARGET_SIZE and r["peer"] and r["ours"] and r["peer_ms"]]
    if not at:
        return []
    out = [f"## Targets ({TARGET_SIZE}, single-threaded)", ""]
    cv = [r for r in at if r["peer"] == "opencv"]
    if cv:
        rs = [r["ours"] / r["peer_ms"] for r in cv]
        n1, n15 = sum(x <= 1.0 for x in rs), sum(x <= 1.5 for x in rs)
        out += [f"- Against OpenCV: {n1} of {len(rs)} comparisons at or under 1.0× (target: at least two thirds, "
                f"{-(-2 * len(rs) // 3)}: {verdict(3 * n1 >= 2 * len(rs))}), {n15} of {len(rs)} at or under 1.5× "
                f"(target: all: {verdict(n15 == len(rs))})."]
        own = [r["ours"] / r["peer_ms"] for r in cv if r["family"] != "vision"]
        out += [f"- Without the vision family (whose calls are OpenCV's own): {sum(x <= 1.0 for x in own)} of {len(own)} "
                f"at or under 1.0×, {sum(x <= 1.5 for x in own)} of {len(own)} at or under 1.5×.",
                "- kxScaleEx against resize: filter 2 (bilinear) is the targeted comparison; filter 4 (Gaussian) is in the results.",
                ""]
    table = ["| Target | Operation | Peer | Ours ms | Peer ms | Ratio | Limit | Result |", "|---|---|---|---:|---:|---:|---:|---|"]

    def add(name, r, limit, faster=False):
        q = r["ours"] / r["peer_ms"]
        peer = PEER_NAMES.get(r["peer"], r["peer"]) + (f": {r['what']}" if r.get("what") else "")
        lim = f"≤ {limit:g}×" if not faster else f"≤ {limit:g}× (≥ {1 / limit:g}× faster)"
        table.append(f"| {name} | {r['op']} | {peer} | {fmt_ms(r['ours'])} | {fmt_ms(r['peer_ms'])} | {q:.2f} | {lim} | "
                     f"{verdict(q <= limit)} |")

    for r in at:
        if r["family"] == "pixel" and first_word(r["op"]) in POINT_OPS:
            if r["peer"] == "memcpy":
                add("point op vs memcpy", r, 1.5)
            elif r["peer"] == "opencv":
                add("point op vs OpenCV", r, 1.0)
    for r in at:
        word, what = first_word(r["op"]), r.get("what", "")
        if word == "kxRotateEx" and r["peer"] == "opencv":
            add("kxRotateEx vs warpAffine", r, 2.0)
        elif word == "kxScaleEx" and r["peer"] == "opencv" and "filter 2 x2" in r["op"] and "LINEAR" in what:
            add("kxScaleEx ×2 vs resize LINEAR", r, 2.0)
        elif word == "kxScaleEx" and r["peer"] == "opencv" and "filter 2 x0.5" in r["op"] and "AREA" in what:
            add("kxScaleEx ×0.5 vs resize AREA", r, 3.0)
        elif word == "kxbLocalIntegral" and r["peer"] == "opencv":
            add("kxbLocalIntegral w31 vs adaptiveThreshold", r, 2.0)
        elif word == "kxbLocalIntegral" and r["peer"] == "leptonica":
            add("kxbLocalIntegral w31 vs Leptonica Sauvola", r, 0.1, faster=True)
    out += table
    thin = [r for r in rows if r["size"] == TARGET_SIZE and first_word(r["op"]) == "kxThinning"]
    if thin:
        ms = thin[0]["ours"]
        out += ["", f"- kxThinning on the text page: {ms:.1f} ms (target ≤ 40 ms: {verdict(ms <= 40)})."]
    return out + [""]


def linearity_lines(rows):
    """Our single-threaded time per pixel at the smallest and largest side
    of every benchmark: flat when the cost grows with the pixel count."""
    per = {}
    for r in rows:
        px = size_key(r["size"])
        if not px or not r["ours"]:
            continue
        # One row per operation (the same call compared with two peers
        # has its own benchmarks, the same time).
        per.setdefault((r["family"], r["op"]), {"op": r["op"]}).setdefault(px, r["ours"] * 1e6 / px)
    lines = []
    for (family, _), d in sorted(per.items(), key=lambda kv: (kv[0][0], kv[1]["op"])):
        sizes = sorted(k for k in d if k != "op")
        if len(sizes) < 2:
            continue
        lo, hi = d[sizes[0]], d[sizes[-1]]
        growth = hi / lo if lo else 0
        mark = f"**{growth:.2f}**" if growth > 1.5 or growth < 1 / 1.5 else f"{growth:.2f}"
        lines.append(f"| {family} | {d['op']} | {lo:.3f} | {hi:.3f} | {mark} |")
    if not lines:
        return []
    small, large = min(size_key(r["size"]) for r in rows if r["size"]), max(size_key(r["size"]) for r in rows if r["size"])
    side = lambda px: int(round(px ** 0.5))
    return ["## Linearity", "",
            f"Our single-threaded time per pixel (ns) at {side(small)}² and {side(large)}², and their ratio (1: the cost",
            "grows exactly with the pixel count; above 1.5 or below 0.67 in bold). Small pictures fit in the caches,",
            "so memory-bound operations grow a little faster than the pixel count.", "",
            "| Family | Operation | ns/pixel small | ns/pixel large | Large ÷ small |", "|---|---|---:|---:|---:|",
            *lines, ""]


def write_markdown(rows, contexts, out, chart, meta):
    compared = [r for r in rows if r["peer"]]
    lone = [r for r in rows if not r["peer"]]
    lines = [
        "# Performance",
        "",
        "Generated by `./build.sh bench` (bench/report.py); regenerate rather than edit.",
        "",
        "Each benchmark program (one per family) runs our call and its peers on the same input in the same",
        "loop, interleaved. Single-threaded figures are medians of at least five calls in thread CPU time",
        "(the machine is shared; wall time would mostly measure the neighbours). Figures with threads on",
        "are medians of five calls in wall time, our threads and OpenCV's both on. Ratio = ours ÷ peer",
        "(below 1: ours is faster); ratios above 1.5 are in bold. memcpy rows compare a point operation",
        "with copying the same bytes, its bandwidth limit. \"Ours ms, threads\" is empty where our call runs",
        "on one thread whatever the setting (kxthreads.h lists the operations that use threads).",
        "",
        "## Machine",
        "",
        *machine_lines(contexts, meta),
        "",
    ]
    # Summary against OpenCV, single-threaded, per size.
    by_size = {}
    for r in compared:
        if r["peer"] == "opencv":
            by_size.setdefault(r["size"], []).append(ratio(r["ours"], r["peer_ms"]))
    if by_size:
        lines += ["## Summary (against OpenCV, single-threaded)", "",
                  "| Size | Comparisons | ≤ 1.0 | ≤ 1.5 | Median ratio |", "|---|---:|---:|---:|---:|"]
        for size in sorted(by_size, key=size_key):
            rs = sorted(x for x in by_size[size] if x is not None)
            if not rs:
                continue
            med = rs[len(rs) // 2]
            lines.append(f"| {size or 'not given'} | {len(rs)} | {sum(x <= 1.0 for x in rs)} | {sum(x <= 1.5 for x in rs)} | {med:.2f} |")
        lines.append("")
    lines += target_lines(rows)
    lines += linearity_lines(rows)
    if chart:
        lines += [f"![ratios]({os.path.basename(chart)})", ""]
    lines += ["## Results", "",
              "| Family | Operation | Size | Peer | Ours ms | Peer ms | Ratio | Ours ms, threads | Peer ms, threads | Ratio, threads |",
              "|---|---|---|---|---:|---:|---:|---:|---:|---:|"]
    for r in compared:
        peer = PEER_NAMES.get(r["peer"], r["peer"]) + (f": {r['what']}" if r.get("what") else "")
        mt = ratio(r["ours_mt"], r["peer_mt"])
        lines.append(f"| {r['family']} | {r['op']} | {r['size']} | {peer} | {fmt_ms(r['ours'])} | {fmt_ms(r['peer_ms'])} | "
                     f"{fmt_ratio(ratio(r['ours'], r['peer_ms']))} | {fmt_ms(r['ours_mt'] if r['peer_mt'] else None)} | "
                     f"{fmt_ms(r['peer_mt'])} | {fmt_ratio(mt)} |")
    lines.append("")
    if lone:
        lines += ["## Without a peer", "", "| Family | Operation | Size | Ours ms | Ours ms, threads |", "|---|---|---|---:|---:|"]
        for r in lone:
            lines.append(f"| {r['family']} | {r['op']} | {r['size']} | {fmt_ms(r['ours'])} | {fmt_ms(r['ours_mt'])} |")
        lines.append("")
    # The parameter sweep (bench/sweep_report.py) keeps its own section.
    kept = sweep_section(out)
    if kept:
        lines += ["", kept]
    with open(out, "w") as f:
        f.write("\n".join(lines))


SWEEP_BEGIN, SWEEP_END = "<!-- sweep: begin -->", "<!-- sweep: end -->"


def sweep_section(path):
    """The sweep's section of an existing report, markers included ('' when none)."""
    try:
        with open(path) as f:
            text = f.read()
    except OSError:
        return ""
    a, b = text.find(SWEEP_BEGIN), text.find(SWEEP_END)
    return text[a:b + len(SWEEP_END)] if 0 <= a < b else ""


def write_chart(rows, path):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print("warning: no matplotlib (Debian: python3-matplotlib); no chart", file=sys.stderr)
        return None
    compared = [r for r in rows if r["peer"] and r["peer_ms"] and r["ours"]]
    if not compared:
        return None
    keys, sizes = [], []
    # The same call compared with two calls of one peer (resize LINEAR and
    # AREA) keeps a bar for each.
    calls, twice = {}, set()
    for r in compared:
        k = (r["family"], r["op"], r["peer"])
        if (k, r["size"]) in calls:
            twice.add(k)
        calls[(k, r["size"])] = True
    key = lambda r: (r["family"], r["op"], r["peer"], r.get("what", "") if (r["family"], r["op"], r["peer"]) in twice else "")
    for r in compared:
        k = key(r)
        if k not in keys:
            keys.append(k)
        if r["size"] not in sizes:
            sizes.append(r["size"])
    sizes.sort(key=size_key)
    value = {(key(r), r["size"]): r["ours"] / r["peer_ms"] for r in compared}
    per_row = max(1, max(sum((k, sz) in value for sz in sizes) for k in keys))
    bar = 0.8 / per_row
    fig, ax = plt.subplots(figsize=(10, 1.5 + 0.1 * len(keys) * (1 + per_row)))
    palette = ["#8fb8de", "#2f6fad", "#0b2f5b", "#5b8c5a", "#c49a3a"]
    colour = {sz: ("#aaaaaa" if not sz else palette[i % len(palette)]) for i, sz in enumerate(sz for sz in sizes if sz)}
    colour[""] = "#aaaaaa"
    for i, k in enumerate(keys):
        present = [sz for sz in sizes if (k, sz) in value]
        for j, sz in enumerate(present):
            # Bars grow from 1 (level): left when ours is faster.
            r = value[(k, sz)]
            ax.barh(i + (j - (len(present) - 1) / 2) * bar, r - 1, left=1, height=bar, color=colour[sz])
    from matplotlib.patches import Patch
    ax.legend(handles=[Patch(color=colour[sz], label=sz or "size not given") for sz in sizes], fontsize=8,
              loc="lower right")
    ax.set_yticks(range(len(keys)))
    ax.set_yticklabels([f"{fam}: {op} vs {PEER_NAMES.get(p, p)}" + (f" ({w})" if w else "") for fam, op, p, w in keys],
                       fontsize=7)
    ax.set_ylim(len(keys) - 0.5, -0.5)
    ax.set_xscale("log")
    ax.axvline(1.0, color="black", linewidth=0.8)
    ax.axvline(1.5, color="#c0392b", linewidth=0.8, linestyle="--")
    ax.set_xlabel("ours ÷ peer, single-threaded (log scale; left of 1: ours faster)")
    ax.grid(axis="x", which="both", alpha=0.3)
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    plt.close(fig)
    return path


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--bench-dir", help="folder of the kxbench_* programs (runs them)")
    ap.add_argument("--from-json", help="folder of saved results (does not run anything)")
    ap.add_argument("--out", default="docs/performance.md")
    ap.add_argument("extra", nargs="*", help="arguments for every benchmark program (after --)")
    args = ap.parse_args()
    if not args.bench_dir and not args.from_json:
        ap.error("give --bench-dir or --from-json")
    results = args.from_json or os.path.join(args.bench_dir, "results")
    meta_path = os.path.join(results, "run.json")
    if not args.from_json:
        meta = {"load_before": os.getloadavg(), "started": f"{datetime.datetime.now(datetime.timezone.utc):%Y-%m-%d %H:%M} UTC"}
        run_programs(args.bench_dir, results, args.extra)
        meta["load_after"] = os.getloadavg()
        meta["threads_on"] = int(os.environ.get("KXBENCH_THREADS") or 0) if (os.environ.get("KXBENCH_THREADS") or "0").isdigit() else 0
        if meta["threads_on"] < 2:
            meta["threads_on"] = max(2, os.cpu_count() or 2)
        with open(meta_path, "w") as f:
            json.dump(meta, f)
    try:
        with open(meta_path) as f:
            meta = json.load(f)
    except (OSError, ValueError):
        meta = {"load_before": os.getloadavg(), "load_after": os.getloadavg(), "threads_on": max(2, os.cpu_count() or 2),
                "started": "unknown"}
    rows, contexts = collect(results)
    if not rows:
        sys.exit(f"no results in {results}")
    out = os.path.abspath(args.out)
    os.makedirs(os.path.dirname(out), exist_ok=True)
    chart = write_chart(rows, os.path.splitext(out)[0] + ".png")
    write_markdown(rows, contexts, out, chart, meta)
    print(f"report: {out}" + (f", chart: {chart}" if chart else ""))


if __name__ == "__main__":
    main()
