"""The decompression filter on its .Z (LZW) road.  The streams come from the
tests' own plain encoder, and a strict decoder judges damaged streams: both
share nothing with the code under test."""

import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.lzw import LzwEncoder, lzw_decode, lzw_encode
from zptest.slow_feed import run_fed_in_pieces


def clear_after_code(data, maxbits, n):
    """A stream of `data` with a clear code right after its n-th code."""
    plain = LzwEncoder(maxbits)
    plain.encode(data)
    return lzw_encode(data, maxbits, clear_after=(plain.code_ends[n - 1],))


class LzwStreams(ZpressTestCase):
    def decompress(self, stream):
        return self.run_zpress("-d", input=stream)

    def test_smallest_stream(self):
        # Codes 0x61 and 0x62 at 9 bits, maximum width 16, block mode.
        stream = bytes.fromhex("1f9d9061c400")
        self.assertEqual(lzw_encode(b"ab"), stream)
        self.assertOutcome(self.decompress(stream), 0, stdout=b"ab")

    def test_header_only_stream_is_empty_but_it_needs_its_flags(self):
        self.assertOutcome(self.decompress(b"\x1f\x9d\x90"), 0, stdout=b"")
        self.assertOutcome(self.decompress(b"\x1f\x9d"), 1, stderr=self.msg("can't zread\n"),
                           stdout=b"")

    def test_every_maximum_code_width(self):
        for bits in range(9, 17):
            with self.subTest(bits=bits):
                # Enough distinct strings to reach the widest codes.
                data = random_bytes(3 << (bits - 1), seed=bits) + sample_text(20000)
                encoder = LzwEncoder(maxbits=bits)
                stream = encoder.encode(data)
                # A maximum of 9 still widens once, to 10, when the table fills.
                self.assertEqual(encoder.widest, max(bits, 10))
                self.assertOutcome(self.decompress(stream), 0, stdout=data)

    def test_runs_use_codes_not_yet_in_the_table(self):
        data = b"a" * 5000 + b"ab" * 3000
        self.assertOutcome(self.decompress(lzw_encode(data)), 0, stdout=data)

    def test_clear_codes(self):
        data = sample_text(60000)
        for after in (1, 8, 9, 700):
            with self.subTest(clear_after=after):
                stream = clear_after_code(data, 12, after)
                self.assertOutcome(self.decompress(stream), 0, stdout=data)

    def test_without_block_mode_256_is_a_table_entry(self):
        data = sample_text(30000)
        stream = lzw_encode(data, maxbits=14, block=False)
        self.assertEqual(stream[2], 14)
        self.assertOutcome(self.decompress(stream), 0, stdout=data)

    def test_output_larger_than_one_block(self):
        data = b"\0" * 100000 + sample_text(100000)
        self.assertOutcome(self.decompress(lzw_encode(data)), 0, stdout=data)

    def test_width_above_sixteen_is_refused(self):
        stream = b"\x1f\x9d\x91" + lzw_encode(b"abc")[3:]
        self.assertOutcome(self.decompress(stream), 1, stderr=self.msg("can't zread\n"),
                           stdout=b"")

    def test_codes_no_writer_makes_fail(self):
        # 'a', then 300 while the next free code is 257.
        self.assertOutcome(self.decompress(b"\037\235\220\141\130\002"), 1,
                           stderr=self.msg("can't zread\n"), stdout=b"")

    def test_damaged_streams_fail_or_decode_as_written(self):
        """Every cut, every single-bit flip and many flags bytes of a stream
        with a clear code: a failure, or exactly what a strict decoder makes
        of the same bytes (a flip can turn one valid stream into another)."""
        data = sample_text(120) + b"x" * 30
        stream = clear_after_code(data, 9, 25)
        self.assertEqual(lzw_decode(stream), (data, True))
        for n in range(len(stream)):
            r = self.decompress(stream[:n])
            if n < 2:
                self.assertOutcome(r, 1, stderr=self.msg("can't read header\n"))
            elif n == 2:  # no flags byte
                self.assertOutcome(r, 1, stderr=self.msg("can't zread\n"), stdout=b"")
            else:
                self.assertOutcome(r, 0)
                self.assertTrue(data.startswith(r.stdout), "cut at %d" % n)
        variants = []
        for bit in range(8 * len(stream)):
            damaged = bytearray(stream)
            damaged[bit // 8] ^= 1 << (bit % 8)
            variants.append(("bit %d" % bit, bytes(damaged)))
        for flags in list(range(0, 0x20)) + list(range(0x80, 0xA0)):
            variants.append(("flags %#x" % flags, stream[:2] + bytes([flags]) + stream[3:]))
        failed = 0
        for what, damaged in variants:
            expected, valid = lzw_decode(damaged)
            r = self.decompress(damaged)
            if valid:
                self.assertOutcome(r, 0, stdout=expected)
            elif damaged[:2] == stream[:2]:
                self.assertOutcome(r, 1, stderr=self.msg("can't zread\n"))
                failed += 1
            else:
                self.assertEqual(r.returncode, 1, what)  # not .Z at all
        self.assertGreater(failed, len(variants) // 5)

    def test_stream_trickling_in(self):
        data = sample_text(3000)
        stream = lzw_encode(data)
        # Pieces that never line up with the groups of 9 to 11 bytes.
        pieces = [1, 2] + [3, 5, 2, 7] * (len(stream) // 17)
        self.assertOutcome(run_fed_in_pieces(["-d"], stream, pieces), 0, stdout=data)

    def test_failing_output(self):
        stream = lzw_encode(sample_text(40000))
        with open("/dev/full", "wb") as full:
            r = self.run_zpress("-d", input=stream, stdout=full)
        self.assertOutcome(r, 1, stderr=self.msg("can't write output\n"))


if __name__ == "__main__":
    unittest.main()
