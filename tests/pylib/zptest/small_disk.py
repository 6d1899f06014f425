"""A tiny tmpfs for tests that fill up the output device, mounted in a
private mount namespace so that nobody else sees it."""

import ctypes
import errno
import os
import shutil
import subprocess
import tempfile

PAGE = 4096
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

