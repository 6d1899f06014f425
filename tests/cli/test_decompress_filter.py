"""The decompression filter on its gzip road: format sniffing on standard
input, concatenated members, damaged streams and slow pipes."""

import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member
from zptest.slow_feed import run_fed_in_pieces


class GzipStreams(ZpressTestCase):
    def decompress(self, stream):
        return self.run_zpress("-d", input=stream)

    def test_one_member(self):
        data = sample_text(100000)
        self.assertOutcome(self.decompress(gzip_member(data, name=b"x")), 0, stdout=data)

    def test_several_members_make_one_output(self):
        parts = [sample_text(40000, seed=3), b"", random_bytes(20000), b"end\n"]
        stream = b"".join(gzip_member(p, level) for p, level in zip(parts, (1, 9, 0, 6)))
        self.assertOutcome(self.decompress(stream), 0, stdout=b"".join(parts))

    def test_only_zeros_may_follow_the_last_member(self):
        # Zero padding ends the stream; any other byte may be a member whose
        # magic was damaged: every member's data is written, then the failure.
        members = gzip_member(b"first ") + gzip_member(b"second")
        self.assertOutcome(self.decompress(members + bytes(512)), 0, stdout=b"first second")
        damaged_magic = bytearray(gzip_member(b"third"))
        damaged_magic[1] ^= 0x10
        for tail in (b"garbage", b"\x1f", bytes(100) + b"\x01", bytes(damaged_magic)):
            with self.subTest(tail=tail[:8]):
                self.assertOutcome(self.decompress(members + tail), 1, stdout=b"first second",
                                   stderr=self.msg("<fd:0>: trailing garbage"))

    def test_optional_header_fields_are_skipped(self):
        data = b"with every optional field\n" * 50
        stream = gzip_member(data, flags=0x01, extra=b"\x01\x02XY" * 10, name=b"name.txt",
                             comment=b"a comment", header_crc=True, mtime=123456789)
        self.assertEqual(stream[3], 0x1F)
        self.assertOutcome(self.decompress(stream), 0, stdout=data)


    def test_file_on_stdin(self):
        data = sample_text(50000)
        self.write("in.gz", gzip_member(data) + gzip_member(data))
        with open(self.path("in.gz"), "rb") as f:
            r = self.run_zpress("-d", stdin=f)
        self.assertOutcome(r, 0, stdout=data + data)


class DamagedStreams(ZpressTestCase):
    def decompress(self, stream):
        return self.run_zpress("-d", input=stream)

    def test_crc_mismatch(self):
        data = b"checked data\n" * 10
        r = self.decompress(gzip_member(data, crc=0x12345678))
        # What was written before the failure stays written.
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: data error"), stdout=data)

    def test_wrong_length_or_header_crc(self):
        # The data of a member with a wrong length comes before the error;
        # none of one whose header fails its CRC.
        bad_header = bytearray(gzip_member(b"bad", name=b"n", header_crc=True))
        bad_header[10] ^= 0x01
        for stream, written in ((gzip_member(b"abc", isize=99), b"abc"),
                                (gzip_member(b"good ") + bytes(bad_header), b"good ")):
            with self.subTest(written=written):
                self.assertOutcome(self.decompress(stream), 1,
                                   stderr=self.msg("<fd:0>: data error"), stdout=written)

    def test_crc_mismatch_in_a_later_member(self):
        stream = gzip_member(b"good ") + gzip_member(b"bad", crc=1)
        r = self.decompress(stream)
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: data error"), stdout=b"good bad")

    def test_member_cut_off_inside_the_deflate_data(self):
        data = random_bytes(100000)
        stream = gzip_member(data)
        r = self.decompress(stream[:len(stream) // 2])
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: unexpected end of file"))
        self.assertTrue(data.startswith(r.stdout))

    def test_short_member_cut_off_inside_the_deflate_data(self):
        stream = gzip_member(b"0123456789" * 3, level=0)
        r = self.decompress(stream[:len(stream) - 12])
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stderr, self.msg("<fd:0>: unexpected end of file"))

    def test_member_cut_off_inside_the_trailer(self):
        stream = gzip_member(b"almost complete")
        r = self.decompress(stream[:-6])
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: data error"))

    def test_bad_header(self):
        good = gzip_member(b"data")
        cases = {"reserved flag": good[:3] + b"\x20" + good[4:],
                 "method 7": good[:2] + b"\x07" + good[3:],
                 "cut in the name": gzip_member(b"data", name=b"long-name")[:14],
                 "cut in the extra field": gzip_member(b"data", extra=b"x" * 40)[:30]}
        for what, stream in cases.items():
            with self.subTest(what):
                r = self.decompress(stream)
                self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: data error"), stdout=b"")

    def test_member_cut_off_right_after_its_header(self):
        # The read that meets the cut delivers nothing and fails at once, so
        # the copy loop reports the reader's own text.
        r = self.decompress(gzip_member(b"data", name=b"n")[:12])
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: unexpected end of file"), stdout=b"")

    def test_bad_header_of_a_later_member(self):
        r = self.decompress(gzip_member(b"first") + b"\x1f\x8b\x07")
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: data error"), stdout=b"first")

    def test_engine_message_for_corrupt_deflate_data(self):
        # A stored block of five bytes, then a block of type 3, which does
        # not exist.
        stream = (b"\x1f\x8b\x08\x00" + bytes(4) + b"\x00\x03" + b"\x00\x05\x00\xfa\xff"
                  + b"hello" + b"\x07" + bytes(16))
        r = self.decompress(stream)
        self.assertOutcome(r, 1, stderr=self.msg("<fd:0>: invalid block type"), stdout=b"hello")


class FormatSniffing(ZpressTestCase):
    def test_header_cut_off_after_the_magic(self):
        for stream, text in ((b"\x1f\x8b", "<fd:0>: data error"),
                             (b"\x1f\x8bA", "<fd:0>: data error"),
                             (b"\x1f\x8b\x08", "<fd:0>: data error"),
                             (b"\x1f\x9d", "can't zread\n")):
            with self.subTest(stream=stream):
                r = self.run_zpress("-d", input=stream)
                self.assertOutcome(r, 1, stderr=self.msg(text), stdout=b"")

    def test_too_short_for_magic(self):
        for stream in (b"", b"\x1f", b"\x8b"):
            with self.subTest(stream=stream):
                r = self.run_zpress("-d", input=stream)
                self.assertOutcome(r, 1, stderr=self.msg("can't read header\n"), stdout=b"")

    def test_other_formats_are_refused(self):
        for stream in (b"PK\x03\x04rest", b"plain text\n", b"\x1f\x9e\x00\x00", b"\x8b\x1f"):
            with self.subTest(stream=stream):
                r = self.run_zpress("-d", input=stream)
                self.assertOutcome(r, 1, stderr=self.msg("not in gzip format"), stdout=b"")

    def test_options_besides_d_do_not_matter(self):
        r = self.run_zpress("-c", "-d", "-f", "-1", input=gzip_member(b"xyz"))
        self.assertOutcome(r, 0, stdout=b"xyz")


class SlowPipe(ZpressTestCase):
    def test_gzip_stream_trickling_in(self):
        data = sample_text(30000)
        stream = gzip_member(data, name=b"n") + gzip_member(b"second")
        # One byte at a time up to the flags, then odd small pieces.
        pieces = [1, 1, 1, 1, 3, 2, 5, 7] + [11] * 60
        self.assertOutcome(run_fed_in_pieces(["-d"], stream, pieces), 0,
                           stdout=data + b"second")

    def test_refusal_waits_for_the_second_byte(self):
        self.assertOutcome(run_fed_in_pieces(["-d"], b"\x1fZ", [1]), 1,
                           stderr=self.msg("not in gzip format"), stdout=b"")


if __name__ == "__main__":
    unittest.main()
