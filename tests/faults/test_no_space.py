"""A full disk, in filter mode and in file mode, compressing and
decompressing: when a block write fails and when only the final write at the
close fails.  Every case must end with status 1 and one line on standard
error, keep the input as it was, leave no output file behind, and never pass
a damaged output off as a success.  (Standard output on /dev/full is in tests/cli/test_output_failures.py.)"""

import gzip
import os
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member
from zptest.lzw import lzw_encode
from zptest.small_disk import SmallDisk, private_mount_namespace

# Big enough that output leaves in full 16 KiB blocks, or small enough that it
# all waits for the close.
BIG_RANDOM = random_bytes(200_000)
SMALL_RANDOM = random_bytes(10_000)
BIG_TEXT = sample_text(600_000)
SMALL_TEXT = sample_text(3_000)


class FullDisk(ZpressTestCase):
    """Outputs on a tiny tmpfs that runs out of space: ENOSPC at a block write
    or only at the close."""

    @classmethod
    def setUpClass(cls):
        reason = private_mount_namespace()
        if reason:
            raise unittest.SkipTest(reason)

    def compress_file(self, data, free_pages):
        with SmallDisk(pages=160) as disk:
            src = disk.file("data")
            self.write(src, data)
            disk.leave_free(free_pages)
            result = self.run_zpress(src)
            self.assertOneLineFailure(result)
            self.assertEqual(self.read(src), data, "the input must be kept")
            self.assertFalse(os.path.exists(src + ".gz"))
            return result

    def test_compress_file_fails_at_a_block_write(self):
        result = self.compress_file(BIG_RANDOM, free_pages=6)
        # The stream's error text names the output as the command line did.
        self.assertRegex(result.stderr.decode(), r": /\S+/data\.gz: file error\n\Z")

    def test_compress_file_fails_at_the_close(self):
        # 10 KB of output, all written by the close, into one free page.
        result = self.compress_file(SMALL_RANDOM, free_pages=1)
        self.assertIn(b"failed gzclose", result.stderr)

    def decompress_file(self, data, free_pages):
        with SmallDisk(pages=48) as disk:
            src = disk.file("data.gz")
            packed = gzip_member(data)
            self.write(src, packed)
            disk.leave_free(free_pages)
            result = self.run_zpress("-d", src)
            self.assertOneLineFailure(result)
            self.assertEqual(self.read(src), packed, "the input must be kept")
            self.assertFalse(os.path.exists(disk.file("data")))
            return result

    def test_decompress_file_fails_at_a_block_write(self):
        self.decompress_file(BIG_TEXT, free_pages=4)

    def test_decompress_file_fails_at_the_close(self):
        # 3 KB of output wait in the stdio buffer until the close; no room.
        result = self.decompress_file(SMALL_TEXT, free_pages=0)
        self.assertIn(b"failed fclose", result.stderr)

    def filter_to_disk(self, args, data, free_pages):
        with SmallDisk(pages=48) as disk:
            out_path = disk.file("out")
            with open(out_path, "wb") as out:
                disk.leave_free(free_pages)
                self.assertOneLineFailure(self.run_zpress(*args, input=data, stdout=out))

    def test_compress_filter_to_a_full_disk(self):
        with self.subTest("block write"):
            self.filter_to_disk([], BIG_RANDOM, free_pages=2)
        with self.subTest("close"):
            self.filter_to_disk([], SMALL_RANDOM, free_pages=1)

    def test_decompress_filter_to_a_full_disk(self):
        with self.subTest("gzip, block write"):
            self.filter_to_disk(["-d"], gzip_member(BIG_TEXT), free_pages=2)
        with self.subTest("gzip, close"):
            self.filter_to_disk(["-d"], gzip_member(SMALL_TEXT), free_pages=0)
        with self.subTest(".Z"):
            self.filter_to_disk(["-d"], lzw_encode(BIG_TEXT), free_pages=2)

    def test_disk_full_in_the_middle_of_a_run(self):
        # 25 inputs of 100 KiB, most of the disk: it fills during some job.
        # Every input is either done (its output whole, the input gone) or
        # untouched (no output beside it).
        with SmallDisk(pages=1024) as disk:
            names = [disk.file("f%02d" % i) for i in range(25)]
            for i, n in enumerate(names):
                self.write(n, random_bytes(100_000, seed=i))
            result = self.run_zpress(*names)
            self.assertOneLineFailure(result)
            done = 0
            for i, n in enumerate(names):
                if os.path.exists(n + ".gz"):
                    self.assertFalse(os.path.exists(n), n)
                    self.assertEqual(gzip.decompress(self.read(n + ".gz")),
                                     random_bytes(100_000, seed=i))
                    done += 1
                else:
                    self.assertEqual(self.read(n), random_bytes(100_000, seed=i))
            self.assertTrue(0 < done < len(names), done)

    def test_with_room_enough_the_same_job_is_complete(self):
        # The counterpart: with room enough the same job succeeds, and what it
        # leaves is the whole data.
        with SmallDisk(pages=160) as disk:
            src = disk.file("data")
            self.write(src, BIG_RANDOM)
            disk.leave_free(60)
            result = self.run_zpress(src)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertFalse(os.path.exists(src))
            self.assertEqual(gzip.decompress(self.read(src + ".gz")), BIG_RANDOM)


class FailingSync(ZpressTestCase):
    """A disk that accepted the data but cannot write it back: every fsync
    fails (a preloaded stand-in).  No input may go; no output may stay."""

    def test_outputs_that_cannot_be_synced_are_removed_and_inputs_kept(self):
        shim = os.environ.get("ZPRESS_FAILING_FSYNC")
        if not shim:
            self.skipTest("the failing fsync stand-in was not built")
        env = dict(os.environ, LD_PRELOAD=shim,
                   ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        for args in (["a", "b"], ["-d", "a.gz", "b.gz"]):
            self.clear()
            names = [a for a in args if a != "-d"]
            for n in names:
                self.write(n, gzip_member(SMALL_TEXT) if n.endswith(".gz") else SMALL_TEXT)
            result = self.run_zpress(*args, env=env)
            self.assertEqual(result.returncode, 1, result.stderr)
            outputs = [n[:-3] if n.endswith(".gz") else n + ".gz" for n in names]
            self.assertEqual(result.stderr,
                             b"".join(self.msg("can't fsync " + o) for o in outputs))
            self.assertEqual(self.listing(), sorted(names))


if __name__ == "__main__":
    unittest.main(verbosity=2)
