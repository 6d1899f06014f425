"""Standard input, output or error closed when zpress starts.  A closed
standard stream is a failure of the job that needs it (status 1, one line),
never a success; inputs are kept; and a file opened by a job must never take
over the number of a closed standard stream in a way that sends diagnostics
into it."""

import gzip
import unittest

from zptest.case import ZpressTestCase
from zptest.data import sample_text
from zptest.gzip_members import gzip_member
from zptest.lzw import lzw_encode
from zptest.process import closing

DATA = sample_text(50_000)


class ClosedStreams(ZpressTestCase):

    def test_closed_stdin_fails_both_filters(self):
        with self.subTest("compress"):
            # The read error is reported by perror, which names the call; the
            # member begun on standard output is left unfinished, although
            # the sandbox lets the filter open nothing by then.
            result = self.run_zpress(preexec_fn=closing(0))
            self.assertOneLineFailure(result, from_driver=False)
            self.assertEqual(result.stdout, b"")
        with self.subTest("decompress"):
            self.assertOneLineFailure(self.run_zpress("-d", preexec_fn=closing(0)))

    def test_closed_stdout_fails_every_filter(self):
        for name, args, data in (("compress", [], DATA), ("gzip", ["-d"], gzip_member(DATA)),
                                 (".Z", ["-d"], lzw_encode(DATA))):
            with self.subTest(name):
                self.write("in", data)
                with open(self.path("in"), "rb") as f:
                    result = self.run_zpress(*args, stdin=f, stdout=None, preexec_fn=closing(1))
                self.assertOneLineFailure(result)

    def test_closed_stdout_fails_file_jobs_to_stdout_and_keeps_inputs(self):
        with self.subTest("compress -c"):
            self.write("a", DATA)
            self.assertOneLineFailure(
                self.run_zpress("-c", "a", stdout=None, preexec_fn=closing(1)))
            self.assertEqual(self.listing(), ["a"])
            self.assertEqual(self.read("a"), DATA)
        with self.subTest("decompress -c"):
            packed = gzip_member(DATA)
            self.write("b.gz", packed)
            self.assertOneLineFailure(
                self.run_zpress("-d", "-c", "b.gz", stdout=None, preexec_fn=closing(1)))
            self.assertEqual(self.read("b.gz"), packed)
            self.assertFalse(self.exists("b"))

    def test_closed_stdout_does_not_disturb_file_jobs(self):
        # Without -c nothing goes to standard output: the jobs succeed.
        self.write("c", DATA)
        result = self.run_zpress("c", stdout=None, preexec_fn=closing(1))
        self.assertEqual(result.returncode, 0, result.stderr)
        result = self.run_zpress("-d", "c.gz", stdout=None, preexec_fn=closing(1))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("c"), DATA)

    def test_closed_stderr_still_fails_with_status_1(self):
        result = self.run_zpress("-d", input=b"not compressed", preexec_fn=closing(2))
        self.assertEqual(result.returncode, 1)

    def test_diagnostics_never_land_in_an_output_file(self):
        # With the three standard streams closed, the first job's directory
        # and input would take descriptors 0 and 1 and its output 2: the
        # failure report of the second job must not land in that output,
        # still open for its sync, and the failed job leaves no output.
        packed = gzip_member(DATA)
        damaged = packed[:len(packed) // 2]
        self.write("a.gz", packed)
        self.write("d.gz", damaged)
        result = self.run_zpress("-d", "a.gz", "d.gz", stdout=None, preexec_fn=closing(0, 1, 2))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(self.listing(), ["a", "d.gz"])
        self.assertEqual(self.read("d.gz"), damaged)
        self.assertEqual(self.read("a"), DATA)

    def test_file_job_succeeds_with_stdin_and_stderr_closed(self):
        self.write("e", DATA)
        result = self.run_zpress("e", preexec_fn=closing(0, 2))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(gzip.decompress(self.read("e.gz")), DATA)


if __name__ == "__main__":
    unittest.main(verbosity=2)
