"""File mode: naming of outputs, the overwrite guard, "-c", several files,
permissions of outputs, removal of inputs and over-long names."""

import gzip
import os
import resource
import shutil
import stat
import subprocess
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member, split_members
from zptest.process import TIMEOUT, closing, open_fifo_for_writing, wait_until

REPORT = sample_text(70000)  # more than one copy block


class Naming(ZpressTestCase):
    def test_compress_then_decompress_by_either_name(self):
        for given in ("report.gz", "report"):
            with self.subTest(decompress=given):
                self.clear()
                self.write("report", REPORT)
                self.assertOutcome(self.run_zpress("report"), 0, stdout=b"")
                self.assertEqual(self.listing(), ["report.gz"])
                (member,) = split_members(self.read("report.gz"))
                self.assertEqual(member["name"], b"report")
                self.assertEqual(member["data"], REPORT)

                self.assertOutcome(self.run_zpress("-d", given), 0, stdout=b"")
                self.assertEqual(self.listing(), ["report"])
                self.assertEqual(self.read("report"), REPORT)

    def test_suffix_is_appended_to_a_gz_name(self):
        self.write("report.gz", b"not compressed yet")
        self.assertOutcome(self.run_zpress("report.gz"), 0)
        self.assertEqual(self.listing(), ["report.gz.gz"])
        (member,) = split_members(self.read("report.gz.gz"))
        self.assertEqual(member["name"], b"report.gz")
        self.assertEqual(member["data"], b"not compressed yet")

    def test_decompressed_names(self):
        # (name on the command line, file read, file written)
        cases = [("a.gz", "a.gz", "a"), (".gz", ".gz.gz", ".gz"), ("x.GZ", "x.GZ.gz", "x.GZ"),
                 ("gz", "gz.gz", "gz"), ("b", "b.gz", "b")]
        for given, inname, outname in cases:
            with self.subTest(given=given):
                self.clear()
                self.write(inname, gzip_member(inname.encode()))
                self.assertOutcome(self.run_zpress("-d", given), 0)
                self.assertEqual(self.listing(), [outname])
                self.assertEqual(self.read(outname), inname.encode())

    def test_stored_name_is_the_base_name(self):
        os.makedirs(self.path("sub/dir"))
        self.write("sub/dir/report.txt", b"text")
        self.assertOutcome(self.run_zpress("sub/dir/report.txt"), 0)
        (member,) = split_members(self.read("sub/dir/report.txt.gz"))
        self.assertEqual(member["name"], b"report.txt")
        self.assertEqual(member["header"], b"\x1f\x8b\x08\x08" + bytes(5) + b"\x03report.txt\0")

    def test_level_reaches_file_jobs(self):
        data = sample_text(50000)
        self.write("f", data)
        self.assertOutcome(self.run_zpress("-1", "f"), 0)
        (member,) = split_members(self.read("f.gz"))
        self.assertEqual(member["deflate"], gzip_member(data, level=1)[10:-8])

    def test_plain_file_passes_through_unchanged(self):
        # A named file is never sniffed for the .Z format: it is copied too.
        for content in (b"plain text, not gzip\n", b"Z", b"", b"\x1f\x8c...",
                        bytes.fromhex("1f9d9061c400")):
            with self.subTest(content=content):
                self.clear()
                self.write("x.gz", content)
                self.assertOutcome(self.run_zpress("-d", "x.gz"), 0)
                self.assertEqual(self.listing(), ["x"])
                self.assertEqual(self.read("x"), content)

    def test_several_members_in_one_file(self):
        self.write("m.gz", gzip_member(b"one ") + gzip_member(b"two"))
        self.assertOutcome(self.run_zpress("-d", "m.gz"), 0)
        self.assertEqual(self.read("m"), b"one two")


class OverwriteGuard(ZpressTestCase):
    def test_existing_output_is_kept(self):
        self.write("a", b"input")
        self.write("a.gz", b"existing")
        r = self.run_zpress("a")
        self.assertOutcome(r, 1, stderr=self.msg("a.gz already exists"), stdout=b"")
        self.assertEqual((self.read("a"), self.read("a.gz")), (b"input", b"existing"))

        self.write("b.gz", gzip_member(b"input"))
        self.write("b", b"existing")
        r = self.run_zpress("-d", "b.gz")
        self.assertOutcome(r, 1, stderr=self.msg("b already exists"), stdout=b"")
        self.assertEqual((self.read("b.gz"), self.read("b")), (gzip_member(b"input"), b"existing"))

    def test_dangling_symlink_counts_as_existing(self):
        self.write("a", b"input")
        os.symlink("nowhere", self.path("a.gz"))
        self.assertOutcome(self.run_zpress("a"), 1, stderr=self.msg("a.gz already exists"))
        self.assertEqual(os.readlink(self.path("a.gz")), "nowhere")
        self.assertFalse(self.exists("nowhere"))

        self.write("b.gz", gzip_member(b"input"))
        os.symlink("nowhere", self.path("b"))
        self.assertOutcome(self.run_zpress("-d", "b"), 1, stderr=self.msg("b already exists"))
        self.assertFalse(self.exists("nowhere"))

    def test_force_replaces_a_file(self):
        self.write("a", b"input")
        self.write("a.gz", b"old contents that are longer than the new ones" * 100)
        self.assertOutcome(self.run_zpress("-f", "a"), 0)
        self.assertEqual(gzip.decompress(self.read("a.gz")), b"input")
        self.assertEqual(self.listing(), ["a.gz"])

    def test_force_replaces_only_on_success(self):
        # A job that fails leaves the existing file exactly as it was, and
        # no temporary file behind.
        cut = gzip_member(random_bytes(50000))[:20000]
        for content in (gzip_member(b"new data", crc=0), cut):
            with self.subTest(cut=content is cut):
                self.clear()
                self.write("x.gz", content)
                self.write("x", b"the old file", mode=0o640)
                before = os.lstat(self.path("x"))
                r = self.run_zpress("-d", "-f", "x.gz")
                self.assertEqual(r.returncode, 1, r.stderr)
                self.assertEqual(self.listing(), ["x", "x.gz"])
                self.assertEqual(self.read("x"), b"the old file")
                after = os.lstat(self.path("x"))
                self.assertEqual((after.st_ino, after.st_mode, after.st_mtime_ns),
                                 (before.st_ino, before.st_mode, before.st_mtime_ns))

    def test_force_does_not_write_through_links(self):
        for args, inname, outname, content in (
                (["-f"], "a", "a.gz", b"input"),
                (["-f", "-d"], "b.gz", "b", gzip_member(b"input"))):
            for kind in ("symlink", "hardlink", "dangling"):
                with self.subTest(args=args, kind=kind):
                    self.clear()
                    self.write(inname, content)
                    self.write("victim", b"victim data")
                    if kind == "symlink":
                        os.symlink("victim", self.path(outname))
                    elif kind == "hardlink":
                        os.link(self.path("victim"), self.path(outname))
                    else:
                        os.symlink("nowhere", self.path(outname))
                    self.assertOutcome(self.run_zpress(*args, inname), 0)
                    self.assertEqual(self.read("victim"), b"victim data")
                    self.assertFalse(self.exists("nowhere"))
                    st = os.lstat(self.path(outname))
                    self.assertTrue(stat.S_ISREG(st.st_mode))
                    self.assertEqual(st.st_nlink, 1)
                    result = self.read(outname)
                    self.assertEqual(result if inname == "b.gz" else gzip.decompress(result),
                                     b"input")


class ToStandardOutput(ZpressTestCase):
    def test_two_files_compressed(self):
        self.write("a", sample_text(40000, seed=5))
        self.write("b", b"bbb")
        self.write("a.gz", b"not looked at")  # no guard with -c
        r = self.run_zpress("-c", "a", "b")
        self.assertOutcome(r, 0)
        members = split_members(r.stdout)
        self.assertEqual([m["name"] for m in members], [b"<fd:1>", b"<fd:1>"])
        self.assertEqual([m["data"] for m in members], [self.read("a"), b"bbb"])
        self.assertEqual(self.listing(), ["a", "a.gz", "b"])
        self.assertEqual(self.read("a.gz"), b"not looked at")

    def test_two_files_decompressed(self):
        first, second = random_bytes(30000), b"second file\n"
        self.write("a.gz", gzip_member(first))
        self.write("b.gz", gzip_member(second))
        self.write("b", b"not looked at")
        r = self.run_zpress("-d", "-c", "a.gz", "b")
        self.assertOutcome(r, 0, stdout=first + second)
        self.assertEqual(self.listing(), ["a.gz", "b", "b.gz"])
        self.assertEqual(self.read("b"), b"not looked at")

    def test_stdout_closed(self):
        self.write("a", b"input")
        r = self.run_zpress("-c", "a", preexec_fn=closing(1))
        self.assertOutcome(r, 1, stderr=self.msg("can't gzopen a.gz"))
        self.assertEqual(self.listing(), ["a"])


class SeveralFiles(ZpressTestCase):
    def test_compress_stops_at_the_first_failure(self):
        self.write("a", b"first")
        self.write("c", b"third")
        r = self.run_zpress("a", "missing", "c")
        self.assertOutcome(r, 1, stderr=b"missing: No such file or directory\n", stdout=b"")
        self.assertEqual(self.listing(), ["a.gz", "c"])
        self.assertEqual(gzip.decompress(self.read("a.gz")), b"first")
        self.assertEqual(self.read("c"), b"third")

    def test_decompress_stops_at_the_first_failure(self):
        self.write("a.gz", gzip_member(b"first"))
        self.write("c.gz", gzip_member(b"third"))
        r = self.run_zpress("-d", "a.gz", "missing", "c.gz")
        self.assertOutcome(r, 1, stderr=self.msg("can't gzopen missing.gz"), stdout=b"")
        self.assertEqual(self.listing(), ["a", "c.gz"])
        self.assertEqual(self.read("a"), b"first")

    def test_all_files_done_in_order(self):
        names = ["f%d" % i for i in range(5)]
        for n in names:
            self.write(n, n.encode() * 1000)
        self.assertOutcome(self.run_zpress(*names), 0)
        self.assertEqual(self.listing(), [n + ".gz" for n in names])
        self.assertOutcome(self.run_zpress("-d", *names), 0)
        for n in names:
            self.assertEqual(self.read(n), n.encode() * 1000)


class FinishedJobs(ZpressTestCase):
    """Inputs of finished jobs are removed in groups, once their outputs are
    on disk; whatever ends the run, every finished job is completed."""

    def test_more_files_than_a_group(self):
        names = ["f%03d" % i for i in range(150)]
        for n in names:
            self.write(n, n.encode() * 50)
        self.assertOutcome(self.run_zpress(*names), 0)
        self.assertEqual(self.listing(), [n + ".gz" for n in names])
        self.assertOutcome(self.run_zpress("-d", *names), 0)
        self.assertEqual(self.listing(), names)
        for n in names:
            self.assertEqual(self.read(n), n.encode() * 50)

    def test_a_low_limit_of_open_files(self):
        # A group holds two descriptors per job: it must shrink to fit.
        names = ["f%02d" % i for i in range(40)]
        for n in names:
            self.write(n, n.encode())
        for limit in (24, 48):
            with self.subTest(limit=limit):
                def lower_limit():
                    resource.setrlimit(resource.RLIMIT_NOFILE, (limit, limit))
                r = self.run_zpress(*names, preexec_fn=lower_limit)
                self.assertOutcome(r, 0)
                self.assertEqual(self.listing(), [n + ".gz" for n in names])
                self.assertOutcome(self.run_zpress("-d", *names), 0)
                self.assertEqual(self.listing(), names)

    def test_a_failure_after_the_input_was_opened_completes_the_others(self):
        self.write("a.gz", gzip_member(b"first"))
        damaged = gzip_member(random_bytes(50000))
        self.write("b.gz", damaged[:len(damaged) // 2])
        self.write("c.gz", gzip_member(b"third"))
        r = self.run_zpress("-d", "a.gz", "b.gz", "c.gz")
        self.assertOutcome(r, 1, stderr=self.msg("b.gz: unexpected end of file"), stdout=b"")
        # The partly written output is removed again.
        self.assertEqual(self.listing(), ["a", "b.gz", "c.gz"])
        self.assertEqual(self.read("a"), b"first")

    def test_an_existing_output_completes_the_others(self):
        for n in ("a", "b", "c"):
            self.write(n, n.encode())
        self.write("b.gz", b"kept")
        r = self.run_zpress("a", "b", "c")
        self.assertEqual(r.returncode, 1, r.stderr)
        self.assertEqual(self.listing(), ["a.gz", "b", "b.gz", "c"])
        self.assertEqual(self.read("b.gz"), b"kept")

    def test_jobs_on_the_names_of_finished_ones(self):
        # f's output is the next job's input.
        self.write("f", REPORT)
        self.assertOutcome(self.run_zpress("f", "f.gz"), 0)
        self.assertEqual(self.listing(), ["f.gz.gz"])
        self.assertEqual(gzip.decompress(gzip.decompress(self.read("f.gz.gz"))), REPORT)
        # g.gz's input is the next job's output: it must be gone first.
        self.clear()
        self.write("g.gz", b"plain")
        self.write("g", REPORT)
        self.assertOutcome(self.run_zpress("g.gz", "g"), 0)
        self.assertEqual(self.listing(), ["g.gz", "g.gz.gz"])
        self.assertEqual(gzip.decompress(self.read("g.gz.gz")), b"plain")
        self.assertEqual(gzip.decompress(self.read("g.gz")), REPORT)

    def test_directory_synced_before_the_first_removal(self):
        # On a file system without ordered metadata, an output's name is
        # durable only once its directory is synced (alone, or with its
        # whole file system).
        if not shutil.which("strace"):
            self.skipTest("strace is not installed")
        names = ["f%d" % i for i in range(10)]
        for n in names:
            self.write(n, n.encode() * 100)
        trace = self.path("trace")
        # The leak checker does not work under ptrace.
        env = dict(os.environ, ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":detect_leaks=0")
        r = subprocess.run(["strace", "-f", "-y", "-o", trace, "-e", "trace=fsync,syncfs,unlinkat",
                            self.prog, *names], cwd=self.dir, capture_output=True,
                           timeout=TIMEOUT, env=env)
        if r.returncode != 0 and b"PTRACE" in r.stderr:
            self.skipTest("strace can't trace here: %r" % r.stderr)
        self.assertEqual(r.returncode, 0, r.stderr)
        with open(trace) as f:
            calls = [line.split(None, 1)[1] for line in f if "(" in line]
        here = os.path.realpath(self.dir)
        syncs = [i for i, c in enumerate(calls) if c.startswith(("fsync(", "syncfs("))
                 and c.split(")")[0].endswith("<%s>" % here)]
        removals = [i for i, c in enumerate(calls) if c.startswith("unlinkat(")]
        self.assertEqual(len(removals), 10, calls)
        self.assertTrue(syncs and syncs[0] < removals[0], calls)
        self.assertEqual(self.listing(), sorted(n + ".gz" for n in names) + ["trace"])

    def test_an_input_that_may_block_waits_for_no_finished_job(self):
        self.write("a", REPORT)
        os.mkfifo(self.path("slow"))
        child = self.start_zpress("a", "slow")
        fd = open_fifo_for_writing(self.path("slow"), child)
        # The FIFO's writer has not written yet: the first job is complete.
        # (The job on the FIFO may already have created its output.)
        self.assertNotIn("a", self.listing())
        self.assertIn("a.gz", self.listing())
        with open(fd, "wb") as w:
            w.write(b"late")
        self.assertOutcome(self.finish(child), 0)
        self.assertEqual(self.listing(), ["a.gz", "slow.gz"])
        self.assertEqual(gzip.decompress(self.read("a.gz")), REPORT)


class FailingJobs(ZpressTestCase):
    """A job that fails leaves no output behind and keeps its input; the
    jobs before it are done, the names after it untouched."""

    def check_directory_among_the_names(self, run, folder):
        # The directory is refused before anything is written, even with "-f"
        # and a file already at its output name, and even to standard output.
        def at(name):
            return os.path.join(folder, name)

        for args, names, its_output, message in (
                ([], ["a", "d", "b"], "d.gz", b"fread: Is a directory\n"),
                (["-d"], ["a.gz", "d.gz", "b.gz"], "d", self.msg(at("d.gz") + ": file error"))):
            with self.subTest(args=args, folder=folder):
                for entry in os.scandir(self.path(folder)):
                    (shutil.rmtree if entry.is_dir() else os.unlink)(entry.path)
                first, last = b"first", b"last"
                if args:
                    first, last = gzip_member(first), gzip_member(last)
                self.write(at(names[0]), first)
                self.write(at(names[2]), last)
                os.mkdir(self.path(at(names[1])))
                self.write(at(its_output), b"kept")
                r = run("-f", *args, *[at(n) for n in names])
                self.assertOutcome(r, 1, stderr=message, stdout=b"")
                done = "a" if args else "a.gz"
                self.assertEqual(sorted(os.listdir(self.path(folder))),
                                 sorted([done, names[1], its_output, names[2]]))
                out = self.read(at(done))
                self.assertEqual(out if args else gzip.decompress(out), b"first")
                self.assertEqual(self.read(at(names[2])), last)
                self.assertEqual(self.read(at(its_output)), b"kept")
                self.assertOutcome(run("-c", *args, at(names[1])), 1, stderr=message, stdout=b"")

    def test_directory_among_the_names(self):
        os.mkdir(self.path("mine"))
        self.check_directory_among_the_names(self.run_zpress, "mine")
        if os.geteuid() == 0:
            self.prepare_to_run_as_nobody()
            os.mkdir(self.path("home"))
            os.chown(self.path("home"), self.NOBODY, self.NOBODY)
            self.check_directory_among_the_names(self.run_as_nobody, "home")

    def test_damaged_input_is_kept(self):
        # (content, report, what -c writes before the failure: None for a
        # prefix of the data)
        first, second = random_bytes(50000), b"second member"
        good = gzip_member(first)
        two = good + gzip_member(second)
        later = bytearray(gzip_member(second))
        later[0] ^= 0x02
        bad_name = bytearray(gzip_member(b"data", name=b"in", header_crc=True))
        bad_name[10] ^= 0x01  # the header's CRC no longer matches
        cases = {"cut in half": (good[:len(good) // 2], "in.gz: unexpected end of file", None),
                 "cut before the trailer": (good[:-8], "in.gz: data error", first),
                 "bad crc": (gzip_member(b"data", crc=0), "in.gz: data error", b"data"),
                 "bad length": (gzip_member(b"data", isize=5), "in.gz: data error", b"data"),
                 "bad header crc": (bytes(bad_name), "in.gz: data error", b""),
                 "bad header": (good[:3] + b"\xe0" + good[4:], "in.gz: data error", b""),
                 "trailing garbage": (two + b"garbage", "in.gz: trailing garbage",
                                      first + second),
                 "a lone 1F": (two + b"\x1f", "in.gz: trailing garbage", first + second),
                 "damaged later magic": (good + bytes(later), "in.gz: trailing garbage", first)}
        for what, (content, message, written) in cases.items():
            with self.subTest(what):
                self.clear()
                self.write("in.gz", content)
                r = self.run_zpress("-d", "in.gz")
                self.assertOutcome(r, 1, stderr=self.msg(message), stdout=b"")
                self.assertEqual(self.listing(), ["in.gz"])
                self.assertEqual(self.read("in.gz"), content)
                r = self.run_zpress("-d", "-c", "in")
                self.assertOutcome(r, 1, stderr=self.msg(message))
                if written is None:
                    self.assertTrue(first.startswith(r.stdout))
                else:
                    self.assertEqual(r.stdout, written)
                self.assertEqual(self.listing(), ["in.gz"])

    def test_damaged_input_is_named_with_its_directory(self):
        os.makedirs(self.path("sub/dir"))
        self.write("sub/dir/in.gz", gzip_member(b"data", crc=0))
        for given in ("sub/dir/in.gz", "sub/dir/in"):
            with self.subTest(given=given):
                r = self.run_zpress("-d", "-c", given)
                self.assertOutcome(r, 1, stderr=self.msg("sub/dir/in.gz: data error"))
                r = self.run_zpress("-d", given)
                self.assertOutcome(r, 1, stderr=self.msg("sub/dir/in.gz: data error"))
                self.assertEqual(sorted(os.listdir(self.path("sub/dir"))), ["in.gz"])

    def test_cut_off_member_names_the_input(self):
        good = gzip_member(random_bytes(50000))
        self.write("in.gz", good[:len(good) // 2])
        r = self.run_zpress("-d", "in")
        self.assertOutcome(r, 1, stderr=self.msg("in.gz: unexpected end of file"))
        self.assertTrue(self.exists("in.gz"))

    def test_missing_input_to_decompress(self):
        r = self.run_zpress("-d", "nothing.gz")
        self.assertOutcome(r, 1, stderr=self.msg("can't gzopen nothing.gz"))
        self.assertEqual(self.listing(), [])


class Permissions(ZpressTestCase):
    def run_with_umask(self, mask, *args):
        return self.run_zpress(*args, preexec_fn=lambda: os.umask(mask))

    def mode(self, name):
        return stat.S_IMODE(os.lstat(self.path(name)).st_mode)

    def test_output_never_more_accessible_than_input(self):
        # (input mode, umask, expected output mode)
        cases = [(0o600, 0o022, 0o600), (0o644, 0o022, 0o644), (0o644, 0o077, 0o600),
                 (0o640, 0o000, 0o640), (0o604, 0o000, 0o604), (0o666, 0o002, 0o664),
                 (0o400, 0o022, 0o400)]
        for in_mode, mask, out_mode in cases:
            with self.subTest(input=oct(in_mode), umask=oct(mask)):
                self.clear()
                self.write("f", b"secret", mode=in_mode)
                self.assertOutcome(self.run_with_umask(mask, "f"), 0)
                self.assertEqual(oct(self.mode("f.gz")), oct(out_mode))
                os.chmod(self.path("f.gz"), in_mode)
                self.assertOutcome(self.run_with_umask(mask, "-d", "f.gz"), 0)
                self.assertEqual(oct(self.mode("f")), oct(out_mode))
                self.assertEqual(self.read("f"), b"secret")

    def test_no_time_carried_over_but_the_owner(self):
        # Root gives the output the input's owner and group (test_job_safety
        # covers the other users); times are never carried over.
        self.write("f", b"old file", mode=0o644)
        os.utime(self.path("f"), (1000000000, 1000000000))
        owner = (os.geteuid(), os.getegid())
        if os.geteuid() == 0:
            owner = (65534, 65534)
            os.chown(self.path("f"), *owner)
        self.assertOutcome(self.run_zpress("f"), 0)
        st = os.lstat(self.path("f.gz"))
        self.assertGreater(st.st_mtime, 1000000000 + 86400)
        self.assertEqual((st.st_uid, st.st_gid), owner)

    def test_private_output_while_it_is_written(self):
        # A FIFO keeps the job in the middle of its copy: the output must
        # already have its final, private mode.
        os.mkfifo(self.path("fifo"), 0o600)
        child = self.start_zpress("fifo", preexec_fn=lambda: os.umask(0o022))
        fd = open_fifo_for_writing(self.path("fifo"), child)
        with open(fd, "wb") as w:
            w.write(b"first part ")
            w.flush()
            wait_until(lambda: self.exists("fifo.gz"), what="fifo.gz")
            self.assertEqual(oct(self.mode("fifo.gz")), oct(0o600))
            w.write(b"second part")
        self.assertOutcome(self.finish(child), 0, stdout=b"")
        self.assertEqual(gzip.decompress(self.read("fifo.gz")), b"first part second part")


    def test_no_access_through_an_acl_the_input_lacks(self):
        # The directory's default ACL would let another user read every new
        # file; the input's own ACL, or its lack of one, is what counts.
        os.mkdir(self.path("shared"))
        r = subprocess.run(["setfacl", "-d", "-m", "u:65534:rw", self.path("shared")],
                           capture_output=True)
        if r.returncode != 0:
            self.skipTest("no ACLs here: %r" % r.stderr)
        self.write("shared/in", b"secret")
        subprocess.run(["setfacl", "-b", self.path("shared/in")], check=True)
        os.chmod(self.path("shared/in"), 0o640)
        self.assertOutcome(self.run_with_umask(0o022, "shared/in"), 0)
        with self.assertRaises(OSError):
            os.getxattr(self.path("shared/in.gz"), "system.posix_acl_access")
        self.assertEqual(oct(self.mode("shared/in.gz")), oct(0o640))
        # An input's own ACL goes with its data.
        subprocess.run(["setfacl", "-m", "u:65534:r", self.path("shared/in.gz")], check=True)
        acl = os.getxattr(self.path("shared/in.gz"), "system.posix_acl_access")
        self.assertOutcome(self.run_with_umask(0o022, "-d", "shared/in"), 0)
        self.assertEqual(os.getxattr(self.path("shared/in"), "system.posix_acl_access"), acl)
        self.assertEqual(self.read("shared/in"), b"secret")


class InputRemoval(ZpressTestCase):
    """A failed removal of the input is reported and changes nothing else.
    Made to fail for a non-root user through a sticky directory holding a
    file owned by root."""

    def setUp(self):
        super().setUp()
        self.prepare_to_run_as_nobody()
        os.mkdir(self.path("sticky"))
        os.chmod(self.path("sticky"), 0o1777)
        try:
            probe = self.run_as_nobody("-h")
        except OSError as e:
            probe = e
        if getattr(probe, "returncode", None) != 0:
            self.skipTest("the unprivileged user can't run the program here: %r" % (probe,))

    def test_compress(self):
        self.write("sticky/report", REPORT, mode=0o644)
        r = self.run_as_nobody("sticky/report")
        self.assertOutcome(r, 0, stderr=self.msg("can't unlink sticky/report"))
        self.assertEqual(self.read("sticky/report"), REPORT)
        self.assertEqual(gzip.decompress(self.read("sticky/report.gz")), REPORT)

    def test_decompress_and_go_on(self):
        self.write("sticky/a.gz", gzip_member(b"A"), mode=0o644)
        self.write("sticky/b.gz", gzip_member(b"B"), mode=0o666)
        os.chown(self.path("sticky/b.gz"), self.NOBODY, self.NOBODY)
        r = self.run_as_nobody("-d", "sticky/a", "sticky/b")
        self.assertOutcome(r, 0, stderr=self.msg("can't unlink sticky/a.gz"))
        self.assertEqual(sorted(os.listdir(self.path("sticky"))), ["a", "a.gz", "b"])
        self.assertEqual((self.read("sticky/a"), self.read("sticky/b")), (b"A", b"B"))


class LongNames(ZpressTestCase):
    """Names live in a buffer of 1024 bytes: the longest derived name has 1023
    characters."""

    def make_path(self, length, content, suffix="", leaf="f"):
        """A file at a relative path of exactly `length` characters."""
        parts = []
        remaining = length
        while remaining > 200:
            parts.append("d" * 199)
            remaining -= 200
        parts.append(leaf * (remaining - len(suffix)) + suffix)
        name = "/".join(parts)
        self.assertEqual(len(name), length)
        os.makedirs(os.path.dirname(self.path(name)), exist_ok=True)
        self.write(name, content)
        return name

    def test_longest_names_that_fit(self):
        name = self.make_path(1020, b"fits")
        self.assertOutcome(self.run_zpress(name), 0)
        self.assertTrue(self.exists(name + ".gz"))
        self.assertOutcome(self.run_zpress("-d", name), 0)
        self.assertEqual(self.read(name), b"fits")
        gz_name = self.make_path(1023, gzip_member(b"fits too"), suffix=".gz", leaf="g")
        self.assertOutcome(self.run_zpress("-d", gz_name), 0)
        self.assertEqual(self.read(gz_name[:-3]), b"fits too")

    def test_longer_names_are_refused(self):
        name = self.make_path(1021, b"too long")
        gz_name = self.make_path(1024, gzip_member(b"x"), suffix=".gz", leaf="g")
        folder = os.path.dirname(self.path(name))
        before = sorted(os.listdir(folder))
        for args, refused in ((["-c", name], name), ([name], name), (["-d", name], name),
                              (["-d", gz_name], gz_name), (["-d", "-c", gz_name], gz_name)):
            with self.subTest(args=args[:-1], length=len(refused)):
                r = self.run_zpress(*args)
                self.assertOutcome(r, 1, stderr=self.msg(refused + ": file name too long"),
                                   stdout=b"")
                self.assertEqual(sorted(os.listdir(folder)), before)


if __name__ == "__main__":
    unittest.main()
