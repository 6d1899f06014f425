"""Standard input, output or error closed when zpress starts.  A closed
standard stream is a failure of the job that needs it (status 1, one line),
never a success; inputs are kept; and a file opened by a job must never take
over the number of a closed standard stream in a way that sends diagnostics
into it."""

import gzip
import os
import tempfile
import unittest

from faultlib import (FailureChecks, closing, gzip_of, lzw_of, main, read_file, run, text_data,
                      write_file)

DATA = text_data(50_000)


class ClosedStreams(FailureChecks, unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="zpress-faults-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def path(self, name, data=None):
        p = os.path.join(self.dir, name)
        if data is not None:
            write_file(p, data)
        return p

    def test_closed_stdin_fails_both_filters(self):
        with self.subTest("compress"):
            # The read error is reported by perror, which names the call.
            self.assertOneLineFailure(run([], preexec_fn=closing(0)), from_driver=False)
        with self.subTest("decompress"):
            self.assertOneLineFailure(run(["-d"], preexec_fn=closing(0)))

    def test_closed_stdout_fails_every_filter(self):
        for name, args, data in (("compress", [], DATA), ("gzip", ["-d"], gzip_of(DATA)),
                                 (".Z", ["-d"], lzw_of(DATA))):
            with self.subTest(name):
                src = self.path("in", data)
                with open(src, "rb") as f:
                    result = run(args, stdin=f, stdout=None, preexec_fn=closing(1))
                self.assertOneLineFailure(result)

    def test_closed_stdout_fails_file_jobs_to_stdout_and_keeps_inputs(self):
        with self.subTest("compress -c"):
            src = self.path("a", DATA)
            self.assertOneLineFailure(run(["-c", src], stdout=None, preexec_fn=closing(1)))
            self.assertEqual(read_file(src), DATA)
            self.assertFalse(os.path.exists(src + ".gz"))
        with self.subTest("decompress -c"):
            packed = gzip_of(DATA)
            src = self.path("b.gz", packed)
            self.assertOneLineFailure(
                run(["-d", "-c", src], stdout=None, preexec_fn=closing(1)))
            self.assertEqual(read_file(src), packed)
            self.assertFalse(os.path.exists(self.path("b")))

    def test_closed_stdout_does_not_disturb_file_jobs(self):
        # Without -c nothing goes to standard output: the jobs succeed.
        src = self.path("c", DATA)
        result = run([src], stdout=None, preexec_fn=closing(1))
        self.assertEqual(result.returncode, 0, result.stderr)
        result = run(["-d", src + ".gz"], stdout=None, preexec_fn=closing(1))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(read_file(src), DATA)

    def test_closed_stderr_still_fails_with_status_1(self):
        result = run(["-d"], input=b"not compressed", preexec_fn=closing(2))
        self.assertEqual(result.returncode, 1)

    def test_diagnostics_never_land_in_an_output_file(self):
        # With standard input and error closed, the input of a job takes
        # descriptor 0 and its output the next free number: if that were 2,
        # the failure report would be written into the output.
        packed = gzip_of(DATA)
        damaged = packed[:len(packed) // 2]
        src = self.path("d.gz", damaged)
        result = run(["-d", src], preexec_fn=closing(0, 2))
        self.assertEqual(result.returncode, 1)
        self.assertEqual(read_file(src), damaged)
        out = read_file(self.path("d"))
        self.assertNotIn(b"zpress", out)
        self.assertTrue(DATA.startswith(out))

    def test_file_job_succeeds_with_stdin_and_stderr_closed(self):
        src = self.path("e", DATA)
        result = run([src], preexec_fn=closing(0, 2))
        self.assertEqual(result.returncode, 0)
        self.assertEqual(gzip.decompress(read_file(src + ".gz")), DATA)


if __name__ == "__main__":
    main()
