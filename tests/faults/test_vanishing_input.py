"""An input file that is removed while its job reads it.  The job holds the
file open, so it reads the whole data from its descriptor and completes: the
output holds everything, and the removal of the input that the job itself
would have done finds it gone, which is silent and no failure.  Nothing is
lost."""

import gzip
import os
import unittest

from zptest.case import ZpressTestCase
from zptest.data import sample_text
from zptest.gzip_members import gzip_member
from zptest.process import open_fifo_for_writing

DATA = sample_text(2_000_000)


class VanishingInput(ZpressTestCase):

    def feed_and_remove_midway(self, args, name, data):
        """Runs a file job whose input is a named pipe, so that the job is
        certainly in the middle of reading when the name is removed: half the
        data goes in, the name goes, then the rest."""
        os.mkfifo(self.path(name))
        child = self.start_zpress(*args, name)
        with open(open_fifo_for_writing(self.path(name), child), "wb") as feed:
            half = len(data) // 2
            feed.write(data[:half])
            feed.flush()
            os.unlink(self.path(name))
            feed.write(data[half:])
        self.assertOutcome(self.finish(child), 0)
        self.assertFalse(self.exists(name))

    def test_compression_completes_from_the_open_descriptor(self):
        self.feed_and_remove_midway([], "data", DATA)
        self.assertEqual(gzip.decompress(self.read("data.gz")), DATA)

    def test_decompression_completes_from_the_open_descriptor(self):
        self.feed_and_remove_midway(["-d"], "data.gz", gzip_member(DATA))
        self.assertEqual(self.read("data"), DATA)

    def remove_while_writing_to_stdout(self, args, src):
        # With -c the job blocks on a full pipe: once the first output byte
        # has arrived, it has opened its input and is still reading it.
        child = self.start_zpress(*args, src)
        first = os.read(child.stdout.fileno(), 1)
        os.unlink(self.path(src))
        result = self.finish(child)
        self.assertOutcome(result, 0)
        return first + result.stdout

    def test_compression_to_stdout_completes(self):
        self.write("data", DATA)
        self.assertEqual(gzip.decompress(self.remove_while_writing_to_stdout(["-c"], "data")),
                         DATA)

    def test_decompression_to_stdout_completes(self):
        self.write("data.gz", gzip_member(DATA))
        self.assertEqual(self.remove_while_writing_to_stdout(["-d", "-c"], "data.gz"), DATA)


if __name__ == "__main__":
    unittest.main(verbosity=2)
