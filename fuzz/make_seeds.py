#!/usr/bin/env python3
"""Writes the seed corpora of the fuzz targets under fuzz/corpus/<target>/.

Every input starts with the targets' control header: one flags byte and an
8-byte seed (see the comment at the top of each *_fuzz.cpp), then the payload.
gzip payloads come from Python's gzip and zlib modules; .Z payloads from the
tests' small LZW encoder (tests/pylib/zptest/lzw.py), written from the format
description (codes of 9 to 16 bits in groups of eight, block-mode clear codes).  The
output is the same on every run, so the committed corpus can be regenerated
and compared:

    python3 fuzz/make_seeds.py            # rewrites fuzz/corpus/
"""

import gzip
import os
import random
import shutil
import struct
import sys
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus")
sys.path.insert(0, os.path.join(HERE, "..", "tests", "pylib"))
from zptest.gzip_members import gzip_member  # noqa: E402
from zptest import index_file  # noqa: E402
from zptest.lzw import lzw_encode  # noqa: E402


def control(flags, seed):
    return bytes([flags]) + struct.pack("<Q", seed)


# ---------------------------------------------------------------- sample data

def text(n, rnd):
    words = [b"alpha", b"beta", b"gamma", b"delta", b"\n", b"zpress", b"0123", b" "]
    out = bytearray()
    while len(out) < n:
        out += rnd.choice(words)
    return bytes(out[:n])


def samples(rnd):
    return {
        "empty": b"",
        "byte": b"A",
        "text": text(3000, rnd),
        "runs": b"a" * 300 + b"b" * 5 + b"a" * 300,
        "random": bytes(rnd.getrandbits(8) for _ in range(2500)),
        "lines": b"".join(b"line %d\n" % i for i in range(200)),
    }


# --------------------------------------------------------------- window trace

def window_trace_seeds(rnd):
    """A point (the bits of its first byte, the window size) and the raw
    deflate data after it, made with the window as a preset dictionary so
    that its matches reach back into the window."""
    s = samples(rnd)
    window = (s["text"] * 12)[:32768]

    def point(data, win, level=6, strategy=zlib.Z_DEFAULT_STRATEGY, bits=0):
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, strategy, *([win] if win else []))
        return bytes([bits]) + struct.pack("<H", len(win)) + c.compress(data) + c.flush()

    after = s["lines"] + s["text"] * 4
    seeds = {
        "text_level_1": point(after, window, 1),
        "text_level_6": point(after, window),
        "text_level_9": point(after, window, 9),
        "filtered": point(after, window, 6, zlib.Z_FILTERED),
        "huffman_only": point(after, window, 6, zlib.Z_HUFFMAN_ONLY),
        "rle": point(s["runs"] * 20, window, 6, zlib.Z_RLE),
        "fixed": point(after, window, 6, zlib.Z_FIXED),
        "stored": point(after, window, 0),
        "short_window": point(after, window[-100:]),
        "no_window": point(after, b""),
        "random": point(s["random"] * 8, s["random"]),
        "past_the_window": point(after, window)[:3] + point(after, window[:200])[3:],
        "odd_bits": point(after, window, bits=5),
    }
    seeds["cut"] = seeds["text_level_6"][:len(seeds["text_level_6"]) // 2]
    return seeds


# ----------------------------------------------------------------------- gzip

def member(data, name=b"seed", **fields):
    """A gzip member, named "seed" unless told otherwise."""
    return gzip_member(data, name=name, **fields)


def flip(data, at):
    return data[:at] + bytes([data[at] ^ 0x55]) + data[at + 1:]


def gz_read_seeds(rnd):
    s = samples(rnd)
    one = member(s["text"])
    streams = {
        "empty_input": b"",
        "single_byte": b"A",
        "plain_text": s["lines"],
        "magic_only": b"\x1f\x8b",
        "magic_and_one": b"\x1f\x8bx",
        "python_gzip": gzip.compress(s["text"], mtime=0),
        "empty_member": member(b""),
        "member_text": one,
        "member_random_stored": member(s["random"], level=0),
        "member_huffman": member(s["text"], strategy=zlib.Z_HUFFMAN_ONLY),
        "member_rle": member(s["runs"], strategy=zlib.Z_RLE),
        "member_fixed": member(s["lines"], strategy=zlib.Z_FIXED),
        "all_header_fields": member(s["lines"], flags=0x01, extra=b"XYab", comment=b"c",
                                    header_crc=True),
        "two_members": member(s["text"][:1000]) + member(s["runs"]),
        "member_then_zeros": one + bytes(512),
        "member_then_magic_junk": one + b"\x1f\x8b\x07",
        "member_then_one_byte": one + b"\x1f",
        "reserved_flag": member(s["text"], name=None, flags=0x20),
        "method_not_deflate": one[:2] + b"\x07" + one[3:],
        "cut_in_header": one[:7],
        "cut_in_name": one[:13],
        "cut_in_deflate": one[: len(one) // 2],
        "cut_in_crc": one[:-6],
        "cut_in_isize": one[:-2],
        "bad_crc": member(s["text"], crc=0x12345678),
        "bad_isize": member(s["text"], isize=7),
        "bad_header_crc": flip(member(s["lines"], name=None, header_crc=True), 10),
        "corrupt_deflate": flip(one, 30),
        "repetitive_large": member(b"abc" * 20000, level=9),
    }
    seeds = {}
    for name, payload in streams.items():
        seeds[name] = control(0, 1) + payload
    # The same streams through the other openers: gotmagic, a pipe, both.
    for name in ("member_text", "two_members", "magic_only", "magic_and_one", "cut_in_deflate",
                 "all_header_fields"):
        seeds[name + "_gotmagic"] = control(1, 2) + streams[name]
    for name in ("member_text", "plain_text", "two_members"):
        seeds[name + "_pipe"] = control(2, 3) + streams[name]
        seeds[name + "_pipe_gotmagic"] = control(3, 4) + streams[name]
    return seeds


def gz_roundtrip_seeds(rnd):
    s = samples(rnd)
    seeds = {}
    # flags: bits 0-3 level (10+: none), bits 4-5 strategy, bit 6 'a', bit 7 two members.
    choices = [
        ("default_text", 0x0A, s["text"]),
        ("level1_lines", 0x01, s["lines"]),
        ("level9_runs", 0x09, s["runs"]),
        ("level0_random", 0x00, s["random"]),
        ("filtered_text", 0x16, s["text"]),
        ("huffman_random", 0x26, s["random"]),
        ("rle_runs", 0x36, s["runs"]),
        ("append_mode", 0x46, s["lines"]),
        ("two_members", 0x86, s["text"]),
        ("empty", 0x06, b""),
        ("large_text", 0x06, text(60000, rnd)),
    ]
    for i, (name, flags, data) in enumerate(choices):
        seeds[name] = control(flags, 100 + i) + data
    # This seed's call sequence ends the deflate data with a Z_FINISH flush and
    # writes on: the refused bytes must stay out of the member's CRC.
    seeds["writes_after_finish"] = control(0x06, 60) + text(3000, random.Random(1))
    return seeds


# ------------------------------------------------------------------------ LZW

def lzw_read_seeds(rnd):
    s = samples(rnd)
    big = text(40000, rnd)
    streams = {
        "two_bytes": lzw_encode(b"ab"),
        "one_byte": lzw_encode(b"a"),
        "header_only": lzw_encode(b""),
        "text_16": lzw_encode(s["text"]),
        "runs_16": lzw_encode(s["runs"]),
        "random_12": lzw_encode(s["random"], maxbits=12),
        "lines_9": lzw_encode(s["lines"] * 4, maxbits=9),
        "text_8": lzw_encode(s["text"][:600], maxbits=8),
        "text_10_no_block": lzw_encode(s["text"], maxbits=10, block=False),
        # Two clear codes in a row: the second follows the literal after the first.
        "clears_12": lzw_encode(big[:12000], maxbits=12, clear_after=(6000, 6001)),
        "full_table_11": lzw_encode(big, maxbits=11),
        "clear_last": lzw_encode(s["lines"], clear_after=(len(s["lines"]) - 1,)),
        "width_17": bytes([0x1F, 0x9D, 0x91]) + lzw_encode(s["text"])[3:],
        "flags_f0": bytes([0x1F, 0x9D, 0xF0]) + lzw_encode(s["text"])[3:],
        "not_lzw": b"\x1f\x8b\x08\x00",
        "cut_mid_group": lzw_encode(s["text"])[:101],
        "cut_one_into_group": lzw_encode(s["text"])[:3 + 9 * 5 + 1],
        "undefined_codes": bytes([0x1F, 0x9D, 0x90]) + rnd.randbytes(300),
    }
    seeds = {}
    for name, payload in streams.items():
        seeds[name] = control(0, 1) + payload
    for name in ("text_16", "two_bytes", "header_only", "clears_12"):
        seeds[name + "_gotmagic"] = control(1, 2) + streams[name]
    # Sliced delivery: bits 4-7 bound the piece size to 2**k bytes.
    for name, flags in (("text_16", 0x02), ("clears_12", 0x12), ("full_table_11", 0x36),
                        ("lines_9", 0x07)):
        seeds[name + "_sliced_%02x" % flags] = control(flags, 5) + streams[name]
    return seeds


def lzw_roundtrip_seeds(rnd):
    s = samples(rnd)
    seeds = {}
    for i, (name, width, data) in enumerate([
        ("width16_text", 16, s["text"]),
        ("width0_lines", 0, s["lines"]),
        ("width9_lines", 9, s["lines"] * 3),
        ("width12_random", 12, s["random"]),
        ("width8_text", 8, s["text"][:1000]),
        ("width1_runs", 1, s["runs"]),
        ("width16_runs", 16, s["runs"]),
        ("width10_large", 10, text(30000, rnd)),
        ("empty", 16, b""),
    ]):
        seeds[name] = control(width, 200 + i) + data
    return seeds


def edit(kind, offset, value):
    """One edit of the gz_index target: kind, offset, 64-bit value."""
    return struct.pack("<BIQ", kind, offset, value)


# Index files are laid out by gzstream/src/gz_index_file.cpp: a 76-byte header
# (version at 8, file size at 12, spacing at 36, point count at 44, the
# compressed file's device, inode and change time from 48 on), then 73
# bytes of fields per point (out, in, bytes_in, member start, CRCs, bits,
# window sizes with the packed size at 49; from version 3 on the CRC of the
# compressed bytes before the point at 53, lines + 1 at 57, members + 1 at 65)
# and its window, deflated (from version 4 on its run form: see
# tests/pylib/zptest/index_file.py), then a CRC-32 of it all.  Version 2 had
# only the first 53 bytes of fields.
INDEX_HEADER = index_file.HEADER
POINT_FIELDS = index_file.POINT_FIELDS


def gz_index_seeds(rnd):
    del rnd  # the edits are chosen, not drawn
    first = INDEX_HEADER
    return {
        "valid": control(0, 1),
        "valid_after_seeks": control(4, 2),
        "stale_size": control(2, 3) + edit(3, 12, 1 << 20),
        "huge_spacing": control(2, 4) + edit(3, 36, (1 << 63) - 1),
        "shifted_output": control(2, 5) + edit(7, first, 12345),
        "bits_out_of_range": control(2, 6) + edit(0, first + 40, 9),
        "window_byte": control(6, 7) + edit(1, first + POINT_FIELDS + 7, 0x40),
        "cut_short": control(2, 8) + edit(4, 300, 0),
        "no_crc_fix": control(0, 9) + edit(1, 100, 1),
        "member_start_past_point": control(2, 10) + edit(7, first + 24, 1 << 40),
        "prefix_crc": control(2, 11) + edit(1, first + 53, 1),
        "line_count": control(6, 12) + edit(1, first + 57, 1),
        "member_count": control(2, 13) + edit(1, first + 65, 1),
        "version_2_label_only": control(2, 14) + edit(2, 8, 2),
        "stamp_of_another_time": control(2, 15) + edit(3, 64, 1234567890),
    }


def raw_index_seeds(raw):
    """Seeds of the raw mode made from the valid index the target wrote
    (control header, then an index of version 4): the same points in the
    formats before, and run forms that are not well formed, each with a
    right CRC so that only the window's own checks can refuse it."""
    head, index = raw[:9], raw[9:]
    seeds = {
        "raw_valid_index_v2": head + index_file.as_version(index, 2),
        "raw_valid_index_v3": head + index_file.as_version(index, 3),
    }
    k = next(i for i, p in enumerate(index_file.points(index)) if i > 1 and p[2] > 0)
    point = index_file.points(index)[k]
    form, window = index_file.window_at(index, point)
    size, end = point[1], index_file.runs(window)[-1][1]
    count = len(index_file.runs(window))
    damaged = {
        "trailing_byte": form + b"x",
        "past_window": index_file.run_form(window, [(max(1, size - end), 3, b"xyz")]),
        "overlong_count": bytes([count & 0x7F | 0x80, count >> 7 | 0x80, 0]) +
        form[len(index_file.varint(count)):],
    }
    for name, bad in damaged.items():
        seeds["raw_runs_" + name] = head + index_file.with_form(index, k, bad)
    return seeds


def main():
    rnd = random.Random(20240601)
    targets = {
        "gz_read": gz_read_seeds,
        "gz_roundtrip": gz_roundtrip_seeds,
        "lzw_read": lzw_read_seeds,
        "lzw_roundtrip": lzw_roundtrip_seeds,
        "window_trace": window_trace_seeds,
    }
    for target, make in targets.items():
        d = os.path.join(CORPUS, target)
        shutil.rmtree(d, ignore_errors=True)
        os.makedirs(d)
        seeds = make(rnd)
        for name, data in seeds.items():
            with open(os.path.join(d, name), "wb") as f:
                f.write(data)
        print("%s: %d seeds" % (target, len(seeds)), file=sys.stderr)
    # The index seeds: edits of the valid index that the target builds.  The
    # raw valid index itself (raw_valid_index) is written by the target: see
    # fuzz/README.md.
    d = os.path.join(CORPUS, "gz_index")
    os.makedirs(d, exist_ok=True)
    seeds = gz_index_seeds(rnd)
    raw = os.path.join(d, "raw_valid_index")
    if os.path.exists(raw):
        with open(raw, "rb") as f:
            seeds.update(raw_index_seeds(f.read()))
    for name, data in seeds.items():
        with open(os.path.join(d, name), "wb") as f:
            f.write(data)
    print("gz_index: %d seeds" % len(seeds), file=sys.stderr)


if __name__ == "__main__":
    main()
