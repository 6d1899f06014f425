"""The filters' sandbox, seen from outside.  A preloaded probe
(sandbox_probe.c) tries, at a filter's first write to standard output, to
open a file, create one, start a program and open a socket.  Every attempt
must fail, or the process end by SIGSYS; nothing may be created; and the
filter's work goes on as without the probe."""

import gzip
import os
import signal
import unittest

from zptest.case import ZpressTestCase
from zptest.data import sample_text
from zptest.gzip_members import gzip_member
from zptest.lzw import lzw_encode

PROBE = os.environ.get("ZPRESS_SANDBOX_PROBE")
ATTEMPTS = ["open /etc/hostname", "create probe-file", "start /bin/true", "open a TCP socket"]
DATA = sample_text(100_000)


def kernel_has_seccomp():
    with open("/proc/self/status") as status:
        return any(line.startswith("Seccomp:") for line in status)


@unittest.skipUnless(PROBE, "built without the sandbox (ZPRESS_SANDBOX=OFF, sanitizers, coverage)")
@unittest.skipUnless(kernel_has_seccomp(), "a kernel without seccomp: the filters run unconfined")
class ConfinedFilters(ZpressTestCase):
    def run_probed(self, *args, input):
        result = self.run_zpress(*args, input=input, env=dict(os.environ, LD_PRELOAD=PROBE))
        self.assertEqual(self.listing(), [], "the probe created a file")
        if result.returncode == -signal.SIGSYS:
            return None
        # Every attempt reported, none succeeded: a successful start of a
        # program would have replaced the process before the last reports.
        reports = [line.split(": ") for line in result.stderr.decode().splitlines()]
        self.assertEqual([r[1] for r in reports], ATTEMPTS, result.stderr)
        for _, attempt, outcome in reports:
            self.assertIn(outcome, ("EPERM", "EACCES"), attempt)
        self.assertEqual(result.returncode, 0)
        return result.stdout

    def test_gzip_decompression(self):
        out = self.run_probed("-d", input=gzip_member(DATA))
        self.assertIn(out, (None, DATA))

    def test_lzw_decompression(self):
        out = self.run_probed("-d", input=lzw_encode(DATA))
        self.assertIn(out, (None, DATA))

    def test_compression(self):
        out = self.run_probed(input=DATA)
        if out is not None:
            self.assertEqual(gzip.decompress(out), DATA)


if __name__ == "__main__":
    unittest.main(verbosity=2)
