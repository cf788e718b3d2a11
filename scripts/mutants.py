#!/usr/bin/env python3
"""Mutation sampling: how many small faults in the product code does the
release suite catch?

One build holds every sampled mutant; the environment variable SCP_MUTANT
picks the one that is live in a run (none when unset). The sample is drawn
with a fixed seed from the product sources, so two runs over the same product
code mutate the same sites even when the test trees differ (--tests DIR).

Stages: copy the tree to a scratch folder, rewrite the sampled sites, build
(sites the compiler refuses are dropped and replaced from the same category),
run the suite once clean to order its programs by run time, then run each
mutant with a per-program timeout and stop at its first failing program.
"""
import argparse
import json
import os
import random
import re
import shutil
import subprocess
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
PRODUCT_DIRS = ["lib", "lib/dbclient", "scp", "platform"]
# Not built on the development platform: its mutants could never be killed.
SKIP_FILES = {"platform/platform_win32.cpp"}
# How many mutants of each kind the sample holds.
QUOTA = {"relational": 36, "negate": 24, "logic": 10, "arith": 16, "constant": 24, "delete": 30, "logline": 20}
SEED = 20261206

HEADER = """#pragma once
#include <cstdio>
#include <cstdlib>
// Which sampled fault is live in this process: SCP_MUTANT=<id>, none when
// unset. With SCP_MUTANT_TRACE=<file> and no live fault, the ids of the
// sites this module reached are appended to the file at exit.
struct ScpMutantState {
  int live = -1;
  const char* trace = nullptr;
  unsigned char reached[4096] = {};
  ScpMutantState() {
    const char* s = std::getenv("SCP_MUTANT");
    live = s ? std::atoi(s) : -1;
    trace = live < 0 ? std::getenv("SCP_MUTANT_TRACE") : nullptr;
  }
  ~ScpMutantState() {
    if (!trace) return;
    if (std::FILE* f = std::fopen(trace, "a")) {
      for (int k = 0; k < 4096; ++k)
        if (reached[k]) std::fprintf(f, "%d\\n", k);
      std::fclose(f);
    }
  }
};
inline bool scp_mutant_on(int k) {
  static ScpMutantState state;
  if (state.trace && k >= 0 && k < 4096) state.reached[k] = 1;
  return state.live == k;
}
"""

# The message catalogue: a line number there is swapped where the message is
# written to the event log (LogOem / LogMemory), since the constants
# themselves are compile-time values a run-time switch cannot reach.
CATALOGUE = ["lib/messages.h", "scp/messages.h", "scp/mfr_framing.h"]
CAT_RE = re.compile(r"\b(?:Scpecg|Scpsrv|Fileutil|System|SizeLimit|TooShort2?)\((\d{3,5})\b")
EMIT_FILE = "lib/eventlog.cpp"
EMIT_RE = re.compile(r"(m\.source,\s*)m\.line\b")

LINE_SWAP = """
// Catalogued line numbers swapped where a message is written: {mutant, line, written as}.
inline int scp_mutant_line(int line) {
  static const int kSwaps[][3] = {@TABLE@};
  for (const auto& s : kSwaps)
    if (s[1] == line && scp_mutant_on(s[0])) return s[2];
  return line;
}
"""

REL_SWAP = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
LOG_RE = re.compile(r"(kSrc\w+,\s*)(\d{3,5})\b")
STMT_START = re.compile(r"^\s*(\+\+|--|\*?[A-Za-z_][\w:]*(\.|->|\[|\(|\s*(\+|-|\*|/|\||&|<<|>>)?=[^=]))")
NOT_STMT = re.compile(r"^\s*(return|case|default|else|if|for|while|do|switch|break|continue|goto|throw|using|typedef|"
                      r"static|const|constexpr|auto|struct|class|namespace|template|public|private|protected|#|//|\})\b")


def mask_literals(s):
    """The line with string and character literals and comments blanked out."""
    out, i, n = [], 0, len(s)
    while i < n:
        c = s[i]
        if s.startswith("//", i):
            out.append(" " * (n - i))
            break
        if c in "\"'":
            j = i + 1
            while j < n and s[j] != c:
                j += 2 if s[j] == "\\" else 1
            out.append(c + " " * (min(j, n) - i - 1) + (c if j < n else ""))
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)[:n]


def balanced(s):
    depth = 0
    for c in s:
        depth += c == "("
        depth -= c == ")"
        if depth < 0:
            return False
    return depth == 0


def close_paren(m, start):
    """Index of the parenthesis closing the one at start, or -1 on this line."""
    depth = 0
    for i in range(start, len(m)):
        depth += m[i] == "("
        depth -= m[i] == ")"
        if depth == 0:
            return i
    return -1


def expr_mutations(orig, masked, allow_literal=True):
    """(kind, mutated text) for one expression span."""
    out = []
    for m in re.finditer(r"(?<=\s)(<=|>=|==|!=|<|>)(?=\s)", masked):
        op = m.group(1)
        out.append(("relational", orig[:m.start()] + REL_SWAP[op] + orig[m.end():]))
    for m in re.finditer(r"(?<=\s)(&&|\|\|)(?=\s)", masked):
        out.append(("logic", orig[:m.start()] + ("||" if m.group(1) == "&&" else "&&") + orig[m.end():]))
    for m in re.finditer(r"(?<=\s)([+-])(?=\s)", masked):
        out.append(("arith", orig[:m.start()] + ("-" if m.group(1) == "+" else "+") + orig[m.end():]))
    if allow_literal:
        for m in re.finditer(r"(?<![\w.])(0x[0-9A-Fa-f]+|\d+)([uUlL]*)(?![\w.])", masked):
            lit = m.group(0)
            out.append(("constant", orig[:m.start()] + "(" + lit + " + 1)" + orig[m.end():]))
    return out


def find_sites(rel, lines):
    sites = []
    logs = [int(x.group(2)) for ln in lines for x in LOG_RE.finditer(mask_keep_digits(ln))]
    prev = ""
    for idx, line in enumerate(lines):
        no = idx + 1
        masked = mask_literals(line)
        stripped = masked.strip()
        prev_ok = prev.endswith((";", "{", "}", ")", ":")) or prev.endswith("else") or prev == ""
        if stripped.startswith(("#", "//", "static_assert", "constexpr", "case ")) or "template" in stripped:
            prev = stripped or prev
            continue
        # Conditions of if / while on one line.
        for m in re.finditer(r"\b(if|while)\s*\(", masked):
            op = masked.index("(", m.start())
            cl = close_paren(masked, op)
            if cl < 0:
                continue
            a, b = op + 1, cl
            cond, cmask = line[a:b], masked[a:b]
            if not cond.strip() or "constexpr" in masked[m.start():op]:
                continue
            sites.append(dict(file=rel, line=no, kind="negate", start=a, end=b, mutated="!(" + cond + ")"))
            for kind, mut in expr_mutations(cond, cmask):
                sites.append(dict(file=rel, line=no, kind=kind, start=a, end=b, mutated=mut))
            # A one-line "if (c) statement;" can lose its statement.
            tail = masked[cl + 1:].strip()
            if m.group(1) == "if" and tail.endswith(";") and STMT_START.match(tail) and not NOT_STMT.match(tail):
                ts = cl + 1 + (len(masked[cl + 1:]) - len(masked[cl + 1:].lstrip()))
                te = len(masked.rstrip())
                sites.append(dict(file=rel, line=no, kind="delete", start=ts, end=te, mutated=None))
        # return EXPR;
        m = re.match(r"^(\s*return\s+)(.*);\s*$", masked)
        if m and prev_ok and balanced(m.group(2)) and "{" not in m.group(2):
            a, b = m.end(1), m.end(2)
            for kind, mut in expr_mutations(line[a:b], masked[a:b]):
                sites.append(dict(file=rel, line=no, kind=kind, start=a, end=b, mutated=mut))
        # Right-hand sides of assignments and initialisations.
        m = re.match(r"^(\s*[\w:<>*&\[\]\.\->, ]+?\s(?:[-+*/|&]?=)\s)(.*);\s*$", masked)
        if m and prev_ok and balanced(m.group(2)) and "{" not in m.group(2) and not LOG_RE.search(masked):
            a, b = m.end(1), m.end(2)
            for kind, mut in expr_mutations(line[a:b], masked[a:b]):
                sites.append(dict(file=rel, line=no, kind=kind, start=a, end=b, mutated=mut))
        # Log line numbers: the message goes out with another of this file's lines.
        for lm in LOG_RE.finditer(masked):
            num = int(line[lm.start(2):lm.end(2)])
            others = sorted({x for x in logs if x != num}, key=lambda x: (abs(x - num), x))
            if others:
                sites.append(dict(file=rel, line=no, kind="logline", start=lm.start(2), end=lm.end(2),
                                  mutated=str(others[0])))
        # Whole statements.
        if (prev_ok and stripped.endswith(";") and balanced(stripped) and STMT_START.match(stripped)
                and not NOT_STMT.match(stripped) and "{" not in stripped):
            a = len(line) - len(line.lstrip())
            sites.append(dict(file=rel, line=no, kind="delete", start=a, end=len(line.rstrip()), mutated=None))
        prev = stripped or prev
    return sites


def mask_keep_digits(line):
    return mask_literals(line)


def catalogue_sites(src):
    """Each catalogued line number, to go out as the nearest other line of its file."""
    sites = []
    for rel in CATALOGUE:
        f = src / rel
        if not f.exists():
            continue
        lines = f.read_text(encoding="latin-1").split("\n")
        nums = [int(m.group(1)) for ln in lines for m in CAT_RE.finditer(mask_literals(ln))]
        for idx, line in enumerate(lines):
            masked = mask_literals(line)
            for m in CAT_RE.finditer(masked):
                num = int(m.group(1))
                others = sorted({x for x in nums if x != num}, key=lambda x: (abs(x - num), x))
                if others:
                    sites.append(dict(file=rel, line=idx + 1, kind="logline", start=m.start(1), end=m.end(1),
                                      mutated=str(others[0]), source_line=num))
    return sites


def all_sites(src):
    sites = catalogue_sites(src)
    for d in PRODUCT_DIRS:
        for f in sorted((src / d).glob("*.cpp")):
            rel = f.relative_to(src).as_posix()
            if rel in SKIP_FILES:
                continue
            sites += find_sites(rel, f.read_text(encoding="latin-1").split("\n"))
    for i, s in enumerate(sites):
        s["key"] = f'{s["file"]}:{s["line"]}:{s["kind"]}:{s["start"]}:{s["mutated"]}'
    return sites


def apply_sites(src_root, dst_root, chosen):
    """Writes every product file with its chosen sites guarded by scp_mutant_on."""
    by_file = {}
    swaps = []
    for s in chosen:
        if s["file"] in CATALOGUE:
            swaps.append(s)
            continue
        by_file.setdefault(s["file"], []).append(s)
    table = ",".join(f'{{{s["id"]}, {s["source_line"]}, {s["mutated"]}}}' for s in swaps) or "{-1, 0, 0}"
    (dst_root / "scp_mutant.h").write_text(HEADER + LINE_SWAP.replace("@TABLE@", table))
    for d in PRODUCT_DIRS:
        for f in sorted((src_root / d).glob("*.cpp")):
            rel = f.relative_to(src_root).as_posix()
            text = f.read_text(encoding="latin-1")
            head = ""
            if rel == EMIT_FILE:
                head = '#include "scp_mutant.h"\n'
                text = EMIT_RE.sub(r"\1scp_mutant_line(m.line)", text)
            if rel not in by_file:
                (dst_root / rel).write_text(head + text, encoding="latin-1")
                continue
            lines = text.split("\n")
            per_line = {}
            for s in by_file[rel]:
                per_line.setdefault(s["line"], []).append(s)
            for no, ss in per_line.items():
                line = lines[no - 1]
                # One span per line at most keeps nesting simple; the rest wait for another run.
                ss.sort(key=lambda s: (s["start"], s["end"]))
                a, b = ss[0]["start"], ss[0]["end"]
                same = [s for s in ss if (s["start"], s["end"]) == (a, b)]
                for s in ss:
                    if s not in same:
                        s["dropped"] = "shares a line"
                orig = line[a:b]
                if same[0]["mutated"] is None:
                    k = same[0]["id"]
                    new = "{ if (!scp_mutant_on(" + str(k) + ")) { " + orig + " } }"
                else:
                    new = "(" + orig + ")"
                    for s in same:
                        new = "(scp_mutant_on(" + str(s["id"]) + ") ? (" + s["mutated"] + ") : " + new + ")"
                    if same[0]["kind"] == "logline":
                        new = new  # an int expression in an argument list
                lines[no - 1] = line[:a] + new + line[b:]
            out = '#include "scp_mutant.h"\n' + "\n".join(lines)
            (dst_root / rel).write_text(out, encoding="latin-1")


def sh(cmd, **kw):
    return subprocess.run(cmd, shell=isinstance(cmd, str), **kw)


def copy_tree(scratch, tests_dir):
    src = scratch / "src"
    if src.exists():
        shutil.rmtree(src)
    ignore = shutil.ignore_patterns("build*", ".git", "out")
    shutil.copytree(ROOT, src, ignore=ignore, symlinks=True)
    if tests_dir:
        shutil.rmtree(src / "tests")
        shutil.copytree(tests_dir, src / "tests", symlinks=True)
    (src / "scp_mutant.h").write_text(HEADER)
    return src


def build(src, bld, log):
    env = dict(os.environ, CMAKE_CXX_COMPILER_LAUNCHER="ccache", CMAKE_C_COMPILER_LAUNCHER="ccache",
               CCACHE_BASEDIR="/work", CCACHE_NOHASHDIR="1")
    if not (bld / "build.ninja").exists():
        r = sh(["cmake", "-S", str(src), "-B", str(bld), "-G", "Ninja", "-DCMAKE_BUILD_TYPE=Release",
                "-DSCP_BUILD_TESTS=ON", "-DSCP_BUILD_BENCH=OFF", "-DSCP_BUILD_TOOLS=ON"],
               env=env, stdout=log, stderr=subprocess.STDOUT)
        if r.returncode:
            sys.exit("configure failed; see " + log.name)
    r = sh(["nice", "cmake", "--build", str(bld), "-j", str(os.cpu_count() or 2), "--", "-k", "0"],
           env=env, capture_output=True, text=True, errors="replace")
    log.write(r.stdout + r.stderr)
    log.flush()
    return r.returncode, r.stdout + r.stderr


def choose(sites, rng_seed):
    by_kind = {}
    for s in sites:
        by_kind.setdefault(s["kind"], []).append(s)
    order = {}
    for kind, ss in sorted(by_kind.items()):
        rng = random.Random(f"{rng_seed}:{kind}")
        ss = sorted(ss, key=lambda s: s["key"])
        rng.shuffle(ss)
        order[kind] = ss
    return order


def test_programs(bld):
    progs = sorted(p for p in (bld / "bin").glob("*_test") if os.access(p, os.X_OK))
    return progs


def run_one(prog, mutant, timeout, cwd, trace=None):
    env = dict(os.environ)
    env.pop("SCP_MUTANT", None)
    env.pop("SCP_MUTANT_TRACE", None)
    if trace:
        env["SCP_MUTANT_TRACE"] = str(trace)
    if mutant is not None:
        env["SCP_MUTANT"] = str(mutant)
    t = time.time()
    try:
        r = subprocess.run(["nice", str(prog), "--gtest_fail_fast", "--gtest_brief=1"], cwd=cwd, env=env,
                           stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=timeout, text=True,
                           errors="replace")
        return r.returncode, time.time() - t, r.stdout[-2000:]
    except subprocess.TimeoutExpired:
        return "timeout", time.time() - t, ""


def main():
    ap = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("--tests", help="test tree to run instead of this checkout's tests/")
    ap.add_argument("--scratch", default=str(ROOT / "build" / "mutants"), help="scratch folder")
    ap.add_argument("--jobs", type=int, default=2, help="mutants run at once")
    ap.add_argument("--list", action="store_true", help="print the sample and stop")
    ap.add_argument("--only", help="comma-separated mutant ids to run")
    ap.add_argument("--out", help="JSON results file")
    ap.add_argument("--exclude", default="", help="regular expression of test programs to leave out")
    args = ap.parse_args()

    scratch = Path(args.scratch).resolve()
    scratch.mkdir(parents=True, exist_ok=True)
    tests_dir = Path(args.tests).resolve() if args.tests else None
    src = copy_tree(scratch, tests_dir)
    bld = scratch / "build"
    pristine = scratch / "pristine"
    if pristine.exists():
        shutil.rmtree(pristine)
    for d in PRODUCT_DIRS:
        (pristine / d).mkdir(parents=True, exist_ok=True)
        for f in (ROOT / d).glob("*.cpp"):
            shutil.copy2(f, pristine / d / f.name)
    for rel in CATALOGUE:
        if (ROOT / rel).exists():
            shutil.copy2(ROOT / rel, pristine / rel)

    sites = all_sites(pristine)
    order = choose(sites, SEED)
    taken = {k: 0 for k in QUOTA}
    chosen, dropped = [], set()
    log = open(scratch / "build.log", "w")

    def fill():
        for kind, quota in QUOTA.items():
            live = [s for s in chosen if s["kind"] == kind]
            for s in order.get(kind, [])[taken[kind]:]:
                if len(live) >= quota:
                    break
                taken[kind] += 1
                if s["key"] in dropped:
                    continue
                if any(c["file"] == s["file"] and c["line"] == s["line"] for c in chosen):
                    continue  # one mutant per line: a guard around a guard reads badly
                chosen.append(s)
                live.append(s)

    for rnd in range(8):
        fill()
        chosen.sort(key=lambda s: s["key"])
        for i, s in enumerate(chosen):
            s["id"] = i + 1
            s.pop("dropped", None)
        apply_sites(pristine, src, chosen)
        code, out = build(src, bld, log)
        bad = set()
        for m in re.finditer(r"^(?:.*/)?src/((?:lib|scp|platform)/[\w/]+\.cpp):(\d+):\d+: error", out, re.M):
            bad.add((m.group(1), int(m.group(2)) - 1))
        # "in constexpr expansion" and the like point at a line of ours that holds no error.
        for m in re.finditer(r"src/((?:lib|scp|platform)/[\w/]+\.cpp):(\d+):\d+:\s+(?:required|in )", out):
            bad.add((m.group(1), int(m.group(2)) - 1))
        losers = [s for s in chosen if (s["file"], s["line"]) in bad]
        if code == 0 and not losers:
            break
        if not losers:
            sys.exit("build failed outside the sampled sites; see " + log.name)
        for s in losers:
            dropped.add(s["key"])
        chosen = [s for s in chosen if s["key"] not in dropped]
    else:
        sys.exit("could not make the sample build; see " + log.name)

    print(f"sample: {len(chosen)} mutants over {len({s['file'] for s in chosen})} files "
          f"({len(sites)} candidate sites, {len(dropped)} dropped by the compiler)")
    if args.list:
        for s in chosen:
            print(f'{s["id"]:4} {s["kind"]:10} {s["file"]}:{s["line"]}')
        return

    progs = [p for p in test_programs(bld) if not (args.exclude and re.search(args.exclude, p.name))]
    cwd = bld / "tests"
    # A clean run: every program must pass, and its time orders the runs.
    base, reaches = {}, {}
    tracedir = scratch / "trace"
    shutil.rmtree(tracedir, ignore_errors=True)
    tracedir.mkdir()
    for p in progs:
        trace = tracedir / (p.name + ".txt")
        rc, t, out = run_one(p, None, 1800, cwd, trace)
        if rc != 0:
            sys.exit(f"{p.name} fails without a mutant:\n{out}")
        base[p] = t
        reaches[p] = {int(x) for x in trace.read_text().split()} if trace.exists() else set()
    progs.sort(key=lambda p: base[p])
    suite_time = sum(base.values())
    print(f"clean suite: {len(progs)} programs, {suite_time:.1f} s")

    ids = [int(x) for x in args.only.split(",")] if args.only else [s["id"] for s in chosen]
    by_id = {s["id"]: s for s in chosen}

    # A program that never reaches a site cannot see its fault: only the
    # programs that reached it in the clean run are run for it.
    def judge(mid):
        for p in [q for q in progs if mid in reaches[q]]:
            rc, t, out = run_one(p, mid, max(20.0, 5 * base[p]), cwd)
            if rc != 0:
                return mid, p.name, rc
        return mid, None, 0

    results = {}
    done = 0
    t0 = time.time()
    with ThreadPoolExecutor(max_workers=args.jobs) as ex:
        for mid, killer, rc in ex.map(judge, ids):
            results[mid] = (killer, rc)
            done += 1
            if done % 10 == 0:
                print(f"  {done}/{len(ids)} mutants, {time.time() - t0:.0f} s", flush=True)

    killed = [m for m in ids if results[m][0]]
    survived = [m for m in ids if not results[m][0]]
    unreached = [m for m in ids if not any(m in reaches[p] for p in progs)]
    print(f"\nnot reached by any test program: {len(unreached)}")
    print(f"killed {len(killed)} / {len(ids)} = {100.0 * len(killed) / len(ids):.1f}%   survived {len(survived)}")
    print("\nper file (killed/total):")
    files = sorted({by_id[m]["file"] for m in ids})
    for f in files:
        ms = [m for m in ids if by_id[m]["file"] == f]
        print(f"  {f:36} {sum(1 for m in ms if results[m][0]):3}/{len(ms)}")
    print("\nper kind (killed/total):")
    for k in QUOTA:
        ms = [m for m in ids if by_id[m]["kind"] == k]
        print(f"  {k:12} {sum(1 for m in ms if results[m][0]):3}/{len(ms)}")
    print("\nsurvivors:")
    for m in survived:
        s = by_id[m]
        text = (pristine / s["file"]).read_text(encoding="latin-1").split("\n")[s["line"] - 1]
        what = "delete" if s["mutated"] is None else ("-> " + s["mutated"].strip())
        print(f'  #{m:<4} {s["kind"]:10} {s["file"]}:{s["line"]}: {text.strip()[:90]}')
        print(f'         {what[:110]}')
    out = Path(args.out) if args.out else scratch / "results.json"
    out.write_text(json.dumps({"ids": ids, "killed": killed, "survived": survived,
                               "killers": {m: results[m][0] for m in killed},
                               "sites": [by_id[m] for m in ids], "suite_seconds": suite_time,
                               "unreached": unreached}, indent=1))
    print(f"\nresults: {out}   time: {time.time() - t0:.0f} s")


if __name__ == "__main__":
    main()
