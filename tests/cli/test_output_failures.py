"""Failing standard output (/dev/full), and closed standard descriptors."""

import gzip
import os
import subprocess
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member
from zptest.process import closing

SMALL = b"fits in any buffer\n"
LARGE = random_bytes(300000)  # more than any buffer between us and the device


class FullDevice(ZpressTestCase):
    def run_to_full(self, *args, input=b""):
        with open("/dev/full", "wb") as full:
            return self.run_zpress(*args, input=input, stdout=full)

    # A small result waits in a buffer until the final close; a large one
    # fails at the first block written.

    def test_compression_filter(self):
        for data, text in ((SMALL, "failed gzclose"), (b"", "failed gzclose"),
                           (LARGE, "<fd:1>: file error")):
            with self.subTest(size=len(data)):
                r = self.run_to_full(input=data)
                self.assertOutcome(r, 1, stderr=self.msg(text))

    def test_decompression_filter(self):
        for data, text in ((SMALL, "failed fclose"), (LARGE, "failed fwrite")):
            with self.subTest(size=len(data)):
                r = self.run_to_full("-d", input=gzip_member(data))
                self.assertOutcome(r, 1, stderr=self.msg(text))

    def test_file_jobs_to_stdout_keep_their_inputs(self):
        self.write("a", LARGE)
        self.write("s", SMALL)
        for args, text in ((["-c", "a"], "<fd:1>: file error"), (["-c", "s"], "failed gzclose"),
                           (["-c", "s", "a"], "failed gzclose")):
            with self.subTest(args=args):
                r = self.run_to_full(*args)
                self.assertOutcome(r, 1, stderr=self.msg(text))
                self.assertEqual(self.listing(), ["a", "s"])

        self.write("a.gz", gzip_member(LARGE))
        self.write("s.gz", gzip_member(SMALL))
        for args, text in ((["-d", "-c", "a"], "failed fwrite"),
                           (["-d", "-c", "s.gz"], "failed fclose")):
            with self.subTest(args=args):
                r = self.run_to_full(*args)
                self.assertOutcome(r, 1, stderr=self.msg(text))
                self.assertEqual(self.listing(), ["a", "a.gz", "s", "s.gz"])


class ClosedStandardDescriptors(ZpressTestCase):
    def test_output_file_never_takes_the_place_of_stderr(self):
        # With descriptors 0 to 2 closed, the first job's directory and input
        # would take 0 and 1 and its output 2, and the report of the failing
        # second job would land in that output, still open for its sync.
        self.write("a", SMALL)
        self.write("b", b"second")
        self.write("b.gz", b"in the way")
        r = self.run_zpress("a", "b", stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                            preexec_fn=closing(0, 1, 2))
        self.assertEqual(r.returncode, 1)
        self.assertEqual(self.listing(), ["a.gz", "b", "b.gz"])
        self.assertEqual(gzip.decompress(self.read("a.gz")), SMALL)
        self.assertEqual(self.read("b.gz"), b"in the way")

    def test_closed_stderr_does_not_hurt_a_good_run(self):
        data = sample_text(30000)
        self.write("f", data)
        r = self.run_zpress("f", preexec_fn=closing(2))
        self.assertEqual(r.returncode, 0)
        self.assertOutcome(self.run_zpress("-d", "f"), 0)
        self.assertEqual(self.read("f"), data)


if __name__ == "__main__":
    unittest.main()
