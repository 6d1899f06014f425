#!/usr/bin/env python3
"""A stream far past 4 GiB through both filters:

    generate | zpress -1 | tap | zpress -d | check

The generator makes patterned text on the fly (nothing is stored) and keeps a
CRC-32 and the length of what it wrote; the checker computes the same of what
comes back.  The tap passes the compressed stream on and keeps its last 8
bytes: the gzip trailer, whose CRC must equal the generator's and whose ISIZE
must equal the length modulo 2^32.

    ZPRESS=build/release/zpress tests/large/huge_gzip_pipeline.py [--gib 5]
"""

import argparse
import fcntl
import os
import struct
import subprocess
import sys
import threading
import time
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "pylib"))
from zptest.data import sample_text  # noqa: E402

CHUNK = 4 << 20
PIPE_SIZE = 1 << 20
F_SETPIPE_SZ = getattr(fcntl, "F_SETPIPE_SZ", 1031)  # Linux, from <fcntl.h>


def blocks(total):
    """The stream, 4 MiB at a time; each block carries its own number every
    64 KiB so that no two blocks are the same."""
    # Text-like bytes: compressible, but with no repeats within the deflate
    # window that would make the job trivial.
    base = bytearray(sample_text(CHUNK, seed=12345))
    sent = 0
    index = 0
    while sent < total:
        stamp = b"<%016x>" % index
        for at in range(0, CHUNK, 65536):
            base[at:at + len(stamp)] = stamp
        n = min(CHUNK, total - sent)
        yield memoryview(base)[:n]
        sent += n
        index += 1


def write_all(fd, data):
    view = memoryview(data)
    while view:
        n = os.write(fd, view)
        view = view[n:]


class Generator(threading.Thread):
    def __init__(self, fd, total):
        super().__init__(daemon=True)
        self.fd, self.total = fd, total
        self.crc = 0
        self.length = 0

    def run(self):
        try:
            for block in blocks(self.total):
                self.crc = zlib.crc32(block, self.crc)
                self.length += len(block)
                write_all(self.fd, block)
        finally:
            os.close(self.fd)


class Tap(threading.Thread):
    """Copies the compressed stream and keeps its first and last bytes."""

    def __init__(self, src, dst):
        super().__init__(daemon=True)
        self.src, self.dst = src, dst
        self.head = b""
        self.tail = b""
        self.length = 0

    def run(self):
        buf = bytearray(PIPE_SIZE)
        view = memoryview(buf)
        try:
            while True:
                n = os.readv(self.src, [buf])
                if n == 0:
                    break
                if len(self.head) < 10:
                    self.head = (self.head + bytes(view[:n]))[:10]
                self.tail = (self.tail + bytes(view[max(0, n - 8):n]))[-8:]
                self.length += n
                write_all(self.dst, view[:n])
        finally:
            os.close(self.src)
            os.close(self.dst)


def big_pipe():
    """A pipe of PIPE_SIZE bytes: fewer, larger transfers."""
    r, w = os.pipe()
    try:
        fcntl.fcntl(w, F_SETPIPE_SZ, PIPE_SIZE)
    except OSError:
        pass  # the default size works too, only slower
    return r, w


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--gib", type=float, default=5.0, help="stream length in GiB")
    args = parser.parse_args()
    zpress = os.environ.get("ZPRESS")
    if not zpress:
        sys.exit("set ZPRESS to the zpress executable")
    total = int(args.gib * (1 << 30))

    start = time.monotonic()
    to_compress, compress_in = big_pipe()
    compressed, tap_in = big_pipe()
    tap_out, decompress_in = big_pipe()
    decompressed, check_in = big_pipe()
    compress = subprocess.Popen([zpress, "-1"], stdin=to_compress, stdout=tap_in,
                                stderr=subprocess.PIPE)
    decompress = subprocess.Popen([zpress, "-d"], stdin=tap_out, stdout=check_in,
                                  stderr=subprocess.PIPE)
    for fd in (to_compress, tap_in, tap_out, check_in):
        os.close(fd)
    gen = Generator(compress_in, total)
    tap = Tap(compressed, decompress_in)
    gen.start()
    tap.start()

    crc = 0
    length = 0
    buf = bytearray(PIPE_SIZE)
    view = memoryview(buf)
    while True:
        n = os.readv(decompressed, [buf])
        if n == 0:
            break
        crc = zlib.crc32(view[:n], crc)
        length += n
    os.close(decompressed)
    gen.join()
    tap.join()
    errors = compress.stderr.read() + decompress.stderr.read()
    compress.wait()
    decompress.wait()
    elapsed = time.monotonic() - start

    failures = []
    if compress.returncode != 0 or decompress.returncode != 0:
        failures.append("exit statuses %d and %d" % (compress.returncode, decompress.returncode))
    if errors:
        failures.append("messages: %r" % errors)
    if gen.length != total:
        failures.append("generated %d bytes, wanted %d" % (gen.length, total))
    if length != gen.length:
        failures.append("got back %d bytes of %d" % (length, gen.length))
    if crc != gen.crc:
        failures.append("CRC-32 %08x back, %08x sent" % (crc, gen.crc))
    if tap.head[:3] != b"\x1f\x8b\x08":
        failures.append("compressed stream starts %r" % tap.head)
    if len(tap.tail) == 8:
        trailer_crc, isize = struct.unpack("<II", tap.tail)
        if trailer_crc != gen.crc:
            failures.append("trailer CRC %08x, data CRC %08x" % (trailer_crc, gen.crc))
        if isize != gen.length % (1 << 32):
            failures.append("trailer ISIZE %d, length mod 2^32 %d" %
                            (isize, gen.length % (1 << 32)))
    else:
        failures.append("no trailer")

    print("%d bytes (%.2f GiB) -> %d compressed, back in %.1f s (%.0f MB/s)" %
          (gen.length, gen.length / (1 << 30), tap.length, elapsed, gen.length / elapsed / 1e6))
    for f in failures:
        print("FAIL:", f)
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
