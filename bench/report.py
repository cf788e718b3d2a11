#!/usr/bin/env python3
"""Helpers of bench/run.

  report.py peer OUT.json RUNS INPUT OUTDIR LEADS SAMPLES -- TOOL ARGS...
      times the peer converter as whole processes (wall clock and CPU, peak
      RSS) RUNS times; INPUT and OUTDIR stand in ARGS as {in} and {out}.
  report.py folder OUT.json RUNS SCPECG RECORD DIR COUNT
      copies RECORD COUNT times into DIR, then times `scpecg info` on every
      copy and `scpecg convert DIR --to edf` (one worker per core) RUNS times.
  report.py table RESULTS_DIR
      prints the one table from the JSON files bench/run left in RESULTS_DIR.

Times are medians over the repetitions. Rates use wall-clock time, as the
peer's do; CPU time is shown beside it because the machine is shared.
"""

import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

UNIT_SECONDS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


# ------------------------------------------------------------------ peer

def run_peer(out_json, runs, infile, outdir, leads, samples, command):
    outdir = Path(outdir)
    results = []
    for _ in range(runs):
        shutil.rmtree(outdir, ignore_errors=True)
        outdir.mkdir(parents=True)
        argv = [a.replace("{in}", infile).replace("{out}", str(outdir / "peer.bin")) for a in command]
        errfile = outdir.parent / (outdir.name + ".stderr")
        with open(errfile, "wb") as err_out:
            start = time.perf_counter()
            proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=err_out)
            # wait4 rather than wait: the child's own CPU time and peak RSS.
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        err = errfile.read_text(errors="replace")
        errfile.unlink()
        # BIN writes a header file and one raw file per channel (.s01, ...).
        channels = sorted(outdir.glob("peer.s*"))
        channel_bytes = sum(p.stat().st_size for p in channels)
        ok = proc.returncode == 0 and len(channels) == leads and channel_bytes >= leads * samples * 2
        results.append({
            "ok": ok,
            "exit": proc.returncode,
            "wall_s": wall,
            "cpu_s": usage.ru_utime + usage.ru_stime,
            "max_rss_bytes": usage.ru_maxrss * 1024,
            "channels": len(channels),
            "channel_bytes": channel_bytes,
            "stderr": err[-2000:],
        })
    shutil.rmtree(outdir, ignore_errors=True)
    Path(out_json).write_text(json.dumps({"command": command, "runs": results}, indent=1))
    return 0 if all(r["ok"] for r in results) else 1


# ---------------------------------------------------------------- folder

def timed(argv):
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    err = proc.stderr.read().decode(errors="replace")
    # wait4: the process's CPU time with that of the workers it waited for.
    _, status, usage = os.wait4(proc.pid, 0)
    return {"ok": os.waitstatus_to_exitcode(status) == 0, "wall_s": time.perf_counter() - start,
            "cpu_s": usage.ru_utime + usage.ru_stime, "stderr": err[-2000:]}


def run_folder(out_json, runs, scpecg, record, folder, count):
    folder = Path(folder)
    shutil.rmtree(folder, ignore_errors=True)
    folder.mkdir(parents=True)
    files = []
    for i in range(count):
        files.append(str(folder / f"r{i:04d}.scp"))
        shutil.copyfile(record, files[-1])
    out = folder.parent / (folder.name + "-edf")
    result = {"files": count, "info": [], "convert": []}
    for _ in range(runs):
        result["info"].append(timed([scpecg, "info", *files]))
        shutil.rmtree(out, ignore_errors=True)
        result["convert"].append(timed([scpecg, "convert", str(folder), "--to", "edf", "-o", str(out)]))
    converted = len(list(out.glob("*.edf")))
    result["converted"] = converted
    shutil.rmtree(out, ignore_errors=True)
    shutil.rmtree(folder, ignore_errors=True)
    Path(out_json).write_text(json.dumps(result, indent=1))
    ok = converted == count and all(r["ok"] for r in result["info"] + result["convert"])
    return 0 if ok else 1


# ----------------------------------------------------------------- table

def load_bench(path):
    """name -> {wall_s, cpu_s, items, bytes, counters, error} per iteration, medians over repetitions."""
    try:
        data = json.loads(Path(path).read_text())
    except (OSError, ValueError):
        return {}, {Path(path).stem: {"error": "no results (the benchmark did not finish)"}}
    groups = {}
    for b in data.get("benchmarks", []):
        if b.get("run_type") != "iteration":
            continue
        # "save/holter24h/iterations:5" is listed as "save/holter24h".
        name = re.sub(r"/(iterations:\d+|real_time|manual_time)$", "", b["run_name"])
        groups.setdefault(name, []).append(b)
    out = {}
    for name, reps in groups.items():
        errors = [r.get("error_message") for r in reps if r.get("error_occurred")]
        if errors:
            out[name] = {"error": errors[0]}
            continue
        unit = UNIT_SECONDS[reps[0]["time_unit"]]
        entry = {
            "wall_s": statistics.median(r["real_time"] * unit for r in reps),
            "cpu_s": statistics.median(r["cpu_time"] * unit for r in reps),
            "reps": len(reps),
        }
        # Google Benchmark divides the totals by CPU time: rate * cpu_time is
        # what one iteration processed, the same in every repetition.
        for key, field in (("items", "items_per_second"), ("bytes", "bytes_per_second")):
            if field in reps[0]:
                entry[key] = reps[0][field] * reps[0]["cpu_time"] * unit
        entry["counters"] = {k: v for k, v in reps[0].items() if isinstance(v, (int, float))}
        out[name] = entry
    return data.get("context", {}), out


def si(value, unit):
    if value is None:
        return "n/a"
    for factor, prefix in ((1e9, "G"), (1e6, "M"), (1e3, "k")):
        if abs(value) >= factor:
            return f"{value / factor:.3g} {prefix}{unit}"
    return f"{value:.3g} {unit}"


def duration(seconds):
    if seconds is None:
        return "n/a"
    for factor, unit in ((1.0, "s"), (1e-3, "ms"), (1e-6, "us")):
        if seconds >= factor:
            return f"{seconds / factor:.3g} {unit}"
    return f"{seconds / 1e-9:.3g} ns"


def mib(n):
    if n is None:
        return "n/a"
    return f"{n / 1048576:.1f} MiB" if n >= 1048576 else f"{n / 1024:.1f} KiB"


def ratio(a, b):
    return None if a is None or b is None or b == 0 else a / b


def fmt_ratio(r):
    return "n/a" if r is None else f"{r:.2f}x" if r < 10 else f"{r:.1f}x"


class Table:
    def __init__(self):
        self.lines = []

    def section(self, title, header):
        self.lines.append("")
        self.lines.append(title)
        self.rows = [header]
        self.lines.append(self.rows)

    def row(self, *cells):
        self.rows.append([str(c) for c in cells])

    def note(self, text):
        self.lines.append(text)

    def render(self):
        out = []
        for item in self.lines:
            if isinstance(item, str):
                out.append(item)
                continue
            widths = [max(len(r[i]) if i < len(r) else 0 for r in item) for i in range(max(map(len, item)))]
            for n, r in enumerate(item):
                cells = [c.ljust(widths[i]) if i == 0 else c.rjust(widths[i]) for i, c in enumerate(r)]
                out.append("  " + "  ".join(cells).rstrip())
                if n == 0:
                    out.append("  " + "  ".join("-" * w for w in widths))
        return "\n".join(out)


def wall_rate(entry, key):
    if not entry or "error" in entry or key not in entry or not entry["wall_s"]:
        return None
    return entry[key] / entry["wall_s"]


def get(d, key, field):
    e = d.get(key)
    return None if not e or "error" in e else e.get(field)


def verdict(value, target, higher_is_better):
    if value is None:
        return "not measured"
    ok = value >= target if higher_is_better else value <= target
    return "met" if ok else "MISSED"


def make_table(results):
    results = Path(results)
    ctx, codec = load_bench(results / "codec.json")
    _, crc = load_bench(results / "crc.json")
    _, saveload = load_bench(results / "saveload.json")
    _, scan = load_bench(results / "scan.json")
    _, reader = load_bench(results / "reader.json") if (results / "reader.json").exists() else ({}, {})
    peer = json.loads((results / "peer.json").read_text()) if (results / "peer.json").exists() else None
    folder = json.loads((results / "convert.json").read_text()) if (results / "convert.json").exists() else None
    rss = [json.loads(l) for l in (results / "peak_rss.jsonl").read_text().splitlines() if l.strip()] \
        if (results / "peak_rss.jsonl").exists() else []
    meta = json.loads((results / "meta.json").read_text()) if (results / "meta.json").exists() else {}

    t = Table()
    cpu = meta.get("cpu") or platform.processor() or "unknown CPU"
    reps = meta.get("repetitions", "?")
    t.note(f"scpsrv benchmarks: Release build, {cpu}, {ctx.get('num_cpus', '?')} CPUs, "
           f"load average at start {meta.get('load', '?')}")
    t.note(f"files in {meta.get('ram_dir', '?')}; times are medians of {reps} repetitions, wall clock "
           "(CPU beside it); the machine is shared, so figures are noisy")
    errors = [f"{n}: {e['error']}" for d in (codec, crc, saveload, scan, reader) for n, e in d.items() if "error" in e]

    # -- sample codec
    t.section("Sample codec, samples/s (wall)",
              ["lead", "op", "fast", "portable", "fast/portable", "bits/sample"])
    signals = [("ecg500", "ECG 500 Hz 5 uV, 5,000 samples"), ("holter200", "Holter 200 Hz 5 uV, 60,000 samples"),
               ("noise", "white noise, 5,000 samples")]
    for sig, label in signals:
        for op in ("encode", "decode"):
            f = wall_rate(codec.get(f"{op}/fast/{sig}"), "items")
            p = wall_rate(codec.get(f"{op}/portable/{sig}"), "items")
            bits = (get(codec, f"{op}/fast/{sig}", "counters") or {}).get("bits_per_sample")
            t.row(label, op, si(f, "S/s"), si(p, "S/s"), fmt_ratio(ratio(f, p)),
                  "n/a" if bits is None else f"{bits:.2f}")
        if sig != "noise":
            f = wall_rate(codec.get(f"decode3/fast/{sig}"), "items")
            p = wall_rate(codec.get(f"decode3/portable/{sig}"), "items")
            bits = (get(codec, f"decode3/fast/{sig}", "counters") or {}).get("bits_per_sample")
            t.row("  3 such leads in one call", "decode", si(f, "S/s"), si(p, "S/s"), fmt_ratio(ratio(f, p)),
                  "n/a" if bits is None else f"{bits:.2f}")

    # -- the tool's reader (scpreader), on records as other producers write them
    t.section("scpecg's reader, 12 leads x 10 s at 500 Hz (wall)",
              ["record", "file bytes", "wall/read", "cpu/read", "samples/s", "file bytes/s"])
    for key, label in (("read/refbeat12x10s", "reference beats, 2nd differences, default table"),
                       ("read/plain12x10s", "no reference beats, 2nd differences, default table")):
        e = reader.get(key)
        fb = (get(reader, key, "counters") or {}).get("file_bytes")
        t.row(label, "n/a" if fb is None else f"{int(fb):,}", duration(get(reader, key, "wall_s")),
              duration(get(reader, key, "cpu_s")), si(wall_rate(e, "items"), "S/s"), si(wall_rate(e, "bytes"), "B/s"))

    # -- CRC
    t.section("CRC-CCITT, bytes/s (wall)", ["buffer", "carry-less", "fast", "portable", "fast/portable"])
    for size, label in (("1048576", "1 MiB"), ("67108864", "64 MiB")):
        c = wall_rate(crc.get(f"crc/carryless/{size}"), "bytes")
        f = wall_rate(crc.get(f"crc/fast/{size}"), "bytes")
        p = wall_rate(crc.get(f"crc/portable/{size}"), "bytes")
        t.row(label, si(c, "B/s"), si(f, "B/s"), si(p, "B/s"), fmt_ratio(ratio(f, p)))

    # -- whole operations
    t.section("Whole operations through the exports (libscpsrv.so loaded at run time)",
              ["operation", "file bytes", "wall/op", "cpu/op", "samples/s", "file bytes/s"])
    ops = [("save/resting12", "SAVETESTRECORD resting 12 leads x 10 s"),
           ("fetch/resting12", "FETCHTEST      resting 12 leads x 10 s"),
           ("save/holter24h", "SAVETESTRECORD Holter 3 leads x 24 h"),
           ("fetch/holter24h", "FETCHTEST      Holter 3 leads x 24 h")]
    for key, label in ops:
        e = saveload.get(key)
        fb = (get(saveload, key, "counters") or {}).get("file_bytes")
        t.row(label, "n/a" if fb is None else f"{int(fb):,}", duration(get(saveload, key, "wall_s")),
              duration(get(saveload, key, "cpu_s")), si(wall_rate(e, "items"), "S/s"), si(wall_rate(e, "bytes"), "B/s"))
    s = scan.get("isvalidformat/archive1000")
    files = (get(scan, "isvalidformat/archive1000", "counters") or {})
    t.row("ISVALIDFORMAT archive scan, 1,000 files",
          "n/a" if "mean_file_bytes" not in files else f"{files['mean_file_bytes']:,.0f} mean",
          duration(get(scan, "isvalidformat/archive1000", "wall_s")),
          duration(get(scan, "isvalidformat/archive1000", "cpu_s")), "", "")
    t.row("  = files/s", "", "", "", si(wall_rate(s, "items"), "files/s"), "")

    # -- physical limit
    # Two sizes: the file itself, and the samples as the record holds them
    # (16 bits each), which is what a host storing the waveform plainly moves.
    holter_bytes = (get(saveload, "save/holter24h", "counters") or {}).get("file_bytes")
    sizes = (("", f"the Holter file's {int(holter_bytes or 0):,} bytes"),
             ("_samples", f"the Holter samples' {3 * 200 * 86400 * 2:,} bytes (16 bits each)"))
    for suffix, what in sizes:
        t.section(f"Physical limit: moving {what} in the same RAM folder",
                  ["operation", "wall/op", "cpu/op", "bytes/s"])
        for key, label in ((f"memcpy{suffix}/holter24h", "memcpy"),
                           (f"plain_write{suffix}/holter24h", "plain write (fopen, fwrite, fclose)"),
                           (f"plain_read{suffix}/holter24h", "plain read (fopen, fread, fclose)")):
            t.row(label, duration(get(saveload, key, "wall_s")), duration(get(saveload, key, "cpu_s")),
                  si(wall_rate(saveload.get(key), "bytes"), "B/s"))

    t.section("Ratios, Holter 3 x 24 h", ["ratio", "wall", "cpu", "target", "verdict (wall)"])
    save_w, fetch_w = get(saveload, "save/holter24h", "wall_s"), get(saveload, "fetch/holter24h", "wall_s")
    save_c, fetch_c = get(saveload, "save/holter24h", "cpu_s"), get(saveload, "fetch/holter24h", "cpu_s")
    for suffix, what in (("_samples", "samples' bytes"), ("", "file's bytes")):
        pw_w, pr_w = get(saveload, f"plain_write{suffix}/holter24h", "wall_s"), get(saveload, f"plain_read{suffix}/holter24h", "wall_s")
        pw_c, pr_c = get(saveload, f"plain_write{suffix}/holter24h", "cpu_s"), get(saveload, f"plain_read{suffix}/holter24h", "cpu_s")
        r = ratio(save_w, pw_w)
        t.row(f"save / plain write of the {what}", fmt_ratio(r), fmt_ratio(ratio(save_c, pw_c)), "<= 4x", verdict(r, 4, False))
        r = ratio(fetch_w, pr_w)
        limit = 8 if suffix == "" else 4
        t.row(f"fetch / plain read of the {what}", fmt_ratio(r), fmt_ratio(ratio(fetch_c, pr_c)), f"<= {limit}x",
              verdict(r, limit, False))
    mc_w, mc_c = get(saveload, "memcpy/holter24h", "wall_s"), get(saveload, "memcpy/holter24h", "cpu_s")
    t.row("save / memcpy of the file's bytes", fmt_ratio(ratio(save_w, mc_w)), fmt_ratio(ratio(save_c, mc_c)), "", "")
    t.row("fetch / memcpy of the file's bytes", fmt_ratio(ratio(fetch_w, mc_w)), fmt_ratio(ratio(fetch_c, mc_c)), "", "")

    # -- peer
    if peer and peer["runs"]:
        runs = peer["runs"]
        ok = all(x["ok"] for x in runs)
        pw = statistics.median(x["wall_s"] for x in runs)
        pc = statistics.median(x["cpu_s"] for x in runs)
        prss = max(x["max_rss_bytes"] for x in runs)
        shown = " ".join(Path(peer["command"][0]).name if i == 0 else a.replace("{in}", "holter24h.scp").replace(
            "{out}", "out.bin") for i, a in enumerate(peer["command"]))
        t.section(f"Peer: {shown} (Debian biosig-tools), whole process, median of {len(runs)} runs",
                  ["measure", "wall", "cpu", "target", "verdict (wall)"])
        t.row("peer time" + ("" if ok else " (FAILED RUN)"), duration(pw), duration(pc), "", "")
        t.row("our FETCHTEST", duration(fetch_w), duration(fetch_c), "", "")
        r = ratio(pw, fetch_w) if ok else None
        t.row("peer / our fetch", fmt_ratio(r), fmt_ratio(ratio(pc, fetch_c)), ">= 40x", verdict(r, 40, True))
        t.row("peer peak RSS", mib(prss), "", "", "")
    else:
        t.section("Peer", ["measure", "value"])
        t.row("save2gdf (biosig-tools)", "not installed: not measured")

    # -- conversion of a folder
    if folder and folder["convert"]:
        ok = folder["converted"] == folder["files"] and all(x["ok"] for x in folder["info"] + folder["convert"])
        iw = statistics.median(x["wall_s"] for x in folder["info"])
        ic = statistics.median(x["cpu_s"] for x in folder["info"])
        cw = statistics.median(x["wall_s"] for x in folder["convert"])
        cc = statistics.median(x["cpu_s"] for x in folder["convert"])
        t.section(f"scpecg on {folder['files']:,} records (12-lead, 10 s), whole process, "
                  f"median of {len(folder['convert'])} runs", ["measure", "wall", "cpu", "target", "verdict (wall)"])
        t.row("info FILE...", duration(iw), duration(ic), "", "")
        t.row("convert DIR --to edf" + ("" if ok else " (FAILED RUN)"), duration(cw), duration(cc), "", "")
        r = ratio(cw, iw) if ok else None
        t.row("convert / info", fmt_ratio(r), fmt_ratio(ratio(cc, ic)), "< 4x", verdict(r, 4, False))

    # -- memory
    t.section("Peak memory and time, one operation per process (getrusage max RSS; wall time of that first operation)",
              ["operation", "peak RSS", "before op", "op adds", "record buffer", "waveform", "file", "first op"])
    for x in rss:
        t.row(f"{x['op']} {x['shape']}" + ("" if x["ok"] else " (FAILED)"), mib(x["peak_rss_bytes"]),
              mib(x["baseline_rss_bytes"]), mib(x["operation_rss_bytes"]), mib(x["record_buffer_bytes"]),
              mib(x["waveform_bytes"]), mib(x["file_bytes"]),
              duration(x["operation_ms"] / 1000) if "operation_ms" in x else "")
    t.note("  (record buffer: TestRecord::EstimateRecordBufferSize, what a save reserves; untouched pages are not resident)")

    if errors:
        t.note("")
        t.note("Benchmarks that reported an error: " + "; ".join(errors))
    print(t.render())
    return 1 if errors else 0


def main(argv):
    if len(argv) >= 2 and argv[1] == "table" and len(argv) == 3:
        return make_table(argv[2])
    if len(argv) == 8 and argv[1] == "folder":
        out, runs, scpecg, record, folder, count = argv[2:8]
        return run_folder(out, int(runs), scpecg, record, folder, int(count))
    if len(argv) >= 9 and argv[1] == "peer" and "--" in argv:
        sep = argv.index("--")
        out, runs, infile, outdir, leads, samples = argv[2:8]
        return run_peer(out, int(runs), infile, outdir, int(leads), int(samples), argv[sep + 1:])
    print(__doc__, file=sys.stderr)
    return 2


if __name__ == "__main__":
    sys.exit(main(sys.argv))
