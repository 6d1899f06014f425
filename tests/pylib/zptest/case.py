"""The base class of the tests that run the executable: each test gets a
fresh private directory, and the checks of how a run must end."""

import os
import shutil
import subprocess
import tempfile
import unittest

from zptest.process import TIMEOUT, ZPRESS, reap, require_zpress, unblock_signals, finish


class ZpressTestCase(unittest.TestCase):
    """Runs the executable in a fresh private directory per test."""

    @classmethod
    def setUpClass(cls):
        require_zpress()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="zpress-test-")
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

    # ------------------------------------------------------ the directory

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
        """Writes a file of the test directory (or an absolute path)."""
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

    # ---------------------------------------------------------- running

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

    def start_zpress(self, *args, stdin=subprocess.DEVNULL, **kwargs):
        """Starts the executable in the test directory; stdout and stderr are
        pipes.  The caller waits for it (finish()); the test kills it if it
        still runs at the end.  Signals the test sends are not masked."""
        kwargs.setdefault("preexec_fn", unblock_signals)
        child = subprocess.Popen([self.prog, *args], executable=ZPRESS, cwd=self.dir,
                                 stdin=stdin, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE, **kwargs)
        self.addCleanup(reap, child)
        return child

    finish = staticmethod(finish)

    # ------------------------------------------- the unprivileged user

    NOBODY = 65534  # its user and group ids

    def prepare_to_run_as_nobody(self):
        """Skips the test unless it runs as root (which can give files away).
        Makes the directory reachable and copies the executable into it: the
        build tree may lie where the unprivileged user can't reach."""
        if os.geteuid() != 0:
            self.skipTest("needs root to give files to another user")
        os.chmod(self.dir, 0o755)
        self.executable = self.path("zpress-copy")
        shutil.copy2(ZPRESS, self.executable)

    def run_as_nobody(self, *args, groups=()):
        """Runs the copy as the unprivileged user, in the given groups only,
        with umask 022."""
        def drop_privileges():
            os.setgroups(list(groups))
            os.setgid(self.NOBODY)
            os.setuid(self.NOBODY)
            os.umask(0o022)

        return self.run_zpress(*args, executable=self.executable, preexec_fn=drop_privileges)

    # ----------------------------------------------------------- checks

    def msg(self, text):
        """A diagnostic line as the driver prints it: program name first."""
        return ("%s: %s\n" % (self.prog, text)).encode()

    def assertOutcome(self, result, status, stderr=b"", stdout=None):
        """Checks exit status and the exact diagnostics (and stdout if given)."""
        details = "status %r, stderr %r" % (result.returncode, result.stderr)
        self.assertEqual(result.returncode, status, details)
        self.assertEqual(result.stderr, stderr, details)
        if stdout is not None:
            self.assertEqual(result.stdout, stdout)

    def assertOneLineFailure(self, result, from_driver=True):
        """Status 1 and one line on standard error (plus the empty line that
        some messages carry).  Driver messages start with the program name;
        perror() reports start with what failed."""
        self.assertEqual(result.returncode, 1, result.stderr)
        err = result.stderr.decode(errors="replace")
        self.assertRegex(err, r"\A[^\n]+\n\n?\Z", "not one line: %r" % err)
        if from_driver:
            self.assertTrue(err.startswith(self.prog + ": "), err)

    def assertDiedOfSigpipeOrFailed(self, result):
        """The default action of SIGPIPE ends the process; if it does not
        (the signal is ignored), the write error is a reported failure."""
        self.assertIn(result.returncode, (-13, 1), result.stderr)
        if result.returncode == 1:
            self.assertOneLineFailure(result)
