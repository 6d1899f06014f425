#!/usr/bin/env python3
"""Whole-process benchmark of zpress against the zlib engine ceiling and the
peer utilities gzip, pigz (-p 1) and compress (each used only where installed).

    python3 bench/run.py            full run on the reference corpus (~10-15 min)
    python3 bench/run.py --quick    small generated corpus, well under a minute

Every timed command runs as its own process with standard input from a file
and standard output to /dev/null.  The commands of one comparison run in
alternation (a rotating order in each round) after one untimed warm-up run
each; the table gives median wall and user+sys times and the medians of the
per-round (paired) ratios of both.  Goals are judged on the user+sys ratio by
default (--judge wall for the other): on a shared machine a process's wall time
also counts the time it waited for a core.  Peak RSS is GNU time's maximum
resident set size (%M).

The table is printed and written to bench/results.md (or -o FILE).
"""

from __future__ import annotations

import argparse
import datetime
import gzip
import hashlib
import os
import platform
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
import zlib
from dataclasses import dataclass, field
from pathlib import Path
from typing import Callable

REPO = Path(__file__).resolve().parent.parent
MIB = 1 << 20
RSS_GOAL_KIB = 2560  # 2.5 MiB


# --------------------------------------------------------------------------
# Command line


def parse_args() -> argparse.Namespace:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true",
                    help="small generated corpus and few rounds (for CI)")
    ap.add_argument("-o", "--output", type=Path,
                    help="results file (default bench/results.md, quick: bench/results-quick.md)")
    ap.add_argument("--build-dir", type=Path, default=REPO / "build" / "release",
                    help="build tree holding zpress and bench/ (default build/release)")
    ap.add_argument("--no-build", action="store_true",
                    help="use the binaries as they are (default: build the release preset)")
    ap.add_argument("--zpress", type=Path, help="zpress binary (default BUILD/zpress)")
    ap.add_argument("--ceiling", type=Path, help="engine ceiling (default BUILD/bench/zpress_ceiling)")
    ap.add_argument("--lzw-tool", type=Path, help="LZW API tool (default BUILD/bench/zpress_lzw_tool)")
    ap.add_argument("--make-corpus", type=Path,
                    default=Path(os.environ.get("ZPRESS_MAKE_CORPUS",
                                                REPO.parent / "shared" / "bench" / "make_corpus.sh")),
                    help="corpus script (default ../shared/bench/make_corpus.sh beside the repo, "
                         "or $ZPRESS_MAKE_CORPUS)")
    ap.add_argument("--corpus-dir", type=Path, default=Path("/tmp/zpress-corpus"),
                    help="where the full corpus lives; reused when its SHA256SUMS still match")
    ap.add_argument("--work-dir", type=Path,
                    help="scratch directory (default: a temporary one, removed afterwards)")
    ap.add_argument("--rounds", type=int, help="timed rounds for zpress and the ceiling")
    ap.add_argument("--peer-rounds", type=int, help="timed rounds for gzip, pigz and compress")
    ap.add_argument("--small-files", type=int, help="number of small files (default 2000)")
    ap.add_argument("--judge", choices=("cpu", "wall"), default="cpu",
                    help="ratio that goals are judged on: user+sys time (default) or wall time")
    return ap.parse_args()


# --------------------------------------------------------------------------
# Timing


@dataclass
class Sample:
    wall: float
    cpu: float
    rss_kib: int | None


@dataclass
class Cmd:
    label: str
    argv: list[str]
    stdin: Path | None = None
    cwd: Path | None = None
    rounds: int = 5
    own: bool = False  # part of zpress: a failure is an error, not a missing peer
    prepare: Callable[[], None] | None = None  # untimed set-up before every run
    check: Callable[[], str | None] | None = None  # after the warm-up run: error text or None
    samples: list[Sample | None] = field(default_factory=list)  # index = round
    failure: str | None = None


class Runner:
    def __init__(self, work: Path, gnu_time: str | None):
        self.work = work
        self.gnu_time = gnu_time
        self.rss_file = work / "rss.txt"
        self.err_file = work / "stderr.txt"
        self.own_failures: list[str] = []

    def run_once(self, cmd: Cmd, stdout: Path | None = None) -> Sample:
        if cmd.prepare:
            cmd.prepare()
        argv = cmd.argv
        if self.gnu_time:
            argv = [self.gnu_time, "-f", "%M", "-o", str(self.rss_file)] + argv
        with open(cmd.stdin if cmd.stdin else os.devnull, "rb") as fin, \
                open(stdout if stdout else os.devnull, "wb") as fout, \
                open(self.err_file, "wb") as ferr:
            start = time.perf_counter()
            proc = subprocess.Popen(argv, stdin=fin, stdout=fout, stderr=ferr, cwd=cmd.cwd)
            _, status, usage = os.wait4(proc.pid, 0)
            wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        if proc.returncode != 0:
            err = self.err_file.read_text(errors="replace").strip().splitlines()
            raise RuntimeError(f"exit status {proc.returncode}" + (f": {err[-1]}" if err else ""))
        rss = None
        if self.gnu_time:
            lines = self.rss_file.read_text().split()
            rss = int(lines[-1]) if lines else None
        return Sample(wall, usage.ru_utime + usage.ru_stime, rss)

    def group(self, cmds: list[Cmd]) -> list[Cmd]:
        """Warm-up, then rounds in rotating order; a failing command drops out."""
        for c in cmds:
            try:
                self.run_once(c)
                if c.check:
                    problem = c.check()
                    if problem:
                        raise RuntimeError(problem)
            except (RuntimeError, OSError) as e:
                self.fail(c, str(e))
        rounds = max(c.rounds for c in cmds)
        for r in range(rounds):
            order = cmds[r % len(cmds):] + cmds[:r % len(cmds)]
            for c in order:
                if c.failure or r >= c.rounds:
                    continue
                try:
                    s = self.run_once(c)
                except (RuntimeError, OSError) as e:
                    self.fail(c, str(e))
                    continue
                c.samples.extend([None] * (r + 1 - len(c.samples)))
                c.samples[r] = s
        return cmds

    def fail(self, c: Cmd, why: str) -> None:
        c.failure = why
        print(f"  {c.label}: FAILED: {why}", file=sys.stderr)
        if c.own:
            self.own_failures.append(f"{c.label}: {why}")


def timed(c: Cmd) -> list[Sample]:
    return [s for s in c.samples if s is not None]


def median_of(c: Cmd, attr: str) -> float | None:
    t = timed(c)
    return statistics.median(getattr(s, attr) for s in t) if t else None


def paired_ratio(a: Cmd, b: Cmd, attr: str) -> float | None:
    pairs = [getattr(x, attr) / getattr(y, attr)
             for x, y in zip(a.samples, b.samples) if x is not None and y is not None]
    return statistics.median(pairs) if pairs else None


def max_rss(cmds: list[Cmd]) -> int | None:
    vals = [s.rss_kib for c in cmds for s in timed(c) if s.rss_kib is not None]
    return max(vals) if vals else None


# --------------------------------------------------------------------------
# The table


class Table:
    HEAD = ["measurement", "input", "zpress wall / cpu", "versus", "its wall / cpu",
            "wall ratio", "cpu ratio", "goal", "verdict"]

    def __init__(self, judge: str) -> None:
        self.judge = judge  # "wall" or "cpu": the ratio that goals are judged on
        self.rows: list[list[str]] = []
        self.met = 0
        self.missed = 0

    def verdict(self, value: float | None, limit: float | None) -> str:
        if limit is None:
            return ""
        if value is None:
            return "n/a"
        if value <= limit:
            self.met += 1
            return "met"
        self.missed += 1
        return "**missed**"

    def compare(self, what: str, inp: str, z: Cmd, ref: Cmd | None,
                goal: float | None = None) -> None:
        """One row: zpress against a reference command, by median of paired ratios.
        Without the reference (a peer not installed) the row shows zpress alone."""
        goal_text = f"<= {goal:.2f}" if goal is not None else ""
        if ref is None:
            self.rows.append([what, inp, fmt_s(z), "(not installed)", "", "", "", goal_text,
                              self.verdict(None, goal)])
            return
        both = not z.failure and not ref.failure
        wall = paired_ratio(z, ref, "wall") if both else None
        cpu = paired_ratio(z, ref, "cpu") if both else None
        self.rows.append([what, inp, fmt_s(z), ref.label, fmt_s(ref), fmt_r(wall), fmt_r(cpu),
                          goal_text, self.verdict(cpu if self.judge == "cpu" else wall, goal)])

    def rss(self, mode: str, zpress_kib: int | None, peer: str, peer_kib: int | None,
            goal: bool = True) -> None:
        self.rows.append([
            "peak RSS", mode, fmt_kib(zpress_kib), peer if peer_kib else "",
            fmt_kib(peer_kib) if peer_kib else "", "", "",
            "<= 2.5 MiB" if goal else "",
            self.verdict(zpress_kib / 1024 if zpress_kib else None,
                         RSS_GOAL_KIB / 1024 if goal else None)])

    def render(self) -> str:
        rows = [self.HEAD] + self.rows
        widths = [max(len(r[i]) for r in rows) for i in range(len(self.HEAD))]
        line = lambda r: "| " + " | ".join(c.ljust(w) for c, w in zip(r, widths)) + " |"
        out = [line(self.HEAD), "|" + "|".join("-" * (w + 2) for w in widths) + "|"]
        out += [line(r) for r in self.rows]
        return "\n".join(out)


def fmt_s(c: Cmd) -> str:
    """Median wall and user+sys times."""
    if c.failure:
        return "FAILED"
    wall, cpu = median_of(c, "wall"), median_of(c, "cpu")
    return f"{wall:.3f} / {cpu:.3f} s" if wall is not None and cpu is not None else "n/a"


def fmt_r(r: float | None) -> str:
    return f"{r:.3f}" if r is not None else ""


def fmt_kib(k: int | None) -> str:
    return f"{k} KiB" if k is not None else "n/a"


# --------------------------------------------------------------------------
# Corpus and inputs


def ensure_corpus(args: argparse.Namespace) -> tuple[Path, str]:
    d = args.corpus_dir
    sums = d / "SHA256SUMS"
    if sums.exists() and subprocess.run(["sha256sum", "--quiet", "-c", "SHA256SUMS"], cwd=d,
                                        stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL).returncode == 0:
        print(f"corpus: reusing {d}", file=sys.stderr)
    else:
        script = args.make_corpus
        if not script.exists():
            sys.exit(f"run.py: corpus script {script} not found (use --make-corpus or "
                     "$ZPRESS_MAKE_CORPUS)")
        print(f"corpus: building with {script} into {d}", file=sys.stderr)
        subprocess.run(["bash", str(script), str(d)], check=True, stdout=subprocess.DEVNULL)
    return d, sums.read_text()


def quick_corpus(d: Path) -> tuple[Path, str]:
    """A small deterministic corpus generated here (make_corpus has fixed sizes)."""
    d.mkdir(parents=True, exist_ok=True)
    rng = random.Random(20240501)
    # Text: lines of words with a skewed frequency, like prose or source code.
    vocab = ["".join(rng.choice("etaoinshrdlcumwfgypbvkjxqz_") for _ in range(rng.randint(1, 10)))
             for _ in range(3000)]
    weights = [1.0 / (i + 1) for i in range(len(vocab))]
    text = bytearray()
    while len(text) < 2 * MIB:
        words = rng.choices(vocab, weights, k=rng.randint(3, 14))
        text += (" " * rng.choice((0, 4, 8)) + " ".join(words) + rng.choice(";.,{}") + "\n").encode()
    # Binary: fixed-size records with small-valued and slowly changing fields
    # and stretches copied with changes from earlier, like code and data tables.
    binary = bytearray()
    counter = 0
    while len(binary) < 2 * MIB:
        if len(binary) > 4096 and rng.random() < 0.3:
            start = rng.randrange(len(binary) - 2048)
            chunk = bytearray(binary[start:start + rng.randint(16, 2048)])
            for _ in range(len(chunk) // 64):
                chunk[rng.randrange(len(chunk))] = rng.randrange(256)
            binary += chunk
        else:
            counter += rng.randint(1, 40)
            binary += counter.to_bytes(4, "little") + bytes([rng.randrange(16), 0x48, 0x89,
                                                             rng.randrange(256)])
    files = {
        "text.bin": bytes(text[:2 * MIB]),
        "binary.bin": bytes(binary[:2 * MIB]),
        "random.bin": random.Random(1).randbytes(MIB // 4),
        "zeros.bin": bytes(2 * MIB),
    }
    sums = []
    for name, data in files.items():
        (d / name).write_bytes(data)
        sums.append(f"{hashlib.sha256(data).hexdigest()}  {name}\n")
    return d, "".join(sums)


def cut_small_files(master: Path, text: Path, count: int) -> None:
    """count files of 1 to 8 KiB cut at deterministic places from the text corpus."""
    data = text.read_bytes()
    rng = random.Random(2000)
    master.mkdir(parents=True, exist_ok=True)
    for i in range(count):
        size = rng.randint(1024, 8192)
        at = rng.randrange(len(data) - size)
        (master / f"f{i:04d}").write_bytes(data[at:at + size])


def same_file(a: Path, b: Path) -> bool:
    return a.stat().st_size == b.stat().st_size and digest(a) == digest(b)


def digest(p: Path) -> str:
    h = hashlib.sha256()
    with open(p, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(chunk)
    return h.hexdigest()


def raw_inflate_digest(p: Path) -> str:
    """sha256 of the data in a raw deflate file, by Python's zlib."""
    h = hashlib.sha256()
    inflater = zlib.decompressobj(-15)
    with open(p, "rb") as f:
        while chunk := f.read(1 << 20):
            h.update(inflater.decompress(chunk))
    h.update(inflater.flush())
    return h.hexdigest() if inflater.eof else "truncated"


def gzip_digest(p: Path) -> str | None:
    """sha256 of the data in a gzip file, read by Python's own gzip reader."""
    h = hashlib.sha256()
    try:
        with gzip.open(p, "rb") as f:
            while chunk := f.read(1 << 20):
                h.update(chunk)
    except (OSError, EOFError) as e:
        return f"unreadable: {e}"
    return h.hexdigest()


# --------------------------------------------------------------------------
# Environment


def build(args: argparse.Namespace) -> None:
    """Configures (when the tree lacks bench/) and builds the three programs."""
    bd = args.build_dir
    if not (bd / "CMakeCache.txt").exists() or not (bd / "bench").is_dir():
        if bd.resolve() == (REPO / "build" / "release").resolve():
            configure = ["cmake", "--preset", "release"]
        else:
            configure = ["cmake", "-S", str(REPO), "-B", str(bd)]
        print(f"configuring {bd}", file=sys.stderr)
        subprocess.run(configure, cwd=REPO, check=True, stdout=subprocess.DEVNULL)
    print(f"building in {bd}", file=sys.stderr)
    subprocess.run(["cmake", "--build", str(bd), "-j2", "--target", "zpress", "zpress_ceiling",
                    "zpress_lzw_tool"], check=True, stdout=subprocess.DEVNULL)


def find_gnu_time() -> str | None:
    p = shutil.which("time", path="/usr/bin:/bin") or None
    if p is None:
        return None
    r = subprocess.run([p, "--version"], capture_output=True, text=True)
    return p if "GNU" in (r.stdout + r.stderr) else None


class CpuMeter:
    """How busy the machine was during the run, and how much of that was not us."""

    def __init__(self) -> None:
        self.start_busy, self.start_all = self.read()
        self.start_ours = self.ours()
        self.start_wall = time.monotonic()
        self.loads = [os.getloadavg()[0]]

    @staticmethod
    def read() -> tuple[float, float]:
        with open("/proc/stat") as f:
            v = [int(x) for x in f.readline().split()[1:]]
        idle = v[3] + v[4]
        total = sum(v[:8])
        hz = os.sysconf("SC_CLK_TCK")
        return (total - idle) / hz, total / hz

    @staticmethod
    def ours() -> float:
        t = os.times()
        return t.user + t.system + t.children_user + t.children_system

    def sample(self) -> None:
        self.loads.append(os.getloadavg()[0])

    def summary(self) -> str:
        busy, total = self.read()
        cores = os.cpu_count() or 1
        wall = time.monotonic() - self.start_wall
        others = max(0.0, (busy - self.start_busy) - (self.ours() - self.start_ours))
        return (f"{cores} cores; other processes kept {others / wall:.2f} cores busy on average "
                f"during the run; 1-minute load average {min(self.loads):.2f} to "
                f"{max(self.loads):.2f} (this benchmark adds about 1)")


# --------------------------------------------------------------------------
# The benchmark


class Bench:
    def __init__(self, args: argparse.Namespace, work: Path):
        self.quick = args.quick
        self.rounds = args.rounds or (2 if self.quick else 5)
        self.peer_rounds = args.peer_rounds or (2 if self.quick else 3)
        self.n_small = args.small_files or (200 if self.quick else 2000)
        self.zpress = str((args.zpress or args.build_dir / "zpress").resolve())
        self.ceiling = str((args.ceiling or args.build_dir / "bench" / "zpress_ceiling").resolve())
        self.lzw_tool = str((args.lzw_tool or args.build_dir / "bench" / "zpress_lzw_tool")
                            .resolve())
        for p in (self.zpress, self.ceiling, self.lzw_tool):
            if not os.access(p, os.X_OK):
                sys.exit(f"run.py: {p} is missing (build it, or drop --no-build)")
        self.source = self.zpress
        # Measure one fixed build even if the tree is rebuilt meanwhile.
        (work / "bin").mkdir()
        self.zpress, self.ceiling, self.lzw_tool = (
            shutil.copy2(p, work / "bin") for p in (self.zpress, self.ceiling, self.lzw_tool))
        self.peers = {name: shutil.which(name) for name in ("gzip", "pigz", "compress")}
        gnu_time = find_gnu_time()
        self.missing = [n for n, p in self.peers.items() if p is None]
        if not gnu_time:
            self.missing.append("GNU time")
        self.work = work
        self.meter = CpuMeter()
        self.runner = Runner(work, gnu_time)
        self.table = Table(args.judge)
        self.notes: list[str] = []
        # Peak RSS by mode: zpress's commands, and a peer's for the same job.
        self.rss: dict[str, tuple[list[Cmd], list[Cmd]]] = {}
        # Per input name: its zpress -6 output and its .Z files (None: not made).
        self.inputs: dict[str, dict[str, Path | None]] = {}

    # Commands --------------------------------------------------------------

    def own(self, label: str, argv: list[str], stdin: Path | None = None, **kw) -> Cmd:
        return Cmd(label, argv, stdin, rounds=self.rounds, own=True, **kw)

    def peer(self, name: str, label: str, argv: list[str], stdin: Path | None = None,
             **kw) -> Cmd | None:
        if self.peers[name] is None:
            return None
        return Cmd(label, [self.peers[name]] + argv, stdin, rounds=self.peer_rounds, **kw)

    def group(self, *cmds: Cmd | None) -> None:
        self.meter.sample()
        present = [c for c in cmds if c is not None]
        print("  " + ", ".join(f"{c.label} < {c.stdin.name if c.stdin else '-'}"
                               for c in present), file=sys.stderr)
        self.runner.group(present)

    def make(self, argv: list[str], stdin: Path, out: Path) -> str | None:
        """Runs argv once with its output kept in out; the error text, or None."""
        try:
            self.runner.run_once(Cmd("", argv, stdin), stdout=out)
            return None
        except (RuntimeError, OSError) as e:
            return str(e)

    def gives_back(self, argv: list[str], stdin: Path, want: str) -> bool:
        back = self.work / "roundtrip.out"
        ok = self.make(argv, stdin, back) is None and digest(back) == want
        back.unlink(missing_ok=True)
        return ok

    def note_rss(self, mode: str, z: Cmd, other: Cmd | None) -> None:
        mine, theirs = self.rss.setdefault(mode, ([], []))
        mine.append(z)
        if other is not None:
            theirs.append(other)

    def own_failure(self, text: str) -> None:
        self.runner.own_failures.append(text)

    # Sections --------------------------------------------------------------

    def prepare_inputs(self, src: Path) -> None:
        """zpress's level-6 output, checked by Python's gzip reader and by
        zpress itself; .Z from the codec's writer and from compress, checked by
        decoding; and the ceiling's deflate data, checked by Python's zlib."""
        name, work, want = src.stem, self.work, digest(src)
        gz, z, zc = work / f"{name}.gz", work / f"{name}.Z", work / f"{name}.compress.Z"
        problem = self.make([self.zpress, "-6"], src, gz)
        if problem is None and gzip_digest(gz) != want:
            problem = "Python's gzip reader disagrees with the input"
        if problem is None and not self.gives_back([self.zpress, "-d"], gz, want):
            problem = "zpress -d does not give the input back"
        if problem:
            self.own_failure(f"zpress -6 < {src.name}: {problem}")
            gz = None
        raw = work / "ceiling.out"
        if self.make([self.ceiling, "-6"], src, raw) or raw_inflate_digest(raw) != want:
            self.own_failure(f"ceiling -6 < {src.name}: output does not inflate to the input")
        raw.unlink(missing_ok=True)
        problem = self.make([self.lzw_tool], src, z)
        if problem is None and not self.gives_back([self.zpress, "-d"], z, want):
            problem = "zpress -d does not give the input back"
        if problem:
            self.own_failure(f"zwrite < {src.name}: {problem}")
            z = None
        compress = self.peers["compress"]
        if compress and self.make([compress, "-c"], src, zc) is None:
            if not self.gives_back([self.zpress, "-d"], zc, want):
                self.own_failure(f"zpress -d < {zc.name}: not the input")
            if z is not None and same_file(z, zc):
                self.notes.append(f"{name}.Z from zwrite and from compress -c are identical")
                zc = None
            elif z is not None:
                self.notes.append(f"{name}.Z from zwrite has {z.stat().st_size} bytes, from "
                                  f"compress -c {zc.stat().st_size}: both are decoded")
        else:
            zc = None
        self.inputs[name] = {"gz": gz, "Z": z, "compress.Z": zc}

    def compression(self, src: Path, levels: tuple[int, ...], main_input: bool) -> None:
        """stdin from the file, stdout to /dev/null.  The goal holds for the main
        inputs; the others are shown against the ceiling and gzip only."""
        for level in levels:
            z = self.own(f"zpress -{level}", [self.zpress, f"-{level}"], src)
            ceil = self.own(f"ceiling -{level}", [self.ceiling, f"-{level}"], src)
            gz = self.peer("gzip", f"gzip -{level}", [f"-{level}", "-c"], src)
            pz = lzw = None
            if main_input:
                pz = self.peer("pigz", f"pigz -p 1 -{level}", ["-p", "1", f"-{level}", "-c"], src)
                if level == 6:
                    lzw = self.peer("compress", "compress -c", ["-c"], src)
            self.group(z, ceil, gz, pz, lzw)
            what = f"compress -{level}"
            self.table.compare(what, src.name, z, ceil, 1.02 if main_input else None)
            self.table.compare(what, src.name, z, gz)
            if main_input:
                self.table.compare(what, src.name, z, pz)
                if level == 6:
                    self.table.compare(what, src.name, z, lzw)
            self.note_rss(what, z, gz)

    def decompression(self, name: str) -> None:
        """Of zpress's level-6 output."""
        gzf = self.inputs[name]["gz"]
        if gzf is None:
            return
        z = self.own("zpress -d", [self.zpress, "-d"], gzf)
        ceil = self.own("ceiling -d", [self.ceiling, "-d"], gzf)
        gz = self.peer("gzip", "gzip -dc", ["-dc"], gzf)
        pz = self.peer("pigz", "pigz -p 1 -dc", ["-p", "1", "-dc"], gzf)
        self.group(z, ceil, gz, pz)
        self.table.compare("decompress gzip", gzf.name, z, ceil, 1.03)
        self.table.compare("decompress gzip", gzf.name, z, gz, 0.70 if name == "text" else None)
        self.table.compare("decompress gzip", gzf.name, z, pz)
        self.note_rss("decompress gzip", z, gz)

    def z_decoding(self, name: str) -> None:
        """.Z on standard input."""
        for kind in ("Z", "compress.Z"):
            zf = self.inputs[name][kind]
            if zf is None:
                continue
            z = self.own("zpress -d", [self.zpress, "-d"], zf)
            api = self.own("zread (API)", [self.lzw_tool, "-d"], zf)
            cd = self.peer("compress", "compress -dc", ["-dc"], zf)
            gd = self.peer("gzip", "gzip -dc", ["-dc"], zf)
            self.group(z, api, cd, gd)
            self.table.compare("decode .Z", zf.name, z, cd, 0.67)
            self.table.compare("decode .Z", zf.name, z, gd)
            self.table.compare("decode .Z", zf.name, z, api)
            self.note_rss("decode .Z", z, cd)
            self.note_rss("zread (API)", api, cd)

    def z_encoding(self, src: Path) -> None:
        """Through the API (zwrite) against compress -c."""
        api = self.own("zwrite (API)", [self.lzw_tool], src)
        cc = self.peer("compress", "compress -c", ["-c"], src)
        self.group(api, cc)
        self.table.compare("encode .Z", src.name, api, cc, 0.83)
        self.note_rss("zwrite (API)", api, cc)

    def small_files(self, text: Path) -> None:
        """Many small files in one invocation, on fresh copies for every run."""
        master, run_dir = self.work / "small-master", self.work / "small"
        cut_small_files(master, text, self.n_small)
        names = sorted(p.name for p in master.iterdir())

        def fresh_copies() -> None:
            shutil.rmtree(run_dir, ignore_errors=True)
            shutil.copytree(master, run_dir)

        def all_gzipped() -> str | None:
            for n in names:
                if (run_dir / n).exists():
                    return f"{n} was not removed"
                if gzip_digest(run_dir / f"{n}.gz") != digest(master / n):
                    return f"{n}.gz does not hold {n}"
            return None

        z = self.own("zpress", [self.zpress] + names, cwd=run_dir, prepare=fresh_copies,
                     check=all_gzipped)
        gz = self.peer("gzip", "gzip", names, cwd=run_dir, prepare=fresh_copies)
        pz = self.peer("pigz", "pigz -p 1", ["-p", "1"] + names, cwd=run_dir,
                       prepare=fresh_copies)
        self.group(z, gz, pz)
        label = f"{self.n_small} small files"
        self.table.compare(label, "1-8 KiB each", z, gz, 1.0)
        self.table.compare(label, "1-8 KiB each", z, pz)
        self.note_rss("small files", z, gz)
        shutil.rmtree(run_dir, ignore_errors=True)

    def peak_rss(self) -> None:
        """Every mode's largest figure over its inputs, beside a peer's for the
        same job.  The API tools are not zpress modes: shown without a goal."""
        if self.runner.gnu_time:
            floor = self.runner.run_once(Cmd("true", ["true"])).rss_kib
            self.notes.append(f"GNU time gives {floor} KiB for `true`: the floor under every "
                              "RSS figure")
        for mode, (mine, theirs) in self.rss.items():
            self.table.rss(mode, max_rss(mine), theirs[0].label if theirs else "",
                           max_rss(theirs), goal=not mode.endswith("(API)"))

    def run(self, corpus: Path) -> None:
        text, binary = corpus / "text.bin", corpus / "binary.bin"
        print("preparing inputs", file=sys.stderr)
        for src in (text, binary):
            self.prepare_inputs(src)
        print("compression", file=sys.stderr)
        for src in (text, binary):
            self.compression(src, (1, 6, 9), main_input=True)
        for src in (corpus / "random.bin", corpus / "zeros.bin"):
            self.compression(src, (6,), main_input=False)
        print("decompression", file=sys.stderr)
        for name in ("text", "binary"):
            self.decompression(name)
        print(".Z decoding", file=sys.stderr)
        for name in ("text", "binary"):
            self.z_decoding(name)
        print(".Z encoding", file=sys.stderr)
        for src in (text, binary):
            self.z_encoding(src)
        print(f"{self.n_small} small files", file=sys.stderr)
        self.small_files(text)
        self.peak_rss()

    def report(self, sums: str) -> str:
        version = subprocess.run(["zpress", "-V"], executable=self.zpress, capture_output=True,
                                 text=True).stdout.strip()
        rev = subprocess.run(["git", "-C", str(REPO), "describe", "--always", "--dirty"],
                             capture_output=True, text=True).stdout.strip() or "unknown"
        self.meter.sample()
        lines = [
            f"# zpress benchmark{' (quick)' if self.quick else ''}",
            "",
            f"- date: {datetime.datetime.now().isoformat(timespec='seconds')}; "
            f"host: {platform.node()}, {cpu_model()}",
            f"- zpress: {self.source} ({version}; source tree {rev})",
            f"- machine load: {self.meter.summary()}",
            f"- rounds: {self.rounds} timed for zpress, the ceiling and the API tool, "
            f"{self.peer_rounds} for the peers, each after one warm-up run; median wall "
            "and user+sys times; ratios = medians of the per-round zpress/other ratios of wall "
            f"and of user+sys time; goals are judged on the {self.table.judge} ratio" +
            (" (on a busy machine a process's wall time includes waiting for a core; its "
             "user+sys time is what it costs)" if self.table.judge == "cpu" else ""),
            "- corpus sha256: " + "; ".join(" ".join(l.split()[::-1])
                                            for l in sums.splitlines()),
        ]
        if self.missing:
            lines.append(f"- not installed, rows left out: {', '.join(self.missing)} "
                         "(Debian packages gzip, pigz, ncompress, time)")
        lines += [f"- {n}" for n in self.notes]
        lines += ["", self.table.render(), "",
                  f"Goals met: {self.table.met}, missed: {self.table.missed}."]
        if self.runner.own_failures:
            lines.append("FAILURES of zpress's own programs:")
            lines += [f"- {f}" for f in self.runner.own_failures]
        return "\n".join(lines) + "\n"


def main() -> int:
    args = parse_args()
    output = args.output or REPO / "bench" / ("results-quick.md" if args.quick else "results.md")
    if not args.no_build and not (args.zpress or args.ceiling or args.lzw_tool):
        build(args)
    with tempfile.TemporaryDirectory(prefix="zpress-bench-") as temp:
        work = Path(temp)
        if args.work_dir:
            work = args.work_dir.resolve()
            marker = work / ".zpress-bench"
            if work.exists() and any(work.iterdir()) and not marker.exists():
                sys.exit(f"run.py: {work} is not empty and not a work directory of this script")
            shutil.rmtree(work, ignore_errors=True)
            work.mkdir(parents=True)
            marker.touch()
        bench = Bench(args, work)
        corpus, sums = quick_corpus(work / "corpus") if args.quick else ensure_corpus(args)
        bench.run(corpus)
        report = bench.report(sums)
    print(report)
    output.parent.mkdir(parents=True, exist_ok=True)
    output.write_text(report)
    print(f"written to {output}", file=sys.stderr)
    return 1 if bench.runner.own_failures else 0


def cpu_model() -> str:
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.machine()


if __name__ == "__main__":
    sys.exit(main())
