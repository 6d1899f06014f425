"""The reader of standard output goes away mid-stream.  With the default
action of SIGPIPE the process is killed by it; with SIGPIPE ignored the write
fails with EPIPE, which must be a reported failure (status 1, one line),
never a success.  In file mode with -c the inputs stay where they are."""

import os
import signal
import subprocess
import tempfile
import unittest

from faultlib import (FailureChecks, ZPRESS, gzip_of, lzw_of, main, random_data, read_file,
                      text_data, write_file)

DATA = text_data(1_000_000)
RANDOM = random_data(400_000)


def ignore_sigpipe():
    signal.signal(signal.SIGPIPE, signal.SIG_IGN)


class ReaderGoesAway(FailureChecks, unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="zpress-faults-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def run_and_hang_up(self, args, stdin_data=None, ignore=False):
        """Starts zpress, reads a little of its output, closes the pipe."""
        stdin = subprocess.DEVNULL
        if stdin_data is not None:
            path = os.path.join(self.dir, "stdin")
            write_file(path, stdin_data)
            stdin = open(path, "rb")
        try:
            proc = subprocess.Popen([ZPRESS] + args, stdin=stdin, stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE,
                                    preexec_fn=ignore_sigpipe if ignore else None)
        finally:
            if stdin is not subprocess.DEVNULL:
                stdin.close()
        self.assertTrue(os.read(proc.stdout.fileno(), 10))
        proc.stdout.close()
        err = proc.stderr.read()
        proc.stderr.close()
        proc.wait(timeout=300)
        return proc.returncode, err

    def check_filter(self, args, data):
        with self.subTest("default action"):
            status, err = self.run_and_hang_up(args, data)
            self.assertDiedOfSigpipeOrFailed(status, err)
        with self.subTest("ignored"):
            status, err = self.run_and_hang_up(args, data, ignore=True)
            self.assertOneLineFailure(subprocess.CompletedProcess([], status, b"", err))

    def test_compress_filter(self):
        self.check_filter([], RANDOM)

    def test_gzip_filter(self):
        self.check_filter(["-d"], gzip_of(DATA))

    def test_lzw_filter(self):
        self.check_filter(["-d"], lzw_of(DATA))

    def check_file_job(self, args, name, contents):
        for ignore in (False, True):
            with self.subTest(ignored=ignore):
                src = os.path.join(self.dir, name)
                write_file(src, contents)
                status, err = self.run_and_hang_up(args + [src], ignore=ignore)
                if ignore:
                    self.assertOneLineFailure(subprocess.CompletedProcess([], status, b"", err))
                else:
                    self.assertDiedOfSigpipeOrFailed(status, err)
                self.assertEqual(read_file(src), contents, "the input must be kept")
                self.assertEqual(sorted(os.listdir(self.dir)), [name])

    def test_compress_to_stdout_keeps_the_input(self):
        self.check_file_job(["-c"], "data", RANDOM)

    def test_decompress_to_stdout_keeps_the_input(self):
        self.check_file_job(["-d", "-c"], "data.gz", gzip_of(DATA))


if __name__ == "__main__":
    main()
