#!/usr/bin/env python3
"""Damage sweep: every truncation and every single-bit flip of a few small
compressed streams, judged two ways.

 1. Through the command line (`zpress -d` on standard input): a damaged
    stream may fail (status 1, one line on standard error); a gzip stream
    that succeeds must give back exactly the original data, and one cut
    anywhere must fail after writing every byte that zlib's inflate
    decodes from the cut input.  .Z has no checksum and no trailer: a cut .Z stream
    gives a prefix, and a damaged one must fail exactly when a strict
    decoder (zptest.lzw.lzw_decode, in tests/pylib) finds a code that no writer makes, and
    otherwise give what that decoder gives (a flipped bit can turn one valid
    stream into another).
 2. Through the fuzz targets' replay programs, which judge each variant
    against zlib's own gzip decoding (gz_read) or against chunk-independence
    and error rules (lzw_read).

    python3 fuzz/sweep.py --zpress build/release/zpress --replay-dir build/release/fuzz/replay

Prints counts per stream and kind of damage; exits 1 if any variant was
misjudged.
"""

import argparse
import gzip
import os
import struct
import subprocess
import sys
import tempfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "pylib"))
from zptest.data import sample_text  # noqa: E402
from zptest.lzw import lzw_decode, lzw_encode  # noqa: E402

CONTROL = bytes([0]) + struct.pack("<Q", 7)  # fuzz input header: flags, seed


def streams():
    data = sample_text(1500)
    two = sample_text(700, seed=2)
    short = sample_text(500, seed=3) + b"z" * 60 + sample_text(500, seed=4)
    runs = sample_text(200, seed=5) + b"x" * 270000 + sample_text(200, seed=6) + b"y" * 9000
    # name: (stream, data, outputs of the stream cut between two members)
    return {
        "gzip": (gzip.compress(data, mtime=0), data, ()),
        "gzip_two_members": (gzip.compress(two, mtime=0) + gzip.compress(two[::-1], mtime=0),
                             two + two[::-1], (two,)),
        # Long matches: the 256 KiB reads of zpress and the random reads of the
        # replay end inside them, leaving the rest of a match in the engine
        # when a cut has taken all its input.
        "gzip_long_matches": (gzip.compress(runs, mtime=0), runs, ()),
        "lzw": (lzw_encode(data, maxbits=12), data, ()),
        # Width 9 fills its table; clear codes, each followed by a literal
        # and then often by a code equal to the next free code.
        "lzw_clears": (lzw_encode(short, maxbits=9, clear_after=(120, 1000)), short, ()),
    }


def inflated_from_cut(stream):
    """Every byte zlib's inflate gives from a gzip stream cut short, member
    after member: what a reader must deliver before it reports the cut."""
    out = []
    while stream[:2] == b"\x1f\x8b":
        d = zlib.decompressobj(31)
        out.append(d.decompress(stream))
        if not d.eof:
            break
        stream = d.unused_data
    return b"".join(out)


def variants(packed):
    for n in range(len(packed)):
        yield "cut", n, packed[:n]
    for bit in range(len(packed) * 8):
        damaged = bytearray(packed)
        damaged[bit // 8] ^= 1 << (bit % 8)
        yield "flip", bit, bytes(damaged)


def cli_sweep(zpress, name, packed, data, boundaries, tally, problems):
    for kind, where, damaged in variants(packed):
        r = subprocess.run([zpress, "-d"], input=damaged, capture_output=True)
        key = (name, kind)
        t = tally.setdefault(key, {"ok": 0, "by design": 0, "different": 0, "failed": 0})
        if r.returncode == 0:
            exact = r.stdout == data
            if name.startswith("gzip"):
                # CRC-32 and the trailer guard every gzip member, and nothing
                # but zero padding may follow the last one: a success is
                # exact, except for a stream cut exactly between two members,
                # which is a whole stream of the members before the cut.
                by_design = kind == "cut" and r.stdout in boundaries
                if exact and kind == "cut":
                    problems.append("%s cut at %d: a cut gzip stream passed" % (name, where))
                elif not exact and not by_design or r.stderr:
                    problems.append("%s %s %d: success with wrong output" % (name, kind, where))
                t["ok" if exact else "by design" if by_design else "different"] += 1
                continue
            t["ok" if exact else "different"] += 1
            if kind == "cut" and not data.startswith(r.stdout):
                # .Z has no trailer: a cut stream ends early, with a prefix.
                problems.append("%s cut at %d: output is not a prefix" % (name, where))
            if (r.stdout, True) != lzw_decode(damaged):
                problems.append("%s %s %d: output the strict decoder does not give" %
                                (name, kind, where))
        else:
            t["failed"] += 1
            if name.startswith("gzip") and kind == "cut" and r.stdout != inflated_from_cut(damaged):
                problems.append("%s cut at %d: %d bytes written, inflate decodes %d" %
                                (name, where, len(r.stdout), len(inflated_from_cut(damaged))))
            if name.startswith("lzw") and lzw_decode(damaged)[1]:
                problems.append("%s %s %d: a stream the strict decoder takes failed" %
                                (name, kind, where))
            lines = r.stderr.decode(errors="replace")
            if r.returncode != 1 or lines.count("\n") not in (1, 2) or not lines.strip():
                problems.append("%s %s %d: status %d, stderr %r" %
                                (name, kind, where, r.returncode, lines))


def replay_sweep(replay, name, packed, problems):
    with tempfile.TemporaryDirectory() as d:
        count = 0
        for kind, where, damaged in variants(packed):
            for flags in (0, 2):  # memory file, pipe
                with open(os.path.join(d, "%s-%d-%d" % (kind, where, flags)), "wb") as f:
                    f.write(bytes([flags]) + CONTROL[1:] + damaged)
                count += 1
        r = subprocess.run([replay, d], capture_output=True)
        if r.returncode != 0:
            problems.append("%s: replay failed: %s" % (name, r.stderr.decode()[-400:]))
        return count


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--zpress", required=True)
    parser.add_argument("--replay-dir", help="directory holding replay_gz_read, replay_lzw_read")
    args = parser.parse_args()

    tally = {}
    problems = []
    replayed = 0
    for name, (packed, data, boundaries) in streams().items():
        cli_sweep(args.zpress, name, packed, data, boundaries, tally, problems)
        if args.replay_dir:
            target = "replay_lzw_read" if name.startswith("lzw") else "replay_gz_read"
            replayed += replay_sweep(os.path.join(args.replay_dir, target), name, packed,
                                     problems)
    for (name, kind), t in sorted(tally.items()):
        print("%-16s %-4s %5d variants: %5d rejected, %4d exact, %3d cut between members, "
              "%4d other output" %
              (name, kind, sum(t.values()), t["failed"], t["ok"], t["by design"], t["different"]))
    if args.replay_dir:
        print("replayed through the fuzz targets: %d inputs" % replayed)
    for p in problems:
        print("PROBLEM:", p)
    sys.exit(1 if problems else 0)


if __name__ == "__main__":
    main()
