"""File jobs in directories that others can write to: the names of a job may
change while it runs.  A FIFO as input holds a job in its copy (or in the open
of its input) until the test has changed the names, so every race here is
set up deterministically.

- A directory of the path swapped for a symbolic link: the output still lands
  in the original directory and nothing is created or removed elsewhere.
- The input replaced by a new file: the new file stays.
- The input written to after its job opened it: it stays, with the new data.
- The output removed or replaced: the input stays and the job fails.
- Devices and sockets are refused before anything is created or removed.
- Owners and groups: the output never becomes readable by someone who could
  not read the input, and the input's owner keeps access."""

import gzip
import os
import signal
import socket
import stat
import unittest

from zptest.case import ZpressTestCase
from zptest.data import random_bytes, sample_text
from zptest.gzip_members import gzip_member
from zptest.process import open_fifo_for_writing, stop_when, wait_until

DATA = sample_text(60000)
COMPRESSED = gzip_member(random_bytes(60000))

# (arguments before the name, input entry, output entry, bytes to feed, what
# the output holds when decoded)
COMPRESS = ([], "in", "in.gz", DATA)
DECOMPRESS = (["-d"], "in.gz", "in", COMPRESSED)


def decoded(kind, content):
    return gzip.decompress(content) if kind is COMPRESS else content


def expected_data(kind):
    return DATA if kind is COMPRESS else gzip.decompress(COMPRESSED)


class RacingJob(ZpressTestCase):
    def setUp(self):
        super().setUp()
        os.mkdir(self.path("sub"))
        os.mkdir(self.path("protected"))

    def start_on_fifo(self, args, entry, folder="sub"):
        os.mkfifo(self.path(os.path.join(folder, entry)))
        return self.start_zpress(*args, os.path.join(folder, entry))

    def holds_directory(self, child, folder):
        """True once the job holds a descriptor of `folder`."""
        target = os.path.realpath(self.path(folder))
        fd_dir = "/proc/%d/fd" % child.pid
        try:
            for fd in os.listdir(fd_dir):
                try:
                    if os.readlink(os.path.join(fd_dir, fd)) == target:
                        return True
                except OSError:
                    pass
        except OSError:
            pass
        return False

    def swap_sub_for_link(self):
        os.rename(self.path("sub"), self.path("moved"))
        os.symlink("protected", self.path("sub"))

    def feed(self, fd, data, then=None):
        """Writes the first part, runs `then` while the job is in its copy,
        writes the rest and closes."""
        with open(fd, "wb") as w:
            w.write(data[:20000])
            w.flush()
            if then is not None:
                then()
            w.write(data[20000:])


class DirectorySwap(RacingJob):
    def test_swap_while_the_input_is_opened(self):
        # The job has taken its directory and waits in the open of the FIFO;
        # only then does the path lead elsewhere.
        for kind in (COMPRESS, DECOMPRESS):
            args, inname, outname, data = kind
            with self.subTest(args=args):
                self.clear()
                os.mkdir(self.path("sub"))
                os.mkdir(self.path("protected"))
                self.write("protected/" + inname, b"victim")
                child = self.start_on_fifo(args, inname)
                wait_until(lambda: self.holds_directory(child, "sub") or child.poll() is not None,
                           what="the job's directory")
                self.swap_sub_for_link()
                fd = open_fifo_for_writing(self.path("moved/" + inname), child)
                self.feed(fd, data)
                self.assertOutcome(self.finish(child), 0, stdout=b"")
                self.assertEqual(os.listdir(self.path("protected")), [inname])
                self.assertEqual(self.read("protected/" + inname), b"victim")
                self.assertEqual(os.listdir(self.path("moved")), [outname])
                self.assertEqual(decoded(kind, self.read("moved/" + outname)),
                                 expected_data(kind))

    def test_swap_during_the_copy(self):
        for kind in (COMPRESS, DECOMPRESS):
            args, inname, outname, data = kind
            for to_stdout in (False, True):
                with self.subTest(args=args, to_stdout=to_stdout):
                    self.clear()
                    os.mkdir(self.path("sub"))
                    os.mkdir(self.path("protected"))
                    self.write("protected/" + inname, b"victim")
                    child = self.start_on_fifo((["-c"] if to_stdout else []) + args, inname)
                    fd = open_fifo_for_writing(self.path("sub/" + inname), child)
                    if to_stdout:
                        # Standard output is a pipe: the first block shows up
                        # there only once it has been read, and is not waited
                        # for; a closed FIFO would end the job too soon.
                        self.feed(fd, data, then=self.swap_sub_for_link)
                    else:
                        self.feed(fd, data, then=lambda: (
                            wait_until(lambda: self.exists("sub/" + outname), what=outname),
                            self.swap_sub_for_link()))
                    r = self.finish(child)
                    self.assertOutcome(r, 0)
                    self.assertEqual(os.listdir(self.path("protected")), [inname])
                    self.assertEqual(self.read("protected/" + inname), b"victim")
                    if to_stdout:
                        self.assertEqual(decoded(kind, r.stdout), expected_data(kind))
                        self.assertEqual(os.listdir(self.path("moved")), [inname])
                    else:
                        self.assertEqual(os.listdir(self.path("moved")), [outname])
                        self.assertEqual(decoded(kind, self.read("moved/" + outname)),
                                         expected_data(kind))


class NameReuse(RacingJob):
    def test_replaced_input_stays(self):
        for kind in (COMPRESS, DECOMPRESS):
            args, inname, outname, data = kind
            with self.subTest(args=args):
                self.clear()

                def replace_input():
                    wait_until(lambda: self.exists(outname), what=outname)
                    os.unlink(self.path(inname))
                    self.write(inname, b"a new file under the old name")

                os.mkfifo(self.path(inname))
                child = self.start_zpress(*args, inname)
                self.feed(open_fifo_for_writing(self.path(inname), child), data, replace_input)
                self.assertOutcome(self.finish(child), 0, stdout=b"",
                                   stderr=self.msg("can't unlink " + inname))
                self.assertEqual(self.read(inname), b"a new file under the old name")
                self.assertEqual(decoded(kind, self.read(outname)), expected_data(kind))

    def test_links_the_run_removes_are_no_change(self):
        # Removing another name of an input moves its status-change time.
        for args, names in ((["a", "b"], ["a", "b"]), (["-f", "a"], ["a", "a.gz"])):
            with self.subTest(args=args):
                self.clear()
                self.write("a", DATA)
                os.link(self.path("a"), self.path(names[1]))
                self.assertOutcome(self.run_zpress(*args), 0)
                self.assertEqual(self.listing(), sorted(n + ".gz" for n in args if n != "-f"))
                for name in self.listing():
                    self.assertEqual(gzip.decompress(self.read(name)), DATA)

    def test_input_written_to_after_its_job_is_kept(self):
        # The first job is finished and waits for the removal of its input
        # while a long second job (zeros of a sparse file) runs; then
        # something appends to the first input, and the run ends by itself
        # or by a signal.
        for ending in (signal.SIGCONT, signal.SIGTERM):
            with self.subTest(ending=ending.name):
                self.clear()
                self.write("a", DATA)
                self.write("long", b"")
                os.truncate(self.path("long"), 64 << 20)
                child = self.start_zpress("a", "long")
                stop_when(child, lambda: self.exists("long.gz"), "the long job")
                with open(self.path("a"), "r+b") as f:
                    f.seek(0, os.SEEK_END)
                    f.write(b"appended")
                child.send_signal(ending)
                child.send_signal(signal.SIGCONT)
                self.assertOutcome(self.finish(child), 1, stdout=b"",
                                   stderr=self.msg("a changed after it was opened; input kept"))
                self.assertEqual(self.read("a"), DATA + b"appended")
                self.assertEqual(gzip.decompress(self.read("a.gz")), DATA)

    def test_lost_output_keeps_the_input(self):
        for kind in (COMPRESS, DECOMPRESS):
            args, inname, outname, data = kind
            for replacement in (None, b"someone else's file"):
                with self.subTest(args=args, replaced=replacement is not None):
                    self.clear()

                    def take_output():
                        wait_until(lambda: self.exists(outname), what=outname)
                        os.unlink(self.path(outname))
                        if replacement is not None:
                            self.write(outname, replacement)

                    os.mkfifo(self.path(inname))
                    child = self.start_zpress(*args, inname)
                    self.feed(open_fifo_for_writing(self.path(inname), child), data, take_output)
                    r = self.finish(child)
                    self.assertEqual(r.returncode, 1, r.stderr)
                    self.assertTrue(r.stderr.startswith(self.msg(outname)[:-1]), r.stderr)
                    self.assertEqual(r.stderr.count(b"\n"), 1, r.stderr)
                    self.assertTrue(stat.S_ISFIFO(os.lstat(self.path(inname)).st_mode))
                    if replacement is None:
                        self.assertFalse(self.exists(outname))
                    else:
                        self.assertEqual(self.read(outname), replacement)
    def test_signal_leaves_a_replaced_output_alone(self):
        os.mkfifo(self.path("in"))
        child = self.start_zpress("in")
        fd = open_fifo_for_writing(self.path("in"), child)
        try:
            wait_until(lambda: self.exists("in.gz"), what="in.gz")
            os.unlink(self.path("in.gz"))
            self.write("in.gz", b"someone else's file")
            child.send_signal(signal.SIGTERM)
            self.assertOutcome(self.finish(child), 1, stdout=b"")
        finally:
            os.close(fd)
        self.assertEqual(self.read("in.gz"), b"someone else's file")



class RefusedInputs(ZpressTestCase):
    def test_symbolic_link_to_a_file_works_as_before(self):
        # The link is the entry that was opened: it goes, its target stays.
        self.write("target", DATA)
        os.symlink("target", self.path("link"))
        self.assertOutcome(self.run_zpress("link"), 0)
        self.assertEqual(self.listing(), ["link.gz", "target"])
        self.assertEqual(gzip.decompress(self.read("link.gz")), DATA)

    def check_refused(self, make, entry, args):
        for extra in ([], ["-c"], ["-f"]):
            with self.subTest(args=extra + args):
                self.clear()
                make(self.path(entry))
                before = self.listing()
                r = self.run_zpress(*extra, *args)
                self.assertOutcome(r, 1, stdout=b"", stderr=self.msg(
                    entry + " is a device or a socket, not a file"))
                self.assertEqual(self.listing(), before)

    def test_character_device(self):
        if os.geteuid() != 0:
            self.skipTest("mknod needs root")

        def make(path):
            os.mknod(path, stat.S_IFCHR | 0o666, os.makedev(1, 3))  # like /dev/null

        self.check_refused(make, "nul", ["nul"])
        self.check_refused(make, "nul.gz", ["-d", "nul"])
        self.assertTrue(stat.S_ISCHR(os.lstat(self.path("nul.gz")).st_mode))

    def test_symbolic_link_to_a_device(self):
        self.check_refused(lambda path: os.symlink("/dev/null", path), "null", ["null"])
        self.assertEqual(os.readlink(self.path("null")), "/dev/null")

    def test_socket(self):
        def make(path):
            s = socket.socket(socket.AF_UNIX)
            s.bind(path)
            self.addCleanup(s.close)

        self.check_refused(make, "sock", ["sock"])
        self.check_refused(make, "sock.gz", ["-d", "sock.gz"])


class Ownership(ZpressTestCase):
    """The output's owner, group and mode follow the input's."""

    def setUp(self):
        super().setUp()
        self.prepare_to_run_as_nobody()
        os.mkdir(self.path("home"))
        os.chown(self.path("home"), self.NOBODY, self.NOBODY)

    def owner(self, name):
        st = os.lstat(self.path(name))
        return st.st_uid, st.st_gid, oct(stat.S_IMODE(st.st_mode))

    def test_root_keeps_the_owner_and_group(self):
        self.write("f", DATA, mode=0o640)
        os.chown(self.path("f"), self.NOBODY, self.NOBODY)
        self.assertOutcome(self.run_zpress("f", preexec_fn=lambda: os.umask(0o022)), 0)
        self.assertEqual(self.owner("f.gz"), (self.NOBODY, self.NOBODY, oct(0o640)))
        self.assertOutcome(self.run_zpress("-d", "f", preexec_fn=lambda: os.umask(0o022)), 0)
        self.assertEqual(self.owner("f"), (self.NOBODY, self.NOBODY, oct(0o640)))
        self.assertEqual(self.read("f"), DATA)

    def test_user_on_its_own_file(self):
        self.write("home/f", DATA, mode=0o640)
        os.chown(self.path("home/f"), self.NOBODY, self.NOBODY)
        self.assertOutcome(self.run_as_nobody("home/f"), 0)
        self.assertEqual(os.listdir(self.path("home")), ["f.gz"])
        self.assertEqual(self.owner("home/f.gz"), (self.NOBODY, self.NOBODY, oct(0o640)))
        self.assertOutcome(self.run_as_nobody("-d", "home/f.gz"), 0)
        self.assertEqual(self.owner("home/f"), (self.NOBODY, self.NOBODY, oct(0o640)))
        self.assertEqual(self.read("home/f"), DATA)

    def test_user_keeps_the_group_it_may_give(self):
        self.write("home/f", DATA, mode=0o644)
        os.chown(self.path("home/f"), 0, 4242)
        self.assertOutcome(self.run_as_nobody("home/f", groups=[4242]), 0)
        self.assertEqual(self.owner("home/f.gz"), (self.NOBODY, 4242, oct(0o644)))

    def test_user_without_the_group_keeps_the_output_private(self):
        self.write("home/f", DATA, mode=0o644)
        os.chown(self.path("home/f"), 0, 0)
        self.assertOutcome(self.run_as_nobody("home/f"), 0)
        self.assertEqual(self.owner("home/f.gz"), (self.NOBODY, self.NOBODY, oct(0o600)))
        self.assertEqual(gzip.decompress(self.read("home/f.gz")), DATA)


if __name__ == "__main__":
    unittest.main()
