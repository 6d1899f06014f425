"""The reader of standard output goes away mid-stream.  With the default
action of SIGPIPE the process is killed by it; with SIGPIPE ignored the write
fails with EPIPE, which must be a reported failure (status 1, one line),
never a success.  In file mode with -c the inputs stay where they are."""

import os
import signal
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member
from zptest.lzw import lzw_encode

DATA = sample_text(1_000_000)
RANDOM = random_bytes(400_000)


def ignore_sigpipe():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)


class ReaderGoesAway(ZpressTestCase):

    def run_and_hang_up(self, args, stdin_data=b"", ignore=False):
        """Starts zpress, reads a little of its output, closes the pipe."""
        self.write("stdin", stdin_data)
        with open(self.path("stdin"), "rb") as stdin:
            child = self.start_zpress(*args, stdin=stdin,
                                      preexec_fn=ignore_sigpipe if ignore else None)
        os.unlink(self.path("stdin"))
        self.assertTrue(os.read(child.stdout.fileno(), 10))
        child.stdout.close()
        return self.finish(child)

    def check_filter(self, args, data):
        with self.subTest("default action"):
            self.assertDiedOfSigpipeOrFailed(self.run_and_hang_up(args, data))
        with self.subTest("ignored"):
            self.assertOneLineFailure(self.run_and_hang_up(args, data, ignore=True))

    def test_compress_filter(self):
        self.check_filter([], RANDOM)

    def test_gzip_filter(self):
        self.check_filter(["-d"], gzip_member(DATA))

    def test_lzw_filter(self):
        self.check_filter(["-d"], lzw_encode(DATA))

    def check_file_job(self, args, name, contents):
        for ignore in (False, True):
            with self.subTest(ignored=ignore):
                self.write(name, contents)
                result = self.run_and_hang_up(args + [name], ignore=ignore)
                if ignore:
                    self.assertOneLineFailure(result)
                else:
                    self.assertDiedOfSigpipeOrFailed(result)
                self.assertEqual(self.read(name), contents, "the input must be kept")
                self.assertEqual(self.listing(), [name])

    def test_compress_to_stdout_keeps_the_input(self):
        self.check_file_job(["-c"], "data", RANDOM)

    def test_decompress_to_stdout_keeps_the_input(self):
        self.check_file_job(["-d", "-c"], "data.gz", gzip_member(DATA))


if __name__ == "__main__":
    unittest.main(verbosity=2)
