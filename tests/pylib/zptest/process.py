"""The executable under test, named by the environment variable ZPRESS, and
the helpers that start it and wait for it without ever hanging a test."""

import errno
import os
import signal
import subprocess
import time

ZPRESS = os.path.abspath(os.environ["ZPRESS"]) if os.environ.get("ZPRESS") else ""
TIMEOUT = 120  # generous: sanitizer builds are slow, but nothing should hang


def require_zpress():
    if not ZPRESS or not os.access(ZPRESS, os.X_OK):
        raise RuntimeError("set ZPRESS to the built zpress executable")


def unblock_signals():
    """A preexec_fn: signals a test sends are never held back by a mask
    inherited from whatever runs the test."""
    signal.pthread_sigmask(signal.SIG_SETMASK, [])


def closing(*fds):
    """A preexec_fn that closes the given standard descriptors in the child."""
    def close_them():
        for fd in fds:
            os.close(fd)
    return close_them


def reap(child):
    """Kills a started child that still runs, and closes its pipes."""
    if child.poll() is None:
        child.kill()
    child.wait()
    for pipe in (child.stdin, child.stdout, child.stderr):
        if pipe is not None:
            pipe.close()


def finish(child):
    """Waits for a started child: a CompletedProcess-like result."""
    out, err = child.communicate(timeout=TIMEOUT)
    return subprocess.CompletedProcess(child.args, child.returncode, out, err)


def wait_until(predicate, timeout=TIMEOUT, what="condition"):
    """Polls predicate every few milliseconds; fails after timeout."""
    deadline = time.monotonic() + timeout
    delay = 0.001
    while not predicate():
        if time.monotonic() > deadline:
            raise AssertionError("timed out waiting for " + what)
        time.sleep(delay)
        delay = min(delay * 2, 0.02)


def stop_when(child, predicate, what):
    """Stops `child` with SIGSTOP as soon as predicate() holds, polling every
    millisecond, and waits until it is stopped: the test can then change
    things while the child is held in the middle of its work.  The caller
    resumes it with SIGCONT (or ends it).  For a child that stays at least a
    few milliseconds in the state the predicate looks for."""
    while not predicate():
        if child.poll() is not None:
            raise AssertionError("child ended (status %r) before %s" % (child.returncode, what))
        time.sleep(0.001)
    child.send_signal(signal.SIGSTOP)

    def stopped():
        with open("/proc/%d/stat" % child.pid) as f:
            return f.read().rsplit(")", 1)[1].split()[0] == "T"

    wait_until(stopped, what="the stop of the child")


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
