"""The Python module zpress against the standard library and indexed_gzip,
side by side in one process, on the benchmark's text corpus:

    /usr/bin/python3 bench/python_module.py --module-dir build/release/python TEXT [options]

Every comparison alternates its two contenders over the rounds (a rotating
order, one untimed warm-up each) and compares the medians of their CPU
times (time.process_time); the bytes each one gives are checked once.

  - random 4 KiB reads after zpress's build_index() against indexed_gzip
    after build_full_index() at 1 MiB spacing (median of one read);
  - read() of the whole stream and iteration by lines, against gzip.open;
  - zpress.decompress against zlib.decompress(data, 31) and zpress.compress
    against zlib.compress(data, level, wbits=31);
  - peak RSS reading a 1 GiB stream line by line, above the interpreter's
    own with the module imported (a separate process each).

Prints a Markdown table and the goals, or writes them to -o FILE.
"""

from __future__ import annotations

import argparse
import gzip
import os
import random
import statistics
import subprocess
import sys
import time
import zlib
from pathlib import Path

MIB = 1 << 20
READ = 4096
SEED = 4096
SPACING = 1 << 20
BIG = 1 << 30

GOALS = {  # ratio of the other's median to zpress's (or zpress's to the other's): at least / at most
    "random 4 KiB read after an index build": (">=", 12.0),
    "read() of the whole stream": (">=", 1.5),
    "iteration by lines": (">=", 1.5),
    "decompress (whole buffer)": ("<=", 1.1),
    "compress (whole buffer)": ("<=", 1.1),
}
RSS_GOAL_KIB = 2560


def cpu(fn) -> float:
    start = time.process_time()
    fn()
    return time.process_time() - start


def duel(rounds: int, a, b) -> tuple[float, float]:
    """Median CPU seconds of a() and b(), alternated, after a warm-up each."""
    a()
    b()
    ta, tb = [], []
    for r in range(rounds):
        if r % 2 == 0:
            ta.append(cpu(a))
            tb.append(cpu(b))
        else:
            tb.append(cpu(b))
            ta.append(cpu(a))
    return statistics.median(ta), statistics.median(tb)


def random_reads(zpress, gz: Path, plain: bytes, reads: int, rounds: int):
    import indexed_gzip

    rng = random.Random(SEED)
    offsets = [rng.randrange(len(plain) - READ) for _ in range(reads)]
    ours = zpress.open(gz)
    start = time.process_time()
    ours.build_index()
    ours_build = time.process_time() - start
    theirs = indexed_gzip.IndexedGzipFile(str(gz), spacing=SPACING)
    start = time.process_time()
    theirs.build_full_index()
    their_build = time.process_time() - start
    for f in (ours, theirs):
        for o in offsets[:20]:
            f.seek(o)
            if f.read(READ) != plain[o:o + READ]:
                sys.exit(f"python_module.py: wrong bytes at {o} from {type(f).__name__}")
    each: dict[str, list[float]] = {"zpress": [], "indexed_gzip": []}
    for r in range(rounds):
        pair = [("zpress", ours), ("indexed_gzip", theirs)]
        for name, f in pair if r % 2 == 0 else pair[::-1]:
            for o in offsets:
                t = time.process_time()
                f.seek(o)
                f.read(READ)
                each[name].append(time.process_time() - t)
    ours.close()
    theirs.close()
    return statistics.median(each["zpress"]), statistics.median(each["indexed_gzip"]), \
        ours_build, their_build


def peak_rss(module_dir: str, big: Path, reader: str) -> int:
    """Peak RSS (KiB) of a Python process reading big line by line with
    reader ("zpress", "gzip", or "" for the interpreter with zpress imported)."""
    loop = "" if not reader else f"\nfor line in {reader}.open({str(big)!r}):\n    pass"
    # VmHWM, not ru_maxrss: that one keeps the forking parent's figure across exec.
    code = ("import zpress, gzip" + loop +
            "\nprint([l.split()[1] for l in open('/proc/self/status') if l.startswith('VmHWM')][0])")
    env = dict(os.environ, PYTHONPATH=module_dir)
    out = subprocess.run([sys.executable, "-c", code], env=env, check=True, capture_output=True,
                         text=True).stdout
    return int(out.split()[-1])


def make_big(zpress, text: bytes, path: Path, size: int) -> None:
    with zpress.open(path, "wb", 6) as f:
        left = size
        while left > 0:
            f.write(text[:left])
            left -= min(left, len(text))


def main() -> int:
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("text", type=Path, help="the text corpus (text.bin)")
    ap.add_argument("--module-dir", required=True, help="directory holding the package zpress")
    ap.add_argument("--work-dir", type=Path, default=Path("/tmp"))
    ap.add_argument("--big-gz", type=Path, help="a 1 GiB stream to read line by line (made when absent)")
    ap.add_argument("--quick", action="store_true", help="few rounds, a 64 MiB stream for the RSS row")
    ap.add_argument("--rounds", type=int)
    ap.add_argument("--reads", type=int)
    ap.add_argument("-o", "--output", type=Path)
    args = ap.parse_args()
    sys.path.insert(0, args.module_dir)
    import zpress

    rounds = args.rounds or (3 if args.quick else 7)
    reads = args.reads or (20 if args.quick else 100)
    plain = args.text.read_bytes()
    args.work_dir.mkdir(parents=True, exist_ok=True)
    gz = args.work_dir / "python-text.gz"
    gz.write_bytes(zpress.compress(plain, 6))
    packed = gz.read_bytes()
    rows: list[tuple[str, str, float, str, float, float]] = []

    def line_count(opener) -> int:
        with opener(gz) as f:
            return sum(1 for _ in f)

    def add(what, other, ours, theirs, speedup):
        rows.append((what, "zpress", ours, other, theirs, theirs / ours if speedup else ours / theirs))

    # Random access.
    try:
        import indexed_gzip  # noqa: F401
        z, i, zb, ib = random_reads(zpress, gz, plain, reads, rounds)
        add("random 4 KiB read after an index build", "indexed_gzip, 1 MiB spacing", z, i, True)
        build_note = f"index builds: zpress {zb:.3f} s, indexed_gzip {ib:.3f} s CPU"
    except ImportError:
        build_note = "indexed_gzip is not installed: no random-access row"

    def read_all(opener):
        with opener(gz) as f:
            return f.read()

    lines = plain.count(b"\n") + (0 if plain.endswith(b"\n") or not plain else 1)
    if read_all(zpress.open) != plain or line_count(zpress.open) != lines:
        sys.exit("python_module.py: zpress read other bytes")
    z, g = duel(rounds, lambda: read_all(zpress.open), lambda: read_all(gzip.open))
    add("read() of the whole stream", "gzip.open", z, g, True)
    z, g = duel(rounds, lambda: line_count(zpress.open), lambda: line_count(gzip.open))
    add("iteration by lines", "gzip.open", z, g, True)
    if zpress.decompress(packed) != plain:
        sys.exit("python_module.py: zpress.decompress gave other bytes")
    z, g = duel(rounds, lambda: zpress.decompress(packed), lambda: zlib.decompress(packed, 31))
    add("decompress (whole buffer)", "zlib.decompress(data, 31)", z, g, False)
    if zlib.decompress(zpress.compress(plain, 6), 31) != plain:
        sys.exit("python_module.py: zpress.compress made another stream")
    z, g = duel(max(3, rounds // 2), lambda: zpress.compress(plain, 6),
                lambda: zlib.compress(plain, 6, wbits=31))
    add("compress (whole buffer)", "zlib.compress(data, 6, wbits=31)", z, g, False)

    # Memory, line by line through a large stream.
    big = args.big_gz
    big_size = (64 * MIB) if args.quick else BIG
    if big is None:
        big = args.work_dir / f"python-text-{big_size >> 20}m.gz"
        if not big.exists():
            make_big(zpress, plain, big, big_size)
    base = peak_rss(args.module_dir, big, "")
    ours = peak_rss(args.module_dir, big, "zpress")
    stdlib = peak_rss(args.module_dir, big, "gzip")

    out = ["Python module (zpress for Python, run by " + sys.executable + f" {sys.version.split()[0]}):"
           f" medians of {rounds} alternating rounds of CPU time inside one process, on "
           f"{args.text.name} ({len(plain) / MIB:.0f} MiB, {len(packed) / 1e6:.1f} MB at level 6); "
           f"random reads: the median of {reads} reads a round.  ratio: the other's time over "
           "zpress's for reads (above 1 zpress is faster), zpress's over the other's for the "
           "whole buffers.", ""]
    out.append("| job | zpress cpu | versus | its cpu | ratio | goal | verdict |")
    out.append("|---|---|---|---|---|---|---|")
    goals_ok = True

    def judged(ok: bool) -> str:
        # The quick corpus only keeps the harness working: its figures judge nothing.
        if args.quick:
            return "(quick: not judged)"
        return "met" if ok else "**missed**"

    for what, _, ours_t, other, theirs_t, ratio in rows:
        sense, limit = GOALS[what]
        ok = ratio >= limit if sense == ">=" else ratio <= limit
        goals_ok &= ok
        unit = (lambda s: f"{s * 1000:.3f} ms") if ours_t < 0.01 else (lambda s: f"{s:.3f} s")
        out.append(f"| {what} | {unit(ours_t)} | {other} | {unit(theirs_t)} | {ratio:.2f} | "
                   f"{sense} {limit} | {judged(ok)} |")
    rss_ok = ours - base < RSS_GOAL_KIB
    goals_ok &= rss_ok
    out.append(f"| peak RSS reading {big.stat().st_size / 1e6:.0f} MB ({big_size >> 20} MiB of data) "
               f"by lines, above the interpreter's {base} KiB | {ours - base} KiB | gzip.open | "
               f"{stdlib - base} KiB | | < {RSS_GOAL_KIB} KiB | {judged(rss_ok)} |")
    verdict = "not judged in the quick run" if args.quick else \
        "all met" if goals_ok else "NOT all met"
    out += ["", f"Notes: {build_note}; goals {verdict}."]
    text = "\n".join(out) + "\n"
    if args.output:
        args.output.write_text(text)
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
