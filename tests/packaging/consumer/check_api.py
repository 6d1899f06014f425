#!/usr/bin/env python3
"""Runs api_check, a program built against an installed zpress, and judges
what it wrote with Python's gzip and zlib modules and the project's own
strict .Z reader and writer (tests/pylib/zptest/lzw.py): nothing here comes
from the code under test.

  check_api.py API_CHECK_PROGRAM
"""

import gzip
import os
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True  # nothing written into the source tree
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "pylib"))
from zptest.data import sample_text  # noqa: E402
from zptest.gzip_members import split_members  # noqa: E402
from zptest.lzw import lzw_decode, lzw_encode  # noqa: E402

failures = 0


def check(what, ok):
    global failures
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        failures += 1


def main():
    program = sys.argv[1]
    with tempfile.TemporaryDirectory() as d:
        def path(name):
            return os.path.join(d, name)

        def read(name):
            with open(path(name), "rb") as f:
                return f.read()

        text = sample_text(300000, 5)
        with open(path("text.txt"), "wb") as f:
            f.write(text)
        for bits in (9, 12, 16):
            with open(path("python%d.Z" % bits), "wb") as f:
                f.write(lzw_encode(text, bits))
        with open(path("python.gz"), "wb") as raw:
            with gzip.GzipFile(filename="stored name.txt", mode="wb", fileobj=raw, mtime=1234567890) as f:
                f.write(text)

        run = subprocess.run([program, d], stdout=subprocess.PIPE, stderr=subprocess.STDOUT, timeout=300)
        sys.stdout.write(run.stdout.decode(errors="replace"))
        check("api_check exits with status 0", run.returncode == 0)
        if run.returncode != 0:
            return

        check("Python reads gzip_compress output", gzip.decompress(read("memory.gz")) == text)
        check("Python reads both members", gzip.decompress(read("two.gz")) == text + b"second member\n")
        check("Python reads the empty member", gzip.decompress(read("empty.gz")) == b"")
        for bits in (9, 12, 16):
            z = read("memory%d.Z" % bits)
            check("the strict .Z reader reads lzw_compress output at %d bits (flags 0x%02x)" % (bits, z[2]),
                  lzw_decode(z) == (text, True) and z[2] == 0x80 | bits)
        members = split_members(read("stream.gz"))
        expected = [b"".join(b"member %d line %d\n" % (m, i) for i in range(1000)) for m in (1, 2)]
        check("the std::stringstream holds two members that Python reads",
              [m["data"] for m in members] == expected)
        (member,) = split_members(read("header.gz"))
        check("the chosen header as Python reads it: name %r, comment %r, time %d"
              % (member["name"], member["comment"], member["mtime"]),
              (member["name"], member["comment"], member["mtime"]) == (b"chosen.txt", b"chosen comment", 1000000000))


main()
print("check_api: %s" % ("all passed" if failures == 0 else "%d failed" % failures))
sys.exit(1 if failures else 0)
