"""An input file that is removed while its job reads it.  The job holds the
file open, so it reads the whole data from its descriptor and completes: the
output holds everything, and the removal of the input that the job itself
would have done finds it gone, which is silent and no failure.  Nothing is
lost."""

import gzip
import os
import subprocess
import tempfile
import unittest

from faultlib import FailureChecks, ZPRESS, gzip_of, main, read_file, text_data, write_file

DATA = text_data(2_000_000)


class VanishingInput(FailureChecks, unittest.TestCase):

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory(prefix="zpress-faults-")
        self.dir = self.tmp.name

    def tearDown(self):
        self.tmp.cleanup()

    def feed_and_remove_midway(self, args, name, data):
        """Runs a file job whose input is a named pipe, so that the job is
        certainly in the middle of reading when the name is removed: half the
        data goes in, the name goes, then the rest."""
        src = os.path.join(self.dir, name)
        os.mkfifo(src)
        proc = subprocess.Popen([ZPRESS] + args + [src], stdout=subprocess.DEVNULL,
                                stderr=subprocess.PIPE)
        try:
            with open(src, "wb") as feed:  # returns once the job has opened it
                half = len(data) // 2
                feed.write(data[:half])
                feed.flush()
                os.unlink(src)
                feed.write(data[half:])
            _, err = proc.communicate(timeout=300)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err, b"")
        self.assertFalse(os.path.exists(src))

    def test_compression_completes_from_the_open_descriptor(self):
        self.feed_and_remove_midway([], "data", DATA)
        self.assertEqual(gzip.decompress(read_file(os.path.join(self.dir, "data.gz"))), DATA)

    def test_decompression_completes_from_the_open_descriptor(self):
        self.feed_and_remove_midway(["-d"], "data.gz", gzip_of(DATA))
        self.assertEqual(read_file(os.path.join(self.dir, "data")), DATA)

    def remove_while_writing_to_stdout(self, args, src):
        # With -c the job blocks on a full pipe: once the first output byte
        # has arrived, it has opened its input and is still reading it.
        proc = subprocess.Popen([ZPRESS] + args + [src], stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        first = os.read(proc.stdout.fileno(), 1)
        os.unlink(src)
        rest, err = proc.communicate(timeout=300)
        self.assertEqual(proc.returncode, 0, err)
        self.assertEqual(err, b"")
        return first + rest

    def test_compression_to_stdout_completes(self):
        src = os.path.join(self.dir, "data")
        write_file(src, DATA)
        self.assertEqual(gzip.decompress(self.remove_while_writing_to_stdout(["-c"], src)), DATA)

    def test_decompression_to_stdout_completes(self):
        src = os.path.join(self.dir, "data.gz")
        write_file(src, gzip_of(DATA))
        self.assertEqual(self.remove_while_writing_to_stdout(["-d", "-c"], src), DATA)


if __name__ == "__main__":
    main()
