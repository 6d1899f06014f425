"""zpress-read as a user meets it: byte and line ranges compared with
Python's gzip module, the index file beside the data (made, loaded,
refused and replaced), --info, --verify, damaged data, usage errors and an
early closed pipe.  ZPRESS names the zpress-read executable."""

import gzip
import os
import random
import subprocess
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.index_file import as_version
from zptest.process import TIMEOUT


def line_starts(data):
    starts = [0]
    at = data.find(b"\n")
    while at >= 0:
        starts.append(at + 1)
        at = data.find(b"\n", at + 1)
    return starts


def expected(data, starts, byte=0, line=None, count=None, lines=None):
    """What a range should give, from the plain data."""
    if line is not None:
        if line - 1 >= len(starts):
            return b""
        begin = starts[line - 1]
    else:
        begin = min(byte, len(data))
    end = len(data)
    if lines is not None:
        end = begin
        for _ in range(lines):
            newline = data.find(b"\n", end)
            if newline < 0:
                end = len(data)
                break
            end = newline + 1
    if count is not None:
        end = min(end, begin + count)
    return data[begin:end]


# Three kinds of data: text in several members, binary with a few
# newlines, and text whose last line has no newline.
def streams():
    text = sample_text(3_000_000, seed=5)
    members = b"".join(gzip.compress(text[a:a + MEMBER], 6) for a in range(0, len(text), MEMBER))
    binary = random_bytes(1_500_000, seed=11)
    unended = sample_text(2_000_001, seed=9).rstrip(b"\n") + b"end"
    return {"members": (text, members),
            "binary": (binary, gzip.compress(binary, 1)),
            "unended": (unended, gzip.compress(unended, 9))}


MEMBER = 700_000
STREAMS = streams()


class ZpressRead(ZpressTestCase):
    def setUp(self):
        super().setUp()
        self.prog = "zpress-read"

    def put(self, kind, name="d.gz"):
        plain, packed = STREAMS[kind]
        self.write(name, packed)
        return plain

    def run_ok(self, *args):
        r = self.run_zpress(*args)
        self.assertEqual((r.returncode, r.stderr), (0, b""), args)
        return r.stdout

    def assertRefused(self, result, name):
        self.assertEqual(result.returncode, 0, result.stderr)
        err = result.stderr.decode()
        self.assertRegex(err, r"\Azpress-read: [^\n]*%s[^\n]*\n\Z" % name)

    def test_ranges_at_random_places_match_python_gzip(self):
        rng = random.Random(32)
        for kind in STREAMS:
            with self.subTest(kind=kind):
                self.clear()
                plain = self.put(kind)
                starts = line_starts(plain)
                for i in range(70):
                    count = rng.choice([None, 1, 4096, rng.randrange(200000)])
                    lines = rng.choice([None, None, 1, 10, rng.randrange(3000)])
                    args, want = [], {}
                    if i % 2:
                        line = rng.randrange(1, len(starts) + 3)
                        args += ["-L", str(line)]
                        want["line"] = line
                    else:
                        byte = rng.randrange(len(plain) + 100)
                        args += ["--byte=%d" % byte]
                        want["byte"] = byte
                    if count is not None:
                        args += ["-n", str(count)]
                    if lines is not None:
                        args += ["--lines", str(lines)]
                    if lines is not None:
                        want["lines"] = lines
                    out = self.run_ok(*args, "d.gz")
                    self.assertEqual(out, expected(plain, starts, count=count, **want), args)
                self.assertTrue(self.exists("d.gz.zpi"))

    def test_first_use_saves_the_index_and_later_uses_load_it(self):
        plain = self.put("members")
        starts = line_starts(plain)
        self.assertEqual(self.run_ok("-L", "3000", "-l", "2", "d.gz"),
                         expected(plain, starts, line=3000, lines=2))
        first = os.stat(self.path("d.gz.zpi"))
        self.assertEqual(self.run_ok("-L", "3000", "-l", "2", "d.gz"),
                         expected(plain, starts, line=3000, lines=2))
        self.assertEqual(os.stat(self.path("d.gz.zpi")).st_ino, first.st_ino)  # not rewritten
        # Reading further notes more places, and the index grows.
        self.run_ok("-b", str(len(plain) - 10), "d.gz")
        self.assertGreater(os.path.getsize(self.path("d.gz.zpi")), first.st_size)
        self.assertEqual(self.run_ok("--verify", "d.gz"), b"")
        # --build replaces it with a whole one, -I names another place.
        self.assertEqual(self.run_ok("--build", "-I", "other.idx", "d.gz"), b"")
        self.assertEqual(self.run_ok("-I", "other.idx", "-L", "3", "-l", "1", "d.gz"),
                         expected(plain, starts, line=3, lines=1))

    def test_refused_index_is_reported_rebuilt_and_replaced(self):
        plain = self.put("members")
        self.put("binary", "other.gz")
        self.run_ok("--build", "d.gz")
        self.run_ok("--build", "other.gz")
        good = self.read("d.gz.zpi")
        edited = bytearray(good)
        edited[len(edited) // 2] ^= 0x10
        cases = {"edited": bytes(edited), "foreign": self.read("other.gz.zpi"),
                 "truncated": good[:100], "garbage": b"not an index\n"}
        for case, index in cases.items():
            with self.subTest(case=case):
                self.write("d.gz.zpi", index)
                r = self.run_zpress("-b", "1000000", "-n", "100", "d.gz")
                self.assertRefused(r, "d.gz.zpi")
                self.assertEqual(r.stdout, plain[1000000:1000100])
                self.assertEqual(self.run_ok("--verify", "d.gz"), b"")
        # Stale: the data changed under its index.
        self.write("d.gz", gzip.compress(plain[:-1]))
        r = self.run_zpress("-L", "2", "-l", "1", "d.gz")
        self.assertRefused(r, "d.gz.zpi")
        self.assertEqual(self.run_ok("--verify", "d.gz"), b"")

    def test_index_refused_at_first_use_is_reported_and_replaced(self):
        # Two middle members swapped: same size, same first and last 64 KiB,
        # so only the places' compressed bytes tell.
        plain = STREAMS["members"][0]
        chunks = [plain[a:a + MEMBER] for a in range(0, len(plain), MEMBER)]
        self.write("d.gz", b"".join(gzip.compress(c, 6, mtime=0) for c in chunks))
        self.run_ok("--build", "d.gz")
        built = self.read("d.gz.zpi")
        chunks[1], chunks[2] = chunks[2], chunks[1]
        self.write("d.gz", b"".join(gzip.compress(c, 6, mtime=0) for c in chunks))
        now = b"".join(chunks)
        r = self.run_zpress("-b", str(2 * MEMBER + 1000), "-n", "100", "d.gz")
        self.assertRefused(r, "d.gz.zpi")
        self.assertEqual(r.stdout, now[2 * MEMBER + 1000:2 * MEMBER + 1100])
        self.assertNotEqual(self.read("d.gz.zpi"), built)
        self.assertEqual(self.run_ok("--verify", "d.gz"), b"")

    def test_index_of_the_format_before_is_used_and_saved_anew(self):
        plain = self.put("members")
        self.run_ok("--build", "d.gz")
        current = self.read("d.gz.zpi")
        self.write("d.gz.zpi", as_version(current, 2))
        self.assertEqual(self.run_ok("-L", "5000", "-l", "3", "d.gz"),
                         expected(plain, line_starts(plain), line=5000, lines=3))
        self.assertEqual(self.read("d.gz.zpi"), current)  # saved again, as now

    def test_directory_it_cannot_write(self):
        plain = self.put("members")
        if os.geteuid() == 0:
            self.prepare_to_run_as_nobody()
            os.chmod(self.path("d.gz"), 0o644)
            r = self.run_as_nobody("-L", "5000", "-l", "3", "d.gz")
        else:
            os.chmod(self.dir, 0o555)
            r = self.run_zpress("-L", "5000", "-l", "3", "d.gz")
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(r.stdout, expected(plain, line_starts(plain), line=5000, lines=3))
        self.assertFalse(self.exists("d.gz.zpi"))

    def test_no_index(self):
        plain = self.put("members")
        self.assertEqual(self.run_ok("--no-index", "-b", "2000000", "-n", "9", "d.gz"),
                         plain[2000000:2000009])
        self.assertFalse(self.exists("d.gz.zpi"))
        self.write("d.gz.zpi", b"garbage")
        self.assertEqual(self.run_ok("--no-index", "-L", "2", "-l", "1", "d.gz"),
                         expected(plain, line_starts(plain), line=2, lines=1))
        self.assertEqual(self.read("d.gz.zpi"), b"garbage")

    def test_info(self):
        for kind, members in (("members", 5), ("unended", 1)):
            with self.subTest(kind=kind):
                self.clear()
                plain = self.put(kind)
                for run in ("first use", "loaded"):
                    info = dict(line.split(": ") for line in
                                self.run_ok("--info", "d.gz").decode().splitlines())
                    self.assertEqual(int(info["uncompressed size"]), len(plain), run)
                    self.assertEqual(int(info["lines"]), plain.count(b"\n"), run)
                    self.assertEqual(int(info["members"]), members, run)
                    self.assertGreater(int(info["access points"]), 5, run)
                    self.assertEqual(int(info["index file size"]),
                                     os.path.getsize(self.path("d.gz.zpi")), run)

    def test_verify(self):
        self.put("members")
        r = self.run_zpress("--verify", "d.gz")
        self.assertOneLineFailure(r)  # no index yet
        self.run_ok("--build", "d.gz")
        self.assertEqual(self.run_ok("--verify", "d.gz"), b"")
        index = bytearray(self.read("d.gz.zpi"))
        index[-30] ^= 1
        self.write("d.gz.zpi", bytes(index))
        r = self.run_zpress("--verify", "d.gz")
        self.assertOneLineFailure(r)
        self.assertIn(b"d.gz.zpi", r.stderr)

    def test_damaged_cut_missing_and_foreign_data(self):
        plain, packed = STREAMS["members"]
        # Inside the third member: what comes before it is sound.  (Bytes
        # decoded from a damaged member before its trailer cannot be told
        # wrong: gzip checks a member as a whole.)
        third = len(gzip.compress(plain[:MEMBER], 6)) + len(gzip.compress(plain[MEMBER:2 * MEMBER], 6))
        damaged = bytearray(packed)
        damaged[third + 5000:third + 5040] = bytes(40)
        for case, data in (("damaged", bytes(damaged)), ("cut", packed[:len(packed) * 2 // 3])):
            for args in ([], ["-b", "100"], ["-L", "10"], ["-L", "99999999"]):
                with self.subTest(case=case, args=args):
                    self.clear()
                    self.write("d.gz", data)
                    r = self.run_zpress(*args, "d.gz")
                    self.assertOneLineFailure(r)
                    begin = 100 if args[:1] == ["-b"] else 0
                    if args[:1] == ["-L"]:
                        begin = line_starts(plain)[9]
                    sound = min(len(r.stdout), 2 * MEMBER - begin)
                    self.assertEqual(r.stdout[:sound], plain[begin:begin + sound])
                    if not args:
                        self.assertGreaterEqual(len(r.stdout), 2 * MEMBER)  # good bytes first
        self.write("plain", b"not gzip data\n")
        for name in ("plain", "missing.gz", "."):
            with self.subTest(name=name):
                self.assertOneLineFailure(self.run_zpress(name))

    def test_past_the_end_writes_nothing(self):
        plain = self.put("unended")
        for args in (["-b", str(len(plain))], ["-b", str(len(plain) + 1)],
                     ["-L", str(plain.count(b"\n") + 2)], ["-L", "999999999999"]):
            with self.subTest(args=args):
                self.assertEqual(self.run_ok(*args, "d.gz"), b"")

    def test_usage_errors(self):
        self.put("members")
        for args in (["-x", "d.gz"], ["--bogus", "d.gz"], ["-n", "ten", "d.gz"],
                     ["-b", "-5", "d.gz"], ["-L", "0", "d.gz"], ["-b", "1", "-L", "2", "d.gz"],
                     ["--byte"], [], ["d.gz", "d.gz"], ["--build", "--info", "d.gz"],
                     ["-b", "99999999999999999999", "d.gz"]):
            with self.subTest(args=args):
                r = self.run_zpress(*args)
                self.assertEqual(r.returncode, 2, r.stderr)
                self.assertEqual(r.stdout, b"")
                self.assertTrue(r.stderr.startswith(b"zpress-read: "), r.stderr)
        self.assertIn(b"--lines", self.run_ok("--help"))
        self.assertRegex(self.run_ok("-V").decode(), r"\Azpress-read \d+\.\d+\.\d+, based on zlib ")
        # Grouped short options and "--".
        self.write("-d.gz", STREAMS["members"][1])
        self.assertEqual(self.run_ok("-n5", "--", "-d.gz"), STREAMS["members"][0][:5])

    def test_reader_closing_the_pipe_early_ends_quietly(self):
        plain = self.put("members")
        child = subprocess.Popen([os.environ["ZPRESS"], "d.gz"], cwd=self.dir,
                                 stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertEqual(child.stdout.read(10), plain[:10])
        child.stdout.close()
        err = child.stderr.read()
        child.stderr.close()
        self.assertEqual((child.wait(TIMEOUT), err), (0, b""))


if __name__ == "__main__":
    unittest.main()
