"""Shared helpers of the fault-injection tests of the command line.

The executable under test is named by the environment variable ZPRESS.  Test
data is made here; gzip streams come from Python's gzip module (an independent
writer), .Z streams from the small encoder in fuzz/lzw_stream.py.
"""

import ctypes
import errno
import fcntl
import gzip
import os
import random
import select
import shutil
import subprocess
import sys
import tempfile
import termios
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "fuzz"))
from lzw_stream import lzw_encode  # noqa: E402

ZPRESS = os.environ.get("ZPRESS", "")
if not ZPRESS or not os.access(ZPRESS, os.X_OK):
    raise SystemExit("set ZPRESS to the zpress executable under test")

PAGE = 4096


# ------------------------------------------------------------------ test data

def text_data(size, seed=1):
    """Compressible lines that differ from each other."""
    rnd = random.Random(seed)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"epsilon", b"zeta"]
    out = bytearray()
    line = 0
    while len(out) < size:
        out += b"%08d " % line + b" ".join(rnd.choice(words) for _ in range(6)) + b"\n"
        line += 1
    return bytes(out[:size])


def random_data(size, seed=2):
    """Incompressible bytes: compressed output as large as the input."""
    return random.Random(seed).randbytes(size)


def gzip_of(data):
    return gzip.compress(data, compresslevel=6, mtime=0)


def lzw_of(data):
    return lzw_encode(data)


def write_file(path, data):
    with open(path, "wb") as f:
        f.write(data)


def read_file(path):
    with open(path, "rb") as f:
        return f.read()


# ------------------------------------------------------------------- running

def run(args, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, input=None, cwd=None,
        preexec_fn=None, pass_fds=()):
    """Runs zpress; argv[0] is the path in ZPRESS, which starts each message."""
    return subprocess.run([ZPRESS] + list(args), stdin=None if input is not None else stdin,
                          stdout=stdout, stderr=subprocess.PIPE, input=input, cwd=cwd,
                          preexec_fn=preexec_fn, pass_fds=pass_fds, timeout=120)


def closing(*fds):
    """A preexec_fn that closes the given standard descriptors in the child."""
    def close_them():
        for fd in fds:
            os.close(fd)
    return close_them


class FailureChecks:
    """Mixin for unittest.TestCase: how a failure must look."""

    def assertOneLineFailure(self, result, from_driver=True):
        """Status 1 and one line on standard error (plus the empty line that
        some messages carry).  Driver messages start with the program name;
        perror() reports start with what failed."""
        self.assertEqual(result.returncode, 1, result.stderr)
        err = result.stderr.decode(errors="replace")
        self.assertRegex(err, r"\A[^\n]+\n\n?\Z", "not one line: %r" % err)
        if from_driver:
            self.assertTrue(err.startswith(ZPRESS + ": "), err)

    def assertDiedOfSigpipeOrFailed(self, returncode, stderr):
        """The default action of SIGPIPE ends the process; if it does not
        (the signal is ignored), the write error is a reported failure."""
        self.assertIn(returncode, (-13, 1), stderr)
        if returncode == 1:
            self.assertRegex(stderr.decode(errors="replace"), r"\A[^\n]+\n\n?\Z")


# ------------------------------------------------------------ small tmpfs

_CLONE_NEWNS = 0x00020000
_namespace_ready = None


def private_mount_namespace():
    """Moves this process into a mount namespace of its own (once), so that
    the tmpfs mounts below are seen by it and its children only and vanish
    with it.  Returns None, or the reason why that is not possible."""
    global _namespace_ready
    if _namespace_ready is None:
        _namespace_ready = _enter_namespace()
    return _namespace_ready


def _enter_namespace():
    if os.geteuid() != 0:
        return "mounting a tmpfs needs root"
    if shutil.which("mount") is None or shutil.which("umount") is None:
        return "mount(8) is not installed"
    libc = ctypes.CDLL(None, use_errno=True)
    if libc.unshare(_CLONE_NEWNS) != 0:
        return "unshare(CLONE_NEWNS) failed: %s" % os.strerror(ctypes.get_errno())
    done = subprocess.run(["mount", "--make-rprivate", "/"], capture_output=True)
    if done.returncode != 0:
        return "mount --make-rprivate / failed: %s" % done.stderr.decode(errors="replace")
    return None


class SmallDisk:
    """A tmpfs of `pages` pages mounted on a new directory, for a test to fill
    up.  Use as a context manager."""

    def __init__(self, pages):
        self.pages = pages
        self.path = None

    def __enter__(self):
        self.path = tempfile.mkdtemp(prefix="zpress-faults-")
        subprocess.run(["mount", "-t", "tmpfs", "-o", "size=%d" % (self.pages * PAGE), "tmpfs",
                        self.path], check=True, capture_output=True)
        return self

    def __exit__(self, *exc):
        subprocess.run(["umount", "-l", self.path], capture_output=True)
        os.rmdir(self.path)

    def file(self, name):
        return os.path.join(self.path, name)

    def leave_free(self, pages):
        """Fills the disk so that exactly `pages` pages stay free."""
        filler = self.file("filler")
        block = b"\0" * PAGE
        fd = os.open(filler, os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
        try:
            while True:
                os.write(fd, block)
        except OSError as e:
            if e.errno != errno.ENOSPC:
                raise
        finally:
            os.close(fd)
        size = os.path.getsize(filler) // PAGE * PAGE
        os.truncate(filler, max(0, size - pages * PAGE))
        stat = os.statvfs(self.path)
        assert stat.f_bavail * stat.f_frsize == pages * PAGE, (stat.f_bavail, pages)


# ------------------------------------------------------------- slow pipes

def pipe_fill_level(fd):
    return int.from_bytes(fcntl.ioctl(fd, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)


def feed_in_pieces(write_fd, data, piece_sizes):
    """Writes `data` to a pipe one piece at a time, each only once the reader
    has taken everything before it, so that every read() the reader makes
    returns at most one piece.  Closes the pipe at the end."""
    reader_gone = select.poll()
    reader_gone.register(write_fd, select.POLLERR)
    try:
        at = 0
        sizes = iter(piece_sizes)
        while at < len(data):
            while pipe_fill_level(write_fd) > 0:
                if reader_gone.poll(0):
                    return  # the reader stopped early; let it report why
                time.sleep(0.00005)
            n = next(sizes)
            os.write(write_fd, data[at:at + n])
            at += n
    except BrokenPipeError:
        pass
    finally:
        os.close(write_fd)


def run_with_sliced_stdin(args, data, piece_sizes):
    """Runs zpress with standard input a pipe fed piece by piece."""
    read_fd, write_fd = os.pipe()
    proc = subprocess.Popen([ZPRESS] + list(args), stdin=read_fd, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE)
    os.close(read_fd)
    feeder = threading.Thread(target=feed_in_pieces, args=(write_fd, data, piece_sizes))
    feeder.start()
    try:
        out, err = proc.communicate(timeout=120)
    finally:
        if proc.poll() is None:
            proc.kill()  # a hung reader; the feeder sees it go and stops
            proc.wait()
        feeder.join()
    return subprocess.CompletedProcess(proc.args, proc.returncode, out, err)


def main():
    unittest.main(verbosity=2)
