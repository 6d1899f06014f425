"""Signals during a file job remove the half-written output and keep the
input, and complete the jobs that had finished.  A FIFO as input holds the
job in the middle of its copy."""

import gzip
import os
import signal
import stat
import subprocess
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes
from zptest.gzip_members import gzip_member
from zptest.process import (TIMEOUT, open_fifo_for_writing, stop_when, unblock_signals,
                            wait_until)

SIGNALS = (signal.SIGHUP, signal.SIGINT, signal.SIGQUIT, signal.SIGTERM)

# The reader takes in blocks of 16384 bytes: a compressed stream longer than
# one block lets the job get past the header and create its output.
COMPRESSED = gzip_member(random_bytes(60000))


class InterruptedJobs(ZpressTestCase):
    def interrupt(self, sig, args, fifo, output, feed):
        os.mkfifo(self.path(fifo))
        child = self.start_zpress(*args)
        fd = open_fifo_for_writing(self.path(fifo), child)
        try:
            os.write(fd, feed)
            wait_until(lambda: self.exists(output) or child.poll() is not None,
                       what=output)
            self.assertIsNone(child.poll(), "the job ended before the signal")
            child.send_signal(sig)
            result = self.finish(child)
        finally:
            os.close(fd)
        return result

    def check_interrupted(self, result, fifo, output):
        self.assertOutcome(result, 1, stdout=b"")
        self.assertFalse(self.exists(output))
        self.assertTrue(stat.S_ISFIFO(os.lstat(self.path(fifo)).st_mode))

    def test_compression(self):
        for sig in SIGNALS:
            with self.subTest(signal=sig.name):
                self.clear()
                r = self.interrupt(sig, ["in"], "in", "in.gz", b"some data")
                self.check_interrupted(r, "in", "in.gz")

    def test_decompression(self):
        for sig in SIGNALS:
            with self.subTest(signal=sig.name):
                self.clear()
                r = self.interrupt(sig, ["-d", "in"], "in.gz", "in", COMPRESSED[:20000])
                self.check_interrupted(r, "in.gz", "in")

    def test_a_replaced_file_stays_until_the_job_is_done(self):
        # With "-f" the output is written under another name: the handler
        # removes that, and the file it was to replace stays.
        for args, fifo, output, feed in ((["-f", "in"], "in", "in.gz", b"data"),
                                         (["-f", "-d", "in"], "in.gz", "in", COMPRESSED[:20000])):
            with self.subTest(args=args):
                self.clear()
                self.write(output, b"the old file")
                os.mkfifo(self.path(fifo))
                child = self.start_zpress(*args)
                fd = open_fifo_for_writing(self.path(fifo), child)
                try:
                    os.write(fd, feed)
                    wait_until(lambda: len(self.listing()) == 3 or child.poll() is not None
                               or os.lstat(self.path(output)).st_size != 12,
                               what="the new output")
                    child.send_signal(signal.SIGTERM)
                    self.assertOutcome(self.finish(child), 1, stdout=b"")
                finally:
                    os.close(fd)
                self.assertEqual(self.listing(), sorted([fifo, output]))
                self.assertEqual(self.read(output), b"the old file")

    def test_finished_jobs_keep_their_results(self):
        self.write("a", b"first file")
        r = self.interrupt(signal.SIGINT, ["a", "b"], "b", "b.gz", b"second")
        self.check_interrupted(r, "b", "b.gz")
        self.assertFalse(self.exists("a"))
        self.assertEqual(gzip.decompress(self.read("a.gz")), b"first file")

    def test_interrupted_run_completes_the_finished_jobs(self):
        # Twenty small files, then a long job (zeros of a sparse file), then
        # forty more.  The signal comes in the long job, while the first
        # twenty wait for the removal of their inputs.
        names = ["f%02d" % i for i in range(60)]
        for i, n in enumerate(names):
            self.write(n, b"%d " % i * 500)
        os.truncate(self.path(names[20]), 64 << 20)
        child = self.start_zpress(*names)
        stop_when(child, lambda: self.exists(names[20] + ".gz"), "the long job")
        child.send_signal(signal.SIGTERM)
        child.send_signal(signal.SIGCONT)
        self.assertOutcome(self.finish(child), 1, stdout=b"")
        left = [n for n in names if self.exists(n)]
        self.assertEqual(left, names[20:])
        self.assertEqual(self.listing(), sorted([n + ".gz" for n in names[:20]] + left))
        for i, n in enumerate(names[:20]):
            self.assertEqual(gzip.decompress(self.read(n + ".gz")), b"%d " % i * 500)
        # Nothing is in the way of a second run.
        self.assertOutcome(self.run_zpress(*left), 0)
        self.assertEqual(self.listing(), [n + ".gz" for n in names])

    def test_signal_between_jobs_removes_nothing(self):
        # The second job waits in the open of its input (a FIFO without a
        # writer) after the first job is complete.  Neither the first job's
        # output nor the file already at the second job's output name may be
        # taken for a half-written output.
        self.write("a", b"first file")
        os.mkfifo(self.path("b"))
        self.write("b.gz", b"was here before")
        child = self.start_zpress("a", "b")
        wait_until(lambda: not self.exists("a") or child.poll() is not None, what="job a")
        child.send_signal(signal.SIGTERM)
        r = self.finish(child)
        self.assertOutcome(r, 1, stdout=b"")
        self.assertEqual(self.listing(), ["a.gz", "b", "b.gz"])
        self.assertEqual(gzip.decompress(self.read("a.gz")), b"first file")
        self.assertEqual(self.read("b.gz"), b"was here before")


class SignalsAsTheUserSetThem(ZpressTestCase):
    def test_signals_ignored_at_start_stay_ignored(self):
        # nohup ignores SIGHUP; a script's background job starts with SIGINT
        # and SIGQUIT ignored.  Sent in the middle of the second of three
        # jobs, they change nothing.
        for ignored in ((signal.SIGHUP,), (signal.SIGINT, signal.SIGQUIT)):
            with self.subTest(ignored=[s.name for s in ignored]):
                self.clear()
                self.write("a", b"first file")
                self.write("c", b"third file")
                os.mkfifo(self.path("b"))

                def start():
                    unblock_signals()
                    for sig in ignored:
                        signal.signal(sig, signal.SIG_IGN)

                child = self.start_zpress("a", "b", "c", preexec_fn=start)
                with open(open_fifo_for_writing(self.path("b"), child), "wb") as w:
                    w.write(b"second ")
                    w.flush()
                    wait_until(lambda: self.exists("b.gz") or child.poll() is not None,
                               what="b.gz")
                    for sig in ignored:
                        child.send_signal(sig)
                    w.write(b"file")
                self.assertOutcome(self.finish(child), 0, stdout=b"")
                self.assertEqual(self.listing(), ["a.gz", "b.gz", "c.gz"])
                self.assertEqual([gzip.decompress(self.read(n + ".gz")) for n in "abc"],
                                 [b"first file", b"second file", b"third file"])

    def test_a_host_program_gets_its_dispositions_back(self):
        host = os.environ.get("ZPRESS_SIGNAL_HOST")
        if not host:
            self.skipTest("the host program was not built")
        self.write("a", b"data")
        r = subprocess.run([host, str(int(signal.SIGTERM)), "a"], cwd=self.dir,
                           capture_output=True, preexec_fn=unblock_signals, timeout=TIMEOUT)
        self.assertEqual(r.returncode, -signal.SIGTERM, r.stderr)
        self.assertEqual(self.listing(), ["a.gz"])


if __name__ == "__main__":
    unittest.main()
