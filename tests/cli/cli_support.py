"""Shared helpers of the command-line tests: running the executable in a
private directory, and reading and building gzip members independently of
the code under test (Python's zlib is the oracle)."""

import errno
import fcntl
import os
import shutil
import signal
import struct
import subprocess
import tempfile
import termios
import threading
import time
import unittest
import zlib

ZPRESS = os.path.abspath(os.environ.get("ZPRESS", ""))
TIMEOUT = 60  # generous: sanitizer builds are slow, but nothing should hang

# The header our compressor writes before a stream on standard output:
# magic, deflate, FNAME only, MTIME 0, XFL 0, OS Unix, then "<fd:1>\0".
FD1_HEADER = bytes.fromhex("1f8b0808000000000003") + b"<fd:1>\x00"


def sample_text(size, seed=1):
    """Compressible, level-sensitive text: words drawn from a small
    vocabulary by a fixed pseudo-random sequence."""
    words = [b"alpha", b"beta", b"gamma", b"delta", b"epsilon", b"zeta", b"eta",
             b"theta", b"iota", b"kappa", b"lambda", b"mu", b"\n", b"0123456789"]
    state = seed
    out = bytearray()
    while len(out) < size:
        state = (state * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[(state >> 16) % len(words)]
        out += b" "
    return bytes(out[:size])


def random_bytes(size, seed=7):
    """Incompressible bytes from a fixed pseudo-random sequence."""
    state = seed
    out = bytearray(size)
    for i in range(size):
        state = (state * 6364136223846793005 + 1442695040888963407) & (2**64 - 1)
        out[i] = state >> 56
    return bytes(out)


def raw_deflate(data, level=6):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 8, zlib.Z_DEFAULT_STRATEGY)
    return c.compress(data) + c.flush()


def gzip_member(data, level=6, flags=0, name=None, comment=None, extra=None,
                header_crc=False, crc=None, isize=None, mtime=0):
    """One gzip member built by hand, so that tests can set every header field
    and damage the trailer."""
    flg = flags
    if extra is not None:
        flg |= 0x04
    if name is not None:
        flg |= 0x08
    if comment is not None:
        flg |= 0x10
    if header_crc:
        flg |= 0x02
    head = bytearray(b"\x1f\x8b\x08")
    head.append(flg)
    head += struct.pack("<I", mtime) + b"\x00\x03"
    if extra is not None:
        head += struct.pack("<H", len(extra)) + extra
    if name is not None:
        head += name + b"\x00"
    if comment is not None:
        head += comment + b"\x00"
    if header_crc:
        head += struct.pack("<H", zlib.crc32(head) & 0xFFFF)
    if crc is None:
        crc = zlib.crc32(data)
    if isize is None:
        isize = len(data) & 0xFFFFFFFF
    return bytes(head) + raw_deflate(data, level) + struct.pack("<II", crc, isize)


def split_members(stream):
    """Parses a gzip stream member by member.  Each member is a dict with the
    header fields, the raw deflate bytes, the inflated data and the trailer."""
    members = []
    pos = 0
    while pos < len(stream):
        if stream[pos:pos + 2] != b"\x1f\x8b":
            raise ValueError("no gzip magic at offset %d" % pos)
        cm, flg = stream[pos + 2], stream[pos + 3]
        mtime, xfl, osb = struct.unpack("<IBB", stream[pos + 4:pos + 10])
        p = pos + 10
        name = None
        if flg & 0x04:
            (xlen,) = struct.unpack("<H", stream[p:p + 2])
            p += 2 + xlen
        if flg & 0x08:
            end = stream.index(b"\x00", p)
            name = stream[p:end]
            p = end + 1
        if flg & 0x10:
            p = stream.index(b"\x00", p) + 1
        if flg & 0x02:
            p += 2
        d = zlib.decompressobj(-15)
        data = d.decompress(stream[p:])
        if not d.eof:
            raise ValueError("deflate data cut off")
        end = len(stream) - len(d.unused_data)
        crc, isize = struct.unpack("<II", stream[end:end + 8])
        members.append({"cm": cm, "flags": flg, "mtime": mtime, "xfl": xfl, "os": osb,
                        "name": name, "header": stream[pos:p], "deflate": stream[p:end],
                        "data": data, "crc": crc, "isize": isize})
        pos = end + 8
    return members


def _unblock_signals():
    signal.pthread_sigmask(signal.SIG_SETMASK, [])


class CliTestCase(unittest.TestCase):
    """Each test runs the executable in a fresh private directory."""

    @classmethod
    def setUpClass(cls):
        if not os.environ.get("ZPRESS") or not os.access(ZPRESS, os.X_OK):
            raise RuntimeError("set ZPRESS to the built zpress executable")

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zpress-cli-")
        self.addCleanup(self._remove_dir)
        self.prog = ZPRESS

    def _remove_dir(self):
        # Tests make read-only or sticky directories; make them removable.
        for root, dirs, _ in os.walk(self.dir):
            for d in dirs:
                if os.path.islink(os.path.join(root, d)):
                    continue  # a link to a directory: its target is walked as such
                try:
                    os.chmod(os.path.join(root, d), 0o755)
                except OSError:
                    pass
        shutil.rmtree(self.dir, ignore_errors=True)

    def clear(self):
        """Empties the test directory, so that subtests start afresh."""
        for entry in os.scandir(self.dir):
            if entry.is_dir(follow_symlinks=False):
                shutil.rmtree(entry.path)
            else:
                os.unlink(entry.path)

    def path(self, name):
        return os.path.join(self.dir, name)

    def write(self, name, data, mode=None):
        with open(self.path(name), "wb") as f:
            f.write(data)
        if mode is not None:
            os.chmod(self.path(name), mode)

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()

    def exists(self, name):
        return os.path.lexists(self.path(name))

    def listing(self):
        return sorted(os.listdir(self.dir))

    def run_zpress(self, *args, input=b"", prog=None, stdout=subprocess.PIPE,
                   stdin=None, executable=ZPRESS, **kwargs):
        """Runs the executable with argv[0] = prog (default: its absolute
        path) in the test directory.  Returns the CompletedProcess."""
        argv0 = self.prog if prog is None else prog
        if stdin is not None:
            input = None
        return subprocess.run([argv0, *args], executable=executable, cwd=self.dir, input=input,
                              stdin=stdin, stdout=stdout, stderr=subprocess.PIPE,
                              timeout=TIMEOUT, **kwargs)

    def start_zpress(self, *args, **kwargs):
        """Starts the executable in the test directory; stdout and stderr are
        pipes.  The caller waits for it (finish()).  Signals the test sends
        are never held back by a mask inherited from whatever runs the test."""
        kwargs.setdefault("preexec_fn", _unblock_signals)
        child = subprocess.Popen([self.prog, *args], executable=ZPRESS, cwd=self.dir,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, **kwargs)
        self.addCleanup(self._reap, child)
        return child

    @staticmethod
    def _reap(child):
        if child.poll() is None:
            child.kill()
        child.wait()
        for pipe in (child.stdin, child.stdout, child.stderr):
            if pipe is not None:
                pipe.close()

    @staticmethod
    def finish(child):
        """Waits for a started child: a CompletedProcess-like result."""
        out, err = child.communicate(timeout=TIMEOUT)
        return subprocess.CompletedProcess(child.args, child.returncode, out, err)

    def assertOutcome(self, result, status, stderr=b"", stdout=None):
        """Checks exit status and the exact diagnostics (and stdout if given)."""
        details = "status %r, stderr %r" % (result.returncode, result.stderr)
        self.assertEqual(result.returncode, status, details)
        self.assertEqual(result.stderr, stderr, details)
        if stdout is not None:
            self.assertEqual(result.stdout, stdout)

    def msg(self, text):
        """A diagnostic line as the driver prints it: program name first."""
        return ("%s: %s\n" % (self.prog, text)).encode()


def open_fifo_for_writing(path, child):
    """Opens the write end of a FIFO once `child` has opened its read end.
    Polls without blocking, so that a child that never opens it fails the
    test instead of hanging it."""
    def try_open():
        nonlocal fd
        try:
            fd = os.open(path, os.O_WRONLY | os.O_NONBLOCK)
        except OSError as e:
            if e.errno != errno.ENXIO:
                raise
            if child.poll() is not None:
                raise AssertionError("child ended (status %r) before opening %s"
                                     % (child.returncode, path))
            return False
        os.set_blocking(fd, True)
        return True

    fd = None
    wait_until(try_open, what="the reader of " + path)
    return fd


def wait_until(predicate, timeout=TIMEOUT, what="condition"):
    """Polls predicate every few milliseconds; fails after timeout."""
    deadline = time.monotonic() + timeout
    delay = 0.001
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(delay)
        delay = min(delay * 2, 0.02)


def _blocked_reading(pid):
    """True when the process sleeps in a pipe read (as far as /proc tells)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        with open("/proc/%d/wchan" % pid) as f:
            wchan = f.read()
    except OSError:
        return True
    return state == "S" and ("pipe" in wchan or wchan in ("", "0"))


def _wait_for_reader(child, fd, timeout=2.0):
    """Waits until the child has taken everything from the pipe and sleeps
    reading it again, so that the next write reaches it as a piece of its
    own.  Gives up quietly after the timeout: pacing only."""
    deadline = time.monotonic() + timeout
    while child.poll() is None and time.monotonic() < deadline:
        pending = struct.unpack("i", fcntl.ioctl(fd, termios.FIONREAD, b"\0" * 4))[0]
        if pending == 0 and _blocked_reading(child.pid):
            return
        time.sleep(0.0005)


def feed_slowly(test, stream, pieces):
    """Runs "zpress -d" and writes `stream` to its standard input in pieces of
    the given sizes (then the rest), each one only once the child has read
    the previous one and waits for more.  Returns (status, stdout, stderr)."""
    child = subprocess.Popen([test.prog, "-d"], executable=ZPRESS, cwd=test.dir,
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    test.addCleanup(test._reap, child)
    results = {}

    def drain(name, pipe):
        results[name] = pipe.read()

    readers = [threading.Thread(target=drain, args=("out", child.stdout)),
               threading.Thread(target=drain, args=("err", child.stderr))]
    for t in readers:
        t.start()
    fd = child.stdin.fileno()
    try:
        pos = 0
        for size in pieces + [len(stream)]:
            _wait_for_reader(child, fd)
            os.write(fd, stream[pos:pos + size])
            pos += size
        child.stdin.close()
    except BrokenPipeError:
        pass  # the child gave up early; its status tells why
    status = child.wait(TIMEOUT)
    for t in readers:
        t.join(TIMEOUT)
    return status, results["out"], results["err"]
