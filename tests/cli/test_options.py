"""Command-line options and the compression filter (standard input to
standard output)."""

import os
import re
import unittest
import zlib

from zptest.case import ZpressTestCase
from zptest.data import sample_text
from zptest.gzip_members import gzip_member, raw_deflate, split_members
from zptest.process import closing

# The header the compressor writes before a stream on standard output:
# magic, deflate, FNAME only, MTIME 0, XFL 0, OS Unix, then "<fd:1>\0".
FD1_HEADER = bytes.fromhex("1f8b0808000000000003") + b"<fd:1>\x00"


def zlib_header_version():
    """The engine version as its interface declares it at compile time."""
    with open("/usr/include/zlib.h", encoding="ascii", errors="replace") as f:
        match = re.search(r'#define\s+ZLIB_VERSION\s+"([^"]+)"', f.read())
    return match.group(1)


class UsageAndVersion(ZpressTestCase):
    def setUp(self):
        super().setUp()
        # argv[0] exactly as a user would type it: a relative path to the
        # build tree, and a symbolic link in a directory of its own.
        os.mkdir(self.path("bin"))
        os.symlink(self.prog, self.path("bin/tool"))
        self.names = [os.path.relpath(self.prog, self.dir), "./bin/tool"]

    def usage(self, prog):
        return ("usage: %s [-cdfhV19] [file ...]\n" % prog).encode()

    def version(self, prog):
        return ("%s, based on zlib %s\n" % (prog, zlib_header_version())).encode()

    def test_usage_line_names_the_program_as_called(self):
        for prog in self.names:
            with self.subTest(prog=prog):
                r = self.run_zpress("-h", prog=prog)
                self.assertOutcome(r, 0, stdout=self.usage(prog))

    def test_version_line_names_the_compile_time_engine(self):
        for prog in self.names:
            with self.subTest(prog=prog):
                r = self.run_zpress("-V", prog=prog)
                self.assertOutcome(r, 0, stdout=self.version(prog))

    def test_first_of_help_and_version_wins(self):
        prog = "./bin/tool"
        cases = [(["-d", "-h"], self.usage(prog)),
                 (["-V", "-h"], self.version(prog)),
                 (["-h", "-V"], self.usage(prog)),
                 (["-c", "-f", "-9", "-V"], self.version(prog)),
                 # nothing after -h is looked at, not even a missing file
                 (["-h", "no-such-file"], self.usage(prog))]
        for args, expected in cases:
            with self.subTest(args=args):
                r = self.run_zpress(*args, prog=prog)
                self.assertOutcome(r, 0, stdout=expected)
        self.assertEqual(self.listing(), ["bin"])

    def test_lines_that_cannot_be_written_fail(self):
        for opt in ("-h", "-V"):
            with self.subTest(opt=opt), open("/dev/full", "wb") as full:
                r = self.run_zpress(opt, stdout=full)
                self.assertOutcome(r, 1, stderr=self.msg(
                    "can't write standard output: No space left on device"))
            with self.subTest(opt=opt, stdout="closed"):
                r = self.run_zpress(opt, preexec_fn=closing(1))
                self.assertOutcome(r, 1, stderr=self.msg(
                    "can't write standard output: Bad file descriptor"))

    def test_program_name_in_failure_messages(self):
        r = self.run_zpress(prog="./bin/tool", preexec_fn=closing(1))
        self.assertOutcome(r, 1, stderr=b"./bin/tool: can't gzdopen stdout\n")


class CompressionFilter(ZpressTestCase):
    def test_header_and_trailer_of_a_stream_on_stdout(self):
        r = self.run_zpress(input=b"hello")
        self.assertOutcome(r, 0)
        out = r.stdout
        self.assertEqual(out[:17], FD1_HEADER)
        self.assertEqual(out[-8:], zlib.crc32(b"hello").to_bytes(4, "little") + b"\x05\0\0\0")
        self.assertEqual(out[17:-8], raw_deflate(b"hello", 6))
        self.assertEqual(zlib.decompress(out, 31), b"hello")

    def test_empty_input_gives_one_complete_empty_member(self):
        r = self.run_zpress(input=b"")
        self.assertOutcome(r, 0)
        self.assertEqual(r.stdout, FD1_HEADER + raw_deflate(b"", 6) + bytes(8))
        (member,) = split_members(r.stdout)
        self.assertEqual(member["data"], b"")

    def test_input_larger_than_one_block(self):
        data = sample_text(200000)
        r = self.run_zpress(input=data)
        self.assertOutcome(r, 0)
        (member,) = split_members(r.stdout)
        self.assertEqual(member["data"], data)
        self.assertEqual(member["isize"], len(data))

    def test_level_options_select_the_deflate_level(self):
        data = sample_text(60000)
        expected = {level: raw_deflate(data, level) for level in range(1, 10)}
        # The levels must really differ, or this test proves nothing.
        self.assertEqual(len({expected[1], expected[6], expected[9]}), 3)
        cases = [([], 6)] + [(["-%d" % n], n) for n in range(1, 10)] + [
            (["-9", "-1"], 1), (["-1", "-9"], 9), (["-3", "-c", "-7", "-f"], 7)]
        for args, level in cases:
            with self.subTest(args=args):
                r = self.run_zpress(*args, input=data)
                self.assertOutcome(r, 0)
                (member,) = split_members(r.stdout)
                self.assertEqual(member["header"], FD1_HEADER)  # XFL stays 0
                self.assertEqual(member["deflate"], expected[level])

    def test_copy_and_force_without_files_are_the_filter(self):
        data = b"filter me\n" * 100
        for args in (["-c"], ["-f"], ["-c", "-f"]):
            with self.subTest(args=args):
                r = self.run_zpress(*args, input=data)
                self.assertOutcome(r, 0)
                self.assertEqual(r.stdout, FD1_HEADER + raw_deflate(data, 6)
                                 + gzip_member(data)[-8:])
        self.assertEqual(self.listing(), [])

    def test_closed_stdout(self):
        r = self.run_zpress(input=b"data", preexec_fn=closing(1))
        self.assertOutcome(r, 1, stderr=self.msg("can't gzdopen stdout"))


class ArgumentsThatAreFileNames(ZpressTestCase):
    def test_dash_digit_forms_outside_one_to_nine_are_files(self):
        for name in ("-0", "-10", "-cd", "-"):
            with self.subTest(name=name):
                self.write(name, b"contents of " + name.encode())
                r = self.run_zpress(name)
                self.assertOutcome(r, 0, stdout=b"")
                self.assertFalse(self.exists(name))
                (member,) = split_members(self.read(name + ".gz"))
                self.assertEqual(member["data"], b"contents of " + name.encode())
                self.assertEqual(member["deflate"], raw_deflate(member["data"], 6))

    def test_unknown_option_is_a_missing_file(self):
        r = self.run_zpress("-x")
        self.assertOutcome(r, 1, stderr=b"-x: No such file or directory\n", stdout=b"")
        self.assertEqual(self.listing(), [])

    def test_option_after_a_file_name_is_a_file_name(self):
        self.write("a", b"A")
        self.write("-c", b"C")
        r = self.run_zpress("a", "-c")
        self.assertOutcome(r, 0, stdout=b"")
        self.assertEqual(self.listing(), ["-c.gz", "a.gz"])
        self.assertEqual(split_members(self.read("-c.gz"))[0]["data"], b"C")


if __name__ == "__main__":
    unittest.main()
