"""Standard input on a pipe that delivers the stream in tiny pieces, one byte
per read() at worst: the magic bytes arrive apart, and so do the bytes of
every gzip header field and of every .Z code group.  The result must be the
same as from a file."""

import gzip
import itertools
import random
import unittest

from zptest.case import ZpressTestCase
from zptest.data import sample_text
from zptest.gzip_members import gzip_member
from zptest.lzw import lzw_encode
from zptest.slow_feed import run_fed_in_pieces

DATA = sample_text(6_000)


def random_pieces(seed, largest):
    rnd = random.Random(seed)
    while True:
        yield rnd.randint(1, largest)


class SlicedInput(ZpressTestCase):

    def assertDecodes(self, packed, pieces, want):
        self.assertOutcome(run_fed_in_pieces(["-d"], packed, pieces), 0, stdout=want)

    def test_gzip_one_byte_at_a_time(self):
        self.assertDecodes(gzip_member(DATA), itertools.repeat(1), DATA)

    def test_lzw_one_byte_at_a_time(self):
        self.assertDecodes(lzw_encode(DATA), itertools.repeat(1), DATA)

    def test_lzw_in_pieces_that_split_groups(self):
        # Groups are 9 to 16 bytes long; pieces of 1 to 20 bytes end inside
        # them everywhere.  Width 12 with clear codes changes group sizes often.
        data = sample_text(40_000, seed=7)
        packed = lzw_encode(data, maxbits=12, clear_after=(10_000, 25_000))
        for seed in range(3):
            with self.subTest(seed=seed):
                self.assertDecodes(packed, random_pieces(seed, 20), data)

    def test_compression_one_byte_at_a_time(self):
        result = run_fed_in_pieces([], DATA, itertools.repeat(1))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(gzip.decompress(result.stdout), DATA)

    def test_damage_is_still_found(self):
        # Sliced delivery must not turn a cut stream into a normal end.
        packed = gzip_member(DATA)
        result = run_fed_in_pieces(["-d"], packed[:len(packed) - 20], itertools.repeat(1))
        self.assertOneLineFailure(result)


if __name__ == "__main__":
    unittest.main(verbosity=2)
